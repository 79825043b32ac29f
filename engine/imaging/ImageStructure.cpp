#include "ImageStructure.h"

#include "EngineSupport.h"

#include <QFile>

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantro::ImageStructure {

namespace {

constexpr unsigned char kStartOfScan = 0xDA;
// A PNG chunk's length field, type and CRC around its data.
constexpr uint64_t kPngChunkOverhead = 12;
constexpr uint32_t kMaxPngLength = 0x7FFFFFFFu;
// What a search through scan data in a file reads at a time.
constexpr std::size_t kSearchPiece = 64 * 1024;

} // namespace

Bytes::Bytes(const QByteArray& data)
    : m_data(reinterpret_cast<const unsigned char*>(data.constData()))
    , m_size(static_cast<uint64_t>(data.size()))
{
}

Bytes::Bytes(int fd, uint64_t size) : m_fd(fd), m_size(size) {}

const unsigned char* Bytes::at(uint64_t offset, std::size_t count)
{
    if (offset > m_size || m_size - offset < count)
        return nullptr;
    if (m_data)
        return m_data + offset;
    m_buffer.resize(count);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(m_fd, m_buffer.data() + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return nullptr;
        done += static_cast<std::size_t>(n);
    }
    return m_buffer.data();
}

std::optional<uint64_t> Bytes::find(uint64_t offset, unsigned char value)
{
    while (offset < m_size) {
        const auto count
            = static_cast<std::size_t>(std::min<uint64_t>(m_data ? m_size - offset : kSearchPiece, m_size - offset));
        const unsigned char* piece = at(offset, count);
        if (!piece)
            return std::nullopt;
        if (const void* found = std::memchr(piece, value, count))
            return offset + static_cast<uint64_t>(static_cast<const unsigned char*>(found) - piece);
        offset += count;
    }
    return std::nullopt;
}

uint32_t bigEndian16(const unsigned char* p)
{
    return (uint32_t{p[0]} << 8) | uint32_t{p[1]};
}

uint32_t bigEndian32(const unsigned char* p)
{
    return (bigEndian16(p) << 16) | bigEndian16(p + 2);
}

bool isJpegFrameHeader(unsigned char code)
{
    return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
}

JpegWalk walkJpeg(Bytes& bytes, const std::function<bool(const JpegSegment&)>& visit)
{
    const uint64_t n = bytes.size();
    const unsigned char* start = bytes.at(0, 2);
    if (!start || start[0] != 0xFF || start[1] != 0xD8)
        return {JpegEnd::notJpeg, 0};
    uint64_t pos = 2;
    for (;;) {
        const unsigned char* byte = bytes.at(pos, 1);
        if (!byte)
            return {JpegEnd::cutShort, pos};
        if (*byte != 0xFF)
            return {JpegEnd::strayData, pos};
        while ((byte = bytes.at(pos, 1)) && *byte == 0xFF)
            ++pos;
        if (!byte)
            return {JpegEnd::cutShort, pos};
        const unsigned char code = *byte;
        ++pos;
        if (code == 0xD9)
            return {JpegEnd::endOfImage, pos};
        if (code == 0x00 || code == 0x01 || (code >= 0xD0 && code <= 0xD8))
            return {JpegEnd::misplacedMarker, pos - 2};
        const unsigned char* lengthField = bytes.at(pos, 2);
        if (!lengthField)
            return {JpegEnd::segmentCutShort, pos};
        const uint32_t length = bigEndian16(lengthField);
        if (length < 2)
            return {JpegEnd::malformedSegment, pos - 2};
        if (n - pos < length)
            return {JpegEnd::segmentCutShort, pos};
        if (!visit({code, pos, length}))
            return {JpegEnd::stopped, pos};
        pos += length;
        if (code != kStartOfScan)
            continue;
        for (;;) {
            const std::optional<uint64_t> found = bytes.find(pos, 0xFF);
            if (!found || *found + 1 >= n)
                return {JpegEnd::cutShort, n};
            pos = *found;
            const unsigned char* following = bytes.at(pos + 1, 1);
            if (!following)
                return {JpegEnd::cutShort, n};
            const unsigned char next = *following;
            if (next == 0x00 || (next >= 0xD0 && next <= 0xD7))
                pos += 2;
            else if (next == 0xFF)
                pos += 1;
            else
                break;
        }
    }
}

PngWalk walkPng(Bytes& bytes, const std::function<bool(const PngChunk&)>& visit)
{
    static constexpr unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const unsigned char* signature = bytes.at(0, sizeof kSignature);
    if (!signature || std::memcmp(signature, kSignature, sizeof kSignature) != 0)
        return {PngEnd::notPng, {}};
    const uint64_t n = bytes.size();
    uint64_t pos = sizeof kSignature;
    for (;;) {
        const unsigned char* header = n - pos >= kPngChunkOverhead ? bytes.at(pos, 8) : nullptr;
        if (!header)
            return {PngEnd::cutShort, {}};
        const uint32_t length = bigEndian32(header);
        // Copied: the visitor may read through the same buffer.
        std::array<char, 4> type{};
        std::memcpy(type.data(), header + 4, type.size());
        const std::string_view typeName(type.data(), type.size());
        if (length > kMaxPngLength || n - pos - kPngChunkOverhead < length)
            return {PngEnd::chunkCutShort, std::string(typeName)};
        if (!visit({typeName, pos, length}))
            return {PngEnd::stopped, {}};
        if (typeName == "IEND")
            return {PngEnd::imageEnd, {}};
        pos += kPngChunkOverhead + length;
    }
}

bool lengthsFit(const QString& path, ImageFormat format)
{
    if (format != ImageFormat::jpeg && format != ImageFormat::png)
        return true;
    const FileHandle file(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat info {};
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return true;
    Bytes bytes(file.get(), static_cast<uint64_t>(info.st_size));

    if (format == ImageFormat::jpeg) {
        // Only the segments before the first scan are read: after it come
        // scan data and tables, which no decoder allocates for ahead.
        const JpegWalk walk = walkJpeg(bytes, [](const JpegSegment& segment) { return segment.code != kStartOfScan; });
        return walk.end != JpegEnd::segmentCutShort;
    }

    bool fits = true;
    bool first = true;
    const PngWalk walk = walkPng(bytes, [&](const PngChunk& chunk) {
        if (first && (chunk.type != "IHDR" || chunk.length != 13))
            fits = false;
        if (chunk.type != "IDAT" && chunk.length > kMaxPngChunkLength)
            fits = false;
        first = false;
        return fits;
    });
    return fits && walk.end != PngEnd::chunkCutShort;
}

} // namespace vantro::ImageStructure
