#include "ImageDecoder.h"

#include "CompressionError.h"
#include "EngineSupport.h"
#include "ImageStructure.h"
#include "PackedPixels.h"
#include "Vips.h"
#include "WebPDecoder.h"

#include <QFile>

#include <fcntl.h>
#include <memory>
#include <new>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace vantro {

namespace {

CompressionError cannotDecode(const QString& fileName)
{
    return CompressionError::corruptFile(QStringLiteral("Cannot decode image: ") + fileName);
}

CompressionError noDecodeContext()
{
    return CompressionError::encoderFailed(QStringLiteral("Cannot create decode context"));
}

// Reads the header only: libvips decodes pixels when the image is first
// written. Only the loader for the detected format runs, so a file cannot
// reach one of libvips' many other loaders. A truncated file fails instead of
// coming out with a grey lower part.
vips::Image openLazily(const QByteArray& nativePath, ImageFormat format, VipsAccess access, const QString& fileName)
{
    const char* path = nativePath.constData();
    return vips::runOperation(
        [&](VipsImage** out) {
            switch (format) {
            case ImageFormat::jpeg:
                return vips_jpegload(path, out, "access", access, "fail_on", VIPS_FAIL_ON_TRUNCATED, nullptr);
            case ImageFormat::png:
                return vips_pngload(path, out, "access", access, "fail_on", VIPS_FAIL_ON_TRUNCATED, nullptr);
            case ImageFormat::heic:
                return vips_heifload(path, out, "access", access, "fail_on", VIPS_FAIL_ON_TRUNCATED, nullptr);
            case ImageFormat::webp:
            case ImageFormat::avif:
                break;
            }
            return -1;
        },
        cannotDecode(fileName));
}

// libvips' PNG loader ignores the animation chunks and gives the first frame
// alone, so an animated PNG would silently come out as a still image. The
// animation control chunk must come before the first image data; only chunk
// headers are read on the way there. A file that cannot be read this way is
// left to the loader to judge.
bool isAnimatedPngFile(const QByteArray& nativePath)
{
    const FileHandle file(::open(nativePath.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat info {};
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    ImageStructure::Bytes bytes(file.get(), static_cast<uint64_t>(info.st_size));
    bool animated = false;
    ImageStructure::walkPng(bytes, [&](const ImageStructure::PngChunk& chunk) {
        animated = chunk.type == "acTL";
        return !animated && chunk.type != "IDAT";
    });
    return animated;
}

// Any colour space, bit depth and channel count to 8-bit sRGB, alpha kept.
vips::Image toEightBitSRGB(vips::Image image)
{
    const bool hasProfile = vips_image_get_typeof(image.get(), VIPS_META_ICC_NAME) != 0;
    if (hasProfile || image->Type == VIPS_INTERPRETATION_CMYK) {
        // libvips passes alpha through unscaled, so the depth must stay that of
        // the input and the scaling to 8 bits happens below. CMYK without a
        // profile gets libvips' fallback CMYK profile.
        const int depth = image->BandFmt == VIPS_FORMAT_USHORT ? 16 : 8;
        VipsImage* out = nullptr;
        const int status = vips_icc_transform(image.get(), &out, "srgb", "embedded", TRUE, "depth", depth, "intent",
                                              VIPS_INTENT_RELATIVE, nullptr);
        vips::Image converted(out);
        // A profile that does not fit the image is ignored, as if there were none.
        if (status == 0 && converted)
            image = std::move(converted);
        else
            vips::takeError();
    }
    if (image->Type != VIPS_INTERPRETATION_sRGB || image->BandFmt != VIPS_FORMAT_UCHAR) {
        image = vips::runOperation(
            [&](VipsImage** out) { return vips_colourspace(image.get(), out, VIPS_INTERPRETATION_sRGB, nullptr); },
            noDecodeContext());
    }
    if (image->BandFmt != VIPS_FORMAT_UCHAR) {
        image = vips::runOperation(
            [&](VipsImage** out) { return vips_cast(image.get(), out, VIPS_FORMAT_UCHAR, nullptr); },
            noDecodeContext());
    }
    return image;
}

// 8-bit sRGB, turned by the orientation it carries.
vips::Image uprightSRGB(vips::Image image)
{
    image = toEightBitSRGB(std::move(image));
    return vips::runOperation([&](VipsImage** out) { return vips_autorot(image.get(), out, nullptr); },
                              noDecodeContext());
}

// Computes an 8-bit image into packed rows of 3 bytes a pixel, or 4 with
// alpha; `failure` is thrown when computing the pixels fails.
DecodedImage packed(vips::Image image, bool hasAlpha, const CompressionError& failure)
{
    const int channels = hasAlpha ? 4 : 3;
    if (image->Bands < channels)
        throw noDecodeContext();
    if (image->Bands > channels) {
        image = vips::runOperation(
            [&](VipsImage** out) { return vips_extract_band(image.get(), out, 0, "n", channels, nullptr); },
            noDecodeContext());
    }

    DecodedImage decoded;
    decoded.width = image->Xsize;
    decoded.height = image->Ysize;
    decoded.hasAlpha = hasAlpha;
    const std::size_t pixelCount = static_cast<std::size_t>(decoded.width) * static_cast<std::size_t>(decoded.height);
    try {
        decoded.pixels.resize(pixelCount * static_cast<std::size_t>(channels));
    } catch (const std::bad_alloc&) {
        throw noDecodeContext();
    }
    if (!PackedPixels::writeInto(image.get(), decoded.pixels.data(), decoded.pixels.size()))
        throw failure;
    return decoded;
}

DecodedImage decodeWithVips(const QString& path, ImageFormat format)
{
    vips::ensureStarted();
    const QString fileName = fileNameOf(path);
    const QByteArray nativePath = QFile::encodeName(path);
    // The loaders would allocate whatever a segment or chunk length claims.
    if (!ImageStructure::lengthsFit(path, format))
        throw cannotDecode(fileName);
    // Turning an animation into its first frame is not compression.
    if (format == ImageFormat::png && isAnimatedPngFile(nativePath))
        throw CompressionError::unsupportedFormat();

    // Sequential access streams the decode straight into the output, but
    // turning the image needs the whole of it at hand: only then is the file
    // opened again for random access.
    vips::Image image = openLazily(nativePath, format, VIPS_ACCESS_SEQUENTIAL, fileName);
    ImageDecoder::checkPixelBudget(image->Xsize, image->Ysize, fileName);
    if (vips_image_get_orientation(image.get()) != 1) {
        image = openLazily(nativePath, format, VIPS_ACCESS_RANDOM, fileName);
        ImageDecoder::checkPixelBudget(image->Xsize, image->Ysize, fileName);
    }

    // Alpha is whatever follows the colour bands, whatever its values.
    const int colourBands = image->Type == VIPS_INTERPRETATION_CMYK ? 4 : (image->Bands <= 2 ? 1 : 3);
    const bool hasAlpha = image->Bands > colourBands;

    // The pixel data is decoded here, so a failure is a fault of the file.
    DecodedImage decoded = packed(uprightSRGB(std::move(image)), hasAlpha, cannotDecode(fileName));
    // The result matches a draw into a premultiplied 8-bit buffer, as the
    // scaler's output does.
    if (hasAlpha)
        PackedPixels::passThroughPremultipliedRGBA(decoded.pixels.data(), decoded.pixels.size() / 4);
    return decoded;
}

} // namespace

DecodedImage ImageDecoder::decode(const QString& path, ImageFormat format)
{
    switch (format) {
    case ImageFormat::jpeg:
    case ImageFormat::png:
    case ImageFormat::heic:
        return decodeWithVips(path, format);
    case ImageFormat::webp:
        return WebPDecoder::decode(readWholeFile(path), fileNameOf(path), WebPDecoder::Colours::sRGB);
    case ImageFormat::avif:
        break;
    }
    throw CompressionError::unsupportedFormat();
}

DecodedImage ImageDecoder::finish(const DecodedImage& stored, int orientation, const std::optional<QByteArray>& profile)
{
    vips::ensureStarted();
    // libvips only reads through this image, so the bytes are wrapped rather than copied.
    const vips::Image memory(vips_image_new_from_memory(const_cast<uint8_t*>(stored.pixels.data()),
                                                        stored.pixels.size(), stored.width, stored.height,
                                                        stored.channels(), VIPS_FORMAT_UCHAR));
    if (!memory) {
        vips::takeError();
        throw noDecodeContext();
    }
    vips::Image image = vips::runOperation(
        [&](VipsImage** out) {
            return vips_copy(memory.get(), out, "interpretation", VIPS_INTERPRETATION_sRGB, nullptr);
        },
        noDecodeContext());
    if (profile)
        vips_image_set_blob_copy(image.get(), VIPS_META_ICC_NAME, profile->constData(),
                                 static_cast<std::size_t>(profile->size()));
    vips_image_set_int(image.get(), VIPS_META_ORIENTATION, orientation);
    return packed(uprightSRGB(std::move(image)), stored.hasAlpha, noDecodeContext());
}

bool ImageDecoder::isAnimatedPng(const QString& path)
{
    return isAnimatedPngFile(QFile::encodeName(path));
}

void ImageDecoder::checkPixelBudget(int64_t width, int64_t height, const QString& fileName)
{
    // The file is not at fault, and no setting can make it fit: a size the
    // engine does not take, told as such.
    if (!fitsPixelBudget(width, height))
        throw CompressionError::invalidConfiguration(
            QStringLiteral("Image too large (%1 \u00D7 %2 pixels; at most %3 pixels are supported): %4")
                .arg(width)
                .arg(height)
                .arg(kMaxPixelCount)
                .arg(fileName));
}

} // namespace vantro
