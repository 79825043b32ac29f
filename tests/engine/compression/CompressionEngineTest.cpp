#include "TestImages.h"

#include "CompressionEngine.h"
#include "FormatDetector.h"
#include "ImageDecoder.h"
#include "ImageDimensions.h"
#include "WebPEncoder.h"
#include "AVIFEncoder.h"
#include "WebPICCProfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>

using namespace vantro;
using namespace vantro::test;

namespace {

class CompressionEngineTest : public TemporaryFolderTest {
protected:
    CompressionEngineTest()
        : engine(dir.filePath("backup"), [this](const QStringList& paths) { trashed += paths; }, 1000)
    {
    }

    static CompressionSettings settings(CompressionMode mode, TargetFormat target = TargetFormat::keepOriginal,
                                        ResizeMode resize = ResizeMode::none(),
                                        OutputMode output = OutputMode::copyAlongside(),
                                        RenamingMode renaming = RenamingMode::none())
    {
        return {mode, output, target, OriginalFileHandling::keep, renaming, resize, 3, "_"};
    }

    QStringList entries() const { return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot); }

    QStringList trashed;
    CompressionEngine engine;
};

bool hasICCMarker(const QByteArray& jpeg)
{
    return jpeg.contains(QByteArray("\xFF\xE2", 2)) && jpeg.contains(QByteArray("ICC_PROFILE\0", 12));
}

} // namespace

TEST_F(CompressionEngineTest, LossyJPEGIsWrittenBesideTheSourceAndFollowsQuality)
{
    const QString source = write("photo.jpg", vipsEncode(photoLike(320, 240), ".jpg[Q=97]"));
    const CompressionResult high = engine.compress(source, settings(CompressionMode::lossy(90)));
    EXPECT_EQ(high.outputPath, dir.filePath("photo-optim.jpg"));
    EXPECT_FALSE(high.alreadyOptimized);
    EXPECT_FALSE(high.lossyFallbackApplied);
    EXPECT_EQ(high.originalSize, QFileInfo(source).size());
    EXPECT_EQ(high.compressedSize, QFileInfo(high.outputPath).size());
    EXPECT_LT(high.compressedSize, high.originalSize);
    EXPECT_GE(high.duration, 0);
    // Same-format JPEG carries no profile.
    EXPECT_FALSE(hasICCMarker(readFile(high.outputPath)));

    const CompressionResult low = engine.compress(source, settings(CompressionMode::lossy(40)));
    EXPECT_EQ(low.outputPath, dir.filePath("photo-optim-1.jpg"));
    EXPECT_GE(high.compressedSize, low.compressedSize);
    const DecodedImage decoded = ImageDecoder::decode(low.outputPath, ImageFormat::jpeg);
    EXPECT_EQ(decoded.width, 320);
    EXPECT_EQ(decoded.height, 240);
}

TEST_F(CompressionEngineTest, NotSmallerMeansAlreadyOptimisedAndNothingWritten)
{
    const QString source = write("graphic.png", vipsEncode(photoLike(64, 48), ".png"));
    const CompressionResult first = engine.compress(source, settings(CompressionMode::lossless()));
    ASSERT_FALSE(first.alreadyOptimized);

    // The optimiser's own output cannot be made smaller again.
    const QStringList before = entries();
    const CompressionResult again = engine.compress(first.outputPath, settings(CompressionMode::lossy(50)));
    EXPECT_TRUE(again.alreadyOptimized);
    EXPECT_EQ(again.outputPath, first.outputPath);
    EXPECT_EQ(again.compressedSize, again.originalSize);
    EXPECT_EQ(entries(), before);

    // A resize that the image already meets takes the same road.
    const CompressionResult fits =
        engine.compress(first.outputPath, settings(CompressionMode::lossless(), TargetFormat::keepOriginal,
                                                   ResizeMode::maxDimension(64)));
    EXPECT_TRUE(fits.alreadyOptimized);
    EXPECT_EQ(entries(), before);
}

TEST_F(CompressionEngineTest, ResizedSameFormatOutputIsAlwaysWritten)
{
    const QString png = write("tiny.png", vipsEncode(photoLike(40, 30), ".png"));
    const CompressionResult bigger = engine.compress(
        png, settings(CompressionMode::lossless(), TargetFormat::keepOriginal, ResizeMode::exactWidth(120)));
    EXPECT_FALSE(bigger.alreadyOptimized);
    EXPECT_GT(bigger.compressedSize, bigger.originalSize);
    EXPECT_EQ(ImageDimensions::read(bigger.outputPath), std::make_pair(int64_t{120}, int64_t{90}));

    const QString jpeg = write("wide.jpg", vipsEncode(photoLike(200, 100), ".jpg[Q=95]"));
    const CompressionResult shrunk = engine.compress(
        jpeg, settings(CompressionMode::lossless(), TargetFormat::keepOriginal, ResizeMode::maxDimension(100)));
    EXPECT_TRUE(shrunk.lossyFallbackApplied);
    EXPECT_EQ(ImageDimensions::read(shrunk.outputPath), std::make_pair(int64_t{100}, int64_t{50}));

    // Lossless with a resize that changes nothing stays on the lossless road.
    const CompressionResult kept = engine.compress(
        jpeg, settings(CompressionMode::lossless(), TargetFormat::keepOriginal, ResizeMode::maxWidth(500)));
    EXPECT_FALSE(kept.lossyFallbackApplied);
    if (!kept.alreadyOptimized) {
        const DecodedImage a = ImageDecoder::decode(jpeg, ImageFormat::jpeg);
        const DecodedImage b = ImageDecoder::decode(kept.outputPath, ImageFormat::jpeg);
        EXPECT_EQ(a.pixels, b.pixels);
    }

    // A resized WebP keeps its own profile: its samples are not converted.
    const QByteArray p3 = builtInProfile("p3");
    const QString webp = write("pic.webp", WebPICCProfile::embedICCProfile(
                                               WebPEncoder::encode(photoLike(90, 60), CompressionMode::lossy(90), "x"), p3));
    const CompressionResult half = engine.compress(
        webp, settings(CompressionMode::lossy(80), TargetFormat::webp, ResizeMode::percentage(50)));
    EXPECT_EQ(WebPEncoder::readDimensions(half.outputPath), std::make_pair(int64_t{45}, int64_t{30}));
    EXPECT_EQ(WebPICCProfile::iccProfile(readFile(half.outputPath)), p3);
}

TEST_F(CompressionEngineTest, WebPConvertsFromItsProfileToSRGBLikeEveryOtherSource)
{
    // The same wide-gamut samples, once as a PNG (decoded through libvips) and
    // once as a WebP.
    const DecodedImage picture = photoLike(48, 32);
    const QByteArray p3 = builtInProfile("p3");
    const QString png = write("p3.png", vipsEncode(picture, ".png", std::nullopt, p3));
    const QString webp = write(
        "p3.webp", webpWithChunk(WebPEncoder::encode(picture, CompressionMode::lossless(), "x"), "ICCP", p3));

    const CompressionSettings toJPEG = settings(CompressionMode::lossy(85), TargetFormat::jpeg);
    EXPECT_EQ(readFile(engine.compress(webp, toJPEG).outputPath), readFile(engine.compress(png, toJPEG).outputPath));

    const CompressionResult toPNG = engine.compress(webp, settings(CompressionMode::lossy(85), TargetFormat::png));
    const DecodedImage converted = ImageDecoder::decode(toPNG.outputPath, ImageFormat::png);
    EXPECT_EQ(converted.pixels, ImageDecoder::decode(png, ImageFormat::png).pixels);
    // The colours did move: written unchanged, they would shift on screen.
    ASSERT_EQ(converted.pixels.size(), picture.pixels.size());
    int largest = 0;
    for (size_t i = 0; i < picture.pixels.size(); ++i)
        largest = std::max(largest, std::abs(converted.pixels[i] - picture.pixels[i]));
    EXPECT_GE(largest, 20);
}

TEST_F(CompressionEngineTest, ConversionToJPEGFlattensAlphaAndCarriesSRGB)
{
    DecodedImage image = flatImage(4, 1, {0, 0, 0, 0});
    // A transparent pixel, a half-transparent black one, an opaque red one, a transparent red one.
    const std::vector<uint8_t> pixels{0, 0, 0, 0, 0, 0, 0, 128, 255, 0, 0, 255, 255, 0, 0, 0};
    image.pixels = pixels;
    const QString source = write("logo.png", vipsEncode(image, ".png"));

    const CompressionResult result =
        engine.compress(source, settings(CompressionMode::lossless(), TargetFormat::jpeg));
    EXPECT_EQ(result.outputPath, dir.filePath("logo-optim.jpg"));
    EXPECT_TRUE(result.lossyFallbackApplied);
    EXPECT_TRUE(QFileInfo::exists(source));
    const QByteArray jpeg = readFile(result.outputPath);
    EXPECT_TRUE(hasICCMarker(jpeg));
    EXPECT_EQ(FormatDetector::detectFormat(result.outputPath), ImageFormat::jpeg);
    // A conversion is written even when bigger; then it counts as already optimised.
    EXPECT_EQ(result.alreadyOptimized, result.compressedSize >= result.originalSize);

    const DecodedImage decoded = ImageDecoder::decode(result.outputPath, ImageFormat::jpeg);
    ASSERT_FALSE(decoded.hasAlpha);
    const auto near = [&](int x, int r, int g, int b) {
        const uint8_t* p = &decoded.pixels[static_cast<size_t>(x) * 3];
        EXPECT_NEAR(p[0], r, 12) << x;
        EXPECT_NEAR(p[1], g, 12) << x;
        EXPECT_NEAR(p[2], b, 12) << x;
    };
    near(0, 255, 255, 255);
    near(1, 127, 127, 127);
    // The 4 x 1 image is chroma-subsampled, so the red pair blurs towards white.
    EXPECT_GT(decoded.pixels[6], decoded.pixels[7]);

    const CompressionResult lossy = engine.compress(source, settings(CompressionMode::lossy(70), TargetFormat::jpeg));
    EXPECT_FALSE(lossy.lossyFallbackApplied);
}

TEST_F(CompressionEngineTest, FlatteningArithmetic)
{
    DecodedImage image = flatImage(3, 1, {0, 0, 0, 0});
    image.pixels = {10, 20, 30, 255, 0, 0, 0, 128, 200, 100, 50, 0};
    const DecodedImage flat = flattenAlphaOntoWhite(image);
    EXPECT_FALSE(flat.hasAlpha);
    EXPECT_EQ(flat.pixels, (std::vector<uint8_t>{10, 20, 30, 127, 127, 127, 255, 255, 255}));
}

TEST_F(CompressionEngineTest, ConversionToWebPAndPNG)
{
    const DecodedImage picture = photoLike(48, 32, true);
    const QString source = write("shot.png", vipsEncode(picture, ".png"));

    const CompressionResult webp = engine.compress(source, settings(CompressionMode::lossless(), TargetFormat::webp));
    EXPECT_EQ(webp.outputPath, dir.filePath("shot-optim.webp"));
    EXPECT_FALSE(webp.lossyFallbackApplied);
    const QByteArray bytes = readFile(webp.outputPath);
    EXPECT_EQ(WebPICCProfile::iccProfile(bytes), WebPICCProfile::sRGBICCProfileData());
    const DecodedImage decoded = ImageDecoder::decode(webp.outputPath, ImageFormat::webp);
    EXPECT_TRUE(decoded.hasAlpha);
    EXPECT_EQ(decoded.pixels, ImageDecoder::decode(source, ImageFormat::png).pixels);

    // WebP back to PNG, into a folder that does not exist yet.
    const QString folder = dir.filePath("out/nested");
    CompressionSettings toPNG = settings(CompressionMode::lossy(80), TargetFormat::png);
    toPNG.outputMode = OutputMode::customFolder(folder);
    const CompressionResult png = engine.compress(webp.outputPath, toPNG);
    EXPECT_EQ(png.outputPath, folder + "/shot-optim-optim.png");
    EXPECT_EQ(ImageDecoder::decode(png.outputPath, ImageFormat::png).pixels, decoded.pixels);
}

TEST_F(CompressionEngineTest, RefusalsComeBeforeAnyWork)
{
    const CompressionSettings inPlaceRenamed = settings(CompressionMode::lossless(), TargetFormat::keepOriginal,
                                                        ResizeMode::none(), OutputMode::inPlace(true),
                                                        RenamingMode::customBase("new"));
    EXPECT_EQ(errorOf([&] { engine.compress(dir.filePath("missing.jpg"), inPlaceRenamed); }),
              CompressionError::invalidConfiguration(
                  "In-place output cannot be combined with renaming; use copy-alongside output or disable renaming"));

    QByteArray heic("\x00\x00\x00\x18" "ftypheic\x00\x00\x00\x00mif1heic", 24);
    heic += QByteArray(100, '\0');
    const QString phone = write("IMG_1.HEIC", heic);
    EXPECT_EQ(errorOf([&] { engine.compress(phone, settings(CompressionMode::lossless())); }),
              CompressionError::invalidConfiguration(
                  QString::fromUtf8("HEIC files cannot be recompressed in their original format — choose a target "
                                    "format (e.g. WebP) to convert IMG_1.HEIC instead of \"Keep Original\"")));

    // A custom folder must be a whole path: nothing is made relative to
    // wherever the program happens to run, and nothing is said on stderr.
    const QString photo = write("photo.png", vipsEncode(photoLike(8, 8), ".png"));
    const QStringList before = entries();
    const QString workingFolder = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    for (const QString& folder : {QString(), QStringLiteral("exports"), QStringLiteral("./exports")}) {
        SCOPED_TRACE(folder.toStdString());
        const CompressionSettings custom = settings(CompressionMode::lossless(), TargetFormat::keepOriginal,
                                                    ResizeMode::none(), OutputMode::customFolder(folder));
        testing::internal::CaptureStderr();
        const CompressionError error = errorOf([&] { engine.compress(photo, custom); });
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(error,
                  CompressionError::invalidConfiguration(
                      folder.isEmpty() ? QStringLiteral("No custom output folder is set")
                                       : QStringLiteral("The custom output folder must be an absolute path: ") + folder));
        EXPECT_EQ(errorOf([&] { engine.compress(dir.filePath("missing.png"), custom); }), error);
    }
    EXPECT_TRUE(QDir::setCurrent(workingFolder));
    EXPECT_EQ(entries(), before);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("exports")));

    const QString avif = write("a.avif", avifPicture(16, 16));
    EXPECT_EQ(errorOf([&] { engine.compress(avif, settings(CompressionMode::lossless(), TargetFormat::png)); }),
              CompressionError::unsupportedFormat());

    // Refused on every road before any tool runs, not by whatever the tool does.
    const QString animated = write("moving.png", withAnimationControl(vipsEncode(photoLike(16, 16), ".png")));
    EXPECT_EQ(errorOf([&] { engine.compress(animated, settings(CompressionMode::lossless())); }),
              CompressionError::unsupportedFormat());

    const QString text = write("notes.jpg", QByteArray("just some text, not an image"));
    EXPECT_EQ(errorOf([&] { engine.compress(text, settings(CompressionMode::lossless())); }),
              CompressionError::unsupportedFormat());
    EXPECT_THROW(engine.compress(dir.filePath("gone.png"), settings(CompressionMode::lossless())), std::system_error);
}

TEST_F(CompressionEngineTest, ContentDecidesTheRoadNotTheExtension)
{
    const QString source = write("a.jpg", vipsEncode(photoLike(32, 32), ".png"));
    const CompressionResult converted = engine.compress(source, settings(CompressionMode::lossy(80), TargetFormat::jpeg));
    EXPECT_EQ(converted.outputPath, dir.filePath("a-optim.jpg"));
    EXPECT_TRUE(hasICCMarker(readFile(converted.outputPath)));

    CompressionSettings inPlace = settings(CompressionMode::lossy(80), TargetFormat::jpeg);
    inPlace.outputMode = OutputMode::inPlace(true);
    const QByteArray original = readFile(source);
    const CompressionError error = errorOf([&] { engine.compress(source, inPlace); });
    EXPECT_EQ(error.kind(), CompressionError::Kind::ioFailure);
    EXPECT_TRUE(error.message().startsWith("Conversion output path collides with the original file at a.jpg"));
    EXPECT_EQ(readFile(source), original);
}

TEST_F(CompressionEngineTest, InPlaceReplacesTheSourceAfterABackup)
{
    const QString source = write("keep.jpg", vipsEncode(photoLike(200, 150), ".jpg[Q=98]"));
    ::chmod(QFile::encodeName(source).constData(), 0640);
    const QByteArray original = readFile(source);

    CompressionSettings inPlace = settings(CompressionMode::lossy(60));
    inPlace.outputMode = OutputMode::inPlace(true);
    // A renaming that cleans to nothing is no renaming.
    inPlace.renaming = RenamingMode::sequence(" .. ", 4);
    const CompressionResult result = engine.compress(source, inPlace);
    EXPECT_EQ(result.outputPath, source);
    EXPECT_LT(QFileInfo(source).size(), original.size());
    struct stat info {};
    ::stat(QFile::encodeName(source).constData(), &info);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(readFile(engine.backupRoot() + QFileInfo(source).absolutePath() + "/keep.jpg"), original);
    EXPECT_EQ(entries(), QStringList{"keep.jpg"});
}

TEST_F(CompressionEngineTest, AToolsFailedWriteLeavesTheOriginalAndNoOutput)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir("tmp"));
    const EnvironmentOverride temporaryFolder("TMPDIR", dir.filePath("tmp"));
    const QString jpeg = write("photo.jpg", vipsEncode(photoLike(400, 300), ".jpg[Q=98,optimize_coding=false]"));
    const QString png = write("shot.png", vipsEncode(photoLike(400, 300), ".png[compression=0]"));
    const QByteArray jpegBytes = readFile(jpeg);
    const QByteArray pngBytes = readFile(png);

    // The real tools, on a file system that takes only their first 16 KB (the
    // truncated file itself would fit).
    for (const OutputMode& output : {OutputMode::inPlace(false), OutputMode::copyAlongside()}) {
        for (const QString& source : {jpeg, png}) {
            SCOPED_TRACE(source.toStdString());
            const FileSizeLimit limit(16384);
            const CompressionError error = errorOf([&] {
                engine.compress(source, settings(CompressionMode::lossless(), TargetFormat::keepOriginal,
                                                 ResizeMode::none(), output));
            });
            EXPECT_EQ(error.kind(), CompressionError::Kind::encoderFailed) << error.what();
            // jpegtran says nothing and exits 0; only its file tells.
            if (source == jpeg) {
                EXPECT_TRUE(error.message().startsWith("jpegtran failed: the output is cut short")) << error.what();
            }
        }
    }
    EXPECT_EQ(readFile(jpeg), jpegBytes);
    EXPECT_EQ(readFile(png), pngBytes);
    EXPECT_EQ(entries(), QStringList({"photo.jpg", "shot.png"}));
    EXPECT_TRUE(QDir(dir.filePath("tmp")).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
}

TEST_F(CompressionEngineTest, TrashOnlyForConversions)
{
    const QString source = write("c.png", vipsEncode(photoLike(40, 40), ".png"));
    CompressionSettings convert = settings(CompressionMode::lossy(80), TargetFormat::webp);
    convert.originalFileHandling = OriginalFileHandling::moveToTrash;
    convert.outputMode = OutputMode::inPlace(true);
    const CompressionResult result = engine.compress(source, convert);
    EXPECT_EQ(result.outputPath, dir.filePath("c.webp"));
    EXPECT_EQ(trashed, QStringList{source});
    EXPECT_FALSE(QDir(engine.backupRoot()).exists());

    trashed.clear();
    CompressionSettings same = settings(CompressionMode::lossless());
    same.originalFileHandling = OriginalFileHandling::moveToTrash;
    engine.compress(source, same);
    EXPECT_TRUE(trashed.isEmpty());

    // A failing Trash fails the job but keeps the converted file.
    const CompressionEngine failing(dir.filePath("backup"),
                                    [](const QStringList&) { throw std::runtime_error("no Trash here"); }, 1000);
    convert.outputMode = OutputMode::copyAlongside();
    EXPECT_THROW(failing.compress(source, convert), std::runtime_error);
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("c-optim.webp")));
    EXPECT_TRUE(QFileInfo::exists(source));
}

TEST_F(CompressionEngineTest, AVIFRoundTripsAtTheNewSize)
{
    const QString source = write("still.avif", avifPicture(64, 48, true));
    const CompressionResult resized = engine.compress(
        source, settings(CompressionMode::lossy(60), TargetFormat::keepOriginal, ResizeMode::maxDimension(32)));
    EXPECT_EQ(FormatDetector::detectFormat(resized.outputPath), ImageFormat::avif);
    EXPECT_EQ(AVIFEncoder::readDimensions(resized.outputPath), std::make_pair(int64_t{32}, int64_t{24}));
    EXPECT_FALSE(resized.alreadyOptimized);
}
