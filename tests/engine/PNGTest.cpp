// Before any Qt header: glib's headers use "signals" as a name, which Qt defines.
#include "Vips.h"

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

namespace {

DecodedImage makeImage(int width, int height, bool alpha)
{
    DecodedImage image;
    image.width = width;
    image.height = height;
    image.hasAlpha = alpha;
    const auto channels = static_cast<size_t>(image.channels());
    image.pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * channels);
    uint32_t noise = 7;
    for (size_t at = 0; at < image.pixels.size(); at += channels) {
        noise = noise * 1103515245u + 12345u;
        const size_t pixel = at / channels;
        image.pixels[at] = static_cast<uint8_t>(pixel % static_cast<size_t>(width) * 4);
        image.pixels[at + 1] = static_cast<uint8_t>(noise >> 24);
        image.pixels[at + 2] = static_cast<uint8_t>(pixel / static_cast<size_t>(width) * 5);
        if (alpha)
            image.pixels[at + 3] = static_cast<uint8_t>(noise >> 16);
    }
    return image;
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

QByteArray readAll(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

template <typename Call>
CompressionError errorOf(Call call)
{
    try {
        call();
    } catch (const CompressionError& error) {
        return error;
    }
    ADD_FAILURE() << "no CompressionError";
    return CompressionError::unsupportedFormat();
}

// Every test runs with a private temporary folder, so that what the encoder
// leaves behind there can be seen.
class PNGEncoderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        ASSERT_TRUE(QFileInfo::exists(BundledBinaries::url(QStringLiteral("oxipng")).value_or(QString())))
            << "oxipng is not in the bundle folder: build the vantro_tools target";
        previous = qgetenv("TMPDIR");
        hadPrevious = qEnvironmentVariableIsSet("TMPDIR");
        setTemporaryFolder(tmp.path());
    }
    void TearDown() override
    {
        if (hadPrevious)
            qputenv("TMPDIR", previous);
        else
            qunsetenv("TMPDIR");
    }

    static void setTemporaryFolder(const QString& path) { qputenv("TMPDIR", QFile::encodeName(path)); }

    QStringList leftovers() const { return QDir(tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot); }

    QTemporaryDir tmp;
    QTemporaryDir work;
    QByteArray previous;
    bool hadPrevious = false;
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
    vips::ensureStarted();
    const vips::Image memory(vips_image_new_from_memory(image.pixels.data(), image.pixels.size(), image.width,
                                                        image.height, 4, VIPS_FORMAT_UCHAR));
    void* buffer = nullptr;
    size_t length = 0;
    ASSERT_EQ(vips_pngsave_buffer(memory.get(), &buffer, &length, "compression", 0, nullptr), 0);
    const QByteArray source(static_cast<const char*>(buffer), static_cast<qsizetype>(length));
    g_free(buffer);
    const QString path = work.filePath("source.png");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(source);
    }

    const QByteArray optimised = PNGEncoder::compressLossless(path);
    EXPECT_LT(optimised.size(), source.size());
    const auto decoded = decodePNG(optimised);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->bands, 4);
    EXPECT_EQ(decoded->pixels, image.pixels);
    EXPECT_EQ(readAll(path), source);
    EXPECT_TRUE(leftovers().isEmpty());
}

TEST_F(PNGEncoderTest, FailuresLeaveNothingBehind)
{
    // The tool fails on input that is not a PNG.
    const QString text = work.filePath("notes.png");
    {
        QFile file(text);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("not a png");
    }
    const CompressionError toolError = errorOf([&] { PNGEncoder::compressLossless(text); });
    EXPECT_EQ(toolError.kind(), CompressionError::Kind::encoderFailed);
    EXPECT_TRUE(toolError.message().startsWith(QStringLiteral("oxipng failed: "))) << toolError.what();
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
    {
        QFile file(blocker);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
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
