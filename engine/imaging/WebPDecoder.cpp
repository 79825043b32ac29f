#include "WebPDecoder.h"

#include "CompressionError.h"
#include "EngineSupport.h"
#include "ImageDecoder.h"
#include "JPEGMetadata.h"
#include "WebPICCProfile.h"
#include "WebPMux.h"

#include <webp/decode.h>

#include <memory>
#include <optional>

namespace vantro::WebPDecoder {

DecodedImage decode(const QByteArray& data, const QString& fileName, Colours colours)
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
    std::unique_ptr<uint8_t, decltype(&WebPFree)> decoded(hasAlpha ? WebPDecodeRGBA(bytes, size, &width, &height)
                                                                   : WebPDecodeRGB(bytes, size, &width, &height),
                                                          &WebPFree);
    if (!decoded || width < 1 || height < 1)
        throw fail();

    DecodedImage image;
    image.width = width;
    image.height = height;
    image.hasAlpha = hasAlpha;
    const size_t length = static_cast<size_t>(width) * static_cast<size_t>(height) * (hasAlpha ? 4u : 3u);
    image.pixels.assign(decoded.get(), decoded.get() + length);
    decoded.reset();

    const int turn = orientation(data);
    const std::optional<QByteArray> profile
        = colours == Colours::sRGB ? WebPICCProfile::iccProfile(data) : std::nullopt;
    if (turn == 1 && !profile)
        return image;
    return ImageDecoder::finish(image, turn, profile);
}

int orientation(const QByteArray& webp)
{
    const std::optional<QByteArray> exif = webpmux::chunk(webp, "EXIF");
    return exif ? JPEGMetadata::exifOrientation(*exif).value_or(1) : 1;
}

} // namespace vantro::WebPDecoder
