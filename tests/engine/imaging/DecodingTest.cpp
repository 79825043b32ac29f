#include "TestImages.h"

#include "CompressionError.h"
#include "ImageDecoder.h"
#include "ImageDimensions.h"
#include "WebPDecoder.h"
#include "WebPEncoder.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

using namespace vantro;
using namespace vantro::test;

namespace {

using Pixel = std::array<int, 4>;

// A libvips image over a copy of the samples (8 or 16 bits).
template <typename Sample>
vips::Image makeImage(const std::vector<Sample>& samples, int width, int height, int bands,
                      VipsInterpretation interpretation)
{
    const VipsBandFormat format = sizeof(Sample) == 1 ? VIPS_FORMAT_UCHAR : VIPS_FORMAT_USHORT;
    const vips::Image raw(vips_image_new_from_memory_copy(samples.data(), samples.size() * sizeof(Sample), width,
                                                          height, bands, format));
    VipsImage* out = nullptr;
    EXPECT_EQ(vips_copy(raw.get(), &out, "interpretation", interpretation, nullptr), 0) << vips::takeError();
    return vips::Image(out);
}

template <typename Sample>
vips::Image flat(std::vector<Sample> pixel, int width, int height, VipsInterpretation interpretation)
{
    std::vector<Sample> samples;
    for (int i = 0; i < width * height; ++i)
        samples.insert(samples.end(), pixel.begin(), pixel.end());
    return makeImage(samples, width, height, static_cast<int>(pixel.size()), interpretation);
}

void withProfile(VipsImage* image, const char* profileName)
{
    const QByteArray profile = builtInProfile(profileName);
    ASSERT_FALSE(profile.isEmpty());
    vips_image_set_blob_copy(image, VIPS_META_ICC_NAME, profile.constData(), static_cast<std::size_t>(profile.size()));
}

// Bytes of a string literal, without its terminating zero.
template <std::size_t N>
QByteArray literal(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

Pixel at(const DecodedImage& image, int x, int y)
{
    const int channels = image.channels();
    const auto offset = static_cast<std::size_t>((y * image.width + x) * channels);
    Pixel pixel{0, 0, 0, 255};
    for (int c = 0; c < channels; ++c)
        pixel[static_cast<std::size_t>(c)] = image.pixels[offset + static_cast<std::size_t>(c)];
    return pixel;
}

void expectNear(const Pixel& actual, const Pixel& expected, int tolerance, const std::string& where)
{
    for (std::size_t c = 0; c < 4; ++c)
        EXPECT_NEAR(actual[c], expected[c], tolerance) << where << " channel " << c;
}

void expectError(const std::function<void()>& call, const CompressionError& expected)
{
    const CompressionError error = errorOf(call);
    EXPECT_EQ(error, expected) << error.what();
}

class DecodingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        vips::ensureStarted();
        ASSERT_TRUE(dir.isValid());
    }

    QString path(const char* name) const { return dir.filePath(QString::fromUtf8(name)); }

    QTemporaryDir dir;
};

#define SAVE_OK(call) ASSERT_EQ((call), 0) << vips::takeError()

// --- Orientation --------------------------------------------------------

constexpr int kUprightWidth = 64;
constexpr int kUprightHeight = 48;
constexpr Pixel kRed{255, 0, 0, 255};
constexpr Pixel kGreen{0, 255, 0, 255};
constexpr Pixel kBlue{0, 0, 255, 255};
constexpr Pixel kGrey{128, 128, 128, 255};

// Upright: red top-left, green top-right, blue bottom-left, grey elsewhere.
Pixel uprightPattern(int x, int y)
{
    const bool left = x < 16;
    const bool right = x >= kUprightWidth - 16;
    const bool top = y < 16;
    const bool bottom = y >= kUprightHeight - 16;
    if (top && left)
        return kRed;
    if (top && right)
        return kGreen;
    if (bottom && left)
        return kBlue;
    return kGrey;
}

// Where a stored pixel shows once an EXIF orientation is applied.
std::pair<int, int> displayed(int orientation, int x, int y, int storedWidth, int storedHeight)
{
    switch (orientation) {
    case 2: return {storedWidth - 1 - x, y};
    case 3: return {storedWidth - 1 - x, storedHeight - 1 - y};
    case 4: return {x, storedHeight - 1 - y};
    case 5: return {y, x};
    case 6: return {storedHeight - 1 - y, x};
    case 7: return {storedHeight - 1 - y, storedWidth - 1 - x};
    case 8: return {y, storedWidth - 1 - x};
    default: return {x, y};
    }
}

// The pattern as a camera holding it with that orientation stores it.
vips::Image storedPattern(int orientation)
{
    const bool quarterTurn = orientation >= 5;
    const int storedWidth = quarterTurn ? kUprightHeight : kUprightWidth;
    const int storedHeight = quarterTurn ? kUprightWidth : kUprightHeight;
    std::vector<uint8_t> samples;
    for (int y = 0; y < storedHeight; ++y) {
        for (int x = 0; x < storedWidth; ++x) {
            const auto [dx, dy] = displayed(orientation, x, y, storedWidth, storedHeight);
            const Pixel pixel = uprightPattern(dx, dy);
            samples.insert(samples.end(), {static_cast<uint8_t>(pixel[0]), static_cast<uint8_t>(pixel[1]),
                                           static_cast<uint8_t>(pixel[2])});
        }
    }
    return makeImage(samples, storedWidth, storedHeight, 3, VIPS_INTERPRETATION_sRGB);
}

void expectUpright(const DecodedImage& image, const std::string& where)
{
    ASSERT_EQ(image.width, kUprightWidth) << where;
    ASSERT_EQ(image.height, kUprightHeight) << where;
    for (const auto& [x, y] : {std::pair{8, 8}, {kUprightWidth - 8, 8}, {8, kUprightHeight - 8},
                               {kUprightWidth - 8, kUprightHeight - 8}, {32, 24}}) {
        const Pixel pixel = at(image, x, y);
        expectNear(pixel, uprightPattern(x, y), 40, where + " at " + std::to_string(x) + "," + std::to_string(y));
    }
}

TEST_F(DecodingTest, EveryOrientationDecodesUprightAndMeasuresAsDisplayed)
{
    for (int orientation = 1; orientation <= 8; ++orientation) {
        vips::Image image = storedPattern(orientation);
        const std::string name = "orientation" + std::to_string(orientation);
        const QString jpeg = path((name + ".jpg").c_str());
        vips_image_set_int(image.get(), VIPS_META_ORIENTATION, orientation);
        SAVE_OK(vips_jpegsave(image.get(), QFile::encodeName(jpeg).constData(), "Q", 95, nullptr));
        expectUpright(ImageDecoder::decode(jpeg, ImageFormat::jpeg), name + ".jpg");
        EXPECT_EQ(ImageDimensions::read(jpeg), std::make_pair(int64_t{kUprightWidth}, int64_t{kUprightHeight}))
            << name;

        // WebP: no output keeps the EXIF, so every road must turn the pixels:
        // conversions, and recompressions resized or not. The EXIF block comes
        // with and without the identifier that some writers put in front.
        void* buffer = nullptr;
        size_t length = 0;
        SAVE_OK(vips_webpsave_buffer(image.get(), &buffer, &length, "lossless", TRUE, "strip", TRUE, nullptr));
        const std::unique_ptr<void, vips::GFree> owned(buffer);
        const QByteArray tiff = literal("MM\0\x2A\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0")
            + static_cast<char>(orientation) + QByteArray(6, '\0');
        const QByteArray webp = webpWithChunk(QByteArray(static_cast<const char*>(buffer), static_cast<qsizetype>(length)),
                                              "EXIF", orientation % 2 ? literal("Exif\0\0") + tiff : tiff);
        const QString file = path((name + ".webp").c_str());
        writeFile(file, webp);
        expectUpright(ImageDecoder::decode(file, ImageFormat::webp), name + ".webp converted");
        expectUpright(WebPDecoder::decode(webp, "w"), name + ".webp resized");
        expectUpright(WebPDecoder::decode(WebPEncoder::compress(file, CompressionMode::lossless()), "w"),
                      name + ".webp recompressed");
        for (const auto& size : {ImageDimensions::read(file), WebPEncoder::readDimensions(file)})
            EXPECT_EQ(size, std::make_pair(int64_t{kUprightWidth}, int64_t{kUprightHeight})) << name << ".webp";
    }
}

// libheif turns a HEIC by its own transformation boxes and libvips then
// reports no orientation; the decoder and the measurement must still agree.
TEST_F(DecodingTest, HeicTransformationIsAppliedOnceByDecodeAndMeasure)
{
    const vips::Image image = storedPattern(1);
    const QString plain = path("plain.heic");
    if (vips_heifsave(image.get(), QFile::encodeName(plain).constData(), "Q", 90, nullptr) != 0)
        GTEST_SKIP() << "libheif cannot encode HEIC here: " << vips::takeError();

    expectUpright(ImageDecoder::decode(plain, ImageFormat::heic), "plain.heic");
    EXPECT_EQ(ImageDimensions::read(plain), std::make_pair(int64_t{kUprightWidth}, int64_t{kUprightHeight}));

    // libvips writes no rotation box, so the file's pixel-information property
    // (16 bytes, associated with the primary image) is overwritten in place by
    // an equally long 'irot' box: three quarter turns anticlockwise, which is
    // one clockwise quarter turn, as EXIF orientation 6.
    QByteArray bytes = readFile(plain);
    const qsizetype pixi = bytes.indexOf("pixi");
    if (pixi < 4 || bytes.mid(pixi - 4, 4) != literal("\0\0\0\x10"))
        GTEST_SKIP() << "unexpected HEIC layout from this libheif";
    bytes.replace(pixi - 4, 16, literal("\0\0\0\x10irot\x03\0\0\0\0\0\0\0"));
    const QString turned = path("turned.heic");
    writeFile(turned, bytes);

    const DecodedImage decoded = ImageDecoder::decode(turned, ImageFormat::heic);
    ASSERT_EQ(decoded.width, kUprightHeight);
    ASSERT_EQ(decoded.height, kUprightWidth);
    EXPECT_EQ(ImageDimensions::read(turned), std::make_pair(int64_t{kUprightHeight}, int64_t{kUprightWidth}));
    // Turned clockwise: the stored top-left corner is now top-right.
    expectNear(at(decoded, kUprightHeight - 8, 8), kRed, 40, "top right");
    expectNear(at(decoded, kUprightHeight - 8, kUprightWidth - 8), kGreen, 40, "bottom right");
    expectNear(at(decoded, 8, 8), kBlue, 40, "top left");
}

// --- Colour -------------------------------------------------------------

double toLinear(double encoded)
{
    return encoded <= 0.04045 ? encoded / 12.92 : std::pow((encoded + 0.055) / 1.055, 2.4);
}

double toEncoded(double linear)
{
    linear = std::clamp(linear, 0.0, 1.0);
    return linear <= 0.0031308 ? linear * 12.92 : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
}

// Display P3 to sRGB by the published linear-light matrix (both D65, both
// with the sRGB transfer curve), independent of any colour engine.
Pixel displayP3ToSRGB(int r, int g, int b)
{
    static constexpr double matrix[3][3] = {{1.2249401, -0.2249404, 0.0},
                                            {-0.0420569, 1.0420571, 0.0},
                                            {-0.0196376, -0.0786361, 1.0982735}};
    const double in[3] = {toLinear(r / 255.0), toLinear(g / 255.0), toLinear(b / 255.0)};
    Pixel out{0, 0, 0, 255};
    for (std::size_t i = 0; i < 3; ++i)
        out[i] = static_cast<int>(std::lround(
            255 * toEncoded(matrix[i][0] * in[0] + matrix[i][1] * in[1] + matrix[i][2] * in[2])));
    return out;
}

TEST_F(DecodingTest, WideGamutProfilesAreConvertedToSRGB)
{
    const Pixel expected = displayP3ToSRGB(200, 120, 60);
    // The conversion must visibly move the samples, or this proves nothing.
    ASSERT_GE(std::abs(expected[0] - 200) + std::abs(expected[2] - 60), 10);

    vips::Image image = flat<uint8_t>({200, 120, 60}, 8, 8, VIPS_INTERPRETATION_sRGB);
    withProfile(image.get(), "p3");
    const QString png = path("p3.png");
    const QString jpeg = path("p3.jpg");
    SAVE_OK(vips_pngsave(image.get(), QFile::encodeName(png).constData(), nullptr));
    SAVE_OK(vips_jpegsave(image.get(), QFile::encodeName(jpeg).constData(), "Q", 100, "subsample_mode",
                          VIPS_FOREIGN_SUBSAMPLE_OFF, nullptr));
    const DecodedImage fromPng = ImageDecoder::decode(png, ImageFormat::png);
    ASSERT_FALSE(fromPng.hasAlpha);
    expectNear(at(fromPng, 3, 3), expected, 2, "P3 PNG");
    expectNear(at(ImageDecoder::decode(jpeg, ImageFormat::jpeg), 3, 3), expected, 3, "P3 JPEG");

    // 16 bits with alpha: the colour converts and the alpha scales to 8 bits
    // (half alpha stays half, it must not saturate).
    vips::Image deep = flat<uint16_t>({200 * 257, 120 * 257, 60 * 257, 128 * 257}, 8, 8, VIPS_INTERPRETATION_RGB16);
    withProfile(deep.get(), "p3");
    const QString deepPng = path("p3-16.png");
    SAVE_OK(vips_pngsave(deep.get(), QFile::encodeName(deepPng).constData(), nullptr));
    const DecodedImage fromDeep = ImageDecoder::decode(deepPng, ImageFormat::png);
    ASSERT_TRUE(fromDeep.hasAlpha);
    Pixel expectedDeep = expected;
    expectedDeep[3] = 128;
    expectNear(at(fromDeep, 0, 0), expectedDeep, 3, "P3 RGBA16 PNG");

    // Without a profile the samples are taken as sRGB, untouched.
    const vips::Image untagged = flat<uint8_t>({200, 120, 60}, 8, 8, VIPS_INTERPRETATION_sRGB);
    const QString plain = path("untagged.png");
    SAVE_OK(vips_pngsave(untagged.get(), QFile::encodeName(plain).constData(), nullptr));
    EXPECT_EQ(at(ImageDecoder::decode(plain, ImageFormat::png), 0, 0), (Pixel{200, 120, 60, 255}));
}

TEST_F(DecodingTest, CmykJpegDecodesToRGB)
{
    // Magenta and yellow ink, no black: red, through libvips' fallback CMYK profile.
    const vips::Image red = flat<uint8_t>({0, 255, 255, 0}, 16, 16, VIPS_INTERPRETATION_CMYK);
    const vips::Image paper = flat<uint8_t>({0, 0, 0, 0}, 16, 16, VIPS_INTERPRETATION_CMYK);
    const QString redFile = path("red-cmyk.jpg");
    const QString paperFile = path("paper-cmyk.jpg");
    SAVE_OK(vips_jpegsave(red.get(), QFile::encodeName(redFile).constData(), "Q", 100, nullptr));
    SAVE_OK(vips_jpegsave(paper.get(), QFile::encodeName(paperFile).constData(), "Q", 100, nullptr));

    const DecodedImage decoded = ImageDecoder::decode(redFile, ImageFormat::jpeg);
    ASSERT_FALSE(decoded.hasAlpha);
    ASSERT_EQ(decoded.pixels.size(), 16u * 16u * 3u);
    const Pixel pixel = at(decoded, 8, 8);
    EXPECT_GT(pixel[0], 180);
    EXPECT_LT(pixel[1], 90);
    EXPECT_LT(pixel[2], 90);
    const Pixel white = at(ImageDecoder::decode(paperFile, ImageFormat::jpeg), 8, 8);
    for (std::size_t c = 0; c < 3; ++c)
        EXPECT_GT(white[c], 230);
}

TEST_F(DecodingTest, PngColourTypesBecomeEightBitRGBOrRGBA)
{
    struct Case {
        const char* name;
        vips::Image image;
        bool paletted;
        int bitDepth;
        bool hasAlpha;
        Pixel expected;
    };
    std::vector<Case> cases;
    cases.push_back({"rgb16.png", flat<uint16_t>({200 * 257, 10 * 257, 65535}, 4, 4, VIPS_INTERPRETATION_RGB16),
                     false, 16, false, {200, 10, 255, 255}});
    cases.push_back({"grey.png", flat<uint8_t>({77}, 4, 4, VIPS_INTERPRETATION_B_W), false, 8, false,
                     {77, 77, 77, 255}});
    cases.push_back({"grey1bit.png", flat<uint8_t>({255}, 4, 4, VIPS_INTERPRETATION_B_W), false, 1, false,
                     {255, 255, 255, 255}});
    cases.push_back({"grey-alpha.png", flat<uint8_t>({90, 255}, 4, 4, VIPS_INTERPRETATION_B_W), false, 8, true,
                     {90, 90, 90, 255}});
    cases.push_back({"grey-alpha16.png", flat<uint16_t>({90 * 257, 128 * 257}, 4, 4, VIPS_INTERPRETATION_GREY16),
                     false, 16, true, {90, 90, 90, 128}});
    // Every pixel opaque, yet the channel is there: alpha it is.
    cases.push_back({"opaque-rgba.png", flat<uint8_t>({10, 20, 30, 255}, 4, 4, VIPS_INTERPRETATION_sRGB), false, 8,
                     true, {10, 20, 30, 255}});
    cases.push_back({"palette.png", flat<uint8_t>({40, 80, 160}, 4, 4, VIPS_INTERPRETATION_sRGB), true, 8, false,
                     {40, 80, 160, 255}});
    cases.push_back({"palette-transparent.png", flat<uint8_t>({40, 80, 160, 0}, 4, 4, VIPS_INTERPRETATION_sRGB), true,
                     8, true, {0, 0, 0, 0}});

    for (const Case& c : cases) {
        const QString file = path(c.name);
        const QByteArray native = QFile::encodeName(file);
        SAVE_OK(vips_pngsave(c.image.get(), native.constData(), "palette", c.paletted, "bitdepth", c.bitDepth,
                             nullptr));
        const DecodedImage decoded = ImageDecoder::decode(file, ImageFormat::png);
        EXPECT_EQ(decoded.hasAlpha, c.hasAlpha) << c.name;
        ASSERT_EQ(decoded.pixels.size(), 4u * 4u * (c.hasAlpha ? 4u : 3u)) << c.name;
        expectNear(at(decoded, 2, 2), c.expected, c.paletted ? 2 : 0, c.name);
        EXPECT_EQ(ImageDimensions::read(file), std::make_pair(int64_t{4}, int64_t{4})) << c.name;
    }

    // A palette with one transparent and one opaque entry.
    std::vector<uint8_t> samples = {255, 0, 0, 0, 0, 0, 255, 255};
    const vips::Image mixed = makeImage(samples, 2, 1, 4, VIPS_INTERPRETATION_sRGB);
    const QString mixedFile = path("palette-mixed.png");
    SAVE_OK(vips_pngsave(mixed.get(), QFile::encodeName(mixedFile).constData(), "palette", TRUE, nullptr));
    const DecodedImage decoded = ImageDecoder::decode(mixedFile, ImageFormat::png);
    ASSERT_TRUE(decoded.hasAlpha);
    EXPECT_EQ(at(decoded, 0, 0), (Pixel{0, 0, 0, 0}));
    expectNear(at(decoded, 1, 0), kBlue, 2, "opaque palette entry");
}

// --- Alpha --------------------------------------------------------------

TEST_F(DecodingTest, AlphaComesOutStraightAsFromAPremultipliedBuffer)
{
    // Transparent with a stored colour, half transparent, and a value that
    // does not survive 8-bit premultiplication (101 at alpha 77 comes back as 99).
    const std::vector<uint8_t> samples = {200, 100, 50, 0, 255, 128, 0, 128, 101, 101, 101, 77, 9, 8, 7, 255};
    const vips::Image image = makeImage(samples, 4, 1, 4, VIPS_INTERPRETATION_sRGB);
    const QString file = path("alpha.png");
    SAVE_OK(vips_pngsave(image.get(), QFile::encodeName(file).constData(), nullptr));
    const DecodedImage decoded = ImageDecoder::decode(file, ImageFormat::png);
    ASSERT_TRUE(decoded.hasAlpha);
    EXPECT_EQ(decoded.pixels, (std::vector<uint8_t>{0, 0, 0, 0, 255, 128, 0, 128, 99, 99, 99, 77, 9, 8, 7, 255}));

    // WebP samples come as stored: no premultiplied round trip.
    const QString webp = path("alpha.webp");
    SAVE_OK(vips_webpsave(image.get(), QFile::encodeName(webp).constData(), "lossless", TRUE, nullptr));
    const DecodedImage fromWebP = ImageDecoder::decode(webp, ImageFormat::webp);
    ASSERT_TRUE(fromWebP.hasAlpha);
    EXPECT_EQ(at(fromWebP, 2, 0), (Pixel{101, 101, 101, 77}));
}

// --- Bad input ----------------------------------------------------------

// A well-formed PNG whose header claims the given size.
QByteArray pngClaiming(uint32_t width, uint32_t height)
{
    QByteArray header;
    appendBigEndian(header, width);
    appendBigEndian(header, height);
    header.append(literal("\x08\x02\0\0\0")); // 8-bit RGB
    return literal("\x89PNG\r\n\x1A\n") + pngChunk("IHDR", header)
        + pngChunk("IDAT", literal("\x78\x9C\x03\0\0\0\0\x01")) + pngChunk("IEND", {});
}

TEST_F(DecodingTest, MalformedAndTruncatedFilesFailCleanly)
{
    const auto cannotDecode = [](const char* name) {
        return CompressionError::corruptFile(QStringLiteral("Cannot decode image: ") + QString::fromUtf8(name));
    };
    const auto cannotMeasure = [](const char* name) {
        return CompressionError::corruptFile(QStringLiteral("Cannot read image dimensions: ") + QString::fromUtf8(name));
    };

    const vips::Image picture = flat<uint8_t>({30, 60, 90}, 64, 64, VIPS_INTERPRETATION_sRGB);
    const QString goodJpeg = path("good.jpg");
    const QString goodPng = path("good.png");
    SAVE_OK(vips_jpegsave(picture.get(), QFile::encodeName(goodJpeg).constData(), nullptr));
    SAVE_OK(vips_pngsave(picture.get(), QFile::encodeName(goodPng).constData(), "compression", 0, nullptr));
    const QByteArray jpeg = readFile(goodJpeg);
    const QByteArray png = readFile(goodPng);

    struct Case {
        const char* name;
        QByteArray bytes;
        ImageFormat format;
    };
    const std::vector<Case> cases = {
        {"garbage.jpg", literal("\xFF\xD8\xFF\xE0 this is not a JPEG at all"), ImageFormat::jpeg},
        {"truncated.jpg", jpeg.left(jpeg.size() / 2), ImageFormat::jpeg},
        {"header-only.jpg", jpeg.left(20), ImageFormat::jpeg},
        {"garbage.png", literal("\x89PNG\r\n\x1A\n and then nonsense"), ImageFormat::png},
        {"truncated.png", png.left(png.size() / 2), ImageFormat::png},
        {"garbage.heic", literal("\0\0\0\x18" "ftypheic\0\0\0\0mif1heic junk junk"), ImageFormat::heic},
    };
    for (const Case& c : cases) {
        const QString file = path(c.name);
        writeFile(file, c.bytes);
        expectError([&] { ImageDecoder::decode(file, c.format); }, cannotDecode(c.name));
    }
    for (const char* name : {"garbage.jpg", "header-only.jpg", "garbage.png", "garbage.heic"})
        expectError([&] { ImageDimensions::read(path(name)); }, cannotMeasure(name));

    const QString notAnImage = path("notes.txt");
    writeFile(notAnImage, "plain text, long enough to be sniffed by every loader there is");
    expectError([&] { ImageDimensions::read(notAnImage); }, cannotMeasure("notes.txt"));
    expectError([&] { ImageDimensions::read(path("missing.png")); }, cannotMeasure("missing.png"));
    expectError([&] { ImageDecoder::decode(path("missing.png"), ImageFormat::png); }, cannotDecode("missing.png"));

    // WebP goes through its own decoder; a missing file is a file-system error.
    writeFile(path("garbage.webp"), literal("RIFF\x20\0\0\0WEBPVP8 \x14\0\0\0 not a bitstream"));
    expectError([&] { ImageDecoder::decode(path("garbage.webp"), ImageFormat::webp); },
                CompressionError::corruptFile(QStringLiteral("Cannot decode WebP: garbage.webp")));
    EXPECT_THROW(ImageDecoder::decode(path("missing.webp"), ImageFormat::webp), std::system_error);

    // AVIF never gets as far as the file.
    expectError([&] { ImageDecoder::decode(path("missing.avif"), ImageFormat::avif); },
                CompressionError::unsupportedFormat());
}

TEST_F(DecodingTest, ClaimedSizesBeyondThePixelBudgetFailBeforeDecoding)
{
    const QString huge = path("huge.png");
    writeFile(huge, pngClaiming(100000, 100000));
    expectError([&] { ImageDecoder::decode(huge, ImageFormat::png); },
                CompressionError::corruptFile(QStringLiteral("Image too large to decode (100000 \u00D7 100000 pixels): huge.png")));
    // Measuring reads the header only, so it answers.
    EXPECT_EQ(ImageDimensions::read(huge), std::make_pair(int64_t{100000}, int64_t{100000}));

    // A real JPEG whose frame header is rewritten to 60000 x 60000.
    const vips::Image picture = flat<uint8_t>({30, 60, 90}, 16, 16, VIPS_INTERPRETATION_sRGB);
    const QString small = path("small.jpg");
    SAVE_OK(vips_jpegsave(picture.get(), QFile::encodeName(small).constData(), nullptr));
    QByteArray jpeg = readFile(small);
    const qsizetype frame = jpeg.indexOf(literal("\xFF\xC0"));
    ASSERT_GT(frame, 0);
    jpeg.replace(frame + 5, 4, literal("\xEA\x60\xEA\x60"));
    const QString hugeJpeg = path("huge.jpg");
    writeFile(hugeJpeg, jpeg);
    expectError([&] { ImageDecoder::decode(hugeJpeg, ImageFormat::jpeg); },
                CompressionError::corruptFile(QStringLiteral("Image too large to decode (60000 \u00D7 60000 pixels): huge.jpg")));
}

TEST_F(DecodingTest, AnimatedPngIsRefusedInsteadOfFlattenedToItsFirstFrame)
{
    const vips::Image picture = flat<uint8_t>({30, 60, 90}, 8, 8, VIPS_INTERPRETATION_sRGB);
    const QString still = path("still.png");
    SAVE_OK(vips_pngsave(picture.get(), QFile::encodeName(still).constData(), nullptr));
    const QByteArray png = readFile(still);
    const qsizetype idat = png.indexOf("IDAT") - 4;
    ASSERT_GT(idat, 8);

    const QString animated = path("animated.png");
    writeFile(animated, withAnimationControl(png));
    expectError([&] { ImageDecoder::decode(animated, ImageFormat::png); }, CompressionError::unsupportedFormat());

    // An acTL after the image data makes no animation, and a chunk length
    // running past the end stops the scan: the loader judges those as before.
    const qsizetype iend = png.indexOf("IEND") - 4;
    const QString late = path("late-actl.png");
    writeFile(late, QByteArray(png).insert(iend, animationControlChunk()));
    EXPECT_EQ(ImageDecoder::decode(late, ImageFormat::png).width, 8);
    expectNear(at(ImageDecoder::decode(still, ImageFormat::png), 4, 4), {30, 60, 90, 255}, 0, "still");
    QByteArray overlong = QByteArray(png).insert(idat, pngChunk("prVt", literal("a\0b")));
    overlong.replace(idat, 4, literal("\x7F\xFF\xFF\xF0"));
    const QString broken = path("overlong.png");
    writeFile(broken, overlong);
    expectError([&] { ImageDecoder::decode(broken, ImageFormat::png); },
                CompressionError::corruptFile(QStringLiteral("Cannot decode image: overlong.png")));
}

TEST_F(DecodingTest, DecodesRunConcurrently)
{
    std::vector<uint8_t> rgba;
    std::vector<uint8_t> rgb;
    for (int i = 0; i < 96 * 64; ++i) {
        const std::array<uint8_t, 3> colour{static_cast<uint8_t>(i), static_cast<uint8_t>(i / 96), 7};
        rgb.insert(rgb.end(), colour.begin(), colour.end());
        rgba.insert(rgba.end(), colour.begin(), colour.end());
        rgba.push_back(static_cast<uint8_t>(i % 251));
    }
    const vips::Image withAlpha = makeImage(rgba, 96, 64, 4, VIPS_INTERPRETATION_sRGB);
    const vips::Image turned = makeImage(rgb, 96, 64, 3, VIPS_INTERPRETATION_sRGB);
    vips_image_set_int(turned.get(), VIPS_META_ORIENTATION, 6);
    const QString png = path("threads.png");
    const QString jpeg = path("threads.jpg");
    SAVE_OK(vips_pngsave(withAlpha.get(), QFile::encodeName(png).constData(), nullptr));
    SAVE_OK(vips_jpegsave(turned.get(), QFile::encodeName(jpeg).constData(), nullptr));
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
    for (const bool ok : same)
        EXPECT_TRUE(ok);
}

} // namespace
