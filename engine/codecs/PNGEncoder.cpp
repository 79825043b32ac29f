// Before any Qt header: glib's headers use "signals" as a name, which Qt defines.
#include "Vips.h"

#include "PNGEncoder.h"

#include "CompressionError.h"
#include "EngineSupport.h"

#include <memory>

namespace vantro::PNGEncoder {

namespace {

QStringList oxipngArguments(const QString& outputPath, const QString& inputPath)
{
    return {QStringLiteral("--out"), outputPath, inputPath};
}

// The plain PNG that oxipng starts from: what libvips writes with its default
// options for an sRGB image without attached metadata.
QByteArray encodeFreshPNG(const DecodedImage& decoded)
{
    const auto cannotCreate
        = [] { return CompressionError::encoderFailed(QStringLiteral("Cannot create image for resized PNG")); };
    if (!fitsPixelBudget(decoded.width, decoded.height))
        throw cannotCreate();
    const auto bands = static_cast<size_t>(decoded.channels());
    if (decoded.pixels.size() != static_cast<size_t>(decoded.width) * static_cast<size_t>(decoded.height) * bands)
        throw cannotCreate();

    vips::ensureStarted();
    // Borrows the pixels: they outlive every image made from them here.
    const vips::Image memory(vips_image_new_from_memory(decoded.pixels.data(), decoded.pixels.size(), decoded.width,
                                                        decoded.height, decoded.channels(), VIPS_FORMAT_UCHAR));
    VipsImage* tagged = nullptr;
    if (!memory || vips_copy(memory.get(), &tagged, "interpretation", VIPS_INTERPRETATION_sRGB, nullptr) != 0) {
        vips::takeError();
        throw cannotCreate();
    }
    const vips::Image image(tagged);

    void* buffer = nullptr;
    size_t length = 0;
    const int status = vips_pngsave_buffer(image.get(), &buffer, &length, nullptr);
    const std::unique_ptr<void, vips::GFree> owned(buffer);
    if (status != 0 || !owned || length == 0) {
        vips::takeError();
        throw CompressionError::encoderFailed(QStringLiteral("Failed to finalize resized PNG"));
    }
    return QByteArray(static_cast<const char*>(owned.get()), static_cast<qsizetype>(length));
}

} // namespace

const OptimiserTool& losslessTool()
{
    static const OptimiserTool tool{QStringLiteral("oxipng"),
                                    ImageFormat::png,
                                    QStringLiteral(".png"),
                                    QStringLiteral("oxipng binary not found in bundle"),
                                    QStringLiteral("oxipng failed: "),
                                    oxipngArguments};
    return tool;
}

QByteArray compressLossless(const QString& inputPath)
{
    return losslessTool().run(inputPath);
}

QByteArray compressResized(const DecodedImage& decoded)
{
    return losslessTool().runOnData(encodeFreshPNG(decoded),
                                    QStringLiteral("Failed to stage resized PNG for oxipng: "));
}

} // namespace vantro::PNGEncoder
