#include "TestImages.h"

#include "AVIFEncoder.h"
#include "CompressionError.h"

#include <gtest/gtest.h>

#include <avif/avif.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <system_error>
#include <tuple>
#include <vector>

using namespace vantro;
using namespace vantro::test;

namespace {

struct ImageDeleter {
    void operator()(avifImage* image) const { avifImageDestroy(image); }
};
using Image = std::unique_ptr<avifImage, ImageDeleter>;
using Size = std::pair<int64_t, int64_t>;

struct Spec {
    uint32_t width = 64;
    uint32_t height = 48;
    uint32_t depth = 8;
    avifPixelFormat format = AVIF_PIXEL_FORMAT_YUV420;
    bool alpha = false;
    bool metadata = false; // ICC, Exif, XMP and a rotation
    bool clap = false;
    bool pixi = true; // false: as libheif before 1.12 wrote it
    int quantizer = 24;
};

const uint8_t* bytesOf(const QByteArray& data)
{
    return reinterpret_cast<const uint8_t*>(data.constData());
}

// A smooth picture with some texture, converted to YUV by libavif itself.
Image sourceImage(const Spec& spec)
{
    Image image(avifImageCreate(spec.width, spec.height, spec.depth, spec.format));
    const DecodedImage picture = paintedImage(
        static_cast<int>(spec.width), static_cast<int>(spec.height), spec.alpha, [&](int x, int y, uint8_t* pixel) {
            pixel[0] = static_cast<uint8_t>(x * 255 / static_cast<int>(spec.width));
            pixel[1] = static_cast<uint8_t>(y * 255 / static_cast<int>(spec.height));
            pixel[2] = static_cast<uint8_t>(128 + ((x / 4 + y / 4) % 2) * 40);
            if (spec.alpha)
                pixel[3] = static_cast<uint8_t>(25 + (x + y) * 200 / static_cast<int>(spec.width + spec.height)
                                                + (x / 3 + y / 5) % 2 * 30);
        });
    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, image.get());
    rgb.format = spec.alpha ? AVIF_RGB_FORMAT_RGBA : AVIF_RGB_FORMAT_RGB;
    rgb.depth = 8;
    rgb.pixels = const_cast<uint8_t*>(picture.pixels.data());
    rgb.rowBytes = spec.width * static_cast<uint32_t>(picture.channels());
    EXPECT_EQ(avifImageRGBToYUV(image.get(), &rgb), AVIF_RESULT_OK);
    if (spec.metadata) {
        const QByteArray icc = builtInProfile("p3");
        const QByteArray exif = QByteArray::fromHex("49492a00080000000000000000000000"); // an empty IFD
        const QByteArray xmp = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"/>";
        avifImageSetProfileICC(image.get(), bytesOf(icc), static_cast<size_t>(icc.size()));
        avifImageSetMetadataExif(image.get(), bytesOf(exif), static_cast<size_t>(exif.size()));
        avifImageSetMetadataXMP(image.get(), bytesOf(xmp), static_cast<size_t>(xmp.size()));
        image->transformFlags |= AVIF_TRANSFORM_IROT;
        image->irot.angle = 1;
    }
    if (spec.clap) {
        const avifCropRect rect{4, 2, spec.width - 8, spec.height - 4};
        avifDiagnostics diag{};
        EXPECT_TRUE(
            avifCleanApertureBoxConvertCropRect(&image->clap, &rect, spec.width, spec.height, spec.format, &diag));
        image->transformFlags |= AVIF_TRANSFORM_CLAP;
    }
    return image;
}

QByteArray avifOf(const Spec& spec)
{
    const Image image = sourceImage(spec);
    const avifImage* frames[] = {image.get()};
    return avifEncode(frames, 1, spec.quantizer);
}

// The first image as libavif, with its strict checks, decodes it; null when it refuses the file.
Image decode(const QByteArray& data)
{
    Image image(avifImageCreateEmpty());
    const std::unique_ptr<avifDecoder, decltype(&avifDecoderDestroy)> decoder(avifDecoderCreate(), &avifDecoderDestroy);
    const auto size = static_cast<size_t>(data.size());
    return avifDecoderReadMemory(decoder.get(), image.get(), bytesOf(data), size) == AVIF_RESULT_OK ? std::move(image)
                                                                                                    : nullptr;
}

QByteArray copyOf(const avifRWData& data)
{
    return QByteArray(reinterpret_cast<const char*>(data.data), static_cast<qsizetype>(data.size));
}

// Everything but the samples that a re-encoding must carry over.
auto propertiesOf(const avifImage& i)
{
    return std::tuple(i.depth, i.yuvFormat, i.yuvRange, i.colorPrimaries, i.transferCharacteristics,
                      i.matrixCoefficients, i.alphaPlane != nullptr, copyOf(i.icc), copyOf(i.exif), copyOf(i.xmp),
                      i.transformFlags & AVIF_TRANSFORM_IROT, i.irot.angle);
}

struct Plane {
    const uint8_t* data;
    uint32_t rowBytes, width, height;
};

// Y, U, V and A as present, each with its own size.
std::vector<Plane> planesOf(const avifImage& image)
{
    avifPixelFormatInfo info{};
    avifGetPixelFormatInfo(image.yuvFormat, &info);
    const auto chroma = [](uint32_t side, int shift) { return (side + uint32_t(shift)) >> uint32_t(shift); };
    std::vector<Plane> planes;
    for (int i = AVIF_CHAN_Y; i <= AVIF_CHAN_V; ++i) {
        if (image.yuvPlanes[i])
            planes.push_back({image.yuvPlanes[i], image.yuvRowBytes[i],
                              i == AVIF_CHAN_Y ? image.width : chroma(image.width, info.chromaShiftX),
                              i == AVIF_CHAN_Y ? image.height : chroma(image.height, info.chromaShiftY)});
    }
    if (image.alphaPlane)
        planes.push_back({image.alphaPlane, image.alphaRowBytes, image.width, image.height});
    return planes;
}

uint32_t sampleAt(const Plane& plane, uint32_t depth, uint32_t x, uint32_t y)
{
    const uint8_t* row = plane.data + size_t{y} * plane.rowBytes;
    uint16_t wide = 0;
    if (depth > 8)
        std::memcpy(&wide, row + size_t{x} * 2, 2);
    return depth > 8 ? wide : row[x];
}

bool samePlane(const Plane& a, const Plane& b, uint32_t depth)
{
    const size_t rowLength = size_t{a.width} * (depth > 8 ? 2 : 1);
    for (uint32_t y = 0; y < a.height; ++y) {
        if (std::memcmp(a.data + size_t{y} * a.rowBytes, b.data + size_t{y} * b.rowBytes, rowLength))
            return false;
    }
    return true;
}

bool samePlanes(const avifImage& a, const avifImage& b)
{
    const auto want = planesOf(a);
    const auto got = planesOf(b);
    bool same = a.width == b.width && a.height == b.height && a.depth == b.depth && want.size() == got.size();
    for (size_t p = 0; same && p < want.size(); ++p)
        same = samePlane(want[p], got[p], a.depth);
    return same;
}

class AVIFEncoderTest : public TemporaryFolderTest {};

struct Case {
    const char* name;
    Spec spec;
    ResizeMode resize;
    uint32_t width, height;
};

class AVIFRecompressionTest : public AVIFEncoderTest, public testing::WithParamInterface<Case> {};

// Lossless re-encoding reproduces the decoded planes exactly in the source's
// own format and depth; a resize scales every plane, chroma and alpha
// included. Either way every property and piece of metadata stays.
TEST_P(AVIFRecompressionTest, KeepsThePlanesAndEveryProperty)
{
    const Case& c = GetParam();
    QByteArray bytes = avifOf(c.spec);
    const Image source = decode(bytes);
    ASSERT_TRUE(source);
    if (!c.spec.pixi) {
        // Renamed to a type nobody knows, the property is ignored as if absent.
        bytes.replace("pixi", "xpix");
        ASSERT_FALSE(decode(bytes)) << "strict libavif no longer refuses the file";
    }
    const QString path = write("source.avif", bytes);
    EXPECT_EQ(AVIFEncoder::readDimensions(path), Size(c.spec.width, c.spec.height));
    const Image output = decode(AVIFEncoder::compress(path, CompressionMode::lossless(), c.resize));
    ASSERT_TRUE(output);
    EXPECT_EQ(propertiesOf(*output), propertiesOf(*source));
    // A crop window belongs to the old pixel grid; kept, it would point
    // outside a smaller image and make the file invalid.
    const bool unscaled = c.resize == ResizeMode::none();
    EXPECT_EQ(output->transformFlags & AVIF_TRANSFORM_CLAP, unscaled && c.spec.clap ? AVIF_TRANSFORM_CLAP : 0);
    if (unscaled) {
        EXPECT_TRUE(samePlanes(*source, *output));
        return;
    }
    ASSERT_EQ(Size(output->width, output->height), Size(c.width, c.height));
    // Each sample lies within the range of the source samples around its
    // footprint: the picture is still at the same relative place.
    const auto want = planesOf(*source);
    const auto got = planesOf(*output);
    ASSERT_EQ(got.size(), want.size());
    const uint32_t depth = c.spec.depth;
    const uint32_t slack = 2u << (depth - 8);
    for (size_t p = 0; p < want.size(); ++p) {
        const auto around = [](uint32_t at, uint32_t length, uint32_t sourceLength) {
            const uint32_t first = at * sourceLength / length;
            const uint32_t last = ((at + 1) * sourceLength + length - 1) / length;
            return std::pair<uint32_t, uint32_t>{first > 0 ? first - 1 : 0, std::min(last + 1, sourceLength)};
        };
        for (uint32_t y = 0; y < got[p].height; ++y) {
            for (uint32_t x = 0; x < got[p].width; ++x) {
                const auto [x0, x1] = around(x, got[p].width, want[p].width);
                const auto [y0, y1] = around(y, got[p].height, want[p].height);
                uint32_t low = UINT32_MAX;
                uint32_t high = 0;
                for (uint32_t sy = y0; sy < y1; ++sy) {
                    for (uint32_t sx = x0; sx < x1; ++sx) {
                        low = std::min(low, sampleAt(want[p], depth, sx, sy));
                        high = std::max(high, sampleAt(want[p], depth, sx, sy));
                    }
                }
                const uint32_t value = sampleAt(got[p], depth, x, y);
                ASSERT_TRUE(value + slack >= low && value <= high + slack)
                    << "plane " << p << " at " << x << "," << y << ": " << value << " not in " << low << "..." << high;
            }
        }
    }
}

constexpr auto k422 = AVIF_PIXEL_FORMAT_YUV422;
constexpr auto k444 = AVIF_PIXEL_FORMAT_YUV444;
constexpr auto kGrey = AVIF_PIXEL_FORMAT_YUV400;

INSTANTIATE_TEST_SUITE_P(
    Recompression, AVIFRecompressionTest,
    testing::Values(
        Case{"Lossless420AlphaMetadata", {.alpha = true, .metadata = true}, ResizeMode::none(), 64, 48},
        Case{"Lossless444Cropped", {.format = k444, .clap = true}, ResizeMode::none(), 64, 48},
        Case{"Lossless10Bit422AlphaOddSize",
             {.width = 33, .height = 17, .depth = 10, .format = k422, .alpha = true},
             ResizeMode::none(),
             33,
             17},
        Case{"Lossless12BitGrey", {.depth = 12, .format = kGrey}, ResizeMode::none(), 64, 48},
        Case{"LosslessWithoutPixelInformation", {.alpha = true, .pixi = false}, ResizeMode::none(), 64, 48},
        Case{"ShrinkWithoutPixelInformation", {.pixi = false}, ResizeMode::maxWidth(32), 32, 24},
        Case{"Shrink420AlphaMetadata", {.alpha = true, .metadata = true}, ResizeMode::maxDimension(32), 32, 24},
        Case{"Shrink10Bit422AlphaCropped",
             {.depth = 10, .format = k422, .alpha = true, .clap = true},
             ResizeMode::percentage(50),
             32,
             24},
        Case{"Enlarge444", {.format = k444}, ResizeMode::exactWidth(128), 128, 96},
        Case{"Shrink12BitGrey", {.depth = 12, .format = kGrey}, ResizeMode::maxHeight(12), 16, 12}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(AVIFEncoderTest, QualityMapsOntoTheQuantiser)
{
    const QString path = write("photo.avif", avifOf({.width = 96, .height = 64, .alpha = true, .quantizer = 0}));
    const auto at = [&](int64_t quality) {
        return AVIFEncoder::compress(path, CompressionMode::lossy(quality), ResizeMode::none());
    };
    const QByteArray lossless = AVIFEncoder::compress(path, CompressionMode::lossless(), ResizeMode::none());
    EXPECT_LT(at(80).size(), lossless.size());
    EXPECT_LE(at(20).size(), at(80).size());
    // Quality 100 is the lossless setting; values beyond the scale are held to its ends.
    EXPECT_EQ(at(100), lossless);
    EXPECT_EQ(at(1000), lossless);
    EXPECT_EQ(at(-5), at(0));

    // Transparency follows the quality too.
    const Image source = decode(readFile(path));
    const Image lossy = decode(at(20));
    ASSERT_TRUE(source && lossy && lossy->alphaPlane);
    EXPECT_FALSE(samePlane(planesOf(*source).back(), planesOf(*lossy).back(), 8));
}

TEST_F(AVIFEncoderTest, RefusesWhatItCannotRecompress)
{
    const QByteArray valid = avifOf({});
    // A header that claims more pixels than the engine handles fails before
    // any pixel memory is taken.
    QByteArray huge = valid;
    const qsizetype ispe = huge.indexOf("ispe");
    ASSERT_GT(ispe, 0);
    huge.replace(ispe + 8, 8, QByteArray::fromHex("0000500000005000")); // 20480 x 20480
    for (const auto& [name, bytes] : {std::pair{"notes.avif", QByteArray("just some text, not an image")},
                                      {"header.avif", valid.left(valid.size() / 4)},
                                      {"huge.avif", huge}}) {
        const QString path = write(name, bytes);
        EXPECT_EQ(errorOf([&] { AVIFEncoder::readDimensions(path); }),
                  CompressionError::corruptFile(QStringLiteral("Cannot read AVIF dimensions: ") + name));
        EXPECT_EQ(errorOf([&] { AVIFEncoder::compress(path, CompressionMode::lossless(), ResizeMode::none()); }),
                  CompressionError::corruptFile(QStringLiteral("Cannot decode AVIF: ") + name));
    }
    // Files without pixel information are read, but the other strict checks
    // stay: a crop window wider than the image is refused.
    QByteArray badCrop = avifOf({.clap = true});
    const qsizetype clap = badCrop.indexOf("clap");
    ASSERT_GT(clap, 0);
    const QString cropped = write("crop.avif", badCrop.replace(clap + 4, 8, QByteArray::fromHex("000003e800000001")));
    EXPECT_EQ(errorOf([&] { AVIFEncoder::readDimensions(cropped); }),
              CompressionError::corruptFile(QStringLiteral("Cannot read AVIF dimensions: crop.avif")));
    const QString tail = write("tail.avif", valid.left(valid.size() - 40));
    EXPECT_EQ(errorOf([&] { AVIFEncoder::compress(tail, CompressionMode::lossy(50), ResizeMode::none()); }),
              CompressionError::corruptFile(QStringLiteral("Cannot decode AVIF: tail.avif")));

    // Sizes the scaler cannot produce.
    const QString small = write("small.avif", valid);
    EXPECT_EQ(errorOf([&] { AVIFEncoder::compress(small, CompressionMode::lossless(), ResizeMode::percentage(1e6)); }),
              CompressionError::encoderFailed(QStringLiteral("libavif resize failed for small.avif")));
    const QString wide = write("wide.avif", avifOf({.width = 16400, .height = 2, .quantizer = 60}));
    EXPECT_EQ(AVIFEncoder::readDimensions(wide), Size(16400, 2));
    EXPECT_EQ(errorOf([&] { AVIFEncoder::compress(wide, CompressionMode::lossy(50), ResizeMode::maxWidth(1000)); }),
              CompressionError::encoderFailed(QStringLiteral("libavif resize failed for wide.avif")));

    // Only the first frame of an animation would survive.
    const Image frame = sourceImage({});
    const avifImage* frames[] = {frame.get(), frame.get()};
    const QString animation = write("animation.avif", avifEncode(frames, 2, 30));
    EXPECT_EQ(errorOf([&] { AVIFEncoder::compress(animation, CompressionMode::lossy(50), ResizeMode::none()); }),
              CompressionError::unsupportedFormat());

    // File system errors are not the codec's.
    const QString missing = dir.filePath("missing.avif");
    EXPECT_THROW(AVIFEncoder::compress(missing, CompressionMode::lossless(), ResizeMode::none()), std::system_error);
    EXPECT_THROW(AVIFEncoder::readDimensions(missing), std::system_error);
}

} // namespace
