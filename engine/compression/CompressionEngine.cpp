#include "CompressionEngine.h"

#include "AVIFEncoder.h"
#include "CompressionError.h"
#include "EngineSupport.h"
#include "FileNames.h"
#include "FormatDetector.h"
#include "ImageDecoder.h"
#include "ImageDimensions.h"
#include "ImageScaler.h"
#include "ImageStructure.h"
#include "JPEGEncoder.h"
#include "OptimiserTool.h"
#include "PNGEncoder.h"
#include "PixelScaler.h"
#include "UriList.h"
#include "WebPDecoder.h"
#include "WebPEncoder.h"
#include "WebPICCProfile.h"

#include <QFileInfo>

#include <algorithm>
#include <chrono>

namespace vantro {

namespace {

constexpr int64_t kLosslessFallbackQuality = 90;

QString stemOf(const QString& path)
{
    return QFileInfo(path).completeBaseName();
}

// Names the path from its first component that cannot be read, which may be
// a folder's, as the user sees it.
CompressionError unreadableName(const QString& path)
{
    const QString shown = FileNames::shown(path);
    const auto differs = std::mismatch(path.begin(), path.end(), shown.begin()).first;
    const qsizetype from = path.lastIndexOf(u'/', differs - path.begin()) + 1;
    return CompressionError::ioFailure(QStringLiteral("File name is not valid UTF-8 and cannot be read: ")
                                       + shown.mid(from));
}

// An item of a drop that names no file here, shown as it was given.
CompressionError notALocalFile(const QString& item)
{
    const QString shown = FileNames::shown(item);
    return CompressionError::ioFailure(UriList::namesAnotherComputer(FileNames::toBytes(item))
                                           ? QStringLiteral("Not a file on this computer: ") + shown
                                           : QStringLiteral("Not an absolute file path: ") + shown);
}

bool resizeChangesSize(std::pair<int64_t, int64_t> size, const ResizeMode& resize)
{
    return ImageScaler::scaledDimensions(size.first, size.second, resize).has_value();
}

} // namespace

DecodedImage flattenAlphaOntoWhite(const DecodedImage& image)
{
    DecodedImage flat;
    flat.width = image.width;
    flat.height = image.height;
    flat.hasAlpha = false;
    const size_t count = static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
    flat.pixels.resize(count * 3);
    const uint8_t* in = image.pixels.data();
    uint8_t* out = flat.pixels.data();
    for (size_t i = 0; i < count; ++i, in += 4, out += 3) {
        const unsigned a = in[3];
        for (int c = 0; c < 3; ++c)
            out[c] = static_cast<uint8_t>((in[c] * a + 255u * (255u - a) + 127u) / 255u);
    }
    return flat;
}

DecodedImage scaledImage(DecodedImage image, const ResizeMode& resize)
{
    const auto target = ImageScaler::scaledDimensions(image.width, image.height, resize);
    if (!target)
        return image;
    // PixelScaler refuses targets beyond the pixel budget before narrowing.
    std::vector<uint8_t> pixels
        = PixelScaler::scale(image.pixels, image.width, image.height, image.hasAlpha, target->first, target->second);
    image.pixels = std::move(pixels);
    image.width = static_cast<int>(target->first);
    image.height = static_cast<int>(target->second);
    return image;
}

CompressionEngine::CompressionEngine()
    : CompressionEngine(OutputPlacement::defaultBackupRoot(), {}, OutputPlacement::defaultMaxCollisionAttempts)
{
}

CompressionEngine::CompressionEngine(const QString& backupRoot, Trasher trasher, int64_t maxCollisionAttempts)
    : m_placement(backupRoot, maxCollisionAttempts)
    , m_trasher(trasher ? std::move(trasher) : Trasher(&OutputPlacement::recycleViaWorkspace))
{
}

CompressionResult CompressionEngine::compress(const QString& givenPath, const CompressionSettings& settings) const
{
    const auto start = std::chrono::steady_clock::now();
    // A path that is not absolute would be looked up under the working
    // folder, and a file on another computer under its name on this one.
    if (!givenPath.startsWith(u'/'))
        throw notALocalFile(givenPath);
    // A path that is not UTF-8 would be opened, backed up or trashed under
    // another file's name, so nothing at all is done with it; nor with one
    // whose ".." the kernel resolves to such a folder (kernelPath keeps the
    // former as it is).
    const QString path = FileNames::kernelPath(givenPath);
    if (FileNames::isNotUTF8(path))
        throw unreadableName(path);
    const QString fileName = fileNameOf(path);
    // Killed runs leave copies of images in the temporary folder; every run
    // that places files removes them, whether it starts a tool or not.
    OptimiserTool::removeAbandonedFolders();

    if (settings.outputMode.kind() == OutputMode::Kind::inPlace
        && settings.renaming.renamedStem(stemOf(path), settings.sequenceDigits, settings.sequenceSeparator)) {
        throw CompressionError::invalidConfiguration(
            QStringLiteral("In-place output cannot be combined with renaming; use copy-alongside output or "
                           "disable renaming"));
    }

    // A relative folder would depend on wherever the program was started.
    if (settings.outputMode.kind() == OutputMode::Kind::customFolder) {
        const QString& folder = settings.outputMode.folder();
        if (folder.isEmpty())
            throw CompressionError::invalidConfiguration(QStringLiteral("No custom output folder is set"));
        if (!folder.startsWith(u'/'))
            throw CompressionError::invalidConfiguration(
                QStringLiteral("The custom output folder must be an absolute path: ") + folder);
    }

    // Only the size of the source is needed here; the codecs read it themselves.
    int64_t originalSize = 0;
    openRegularFile(path, &originalSize);
    const ImageFormat format = FormatDetector::detectFormat(path);
    // Every road starts here, before any library or tool reads the file.
    if (!ImageStructure::lengthsFit(path, format))
        throw CompressionError::corruptFile(QStringLiteral("Cannot decode image: ") + fileName);
    // Refused before any road is chosen: a tool must not be what decides it.
    if (format == ImageFormat::png && ImageDecoder::isAnimatedPng(path))
        throw CompressionError::unsupportedFormat();

    std::optional<ImageFormat> target;
    switch (settings.targetFormat) {
    case TargetFormat::keepOriginal:
        if (format == ImageFormat::heic)
            throw CompressionError::invalidConfiguration(
                QStringLiteral("HEIC files cannot be recompressed in their original format — choose a target "
                               "format (e.g. WebP) to convert ")
                + fileName + QStringLiteral(" instead of \"Keep Original\""));
        break;
    case TargetFormat::webp:
        target = ImageFormat::webp;
        break;
    case TargetFormat::jpeg:
        target = ImageFormat::jpeg;
        break;
    case TargetFormat::png:
        target = ImageFormat::png;
        break;
    }

    CompressionResult result;
    result.originalSize = originalSize;

    if (!target || *target == format) {
        const Encoded encoded = encode(path, format, settings.mode, settings.resize);
        result.lossyFallbackApplied = encoded.lossyFallbackApplied;
        if (!encoded.resized && encoded.data.size() >= originalSize) {
            result.compressedSize = originalSize;
            result.outputPath = path;
            result.alreadyOptimized = true;
        } else {
            result.outputPath = m_placement.writeOutput(encoded.data, path, settings.outputMode, settings.renaming,
                                                        settings.sequenceDigits, settings.sequenceSeparator);
            result.compressedSize = encoded.data.size();
        }
    } else {
        const DecodedImage image = scaledImage(ImageDecoder::decode(path, format), settings.resize);
        const QByteArray converted = encodeConversion(image, *target, settings.mode, fileName);
        result.lossyFallbackApplied = *target == ImageFormat::jpeg && settings.mode.isLossless();
        result.outputPath
            = m_placement.writeConversionOutput(converted, path, settings.outputMode, *target, settings.renaming,
                                                settings.sequenceDigits, settings.sequenceSeparator);
        result.compressedSize = converted.size();
        result.alreadyOptimized = converted.size() >= originalSize;

        if (settings.originalFileHandling == OriginalFileHandling::moveToTrash) {
            if (!QFileInfo::exists(result.outputPath))
                throw CompressionError::ioFailure(
                    QStringLiteral("Conversion output missing after write; refusing to move original to Trash"));
            m_trasher(QStringList{path});
        }
    }

    result.duration = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result;
}

QByteArray CompressionEngine::encodeConversion(const DecodedImage& image, ImageFormat target,
                                               const CompressionMode& mode, const QString& fileName) const
{
    switch (target) {
    case ImageFormat::jpeg: {
        const int64_t quality = mode.isLossless() ? kLosslessFallbackQuality : mode.quality();
        const QByteArray profile = WebPICCProfile::sRGBICCProfileData();
        if (image.hasAlpha)
            return JPEGEncoder::compress(flattenAlphaOntoWhite(image), quality, fileName, profile);
        return JPEGEncoder::compress(image, quality, fileName, profile);
    }
    case ImageFormat::png:
        return PNGEncoder::compressResized(image);
    case ImageFormat::webp: {
        const QByteArray encoded = WebPEncoder::encode(image, mode, fileName);
        return WebPICCProfile::embedICCProfile(encoded, WebPICCProfile::sRGBICCProfileData());
    }
    case ImageFormat::avif:
    case ImageFormat::heic:
        break;
    }
    throw CompressionError::unsupportedFormat();
}

CompressionEngine::Encoded CompressionEngine::encode(const QString& path, ImageFormat format,
                                                     const CompressionMode& mode, const ResizeMode& resize) const
{
    const QString fileName = fileNameOf(path);
    const bool wantsResize = resize.kind() != ResizeMode::Kind::none;

    switch (format) {
    case ImageFormat::jpeg: {
        if (mode.isLossless()) {
            if (!wantsResize || !resizeChangesSize(ImageDimensions::read(path), resize))
                return {JPEGEncoder::compressLossless(path), false, false};
            const DecodedImage image = scaledImage(ImageDecoder::decode(path, format), resize);
            return {JPEGEncoder::compress(image, kLosslessFallbackQuality, fileName, std::nullopt), true, true};
        }
        const bool resized = wantsResize && resizeChangesSize(ImageDimensions::read(path), resize);
        const DecodedImage image = scaledImage(ImageDecoder::decode(path, format), resize);
        return {JPEGEncoder::compress(image, mode.quality(), fileName, std::nullopt), false, resized};
    }
    case ImageFormat::png:
        if (!wantsResize || !resizeChangesSize(ImageDimensions::read(path), resize))
            return {PNGEncoder::compressLossless(path), false, false};
        return {PNGEncoder::compressResized(scaledImage(ImageDecoder::decode(path, format), resize)), false, true};
    case ImageFormat::webp:
        if (!wantsResize || !resizeChangesSize(WebPEncoder::readDimensions(path), resize))
            return {WebPEncoder::compress(path, mode), false, false};
        {
            // The samples stay as the file holds them, so the file's own
            // profile must travel with them, as on the unresized road.
            const QByteArray source = readWholeFile(path);
            const QByteArray encoded
                = WebPEncoder::encode(scaledImage(WebPDecoder::decode(source, fileName), resize), mode, fileName);
            const std::optional<QByteArray> profile = WebPICCProfile::iccProfile(source);
            return {profile ? WebPICCProfile::embedICCProfile(encoded, *profile) : encoded, false, true};
        }
    case ImageFormat::avif: {
        const bool resized = wantsResize && resizeChangesSize(AVIFEncoder::readDimensions(path), resize);
        return {AVIFEncoder::compress(path, mode, resize), false, resized};
    }
    case ImageFormat::heic:
        break;
    }
    throw CompressionError::unsupportedFormat();
}

} // namespace vantro
