#include "TestImages.h"

#include "BundledBinaries.h"
#include "CompressionError.h"
#include "PNGEncoder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cerrno>
#include <memory>
#include <optional>
#include <system_error>

using namespace vantro;
using namespace vantro::test;

namespace {

// Noise in every sample, alpha included, so that any change to a sample shows.
DecodedImage makeImage(int width, int height, bool alpha)
{
    uint32_t noise = 7;
    return paintedImage(width, height, alpha, [&](int x, int y, uint8_t* pixel) {
        noise = noise * 1103515245u + 12345u;
        pixel[0] = static_cast<uint8_t>(x * 4);
        pixel[1] = static_cast<uint8_t>(noise >> 24);
        pixel[2] = static_cast<uint8_t>(y * 5);
        if (alpha)
            pixel[3] = static_cast<uint8_t>(noise >> 16);
    });
}

struct Decoded {
    std::vector<uint8_t> pixels;
    int width = 0;
    int height = 0;
    int bands = 0;
};

// The PNG's pixels as libvips reads them, one byte a sample.
std::optional<Decoded> decodePNG(const QByteArray& png)
{
    vips::ensureStarted();
    VipsImage* raw = nullptr;
    if (vips_pngload_buffer(const_cast<char*>(png.constData()), static_cast<size_t>(png.size()), &raw, nullptr) != 0) {
        vips::takeError();
        return std::nullopt;
    }
    const vips::Image image(raw);
    size_t size = 0;
    const std::unique_ptr<void, vips::GFree> memory(vips_image_write_to_memory(image.get(), &size));
    if (!memory || vips_image_get_format(image.get()) != VIPS_FORMAT_UCHAR)
        return std::nullopt;
    const auto* bytes = static_cast<const uint8_t*>(memory.get());
    return Decoded{{bytes, bytes + size},
                   vips_image_get_width(image.get()),
                   vips_image_get_height(image.get()),
                   vips_image_get_bands(image.get())};
}

// The PNG colour type from the header: 2 RGB, 6 RGBA.
int colourType(const QByteArray& png)
{
    return png.size() > 25 && png.mid(12, 4) == "IHDR" ? static_cast<uint8_t>(png[25]) : -1;
}

// Every test runs with a private temporary folder, so that what the encoder
// leaves behind there can be seen.
class PNGEncoderTest : public TemporaryFolderTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        ASSERT_TRUE(QFileInfo::exists(BundledBinaries::url(QStringLiteral("oxipng")).value_or(QString())))
            << "oxipng is not in the bundle folder: build the vantro_tools target";
        temporaryFolder.emplace("TMPDIR", tmp.path());
    }

    static void setTemporaryFolder(const QString& path) { qputenv("TMPDIR", QFile::encodeName(path)); }

    QStringList leftovers() const { return QDir(tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot); }

    QTemporaryDir tmp;
    std::optional<EnvironmentOverride> temporaryFolder;
};

TEST_F(PNGEncoderTest, ResizedPixelsBecomeAnOptimisedPNGOfTheSameSamples)
{
    for (const bool alpha : {true, false}) {
        SCOPED_TRACE(alpha ? "RGBA" : "RGB");
        const DecodedImage image = makeImage(61, 37, alpha);
        const QByteArray png = PNGEncoder::compressResized(image);

        EXPECT_EQ(colourType(png), alpha ? 6 : 2);
        EXPECT_EQ(png.indexOf("iCCP"), -1);
        EXPECT_EQ(png.indexOf("eXIf"), -1);
        const auto decoded = decodePNG(png);
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->width, 61);
        EXPECT_EQ(decoded->height, 37);
        EXPECT_EQ(decoded->bands, image.channels());
        EXPECT_EQ(decoded->pixels, image.pixels);
        EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(u' ').toStdString();
    }
}

TEST_F(PNGEncoderTest, LosslessOptimisationKeepsThePixelsAndTheSource)
{
    const DecodedImage image = makeImage(40, 30, true);
    const QByteArray source = vipsEncode(image, ".png[compression=0]");
    const QString path = write("source.png", source);

    const QByteArray optimised = PNGEncoder::compressLossless(path);
    EXPECT_LT(optimised.size(), source.size());
    const auto decoded = decodePNG(optimised);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->bands, 4);
    EXPECT_EQ(decoded->pixels, image.pixels);
    EXPECT_EQ(readFile(path), source);
    EXPECT_TRUE(leftovers().isEmpty());
}

TEST_F(PNGEncoderTest, FailuresLeaveNothingBehind)
{
    // The tool never sees a file whose header cannot be read.
    const QString text = write("notes.png", "not a png");
    EXPECT_EQ(errorOf([&] { PNGEncoder::compressLossless(text); }),
              CompressionError::corruptFile("Cannot read image dimensions: notes.png"));
    EXPECT_TRUE(leftovers().isEmpty());

    // Pixels that do not match the size never reach libvips.
    DecodedImage shortRows = makeImage(10, 10, false);
    shortRows.pixels.pop_back();
    DecodedImage empty;
    for (const DecodedImage* bad : {&shortRows, &empty}) {
        EXPECT_EQ(errorOf([&] { PNGEncoder::compressResized(*bad); }),
                  CompressionError::encoderFailed(QStringLiteral("Cannot create image for resized PNG")));
    }
    EXPECT_TRUE(leftovers().isEmpty());
}

TEST_F(PNGEncoderTest, AStagingFolderThatCannotBeWrittenIsAnIOFailure)
{
    // A folder below a regular file can neither exist nor be created.
    const QString blocker = tmp.filePath("blocker");
    writeFile(blocker, QByteArray());
    const QStringList before = QDir::current().entryList({QStringLiteral("*.png")}, QDir::Files);
    setTemporaryFolder(blocker + QStringLiteral("/sub"));

    // The tool would fail with an encoderFailed error; this one comes first.
    EXPECT_EQ(errorOf([&] { PNGEncoder::compressResized(makeImage(8, 8, true)); }),
              CompressionError::ioFailure(QStringLiteral("Failed to stage resized PNG for oxipng: ")
                                          + QString::fromStdString(std::generic_category().message(ENOTDIR))));
    EXPECT_EQ(leftovers(), QStringList{QStringLiteral("blocker")});
    EXPECT_EQ(QDir::current().entryList({QStringLiteral("*.png")}, QDir::Files), before);
}

} // namespace
