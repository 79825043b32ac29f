#pragma once

#include "CompressionSettings.h"

#include <QObject>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace vantro {

class DefaultsStore;
struct SettingsPreset;
struct SettingsValues;

// The names of the 23 settings: each is a member of a preset's "values"
// object, and "settings." followed by it is the setting's store key.
namespace settingNames {
inline constexpr char mode[] = "mode";
inline constexpr char lossyQuality[] = "lossyQuality";
inline constexpr char outputMode[] = "outputMode";
inline constexpr char backupOnInPlace[] = "backupOnInPlace";
inline constexpr char targetFormat[] = "targetFormat";
inline constexpr char originalFileHandling[] = "originalFileHandling";
inline constexpr char renamingMode[] = "renamingMode";
inline constexpr char renamingBaseName[] = "renamingBaseName";
inline constexpr char renamingPrefix[] = "renamingPrefix";
inline constexpr char renamingSuffix[] = "renamingSuffix";
inline constexpr char askForNameBeforeExport[] = "askForNameBeforeExport";
inline constexpr char sequenceDigits[] = "sequenceDigits";
inline constexpr char sequenceSeparatorOption[] = "sequenceSeparatorOption";
inline constexpr char customFolderPath[] = "customFolderPath";
inline constexpr char resizeEnabled[] = "resizeEnabled";
inline constexpr char resizeMode[] = "resizeMode";
inline constexpr char resizeMaxDimensionText[] = "resizeMaxDimensionText";
inline constexpr char resizeMaxShortEdgeText[] = "resizeMaxShortEdgeText";
inline constexpr char resizeMaxWidthText[] = "resizeMaxWidthText";
inline constexpr char resizeMaxHeightText[] = "resizeMaxHeightText";
inline constexpr char resizeWidthText[] = "resizeWidthText";
inline constexpr char resizeHeightText[] = "resizeHeightText";
inline constexpr char resizePercentageText[] = "resizePercentageText";
} // namespace settingNames

// The store key of a setting.
QString settingsKey(const char* name);

// Every user setting, loaded once from the store and written through to it at
// each assignment. Loading repairs what is stored (clamps, fallbacks) without
// writing the repairs back; assignment stores exactly what it is given.
// Confined to the GUI thread.
class AppSettings final : public QObject {
    Q_OBJECT

public:
    // The persisted choices. Each case's raw value is its own name (rawValue,
    // optionFromRawValue, allCases below); cases stay in this order.
    enum class CompressionModeOption { lossless, lossy };
    Q_ENUM(CompressionModeOption)
    enum class OutputModeOption { copyAlongside, inPlace, customFolder };
    Q_ENUM(OutputModeOption)
    enum class TargetFormatOption { keepOriginal, webp, jpeg, png };
    Q_ENUM(TargetFormatOption)
    enum class OriginalFileHandlingOption { keep, moveToTrash };
    Q_ENUM(OriginalFileHandlingOption)
    enum class RenamingModeOption { none, sequence, prefixSuffix };
    Q_ENUM(RenamingModeOption)
    enum class SequenceSeparatorOption { none, space, dash, underscore, comma };
    Q_ENUM(SequenceSeparatorOption)
    enum class ResizeModeOption { original, maxLongEdge, maxShortEdge, maxWidth, maxHeight, width, height, percentage };
    Q_ENUM(ResizeModeOption)

    Q_PROPERTY(CompressionModeOption mode READ mode WRITE setMode NOTIFY modeChanged)
    Q_PROPERTY(qint64 lossyQuality READ lossyQuality WRITE setLossyQuality NOTIFY lossyQualityChanged)
    Q_PROPERTY(OutputModeOption outputMode READ outputMode WRITE setOutputMode NOTIFY outputModeChanged)
    Q_PROPERTY(bool backupOnInPlace READ backupOnInPlace WRITE setBackupOnInPlace NOTIFY backupOnInPlaceChanged)
    Q_PROPERTY(TargetFormatOption targetFormat READ targetFormat WRITE setTargetFormat NOTIFY targetFormatChanged)
    Q_PROPERTY(OriginalFileHandlingOption originalFileHandling READ originalFileHandling WRITE
                   setOriginalFileHandling NOTIFY originalFileHandlingChanged)
    Q_PROPERTY(RenamingModeOption renamingMode READ renamingMode WRITE setRenamingMode NOTIFY renamingModeChanged)
    Q_PROPERTY(QString renamingBaseName READ renamingBaseName WRITE setRenamingBaseName NOTIFY
                   renamingBaseNameChanged)
    Q_PROPERTY(QString renamingPrefix READ renamingPrefix WRITE setRenamingPrefix NOTIFY renamingPrefixChanged)
    Q_PROPERTY(QString renamingSuffix READ renamingSuffix WRITE setRenamingSuffix NOTIFY renamingSuffixChanged)
    Q_PROPERTY(bool askForNameBeforeExport READ askForNameBeforeExport WRITE setAskForNameBeforeExport NOTIFY
                   askForNameBeforeExportChanged)
    Q_PROPERTY(qint64 sequenceDigits READ sequenceDigits WRITE setSequenceDigits NOTIFY sequenceDigitsChanged)
    Q_PROPERTY(SequenceSeparatorOption sequenceSeparatorOption READ sequenceSeparatorOption WRITE
                   setSequenceSeparatorOption NOTIFY sequenceSeparatorOptionChanged)
    Q_PROPERTY(QString customFolderPath READ customFolderPath WRITE setCustomFolderPath NOTIFY
                   customFolderPathChanged)
    Q_PROPERTY(bool resizeEnabled READ resizeEnabled WRITE setResizeEnabled NOTIFY resizeEnabledChanged)
    Q_PROPERTY(QString resizeMaxDimensionText READ resizeMaxDimensionText WRITE setResizeMaxDimensionText NOTIFY
                   resizeMaxDimensionTextChanged)
    Q_PROPERTY(QString resizeMaxShortEdgeText READ resizeMaxShortEdgeText WRITE setResizeMaxShortEdgeText NOTIFY
                   resizeMaxShortEdgeTextChanged)
    Q_PROPERTY(QString resizeMaxWidthText READ resizeMaxWidthText WRITE setResizeMaxWidthText NOTIFY
                   resizeMaxWidthTextChanged)
    Q_PROPERTY(QString resizeMaxHeightText READ resizeMaxHeightText WRITE setResizeMaxHeightText NOTIFY
                   resizeMaxHeightTextChanged)
    Q_PROPERTY(QString resizeWidthText READ resizeWidthText WRITE setResizeWidthText NOTIFY resizeWidthTextChanged)
    Q_PROPERTY(QString resizeHeightText READ resizeHeightText WRITE setResizeHeightText NOTIFY
                   resizeHeightTextChanged)
    Q_PROPERTY(QString resizePercentageText READ resizePercentageText WRITE setResizePercentageText NOTIFY
                   resizePercentageTextChanged)
    Q_PROPERTY(ResizeModeOption resizeMode READ resizeMode WRITE setResizeMode NOTIFY resizeModeChanged)

public:
    // Loads every setting and the presets from `defaults`, which must outlive
    // this object. Writes nothing to the store and never fails.
    explicit AppSettings(DefaultsStore& defaults, QObject* parent = nullptr);
    ~AppSettings() override;

    DefaultsStore& defaults() const { return m_defaults; }

    CompressionModeOption mode() const { return m_mode; }
    int64_t lossyQuality() const { return m_lossyQuality; }
    OutputModeOption outputMode() const { return m_outputMode; }
    bool backupOnInPlace() const { return m_backupOnInPlace; }
    TargetFormatOption targetFormat() const { return m_targetFormat; }
    OriginalFileHandlingOption originalFileHandling() const { return m_originalFileHandling; }
    RenamingModeOption renamingMode() const { return m_renamingMode; }
    const QString& renamingBaseName() const { return m_renamingBaseName; }
    const QString& renamingPrefix() const { return m_renamingPrefix; }
    const QString& renamingSuffix() const { return m_renamingSuffix; }
    bool askForNameBeforeExport() const { return m_askForNameBeforeExport; }
    int64_t sequenceDigits() const { return m_sequenceDigits; }
    SequenceSeparatorOption sequenceSeparatorOption() const { return m_sequenceSeparatorOption; }
    const QString& customFolderPath() const { return m_customFolderPath; }
    bool resizeEnabled() const { return m_resizeEnabled; }
    const QString& resizeMaxDimensionText() const { return m_resizeMaxDimensionText; }
    const QString& resizeMaxShortEdgeText() const { return m_resizeMaxShortEdgeText; }
    const QString& resizeMaxWidthText() const { return m_resizeMaxWidthText; }
    const QString& resizeMaxHeightText() const { return m_resizeMaxHeightText; }
    const QString& resizeWidthText() const { return m_resizeWidthText; }
    const QString& resizeHeightText() const { return m_resizeHeightText; }
    const QString& resizePercentageText() const { return m_resizePercentageText; }
    ResizeModeOption resizeMode() const { return m_resizeMode; }

    // Every setter stores the value as given (no clamping, trimming or
    // comparing), writes it under its key and then signals, also when the
    // value is unchanged.
    void setMode(CompressionModeOption value);
    void setLossyQuality(int64_t value);
    void setOutputMode(OutputModeOption value);
    void setBackupOnInPlace(bool value);
    void setTargetFormat(TargetFormatOption value);
    void setOriginalFileHandling(OriginalFileHandlingOption value);
    void setRenamingMode(RenamingModeOption value);
    void setRenamingBaseName(const QString& value);
    void setRenamingPrefix(const QString& value);
    void setRenamingSuffix(const QString& value);
    void setAskForNameBeforeExport(bool value);
    void setSequenceDigits(int64_t value);
    void setSequenceSeparatorOption(SequenceSeparatorOption value);
    void setCustomFolderPath(const QString& value);
    void setResizeEnabled(bool value);
    void setResizeMaxDimensionText(const QString& value);
    void setResizeMaxShortEdgeText(const QString& value);
    void setResizeMaxWidthText(const QString& value);
    void setResizeMaxHeightText(const QString& value);
    void setResizeWidthText(const QString& value);
    void setResizeHeightText(const QString& value);
    void setResizePercentageText(const QString& value);
    void setResizeMode(ResizeModeOption value);

    // customFolderPath as a folder URL, unchecked; made afresh at each call.
    QUrl customFolderURL() const;

    // --- Resolution into engine settings ---

    // The pixel count behind each resize text: 1...20000, else 2000.
    int64_t resolvedResizeMaxDimension() const;
    int64_t resolvedMaxShortEdge() const;
    int64_t resolvedMaxWidth() const;
    int64_t resolvedMaxHeight() const;
    int64_t resolvedWidth() const;
    int64_t resolvedHeight() const;
    // The percentage behind resizePercentageText: 1.0...1000.0, else 100.0.
    double resolvedPercentage() const;

    // original while resizing is off; maxLongEdge when it is on without a
    // chosen option; otherwise resizeMode.
    ResizeModeOption effectiveResizeMode() const;
    // The resize picker: original turns resizing off and keeps resizeMode;
    // any other option is stored in resizeMode before resizing is turned on.
    void selectResizeMode(ResizeModeOption option);
    // The value text of the effective resize option; empty for original, where
    // an assignment is dropped.
    QString resizeValueText() const;
    void setResizeValueText(const QString& text);

    bool renamingIsEffectivelyActive() const;

    // The only place settings become engine settings. In-place output with an
    // effectively active renaming is sent as copy-alongside, since the engine
    // refuses that combination.
    CompressionSettings currentCompressionSettings() const;

    // --- Presets ---

    const std::vector<SettingsPreset>& presets() const { return m_presets; }
    // Stores the list and writes it as one JSON document under
    // "settings.presets" (nothing is written when encoding fails).
    void setPresets(const std::vector<SettingsPreset>& presets);

    // The 23 settings as they stand, unresolved and unclamped.
    SettingsValues currentValues() const;
    // The first preset whose values equal currentValues().
    std::optional<SettingsPreset> activePreset() const;
    // Trims the name; a blank one saves nothing. A preset named alike up to
    // letter case takes the current values and keeps its id, name and place;
    // otherwise a new preset is appended.
    std::optional<SettingsPreset> savePreset(const QString& name);
    // Assigns all 23 settings through their setters in field order, clamping
    // quality and digits and replacing an empty folder path.
    void applyPreset(const SettingsPreset& preset);
    // Removes every preset with this id and writes the list, also when none had it.
    void deletePreset(const QUuid& id);

    // The Desktop folder when it exists, else the home folder; looked up at
    // each call.
    static QString defaultCustomFolderPath();

Q_SIGNALS:
    void modeChanged(CompressionModeOption value);
    void lossyQualityChanged(qint64 value);
    void outputModeChanged(OutputModeOption value);
    void backupOnInPlaceChanged(bool value);
    void targetFormatChanged(TargetFormatOption value);
    void originalFileHandlingChanged(OriginalFileHandlingOption value);
    void renamingModeChanged(RenamingModeOption value);
    void renamingBaseNameChanged(const QString& value);
    void renamingPrefixChanged(const QString& value);
    void renamingSuffixChanged(const QString& value);
    void askForNameBeforeExportChanged(bool value);
    void sequenceDigitsChanged(qint64 value);
    void sequenceSeparatorOptionChanged(SequenceSeparatorOption value);
    void customFolderPathChanged(const QString& value);
    void resizeEnabledChanged(bool value);
    void resizeMaxDimensionTextChanged(const QString& value);
    void resizeMaxShortEdgeTextChanged(const QString& value);
    void resizeMaxWidthTextChanged(const QString& value);
    void resizeMaxHeightTextChanged(const QString& value);
    void resizeWidthTextChanged(const QString& value);
    void resizeHeightTextChanged(const QString& value);
    void resizePercentageTextChanged(const QString& value);
    void resizeModeChanged(ResizeModeOption value);
    void presetsChanged();
    // Once after every assignment of any setting or of the presets, after the
    // property's own signal; never while loading.
    void changed();

private:
    template <typename T, typename Signal>
    void assign(T& member, const T& value, const char* name, Signal signal);

    RenamingMode resolvedRenamingMode() const;
    ResizeMode resolvedResize() const;

    DefaultsStore& m_defaults;

    CompressionModeOption m_mode;
    int64_t m_lossyQuality;
    OutputModeOption m_outputMode;
    bool m_backupOnInPlace;
    TargetFormatOption m_targetFormat;
    OriginalFileHandlingOption m_originalFileHandling;
    RenamingModeOption m_renamingMode;
    QString m_renamingBaseName;
    QString m_renamingPrefix;
    QString m_renamingSuffix;
    bool m_askForNameBeforeExport;
    int64_t m_sequenceDigits;
    SequenceSeparatorOption m_sequenceSeparatorOption;
    QString m_customFolderPath;
    bool m_resizeEnabled;
    QString m_resizeMaxDimensionText;
    QString m_resizeMaxShortEdgeText;
    QString m_resizeMaxWidthText;
    QString m_resizeMaxHeightText;
    QString m_resizeWidthText;
    QString m_resizeHeightText;
    QString m_resizePercentageText;
    ResizeModeOption m_resizeMode;

    std::vector<SettingsPreset> m_presets;
};

// The text a sequence separator puts between the base name and the number.
QString separatorText(AppSettings::SequenceSeparatorOption option);

// The raw values of the option enumerations: each case's own name.
template <typename Option>
struct OptionNames;

template <>
struct OptionNames<AppSettings::CompressionModeOption> {
    static constexpr std::array<std::string_view, 2> names{"lossless", "lossy"};
};
template <>
struct OptionNames<AppSettings::OutputModeOption> {
    static constexpr std::array<std::string_view, 3> names{"copyAlongside", "inPlace", "customFolder"};
};
template <>
struct OptionNames<AppSettings::TargetFormatOption> {
    static constexpr std::array<std::string_view, 4> names{"keepOriginal", "webp", "jpeg", "png"};
};
template <>
struct OptionNames<AppSettings::OriginalFileHandlingOption> {
    static constexpr std::array<std::string_view, 2> names{"keep", "moveToTrash"};
};
template <>
struct OptionNames<AppSettings::RenamingModeOption> {
    static constexpr std::array<std::string_view, 3> names{"none", "sequence", "prefixSuffix"};
};
template <>
struct OptionNames<AppSettings::SequenceSeparatorOption> {
    static constexpr std::array<std::string_view, 5> names{"none", "space", "dash", "underscore", "comma"};
};
template <>
struct OptionNames<AppSettings::ResizeModeOption> {
    static constexpr std::array<std::string_view, 8> names{"original", "maxLongEdge", "maxShortEdge", "maxWidth",
                                                           "maxHeight",  "width",       "height",       "percentage"};
};

template <typename Option>
QString rawValue(Option option)
{
    const std::string_view name = OptionNames<Option>::names.at(static_cast<std::size_t>(option));
    return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
}

// The case whose name equals the text exactly (case-sensitive, untrimmed).
template <typename Option>
std::optional<Option> optionFromRawValue(const QString& text)
{
    const auto& names = OptionNames<Option>::names;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (text == QLatin1StringView(names[i].data(), static_cast<qsizetype>(names[i].size())))
            return static_cast<Option>(i);
    }
    return std::nullopt;
}

// All cases in declaration order (the resize picker's order for ResizeModeOption).
template <typename Option>
constexpr auto allCases()
{
    std::array<Option, OptionNames<Option>::names.size()> cases{};
    for (std::size_t i = 0; i < cases.size(); ++i)
        cases[i] = static_cast<Option>(i);
    return cases;
}

} // namespace vantro

// SettingsValues and SettingsPreset use the option enumerations above, and the
// preset operations above return them; included here so one include serves.
#include "SettingsPreset.h"
