#include "TestImages.h"

#include "CompressionError.h"
#include "ImageDecoder.h"
#include "JPEGEncoder.h"
#include "JPEGMetadata.h"
#include "ToolOutputCheck.h"

#include <compress.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <vector>

using namespace vantro;
using namespace vantro::test;

namespace {

// The payloads of the header's marker segments of that type whose payload
// starts with the prefix, in order.
std::vector<QByteArray> segments(const QByteArray& jpeg, int marker, const char* prefix = "")
{
    std::vector<QByteArray> found;
    for (qsizetype at = 2; at + 4 <= jpeg.size() && static_cast<uint8_t>(jpeg[at + 1]) != 0xDA;) {
        const qsizetype length = static_cast<uint8_t>(jpeg[at + 2]) << 8 | static_cast<uint8_t>(jpeg[at + 3]);
        const QByteArray payload = jpeg.mid(at + 4, length - 2);
        if (static_cast<uint8_t>(jpeg[at + 1]) == marker && payload.startsWith(prefix))
            found.push_back(payload);
        at += 2 + length;
    }
    return found;
}

std::vector<QByteArray> iccMarkers(const QByteArray& jpeg)
{
    return segments(jpeg, 0xE2, "ICC_PROFILE");
}

std::optional<int> orientationOf(const QByteArray& jpeg)
{
    const auto exif = segments(jpeg, 0xE1, "Exif");
    return exif.empty() ? std::nullopt : JPEGMetadata::exifOrientation(exif[0]);
}

// What a reader shows: orientation applied, colours converted from the profile.
DecodedImage shown(const QString& path)
{
    return ImageDecoder::decode(path, ImageFormat::jpeg);
}

class JPEGTest : public TemporaryFolderTest {};

TEST_F(JPEGTest, OutputIsMozjpegsProgressiveProfileAtAnyQuality)
{
    const DecodedImage image = photoLike(120, 80);
    const QByteArray jpeg = JPEGEncoder::compress(image, 80, "p.png", std::nullopt);
    EXPECT_EQ(ToolOutputCheck::problem(jpeg, ImageFormat::jpeg, 120, 80), std::nullopt);
    // The system libjpeg's defaults write one baseline scan (SOF0); mozjpeg's
    // default profile writes a progressive frame (SOF2) in several scans, and
    // a smaller file at the same quality.
    EXPECT_EQ(segments(jpeg, 0xC0).size(), 0u);
    EXPECT_EQ(segments(jpeg, 0xC2).size(), 1u);
    EXPECT_GT(jpeg.count("\xFF\xDA"), 2);
    EXPECT_LT(jpeg.size(), vipsEncode(image, ".jpg[Q=80]").size());
    EXPECT_TRUE(segments(jpeg, 0xE1).empty());

    EXPECT_GT(JPEGEncoder::compress(image, 90, "q", std::nullopt).size(),
              JPEGEncoder::compress(image, 10, "q", std::nullopt).size());
    for (const int64_t quality : {0, 1, 100, 250}) {
        EXPECT_EQ(ToolOutputCheck::problem(JPEGEncoder::compress(image, quality, "q", std::nullopt), ImageFormat::jpeg,
                                           120, 80),
                  std::nullopt)
            << quality;
    }
    EXPECT_EQ(ToolOutputCheck::problem(JPEGEncoder::compress(photoLike(1, 1), 75, "1", {}), ImageFormat::jpeg, 1, 1),
              std::nullopt);
}

TEST_F(JPEGTest, ProfileIsSplitIntoNumberedAPP2Markers)
{
    const DecodedImage image = photoLike(16, 16);
    // One full marker, one byte more, and several markers with a short last one.
    for (const qsizetype length : {qsizetype{65519}, qsizetype{65520}, qsizetype{3 * 65519 + 7}}) {
        QByteArray profile(length, '\0');
        for (qsizetype i = 0; i < length; ++i)
            profile[i] = static_cast<char>(i * 7 + i / 65519);
        const auto markers = iccMarkers(JPEGEncoder::compress(image, 90, "i", profile));
        const auto count = static_cast<size_t>((length + 65518) / 65519);
        ASSERT_EQ(markers.size(), count) << length;
        QByteArray joined;
        for (size_t i = 0; i < count; ++i) {
            EXPECT_EQ(markers[i].left(14), QByteArray("ICC_PROFILE\0", 12) + char(i + 1) + char(count));
            joined += markers[i].mid(14);
        }
        EXPECT_EQ(joined, profile);
    }
    EXPECT_TRUE(iccMarkers(JPEGEncoder::compress(image, 90, "i", QByteArray())).empty());
    EXPECT_TRUE(iccMarkers(JPEGEncoder::compress(image, 90, "i", std::nullopt)).empty());

    // Sequence numbers are single bytes: a profile of more than 255 chunks is
    // refused rather than numbered wrongly.
    EXPECT_EQ(errorOf([&] { JPEGEncoder::compress(image, 90, "big.png", QByteArray(255 * 65519 + 1, 'x')); }),
              CompressionError::encoderFailed("mozjpeg compression failed for big.png"));
}

TEST_F(JPEGTest, RefusalsAndLibraryErrorsAreCleanFailures)
{
    const QByteArray profile = builtInProfile("srgb");
    EXPECT_EQ(errorOf([&] { JPEGEncoder::compress(photoLike(8, 8, true), 80, "a.png", profile); }),
              CompressionError::encoderFailed("JPEG encoding does not support an alpha channel"));

    const auto failure = CompressionError::encoderFailed("mozjpeg compression failed for f.png");
    DecodedImage shortBuffer = photoLike(8, 8);
    shortBuffer.pixels.pop_back();
    // Wider than a JPEG may be: the library itself raises the error.
    EXPECT_EQ(errorOf([&] { JPEGEncoder::compress(photoLike(65501, 1), 80, "f.png", profile); }), failure);
    EXPECT_EQ(errorOf([&] { JPEGEncoder::compress(photoLike(8, 8), int64_t{1} << 32, "f.png", {}); }), failure);
    EXPECT_EQ(errorOf([&] { JPEGEncoder::compress(shortBuffer, 80, "f.png", {}); }), failure);
    EXPECT_EQ(errorOf([&] { JPEGEncoder::compress(DecodedImage{}, 80, "f.png", {}); }), failure);

    // The shim's own contract: after a failure nothing is left to free.
    unsigned char* out = reinterpret_cast<unsigned char*>(&out);
    unsigned long size = 99;
    const std::vector<unsigned char> row(65501 * 3, 128);
    EXPECT_EQ(cjpegshim_compress_rgb(row.data(), 65501, 1, 80, nullptr, 0, &out, &size), 1);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(size, 0u);
    // An output that outgrows the first buffer several times hands over one live buffer.
    const DecodedImage large = photoLike(600, 400);
    ASSERT_EQ(cjpegshim_compress_rgb(large.pixels.data(), 600, 400, 100, nullptr, 0, &out, &size), 0);
    ASSERT_NE(out, nullptr);
    EXPECT_GT(size, 2u * 64 * 1024);
    EXPECT_EQ(out[size - 1], 0xD9);
    std::free(out);
}

TEST_F(JPEGTest, LosslessKeepsPixelsOrientationAndProfileOnly)
{
    const DecodedImage image = photoLike(64, 48);
    const QByteArray p3 = builtInProfile("p3");
    const QByteArray source = vipsEncode(image, ".jpg[Q=92]", 6, p3);
    const QString path = write("phone photo.jpg", source);
    const QByteArray optimised = JPEGEncoder::compressLossless(path);
    EXPECT_EQ(readFile(path), source);
    // Turned and converted as before: the samples, the orientation and the
    // profile all came through. The EXIF block holds the orientation only.
    EXPECT_EQ(shown(write("optimised.jpg", optimised)).pixels, shown(path).pixels);
    const auto exif = segments(optimised, 0xE1, "Exif");
    ASSERT_EQ(exif.size(), 1u);
    EXPECT_EQ(exif[0].size(), 32);
    EXPECT_EQ(orientationOf(optimised), 6);
    ASSERT_EQ(iccMarkers(optimised).size(), 1u);
    EXPECT_EQ(iccMarkers(optimised)[0].mid(14), p3);

    // Nothing to carry over: no EXIF and no profile are made up.
    const QString plain = write("plain.jpg", vipsEncode(image, ".jpg[Q=92]", 1));
    const QByteArray plainOptimised = JPEGEncoder::compressLossless(plain);
    EXPECT_TRUE(segments(plainOptimised, 0xE1).empty());
    EXPECT_TRUE(segments(plainOptimised, 0xE2).empty());

    // A profile of several markers survives in order.
    const QByteArray big = p3 + QByteArray(150000, 'z');
    const QByteArray multi = JPEGEncoder::compressLossless(write("multi.jpg", vipsEncode(image, ".jpg[Q=92]", 3, big)));
    QByteArray joined;
    for (const QByteArray& marker : iccMarkers(multi))
        joined += marker.mid(14);
    EXPECT_EQ(joined, big);
    EXPECT_EQ(orientationOf(multi), 3);

    // The tool never sees a file whose header cannot be read.
    EXPECT_EQ(errorOf([&] { JPEGEncoder::compressLossless(write("not.jpg", "not a JPEG at all")); }),
              CompressionError::corruptFile("Cannot read image dimensions: not.jpg"));
}

struct IntegerType {
    const char* name;
    uint16_t code;
    int bytes;
};

class ExifOrientationTest : public testing::TestWithParam<IntegerType> {};

// Orientation is meant to be a SHORT; cameras also write it as a (signed) long.
TEST_P(ExifOrientationTest, IsReadWhateverIntegerTypeHoldsIt)
{
    for (const bool bigEndian : {true, false}) {
        const auto put = [&](QByteArray& out, uint32_t value, int bytes) {
            for (int i = 0; i < bytes; ++i)
                out += static_cast<char>(value >> (8 * (bigEndian ? bytes - 1 - i : i)));
        };
        QByteArray tiff = bigEndian ? "MM" : "II";
        put(tiff, 42, 2);
        put(tiff, 8, 4);
        put(tiff, 2, 2); // two entries: the maker, then the orientation
        put(tiff, 0x010F, 2);
        put(tiff, 2, 2);
        put(tiff, 4, 4);
        tiff += QByteArray("Pan", 4);
        put(tiff, 0x0112, 2);
        put(tiff, GetParam().code, 2);
        put(tiff, 1, 4);
        QByteArray value;
        put(value, 6, GetParam().bytes);
        tiff += value.leftJustified(4, '\0') + QByteArray(4, '\0');
        EXPECT_EQ(JPEGMetadata::exifOrientation(QByteArray("Exif\0\0", 6) + tiff), 6) << bigEndian;
    }
}

INSTANTIATE_TEST_SUITE_P(Types, ExifOrientationTest,
                         testing::Values(IntegerType{"Byte", 1, 1}, IntegerType{"Short", 3, 2},
                                         IntegerType{"Long", 4, 4}, IntegerType{"SignedByte", 6, 1},
                                         IntegerType{"SignedShort", 8, 2}, IntegerType{"SignedLong", 9, 4}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(JPEGMetadataTest, RestoreReadsOnlyWhatIsThere)
{
    const QByteArray optimised = JPEGEncoder::compress(photoLike(8, 8), 80, "m", std::nullopt);
    const QByteArray soi("\xFF\xD8", 2);
    const QByteArray sos("\xFF\xDA\x00\x02", 4);
    const QByteArray icc = QByteArray("\xFF\xE2\x00\x13", 4) + QByteArray("ICC_PROFILE\0\x01\x01", 14) + "abc";
    const auto app1 = [](const QByteArray& tiff) {
        const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
        const auto length = static_cast<uint16_t>(payload.size() + 2);
        return QByteArray("\xFF\xE1", 2) + char(length >> 8) + char(length & 0xFF) + payload;
    };
    // Little-endian EXIF with orientation 8 among other entries.
    const QByteArray littleEndian = app1(QByteArray::fromHex("49492a0008000000"
                                                             "0200"
                                                             "0f01020004000000414243ff"
                                                             "120103000100000008000000"
                                                             "00000000"));
    const QByteArray restored = JPEGMetadata::restoreOrientationAndProfile(soi + littleEndian + icc + sos, optimised);
    EXPECT_EQ(orientationOf(restored), 8);
    EXPECT_EQ(iccMarkers(restored), std::vector<QByteArray>{icc.mid(4)});
    EXPECT_EQ(restored.mid(restored.indexOf("\xFF\xDB")), optimised.mid(optimised.indexOf("\xFF\xDB")));

    // The directory points past the block: no EXIF, the profile still comes back.
    const QByteArray badOffset = app1(QByteArray::fromHex("4d4d002a0000ff00"
                                                          "0001"));
    const QByteArray onlyProfile = JPEGMetadata::restoreOrientationAndProfile(soi + badOffset + icc + sos, optimised);
    EXPECT_TRUE(segments(onlyProfile, 0xE1).empty());
    EXPECT_EQ(iccMarkers(onlyProfile).size(), 1u);

    // Headers that cannot be read leave the optimised bytes as they are.
    for (const QByteArray& broken : {QByteArray("\xFF\xD8\xFF\xE2\xFF\xFF", 6) + icc,
                                     QByteArray("\xFF\xD8\xFF\xE1\x00\x01", 6) + littleEndian + sos, soi + icc.left(10),
                                     soi, QByteArray("GIF89a"), QByteArray()})
        EXPECT_EQ(JPEGMetadata::restoreOrientationAndProfile(broken, optimised), optimised);
    EXPECT_EQ(JPEGMetadata::restoreOrientationAndProfile(soi + icc + sos, "not a JPEG"), "not a JPEG");
}

} // namespace
