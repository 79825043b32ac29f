// Before any Qt header: glib's headers use "signals" as a name, which Qt defines.
#include "Vips.h"

#include "WebPEncoder.h"

#include "CompressionError.h"
#include "EngineSupport.h"
#include "JPEGMetadata.h"

#include <webp/decode.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <memory>

namespace vantro {

namespace {

struct WebPFreeDeleter {
    void operator()(uint8_t* bytes) const { WebPFree(bytes); }
};
using WebPBytes = std::unique_ptr<uint8_t, WebPFreeDeleter>;

struct MuxDeleter {
    void operator()(WebPMux* mux) const { WebPMuxDelete(mux); }
};
using Mux = std::unique_ptr<WebPMux, MuxDeleter>;

// Owns the assembled output of a mux until it has been copied.
struct AssembledData {
    WebPData data;
    AssembledData() { WebPDataInit(&data); }
    ~AssembledData() { WebPDataClear(&data); }
    AssembledData(const AssembledData&) = delete;
    AssembledData& operator=(const AssembledData&) = delete;
};

WebPData webpDataOf(const QByteArray& bytes)
{
    return {reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size())};
}

// The payload of a chunk, copied; nothing when the file has none or is not a
// WebP file the mux library can parse.
std::optional<QByteArray> chunkOf(const QByteArray& webp, const char* fourcc)
{
    // Without copying: the chunk is copied out before the source goes away.
    const WebPData image = webpDataOf(webp);
    const Mux mux(WebPMuxCreate(&image, 0));
    if (!mux)
        return std::nullopt;
    WebPData chunk{};
    if (WebPMuxGetChunk(mux.get(), fourcc, &chunk) != WEBP_MUX_OK || !chunk.bytes)
        return std::nullopt;
    return QByteArray(reinterpret_cast<const char*>(chunk.bytes), static_cast<qsizetype>(chunk.size));
}

QString muxStatusText(WebPMuxError status)
{
    return QStringLiteral("WebPMuxError(rawValue: %1)").arg(static_cast<int>(status));
}

} // namespace

namespace WebPEncoder {

std::pair<int64_t, int64_t> readDimensions(const QString& path)
{
    const QByteArray data = readWholeFile(path);
    WebPBitstreamFeatures features{};
    if (WebPGetFeatures(reinterpret_cast<const uint8_t*>(data.constData()), static_cast<size_t>(data.size()),
                        &features)
        != VP8_STATUS_OK)
        throw CompressionError::corruptFile(QStringLiteral("Cannot read WebP dimensions: ") + fileNameOf(path));
    if (WebPDecoder::orientation(data) >= 5)
        return {features.height, features.width};
    return {features.width, features.height};
}

QByteArray encode(const DecodedImage& image, const CompressionMode& mode, const QString& fileName)
{
    const auto fail = [&] {
        return CompressionError::encoderFailed(QStringLiteral("libwebp encoding failed for ") + fileName);
    };

    // libwebp takes sizes as int and quality as float; anything it would
    // reject or that would not survive the narrowing is refused up front.
    if (image.width < 1 || image.height < 1 || image.width > WEBP_MAX_DIMENSION || image.height > WEBP_MAX_DIMENSION)
        throw fail();
    const int64_t stride = int64_t{image.width} * image.channels();
    if (!fitsInt32(stride)
        || image.pixels.size() != static_cast<size_t>(stride) * static_cast<size_t>(image.height))
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

} // namespace WebPEncoder

namespace WebPICCProfile {

QByteArray sRGBICCProfileData()
{
    static const QByteArray profile = [] {
        vips::ensureStarted();
        VipsBlob* raw = nullptr;
        const int status = vips_profile_load("sRGB", &raw, nullptr);
        const vips::Blob blob(raw);
        size_t length = 0;
        const void* bytes = blob ? vips_area_get_data(reinterpret_cast<VipsArea*>(blob.get()), &length, nullptr,
                                                      nullptr, nullptr)
                                 : nullptr;
        if (status != 0 || !bytes || length == 0) {
            vips::takeError();
            throw CompressionError::encoderFailed(
                QStringLiteral("Could not obtain sRGB ICC profile data from libvips"));
        }
        return QByteArray(static_cast<const char*>(bytes), static_cast<qsizetype>(length));
    }();
    return profile;
}

QByteArray embedICCProfile(const QByteArray& webp, const QByteArray& iccProfile)
{
    const WebPData image = webpDataOf(webp);
    const Mux mux(WebPMuxCreate(&image, 1));
    if (!mux)
        throw CompressionError::encoderFailed(QStringLiteral("WebPMuxCreate failed while embedding ICC profile"));

    const WebPData chunk = webpDataOf(iccProfile);
    const WebPMuxError setStatus = WebPMuxSetChunk(mux.get(), "ICCP", &chunk, 1);
    if (setStatus != WEBP_MUX_OK)
        throw CompressionError::encoderFailed(QStringLiteral("WebPMuxSetChunk(ICCP) failed with status ")
                                              + muxStatusText(setStatus));

    AssembledData output;
    const WebPMuxError assembleStatus = WebPMuxAssemble(mux.get(), &output.data);
    if (assembleStatus != WEBP_MUX_OK)
        throw CompressionError::encoderFailed(QStringLiteral("WebPMuxAssemble failed with status ")
                                              + muxStatusText(assembleStatus));
    if (!output.data.bytes || output.data.size == 0)
        throw CompressionError::encoderFailed(QStringLiteral("WebPMuxAssemble produced empty output"));
    return QByteArray(reinterpret_cast<const char*>(output.data.bytes), static_cast<qsizetype>(output.data.size));
}

std::optional<QByteArray> iccProfile(const QByteArray& webp)
{
    return chunkOf(webp, "ICCP");
}

} // namespace WebPICCProfile

int WebPDecoder::orientation(const QByteArray& webp)
{
    const std::optional<QByteArray> exif = chunkOf(webp, "EXIF");
    return exif ? JPEGMetadata::exifOrientation(*exif).value_or(1) : 1;
}

} // namespace vantro
