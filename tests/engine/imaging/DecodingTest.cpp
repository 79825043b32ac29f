#include "TestImages.h"

#include "CompressionError.h"
#include "ImageDecoder.h"
#include "ImageDimensions.h"
#include "WebPDecoder.h"
#include "WebPEncoder.h"

#include <QFile>

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

using namespace vantro;
using namespace vantro::test;

namespace {

using Pixel = std::array<int, 4>;
using Size = std::pair<int64_t, int64_t>;

// One pixel repeated, 8 or 16 bits a sample, in any interpretation.
template <typename Sample>
vips::Image flat(std::vector<Sample> pixel, int width, int height, VipsInterpretation interpretation)
{
    std::vector<Sample> samples;
    for (int i = 0; i < width * height; ++i)
        samples.insert(samples.end(), pixel.begin(), pixel.end());
    const VipsBandFormat format = sizeof(Sample) == 1 ? VIPS_FORMAT_UCHAR : VIPS_FORMAT_USHORT;
    const vips::Image raw(vips_image_new_from_memory_copy(samples.data(), samples.size() * sizeof(Sample), width,
                                                          height, static_cast<int>(pixel.size()), format));
    VipsImage* out = nullptr;
    EXPECT_EQ(vips_copy(raw.get(), &out, "interpretation", interpretation, nullptr), 0) << vips::takeError();
    return vips::Image(out);
}

// Bytes of a string literal, without its terminating zero.
template <std::size_t N>
QByteArray literal(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

Pixel at(const DecodedImage& image, int x, int y)
{
    const auto offset = static_cast<std::size_t>((y * image.width + x) * image.channels());
    Pixel pixel{0, 0, 0, 255};
    for (std::size_t c = 0; c < static_cast<std::size_t>(image.channels()); ++c)
        pixel[c] = image.pixels[offset + c];
    return pixel;
}

void expectNear(const Pixel& actual, const Pixel& expected, int tolerance, const std::string& where)
{
    for (std::size_t c = 0; c < 4; ++c)
        EXPECT_NEAR(actual[c], expected[c], tolerance) << where << " channel " << c;
}

class DecodingTest : public TemporaryFolderTest {
protected:
    // Writes the image with libvips' saver for the name's suffix, options in
    // brackets ("a.png[bitdepth=1]"); returns the path without the options.
    QString save(const vips::Image& image, const QString& name) const
    {
        const QString path = dir.filePath(name);
        EXPECT_EQ(vips_image_write_to_file(image.get(), QFile::encodeName(path).constData(), nullptr), 0)
            << vips::takeError();
        return path.left(path.indexOf(u'['));
    }
};

// --- Orientation --------------------------------------------------------

constexpr int kWidth = 64;
constexpr int kHeight = 48;
constexpr Pixel kRed{255, 0, 0, 255};
constexpr Pixel kGreen{0, 255, 0, 255};
constexpr Pixel kBlue{0, 0, 255, 255};

// Upright: red top-left, green top-right, blue bottom-left, grey elsewhere.
Pixel uprightPattern(int x, int y)
{
    if (y < 16 && x < 16)
        return kRed;
    if (y < 16 && x >= kWidth - 16)
        return kGreen;
    if (y >= kHeight - 16 && x < 16)
        return kBlue;
    return {128, 128, 128, 255};
}

// The pattern as a camera held with that EXIF orientation stores it.
DecodedImage storedPattern(int orientation)
{
    const int w = orientation >= 5 ? kHeight : kWidth;
    const int h = orientation >= 5 ? kWidth : kHeight;
    return paintedImage(w, h, false, [&](int x, int y, uint8_t* pixel) {
        const std::pair<int, int> shown[] = {{x, y}, {w - 1 - x, y}, {w - 1 - x, h - 1 - y}, {x, h - 1 - y},
                                             {y, x}, {h - 1 - y, x}, {h - 1 - y, w - 1 - x}, {y, w - 1 - x}};
        const Pixel colour = uprightPattern(shown[orientation - 1].first, shown[orientation - 1].second);
        for (std::size_t c = 0; c < 3; ++c)
            pixel[c] = static_cast<uint8_t>(colour[c]);
    });
}

void expectUpright(const DecodedImage& image, const std::string& where)
{
    ASSERT_EQ(image.width, kWidth) << where;
    ASSERT_EQ(image.height, kHeight) << where;
    for (const auto& [x, y] : {std::pair{8, 8}, {kWidth - 8, 8}, {8, kHeight - 8}, {kWidth - 8, kHeight - 8}, {32, 24}})
        expectNear(at(image, x, y), uprightPattern(x, y), 40,
                   where + " at " + std::to_string(x) + "," + std::to_string(y));
}

class OrientationTest : public DecodingTest, public testing::WithParamInterface<int> {};

TEST_P(OrientationTest, DecodesUprightAndMeasuresAsDisplayed)
{
    const int orientation = GetParam();
    const DecodedImage stored = storedPattern(orientation);
    const QString jpeg = write("o.jpg", vipsEncode(stored, ".jpg[Q=95]", orientation));
    expectUpright(ImageDecoder::decode(jpeg, ImageFormat::jpeg), "JPEG");
    EXPECT_EQ(ImageDimensions::read(jpeg), Size(kWidth, kHeight));

    // WebP: no output keeps the EXIF, so every road must turn the pixels:
    // conversions and recompressions. The EXIF block comes
    // with and without the identifier that some writers put in front.
    const QByteArray tiff = literal("MM\0\x2A\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0")
        + static_cast<char>(orientation) + QByteArray(6, '\0');
    const QByteArray webp = webpWithChunk(vipsEncode(stored, ".webp[lossless,strip]"), "EXIF",
                                          orientation % 2 ? literal("Exif\0\0") + tiff : tiff);
    const QString file = write("o.webp", webp);
    expectUpright(ImageDecoder::decode(file, ImageFormat::webp), "WebP converted");
    expectUpright(WebPDecoder::decode(WebPEncoder::compress(file, CompressionMode::lossless()), "w"),
                  "WebP recompressed");
    EXPECT_EQ(ImageDimensions::read(file), Size(kWidth, kHeight));
    EXPECT_EQ(WebPEncoder::readDimensions(file), Size(kWidth, kHeight));
}

INSTANTIATE_TEST_SUITE_P(Exif, OrientationTest, testing::Range(1, 9),
                         [](const auto& p) { return "Orientation" + std::to_string(p.param); });

// libheif turns a HEIC by its own transformation boxes and libvips then
// reports no orientation; the decoder and the measurement must still agree.
TEST_F(DecodingTest, HeicTransformationIsAppliedOnceByDecodeAndMeasure)
{
    const QByteArray png = vipsEncode(storedPattern(1), ".png");
    const vips::Image image(vips_image_new_from_buffer(png.constData(), static_cast<size_t>(png.size()), "", nullptr));
    const QString plain = dir.filePath("plain.heic");
    if (vips_heifsave(image.get(), QFile::encodeName(plain).constData(), "Q", 90, nullptr) != 0)
        GTEST_SKIP() << "libheif cannot encode HEIC here: " << vips::takeError();
    expectUpright(ImageDecoder::decode(plain, ImageFormat::heic), "plain.heic");
    EXPECT_EQ(ImageDimensions::read(plain), Size(kWidth, kHeight));

    // libvips writes no rotation box, so the file's pixel-information property
    // (16 bytes, associated with the primary image) is overwritten in place by
    // an equally long 'irot' box: three quarter turns anticlockwise, which is
    // one clockwise quarter turn, as EXIF orientation 6.
    QByteArray bytes = readFile(plain);
    const qsizetype pixi = bytes.indexOf("pixi");
    if (pixi < 4 || bytes.mid(pixi - 4, 4) != literal("\0\0\0\x10"))
        GTEST_SKIP() << "unexpected HEIC layout from this libheif";
    const QString turned
        = write("turned.heic", bytes.replace(pixi - 4, 16, literal("\0\0\0\x10irot\x03\0\0\0\0\0\0\0")));
    const DecodedImage decoded = ImageDecoder::decode(turned, ImageFormat::heic);
    ASSERT_EQ(decoded.width, kHeight);
    ASSERT_EQ(decoded.height, kWidth);
    EXPECT_EQ(ImageDimensions::read(turned), Size(kHeight, kWidth));
    // Turned clockwise: the stored top-left corner is now top-right.
    expectNear(at(decoded, kHeight - 8, 8), kRed, 40, "top right");
    expectNear(at(decoded, kHeight - 8, kWidth - 8), kGreen, 40, "bottom right");
    expectNear(at(decoded, 8, 8), kBlue, 40, "top left");
}

// --- Colour -------------------------------------------------------------

TEST_F(DecodingTest, WideGamutAndCmykBecomeSRGB)
{
    // Display P3 (200, 120, 60) in sRGB by the published linear-light matrix,
    // independent of any colour engine.
    const Pixel expected{213, 115, 42, 255};
    const QByteArray p3 = builtInProfile("p3");
    const DecodedImage picture = flatImage(8, 8, {200, 120, 60});
    const QString png = write("p3.png", vipsEncode(picture, ".png", std::nullopt, p3));
    const QString jpeg = write("p3.jpg", vipsEncode(picture, ".jpg[Q=100,subsample_mode=off]", std::nullopt, p3));
    expectNear(at(ImageDecoder::decode(png, ImageFormat::png), 3, 3), expected, 2, "P3 PNG");
    expectNear(at(ImageDecoder::decode(jpeg, ImageFormat::jpeg), 3, 3), expected, 3, "P3 JPEG");
    // Without a profile the samples are taken as sRGB, untouched.
    const QString plain = write("plain.png", vipsEncode(picture, ".png"));
    EXPECT_EQ(at(ImageDecoder::decode(plain, ImageFormat::png), 0, 0), (Pixel{200, 120, 60, 255}));

    // 16 bits with alpha: the colour converts and the alpha scales to 8 bits
    // (half alpha stays half, it must not saturate).
    vips::Image deep = flat<uint16_t>({200 * 257, 120 * 257, 60 * 257, 128 * 257}, 8, 8, VIPS_INTERPRETATION_RGB16);
    vips_image_set_blob_copy(deep.get(), VIPS_META_ICC_NAME, p3.constData(), static_cast<std::size_t>(p3.size()));
    const DecodedImage fromDeep = ImageDecoder::decode(save(deep, "p3-16.png"), ImageFormat::png);
    ASSERT_TRUE(fromDeep.hasAlpha);
    expectNear(at(fromDeep, 0, 0), {expected[0], expected[1], expected[2], 128}, 3, "P3 RGBA16 PNG");

    // Magenta and yellow ink, no black: red, through libvips' fallback CMYK
    // profile; no ink at all is white.
    const QString red = save(flat<uint8_t>({0, 255, 255, 0}, 16, 16, VIPS_INTERPRETATION_CMYK), "red.jpg[Q=100]");
    const QString paper = save(flat<uint8_t>({0, 0, 0, 0}, 16, 16, VIPS_INTERPRETATION_CMYK), "paper.jpg[Q=100]");
    const DecodedImage decoded = ImageDecoder::decode(red, ImageFormat::jpeg);
    ASSERT_EQ(decoded.pixels.size(), 16u * 16u * 3u);
    const Pixel pixel = at(decoded, 8, 8);
    EXPECT_TRUE(pixel[0] > 180 && pixel[1] < 90 && pixel[2] < 90) << pixel[0] << "," << pixel[1] << "," << pixel[2];
    expectNear(at(ImageDecoder::decode(paper, ImageFormat::jpeg), 8, 8), {255, 255, 255, 255}, 25, "paper");
}

struct PngCase {
    const char* name;
    std::vector<int> pixel;
    VipsInterpretation interpretation;
    const char* options;
    bool hasAlpha;
    Pixel expected;
};

class PngTypeTest : public DecodingTest, public testing::WithParamInterface<PngCase> {};

TEST_P(PngTypeTest, BecomesEightBitRGBOrRGBA)
{
    const PngCase& c = GetParam();
    const bool deep = c.interpretation == VIPS_INTERPRETATION_RGB16 || c.interpretation == VIPS_INTERPRETATION_GREY16;
    const vips::Image image = deep ? flat(std::vector<uint16_t>(c.pixel.begin(), c.pixel.end()), 4, 4, c.interpretation)
                                   : flat(std::vector<uint8_t>(c.pixel.begin(), c.pixel.end()), 4, 4, c.interpretation);
    const QString file = save(image, QStringLiteral("a.png") + c.options);
    const DecodedImage decoded = ImageDecoder::decode(file, ImageFormat::png);
    EXPECT_EQ(decoded.hasAlpha, c.hasAlpha);
    ASSERT_EQ(decoded.pixels.size(), 4u * 4u * (c.hasAlpha ? 4u : 3u));
    expectNear(at(decoded, 2, 2), c.expected, QByteArray(c.options).contains("palette") ? 2 : 0, c.name);
    EXPECT_EQ(ImageDimensions::read(file), Size(4, 4));
}

INSTANTIATE_TEST_SUITE_P(
    ColourTypes, PngTypeTest,
    testing::Values(PngCase{"RGB16", {51400, 2570, 65535}, VIPS_INTERPRETATION_RGB16, "", false, {200, 10, 255, 255}},
                    PngCase{"Grey", {77}, VIPS_INTERPRETATION_B_W, "", false, {77, 77, 77, 255}},
                    PngCase{"Grey1Bit", {255}, VIPS_INTERPRETATION_B_W, "[bitdepth=1]", false, {255, 255, 255, 255}},
                    PngCase{"GreyAlpha", {90, 255}, VIPS_INTERPRETATION_B_W, "", true, {90, 90, 90, 255}},
                    PngCase{"GreyAlpha16", {23130, 32896}, VIPS_INTERPRETATION_GREY16, "", true, {90, 90, 90, 128}},
                    // Every pixel opaque, yet the channel is there: alpha it is.
                    PngCase{"OpaqueRGBA", {10, 20, 30, 255}, VIPS_INTERPRETATION_sRGB, "", true, {10, 20, 30, 255}},
                    PngCase{"Palette", {40, 80, 160}, VIPS_INTERPRETATION_sRGB, "[palette]", false, {40, 80, 160, 255}},
                    PngCase{"PaletteTransparent", {40, 80, 160, 0}, VIPS_INTERPRETATION_sRGB, "[palette]", true, {}}),
    [](const auto& p) { return std::string(p.param.name); });

// --- Alpha --------------------------------------------------------------

TEST_F(DecodingTest, AlphaComesOutStraightAsFromAPremultipliedBuffer)
{
    // Transparent with a stored colour, half transparent, and a value that
    // does not survive 8-bit premultiplication (101 at alpha 77 comes back as 99).
    const auto row = [](std::vector<uint8_t> pixels) {
        DecodedImage image = flatImage(static_cast<int>(pixels.size() / 4), 1, {0, 0, 0, 0});
        image.pixels = std::move(pixels);
        return image;
    };
    const DecodedImage image = row({200, 100, 50, 0, 255, 128, 0, 128, 101, 101, 101, 77, 9, 8, 7, 255});
    const DecodedImage decoded = ImageDecoder::decode(write("alpha.png", vipsEncode(image, ".png")), ImageFormat::png);
    ASSERT_TRUE(decoded.hasAlpha);
    EXPECT_EQ(decoded.pixels, (std::vector<uint8_t>{0, 0, 0, 0, 255, 128, 0, 128, 99, 99, 99, 77, 9, 8, 7, 255}));

    // WebP samples come as stored: no premultiplied round trip.
    const QString webp = write("alpha.webp", vipsEncode(image, ".webp[lossless]"));
    EXPECT_EQ(at(ImageDecoder::decode(webp, ImageFormat::webp), 2, 0), (Pixel{101, 101, 101, 77}));

    // A palette with one transparent and one opaque entry.
    const QString palette = write("mixed.png", vipsEncode(row({255, 0, 0, 0, 0, 0, 255, 255}), ".png[palette]"));
    const DecodedImage mixed = ImageDecoder::decode(palette, ImageFormat::png);
    EXPECT_EQ(at(mixed, 0, 0), (Pixel{0, 0, 0, 0}));
    expectNear(at(mixed, 1, 0), kBlue, 2, "opaque palette entry");
}

// --- Bad input ----------------------------------------------------------

TEST_F(DecodingTest, MalformedAndTruncatedFilesFailCleanly)
{
    const auto cannotDecode = [](const QString& name) {
        return CompressionError::corruptFile(QStringLiteral("Cannot decode image: ") + name);
    };
    const auto cannotMeasure = [](const QString& name) {
        return CompressionError::corruptFile(QStringLiteral("Cannot read image dimensions: ") + name);
    };
    const DecodedImage picture = flatImage(64, 64, {30, 60, 90});
    const QByteArray jpeg = vipsEncode(picture, ".jpg");
    const QByteArray png = vipsEncode(picture, ".png[compression=0]");
    struct Case {
        const char* name;
        QByteArray bytes;
        ImageFormat format;
        bool measurable; // the header alone is whole
    };
    const Case cases[] = {
        {"garbage.jpg", literal("\xFF\xD8\xFF\xE0 this is not a JPEG at all"), ImageFormat::jpeg, false},
        {"truncated.jpg", jpeg.left(jpeg.size() / 2), ImageFormat::jpeg, true},
        {"header-only.jpg", jpeg.left(20), ImageFormat::jpeg, false},
        {"garbage.png", literal("\x89PNG\r\n\x1A\n and then nonsense"), ImageFormat::png, false},
        {"truncated.png", png.left(png.size() / 2), ImageFormat::png, true},
        {"garbage.heic",
         literal("\0\0\0\x18"
                 "ftypheic\0\0\0\0mif1heic junk junk"),
         ImageFormat::heic, false},
        {"missing.png", {}, ImageFormat::png, false},
    };
    for (const Case& c : cases) {
        const QString file = c.bytes.isEmpty() ? dir.filePath(c.name) : write(c.name, c.bytes);
        EXPECT_EQ(errorOf([&] { ImageDecoder::decode(file, c.format); }), cannotDecode(c.name));
        if (!c.measurable) {
            EXPECT_EQ(errorOf([&] { ImageDimensions::read(file); }), cannotMeasure(c.name));
        }
    }
    const QString notAnImage = write("notes.txt", "plain text, long enough to be sniffed by every loader there is");
    EXPECT_EQ(errorOf([&] { ImageDimensions::read(notAnImage); }), cannotMeasure("notes.txt"));

    // WebP goes through its own decoder; a missing file is a file-system error.
    const QString webp = write("garbage.webp", literal("RIFF\x20\0\0\0WEBPVP8 \x14\0\0\0 not a bitstream"));
    EXPECT_EQ(errorOf([&] { ImageDecoder::decode(webp, ImageFormat::webp); }),
              CompressionError::corruptFile(QStringLiteral("Cannot decode WebP: garbage.webp")));
    EXPECT_THROW(ImageDecoder::decode(dir.filePath("missing.webp"), ImageFormat::webp), std::system_error);
    // AVIF never gets as far as the file.
    EXPECT_EQ(errorOf([&] { ImageDecoder::decode(dir.filePath("missing.avif"), ImageFormat::avif); }),
              CompressionError::unsupportedFormat());
}

TEST_F(DecodingTest, ClaimedSizesBeyondThePixelBudgetFailBeforeDecoding)
{
    QByteArray header;
    appendBigEndian(header, 100000);
    appendBigEndian(header, 100000);
    header.append(literal("\x08\x02\0\0\0")); // 8-bit RGB
    const QString huge = write("huge.png",
                               literal("\x89PNG\r\n\x1A\n") + pngChunk("IHDR", header)
                                   + pngChunk("IDAT", literal("\x78\x9C\x03\0\0\0\0\x01")) + pngChunk("IEND", {}));
    EXPECT_EQ(errorOf([&] { ImageDecoder::decode(huge, ImageFormat::png); }),
              CompressionError::invalidConfiguration(QStringLiteral(
                  "Image too large (100000 \u00D7 100000 pixels; at most 268435456 pixels are supported): huge.png")));
    // Measuring reads the header only, so it answers.
    EXPECT_EQ(ImageDimensions::read(huge), Size(100000, 100000));

    // A real JPEG whose frame header is rewritten to 60000 x 60000.
    QByteArray jpeg = vipsEncode(flatImage(16, 16, {30, 60, 90}), ".jpg");
    const qsizetype frame = jpeg.indexOf(literal("\xFF\xC0"));
    ASSERT_GT(frame, 0);
    const QString hugeJpeg = write("huge.jpg", jpeg.replace(frame + 5, 4, literal("\xEA\x60\xEA\x60")));
    EXPECT_EQ(errorOf([&] { ImageDecoder::decode(hugeJpeg, ImageFormat::jpeg); }),
              CompressionError::invalidConfiguration(QStringLiteral(
                  "Image too large (60000 \u00D7 60000 pixels; at most 268435456 pixels are supported): huge.jpg")));
}

TEST_F(DecodingTest, AnimatedPngIsRefusedInsteadOfFlattenedToItsFirstFrame)
{
    const QByteArray png = vipsEncode(flatImage(8, 8, {30, 60, 90}), ".png");
    const QString animated = write("animated.png", withAnimationControl(png));
    EXPECT_EQ(errorOf([&] { ImageDecoder::decode(animated, ImageFormat::png); }),
              CompressionError::unsupportedFormat());

    // An acTL after the image data makes no animation, and a chunk length
    // running past the end stops the scan: the loader judges those as before.
    const QString late = write("late.png", QByteArray(png).insert(png.indexOf("IEND") - 4, animationControlChunk()));
    expectNear(at(ImageDecoder::decode(late, ImageFormat::png), 4, 4), {30, 60, 90, 255}, 0, "late acTL");
    const qsizetype idat = png.indexOf("IDAT") - 4;
    QByteArray overlong = QByteArray(png).insert(idat, pngChunk("prVt", literal("a\0b")));
    const QString broken = write("overlong.png", overlong.replace(idat, 4, literal("\x7F\xFF\xFF\xF0")));
    EXPECT_EQ(errorOf([&] { ImageDecoder::decode(broken, ImageFormat::png); }),
              CompressionError::corruptFile(QStringLiteral("Cannot decode image: overlong.png")));
}

TEST_F(DecodingTest, DecodesRunConcurrently)
{
    const QString png = write("threads.png", vipsEncode(photoLike(96, 64, true), ".png"));
    const QString jpeg = write("threads.jpg", vipsEncode(photoLike(96, 64), ".jpg", 6));
    const DecodedImage pngReference = ImageDecoder::decode(png, ImageFormat::png);
    const DecodedImage jpegReference = ImageDecoder::decode(jpeg, ImageFormat::jpeg);

    std::vector<std::thread> threads;
    std::array<bool, 8> same{};
    for (std::size_t t = 0; t < same.size(); ++t)
        threads.emplace_back([&, t] {
            bool ok = true;
            for (int round = 0; round < 10; ++round) {
                ok = ok && ImageDecoder::decode(png, ImageFormat::png).pixels == pngReference.pixels
                    && ImageDecoder::decode(jpeg, ImageFormat::jpeg).pixels == jpegReference.pixels;
            }
            same[t] = ok;
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(same, (std::array<bool, 8>{true, true, true, true, true, true, true, true}));
}

} // namespace
