#include "PixelScaler.h"

#include "CompressionError.h"
#include "EngineSupport.h"
#include "PackedPixels.h"
#include "Vips.h"

#include <new>

namespace vantro {

namespace {

CompressionError noSourceImage()
{
    return CompressionError::encoderFailed(QStringLiteral("Cannot create source image for resize"));
}

CompressionError noResizeContext()
{
    return CompressionError::encoderFailed(QStringLiteral("Cannot create resize context"));
}

template <typename Operation>
vips::Image run(Operation operation)
{
    return vips::runOperation(operation, noResizeContext());
}

} // namespace

std::vector<uint8_t> PixelScaler::scale(const std::vector<uint8_t>& pixels, int64_t width, int64_t height,
                                        bool hasAlpha, int64_t toWidth, int64_t toHeight)
{
    const int channels = hasAlpha ? 4 : 3;
    // Within the budget every side and byte count fits the int and size_t
    // parameters below.
    if (!fitsPixelBudget(width, height) || !fitsInt32(width) || !fitsInt32(height)
        || pixels.size() != static_cast<std::size_t>(width * height * channels))
        throw noSourceImage();
    if (toWidth < 1 || toHeight < 1)
        throw noResizeContext();
    if (!fitsPixelBudget(toWidth, toHeight) || !fitsInt32(toWidth) || !fitsInt32(toHeight))
        throw CompressionError::encoderFailed(QStringLiteral("Resize target too large (") + QString::number(toWidth)
                                              + QStringLiteral(" \u00D7 ") + QString::number(toHeight)
                                              + QStringLiteral(" pixels)"));

    vips::ensureStarted();
    // libvips only reads through this image, so the caller's bytes are wrapped rather than copied.
    vips::Image image(vips_image_new_from_memory(const_cast<uint8_t*>(pixels.data()), pixels.size(),
                                                 static_cast<int>(width), static_cast<int>(height), channels,
                                                 VIPS_FORMAT_UCHAR));
    if (!image) {
        vips::takeError();
        throw noSourceImage();
    }

    // Resampling premultiplied samples keeps the colour of transparent pixels
    // from bleeding into their visible neighbours.
    if (hasAlpha)
        image = run([&](VipsImage** out) { return vips_premultiply(image.get(), out, nullptr); });
    const double horizontal = static_cast<double>(toWidth) / static_cast<double>(width);
    const double vertical = static_cast<double>(toHeight) / static_cast<double>(height);
    image = run([&](VipsImage** out) {
        return vips_resize(image.get(), out, horizontal, "vscale", vertical, "kernel", VIPS_KERNEL_LANCZOS3, nullptr);
    });
    // libvips rounds the output size itself; the caller relies on the exact one.
    if (image->Xsize != toWidth || image->Ysize != toHeight) {
        image = run([&](VipsImage** out) {
            return vips_embed(image.get(), out, 0, 0, static_cast<int>(toWidth), static_cast<int>(toHeight), "extend",
                              VIPS_EXTEND_COPY, nullptr);
        });
    }
    if (image->BandFmt != VIPS_FORMAT_UCHAR) {
        // A plain cast would truncate; round first (the cast then clamps ringing to 0..255).
        image = run([&](VipsImage** out) { return vips_round(image.get(), out, VIPS_OPERATION_ROUND_RINT, nullptr); });
        image = run([&](VipsImage** out) { return vips_cast(image.get(), out, VIPS_FORMAT_UCHAR, nullptr); });
    }

    const auto pixelCount = static_cast<std::size_t>(toWidth * toHeight);
    std::vector<uint8_t> result;
    try {
        result.resize(pixelCount * static_cast<std::size_t>(channels));
    } catch (const std::bad_alloc&) {
        throw noResizeContext();
    }
    if (!PackedPixels::writeInto(image.get(), result.data(), result.size()))
        throw noResizeContext();
    image.reset();
    if (hasAlpha)
        PackedPixels::unpremultiplyRGBA(result.data(), pixelCount);
    return result;
}

} // namespace vantro
