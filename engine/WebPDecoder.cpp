#include "CompressionError.h"
#include "EngineSupport.h"
#include "WebPEncoder.h"

#include <webp/decode.h>

#include <cstring>
#include <memory>

namespace vantro::WebPDecoder {

DecodedImage decode(const QByteArray& data, const QString& fileName)
{
    const auto fail = [&] { return CompressionError::corruptFile(QStringLiteral("Cannot decode WebP: ") + fileName); };
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.constData());
    const auto size = static_cast<size_t>(data.size());

    WebPBitstreamFeatures features{};
    if (WebPGetFeatures(bytes, size, &features) != VP8_STATUS_OK)
        throw fail();
    if (!fitsPixelBudget(features.width, features.height))
        throw fail();

    int width = 0;
    int height = 0;
    const bool hasAlpha = features.has_alpha != 0;
    std::unique_ptr<uint8_t, decltype(&WebPFree)> decoded(
        hasAlpha ? WebPDecodeRGBA(bytes, size, &width, &height) : WebPDecodeRGB(bytes, size, &width, &height),
        &WebPFree);
    if (!decoded || width < 1 || height < 1)
        throw fail();

    DecodedImage image;
    image.width = width;
    image.height = height;
    image.hasAlpha = hasAlpha;
    const size_t length = static_cast<size_t>(width) * static_cast<size_t>(height) * (hasAlpha ? 4u : 3u);
    image.pixels.assign(decoded.get(), decoded.get() + length);
    return image;
}

} // namespace vantro::WebPDecoder
