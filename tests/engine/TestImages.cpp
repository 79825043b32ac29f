#include "TestImages.h"

#include <QFile>

#include <avif/avif.h>

#include <algorithm>
#include <memory>

namespace vantro::test {

DecodedImage photoLike(int width, int height, bool alpha)
{
    DecodedImage image;
    image.width = width;
    image.height = height;
    image.hasAlpha = alpha;
    const auto channels = static_cast<size_t>(image.channels());
    image.pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * channels);
    uint32_t noise = 2024;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            noise = noise * 1103515245u + 12345u;
            const size_t at = (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * channels;
            const int grain = static_cast<int>(noise >> 28) - 8;
            image.pixels[at] = static_cast<uint8_t>(std::clamp(x * 255 / width + grain, 0, 255));
            image.pixels[at + 1] = static_cast<uint8_t>(std::clamp((x + y) * 127 / (width + height) + 60 + grain, 0, 255));
            image.pixels[at + 2] = static_cast<uint8_t>(std::clamp(y * 255 / height - grain, 0, 255));
            if (alpha)
                image.pixels[at + 3] = 200;
        }
    }
    return image;
}

DecodedImage flatImage(int width, int height, std::vector<uint8_t> pixel)
{
    DecodedImage image;
    image.width = width;
    image.height = height;
    image.hasAlpha = pixel.size() == 4;
    for (int i = 0; i < width * height; ++i)
        image.pixels.insert(image.pixels.end(), pixel.begin(), pixel.end());
    return image;
}

QByteArray vipsEncode(const DecodedImage& image, const char* suffix, std::optional<int> orientation,
                      const QByteArray& iccProfile)
{
    vips::ensureStarted();
    const vips::Image memory(vips_image_new_from_memory_copy(image.pixels.data(), image.pixels.size(), image.width,
                                                             image.height, image.channels(), VIPS_FORMAT_UCHAR));
    VipsImage* raw = nullptr;
    EXPECT_EQ(vips_copy(memory.get(), &raw, "interpretation", VIPS_INTERPRETATION_sRGB, nullptr), 0);
    const vips::Image tagged(raw);
    if (orientation)
        vips_image_set_int(tagged.get(), VIPS_META_ORIENTATION, *orientation);
    if (!iccProfile.isEmpty())
        vips_image_set_blob_copy(tagged.get(), VIPS_META_ICC_NAME, iccProfile.constData(),
                                 static_cast<size_t>(iccProfile.size()));
    void* buffer = nullptr;
    size_t length = 0;
    EXPECT_EQ(vips_image_write_to_buffer(tagged.get(), suffix, &buffer, &length, nullptr), 0) << vips::takeError();
    const std::unique_ptr<void, vips::GFree> owned(buffer);
    return QByteArray(static_cast<const char*>(buffer), static_cast<qsizetype>(length));
}

QByteArray builtInProfile(const char* name)
{
    vips::ensureStarted();
    VipsBlob* raw = nullptr;
    EXPECT_EQ(vips_profile_load(name, &raw, nullptr), 0) << vips::takeError();
    const vips::Blob blob(raw);
    size_t length = 0;
    const void* bytes = vips_area_get_data(reinterpret_cast<VipsArea*>(blob.get()), &length, nullptr, nullptr, nullptr);
    return QByteArray(static_cast<const char*>(bytes), static_cast<qsizetype>(length));
}

QByteArray avifPicture(int width, int height, bool alpha, int quantizer)
{
    const DecodedImage picture = photoLike(width, height, alpha);
    const std::unique_ptr<avifImage, decltype(&avifImageDestroy)> image(
        avifImageCreate(static_cast<uint32_t>(width), static_cast<uint32_t>(height), 8, AVIF_PIXEL_FORMAT_YUV420),
        &avifImageDestroy);
    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, image.get());
    rgb.format = alpha ? AVIF_RGB_FORMAT_RGBA : AVIF_RGB_FORMAT_RGB;
    rgb.depth = 8;
    rgb.pixels = const_cast<uint8_t*>(picture.pixels.data());
    rgb.rowBytes = static_cast<uint32_t>(width * picture.channels());
    EXPECT_EQ(avifImageRGBToYUV(image.get(), &rgb), AVIF_RESULT_OK);

    const std::unique_ptr<avifEncoder, decltype(&avifEncoderDestroy)> encoder(avifEncoderCreate(), &avifEncoderDestroy);
    encoder->speed = AVIF_SPEED_FASTEST;
    encoder->minQuantizer = encoder->maxQuantizer = quantizer;
    encoder->minQuantizerAlpha = encoder->maxQuantizerAlpha = quantizer;
    avifRWData output = AVIF_DATA_EMPTY;
    const avifResult result = avifEncoderWrite(encoder.get(), image.get(), &output);
    EXPECT_EQ(result, AVIF_RESULT_OK) << avifResultToString(result);
    QByteArray bytes(reinterpret_cast<const char*>(output.data), static_cast<qsizetype>(output.size));
    avifRWDataFree(&output);
    return bytes;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    EXPECT_EQ(file.write(bytes), bytes.size());
}

} // namespace vantro::test
