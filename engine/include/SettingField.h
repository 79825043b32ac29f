#pragma once

#include "AppSettings.h"

#include <QString>

#include <algorithm>
#include <array>
#include <cstdint>
#include <type_traits>
#include <utility>
#include <variant>

namespace vantro {

// What the signal of a setting of type T carries.
template <typename T>
using SettingSignalValue = std::conditional_t<std::is_same_v<T, QString>, const QString&,
                                              std::conditional_t<std::is_same_v<T, int64_t>, qint64, T>>;

// One of the settings as loading, storing, presets and the main window see
// it. Its name is its member in a preset's "values" object, and "settings."
// followed by it is its store key.
template <typename T>
struct SettingField {
    const char* name;
    T SettingsValues::*field;
    void (AppSettings::*signal)(SettingSignalValue<T>);
    // Brings a value loaded from the store or applied from a preset into
    // range; an assignment keeps what it is given. Null: used as it is.
    T (*repair)(T value) = nullptr;
    // The value of an absent or unreadable key, from the settings loaded
    // before it. Null: the field's default in SettingsValues.
    T (*fallback)(const SettingsValues& loaded) = nullptr;
    // currentCompressionSettings() reads it, so a change sends the job queue
    // fresh settings.
    bool engineReads = true;
    // May be missing or null in a preset's values (it joined the format
    // later), which then keep the field's default.
    bool optionalInPresets = false;
};

namespace settingRepairs {

inline int64_t lossyQuality(int64_t quality)
{
    return std::clamp<int64_t>(quality, 1, 100);
}

inline int64_t sequenceDigits(int64_t digits)
{
    return std::clamp<int64_t>(digits, 0, 5);
}

inline QString customFolderPath(QString path)
{
    return path.isEmpty() ? AppSettings::defaultCustomFolderPath() : path;
}

// A store that only turned resizing on resizes by the longest side.
inline AppSettings::ResizeModeOption resizeMode(const SettingsValues& loaded)
{
    return loaded.resizeEnabled ? AppSettings::ResizeModeOption::maxLongEdge : AppSettings::ResizeModeOption::original;
}

} // namespace settingRepairs

using AnySettingField
    = std::variant<SettingField<AppSettings::CompressionModeOption>, SettingField<AppSettings::OutputModeOption>,
                   SettingField<AppSettings::TargetFormatOption>, SettingField<AppSettings::OriginalFileHandlingOption>,
                   SettingField<AppSettings::RenamingModeOption>, SettingField<AppSettings::SequenceSeparatorOption>,
                   SettingField<AppSettings::ResizeModeOption>, SettingField<int64_t>, SettingField<bool>,
                   SettingField<QString>>;

// Every setting, in the field order of SettingsValues, which is the order a
// preset applies them in. A setting loads after the ones its fallback reads.
inline constexpr auto settingFields = std::to_array<AnySettingField>({
    SettingField{"mode", &SettingsValues::mode, &AppSettings::modeChanged},
    SettingField{"lossyQuality", &SettingsValues::lossyQuality, &AppSettings::lossyQualityChanged,
                 &settingRepairs::lossyQuality},
    SettingField{"outputMode", &SettingsValues::outputMode, &AppSettings::outputModeChanged},
    SettingField{"backupOnInPlace", &SettingsValues::backupOnInPlace, &AppSettings::backupOnInPlaceChanged},
    SettingField{"targetFormat", &SettingsValues::targetFormat, &AppSettings::targetFormatChanged},
    SettingField{"originalFileHandling", &SettingsValues::originalFileHandling,
                 &AppSettings::originalFileHandlingChanged},
    SettingField{"renamingMode", &SettingsValues::renamingMode, &AppSettings::renamingModeChanged},
    SettingField{"renamingBaseName", &SettingsValues::renamingBaseName, &AppSettings::renamingBaseNameChanged},
    SettingField{"renamingPrefix", &SettingsValues::renamingPrefix, &AppSettings::renamingPrefixChanged},
    SettingField{"renamingSuffix", &SettingsValues::renamingSuffix, &AppSettings::renamingSuffixChanged},
    SettingField{"sequenceDigits", &SettingsValues::sequenceDigits, &AppSettings::sequenceDigitsChanged,
                 &settingRepairs::sequenceDigits},
    SettingField{"sequenceSeparatorOption", &SettingsValues::sequenceSeparatorOption,
                 &AppSettings::sequenceSeparatorOptionChanged},
    SettingField{"customFolderPath", &SettingsValues::customFolderPath, &AppSettings::customFolderPathChanged,
                 &settingRepairs::customFolderPath},
    SettingField{"resizeEnabled", &SettingsValues::resizeEnabled, &AppSettings::resizeEnabledChanged},
    SettingField{.name = "resizeMode",
                 .field = &SettingsValues::resizeMode,
                 .signal = &AppSettings::resizeModeChanged,
                 .fallback = &settingRepairs::resizeMode},
    SettingField{"resizeMaxDimensionText", &SettingsValues::resizeMaxDimensionText,
                 &AppSettings::resizeMaxDimensionTextChanged},
    SettingField{"resizeMaxShortEdgeText", &SettingsValues::resizeMaxShortEdgeText,
                 &AppSettings::resizeMaxShortEdgeTextChanged},
    SettingField{"resizeMaxWidthText", &SettingsValues::resizeMaxWidthText, &AppSettings::resizeMaxWidthTextChanged},
    SettingField{"resizeMaxHeightText", &SettingsValues::resizeMaxHeightText, &AppSettings::resizeMaxHeightTextChanged},
    SettingField{"resizeWidthText", &SettingsValues::resizeWidthText, &AppSettings::resizeWidthTextChanged},
    SettingField{"resizeHeightText", &SettingsValues::resizeHeightText, &AppSettings::resizeHeightTextChanged},
    SettingField{"resizePercentageText", &SettingsValues::resizePercentageText,
                 &AppSettings::resizePercentageTextChanged},
    // Read at each intake instead of by the engine.
    SettingField{.name = "askForNameBeforeExport",
                 .field = &SettingsValues::askForNameBeforeExport,
                 .signal = &AppSettings::askForNameBeforeExportChanged,
                 .engineReads = false,
                 .optionalInPresets = true},
});

// Calls `visit` with every entry, typed, in table order.
template <typename Visitor>
void forEachSettingField(Visitor&& visit)
{
    for (const AnySettingField& setting : settingFields)
        std::visit(visit, setting);
}

// Whether `test` holds for every entry; stops at the first that fails.
template <typename Test>
bool everySettingField(Test&& test)
{
    return std::all_of(settingFields.begin(), settingFields.end(),
                       [&test](const AnySettingField& setting) { return std::visit(test, setting); });
}

// The entry of a field; a field the table lacks does not compile.
template <auto field>
consteval const auto& settingField()
{
    using T = std::remove_cvref_t<decltype(std::declval<SettingsValues&>().*field)>;
    // std::get, not get_if: a sanitizer build cannot compare the addresses
    // get_if checks at compile time.
    for (const AnySettingField& setting : settingFields) {
        if (std::holds_alternative<SettingField<T>>(setting) && std::get<SettingField<T>>(setting).field == field)
            return std::get<SettingField<T>>(setting);
    }
    throw "not a setting";
}

} // namespace vantro
