#include "ToolOutputCheck.h"

#include <zlib.h>

#include <cstring>

namespace vantro::ToolOutputCheck {

namespace {

uint32_t bigEndian16(const unsigned char* p)
{
    return (uint32_t{p[0]} << 8) | uint32_t{p[1]};
}

uint32_t bigEndian32(const unsigned char* p)
{
    return (bigEndian16(p) << 16) | bigEndian16(p + 2);
}

QString wrongSize(int64_t width, int64_t height, int64_t expectedWidth, int64_t expectedHeight)
{
    return QStringLiteral("the output is %1 \u00D7 %2 pixels instead of %3 \u00D7 %4")
        .arg(width)
        .arg(height)
        .arg(expectedWidth)
        .arg(expectedHeight);
}

bool isFrameHeader(unsigned char code)
{
    return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
}

std::optional<QString> jpegProblem(const unsigned char* d, size_t n, int64_t width, int64_t height)
{
    if (n < 2 || d[0] != 0xFF || d[1] != 0xD8)
        return QStringLiteral("the output is not a JPEG");
    int scans = 0;
    bool frame = false;
    const auto cutShort = [&] {
        return scans == 0 ? QStringLiteral("the output is cut short before its first scan")
                          : QStringLiteral("the output is cut short in or after scan %1").arg(scans);
    };
    size_t pos = 2;
    for (;;) {
        if (pos >= n)
            return cutShort();
        if (d[pos] != 0xFF)
            return QStringLiteral("the output has stray data at byte %1").arg(pos);
        while (pos < n && d[pos] == 0xFF)
            ++pos;
        if (pos >= n)
            return cutShort();
        const unsigned char code = d[pos++];
        if (code == 0xD9) {
            if (scans == 0)
                return QStringLiteral("the output ends before its first scan");
            return std::nullopt;
        }
        if (code == 0x00 || code == 0x01 || (code >= 0xD0 && code <= 0xD8))
            return QStringLiteral("the output has a misplaced marker at byte %1").arg(pos - 2);
        if (n - pos < 2)
            return cutShort();
        const size_t length = bigEndian16(d + pos);
        if (length < 2)
            return QStringLiteral("the output has a malformed segment at byte %1").arg(pos - 2);
        if (n - pos < length)
            return cutShort();
        if (isFrameHeader(code)) {
            if (frame)
                return QStringLiteral("the output has more than one frame header");
            if (length < 8)
                return QStringLiteral("the output has a malformed frame header");
            frame = true;
            const int64_t frameHeight = bigEndian16(d + pos + 3);
            const int64_t frameWidth = bigEndian16(d + pos + 5);
            if (frameWidth != width || frameHeight != height)
                return wrongSize(frameWidth, frameHeight, width, height);
        }
        pos += length;
        if (code != 0xDA)
            continue;
        if (!frame)
            return QStringLiteral("the output has a scan before its frame header");
        ++scans;
        // The entropy-coded data runs to the first 0xFF that is neither a
        // stuffed zero nor a restart marker.
        for (;;) {
            const void* found = pos < n ? std::memchr(d + pos, 0xFF, n - pos) : nullptr;
            if (!found || static_cast<const unsigned char*>(found) + 1 >= d + n)
                return cutShort();
            pos = static_cast<size_t>(static_cast<const unsigned char*>(found) - d);
            const unsigned char next = d[pos + 1];
            if (next == 0x00 || (next >= 0xD0 && next <= 0xD7))
                pos += 2;
            else if (next == 0xFF)
                pos += 1;
            else
                break;
        }
    }
}

std::optional<QString> pngProblem(const unsigned char* d, size_t n, int64_t width, int64_t height)
{
    static constexpr unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (n < sizeof kSignature || std::memcmp(d, kSignature, sizeof kSignature) != 0)
        return QStringLiteral("the output is not a PNG");
    constexpr size_t kChunkOverhead = 12; // length, type, CRC
    bool header = false;
    bool imageData = false;
    size_t pos = sizeof kSignature;
    for (;;) {
        if (n - pos < kChunkOverhead)
            return QStringLiteral("the output is cut short before its IEND chunk");
        const size_t length = bigEndian32(d + pos);
        const QString type = QString::fromLatin1(reinterpret_cast<const char*>(d + pos + 4), 4);
        if (length > 0x7FFFFFFFu || n - pos - kChunkOverhead < length)
            return QStringLiteral("the output is cut short in its %1 chunk").arg(type);
        const uint32_t stored = bigEndian32(d + pos + 8 + length);
        if (stored != crc32(crc32(0, nullptr, 0), d + pos + 4, static_cast<uInt>(length + 4)))
            return QStringLiteral("the output's %1 chunk fails its CRC check").arg(type);
        if (!header) {
            if (type != u"IHDR" || length != 13)
                return QStringLiteral("the output does not start with an image header");
            header = true;
            const int64_t headerWidth = bigEndian32(d + pos + 8);
            const int64_t headerHeight = bigEndian32(d + pos + 12);
            if (headerWidth != width || headerHeight != height)
                return wrongSize(headerWidth, headerHeight, width, height);
        } else if (type == u"IHDR") {
            return QStringLiteral("the output has more than one image header");
        }
        if (type == u"IDAT")
            imageData = true;
        if (type == u"IEND") {
            if (!imageData)
                return QStringLiteral("the output has no image data");
            return std::nullopt;
        }
        pos += kChunkOverhead + length;
    }
}

} // namespace

std::optional<QString> problem(const QByteArray& bytes, ImageFormat format, int64_t width, int64_t height)
{
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    const auto size = static_cast<size_t>(bytes.size());
    switch (format) {
    case ImageFormat::jpeg:
        return jpegProblem(data, size, width, height);
    case ImageFormat::png:
        return pngProblem(data, size, width, height);
    case ImageFormat::webp:
    case ImageFormat::avif:
    case ImageFormat::heic:
        break;
    }
    return QStringLiteral("the output's format cannot be checked");
}

} // namespace vantro::ToolOutputCheck
