#include "AVIFEncoder.h"

#include "CompressionError.h"
#include "EngineSupport.h"
#include "ImageScaler.h"

#include <avif/avif.h>
#include <libyuv/scale.h>

#include <algorithm>
#include <memory>
#include <new>

namespace vantro {

namespace {

struct DecoderDeleter {
    void operator()(avifDecoder* decoder) const { avifDecoderDestroy(decoder); }
};
using Decoder = std::unique_ptr<avifDecoder, DecoderDeleter>;

struct EncoderDeleter {
    void operator()(avifEncoder* encoder) const { avifEncoderDestroy(encoder); }
};
using Encoder = std::unique_ptr<avifEncoder, EncoderDeleter>;

struct ImageDeleter {
    void operator()(avifImage* image) const { avifImageDestroy(image); }
};
using Image = std::unique_ptr<avifImage, ImageDeleter>;

// Owns the encoder's output until it has been copied.
struct EncodedOutput {
    avifRWData data = AVIF_DATA_EMPTY;
    EncodedOutput() = default;
    ~EncodedOutput() { avifRWDataFree(&data); }
    EncodedOutput(const EncodedOutput&) = delete;
    EncodedOutput& operator=(const EncodedOutput&) = delete;
};

static_assert(kMaxPixelCount <= int64_t{UINT32_MAX}, "the pixel budget must fit libavif's size limit");

// The speed of libavif's own command-line encoder. The codec's default, its
// slowest search, takes about a minute for a 2-megapixel photo, which would
// make the window look hung; this one takes a second or two.
constexpr int kEncoderSpeed = 6;

// libyuv's plane scalers work in 16.16 fixed point; libavif's own scaler
// refuses larger sources for the same reason.
constexpr uint32_t kMaxScalableSide = 16384;

// libavif 1.x's mapping of its 0...100 quality onto the AV1 quantiser 0...63.
int quantizerFor(const CompressionMode& mode)
{
    const int64_t quality = mode.isLossless() ? 100 : std::clamp<int64_t>(mode.quality(), 0, 100);
    return static_cast<int>(((100 - quality) * AVIF_QUANTIZER_WORST_QUALITY + 50) / 100);
}

// A decoder parsed over `data`, which must outlive it; nothing when the bytes
// are not an AVIF file libavif accepts or claim a size beyond the budget.
Decoder parsedDecoder(const QByteArray& data)
{
    Decoder decoder(avifDecoderCreate());
    if (!decoder)
        throw std::bad_alloc();
    // Refuses oversized images while parsing, before any pixel memory exists.
    decoder->imageSizeLimit = static_cast<uint32_t>(kMaxPixelCount);
    // Older libheif versions wrote no pixel-information property; their files
    // are sound otherwise, and the bit depth comes from the AV1 configuration.
    decoder->strictFlags &= ~static_cast<avifStrictFlags>(AVIF_STRICT_PIXI_REQUIRED);
    if (avifDecoderSetIOMemory(decoder.get(), reinterpret_cast<const uint8_t*>(data.constData()),
                               static_cast<size_t>(data.size()))
            != AVIF_RESULT_OK
        || avifDecoderParse(decoder.get()) != AVIF_RESULT_OK || !decoder->image
        || !fitsPixelBudget(decoder->image->width, decoder->image->height))
        return nullptr;
    return decoder;
}

template <typename Sample>
void scalePlane(const uint8_t* source, uint32_t sourceRowBytes, uint32_t sourceWidth, uint32_t sourceHeight,
                uint8_t* target, uint32_t targetRowBytes, uint32_t targetWidth, uint32_t targetHeight)
{
    const auto i = [](uint32_t value) { return static_cast<int>(value); };
    if constexpr (sizeof(Sample) == 1) {
        libyuv::ScalePlane(source, i(sourceRowBytes), i(sourceWidth), i(sourceHeight), target, i(targetRowBytes),
                           i(targetWidth), i(targetHeight), libyuv::kFilterBox);
    } else {
        // AVIF samples are at most 12 bits deep, which the 12-bit variant
        // expects; strides are counted in samples.
        libyuv::ScalePlane_12(reinterpret_cast<const uint16_t*>(source), i(sourceRowBytes / 2), i(sourceWidth),
                              i(sourceHeight), reinterpret_cast<uint16_t*>(target), i(targetRowBytes / 2),
                              i(targetWidth), i(targetHeight), libyuv::kFilterBox);
    }
}

// A copy of `source` at the new size: every plane resampled with a box filter
// at the image's own depth and chroma subsampling, every property and piece
// of metadata copied. Nothing when the size or the scaler's limits are not met.
Image scaledImage(const avifImage& source, int64_t width, int64_t height)
{
    if (!fitsPixelBudget(width, height) || source.width > kMaxScalableSide || source.height > kMaxScalableSide
        || !source.yuvPlanes[AVIF_CHAN_Y])
        return nullptr;

    Image target(avifImageCreateEmpty());
    if (!target)
        throw std::bad_alloc();
    // No planes: dimensions, depth, format, range, CICP, transforms, ICC, Exif, XMP.
    if (avifImageCopy(target.get(), &source, 0) != AVIF_RESULT_OK)
        return nullptr;
    target->width = static_cast<uint32_t>(width);
    target->height = static_cast<uint32_t>(height);
    // A clean aperture is a crop window in the old pixel grid; kept, it would
    // point outside the smaller image and make the file invalid.
    target->transformFlags &= ~static_cast<avifTransformFlags>(AVIF_TRANSFORM_CLAP);
    target->clap = avifCleanApertureBox{};

    const bool alpha = source.alphaPlane != nullptr;
    avifPlanesFlags planes = AVIF_PLANES_YUV;
    if (alpha)
        planes |= AVIF_PLANES_A;
    if (avifImageAllocatePlanes(target.get(), planes) != AVIF_RESULT_OK)
        return nullptr;

    avifPixelFormatInfo info{};
    avifGetPixelFormatInfo(source.yuvFormat, &info);
    const auto chroma = [](uint32_t side, int shift) {
        const auto bits = static_cast<uint32_t>(shift);
        return (side + bits) >> bits;
    };
    const bool wide = source.depth > 8;
    const auto scale = wide ? scalePlane<uint16_t> : scalePlane<uint8_t>;

    for (int plane = AVIF_CHAN_Y; plane <= AVIF_CHAN_V; ++plane) {
        const bool luma = plane == AVIF_CHAN_Y;
        if (!source.yuvPlanes[plane] && !target->yuvPlanes[plane])
            continue; // monochrome
        if (!source.yuvPlanes[plane] || !target->yuvPlanes[plane])
            return nullptr;
        scale(source.yuvPlanes[plane], source.yuvRowBytes[plane],
              luma ? source.width : chroma(source.width, info.chromaShiftX),
              luma ? source.height : chroma(source.height, info.chromaShiftY), target->yuvPlanes[plane],
              target->yuvRowBytes[plane], luma ? target->width : chroma(target->width, info.chromaShiftX),
              luma ? target->height : chroma(target->height, info.chromaShiftY));
    }
    if (alpha) {
        if (!target->alphaPlane)
            return nullptr;
        scale(source.alphaPlane, source.alphaRowBytes, source.width, source.height, target->alphaPlane,
              target->alphaRowBytes, target->width, target->height);
    }
    return target;
}

} // namespace

namespace AVIFEncoder {

QByteArray compress(const QString& path, const CompressionMode& mode, const ResizeMode& resize)
{
    const QByteArray data = readWholeFile(path);
    const QString name = fileNameOf(path);
    const auto corrupt = [&] { return CompressionError::corruptFile(QStringLiteral("Cannot decode AVIF: ") + name); };

    const Decoder decoder = parsedDecoder(data);
    if (!decoder)
        throw corrupt();
    // Re-encoding the first frame of an animation would silently turn it into
    // a still image.
    if (decoder->imageCount > 1)
        throw CompressionError::unsupportedFormat();
    if (avifDecoderNextImage(decoder.get()) != AVIF_RESULT_OK || !decoder->image
        || !decoder->image->yuvPlanes[AVIF_CHAN_Y] || !fitsPixelBudget(decoder->image->width, decoder->image->height))
        throw corrupt();

    const avifImage* image = decoder->image;
    Image scaled;
    if (const auto size = ImageScaler::scaledDimensions(image->width, image->height, resize)) {
        scaled = scaledImage(*image, size->first, size->second);
        if (!scaled)
            throw CompressionError::encoderFailed(QStringLiteral("libavif resize failed for ") + name);
        image = scaled.get();
    }

    const Encoder encoder(avifEncoderCreate());
    if (!encoder)
        throw std::bad_alloc();
    // libavif 0.11 has no quality field: the quantisers carry it. Alpha gets
    // the same quality, so the lossless mode keeps transparency exact too.
    const int quantizer = quantizerFor(mode);
    encoder->minQuantizer = quantizer;
    encoder->maxQuantizer = quantizer;
    encoder->minQuantizerAlpha = quantizer;
    encoder->maxQuantizerAlpha = quantizer;
    encoder->speed = kEncoderSpeed;

    EncodedOutput output;
    const avifResult result = avifEncoderWrite(encoder.get(), image, &output.data);
    if (result != AVIF_RESULT_OK || output.data.size < 1 || !output.data.data)
        throw CompressionError::encoderFailed(QStringLiteral("libavif encoding failed for ") + name
                                              + QStringLiteral(": ") + QString::fromUtf8(avifResultToString(result)));
    return QByteArray(reinterpret_cast<const char*>(output.data.data), static_cast<qsizetype>(output.data.size));
}

std::pair<int64_t, int64_t> readDimensions(const QString& path)
{
    const QByteArray data = readWholeFile(path);
    const Decoder decoder = parsedDecoder(data);
    if (!decoder)
        throw CompressionError::corruptFile(QStringLiteral("Cannot read AVIF dimensions: ") + fileNameOf(path));
    return {decoder->image->width, decoder->image->height};
}

} // namespace AVIFEncoder

} // namespace vantro
