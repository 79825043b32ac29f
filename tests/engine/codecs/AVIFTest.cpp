#include "TestImages.h"

#include "AVIFEncoder.h"
#include "CompressionError.h"

#include <gtest/gtest.h>

#include <avif/avif.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <system_error>
#include <utility>
#include <vector>

using namespace vantro;
using namespace vantro::test;

namespace {

struct ImageDeleter {
    void operator()(avifImage* image) const { avifImageDestroy(image); }
};
using Image = std::unique_ptr<avifImage, ImageDeleter>;

struct Spec {
    uint32_t width = 64;
    uint32_t height = 48;
    uint32_t depth = 8;
    avifPixelFormat format = AVIF_PIXEL_FORMAT_YUV420;
    bool alpha = false;
    bool metadata = false; // ICC, Exif, XMP and a rotation
    bool clap = false;
    int quantizer = 24;
};

// A minimal little-endian TIFF header with an empty IFD.
const QByteArray kExif = QByteArray::fromHex("49492a00080000000000000000000000");
const QByteArray kXmp = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"/>";

const uint8_t* bytesOf(const QByteArray& data)
{
    return reinterpret_cast<const uint8_t*>(data.constData());
}

// A smooth picture with some texture, converted to YUV by libavif itself.
Image sourceImage(const Spec& spec)
{
    Image image(avifImageCreate(spec.width, spec.height, spec.depth, spec.format));
    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, image.get());
    rgb.format = spec.alpha ? AVIF_RGB_FORMAT_RGBA : AVIF_RGB_FORMAT_RGB;
    rgb.depth = 8;
    avifRGBImageAllocatePixels(&rgb);
    const uint32_t channels = spec.alpha ? 4 : 3;
    for (uint32_t y = 0; y < spec.height; ++y) {
        uint8_t* row = rgb.pixels + size_t{y} * rgb.rowBytes;
        for (uint32_t x = 0; x < spec.width; ++x) {
            uint8_t* pixel = row + size_t{x} * channels;
            pixel[0] = static_cast<uint8_t>(x * 255 / spec.width);
            pixel[1] = static_cast<uint8_t>(y * 255 / spec.height);
            pixel[2] = static_cast<uint8_t>(128 + ((x / 4 + y / 4) % 2) * 40);
            if (spec.alpha)
                pixel[3] = static_cast<uint8_t>(25 + (x + y) * 200 / (spec.width + spec.height)
                                                + (x / 3 + y / 5) % 2 * 30);
        }
    }
    EXPECT_EQ(avifImageRGBToYUV(image.get(), &rgb), AVIF_RESULT_OK);
    avifRGBImageFreePixels(&rgb);

    if (spec.metadata) {
        const QByteArray icc = builtInProfile("p3");
        avifImageSetProfileICC(image.get(), bytesOf(icc), static_cast<size_t>(icc.size()));
        avifImageSetMetadataExif(image.get(), bytesOf(kExif), static_cast<size_t>(kExif.size()));
        avifImageSetMetadataXMP(image.get(), bytesOf(kXmp), static_cast<size_t>(kXmp.size()));
        image->transformFlags |= AVIF_TRANSFORM_IROT;
        image->irot.angle = 1;
    }
    if (spec.clap) {
        const avifCropRect rect{4, 2, spec.width - 8, spec.height - 4};
        avifDiagnostics diag{};
        EXPECT_TRUE(avifCleanApertureBoxConvertCropRect(&image->clap, &rect, spec.width, spec.height, spec.format,
                                                        &diag));
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

// The first image with its planes copied out of the decoder; null when libavif
// (with its strict checks) refuses the file.
Image decode(const QByteArray& data)
{
    Image image(avifImageCreateEmpty());
    avifDecoder* decoder = avifDecoderCreate();
    const avifResult result
        = avifDecoderReadMemory(decoder, image.get(), bytesOf(data), static_cast<size_t>(data.size()));
    avifDecoderDestroy(decoder);
    if (result != AVIF_RESULT_OK)
        return nullptr;
    return image;
}

QByteArray copyOf(const avifRWData& data)
{
    return QByteArray(reinterpret_cast<const char*>(data.data), static_cast<qsizetype>(data.size));
}

struct PlaneView {
    const uint8_t* data;
    uint32_t rowBytes;
    uint32_t width;
    uint32_t height;
};

// Y, U, V and A as present, each with its own size.
std::vector<PlaneView> planesOf(const avifImage& image)
{
    avifPixelFormatInfo info{};
    avifGetPixelFormatInfo(image.yuvFormat, &info);
    const auto chroma = [](uint32_t side, int shift) {
        return (side + static_cast<uint32_t>(shift)) >> static_cast<uint32_t>(shift);
    };
    std::vector<PlaneView> planes;
    for (int i = AVIF_CHAN_Y; i <= AVIF_CHAN_V; ++i) {
        if (!image.yuvPlanes[i])
            continue;
        const bool luma = i == AVIF_CHAN_Y;
        planes.push_back({image.yuvPlanes[i], image.yuvRowBytes[i],
                          luma ? image.width : chroma(image.width, info.chromaShiftX),
                          luma ? image.height : chroma(image.height, info.chromaShiftY)});
    }
    if (image.alphaPlane)
        planes.push_back({image.alphaPlane, image.alphaRowBytes, image.width, image.height});
    return planes;
}

uint32_t sampleAt(const PlaneView& plane, uint32_t depth, uint32_t x, uint32_t y)
{
    const uint8_t* row = plane.data + size_t{y} * plane.rowBytes;
    if (depth == 8)
        return row[x];
    uint16_t value = 0;
    std::memcpy(&value, row + size_t{x} * 2, 2);
    return value;
}

void expectSamePlanes(const avifImage& expected, const avifImage& actual)
{
    ASSERT_EQ(actual.width, expected.width);
    ASSERT_EQ(actual.height, expected.height);
    ASSERT_EQ(actual.depth, expected.depth);
    const auto want = planesOf(expected);
    const auto got = planesOf(actual);
    ASSERT_EQ(got.size(), want.size());
    for (size_t p = 0; p < want.size(); ++p) {
        for (uint32_t y = 0; y < want[p].height; ++y) {
            for (uint32_t x = 0; x < want[p].width; ++x) {
                ASSERT_EQ(sampleAt(got[p], actual.depth, x, y), sampleAt(want[p], expected.depth, x, y))
                    << "plane " << p << " at " << x << "," << y;
            }
        }
    }
}

void expectSameProperties(const avifImage& expected, const avifImage& actual)
{
    EXPECT_EQ(actual.depth, expected.depth);
    EXPECT_EQ(actual.yuvFormat, expected.yuvFormat);
    EXPECT_EQ(actual.yuvRange, expected.yuvRange);
    EXPECT_EQ(actual.colorPrimaries, expected.colorPrimaries);
    EXPECT_EQ(actual.transferCharacteristics, expected.transferCharacteristics);
    EXPECT_EQ(actual.matrixCoefficients, expected.matrixCoefficients);
    EXPECT_EQ(actual.alphaPlane != nullptr, expected.alphaPlane != nullptr);
    EXPECT_EQ(copyOf(actual.icc), copyOf(expected.icc));
    EXPECT_EQ(copyOf(actual.exif), copyOf(expected.exif));
    EXPECT_EQ(copyOf(actual.xmp), copyOf(expected.xmp));
    EXPECT_EQ(actual.transformFlags & AVIF_TRANSFORM_IROT, expected.transformFlags & AVIF_TRANSFORM_IROT);
    EXPECT_EQ(actual.irot.angle, expected.irot.angle);
}

class AVIFEncoderTest : public TemporaryFolderTest {};

TEST_F(AVIFEncoderTest, LosslessKeepsTheDecodedSamplesAndEveryProperty)
{
    const Spec specs[] = {
        {.alpha = true, .metadata = true},
        {.format = AVIF_PIXEL_FORMAT_YUV444},
        {.width = 33, .height = 17, .depth = 10, .format = AVIF_PIXEL_FORMAT_YUV422, .alpha = true},
        {.depth = 12, .format = AVIF_PIXEL_FORMAT_YUV400},
    };
    for (const Spec& spec : specs) {
        SCOPED_TRACE(testing::Message() << spec.width << "x" << spec.height << " depth " << spec.depth << " format "
                                        << avifPixelFormatToString(spec.format) << " alpha " << spec.alpha);
        const QByteArray bytes = avifOf(spec);
        const QString path = write("source.avif", bytes);
        const Image source = decode(bytes);
        ASSERT_TRUE(source);

        EXPECT_EQ(AVIFEncoder::readDimensions(path), (std::pair<int64_t, int64_t>{spec.width, spec.height}));
        const Image output = decode(AVIFEncoder::compress(path, CompressionMode::lossless(), ResizeMode::none()));
        ASSERT_TRUE(output);
        expectSameProperties(*source, *output);
        expectSamePlanes(*source, *output);
    }
}

TEST_F(AVIFEncoderTest, QualityMapsOntoTheQuantiser)
{
    const QString path = write("photo.avif", avifOf({.width = 96, .height = 64, .alpha = true, .quantizer = 0}));
    const auto size = [&](const CompressionMode& mode) {
        return AVIFEncoder::compress(path, mode, ResizeMode::none()).size();
    };
    const QByteArray lossless = AVIFEncoder::compress(path, CompressionMode::lossless(), ResizeMode::none());

    EXPECT_LT(size(CompressionMode::lossy(80)), lossless.size());
    EXPECT_LE(size(CompressionMode::lossy(20)), size(CompressionMode::lossy(80)));
    EXPECT_GT(size(CompressionMode::lossy(1)), 0);
    // Quality 100 is the lossless setting, and larger values are held to it.
    EXPECT_EQ(AVIFEncoder::compress(path, CompressionMode::lossy(100), ResizeMode::none()), lossless);
    EXPECT_EQ(AVIFEncoder::compress(path, CompressionMode::lossy(1000), ResizeMode::none()), lossless);
    EXPECT_EQ(size(CompressionMode::lossy(-5)), size(CompressionMode::lossy(0)));

    // Transparency follows the quality too.
    const Image source = decode(readFile(path));
    const Image lossy = decode(AVIFEncoder::compress(path, CompressionMode::lossy(20), ResizeMode::none()));
    ASSERT_TRUE(source && lossy && lossy->alphaPlane);
    const PlaneView want = planesOf(*source).back();
    const PlaneView got = planesOf(*lossy).back();
    bool changed = false;
    for (uint32_t y = 0; y < want.height && !changed; ++y)
        changed = std::memcmp(want.data + size_t{y} * want.rowBytes, got.data + size_t{y} * got.rowBytes,
                              want.width)
            != 0;
    EXPECT_TRUE(changed);
}

TEST_F(AVIFEncoderTest, ResizeScalesEveryPlaneAndKeepsTheImageProperties)
{
    struct Case {
        Spec spec;
        ResizeMode resize;
        uint32_t width;
        uint32_t height;
    };
    const Case cases[] = {
        {{.alpha = true, .metadata = true}, ResizeMode::maxDimension(32), 32, 24},
        {{.depth = 10, .format = AVIF_PIXEL_FORMAT_YUV422, .alpha = true}, ResizeMode::percentage(50), 32, 24},
        {{.format = AVIF_PIXEL_FORMAT_YUV444}, ResizeMode::exactWidth(128), 128, 96},
        {{.depth = 12, .format = AVIF_PIXEL_FORMAT_YUV400}, ResizeMode::maxHeight(12), 16, 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "depth " << c.spec.depth << " to " << c.width << "x" << c.height);
        const QByteArray bytes = avifOf(c.spec);
        const Image source = decode(bytes);
        const QString path = write("big.avif", bytes);
        const Image output = decode(AVIFEncoder::compress(path, CompressionMode::lossless(), c.resize));
        ASSERT_TRUE(output);
        EXPECT_EQ(output->width, c.width);
        EXPECT_EQ(output->height, c.height);
        expectSameProperties(*source, *output);

        // Every plane, chroma and alpha included, still shows the source's
        // picture at the same relative place: each sample lies within the
        // range of the source samples around its footprint.
        const auto want = planesOf(*source);
        const auto got = planesOf(*output);
        ASSERT_EQ(got.size(), want.size());
        const uint32_t slack = 2u << (c.spec.depth - 8);
        for (size_t p = 0; p < want.size(); ++p) {
            const auto sourceRange = [&](uint32_t at, uint32_t length, uint32_t sourceLength) {
                const uint32_t first = at * sourceLength / length;
                const uint32_t last = ((at + 1) * sourceLength + length - 1) / length;
                return std::pair<uint32_t, uint32_t>{first > 0 ? first - 1 : 0, std::min(last + 1, sourceLength)};
            };
            for (uint32_t y = 0; y < got[p].height; ++y) {
                const auto [y0, y1] = sourceRange(y, got[p].height, want[p].height);
                for (uint32_t x = 0; x < got[p].width; ++x) {
                    const auto [x0, x1] = sourceRange(x, got[p].width, want[p].width);
                    uint32_t low = UINT32_MAX;
                    uint32_t high = 0;
                    for (uint32_t sy = y0; sy < y1; ++sy) {
                        for (uint32_t sx = x0; sx < x1; ++sx) {
                            low = std::min(low, sampleAt(want[p], c.spec.depth, sx, sy));
                            high = std::max(high, sampleAt(want[p], c.spec.depth, sx, sy));
                        }
                    }
                    const uint32_t value = sampleAt(got[p], c.spec.depth, x, y);
                    ASSERT_TRUE(value + slack >= low && value <= high + slack)
                        << "plane " << p << " at " << x << "," << y << ": " << value << " not in " << low << "..."
                        << high;
                }
            }
        }
    }
}

TEST_F(AVIFEncoderTest, ResizeThatKeepsTheSizeReencodesTheImageAsItIs)
{
    const QByteArray bytes = avifOf({.alpha = true});
    const Image source = decode(bytes);
    const QString path = write("fits.avif", bytes);
    for (const ResizeMode& resize : {ResizeMode::maxWidth(100), ResizeMode::exactHeight(48)}) {
        const Image output = decode(AVIFEncoder::compress(path, CompressionMode::lossless(), resize));
        ASSERT_TRUE(output);
        expectSamePlanes(*source, *output);
    }
}

TEST_F(AVIFEncoderTest, ResizeDropsTheCleanApertureOfTheOldSize)
{
    const QByteArray bytes = avifOf({.clap = true});
    const Image source = decode(bytes);
    ASSERT_TRUE(source);
    ASSERT_TRUE(source->transformFlags & AVIF_TRANSFORM_CLAP);
    const QString path = write("cropped.avif", bytes);

    const Image same = decode(AVIFEncoder::compress(path, CompressionMode::lossy(60), ResizeMode::none()));
    ASSERT_TRUE(same);
    EXPECT_TRUE(same->transformFlags & AVIF_TRANSFORM_CLAP);
    EXPECT_EQ(same->clap.widthN, source->clap.widthN);

    // libavif's strict checks refuse a crop window outside the image.
    const Image smaller = decode(AVIFEncoder::compress(path, CompressionMode::lossy(60), ResizeMode::percentage(25)));
    ASSERT_TRUE(smaller);
    EXPECT_EQ(smaller->width, 16u);
    EXPECT_FALSE(smaller->transformFlags & AVIF_TRANSFORM_CLAP);
}

TEST_F(AVIFEncoderTest, ReadsFilesWithoutPixelInformationButStillRefusesABadCropWindow)
{
    // libheif before 1.12 wrote no 'pixi' property: renamed to a type nobody
    // knows, it is ignored as if it were absent.
    const QByteArray original = avifOf({.alpha = true});
    QByteArray withoutPixi = original;
    int renamed = 0;
    for (qsizetype at = withoutPixi.indexOf("pixi"); at >= 0; at = withoutPixi.indexOf("pixi", at), ++renamed)
        withoutPixi.replace(at, 4, "xpix");
    ASSERT_GT(renamed, 0);
    ASSERT_FALSE(decode(withoutPixi)) << "strict libavif no longer refuses the file";

    const QString path = write("old.avif", withoutPixi);
    EXPECT_EQ(AVIFEncoder::readDimensions(path), (std::pair<int64_t, int64_t>{64, 48}));
    const Image source = decode(original);
    const Image output = decode(AVIFEncoder::compress(path, CompressionMode::lossless(), ResizeMode::none()));
    ASSERT_TRUE(source && output);
    expectSamePlanes(*source, *output);
    const Image smaller = decode(AVIFEncoder::compress(path, CompressionMode::lossy(60), ResizeMode::maxWidth(32)));
    ASSERT_TRUE(smaller);
    EXPECT_EQ(smaller->width, 32u);

    // The other checks stay: a crop window wider than the image is refused.
    QByteArray badCrop = avifOf({.clap = true});
    const qsizetype clap = badCrop.indexOf("clap");
    ASSERT_GT(clap, 0);
    badCrop.replace(clap + 4, 8, QByteArray::fromHex("000003e800000001")); // width 1000/1
    const QString cropped = write("crop.avif", badCrop);
    EXPECT_EQ(errorOf([&] { AVIFEncoder::readDimensions(cropped); }),
              CompressionError::corruptFile(QStringLiteral("Cannot read AVIF dimensions: crop.avif")));
}

TEST_F(AVIFEncoderTest, RefusesWhatItCannotRecompress)
{
    const auto decodeError = [](const QString& name) {
        return CompressionError::corruptFile(QStringLiteral("Cannot decode AVIF: ") + name);
    };
    const auto dimensionsError = [](const QString& name) {
        return CompressionError::corruptFile(QStringLiteral("Cannot read AVIF dimensions: ") + name);
    };
    const QByteArray valid = avifOf({});

    // Not AVIF at all, and cut short in the header or in the pixel data.
    const QString text = write("notes.avif", "just some text, not an image");
    EXPECT_EQ(errorOf([&] { AVIFEncoder::compress(text, CompressionMode::lossless(), ResizeMode::none()); }),
              decodeError("notes.avif"));
    EXPECT_EQ(errorOf([&] { AVIFEncoder::readDimensions(text); }), dimensionsError("notes.avif"));
    const QString header = write("header.avif", valid.left(valid.size() / 4));
    EXPECT_EQ(errorOf([&] { AVIFEncoder::compress(header, CompressionMode::lossless(), ResizeMode::none()); }),
              decodeError("header.avif"));
    EXPECT_EQ(errorOf([&] { AVIFEncoder::readDimensions(header); }), dimensionsError("header.avif"));
    const QString tail = write("tail.avif", valid.left(valid.size() - 40));
    EXPECT_EQ(errorOf([&] { AVIFEncoder::compress(tail, CompressionMode::lossy(50), ResizeMode::none()); }),
              decodeError("tail.avif"));

    // A header that claims more pixels than the engine handles fails before
    // any pixel memory is taken.
    QByteArray huge = valid;
    const qsizetype ispe = huge.indexOf("ispe");
    ASSERT_GT(ispe, 0);
    const QByteArray side = QByteArray::fromHex("00005000"); // 20480
    huge.replace(ispe + 8, 4, side);
    huge.replace(ispe + 12, 4, side);
    const QString hugePath = write("huge.avif", huge);
    EXPECT_EQ(errorOf([&] { AVIFEncoder::compress(hugePath, CompressionMode::lossless(), ResizeMode::none()); }),
              decodeError("huge.avif"));
    EXPECT_EQ(errorOf([&] { AVIFEncoder::readDimensions(hugePath); }), dimensionsError("huge.avif"));

    // Sizes the scaler cannot produce.
    const QString small = write("small.avif", valid);
    EXPECT_EQ(errorOf([&] {
                  AVIFEncoder::compress(small, CompressionMode::lossless(), ResizeMode::percentage(1e6));
              }),
              CompressionError::encoderFailed(QStringLiteral("libavif resize failed for small.avif")));
    const QString wide = write("wide.avif", avifOf({.width = 16400, .height = 2, .quantizer = 60}));
    EXPECT_EQ(AVIFEncoder::readDimensions(wide), (std::pair<int64_t, int64_t>{16400, 2}));
    EXPECT_EQ(errorOf([&] { AVIFEncoder::compress(wide, CompressionMode::lossy(50), ResizeMode::maxWidth(1000)); }),
              CompressionError::encoderFailed(QStringLiteral("libavif resize failed for wide.avif")));

    // Only the first frame of an animation would survive.
    const Image first = sourceImage({});
    const Image second = sourceImage({});
    const avifImage* frames[] = {first.get(), second.get()};
    const QString animation = write("animation.avif", avifEncode(frames, 2, 30));
    EXPECT_EQ(errorOf([&] { AVIFEncoder::compress(animation, CompressionMode::lossy(50), ResizeMode::none()); }),
              CompressionError::unsupportedFormat());

    // File system errors are not the codec's.
    const QString missing = dir.filePath("missing.avif");
    EXPECT_THROW(AVIFEncoder::compress(missing, CompressionMode::lossless(), ResizeMode::none()), std::system_error);
    EXPECT_THROW(AVIFEncoder::readDimensions(missing), std::system_error);
}

} // namespace
