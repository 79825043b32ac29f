#include "ToolOutputCheck.h"

#include "ImageStructure.h"

#include <zlib.h>

namespace vantro::ToolOutputCheck {

namespace {

QString wrongSize(int64_t width, int64_t height, int64_t expectedWidth, int64_t expectedHeight)
{
    return QStringLiteral("the output is %1 \u00D7 %2 pixels instead of %3 \u00D7 %4")
        .arg(width)
        .arg(height)
        .arg(expectedWidth)
        .arg(expectedHeight);
}

std::optional<QString> jpegProblem(const QByteArray& data, int64_t width, int64_t height)
{
    ImageStructure::Bytes bytes(data);
    int scans = 0;
    bool frame = false;
    std::optional<QString> problem;
    const ImageStructure::JpegWalk walk
        = ImageStructure::walkJpeg(bytes, [&](const ImageStructure::JpegSegment& segment) {
              if (ImageStructure::isJpegFrameHeader(segment.code)) {
                  if (frame)
                      problem = QStringLiteral("the output has more than one frame header");
                  else if (segment.length < 8)
                      problem = QStringLiteral("the output has a malformed frame header");
                  if (problem)
                      return false;
                  frame = true;
                  const unsigned char* header = bytes.at(segment.offset, 8);
                  const int64_t frameHeight = ImageStructure::bigEndian16(header + 3);
                  const int64_t frameWidth = ImageStructure::bigEndian16(header + 5);
                  if (frameWidth != width || frameHeight != height)
                      problem = wrongSize(frameWidth, frameHeight, width, height);
              } else if (segment.code == 0xDA) {
                  if (!frame)
                      problem = QStringLiteral("the output has a scan before its frame header");
                  ++scans;
              }
              return !problem;
          });
    if (problem)
        return problem;
    switch (walk.end) {
    case ImageStructure::JpegEnd::endOfImage:
        if (scans == 0)
            return QStringLiteral("the output ends before its first scan");
        return std::nullopt;
    case ImageStructure::JpegEnd::notJpeg:
        return QStringLiteral("the output is not a JPEG");
    case ImageStructure::JpegEnd::strayData:
        return QStringLiteral("the output has stray data at byte %1").arg(walk.position);
    case ImageStructure::JpegEnd::misplacedMarker:
        return QStringLiteral("the output has a misplaced marker at byte %1").arg(walk.position);
    case ImageStructure::JpegEnd::malformedSegment:
        return QStringLiteral("the output has a malformed segment at byte %1").arg(walk.position);
    case ImageStructure::JpegEnd::cutShort:
    case ImageStructure::JpegEnd::segmentCutShort:
    case ImageStructure::JpegEnd::stopped:
        break;
    }
    return scans == 0 ? QStringLiteral("the output is cut short before its first scan")
                      : QStringLiteral("the output is cut short in or after scan %1").arg(scans);
}

std::optional<QString> pngProblem(const QByteArray& data, int64_t width, int64_t height)
{
    ImageStructure::Bytes bytes(data);
    bool header = false;
    bool imageData = false;
    std::optional<QString> problem;
    const ImageStructure::PngWalk walk = ImageStructure::walkPng(bytes, [&](const ImageStructure::PngChunk& chunk) {
        const QString type = QString::fromLatin1(chunk.type.data(), 4);
        const unsigned char* d = bytes.at(chunk.offset, chunk.length + 12);
        const uint32_t stored = ImageStructure::bigEndian32(d + 8 + chunk.length);
        if (stored != crc32(crc32(0, nullptr, 0), d + 4, static_cast<uInt>(chunk.length + 4))) {
            problem = QStringLiteral("the output's %1 chunk fails its CRC check").arg(type);
        } else if (!header) {
            if (type != u"IHDR" || chunk.length != 13) {
                problem = QStringLiteral("the output does not start with an image header");
                return false;
            }
            header = true;
            const int64_t headerWidth = ImageStructure::bigEndian32(d + 8);
            const int64_t headerHeight = ImageStructure::bigEndian32(d + 12);
            if (headerWidth != width || headerHeight != height)
                problem = wrongSize(headerWidth, headerHeight, width, height);
        } else if (type == u"IHDR") {
            problem = QStringLiteral("the output has more than one image header");
        }
        if (type == u"IDAT")
            imageData = true;
        if (type == u"IEND" && !imageData && !problem)
            problem = QStringLiteral("the output has no image data");
        return !problem;
    });
    if (problem)
        return problem;
    switch (walk.end) {
    case ImageStructure::PngEnd::imageEnd:
        return std::nullopt;
    case ImageStructure::PngEnd::notPng:
        return QStringLiteral("the output is not a PNG");
    case ImageStructure::PngEnd::chunkCutShort:
        return QStringLiteral("the output is cut short in its %1 chunk").arg(QString::fromStdString(walk.type));
    case ImageStructure::PngEnd::cutShort:
    case ImageStructure::PngEnd::stopped:
        break;
    }
    return QStringLiteral("the output is cut short before its IEND chunk");
}

} // namespace

std::optional<QString> problem(const QByteArray& bytes, ImageFormat format, int64_t width, int64_t height)
{
    switch (format) {
    case ImageFormat::jpeg:
        return jpegProblem(bytes, width, height);
    case ImageFormat::png:
        return pngProblem(bytes, width, height);
    case ImageFormat::webp:
    case ImageFormat::avif:
    case ImageFormat::heic:
        break;
    }
    return QStringLiteral("the output's format cannot be checked");
}

} // namespace vantro::ToolOutputCheck
