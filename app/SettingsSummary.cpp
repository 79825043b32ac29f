#include "SettingsSummary.h"

#include "AppSettings.h"
#include "Localization.h"

#include <QStringList>

#include <algorithm>
#include <cstdint>

namespace vantro {

namespace {

using Settings = AppSettings;

// The number 1 as the first file of a batch gets it. Padded like the engine
// pads it, so the example matches the names actually written; a digit count
// set outside the usual 0...5 cannot make the text explode.
QString firstSequenceNumber(int64_t digits)
{
    QString number = QStringLiteral("1");
    if (digits > 1)
        number.prepend(QString(static_cast<qsizetype>(std::min<int64_t>(digits - 1, int64_t{1} << 20)), u'0'));
    return number;
}

// The folder's own name: the last component of its path, trailing slashes
// aside; empty for the root or an empty path.
QString lastPathComponent(const QString& path)
{
    qsizetype end = path.size();
    while (end > 0 && path.at(end - 1) == u'/')
        --end;
    const qsizetype start = path.lastIndexOf(u'/', end - 1) + 1;
    return end > 0 ? path.mid(start, end - start) : QString();
}

QString formatPiece(Settings::TargetFormatOption format, const Strings& texts)
{
    switch (format) {
    case Settings::TargetFormatOption::keepOriginal:
        return texts.summaryFormatKeepOriginal;
    case Settings::TargetFormatOption::webp:
        return QStringLiteral("WebP");
    case Settings::TargetFormatOption::jpeg:
        return QStringLiteral("JPEG");
    case Settings::TargetFormatOption::png:
        return QStringLiteral("PNG");
    }
    return {};
}

QString extensionOf(Settings::TargetFormatOption format)
{
    switch (format) {
    case Settings::TargetFormatOption::keepOriginal:
        return {};
    case Settings::TargetFormatOption::webp:
        return QStringLiteral("webp");
    case Settings::TargetFormatOption::jpeg:
        return QStringLiteral("jpg");
    case Settings::TargetFormatOption::png:
        return QStringLiteral("png");
    }
    return {};
}

QString resizePiece(const AppSettings& settings, const Strings& texts)
{
    const auto px = [](int64_t pixels) { return QString::number(pixels) + QStringLiteral("px"); };
    const QString atMost = QStringLiteral(u"\u2264");
    switch (settings.effectiveResizeMode()) {
    case Settings::ResizeModeOption::original:
        return {};
    case Settings::ResizeModeOption::maxLongEdge:
        return atMost + px(settings.resolvedResizeMaxDimension());
    case Settings::ResizeModeOption::maxShortEdge:
        return atMost + px(settings.resolvedMaxShortEdge()) + u' ' + texts.summaryResizeShortSideSuffix;
    case Settings::ResizeModeOption::maxWidth:
        return atMost + px(settings.resolvedMaxWidth()) + u' ' + texts.summaryResizeWidthUnit;
    case Settings::ResizeModeOption::maxHeight:
        return atMost + px(settings.resolvedMaxHeight()) + u' ' + texts.summaryResizeHeightUnit;
    case Settings::ResizeModeOption::width:
        return px(settings.resolvedWidth()) + u' ' + texts.summaryResizeWidthUnit;
    case Settings::ResizeModeOption::height:
        return px(settings.resolvedHeight()) + u' ' + texts.summaryResizeHeightUnit;
    case Settings::ResizeModeOption::percentage: {
        // Resolved to 1...1000, so the conversion cannot overflow; it drops
        // the fraction toward zero.
        const double percent = std::clamp(settings.resolvedPercentage(), 0.0, 1e9);
        return QString::number(static_cast<int64_t>(percent)) + u'%';
    }
    }
    return {};
}

} // namespace

QString settingsSummary(const AppSettings& settings)
{
    const Strings texts(AppLanguage::current());
    QStringList pieces;

    pieces << (settings.mode() == Settings::CompressionModeOption::lossless ? texts.summaryModeLossless
                                                                            : texts.summaryModeLossy);

    switch (settings.outputMode()) {
    case Settings::OutputModeOption::copyAlongside:
        pieces << texts.summaryDestinationCopyAlongside;
        break;
    case Settings::OutputModeOption::inPlace:
        pieces << texts.summaryDestinationOverwriteOriginal;
        break;
    case Settings::OutputModeOption::customFolder: {
        const QString folder = lastPathComponent(settings.customFolderURL().path());
        pieces << (folder.isEmpty() ? texts.summaryDestinationCustomFolder
                                    : texts.summaryDestinationCustomFolder + QStringLiteral(" (") + folder + u')');
        break;
    }
    }

    const auto format = settings.targetFormat();
    const QString& base = settings.renamingBaseName();
    const int64_t digits = settings.sequenceDigits();
    switch (settings.renamingMode()) {
    case Settings::RenamingModeOption::none:
        pieces << formatPiece(format, texts) << texts.summaryRenamingKeepNames;
        break;
    case Settings::RenamingModeOption::prefixSuffix:
        pieces << formatPiece(format, texts) << texts.summaryRenamingPrefixAndSuffix;
        break;
    case Settings::RenamingModeOption::sequence:
        if (format != Settings::TargetFormatOption::keepOriginal && !base.isEmpty()) {
            // An example name says both the format and the renaming at once.
            const QString number = digits == 0
                ? QString()
                : separatorText(settings.sequenceSeparatorOption()) + firstSequenceNumber(digits);
            pieces << base + number + u'.' + extensionOf(format);
        } else {
            pieces << formatPiece(format, texts);
            if (base.isEmpty())
                pieces << texts.summaryRenamingCustomNamePlusNumber;
            else if (digits == 0)
                pieces << base;
            else
                pieces << base
                        + (texts.language == AppLanguage::cs ? QStringLiteral(u" + \u010D\u00EDslo")
                                                             : QStringLiteral(" + number"));
        }
        break;
    }

    const QString resize = resizePiece(settings, texts);
    if (!resize.isEmpty())
        pieces << resize;

    return pieces.join(QStringLiteral(" | "));
}

} // namespace vantro
