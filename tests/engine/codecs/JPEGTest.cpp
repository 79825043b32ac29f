#include "TestImages.h"

#include "CompressionError.h"
#include "EngineSupport.h"
#include "JPEGEncoder.h"
#include "JPEGMetadata.h"

#include <compress.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <vector>

using namespace vantro;
using namespace vantro::test;

namespace {

struct Segment {
    int marker;
    QByteArray payload;
};

// The marker segments before the first scan; fails the test on a malformed header.
std::vector<Segment> header(const QByteArray& jpeg)
{
    std::vector<Segment> segments;
    EXPECT_TRUE(jpeg.startsWith("\xFF\xD8"));
    qsizetype at = 2;
    while (at + 4 <= jpeg.size()) {
        EXPECT_EQ(static_cast<uint8_t>(jpeg[at]), 0xFF);
        const int marker = static_cast<uint8_t>(jpeg[at + 1]);
        const qsizetype length = (qsizetype{static_cast<uint8_t>(jpeg[at + 2])} << 8) | static_cast<uint8_t>(jpeg[at + 3]);
        segments.push_back({marker, jpeg.mid(at + 4, length - 2)});
        if (marker == 0xDA)
            break;
        at += 2 + length;
    }
    return segments;
}

std::vector<Segment> segmentsOf(const QByteArray& jpeg, int marker, const char* prefix = "")
{
    std::vector<Segment> found;
    for (const Segment& segment : header(jpeg)) {
        if (segment.marker == marker && segment.payload.startsWith(QByteArray(prefix)))
            found.push_back(segment);
    }
    return found;
}

std::vector<Segment> iccMarkers(const QByteArray& jpeg)
{
    return segmentsOf(jpeg, 0xE2, "ICC_PROFILE");
}

struct Decoded {
    std::vector<uint8_t> pixels;
    int width = 0;
    int height = 0;
    int orientation = 1;
    bool hasExif = false;
    QByteArray profile;
};

// Decodes with libvips as stored, without applying the orientation.
Decoded decode(const QByteArray& jpeg)
{
    vips::ensureStarted();
    VipsImage* raw = nullptr;
    Decoded decoded;
    if (vips_jpegload_buffer(const_cast<char*>(jpeg.constData()), static_cast<size_t>(jpeg.size()), &raw,
                             "autorotate", FALSE, nullptr)
        != 0) {
        ADD_FAILURE() << "libvips cannot decode: " << vips::takeError();
        return decoded;
    }
    const vips::Image image(raw);
    decoded.width = vips_image_get_width(image.get());
    decoded.height = vips_image_get_height(image.get());
    if (vips_image_get_typeof(image.get(), VIPS_META_ORIENTATION))
        vips_image_get_int(image.get(), VIPS_META_ORIENTATION, &decoded.orientation);
    decoded.hasExif = vips_image_get_typeof(image.get(), VIPS_META_EXIF_NAME) != 0;
    if (vips_image_get_typeof(image.get(), VIPS_META_ICC_NAME)) {
        const void* data = nullptr;
        size_t length = 0;
        vips_image_get_blob(image.get(), VIPS_META_ICC_NAME, &data, &length);
        decoded.profile = QByteArray(static_cast<const char*>(data), static_cast<qsizetype>(length));
    }
    size_t size = 0;
    const std::unique_ptr<void, vips::GFree> memory(vips_image_write_to_memory(image.get(), &size));
    const auto* bytes = static_cast<const uint8_t*>(memory.get());
    decoded.pixels.assign(bytes, bytes + size);
    return decoded;
}

class JPEGTest : public TemporaryFolderTest {};

TEST_F(JPEGTest, OutputIsMozjpegsProgressiveProfile)
{
    const DecodedImage image = photoLike(120, 80);
    const QByteArray jpeg = JPEGEncoder::compress(image, 80, "p.png", std::nullopt);
    ASSERT_TRUE(jpeg.startsWith("\xFF\xD8"));
    EXPECT_TRUE(jpeg.endsWith("\xFF\xD9"));
    // The system libjpeg's defaults write one baseline scan (SOF0); mozjpeg's
    // default profile writes a progressive frame (SOF2) in several scans.
    EXPECT_EQ(segmentsOf(jpeg, 0xC0).size(), 0u);
    EXPECT_EQ(segmentsOf(jpeg, 0xC2).size(), 1u);
    EXPECT_GT(jpeg.count("\xFF\xDA"), 2);
    // The system libjpeg at the same quality makes a bigger file.
    EXPECT_LT(jpeg.size(), vipsEncode(image, ".jpg[Q=80]").size());

    const Decoded decoded = decode(jpeg);
    EXPECT_EQ(decoded.width, 120);
    EXPECT_EQ(decoded.height, 80);
    EXPECT_FALSE(decoded.hasExif);

    const Decoded tiny = decode(JPEGEncoder::compress(photoLike(1, 1), 75, "1x1", std::nullopt));
    EXPECT_EQ(tiny.width, 1);
    EXPECT_EQ(tiny.height, 1);
}

TEST_F(JPEGTest, ProfileIsSplitIntoNumberedAPP2Markers)
{
    const DecodedImage image = photoLike(16, 16);
    for (const qsizetype length : {qsizetype{65519}, qsizetype{65520}, qsizetype{3 * 65519 + 7}}) {
        QByteArray profile(length, '\0');
        for (qsizetype i = 0; i < length; ++i)
            profile[i] = static_cast<char>(i * 7 + i / 65519);
        const QByteArray jpeg = JPEGEncoder::compress(image, 90, "i", profile);
        const auto markers = iccMarkers(jpeg);
        const auto count = static_cast<size_t>((length + 65518) / 65519);
        ASSERT_EQ(markers.size(), count) << length;
        QByteArray joined;
        for (size_t i = 0; i < count; ++i) {
            EXPECT_EQ(markers[i].payload.left(12), QByteArray("ICC_PROFILE\0", 12));
            EXPECT_EQ(static_cast<uint8_t>(markers[i].payload[12]), i + 1);
            EXPECT_EQ(static_cast<uint8_t>(markers[i].payload[13]), count);
            joined += markers[i].payload.mid(14);
        }
        EXPECT_EQ(markers.back().payload.size() - 14, length - static_cast<qsizetype>(count - 1) * 65519);
        EXPECT_EQ(joined, profile);
        EXPECT_EQ(decode(jpeg).profile, profile);
    }
    EXPECT_TRUE(iccMarkers(JPEGEncoder::compress(image, 90, "i", QByteArray())).empty());
    EXPECT_TRUE(iccMarkers(JPEGEncoder::compress(image, 90, "i", std::nullopt)).empty());

    // Sequence numbers are single bytes: a profile of more than 255 chunks is
    // refused rather than numbered wrongly.
    const QByteArray tooLong(255 * 65519 + 1, 'x');
    EXPECT_EQ(errorOf([&] { JPEGEncoder::compress(image, 90, "big.png", tooLong); }),
              CompressionError::encoderFailed("mozjpeg compression failed for big.png"));
}

TEST_F(JPEGTest, RefusalsAndLibraryErrorsAreCleanFailures)
{
    const QByteArray profile = builtInProfile("srgb");
    EXPECT_EQ(errorOf([&] { JPEGEncoder::compress(photoLike(8, 8, true), 80, "a.png", profile); }),
              CompressionError::encoderFailed("JPEG encoding does not support an alpha channel"));

    const auto failure = CompressionError::encoderFailed("mozjpeg compression failed for f.png");
    // Wider than a JPEG may be: the library itself raises the error.
    EXPECT_EQ(errorOf([&] { JPEGEncoder::compress(photoLike(65501, 1), 80, "f.png", profile); }), failure);
    EXPECT_EQ(errorOf([&] { JPEGEncoder::compress(photoLike(8, 8), int64_t{1} << 32, "f.png", std::nullopt); }),
              failure);
    DecodedImage shortBuffer = photoLike(8, 8);
    shortBuffer.pixels.pop_back();
    EXPECT_EQ(errorOf([&] { JPEGEncoder::compress(shortBuffer, 80, "f.png", std::nullopt); }), failure);
    DecodedImage empty;
    EXPECT_EQ(errorOf([&] { JPEGEncoder::compress(empty, 80, "f.png", std::nullopt); }), failure);

    // The shim's own contract: after a failure nothing is left to free.
    unsigned char* out = reinterpret_cast<unsigned char*>(&out);
    unsigned long size = 99;
    const std::vector<unsigned char> row(65501 * 3, 128);
    EXPECT_EQ(cjpegshim_compress_rgb(row.data(), 65501, 1, 80, nullptr, 0, &out, &size), 1);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(cjpegshim_compress_rgb(row.data(), 0, 1, 80, nullptr, 0, &out, &size), 1);
    EXPECT_EQ(out, nullptr);
    // An output that outgrows the first buffer several times hands over one live buffer.
    const DecodedImage large = photoLike(600, 400);
    ASSERT_EQ(cjpegshim_compress_rgb(large.pixels.data(), 600, 400, 100, nullptr, 0, &out, &size), 0);
    ASSERT_NE(out, nullptr);
    EXPECT_GT(size, 2u * 64 * 1024);
    EXPECT_EQ(out[0], 0xFF);
    EXPECT_EQ(out[size - 1], 0xD9);
    std::free(out);
}

TEST_F(JPEGTest, HigherQualityIsNotSmaller)
{
    const DecodedImage image = photoLike(160, 120);
    const QByteArray high = JPEGEncoder::compress(image, 90, "q", std::nullopt);
    const QByteArray low = JPEGEncoder::compress(image, 10, "q", std::nullopt);
    EXPECT_GE(high.size(), low.size());
    for (const int64_t quality : {1, 100, 0, 250})
        EXPECT_EQ(decode(JPEGEncoder::compress(image, quality, "q", std::nullopt)).width, 160);
}

TEST_F(JPEGTest, LosslessKeepsPixelsOrientationAndProfileOnly)
{
    const DecodedImage image = photoLike(64, 48);
    const QByteArray p3 = builtInProfile("p3");
    ASSERT_FALSE(p3.isEmpty());
    const QByteArray source = vipsEncode(image, ".jpg[Q=92]", 6, p3);
    ASSERT_EQ(decode(source).orientation, 6);
    const QString path = write("phone photo.jpg", source);

    const QByteArray optimised = JPEGEncoder::compressLossless(path);
    const Decoded before = decode(source);
    const Decoded after = decode(optimised);
    EXPECT_EQ(after.width, 64);
    EXPECT_EQ(after.height, 48);
    EXPECT_EQ(after.pixels, before.pixels);
    EXPECT_EQ(after.orientation, 6);
    EXPECT_EQ(after.profile, p3);
    // The EXIF block carries the orientation and nothing else.
    const auto exif = segmentsOf(optimised, 0xE1, "Exif");
    ASSERT_EQ(exif.size(), 1u);
    EXPECT_EQ(exif[0].payload.size(), 32);
    EXPECT_EQ(readWholeFile(path), source);

    // Nothing to carry over: no EXIF and no profile are made up.
    const QString plain = write("plain.jpg", vipsEncode(image, ".jpg[Q=92]", 1));
    const QByteArray plainOptimised = JPEGEncoder::compressLossless(plain);
    EXPECT_TRUE(segmentsOf(plainOptimised, 0xE1).empty());
    EXPECT_TRUE(segmentsOf(plainOptimised, 0xE2).empty());
    EXPECT_EQ(decode(plainOptimised).pixels, before.pixels);

    // A profile of several markers survives in order.
    QByteArray big = p3;
    big.append(QByteArray(150000, 'z'));
    const QString multi = write("multi.jpg", vipsEncode(image, ".jpg[Q=92]", 3, big));
    const Decoded restored = decode(JPEGEncoder::compressLossless(multi));
    EXPECT_EQ(restored.profile, big);
    EXPECT_EQ(restored.orientation, 3);

    // The tool never sees a file whose header cannot be read.
    EXPECT_EQ(errorOf([&] { JPEGEncoder::compressLossless(write("not.jpg", "not a JPEG at all")); }),
              CompressionError::corruptFile("Cannot read image dimensions: not.jpg"));
}

TEST_F(JPEGTest, LosslessKeepsTheOrientationWhateverIntegerTypeHoldsIt)
{
    // Orientation is meant to be a SHORT; cameras also write it as a (signed) long.
    struct Type {
        const char* name;
        uint16_t code;
        int bytes;
    };
    const Type types[] = {{"BYTE", 1, 1},  {"SHORT", 3, 2},  {"LONG", 4, 4},
                          {"SBYTE", 6, 1}, {"SSHORT", 8, 2}, {"SLONG", 9, 4}};
    const QByteArray plain = JPEGEncoder::compress(photoLike(16, 8), 90, "plain", std::nullopt);
    ASSERT_TRUE(segmentsOf(plain, 0xE1).empty());
    for (const bool bigEndian : {true, false}) {
        for (const Type& type : types) {
            SCOPED_TRACE(testing::Message() << type.name << (bigEndian ? " big-endian" : " little-endian"));
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
            put(tiff, type.code, 2);
            put(tiff, 1, 4);
            QByteArray value;
            put(value, 6, type.bytes);
            tiff += value.leftJustified(4, '\0');
            put(tiff, 0, 4);

            const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
            QByteArray app1("\xFF\xE1", 2);
            app1 += static_cast<char>((payload.size() + 2) >> 8);
            app1 += static_cast<char>((payload.size() + 2) & 0xFF);
            const QString path = write("camera.jpg", plain.left(2) + app1 + payload + plain.mid(2));
            EXPECT_EQ(decode(JPEGEncoder::compressLossless(path)).orientation, 6);
        }
    }
}

TEST_F(JPEGTest, MetadataRestoreReadsOnlyWhatIsThere)
{
    const QByteArray optimised = JPEGEncoder::compress(photoLike(8, 8), 80, "m", std::nullopt);
    const QByteArray sos = "\xFF\xDA\x00\x02";
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
                                                             "1201030001000000" "08000000"
                                                             "00000000"));
    const QByteArray restored
        = JPEGMetadata::restoreOrientationAndProfile(QByteArray("\xFF\xD8", 2) + littleEndian + icc + sos, optimised);
    EXPECT_EQ(decode(restored).orientation, 8);
    EXPECT_EQ(iccMarkers(restored).size(), 1u);
    EXPECT_EQ(decode(restored).pixels, decode(optimised).pixels);

    // The directory points past the block: no EXIF, the profile still comes back.
    const QByteArray badOffset = app1(QByteArray::fromHex("4d4d002a0000ff00" "0001"));
    const QByteArray onlyProfile
        = JPEGMetadata::restoreOrientationAndProfile(QByteArray("\xFF\xD8", 2) + badOffset + icc + sos, optimised);
    EXPECT_TRUE(segmentsOf(onlyProfile, 0xE1).empty());
    EXPECT_EQ(iccMarkers(onlyProfile).size(), 1u);

    // Headers that cannot be read leave the optimised bytes as they are.
    for (const QByteArray& broken : {QByteArray("\xFF\xD8\xFF\xE2\xFF\xFF", 6) + icc,
                                     QByteArray("\xFF\xD8\xFF\xE1\x00\x01", 6) + littleEndian + sos,
                                     QByteArray("\xFF\xD8", 2) + icc.left(10), QByteArray("\xFF\xD8", 2),
                                     QByteArray("GIF89a"), QByteArray()})
        EXPECT_EQ(JPEGMetadata::restoreOrientationAndProfile(broken, optimised), optimised);
    EXPECT_EQ(JPEGMetadata::restoreOrientationAndProfile(QByteArray("\xFF\xD8", 2) + icc + sos, "not a JPEG"),
              "not a JPEG");
}

} // namespace
