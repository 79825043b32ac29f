#include "TestImages.h"

#include "BundledBinaries.h"
#include "CompressionError.h"
#include "PNGEncoder.h"

#include <gtest/gtest.h>

#include <QDir>

#include <cerrno>
#include <memory>
#include <system_error>

using namespace vantro;
using namespace vantro::test;

namespace {

// Noise in every sample, alpha included, so that any change to a sample shows.
DecodedImage noise(int width, int height, bool alpha)
{
    uint32_t state = 7;
    return paintedImage(width, height, alpha, [&](int x, int y, uint8_t* pixel) {
        state = state * 1103515245u + 12345u;
        pixel[0] = static_cast<uint8_t>(x * 4);
        pixel[1] = static_cast<uint8_t>(state >> 24);
        pixel[2] = static_cast<uint8_t>(y * 5);
        if (alpha)
            pixel[3] = static_cast<uint8_t>(state >> 16);
    });
}

// The samples as libvips reads them from the PNG, as stored.
std::vector<uint8_t> samplesOf(const QByteArray& png)
{
    const vips::Image image(vips_image_new_from_buffer(png.constData(), static_cast<size_t>(png.size()), "", nullptr));
    size_t size = 0;
    const std::unique_ptr<void, vips::GFree> memory(image ? vips_image_write_to_memory(image.get(), &size) : nullptr);
    const auto* bytes = static_cast<const uint8_t*>(memory.get());
    return {bytes, bytes + size};
}

// Every test runs with a private temporary folder, so that what the encoder
// leaves behind there can be seen.
class PNGEncoderTest : public TemporaryFolderTest {
protected:
    void SetUp() override { ASSERT_TRUE(QDir(dir.path()).mkdir("tmp")); }
    QStringList leftovers() const
    {
        return QDir(dir.filePath("tmp")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    }

    const EnvironmentOverride temporaryFolder{"TMPDIR", dir.filePath("tmp")};
};

TEST_F(PNGEncoderTest, ResizedPixelsBecomeAnOptimisedPNGOfTheSameSamples)
{
    for (const bool alpha : {true, false}) {
        SCOPED_TRACE(alpha ? "RGBA" : "RGB");
        const DecodedImage image = noise(61, 37, alpha);
        const QByteArray png = PNGEncoder::compressResized(image);
        EXPECT_EQ(png.mid(12, 4) + char(png[25]), QByteArray("IHDR") + char(alpha ? 6 : 2)); // RGBA or RGB
        EXPECT_EQ(png.mid(16, 8), QByteArray::fromHex("0000003d00000025")); // 61 x 37
        EXPECT_FALSE(png.contains("iCCP") || png.contains("eXIf"));
        EXPECT_EQ(samplesOf(png), image.pixels);
        EXPECT_EQ(leftovers(), QStringList());
    }
}

TEST_F(PNGEncoderTest, LosslessOptimisationKeepsThePixelsAndTheSource)
{
    const DecodedImage image = noise(40, 30, true);
    const QByteArray source = vipsEncode(image, ".png[compression=0]");
    const QString path = write("source.png", source);
    const QByteArray optimised = PNGEncoder::compressLossless(path);
    EXPECT_LT(optimised.size(), source.size());
    EXPECT_EQ(samplesOf(optimised), image.pixels);
    EXPECT_EQ(readFile(path), source);
    EXPECT_EQ(leftovers(), QStringList());
}

TEST_F(PNGEncoderTest, FailuresLeaveNothingBehind)
{
    // The tool never sees a file whose header cannot be read.
    EXPECT_EQ(errorOf([&] { PNGEncoder::compressLossless(write("notes.png", "not a png")); }),
              CompressionError::corruptFile("Cannot read image dimensions: notes.png"));
    // Pixels that do not match the size never reach libvips.
    DecodedImage shortRows = noise(10, 10, false);
    shortRows.pixels.pop_back();
    for (const DecodedImage& bad : {shortRows, DecodedImage{}}) {
        EXPECT_EQ(errorOf([&] { PNGEncoder::compressResized(bad); }),
                  CompressionError::encoderFailed(QStringLiteral("Cannot create image for resized PNG")));
    }
    EXPECT_EQ(leftovers(), QStringList());

    // A staging folder below a regular file can neither exist nor be created:
    // the tool would fail with an encoderFailed error, this one comes first.
    writeFile(dir.filePath("tmp/blocker"), {});
    const EnvironmentOverride blocked("TMPDIR", dir.filePath("tmp/blocker/sub"));
    const QStringList before = QDir::current().entryList({QStringLiteral("*.png")}, QDir::Files);
    EXPECT_EQ(errorOf([&] { PNGEncoder::compressResized(noise(8, 8, true)); }),
              CompressionError::ioFailure(QStringLiteral("Failed to stage resized PNG for oxipng: ")
                                          + QString::fromStdString(std::generic_category().message(ENOTDIR))));
    EXPECT_EQ(leftovers(), QStringList{QStringLiteral("blocker")});
    EXPECT_EQ(QDir::current().entryList({QStringLiteral("*.png")}, QDir::Files), before);
}

} // namespace
