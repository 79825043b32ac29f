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

QByteArray isoMedia(const char* brand, const char* compatible = "mif1")
{
    return QByteArray("\0\0\0\x18"
                      "ftyp",
                      8)
        + brand + QByteArray(4, '\0') + compatible;
}

struct Case {
    const char* name;
    QByteArray bytes;
    std::optional<ImageFormat> format; // nothing: refused with `error`
    CompressionError error = CompressionError::unsupportedFormat();
};

class FormatDetectorTest : public TemporaryFolderTest, public testing::WithParamInterface<Case> {};

TEST_P(FormatDetectorTest, LeadingBytesDecide)
{
    const Case& c = GetParam();
    const QString path = write("x.png", c.bytes);
    if (c.format)
        EXPECT_EQ(FormatDetector::detectFormat(path), *c.format);
    else
        EXPECT_EQ(errorOf([&] { FormatDetector::detectFormat(path); }), c.error);
}

const QByteArray kPNG("\x89PNG\r\n\x1A\n", 8);
constexpr ImageFormat kAVIF = ImageFormat::avif;
constexpr ImageFormat kHEIC = ImageFormat::heic;
const CompressionError kTooSmall = CompressionError::corruptFile("File too small to identify: x.png");

INSTANTIATE_TEST_SUITE_P(
    Signatures, FormatDetectorTest,
    testing::Values(Case{"JPEG", QByteArray("\xFF\xD8\xFF\xE0", 4) + QByteArray(16, '\0'), ImageFormat::jpeg},
                    Case{"PNG", kPNG + QByteArray(16, '\0'), ImageFormat::png},
                    Case{"WebPOfTwelveBytes", QByteArray("RIFF\0\0\0\0WEBP", 12), ImageFormat::webp},
                    Case{"AVIF", isoMedia("avif"), kAVIF}, Case{"AVIS", isoMedia("avis"), kAVIF},
                    Case{"HEIC", isoMedia("heic"), kHEIC}, Case{"HEIX", isoMedia("heix"), kHEIC},
                    Case{"HEVC", isoMedia("hevc"), kHEIC}, Case{"HEIM", isoMedia("heim"), kHEIC},
                    Case{"HEIS", isoMedia("heis"), kHEIC}, Case{"HEVM", isoMedia("hevm"), kHEIC},
                    Case{"HEVS", isoMedia("hevs"), kHEIC}, Case{"Wave", QByteArray("RIFF\x10\0\0\0WAVE", 12), {}},
                    Case{"OnlyCompatibleWithHEIC", isoMedia("mif1", "heic"), {}},
                    Case{"UpperCaseBrand", isoMedia("AVIF"), {}}, Case{"GIF", "GIF89a......", {}},
                    Case{"Zeros", QByteArray(64, '\0'), {}},
                    Case{"PNGAfterTheSixteenthByte", QByteArray(16, 'x') + kPNG, {}},
                    Case{"ElevenBytes", QByteArray("\xFF\xD8\xFF\xE0\0\x10JFIF", 11), {}, kTooSmall},
                    Case{"Empty", QByteArray(), {}, kTooSmall}),
    [](const auto& p) { return std::string(p.param.name); });

using FormatDetectorFileTest = TemporaryFolderTest;

TEST_F(FormatDetectorFileTest, ReportsFilesItCannotRead)
{
    EXPECT_EQ(errorOf([&] { FormatDetector::detectFormat(dir.filePath("missing.jpg")); }),
              CompressionError::ioFailure("Cannot open missing.jpg"));
    if (geteuid() != 0) { // root reads anything
        const QString locked = write("locked.jpg", QByteArray(20, '\xFF'));
        ::chmod(QFile::encodeName(locked).constData(), 0);
        EXPECT_EQ(errorOf([&] { FormatDetector::detectFormat(locked); }),
                  CompressionError::ioFailure("Cannot open locked.jpg"));
    }
    // A folder opens but cannot be read: the file system's error passes unchanged.
    EXPECT_THROW(FormatDetector::detectFormat(dir.path()), std::system_error);
}

} // namespace
