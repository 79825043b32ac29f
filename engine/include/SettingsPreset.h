#pragma once

#include "AppSettings.h"

#include <QByteArray>
#include <QString>
#include <QUuid>

#include <cstdint>
#include <optional>
#include <vector>

namespace vantro {

// The 23 settings as one value, the resize fields as typed texts.
struct SettingsValues {
    AppSettings::CompressionModeOption mode = AppSettings::CompressionModeOption::lossless;
    int64_t lossyQuality = 80;
    AppSettings::OutputModeOption outputMode = AppSettings::OutputModeOption::copyAlongside;
    bool backupOnInPlace = true;
    AppSettings::TargetFormatOption targetFormat = AppSettings::TargetFormatOption::keepOriginal;
    AppSettings::OriginalFileHandlingOption originalFileHandling = AppSettings::OriginalFileHandlingOption::keep;
    AppSettings::RenamingModeOption renamingMode = AppSettings::RenamingModeOption::none;
    QString renamingBaseName;
    QString renamingPrefix;
    QString renamingSuffix;
    int64_t sequenceDigits = 2;
    AppSettings::SequenceSeparatorOption sequenceSeparatorOption = AppSettings::SequenceSeparatorOption::dash;
    QString customFolderPath;
    bool resizeEnabled = false;
    AppSettings::ResizeModeOption resizeMode = AppSettings::ResizeModeOption::original;
    QString resizeMaxDimensionText = QStringLiteral("2000");
    QString resizeMaxShortEdgeText = QStringLiteral("2000");
    QString resizeMaxWidthText = QStringLiteral("2000");
    QString resizeMaxHeightText = QStringLiteral("2000");
    QString resizeWidthText = QStringLiteral("2000");
    QString resizeHeightText = QStringLiteral("2000");
    QString resizePercentageText = QStringLiteral("100");
    bool askForNameBeforeExport = false;

    // All 23 fields; texts compare by canonical equivalence, case matters.
    friend bool operator==(const SettingsValues& a, const SettingsValues& b);
};

// A named snapshot of the settings, identified by id.
struct SettingsPreset {
    QUuid id;
    QString name;
    SettingsValues values;

    friend bool operator==(const SettingsPreset& a, const SettingsPreset& b);
};

// The presets document: a compact JSON array of {"id", "name", "values"}
// objects, the id in upper-case hyphenated form.
QByteArray encodePresets(const std::vector<SettingsPreset>& presets);
// Nothing when the document fails as a whole: not JSON, not an array, a
// missing or null member ("askForNameBeforeExport" alone may be missing or
// null), a member of the wrong JSON type, an id that is no UUID, or an option
// text outside its cases. Ranges are not checked.
std::optional<std::vector<SettingsPreset>> decodePresets(const QByteArray& document);

} // namespace vantro
