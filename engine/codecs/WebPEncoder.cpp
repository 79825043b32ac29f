#include "WebPEncoder.h"

#include "CompressionError.h"
#include "EngineSupport.h"
#include "WebPDecoder.h"
#include "WebPICCProfile.h"

#include <webp/decode.h>
#include <webp/encode.h>

#include <memory>

namespace vantro::WebPEncoder {

namespace {

struct WebPFreeDeleter {
    void operator()(uint8_t* bytes) const { WebPFree(bytes); }
};
using WebPBytes = std::unique_ptr<uint8_t, WebPFreeDeleter>;

} // namespace

std::pair<int64_t, int64_t> readDimensions(const QString& path)
{
    const QByteArray data = readWholeFile(path);
    WebPBitstreamFeatures features{};
    if (WebPGetFeatures(reinterpret_cast<const uint8_t*>(data.constData()), static_cast<size_t>(data.size()), &features)
        != VP8_STATUS_OK)
        throw CompressionError::corruptFile(QStringLiteral("Cannot read WebP dimensions: ") + fileNameOf(path));
    if (WebPDecoder::orientation(data) >= 5)
        return {features.height, features.width};
    return {features.width, features.height};
}

QByteArray encode(const DecodedImage& image, const CompressionMode& mode, const QString& fileName)
{
    const auto fail
        = [&] { return CompressionError::encoderFailed(QStringLiteral("libwebp encoding failed for ") + fileName); };

    // libwebp takes sizes as int and quality as float; anything it would
    // reject or that would not survive the narrowing is refused up front.
    if (image.width < 1 || image.height < 1 || image.width > WEBP_MAX_DIMENSION || image.height > WEBP_MAX_DIMENSION)
        throw fail();
    const int64_t stride = int64_t{image.width} * image.channels();
    if (!fitsInt32(stride) || image.pixels.size() != static_cast<size_t>(stride) * static_cast<size_t>(image.height))
        throw fail();
    if (!mode.isLossless() && (mode.quality() < 0 || mode.quality() > 100))
        throw fail();

    const uint8_t* pixels = image.pixels.data();
    const int width = image.width;
    const int height = image.height;
    const int rowStride = static_cast<int>(stride);
    uint8_t* output = nullptr;
    size_t size = 0;
    if (mode.isLossless()) {
        size = image.hasAlpha ? WebPEncodeLosslessRGBA(pixels, width, height, rowStride, &output)
                              : WebPEncodeLosslessRGB(pixels, width, height, rowStride, &output);
    } else {
        const auto quality = static_cast<float>(mode.quality());
        size = image.hasAlpha ? WebPEncodeRGBA(pixels, width, height, rowStride, quality, &output)
                              : WebPEncodeRGB(pixels, width, height, rowStride, quality, &output);
    }
    const WebPBytes owned(output);
    if (!owned || size < 1)
        throw fail();
    return QByteArray(reinterpret_cast<const char*>(owned.get()), static_cast<qsizetype>(size));
}

QByteArray compress(const QString& path, const CompressionMode& mode)
{
    const QByteArray source = readWholeFile(path);
    const QString fileName = fileNameOf(path);
    const DecodedImage image = WebPDecoder::decode(source, fileName);
    const QByteArray encoded = encode(image, mode, fileName);

    // The samples are re-encoded as stored, so a source tagged with a profile
    // other than sRGB would change colour if the tag were dropped.
    if (const auto profile = WebPICCProfile::iccProfile(source))
        return WebPICCProfile::embedICCProfile(encoded, *profile);
    return encoded;
}

} // namespace vantro::WebPEncoder
