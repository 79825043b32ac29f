#include "JPEGEncoder.h"

#include "CompressionError.h"
#include "EngineSupport.h"
#include "JPEGMetadata.h"

#include <compress.h>

#include <cstdlib>
#include <limits>
#include <memory>

namespace vantro::JPEGEncoder {

namespace {

struct CFree {
    void operator()(unsigned char* pointer) const { std::free(pointer); }
};

QStringList jpegtranArguments(const QString& outputPath, const QString& inputPath)
{
    return {QStringLiteral("-copy"),
            QStringLiteral("none"),
            QStringLiteral("-optimize"),
            QStringLiteral("-outfile"),
            outputPath,
            inputPath};
}

} // namespace

QByteArray compress(const DecodedImage& image, int64_t quality, const QString& sourceDescription,
                    const std::optional<QByteArray>& iccProfile)
{
    if (image.hasAlpha)
        throw CompressionError::encoderFailed(QStringLiteral("JPEG encoding does not support an alpha channel"));

    const auto failed = [&] {
        return CompressionError::encoderFailed(QStringLiteral("mozjpeg compression failed for ") + sourceDescription);
    };
    // The shim takes 32-bit sizes and reads width x height x 3 bytes.
    if (!fitsPixelBudget(image.width, image.height) || !fitsInt32(quality)
        || image.pixels.size() != static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * 3)
        throw failed();

    const bool withProfile = iccProfile && !iccProfile->isEmpty();
    unsigned char* output = nullptr;
    unsigned long outputSize = 0;
    const int status = cjpegshim_compress_rgb(
        image.pixels.data(), image.width, image.height, static_cast<int>(quality),
        withProfile ? reinterpret_cast<const unsigned char*>(iccProfile->constData()) : nullptr,
        withProfile ? static_cast<size_t>(iccProfile->size()) : 0, &output, &outputSize);
    const std::unique_ptr<unsigned char, CFree> owned(output);
    if (status != 0 || !owned || outputSize > static_cast<unsigned long>(std::numeric_limits<qsizetype>::max()))
        throw failed();
    return QByteArray(reinterpret_cast<const char*>(owned.get()), static_cast<qsizetype>(outputSize));
}

const OptimiserTool& losslessTool()
{
    static const OptimiserTool tool{QStringLiteral("jpegtran"),
                                    ImageFormat::jpeg,
                                    QStringLiteral(".jpg"),
                                    QStringLiteral("jpegtran binary not found in bundle"),
                                    QStringLiteral("jpegtran failed: "),
                                    jpegtranArguments};
    return tool;
}

QByteArray compressLossless(const QString& inputPath)
{
    const QByteArray optimised = losslessTool().run(inputPath);
    return JPEGMetadata::restoreOrientationAndProfile(readWholeFile(inputPath), optimised);
}

} // namespace vantro::JPEGEncoder
