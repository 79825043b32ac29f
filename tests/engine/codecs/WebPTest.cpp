#include "TestImages.h"

#include "CompressionError.h"
#include "WebPDecoder.h"
#include "WebPEncoder.h"
#include "WebPICCProfile.h"

#include <gtest/gtest.h>

#include <webp/decode.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <optional>
#include <system_error>

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

// Encodes with libwebp directly, so the sources do not depend on the code under test.
QByteArray webpOf(const DecodedImage& image, bool lossless, float quality = 75)
{
    uint8_t* output = nullptr;
    const int stride = image.width * image.channels();
    size_t size = 0;
    if (lossless)
        size = image.hasAlpha ? WebPEncodeLosslessRGBA(image.pixels.data(), image.width, image.height, stride, &output)
                              : WebPEncodeLosslessRGB(image.pixels.data(), image.width, image.height, stride, &output);
    else
        size = image.hasAlpha
            ? WebPEncodeRGBA(image.pixels.data(), image.width, image.height, stride, quality, &output)
            : WebPEncodeRGB(image.pixels.data(), image.width, image.height, stride, quality, &output);
    QByteArray bytes(reinterpret_cast<const char*>(output), static_cast<qsizetype>(size));
    WebPFree(output);
    return bytes;
}

std::optional<QByteArray> chunkOf(const QByteArray& webp, const char* fourcc)
{
    const WebPData data{reinterpret_cast<const uint8_t*>(webp.constData()), static_cast<size_t>(webp.size())};
    WebPMux* mux = WebPMuxCreate(&data, 0);
    if (!mux)
        return std::nullopt;
    WebPData chunk{};
    std::optional<QByteArray> result;
    if (WebPMuxGetChunk(mux, fourcc, &chunk) == WEBP_MUX_OK)
        result = QByteArray(reinterpret_cast<const char*>(chunk.bytes), static_cast<qsizetype>(chunk.size));
    WebPMuxDelete(mux);
    return result;
}

bool hasAlpha(const QByteArray& webp)
{
    WebPBitstreamFeatures features{};
    EXPECT_EQ(WebPGetFeatures(reinterpret_cast<const uint8_t*>(webp.constData()), static_cast<size_t>(webp.size()),
                              &features),
              VP8_STATUS_OK);
    return features.has_alpha != 0;
}

class WebPTest : public TemporaryFolderTest {};

TEST_F(WebPTest, RecompressionKeepsAlphaExactlyWhenTheSourceHasIt)
{
    for (const bool alpha : {true, false}) {
        const QString path = write("a.webp", webpOf(makeImage(40, 30, alpha), false));
        for (const auto& mode : {CompressionMode::lossy(80), CompressionMode::lossless()}) {
            const QByteArray result = WebPEncoder::compress(path, mode);
            EXPECT_EQ(hasAlpha(result), alpha);
            EXPECT_EQ(WebPEncoder::readDimensions(path), std::make_pair(int64_t{40}, int64_t{30}));
        }
    }
}

TEST_F(WebPTest, LosslessRecompressionKeepsEveryPixel)
{
    for (const bool alpha : {true, false}) {
        const QByteArray source = webpOf(makeImage(37, 23, alpha), false, 50);
        const QString path = write("lossy source.webp", source);
        const DecodedImage before = WebPDecoder::decode(source, "s");
        const DecodedImage after = WebPDecoder::decode(WebPEncoder::compress(path, CompressionMode::lossless()), "r");
        EXPECT_EQ(after.width, 37);
        EXPECT_EQ(after.height, 23);
        EXPECT_EQ(after.hasAlpha, alpha);
        EXPECT_EQ(after.pixels, before.pixels);
    }
}

TEST_F(WebPTest, LossyQualityOrdersSizesAndTheEndsOfTheScaleWork)
{
    const QString path = write("q.webp", webpOf(makeImage(96, 96, false), true));
    const QByteArray high = WebPEncoder::compress(path, CompressionMode::lossy(90));
    const QByteArray low = WebPEncoder::compress(path, CompressionMode::lossy(10));
    EXPECT_GE(high.size(), low.size());
    for (const int64_t quality : {1, 100})
        EXPECT_EQ(WebPDecoder::decode(WebPEncoder::compress(path, CompressionMode::lossy(quality)), "x").width, 96);
}

TEST_F(WebPTest, BadFilesFailCleanly)
{
    const QString notWebP = write("photo.webp", QByteArray::fromHex("89504e470d0a1a0a") + "a PNG, not a WebP");
    EXPECT_EQ(errorOf([&] { WebPEncoder::compress(notWebP, CompressionMode::lossless()); }),
              CompressionError::corruptFile("Cannot decode WebP: photo.webp"));
    EXPECT_EQ(errorOf([&] { WebPEncoder::readDimensions(notWebP); }),
              CompressionError::corruptFile("Cannot read WebP dimensions: photo.webp"));

    const QByteArray whole = webpOf(makeImage(64, 64, true), false);
    const QString truncated = write("cut.webp", whole.left(whole.size() / 2));
    EXPECT_EQ(errorOf([&] { WebPEncoder::compress(truncated, CompressionMode::lossy(80)); }),
              CompressionError::corruptFile("Cannot decode WebP: cut.webp"));
    const QString header = write("header.webp", whole.left(12));
    EXPECT_EQ(errorOf([&] { WebPEncoder::readDimensions(header); }),
              CompressionError::corruptFile("Cannot read WebP dimensions: header.webp"));

    const QString missing = dir.filePath("missing.webp");
    EXPECT_THROW(WebPEncoder::compress(missing, CompressionMode::lossless()), std::system_error);
    EXPECT_THROW(WebPEncoder::readDimensions(missing), std::system_error);
}

TEST_F(WebPTest, EmbeddedProfileMakesAnExtendedFileWithTheSameImage)
{
    const QByteArray profile = WebPICCProfile::sRGBICCProfileData();
    for (const bool lossless : {false, true}) {
        const QByteArray simple = webpOf(makeImage(20, 10, false), lossless);
        ASSERT_EQ(simple.mid(12, 4), lossless ? "VP8L" : "VP8 ");
        const QByteArray tagged = WebPICCProfile::embedICCProfile(simple, profile);
        EXPECT_EQ(tagged.left(4), "RIFF");
        EXPECT_EQ(tagged.mid(12, 4), "VP8X");
        EXPECT_EQ(chunkOf(tagged, "ICCP"), profile);
        EXPECT_EQ(WebPDecoder::decode(tagged, "t").pixels, WebPDecoder::decode(simple, "s").pixels);
    }
    EXPECT_EQ(errorOf([&] { WebPICCProfile::embedICCProfile(QByteArray(100, 'x'), profile); }),
              CompressionError::encoderFailed("WebPMuxCreate failed while embedding ICC profile"));
}

TEST_F(WebPTest, SRGBProfileIsAStableICCProfile)
{
    const QByteArray profile = WebPICCProfile::sRGBICCProfileData();
    ASSERT_GT(profile.size(), 128);
    EXPECT_EQ(profile.mid(36, 4), "acsp");
    EXPECT_EQ(profile.mid(16, 4), "RGB ");
    // The header's first field is the profile's size, big-endian.
    uint32_t declared = 0;
    for (int i = 0; i < 4; ++i)
        declared = (declared << 8) | static_cast<uint8_t>(profile[i]);
    EXPECT_EQ(declared, static_cast<uint32_t>(profile.size()));
    EXPECT_EQ(WebPICCProfile::sRGBICCProfileData(), profile);
}

TEST_F(WebPTest, RecompressionKeepsTheSourceProfileAndNoOtherMetadata)
{
    const QByteArray p3 = builtInProfile("p3");
    ASSERT_FALSE(p3.isEmpty());
    ASSERT_NE(p3, WebPICCProfile::sRGBICCProfileData());
    for (const bool alpha : {false, true}) {
        const QByteArray plain = webpOf(makeImage(32, 32, alpha), false);
        const QByteArray tagged = webpWithChunk(webpWithChunk(plain, "ICCP", p3), "EXIF", QByteArray("Exif\0\0MM", 8));
        const QString taggedPath = write("p3.webp", tagged);
        const QString plainPath = write("plain.webp", plain);
        for (const auto& mode : {CompressionMode::lossy(70), CompressionMode::lossless()}) {
            const QByteArray result = WebPEncoder::compress(taggedPath, mode);
            EXPECT_EQ(chunkOf(result, "ICCP"), p3);
            EXPECT_EQ(WebPICCProfile::iccProfile(result), p3);
            EXPECT_EQ(chunkOf(result, "EXIF"), std::nullopt);
            EXPECT_EQ(hasAlpha(result), alpha);

            const QByteArray untagged = WebPEncoder::compress(plainPath, mode);
            EXPECT_EQ(WebPICCProfile::iccProfile(untagged), std::nullopt);
            EXPECT_EQ(chunkOf(untagged, "ICCP"), std::nullopt);
        }
    }
    EXPECT_EQ(WebPICCProfile::iccProfile(QByteArray("garbage")), std::nullopt);
}

TEST_F(WebPTest, EncodeRefusesWhatLibwebpCannotTake)
{
    const CompressionError failure = CompressionError::encoderFailed("libwebp encoding failed for big.png");
    const auto encode = [](const DecodedImage& image, const CompressionMode& mode) {
        return WebPEncoder::encode(image, mode, "big.png");
    };

    EXPECT_EQ(WebPDecoder::decode(encode(makeImage(16383, 1, false), CompressionMode::lossless()), "x").width, 16383);
    EXPECT_EQ(errorOf([&] { encode(makeImage(16384, 1, false), CompressionMode::lossless()); }), failure);
    EXPECT_EQ(errorOf([&] { encode(makeImage(1, 16384, true), CompressionMode::lossy(80)); }), failure);
    EXPECT_EQ(errorOf([&] { encode(DecodedImage{}, CompressionMode::lossy(80)); }), failure);

    DecodedImage shortBuffer = makeImage(10, 10, true);
    shortBuffer.pixels.pop_back();
    EXPECT_EQ(errorOf([&] { encode(shortBuffer, CompressionMode::lossless()); }), failure);
    DecodedImage claimsAlpha = makeImage(10, 10, false);
    claimsAlpha.hasAlpha = true;
    EXPECT_EQ(errorOf([&] { encode(claimsAlpha, CompressionMode::lossy(80)); }), failure);

    const DecodedImage fine = makeImage(8, 8, false);
    for (const int64_t quality : {int64_t{-1}, int64_t{101}, int64_t{1} << 40})
        EXPECT_EQ(errorOf([&] { encode(fine, CompressionMode::lossy(quality)); }), failure);
    EXPECT_FALSE(encode(fine, CompressionMode::lossy(0)).isEmpty());
}

} // namespace
