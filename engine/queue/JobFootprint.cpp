#include "JobFootprint.h"

#include "EngineSupport.h"
#include "FileNames.h"
#include "FormatDetector.h"
#include "ImageDimensions.h"
#include "ImageScaler.h"

#include <QFile>

#include <algorithm>
#include <unistd.h>

namespace vantro {

namespace {

// A job whose file cannot be read, or whose image is refused, ends before it
// decodes anything.
constexpr uint64_t kFixedJobBytes = uint64_t{16} << 20;

// Peak bytes per pixel of each road, as measured whole-process (tools
// included) on a 24-megapixel photo and a 268-megapixel JPEG, rounded up.
// A decoded RGB copy is 3 bytes a pixel; the roads hold several.
uint64_t bytesPerPixel(ImageFormat source, ImageFormat target, bool lossless)
{
    switch (target) {
    case ImageFormat::jpeg:
        if (source == ImageFormat::jpeg && lossless)
            return 10; // jpegtran
        return source == ImageFormat::heic ? 16 : 12;
    case ImageFormat::png:
        return 24; // oxipng, or a decode and the PNG encoder
    case ImageFormat::webp:
        if (lossless)
            return 36;
        return source == ImageFormat::heic ? 13 : 9;
    case ImageFormat::avif:
        return 18;
    case ImageFormat::heic:
        break;
    }
    return 0;
}

std::optional<ImageFormat> targetOf(ImageFormat source, TargetFormat target)
{
    switch (target) {
    case TargetFormat::keepOriginal:
        // HEIC is only converted; kept, it is refused before any decode.
        if (source == ImageFormat::heic)
            return std::nullopt;
        return source;
    case TargetFormat::webp:
        return ImageFormat::webp;
    case TargetFormat::jpeg:
        return ImageFormat::jpeg;
    case TargetFormat::png:
        return ImageFormat::png;
    }
    return std::nullopt;
}

} // namespace

JobFootprint JobFootprint::read(const QString& path)
{
    JobFootprint footprint;
    // Its header would be read from another file; for a path that is not
    // absolute, from one under the working folder.
    if (FileNames::isNotUTF8(path) || !path.startsWith(u'/'))
        return footprint;
    try {
        const ImageFormat format = FormatDetector::detectFormat(path);
        const auto [width, height] = ImageDimensions::storedWithinBudget(path);
        footprint.format = format;
        footprint.width = width;
        footprint.height = height;
    } catch (...) {
        // The engine will say what is wrong with the file.
    }
    return footprint;
}

uint64_t JobFootprint::peakBytes(const CompressionSettings& settings) const
{
    if (!format)
        return kFixedJobBytes;
    const std::optional<ImageFormat> target = targetOf(*format, settings.targetFormat);
    if (!target)
        return kFixedJobBytes;
    // An enlarged image is held at its new size too; one beyond the pixel
    // budget is refused before it is made.
    int64_t pixels = width * height;
    const auto scaled = ImageScaler::scaledDimensions(width, height, settings.resize);
    if (scaled && fitsPixelBudget(scaled->first, scaled->second))
        pixels = std::max(pixels, scaled->first * scaled->second);
    return kFixedJobBytes + bytesPerPixel(*format, *target, settings.mode.isLossless()) * static_cast<uint64_t>(pixels);
}

namespace JobMemory {

namespace {

// The kernel's estimate of memory that can be had without swapping.
uint64_t availableBytes()
{
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (meminfo.open(QIODevice::ReadOnly)) {
        // The file is a pseudo-file: it reports no size, so read by line.
        for (QByteArray line = meminfo.readLine(); !line.isEmpty(); line = meminfo.readLine()) {
            if (!line.startsWith("MemAvailable:"))
                continue;
            bool ok = false;
            const uint64_t kib = line.mid(13).trimmed().split(' ').value(0).toULongLong(&ok);
            if (ok)
                return kib * 1024;
        }
    }
    const long pages = ::sysconf(_SC_AVPHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize) : 0;
}

} // namespace

uint64_t defaultBudget()
{
    const uint64_t floor = kFixedJobBytes
        + bytesPerPixel(ImageFormat::jpeg, ImageFormat::jpeg, false) * static_cast<uint64_t>(kMaxPixelCount);
    return std::max(availableBytes() / 2, floor);
}

} // namespace JobMemory

} // namespace vantro
