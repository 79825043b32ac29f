#pragma once

#include "CompressionSettings.h"

#include <QObject>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace vantro {

class DefaultsStore;
struct SettingsPreset;
struct SettingsValues;
template <typename T>
struct SettingField;

// The store key of the setting of that name (SettingField.h lists them).
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

    // Loads every setting and the presets from `defaults`, which must outlive
    // this object. Writes nothing to the store and never fails.
    explicit AppSettings(DefaultsStore& defaults, QObject* parent = nullptr);
    ~AppSettings() override;

    DefaultsStore& defaults() const { return m_defaults; }

    // One getter, setter and signal per setting. Everything else about a
    // setting (its field in SettingsValues, key, repairs, presets, whether
    // the engine reads it) comes from its entry in settingFields.
    CompressionModeOption mode() const;
    int64_t lossyQuality() const;
    OutputModeOption outputMode() const;
    bool backupOnInPlace() const;
    TargetFormatOption targetFormat() const;
    OriginalFileHandlingOption originalFileHandling() const;
    RenamingModeOption renamingMode() const;
    const QString& renamingBaseName() const;
    const QString& renamingPrefix() const;
    const QString& renamingSuffix() const;
    bool askForNameBeforeExport() const;
    int64_t sequenceDigits() const;
    SequenceSeparatorOption sequenceSeparatorOption() const;
    const QString& customFolderPath() const;
    bool resizeEnabled() const;
    const QString& resizeMaxDimensionText() const;
    const QString& resizeMaxShortEdgeText() const;
    const QString& resizeMaxWidthText() const;
    const QString& resizeMaxHeightText() const;
    const QString& resizeWidthText() const;
    const QString& resizeHeightText() const;
    const QString& resizePercentageText() const;
    ResizeModeOption resizeMode() const;

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
    // Assigns all 23 settings, after the repairs loading makes (clamped
    // quality and digits, an empty folder path replaced), as one change: each
    // is stored, then each setting's own signal goes out in field order, then
    // one changed(). Every slot sees the preset's values whole.
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
    // property's own signal, and once for a whole preset applied; never while
    // loading.
    void changed();

private:
    // Stores and writes the value without telling anyone.
    template <typename T>
    void store(const SettingField<T>& setting, const T& value);
    // The setting's own signal, with its current value.
    template <typename T>
    void announce(const SettingField<T>& setting);
    template <typename T>
    void assign(const SettingField<T>& setting, const T& value);

    RenamingMode resolvedRenamingMode() const;
    ResizeMode resolvedResize() const;

    DefaultsStore& m_defaults;

    // Behind a pointer: SettingsValues needs the option enumerations above.
    std::unique_ptr<SettingsValues> m_values;

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
    static constexpr std::array<std::string_view, 8> names{"original",  "maxLongEdge", "maxShortEdge", "maxWidth",
                                                           "maxHeight", "width",       "height",       "percentage"};
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
