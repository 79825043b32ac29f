#include "TestImages.h"

#include "CompressionError.h"
#include "FormatDetector.h"

#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <system_error>

using namespace vantro;
using namespace vantro::test;

namespace {

class FormatDetectorTest : public TemporaryFolderTest {
protected:
    QByteArray isoMedia(const char* brand, const char* compatible = "mif1")
    {
        QByteArray b("\x00\x00\x00\x18" "ftyp", 8);
        b += brand;
        b += QByteArray("\x00\x00\x00\x00", 4);
        b += compatible;
        return b;
    }
};

} // namespace

TEST_F(FormatDetectorTest, RecognisesEachSignature)
{
    const QByteArray pad(16, '\0');
    EXPECT_EQ(FormatDetector::detectFormat(write("a.bin", QByteArray("\xFF\xD8\xFF\xE0", 4) + pad)), ImageFormat::jpeg);
    EXPECT_EQ(FormatDetector::detectFormat(write("b.jpg", QByteArray("\x89PNG\r\n\x1A\n", 8) + pad)), ImageFormat::png);
    EXPECT_EQ(FormatDetector::detectFormat(write("c", QByteArray("RIFF\x10\x00\x00\x00WEBP", 12))), ImageFormat::webp);
    for (const char* brand : {"avif", "avis"})
        EXPECT_EQ(FormatDetector::detectFormat(write("d", isoMedia(brand))), ImageFormat::avif) << brand;
    for (const char* brand : {"heic", "heix", "hevc", "heim", "heis", "hevm", "hevs"})
        EXPECT_EQ(FormatDetector::detectFormat(write("e", isoMedia(brand))), ImageFormat::heic) << brand;
}

TEST_F(FormatDetectorTest, RefusesOtherContent)
{
    const auto unsupported = [&](const QByteArray& bytes) {
        try {
            FormatDetector::detectFormat(write("x.png", bytes));
            ADD_FAILURE() << "accepted " << bytes.toHex().constData();
        } catch (const CompressionError& e) {
            EXPECT_EQ(e, CompressionError::unsupportedFormat());
        }
    };
    unsupported(QByteArray("RIFF\x10\x00\x00\x00WAVE", 12));
    unsupported(isoMedia("mif1", "heic"));
    unsupported(isoMedia("AVIF"));
    unsupported(isoMedia("\xE4vif"));
    unsupported(QByteArray("GIF89a......"));
    unsupported(QByteArray(64, '\0'));
}

TEST_F(FormatDetectorTest, JudgesOnlyTheFirstSixteenBytes)
{
    // A PNG signature after byte 16 changes nothing.
    try {
        FormatDetector::detectFormat(write("late.png", QByteArray(16, 'x') + QByteArray("\x89PNG\r\n\x1A\n", 8)));
        ADD_FAILURE();
    } catch (const CompressionError& e) {
        EXPECT_EQ(e.kind(), CompressionError::Kind::unsupportedFormat);
    }
    EXPECT_EQ(FormatDetector::detectFormat(write("big.jpg", QByteArray("\xFF\xD8\xFF", 3) + QByteArray(100000, 'z'))),
              ImageFormat::jpeg);
}

TEST_F(FormatDetectorTest, ShortMissingAndUnreadableFiles)
{
    const auto expectError = [](const QString& path, const CompressionError& expected) {
        try {
            FormatDetector::detectFormat(path);
            ADD_FAILURE() << "no error for " << path.toStdString();
        } catch (const CompressionError& e) {
            EXPECT_EQ(e, expected) << e.text().toStdString();
        }
    };
    expectError(write("tiny.jpg", QByteArray("\xFF\xD8\xFF\xE0\x00\x10JFIF", 11)),
                CompressionError::corruptFile("File too small to identify: tiny.jpg"));
    expectError(write("empty.png", QByteArray()), CompressionError::corruptFile("File too small to identify: empty.png"));
    EXPECT_EQ(FormatDetector::detectFormat(write("riff12", QByteArray("RIFF\x00\x00\x00\x00WEBP", 12))), ImageFormat::webp);
    expectError(dir.filePath("missing.jpg"), CompressionError::ioFailure("Cannot open missing.jpg"));

    if (geteuid() != 0) { // root reads anything
        const QString locked = write("locked.jpg", QByteArray(20, '\xFF'));
        ::chmod(QFile::encodeName(locked).constData(), 0);
        expectError(locked, CompressionError::ioFailure("Cannot open locked.jpg"));
    }
    // A folder opens but cannot be read: the file system's error passes unchanged.
    EXPECT_THROW(FormatDetector::detectFormat(dir.path()), std::system_error);
}

TEST(ImageFormatTest, RawValuesRoundTrip)
{
    for (ImageFormat f : {ImageFormat::jpeg, ImageFormat::png, ImageFormat::webp, ImageFormat::avif, ImageFormat::heic})
        EXPECT_EQ(imageFormatFromRawValue(rawValue(f)), f);
    EXPECT_EQ(rawValue(ImageFormat::heic), "heic");
    EXPECT_FALSE(imageFormatFromRawValue("JPEG").has_value());
    EXPECT_EQ(std::hash<ImageFormat>{}(ImageFormat::png), qHash(QStringLiteral("png")));
}
