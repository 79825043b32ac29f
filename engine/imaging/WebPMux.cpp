#include "WebPMux.h"

namespace vantro::webpmux {

WebPData dataOf(const QByteArray& bytes)
{
    return {reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size())};
}

std::optional<QByteArray> chunk(const QByteArray& webp, const char* fourcc)
{
    // Without copying: the chunk is copied out before the source goes away.
    const WebPData image = dataOf(webp);
    const Mux mux(WebPMuxCreate(&image, 0));
    if (!mux)
        return std::nullopt;
    WebPData found{};
    if (WebPMuxGetChunk(mux.get(), fourcc, &found) != WEBP_MUX_OK || !found.bytes)
        return std::nullopt;
    return QByteArray(reinterpret_cast<const char*>(found.bytes), static_cast<qsizetype>(found.size));
}

} // namespace vantro::webpmux
