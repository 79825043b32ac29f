#pragma once

#include "ImageFormat.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantro {

// The one walk over a JPEG's marker segments and a PNG's chunks, used to
// check a file before any library is given it and a tool's output after.
namespace ImageStructure {

// Bytes held in memory, or an open file read a piece at a time, so that a
// walk over a large file's chunk headers holds only the piece it looks at.
class Bytes {
public:
    explicit Bytes(const QByteArray& data);
    Bytes(int fd, uint64_t size);

    uint64_t size() const { return m_size; }
    // The `count` bytes at `offset`, valid until the next call; null when
    // they run past the end or cannot be read.
    const unsigned char* at(uint64_t offset, std::size_t count);
    // Where the first byte `value` at or after `offset` is, if anywhere.
    std::optional<uint64_t> find(uint64_t offset, unsigned char value);

private:
    const unsigned char* m_data = nullptr;
    int m_fd = -1;
    uint64_t m_size = 0;
    std::vector<unsigned char> m_buffer;
};

uint32_t bigEndian16(const unsigned char* p);
uint32_t bigEndian32(const unsigned char* p);

// A length-prefixed JPEG segment: its marker code, where its length field
// starts and that length, which counts the field itself.
struct JpegSegment {
    unsigned char code;
    uint64_t offset;
    uint32_t length;
};

enum class JpegEnd {
    endOfImage, // the end-of-image marker
    stopped, // the visitor asked to stop
    notJpeg, // no start-of-image marker
    cutShort, // the bytes end before the next marker or inside scan data
    segmentCutShort, // a segment claims more bytes than there are
    strayData, // a byte other than 0xFF where a marker belongs
    misplacedMarker, // a marker that cannot stand between segments
    malformedSegment, // a segment length below 2
};

struct JpegWalk {
    JpegEnd end;
    uint64_t position; // of the fault, or where the walk stopped
};

// Hands every segment whose bytes are all there to `visit`, which returns
// false to stop. The entropy-coded data after a start-of-scan segment has no
// length: it runs to the first 0xFF that is neither a stuffed zero nor a
// restart marker.
JpegWalk walkJpeg(Bytes& bytes, const std::function<bool(const JpegSegment&)>& visit);

// Frame headers (SOFn) are the only segments that give the image's size.
bool isJpegFrameHeader(unsigned char code);

// A PNG chunk: its type, where its length field starts and its data length.
struct PngChunk {
    std::string_view type;
    uint64_t offset;
    uint32_t length;
};

enum class PngEnd {
    imageEnd, // the IEND chunk, visited
    stopped, // the visitor asked to stop
    notPng, // no PNG signature
    cutShort, // fewer bytes left than a chunk's length, type and CRC
    chunkCutShort, // a chunk claims more data than the bytes hold
};

struct PngWalk {
    PngEnd end;
    std::string type; // of the chunk cut short
};

// Hands every chunk whose data and CRC are all there to `visit`, which
// returns false to stop; `visit` may read the chunk through `bytes`.
PngWalk walkPng(Bytes& bytes, const std::function<bool(const PngChunk&)>& visit);

// Whether a file's segment and chunk lengths are safe to give a decoder or a
// tool: no JPEG segment before the first scan and no PNG chunk may claim more
// bytes than the file holds, a PNG must open with a whole image header, and
// no PNG chunk other than image data may exceed kMaxPngChunkLength. Libraries
// allocate what a length claims before they find the bytes missing. Other
// faults, and files that cannot be opened, are left to the libraries to judge;
// other formats always pass.
bool lengthsFit(const QString& path, ImageFormat format);

// Text, profiles, Exif and private data stay far below this in real files.
inline constexpr uint32_t kMaxPngChunkLength = 64u << 20;

} // namespace ImageStructure

} // namespace vantro
