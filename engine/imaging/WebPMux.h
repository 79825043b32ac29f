#pragma once

#include <QByteArray>

#include <webp/mux.h>

#include <memory>
#include <optional>

// libwebp's mux library as the engine calls it: owned handles and the one
// way of reading a chunk.
namespace vantro::webpmux {

struct MuxDeleter {
    void operator()(WebPMux* mux) const { WebPMuxDelete(mux); }
};
using Mux = std::unique_ptr<WebPMux, MuxDeleter>;

// A view of the bytes, not a copy: they must outlive every use of it.
WebPData dataOf(const QByteArray& bytes);

// The payload of a chunk, copied; nothing when the file has none or is not a
// WebP file the mux library can parse.
std::optional<QByteArray> chunk(const QByteArray& webp, const char* fourcc);

} // namespace vantro::webpmux
