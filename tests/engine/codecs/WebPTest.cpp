#include "TestImages.h"

#include "CompressionError.h"
#include "ImageDecoder.h"
#include "WebPDecoder.h"
#include "WebPEncoder.h"
#include "WebPICCProfile.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QtEndian>

#include <lcms2.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <system_error>
#include <thread>

using namespace vantro;
using namespace vantro::test;

namespace {

// A gradient over noise, with alpha that changes from pixel to pixel.
DecodedImage makeImage(int width, int height, bool alpha)
{
    uint32_t noise = 12345;
    return paintedImage(width, height, alpha, [&](int x, int y, uint8_t* pixel) {
        noise = noise * 1103515245u + 12345u;
        pixel[0] = static_cast<uint8_t>(x * 255 / width);
        pixel[1] = static_cast<uint8_t>(y * 255 / height);
        pixel[2] = static_cast<uint8_t>(noise >> 24);
        if (alpha)
            pixel[3] = static_cast<uint8_t>(1 + (x + y) % 255);
    });
}

int largestDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    EXPECT_EQ(a.size(), b.size());
    int largest = 0;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        largest = std::max(largest, std::abs(a[i] - b[i]));
    return largest;
}

class WebPTest : public TemporaryFolderTest {};

TEST_F(WebPTest, RecompressionKeepsAlphaAsTheSourceHasItAndLosslessEveryPixel)
{
    for (const bool alpha : {true, false}) {
        SCOPED_TRACE(alpha ? "RGBA" : "RGB");
        const QByteArray source = vipsEncode(makeImage(37, 23, alpha), ".webp[Q=50]");
        const QString path = write("lossy source.webp", source);
        EXPECT_EQ(WebPEncoder::readDimensions(path), std::make_pair(int64_t{37}, int64_t{23}));
        EXPECT_EQ(WebPDecoder::decode(WebPEncoder::compress(path, CompressionMode::lossy(80)), "r").hasAlpha, alpha);
        const DecodedImage after = WebPDecoder::decode(WebPEncoder::compress(path, CompressionMode::lossless()), "r");
        EXPECT_EQ(after.hasAlpha, alpha);
        EXPECT_EQ(after.pixels, WebPDecoder::decode(source, "s").pixels);
    }

    const QString path = write("q.webp", vipsEncode(makeImage(96, 96, false), ".webp[lossless]"));
    const auto at = [&](int64_t quality) { return WebPEncoder::compress(path, CompressionMode::lossy(quality)); };
    EXPECT_GT(at(90).size(), at(10).size());
    EXPECT_EQ(WebPDecoder::decode(at(1), "x").width, 96);
    EXPECT_EQ(WebPDecoder::decode(at(100), "x").width, 96);
}

TEST_F(WebPTest, BadFilesFailCleanly)
{
    // Decoding errors of every road are the decoder's (see the decoding tests).
    const QString notWebP = write("photo.webp", QByteArray::fromHex("89504e470d0a1a0a") + "a PNG, not a WebP");
    EXPECT_EQ(errorOf([&] { WebPEncoder::readDimensions(notWebP); }),
              CompressionError::corruptFile("Cannot read WebP dimensions: photo.webp"));
    const QByteArray whole = vipsEncode(makeImage(64, 64, true), ".webp");
    const QString truncated = write("cut.webp", whole.left(whole.size() / 2));
    EXPECT_EQ(errorOf([&] { WebPEncoder::compress(truncated, CompressionMode::lossy(80)); }),
              CompressionError::corruptFile("Cannot decode WebP: cut.webp"));
    const QString header = write("header.webp", whole.left(12));
    EXPECT_EQ(errorOf([&] { WebPEncoder::readDimensions(header); }),
              CompressionError::corruptFile("Cannot read WebP dimensions: header.webp"));
    EXPECT_THROW(WebPEncoder::readDimensions(dir.filePath("missing.webp")), std::system_error);
}

TEST_F(WebPTest, RecompressionKeepsTheSourceProfileAndNoOtherMetadata)
{
    const QByteArray p3 = builtInProfile("p3");
    for (const bool alpha : {false, true}) {
        const QByteArray plain = vipsEncode(makeImage(32, 32, alpha), ".webp");
        const QString taggedPath
            = write("p3.webp", webpWithChunk(webpWithChunk(plain, "ICCP", p3), "EXIF", QByteArray("Exif\0\0MM", 8)));
        const QString plainPath = write("plain.webp", plain);
        for (const auto& mode : {CompressionMode::lossy(70), CompressionMode::lossless()}) {
            const QByteArray result = WebPEncoder::compress(taggedPath, mode);
            EXPECT_EQ(WebPICCProfile::iccProfile(result), p3);
            EXPECT_FALSE(result.contains("EXIF"));
            EXPECT_EQ(WebPDecoder::decode(result, "r").hasAlpha, alpha);
            EXPECT_EQ(WebPICCProfile::iccProfile(WebPEncoder::compress(plainPath, mode)), std::nullopt);
        }
    }
    EXPECT_EQ(WebPICCProfile::iccProfile(QByteArray("garbage")), std::nullopt);
}

// Built once a process, the profile is the same in every process: built at
// another wall-clock second, in a time zone whose date is mostly another
// day's. The children build it afresh as long as this process has not built
// it, which holds when ctest runs the test in a process of its own. Its fixed
// date is a date as well to readers that take lcms2's month, counted from 0,
// as counted from 1: January is month 0 to them, which they refuse.
TEST_F(WebPTest, SRGBProfileIsTheSameInEveryProcess)
{
    const auto builtIn = [](const char* zone) {
        return outputOfChild([&]() -> std::optional<QByteArray> {
            const EnvironmentOverride timeZone("TZ", zone);
            ::tzset();
            return WebPICCProfile::sRGBICCProfileData();
        });
    };
    const std::optional<QByteArray> first = builtIn("UTC0");
    const std::time_t firstEnded = std::time(nullptr);
    while (std::time(nullptr) == firstEnded)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::optional<QByteArray> second = builtIn("<+14>-14");
    ASSERT_TRUE(first && second);
    EXPECT_EQ(*first, *second);

    // Year, month, day, hours, minutes, seconds.
    std::array<int, 6> created{};
    for (size_t i = 0; i < created.size(); ++i)
        created[i] = qFromBigEndian<uint16_t>(first->constData() + 24 + 2 * i);
    EXPECT_EQ(created, (std::array<int, 6>{2025, 6, 15, 0, 0, 0}));
    for (const int month : {created[1], created[1] - 1}) {
        const QDateTime date(QDate(created[0], month, created[2]), QTime(created[3], created[4], created[5]));
        EXPECT_TRUE(date.isValid()) << "month " << month;
    }
    // A profile ID would be a digest over the date as well.
    EXPECT_EQ(first->mid(84, 16), QByteArray(16, '\0'));
}

TEST_F(WebPTest, EmbeddedSRGBProfileMakesAnExtendedFileWithTheSameImage)
{
    const QByteArray profile = WebPICCProfile::sRGBICCProfileData();
    EXPECT_EQ(profile.mid(36, 4), "acsp"); // an ICC profile's signature
    EXPECT_EQ(profile.mid(16, 4), "RGB ");
    EXPECT_EQ(qFromBigEndian<uint32_t>(profile.constData()), profile.size()); // its declared size
    for (const auto& mode : {CompressionMode::lossy(75), CompressionMode::lossless()}) {
        const QByteArray simple = WebPEncoder::encode(makeImage(20, 10, false), mode, "s");
        ASSERT_NE(simple.mid(12, 4), "VP8X");
        const QByteArray tagged = WebPICCProfile::embedICCProfile(simple, profile);
        EXPECT_EQ(tagged.mid(12, 4), "VP8X");
        EXPECT_EQ(WebPICCProfile::iccProfile(tagged), profile);
        EXPECT_EQ(WebPDecoder::decode(tagged, "t").pixels, WebPDecoder::decode(simple, "s").pixels);
    }
    EXPECT_EQ(errorOf([&] { WebPICCProfile::embedICCProfile(QByteArray(100, 'x'), profile); }),
              CompressionError::encoderFailed("WebPMuxCreate failed while embedding ICC profile"));
}

// Small enough not to outweigh a small image, yet it says what the pixels of a
// conversion are: libvips' sRGB, which the decoder converts into. Every level
// of each channel, grey, mixed colours and a grid with the ends of each axis
// (the saturated greens and cyans among them), read through the profile into
// libvips' sRGB in double precision, stay within half a level; libvips' own
// 8-bit transform gives them back within one.
TEST_F(WebPTest, SRGBProfileIsSmallAndDescribesLibvipsSRGB)
{
    const QByteArray profile = WebPICCProfile::sRGBICCProfileData();
    EXPECT_LT(profile.size(), 1024);
    EXPECT_EQ(profile[8], 2); // version 2, which every reader takes

    // Rows: red, green and blue alone, grey, then mixed colours.
    const DecodedImage gradient = paintedImage(256, 5, false, [](int x, int y, uint8_t* pixel) {
        for (int c = 0; c < 3; ++c)
            pixel[c] = static_cast<uint8_t>(y == 4 ? x * (1 + 96 * c) + 85 * c : y == 3 || y == c ? x : 0);
    });
    EXPECT_LE(largestDifference(ImageDecoder::finish(gradient, 1, profile).pixels, gradient.pixels), 1);

    std::vector<double> colours(gradient.pixels.begin(), gradient.pixels.end());
    for (double r = 0; r <= 255; r += 3) {
        for (double g = 0; g <= 255; g += 3) {
            for (double b = 0; b <= 255; b += 3)
                colours.insert(colours.end(), {r, g, b});
        }
    }
    for (double& colour : colours)
        colour /= 255;
    using Profile = std::unique_ptr<void, decltype(&cmsCloseProfile)>;
    const QByteArray libvips = builtInProfile("sRGB");
    const Profile ours(cmsOpenProfileFromMem(profile.constData(), static_cast<cmsUInt32Number>(profile.size())),
                       &cmsCloseProfile);
    const Profile reference(cmsOpenProfileFromMem(libvips.constData(), static_cast<cmsUInt32Number>(libvips.size())),
                            &cmsCloseProfile);
    ASSERT_TRUE(ours && reference);
    const std::unique_ptr<void, decltype(&cmsDeleteTransform)> transform(
        cmsCreateTransform(ours.get(), TYPE_RGB_DBL, reference.get(), TYPE_RGB_DBL, INTENT_RELATIVE_COLORIMETRIC,
                           cmsFLAGS_NOOPTIMIZE),
        &cmsDeleteTransform);
    ASSERT_TRUE(transform);
    std::vector<double> out(colours.size());
    cmsDoTransform(transform.get(), colours.data(), out.data(), static_cast<cmsUInt32Number>(colours.size() / 3));
    double largest = 0;
    size_t worst = 0;
    for (size_t i = 0; i < colours.size(); ++i) {
        if (std::abs(out[i] - colours[i]) > largest) {
            largest = std::abs(out[i] - colours[i]);
            worst = i - i % 3;
        }
    }
    EXPECT_LE(largest * 255, 0.5) << "at " << colours[worst] * 255 << "," << colours[worst + 1] * 255 << ","
                                  << colours[worst + 2] * 255;
}

TEST_F(WebPTest, EncodeRefusesWhatLibwebpCannotTake)
{
    const CompressionError failure = CompressionError::encoderFailed("libwebp encoding failed for big.png");
    const auto fails = [&](const DecodedImage& image, const CompressionMode& mode) {
        EXPECT_EQ(errorOf([&] { WebPEncoder::encode(image, mode, "big.png"); }), failure);
    };
    const QByteArray widest = WebPEncoder::encode(makeImage(16383, 1, false), CompressionMode::lossless(), "x");
    EXPECT_EQ(WebPDecoder::decode(widest, "x").width, 16383);
    fails(makeImage(16384, 1, false), CompressionMode::lossless());
    fails(makeImage(1, 16384, true), CompressionMode::lossy(80));
    fails(DecodedImage{}, CompressionMode::lossy(80));
    DecodedImage shortBuffer = makeImage(10, 10, true);
    shortBuffer.pixels.pop_back();
    fails(shortBuffer, CompressionMode::lossless());
    DecodedImage claimsAlpha = makeImage(10, 10, false);
    claimsAlpha.hasAlpha = true;
    fails(claimsAlpha, CompressionMode::lossy(80));
    for (const int64_t quality : {int64_t{-1}, int64_t{101}, int64_t{1} << 40})
        fails(makeImage(8, 8, false), CompressionMode::lossy(quality));
    EXPECT_FALSE(WebPEncoder::encode(makeImage(8, 8, false), CompressionMode::lossy(0), "x").isEmpty());
}

} // namespace
