#include "JPEGMetadata.h"

#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

namespace vantro::JPEGMetadata {

namespace {

constexpr uint8_t kAPP0 = 0xE0;
constexpr uint8_t kAPP1 = 0xE1;
constexpr uint8_t kAPP2 = 0xE2;
constexpr uint8_t kSOS = 0xDA;
constexpr uint16_t kOrientationTag = 0x0112;

// One marker segment of the header: [start, end) is the whole segment from
// its 0xFF, [payload, end) what follows the length field.
struct Segment {
    uint8_t marker;
    qsizetype start;
    qsizetype payload;
    qsizetype end;
};

bool startsWith(const QByteArray& data, const Segment& segment, const char* prefix, qsizetype length)
{
    return segment.end - segment.payload >= length
        && std::memcmp(data.constData() + segment.payload, prefix, static_cast<size_t>(length)) == 0;
}

bool isExif(const QByteArray& data, const Segment& segment)
{
    return segment.marker == kAPP1 && startsWith(data, segment, "Exif\0\0", 6);
}

bool isICCProfile(const QByteArray& data, const Segment& segment)
{
    return segment.marker == kAPP2 && startsWith(data, segment, "ICC_PROFILE\0", 12);
}

bool isJFIF(const QByteArray& data, const Segment& segment)
{
    return segment.marker == kAPP0 && startsWith(data, segment, "JFIF\0", 5);
}

// The segments between the start of image and the first start of scan; nothing
// when the header is not well formed.
std::optional<std::vector<Segment>> headerSegments(const QByteArray& jpeg)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(jpeg.constData());
    const qsizetype size = jpeg.size();
    if (size < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8)
        return std::nullopt;
    std::vector<Segment> segments;
    qsizetype at = 2;
    for (;;) {
        if (at >= size || bytes[at] != 0xFF)
            return std::nullopt;
        qsizetype code = at;
        while (code < size && bytes[code] == 0xFF) // fill bytes
            ++code;
        if (code >= size)
            return std::nullopt;
        const uint8_t marker = bytes[code];
        if (marker == kSOS)
            return segments;
        // Markers without a length have no place in a header.
        if (marker == 0x00 || marker == 0x01 || marker == 0xD8 || marker == 0xD9 || (marker >= 0xD0 && marker <= 0xD7))
            return std::nullopt;
        if (size - code < 3)
            return std::nullopt;
        const qsizetype length = (qsizetype{bytes[code + 1]} << 8) | bytes[code + 2];
        if (length < 2 || length > size - code - 1)
            return std::nullopt;
        segments.push_back({marker, code - 1, code + 3, code + 1 + length});
        at = code + 1 + length;
    }
}

std::optional<int> orientationOf(const QByteArray& jpeg, const std::vector<Segment>& segments)
{
    for (const Segment& segment : segments) {
        if (isExif(jpeg, segment))
            return exifOrientation(QByteArrayView(jpeg).sliced(segment.payload, segment.end - segment.payload));
    }
    return std::nullopt;
}

// An APP1 segment whose EXIF block holds nothing but the orientation tag.
QByteArray minimalExif(int orientation)
{
    static const uint8_t segment[] = {
        0xFF, 0xE1, 0x00, 0x22, // APP1, length 34
        'E',  'x',  'i',  'f',  0x00, 0x00, // EXIF identifier
        'M',  'M',  0x00, 0x2A, 0x00, 0x00, 0x00, 0x08, // big-endian TIFF header, IFD0 at 8
        0x00, 0x01, // one entry
        0x01, 0x12, 0x00, 0x03, 0x00, 0x00, 0x00, 0x01, // orientation, SHORT, count 1
        0x00, 0x00, 0x00, 0x00, // its value, patched below
        0x00, 0x00, 0x00, 0x00, // no next IFD
    };
    QByteArray bytes(reinterpret_cast<const char*>(segment), sizeof segment);
    bytes[29] = static_cast<char>(orientation);
    return bytes;
}

} // namespace

std::optional<int> exifOrientation(QByteArrayView exif)
{
    if (exif.startsWith(QByteArrayView("Exif\0\0", 6)))
        exif = exif.sliced(6);
    // Every offset into the TIFF structure is checked against its end.
    const auto* tiff = reinterpret_cast<const uint8_t*>(exif.data());
    const auto size = static_cast<uint64_t>(exif.size());
    if (size < 8)
        return std::nullopt;
    bool bigEndian = false;
    if (tiff[0] == 'M' && tiff[1] == 'M')
        bigEndian = true;
    else if (!(tiff[0] == 'I' && tiff[1] == 'I'))
        return std::nullopt;
    const auto u16 = [&](uint64_t at) -> uint32_t {
        return bigEndian ? (uint32_t{tiff[at]} << 8 | tiff[at + 1]) : (uint32_t{tiff[at + 1]} << 8 | tiff[at]);
    };
    const auto u32 = [&](uint64_t at) -> uint64_t {
        return bigEndian ? (uint64_t{u16(at)} << 16 | u16(at + 2)) : (uint64_t{u16(at + 2)} << 16 | u16(at));
    };
    if (u16(2) != 42)
        return std::nullopt;
    const uint64_t directory = u32(4);
    if (directory > size - 2)
        return std::nullopt;
    const uint64_t count = u16(directory);
    for (uint64_t i = 0; i < count; ++i) {
        const uint64_t entry = directory + 2 + 12 * i;
        if (entry + 12 > size)
            return std::nullopt;
        if (u16(entry) != kOrientationTag)
            continue;
        if (u32(entry + 4) < 1)
            return std::nullopt;
        // The field is meant to be a SHORT, but writers use any integer type;
        // a single value sits at the start of the value field in the file's
        // byte order. A negative signed value reads as out of range.
        uint64_t value = 0;
        switch (u16(entry + 2)) {
        case 1: // BYTE
        case 6: // SBYTE
            value = tiff[entry + 8];
            break;
        case 3: // SHORT
        case 8: // SSHORT
            value = u16(entry + 8);
            break;
        case 4: // LONG
        case 9: // SLONG
            value = u32(entry + 8);
            break;
        default:
            return std::nullopt;
        }
        if (value < 1 || value > 8)
            return std::nullopt;
        return static_cast<int>(value);
    }
    return std::nullopt;
}

QByteArray restoreOrientationAndProfile(const QByteArray& source, const QByteArray& optimised)
{
    const auto sourceSegments = headerSegments(source);
    const auto optimisedSegments = headerSegments(optimised);
    if (!sourceSegments || !optimisedSegments)
        return optimised;

    bool optimisedHasExif = false;
    bool optimisedHasProfile = false;
    for (const Segment& segment : *optimisedSegments) {
        optimisedHasExif = optimisedHasExif || isExif(optimised, segment);
        optimisedHasProfile = optimisedHasProfile || isICCProfile(optimised, segment);
    }

    QByteArray inserted;
    if (!optimisedHasExif) {
        const std::optional<int> orientation = orientationOf(source, *sourceSegments);
        if (orientation && *orientation != 1)
            inserted += minimalExif(*orientation);
    }
    if (!optimisedHasProfile) {
        for (const Segment& segment : *sourceSegments) {
            if (isICCProfile(source, segment))
                inserted += source.mid(segment.start, segment.end - segment.start);
        }
    }
    if (inserted.isEmpty())
        return optimised;

    qsizetype insertAt = 2;
    if (!optimisedSegments->empty() && optimisedSegments->front().start == 2
        && isJFIF(optimised, optimisedSegments->front()))
        insertAt = optimisedSegments->front().end;
    QByteArray result;
    result.reserve(optimised.size() + inserted.size());
    result += optimised.left(insertAt);
    result += inserted;
    result += optimised.mid(insertAt);
    return result;
}

} // namespace vantro::JPEGMetadata
