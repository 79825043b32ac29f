#include "TestImages.h"

#include "AVIFEncoder.h"
#include "CompressionEngine.h"
#include "EngineSupport.h"
#include "FormatDetector.h"
#include "ImageDecoder.h"
#include "ImageDimensions.h"
#include "ImageDropExpander.h"
#include "JPEGEncoder.h"
#include "WebPEncoder.h"
#include "WebPICCProfile.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <optional>

using namespace vantro;
using namespace vantro::test;

namespace {

class CompressionEngineTest : public TemporaryFolderTest {
protected:
    CompressionEngineTest()
        : engine(
            dir.filePath("backup"), [this](const QStringList& paths) { trashed += paths; }, 1000)
    {
    }

    static CompressionSettings settings(CompressionMode mode, TargetFormat target = TargetFormat::keepOriginal,
                                        ResizeMode resize = ResizeMode::none(),
                                        OutputMode output = OutputMode::copyAlongside())
    {
        return {mode, output, target, OriginalFileHandling::keep, RenamingMode::none(), resize, 3, "_"};
    }
    CompressionError errorFor(const QString& path, const CompressionSettings& settings) const
    {
        return errorOf([&] { engine.compress(path, settings); });
    }

    QStringList entries() const
    {
        return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    QStringList trashed;
    CompressionEngine engine;
};

// The profile of a JPEG whose profile fits one APP2 marker; empty when it has none.
QByteArray iccProfileOf(const QByteArray& jpeg)
{
    const qsizetype name = jpeg.indexOf(QByteArray("ICC_PROFILE\0", 12));
    if (name < 4 || jpeg.mid(name - 4, 2) != QByteArray("\xFF\xE2", 2))
        return {};
    const int length = static_cast<uint8_t>(jpeg[name - 2]) << 8 | static_cast<uint8_t>(jpeg[name - 1]);
    return jpeg.mid(name + 14, length - 16);
}

std::pair<int64_t, int64_t> dims(int64_t width, int64_t height)
{
    return {width, height};
}

// The marker of a JPEG's frame header (0xC2: progressive, Huffman-coded; 0xC9:
// sequential, arithmetic-coded); 0 when there is none before the first scan.
int frameMarker(const QByteArray& jpeg)
{
    for (qsizetype at = 2; at + 4 <= jpeg.size();) {
        const int marker = static_cast<uint8_t>(jpeg[at + 1]);
        if (marker == 0xDA)
            break;
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)
            return marker;
        at += 2 + (static_cast<uint8_t>(jpeg[at + 2]) << 8 | static_cast<uint8_t>(jpeg[at + 3]));
    }
    return 0;
}

// The command's standard output; a test failure when it does not exit with 0.
QByteArray outputOf(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    const bool finished = process.waitForFinished(-1);
    EXPECT_TRUE(finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        << qPrintable(program) << ": " << process.readAllStandardError().constData();
    return process.readAllStandardOutput();
}

} // namespace

TEST_F(CompressionEngineTest, LossyJPEGFollowsQualityAndNotSmallerWritesNothing)
{
    const QString source = write("photo.jpg", vipsEncode(photoLike(320, 240), ".jpg[Q=97]"));
    const CompressionResult high = engine.compress(source, settings(CompressionMode::lossy(90)));
    EXPECT_EQ(high.outputPath, dir.filePath("photo-optim.jpg"));
    EXPECT_EQ(high.compressedSize, QFileInfo(high.outputPath).size());
    EXPECT_LT(high.compressedSize, high.originalSize);
    // Same-format JPEG carries no profile.
    EXPECT_EQ(iccProfileOf(readFile(high.outputPath)), QByteArray());
    const CompressionResult low = engine.compress(source, settings(CompressionMode::lossy(40)));
    EXPECT_EQ(low.outputPath, dir.filePath("photo-optim-1.jpg"));
    EXPECT_GT(high.compressedSize, low.compressedSize);

    // The optimiser's own output cannot be made smaller again, also with a
    // resize that the image already meets.
    const QString png = write("graphic.png", vipsEncode(photoLike(64, 48), ".png"));
    const QString optimised = engine.compress(png, settings(CompressionMode::lossless())).outputPath;
    const QStringList before = entries();
    for (const ResizeMode& resize : {ResizeMode::none(), ResizeMode::maxDimension(64)}) {
        const CompressionResult again
            = engine.compress(optimised, settings(CompressionMode::lossless(), TargetFormat::keepOriginal, resize));
        EXPECT_TRUE(again.alreadyOptimized);
        EXPECT_EQ(again.outputPath, optimised);
        EXPECT_EQ(again.compressedSize, again.originalSize);
    }
    EXPECT_EQ(entries(), before);
}

TEST_F(CompressionEngineTest, ResizedSameFormatOutputIsAlwaysWritten)
{
    const QString png = write("tiny.png", vipsEncode(photoLike(40, 30), ".png"));
    const CompressionResult bigger = engine.compress(
        png, settings(CompressionMode::lossless(), TargetFormat::keepOriginal, ResizeMode::exactWidth(120)));
    EXPECT_GT(bigger.compressedSize, bigger.originalSize);
    EXPECT_EQ(ImageDimensions::read(bigger.outputPath), dims(120, 90));

    const QString jpeg = write("wide.jpg", vipsEncode(photoLike(200, 100), ".jpg[Q=95]"));
    const CompressionResult shrunk = engine.compress(
        jpeg, settings(CompressionMode::lossless(), TargetFormat::keepOriginal, ResizeMode::maxDimension(100)));
    EXPECT_TRUE(shrunk.lossyFallbackApplied);
    EXPECT_EQ(ImageDimensions::read(shrunk.outputPath), dims(100, 50));
    // Lossless with a resize that changes nothing stays on the lossless road.
    EXPECT_FALSE(
        engine
            .compress(jpeg,
                      settings(CompressionMode::lossless(), TargetFormat::keepOriginal, ResizeMode::maxWidth(500)))
            .lossyFallbackApplied);

    // A resized WebP keeps its own profile: its samples are not converted.
    const QByteArray p3 = builtInProfile("p3");
    const QString webp = write(
        "pic.webp",
        WebPICCProfile::embedICCProfile(WebPEncoder::encode(photoLike(90, 60), CompressionMode::lossy(90), "x"), p3));
    const CompressionResult half
        = engine.compress(webp, settings(CompressionMode::lossy(80), TargetFormat::webp, ResizeMode::percentage(50)));
    EXPECT_EQ(WebPEncoder::readDimensions(half.outputPath), dims(45, 30));
    EXPECT_EQ(WebPICCProfile::iccProfile(readFile(half.outputPath)), p3);

    const QString avif = write("still.avif", vipsEncode(photoLike(64, 48, true), ".avif"));
    const CompressionResult smaller = engine.compress(
        avif, settings(CompressionMode::lossy(60), TargetFormat::keepOriginal, ResizeMode::maxDimension(32)));
    EXPECT_EQ(AVIFEncoder::readDimensions(smaller.outputPath), dims(32, 24));
    EXPECT_FALSE(smaller.alreadyOptimized);
}

// An arithmetic-coded JPEG (which libjpeg-turbo's cjpeg writes) takes the
// lossless road like any other: jpegtran rewrites it Huffman-coded and
// progressive, with the same pixels.
TEST_F(CompressionEngineTest, LosslessRewritesArithmeticCodedJPEG)
{
    const DecodedImage picture = photoLike(96, 64);
    QByteArray ppm = QByteArray("P6\n96 64\n255\n");
    ppm.append(reinterpret_cast<const char*>(picture.pixels.data()), static_cast<qsizetype>(picture.pixels.size()));
    const QString arithmetic = dir.filePath("arithmetic.jpg");
    outputOf("cjpeg", {"-arithmetic", "-quality", "90", "-outfile", arithmetic, write("picture.ppm", ppm)});
    // A long comment, which the lossless road drops, so that the output is
    // smaller than arithmetic coding and gets written.
    QByteArray source = readFile(arithmetic);
    ASSERT_EQ(frameMarker(source), 0xC9);
    const QByteArray comment(30000, 'c');
    source.insert(
        2, QByteArray("\xFF\xFE", 2) + char((comment.size() + 2) >> 8) + char((comment.size() + 2) & 0xFF) + comment);
    writeFile(arithmetic, source);

    const CompressionResult result = engine.compress(arithmetic, settings(CompressionMode::lossless()));
    ASSERT_FALSE(result.alreadyOptimized);
    EXPECT_EQ(result.outputPath, dir.filePath("arithmetic-optim.jpg"));
    EXPECT_EQ(frameMarker(readFile(result.outputPath)), 0xC2);
    const QByteArray shownBefore = outputOf("djpeg", {"-pnm", arithmetic});
    EXPECT_EQ(shownBefore.size(), ppm.size());
    EXPECT_EQ(outputOf("djpeg", {"-pnm", result.outputPath}), shownBefore);
}

// Every source is converted from its profile to sRGB, and a WebP output says so.
TEST_F(CompressionEngineTest, ConversionsAreInSRGBAndLosslessWebPKeepsEveryPixel)
{
    // The same wide-gamut samples, once as a PNG (decoded through libvips) and once as a WebP.
    const DecodedImage picture = photoLike(48, 32, true);
    const QByteArray p3 = builtInProfile("p3");
    const QString png = write("p3.png", vipsEncode(picture, ".png", std::nullopt, p3));
    const QString webp
        = write("p3.webp", webpWithChunk(WebPEncoder::encode(picture, CompressionMode::lossless(), "x"), "ICCP", p3));
    const std::vector<uint8_t> inSRGB = ImageDecoder::decode(png, ImageFormat::png).pixels;

    const CompressionResult toPNG = engine.compress(webp, settings(CompressionMode::lossy(85), TargetFormat::png));
    EXPECT_EQ(ImageDecoder::decode(toPNG.outputPath, ImageFormat::png).pixels, inSRGB);
    // The colours did move: written unchanged, they would shift on screen.
    ASSERT_EQ(inSRGB.size(), picture.pixels.size());
    int largest = 0;
    for (size_t i = 0; i < inSRGB.size(); ++i)
        largest = std::max(largest, std::abs(inSRGB[i] - picture.pixels[i]));
    EXPECT_GE(largest, 20);

    const CompressionResult toWebP = engine.compress(png, settings(CompressionMode::lossless(), TargetFormat::webp));
    EXPECT_EQ(toWebP.outputPath, dir.filePath("p3-optim.webp"));
    EXPECT_EQ(WebPICCProfile::iccProfile(readFile(toWebP.outputPath)), WebPICCProfile::sRGBICCProfileData());
    EXPECT_EQ(ImageDecoder::decode(toWebP.outputPath, ImageFormat::webp).pixels, inSRGB);
}

TEST_F(CompressionEngineTest, ConversionToJPEGFlattensAlphaOntoWhiteAndCarriesSRGB)
{
    DecodedImage image = photoLike(3, 1, true);
    image.pixels = {10, 20, 30, 255, 0, 0, 0, 128, 200, 100, 50, 0};
    EXPECT_EQ(flattenAlphaOntoWhite(image).pixels, (std::vector<uint8_t>{10, 20, 30, 127, 127, 127, 255, 255, 255}));

    // Content, not the extension, decides the road: a PNG named .jpg is converted.
    const QString source = write("logo.jpg", vipsEncode(image, ".png"));
    const CompressionResult result = engine.compress(source, settings(CompressionMode::lossless(), TargetFormat::jpeg));
    EXPECT_EQ(result.outputPath, dir.filePath("logo-optim.jpg"));
    EXPECT_TRUE(result.lossyFallbackApplied);
    EXPECT_EQ(iccProfileOf(readFile(result.outputPath)), WebPICCProfile::sRGBICCProfileData());
    const DecodedImage decoded = ImageDecoder::decode(result.outputPath, ImageFormat::jpeg);
    ASSERT_FALSE(decoded.hasAlpha);
    EXPECT_NEAR(decoded.pixels[3], 127, 12); // half-transparent black
    EXPECT_GT(decoded.pixels[7], 200); // transparent: white
    // Read through that profile, the file shows the samples it holds.
    const QString plain = write("plain.jpg", JPEGEncoder::compress(flattenAlphaOntoWhite(image), 90, "p", {}));
    const DecodedImage plainDecoded = ImageDecoder::decode(plain, ImageFormat::jpeg);
    ASSERT_EQ(plainDecoded.pixels.size(), decoded.pixels.size());
    for (size_t i = 0; i < decoded.pixels.size(); ++i)
        EXPECT_NEAR(decoded.pixels[i], plainDecoded.pixels[i], 1);
    EXPECT_FALSE(
        engine.compress(source, settings(CompressionMode::lossy(70), TargetFormat::jpeg)).lossyFallbackApplied);
}

TEST_F(CompressionEngineTest, RefusalsComeBeforeAnyWork)
{
    CompressionSettings inPlace = settings(CompressionMode::lossless(), TargetFormat::keepOriginal, ResizeMode::none(),
                                           OutputMode::inPlace(true));
    inPlace.renaming = RenamingMode::customBase("new");
    EXPECT_EQ(errorFor(dir.filePath("missing.jpg"), inPlace),
              CompressionError::invalidConfiguration(
                  "In-place output cannot be combined with renaming; use copy-alongside output or disable renaming"));
    // A renaming that cleans to nothing is no renaming.
    inPlace.renaming = RenamingMode::sequence(" .. ", 4);
    const QString jpeg = write("keep.jpg", vipsEncode(photoLike(64, 48), ".jpg[Q=98,optimize_coding=false]"));
    EXPECT_EQ(engine.compress(jpeg, inPlace).outputPath, jpeg);

    QByteArray heic("\x00\x00\x00\x18"
                    "ftypheic\x00\x00\x00\x00mif1heic",
                    24);
    const QString phone = write("IMG_1.HEIC", heic + QByteArray(100, '\0'));
    EXPECT_EQ(errorFor(phone, settings(CompressionMode::lossless())),
              CompressionError::invalidConfiguration(
                  QString::fromUtf8("HEIC files cannot be recompressed in their original format — choose a target "
                                    "format (e.g. WebP) to convert IMG_1.HEIC instead of \"Keep Original\"")));

    // A custom folder must be a whole path: nothing is made relative to
    // wherever the program happens to run, and nothing is said on stderr.
    const QString photo = write("photo.png", vipsEncode(photoLike(8, 8), ".png"));
    const QString workingFolder = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    for (const QString& folder : {QString(), QStringLiteral("./exports")}) {
        const CompressionSettings custom = settings(CompressionMode::lossless(), TargetFormat::keepOriginal,
                                                    ResizeMode::none(), OutputMode::customFolder(folder));
        testing::internal::CaptureStderr();
        EXPECT_EQ(errorFor(photo, custom),
                  CompressionError::invalidConfiguration(
                      folder.isEmpty()
                          ? QStringLiteral("No custom output folder is set")
                          : QStringLiteral("The custom output folder must be an absolute path: ") + folder));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(errorFor(dir.filePath("missing.png"), custom), errorFor(photo, custom));
    }
    EXPECT_TRUE(QDir::setCurrent(workingFolder));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("exports")));

    const QString avif = write("a.avif", vipsEncode(photoLike(16, 16), ".avif"));
    EXPECT_EQ(errorFor(avif, settings(CompressionMode::lossless(), TargetFormat::png)),
              CompressionError::unsupportedFormat());
    // Refused on every road before any tool runs, not by whatever the tool does.
    const QString animated = write("moving.png", withAnimationControl(vipsEncode(photoLike(16, 16), ".png")));
    EXPECT_EQ(errorFor(animated, settings(CompressionMode::lossless())), CompressionError::unsupportedFormat());
    EXPECT_EQ(errorFor(write("notes.jpg", "just some text"), settings(CompressionMode::lossless())),
              CompressionError::unsupportedFormat());
    EXPECT_THROW(engine.compress(dir.filePath("gone.png"), settings(CompressionMode::lossless())), std::system_error);

    // A FIFO named like an image would block a reader forever with no writer.
    const QString fifo = dir.filePath("pipe.jpg");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_EQ(errorOf([&] { readWholeFile(fifo); }), CompressionError::ioFailure("Not a regular file: pipe.jpg"));
    EXPECT_EQ(errorOf([&] { FormatDetector::detectFormat(fifo); }),
              CompressionError::ioFailure("Cannot open pipe.jpg"));
    EXPECT_EQ(errorFor(fifo, settings(CompressionMode::lossless())),
              CompressionError::ioFailure("Not a regular file: pipe.jpg"));
    EXPECT_TRUE(entries().filter("optim").isEmpty());
}

// The real tools with no room for their output in the temporary folder: under
// a file-size limit of 16 KB (the truncated file itself would fit), and on a
// tmpfs of 16 KB where the machine lets a child mount one.
TEST_F(CompressionEngineTest, AToolsFailedWriteLeavesTheOriginalAndNoOutput)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir("tmp"));
    const QString temporary = dir.filePath("tmp");
    const EnvironmentOverride temporaryFolder("TMPDIR", temporary);
    const QString jpeg = write("photo.jpg", vipsEncode(photoLike(400, 300), ".jpg[Q=98,optimize_coding=false]"));
    const QString png = write("shot.png", vipsEncode(photoLike(400, 300), ".png[compression=0]"));
    const QByteArray jpegBytes = readFile(jpeg);
    const QByteArray pngBytes = readFile(png);
    const auto failures = [&](bool limited) {
        QStringList errors;
        for (const OutputMode& output : {OutputMode::inPlace(false), OutputMode::copyAlongside()}) {
            for (const QString& source : {jpeg, png}) {
                std::optional<FileSizeLimit> limit;
                if (limited)
                    limit.emplace(16384);
                errors << errorFor(source,
                                   settings(CompressionMode::lossless(), TargetFormat::keepOriginal, ResizeMode::none(),
                                            output))
                              .what();
            }
        }
        return errors;
    };
    // What failed in the program's words: not jpegtran's "can't write to" the
    // original, nor oxipng's whole progress log.
    const auto expected = [&](const QString& reason) {
        QStringList errors;
        for (int output = 0; output < 2; ++output) {
            for (const char* tool : {"jpegtran", "oxipng"})
                errors << CompressionError::encoderFailed(
                              tool + QStringLiteral(" failed: could not write its output to the temporary folder ")
                              + temporary + ": " + reason)
                              .what();
        }
        return errors;
    };
    EXPECT_EQ(failures(true), expected("File too large"));

    const std::optional<QByteArray> text = outputOfChild([&]() -> std::optional<QByteArray> {
        const QByteArray folder = QFile::encodeName(temporary);
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
            || ::mount("tmpfs", folder.constData(), "tmpfs", 0, "size=16k") != 0)
            return std::nullopt;
        return failures(false).join('\n').toUtf8();
    });
    if (text) {
        EXPECT_EQ(QString::fromUtf8(*text).split('\n'), expected("No space left on device"));
    }

    EXPECT_EQ(readFile(jpeg), jpegBytes);
    EXPECT_EQ(readFile(png), pngBytes);
    EXPECT_EQ(entries(), QStringList({"photo.jpg", "shot.png"}));
    EXPECT_TRUE(QDir(temporary).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    if (!text)
        GTEST_SKIP() << "this machine lets no child mount a small tmpfs; only the file-size limit was tried";
}

// A killed run leaves copies of images in its private temporary folder; the
// next run that places files removes them, though it starts no tool. A folder
// that only bears a name like theirs, without their lock, stays with all in it.
TEST_F(CompressionEngineTest, ARunWithoutToolsRemovesWhatKilledRunsLeftInTheTemporaryFolder)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir("tmp"));
    const EnvironmentOverride temporaryFolder("TMPDIR", dir.filePath("tmp"));
    const pid_t killed = ::fork();
    ASSERT_GE(killed, 0);
    if (killed == 0) {
        const AbandonableFolder left(dir.filePath("tmp/vantro-1-XXXXXX"));
        writeFile(left.path() + "/COPY.jpg", "a copy of a photo");
        ::_exit(0); // as a kill would: the folder stays
    }
    ASSERT_EQ(::waitpid(killed, nullptr, 0), killed);
    ASSERT_EQ(QDir(dir.filePath("tmp")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 1);
    ASSERT_TRUE(QDir(dir.filePath("tmp")).mkpath("vantro-2024-photos")
                && QDir(dir.filePath("tmp")).mkpath("vantro-7-Ab12Cd"));
    writeFile(dir.filePath("tmp/vantro-2024-photos/notes.txt"), "notes");
    writeFile(dir.filePath("tmp/vantro-7-Ab12Cd/COPY.jpg"), "an earlier version's, or the user's");

    const QString source = write("photo.jpg", vipsEncode(photoLike(64, 48), ".jpg[Q=98]"));
    engine.compress(source, settings(CompressionMode::lossy(60)));
    EXPECT_EQ(QDir(dir.filePath("tmp")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name),
              QStringList({"vantro-2024-photos", "vantro-7-Ab12Cd"}));
    EXPECT_EQ(readFile(dir.filePath("tmp/vantro-2024-photos/notes.txt")), "notes");
}

TEST_F(CompressionEngineTest, TrashOnlyForConversions)
{
    const QString source = write("c.png", vipsEncode(photoLike(40, 40), ".png"));
    CompressionSettings convert
        = settings(CompressionMode::lossy(80), TargetFormat::webp, ResizeMode::none(), OutputMode::inPlace(true));
    convert.originalFileHandling = OriginalFileHandling::moveToTrash;
    EXPECT_EQ(engine.compress(source, convert).outputPath, dir.filePath("c.webp"));
    EXPECT_EQ(trashed, QStringList{source});
    EXPECT_FALSE(QDir(engine.backupRoot()).exists());

    convert.targetFormat = TargetFormat::keepOriginal;
    engine.compress(source, convert);
    EXPECT_EQ(trashed.size(), 1);

    // A failing Trash fails the job but keeps the converted file.
    const CompressionEngine failing(
        dir.filePath("backup"), [](const QStringList&) { throw std::runtime_error(""); }, 1);
    convert.outputMode = OutputMode::copyAlongside();
    convert.targetFormat = TargetFormat::webp;
    EXPECT_THROW(failing.compress(source, convert), std::runtime_error);
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("c-optim.webp")));
    EXPECT_TRUE(QFileInfo::exists(source));
}

// The path the expander gives for "d/\xe9.jpg" is no name of a file, and Qt
// would open "d/\xef\xbf\xbd.jpg" for it: neither in-place output nor a
// conversion that moves its original to the Trash may touch either file.
TEST_F(CompressionEngineTest, APathWithBytesThatAreNotUTF8TouchesNoFile)
{
    ASSERT_EQ(::mkdir(rawPath("d").constData(), 0700), 0);
    const QByteArray named = vipsEncode(photoLike(64, 48), ".jpg[Q=98,optimize_coding=false]");
    const QByteArray other = vipsEncode(photoLike(48, 64), ".jpg[Q=98,optimize_coding=false]");
    writeRaw("d/\xe9.jpg", named);
    writeRaw("d/\xef\xbf\xbd.jpg", other);
    const QStringList given = ImageDropExpander::expandToFiles({rawPath("d/\xe9.jpg")});
    ASSERT_EQ(given.size(), 1);

    const CompressionSettings inPlace = settings(CompressionMode::lossy(60), TargetFormat::keepOriginal,
                                                 ResizeMode::none(), OutputMode::inPlace(true));
    CompressionSettings trashing = settings(CompressionMode::lossy(60), TargetFormat::webp);
    trashing.originalFileHandling = OriginalFileHandling::moveToTrash;
    for (const CompressionSettings& each : {inPlace, trashing})
        EXPECT_EQ(errorFor(given[0], each),
                  CompressionError::ioFailure(QString::fromUtf8("File name is not valid UTF-8 and cannot be read: "
                                                                "\uFFFD.jpg")));
    EXPECT_EQ(rawNames("d"), (std::set<QByteArray>{"\xe9.jpg", "\xef\xbf\xbd.jpg"}));
    EXPECT_EQ(readRaw("d/\xe9.jpg"), named);
    EXPECT_EQ(readRaw("d/\xef\xbf\xbd.jpg"), other);
    EXPECT_TRUE(trashed.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(engine.backupRoot()));
}

// A dropped item that names no file here is given to the engine as written,
// which is no absolute path: looked up under the working folder it would be
// another file, such as "file:/nas/x.jpg" there for "file://nas/x.jpg".
TEST_F(CompressionEngineTest, AnItemThatIsNotAnAbsolutePathTouchesNoFile)
{
    const QByteArray jpeg = vipsEncode(photoLike(64, 48), ".jpg[Q=98,optimize_coding=false]");
    ASSERT_TRUE(QDir(dir.path()).mkpath("file:/nas") && QDir(dir.path()).mkpath("file:A"));
    write("file:/nas/x.jpg", jpeg);
    write("file:A/ok.jpg", jpeg);
    const QString home = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    const auto back = qScopeGuard([&] { QDir::setCurrent(home); });

    CompressionSettings trashing = settings(CompressionMode::lossy(60), TargetFormat::webp);
    trashing.originalFileHandling = OriginalFileHandling::moveToTrash;
    EXPECT_EQ(errorFor("file://nas/x.jpg", trashing),
              CompressionError::ioFailure("Not a file on this computer: file://nas/x.jpg"));
    EXPECT_EQ(errorFor(QString::fromUtf16(u"FILE://nas/caf\xdce9.jpg"), trashing),
              CompressionError::ioFailure(QString::fromUtf8("Not a file on this computer: FILE://nas/caf\uFFFD.jpg")));
    // Without a path, a URI of this computer names no file at all.
    for (const QString item : {"file:A/ok.jpg", "file://localhost", "FILE://", "file:"})
        EXPECT_EQ(errorFor(item, trashing), CompressionError::ioFailure("Not an absolute file path: " + item));
    EXPECT_EQ(QDir(dir.filePath("file:/nas")).entryList(QDir::Files), QStringList{"x.jpg"});
    EXPECT_EQ(readFile(dir.filePath("file:A/ok.jpg")), jpeg);
    EXPECT_TRUE(trashed.isEmpty());
}

// After a symbolic link, ".." leads up from the link's target: the kernel
// reads "work/link/../ok.jpg" from "real/ok.jpg", and that file, never
// "work/ok.jpg", is the one replaced, written beside or moved to the Trash;
// a custom folder given so is the one the kernel names too.
TEST_F(CompressionEngineTest, ADotDotAfterALinkNamesTheFileTheKernelOpens)
{
    const QByteArray mine = vipsEncode(photoLike(64, 48), ".jpg[Q=98,optimize_coding=false]");
    const QByteArray theirs = vipsEncode(photoLike(48, 64), ".jpg[Q=98,optimize_coding=false]");
    ASSERT_TRUE(QDir(dir.path()).mkpath("work") && QDir(dir.path()).mkpath("real/sub"));
    write("work/ok.jpg", mine);
    write("real/ok.jpg", theirs);
    ASSERT_EQ(::symlink("../real/sub", QFile::encodeName(dir.filePath("work/link")).constData()), 0);
    const QString given = dir.filePath("work/link/../ok.jpg");
    const QString real = QFileInfo(dir.filePath("real")).canonicalFilePath();

    CompressionSettings copy = settings(CompressionMode::lossy(60));
    EXPECT_EQ(engine.compress(given, copy).outputPath, real + "/ok-optim.jpg");
    copy.outputMode = OutputMode::customFolder(dir.filePath("work/link/../out"));
    EXPECT_EQ(engine.compress(given, copy).outputPath, real + "/out/ok-optim.jpg");
    CompressionSettings trashing = settings(CompressionMode::lossy(60), TargetFormat::webp);
    trashing.originalFileHandling = OriginalFileHandling::moveToTrash;
    EXPECT_EQ(engine.compress(given, trashing).outputPath, real + "/ok-optim.webp");
    EXPECT_EQ(trashed, QStringList{real + "/ok.jpg"});
    const CompressionSettings inPlace = settings(CompressionMode::lossy(60), TargetFormat::keepOriginal,
                                                 ResizeMode::none(), OutputMode::inPlace(false));
    EXPECT_EQ(engine.compress(given, inPlace).outputPath, real + "/ok.jpg");
    EXPECT_NE(readFile(real + "/ok.jpg"), theirs);

    EXPECT_EQ(readFile(dir.filePath("work/ok.jpg")), mine);
    EXPECT_EQ(QDir(dir.filePath("work")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name),
              QStringList({"link", "ok.jpg"}));
}
