#include "ImageDimensions.h"

#include "CompressionError.h"
#include "EngineSupport.h"
#include "ImageDecoder.h"
#include "ImageStructure.h"
#include "Vips.h"
#include "WebPDecoder.h"

#include <QFile>

#include <string_view>

namespace vantro::ImageDimensions {

namespace {

// The header of a file, read by the loader of one of the engine's own formats
// only; the loader's nickname comes with it.
std::pair<vips::Image, std::string_view> readHeader(const QString& path)
{
    vips::ensureStarted();
    const auto cannotRead = [&] {
        return CompressionError::corruptFile(QStringLiteral("Cannot read image dimensions: ") + fileNameOf(path));
    };
    const QByteArray nativePath = QFile::encodeName(path);

    // Only the loaders of the engine's own formats may look at the file.
    const char* loaderType = vips_foreign_find_load(nativePath.constData());
    if (!loaderType) {
        vips::takeError();
        throw cannotRead();
    }
    const char* nickname = vips_nickname_find(g_type_from_name(loaderType));
    const std::string_view loader = nickname ? nickname : "";
    if (loader != "jpegload" && loader != "pngload" && loader != "heifload" && loader != "webpload")
        throw cannotRead();
    // The loader would allocate whatever a segment or chunk length claims.
    if ((loader == "jpegload" && !ImageStructure::lengthsFit(path, ImageFormat::jpeg))
        || (loader == "pngload" && !ImageStructure::lengthsFit(path, ImageFormat::png)))
        throw cannotRead();

    vips::Image header = vips::runOperation(
        [&](VipsImage** out) {
            return vips_call(nickname, nativePath.constData(), out, "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
        },
        cannotRead());
    return {std::move(header), loader};
}

} // namespace

std::pair<int64_t, int64_t> read(const QString& path)
{
    const auto [header, loader] = readHeader(path);
    int64_t width = header->Xsize;
    int64_t height = header->Ysize;
    // Measured as the decoder turns it: libheif has already applied a HEIC's
    // own transformations (libvips reports no orientation for it), and WebP
    // is turned by the orientation its own decoder reads.
    const int orientation = loader == "webpload" ? WebPDecoder::orientation(readWholeFile(path))
                                                 : vips_image_get_orientation(header.get());
    if (orientation >= 5 && orientation <= 8)
        std::swap(width, height);
    return {width, height};
}

std::pair<int64_t, int64_t> storedWithinBudget(const QString& path)
{
    const vips::Image header = readHeader(path).first;
    ImageDecoder::checkPixelBudget(header->Xsize, header->Ysize, fileNameOf(path));
    return {header->Xsize, header->Ysize};
}

} // namespace vantro::ImageDimensions
