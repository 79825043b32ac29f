#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>

namespace vantro {

// The language of the interface. It follows the process's locale and is never
// stored, so a changed locale shows at the next text that is built.
class AppLanguage {
public:
    enum Value { cs, en };

    constexpr AppLanguage(Value value) : m_value(value) {}
    constexpr operator Value() const { return m_value; }

    // Czech when the current locale's language is Czech, English for any
    // other language (the region plays no part). Worked out at every call.
    static AppLanguage current();

private:
    Value m_value;
};

// Every text of the interface for one language. Build a fresh value wherever
// texts are shown, from AppLanguage::current(); the value itself never
// changes, whatever happens to the locale afterwards.
class Strings {
public:
    explicit Strings(AppLanguage language);

    const AppLanguage language;

    // Drop zone
    const QString dropFilesHere;
    const QString chooseFilesEllipsis;

    // Help menu and the footer's support button
    const QString supportOnKofi;

    // Export-name prompt; `cancel` also closes the save-preset prompt
    const QString exportNameDialogTitle;
    const QString baseNameFieldLabel;
    const QString use;
    const QString cancel;
    const QString exportNameDialogMessage;

    // Footer
    const QString doubleClickOpensSettingsSuffix;
    const QString interrupt;
    const QString settingsHelp;

    // Preset menu and save-preset prompt
    const QString noSavedPresets;
    const QString saveCurrentSettingsEllipsis;
    const QString deleteMenuTitle;
    const QString presetsLabel;
    const QString presetsHelp;
    const QString savePresetDialogTitle;
    const QString presetNameFieldLabel;
    const QString save;
    const QString savePresetDialogMessage;

    // Settings summary in the footer
    const QString summaryModeLossless;
    const QString summaryModeLossy;
    const QString summaryDestinationCopyAlongside;
    const QString summaryDestinationOverwriteOriginal;
    const QString summaryDestinationCustomFolder;
    const QString summaryFormatKeepOriginal;
    const QString summaryRenamingKeepNames;
    const QString summaryRenamingCustomNamePlusNumber;
    const QString summaryRenamingPrefixAndSuffix;
    const QString summaryResizeShortSideSuffix;
    const QString summaryResizeWidthUnit;
    const QString summaryResizeHeightUnit;

    // Job table and its row menu
    const QString columnFile;
    const QString columnSize;
    const QString columnRatio;
    const QString menuOpen;
    const QString menuShowInFinder;
    const QString menuCopyPath;
    const QString menuRemoveFromList;
    const QString menuClearEntireList;
    const QString statusWaiting;
    const QString statusProcessing;
    const QString statusCancelled;

    // Settings form
    const QString mode;
    const QString lossless;
    const QString lossy;
    const QString resize;
    const QString output;
    const QString copyAlongside;
    const QString overwriteOriginal;
    const QString customFolder;
    const QString backupOriginal;
    const QString destinationFolder;
    const QString chooseFolderEllipsis;
    const QString outputFormat;
    const QString keepOriginalFormat;
    const QString originalFile;
    const QString keep;
    const QString moveToTrash;
    const QString renaming;
    const QString keepNames;
    const QString customNamePlusNumber;
    const QString prefixAndSuffix;
    const QString baseName;
    const QString baseNamePlaceholder;
    const QString numbering;
    const QString noNumber;
    const QString separatorPickerLabel;
    const QString separatorNone;
    const QString separatorSpace;
    const QString separatorDash;
    const QString separatorUnderscore;
    const QString separatorComma;
    const QString askForNameBeforeExport;
    const QString prefixSuffixRow;
    const QString prefixPlaceholder;
    const QString suffixPlaceholder;

    // Resize labels, prompts and captions, and the sequence example's base name
    const QString prefixSuffixExample;
    const QString resizeModeOriginal;
    const QString resizeModeMaxLongEdge;
    const QString resizeModeMaxShortEdge;
    const QString resizeModeMaxWidth;
    const QString resizeModeMaxHeight;
    const QString resizeModeExactWidth;
    const QString resizeModeExactHeight;
    const QString resizeModePercentage;
    const QString resizeValuePlaceholderPixels;
    const QString resizeValuePlaceholderPercent;
    const QString resizeCaptionMaxLongEdge;
    const QString resizeCaptionMaxShortEdge;
    const QString resizeCaptionMaxWidth;
    const QString resizeCaptionMaxHeight;
    const QString resizeCaptionExactWidth;
    const QString resizeCaptionExactHeight;
    const QString resizeCaptionPercentage;
    const QString sequenceExamplePlaceholderBase;

    // Texts with numbers or ready-made parts. They use the language of this
    // value; numbers are plain digits without grouping.
    QString optimizedCount(int64_t count) const;
    QString aggregateAdded(const QString& magnitude, const QString& base, const QString& percent) const;
    QString aggregateSaved(const QString& magnitude, const QString& base, const QString& percent) const;
    QString aggregateNoChange(const QString& base) const;
    QString quality(int64_t value) const;
    QString digitsCount(int64_t digits) const;

private:
    static QString pick(AppLanguage language, const QString& english, const QString& czech);
    bool isEnglish() const { return language == AppLanguage::en; }
};

} // namespace vantro

template <>
struct std::hash<vantro::AppLanguage> {
    std::size_t operator()(vantro::AppLanguage language) const noexcept
    {
        return std::hash<int>()(static_cast<int>(vantro::AppLanguage::Value(language)));
    }
};
