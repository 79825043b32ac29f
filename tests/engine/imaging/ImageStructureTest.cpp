#include "TestImages.h"

#include "CompressionEngine.h"
#include "ImageDecoder.h"
#include "ImageDimensions.h"
#include "ImageStructure.h"

#include <QDir>

#include <zlib.h>

#include <random>

using namespace vantro;
using namespace vantro::test;

namespace {

class ImageStructureTest : public TemporaryFolderTest {
protected:
    ImageStructureTest()
        : engine(
            dir.filePath("backup"), [](const QStringList&) {}, 1000)
    {
    }

    QStringList entries() const { return QDir(dir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot); }

    CompressionEngine engine;
};

struct Sample {
    QString name;
    QByteArray bytes;
};

// Every road a file can take: lossy, lossless (through the tools), conversion
// and a resize.
std::vector<CompressionSettings> everyRoad()
{
    const auto with = [](CompressionMode mode, TargetFormat target, ResizeMode resize) {
        return CompressionSettings{
            mode, OutputMode::copyAlongside(), target, OriginalFileHandling::keep, RenamingMode::none(), resize, 3,
            "_"};
    };
    return {with(CompressionMode::lossy(80), TargetFormat::keepOriginal, ResizeMode::none()),
            with(CompressionMode::lossless(), TargetFormat::keepOriginal, ResizeMode::none()),
            with(CompressionMode::lossy(80), TargetFormat::webp, ResizeMode::none()),
            with(CompressionMode::lossy(80), TargetFormat::keepOriginal, ResizeMode::maxDimension(4))};
}

// A chunk header claiming `length` bytes of data followed by no data at all,
// as in libpng's own test files for huge chunks.
QByteArray claimedChunk(const char* type, uint32_t length)
{
    QByteArray out;
    appendBigEndian(out, length);
    out.append(type, 4);
    appendBigEndian(out, 0);
    return out;
}

QByteArray jpegSegment(unsigned char code, const QByteArray& payload)
{
    const auto length = static_cast<uint16_t>(payload.size() + 2);
    const char head[]{'\xFF', static_cast<char>(code), static_cast<char>(length >> 8), static_cast<char>(length)};
    return QByteArray(head, 4) + payload;
}

QByteArray randomBytes(qsizetype size)
{
    std::mt19937 random(7);
    QByteArray out(size, Qt::Uninitialized);
    for (char& c : out)
        c = static_cast<char>(random());
    return out;
}

constexpr qsizetype kPngHeaderEnd = 8 + 25; // signature and image header

} // namespace

TEST_F(ImageStructureTest, LengthsBeyondTheFileOrAnySaneSizeAreRefusedBeforeAnyLibraryReadsThem)
{
    const QByteArray png = vipsEncode(photoLike(16, 12), ".png");
    const QByteArray head = png.left(kPngHeaderEnd);
    const QByteArray rest = png.mid(kPngHeaderEnd);
    const QByteArray jpeg = vipsEncode(photoLike(16, 12), ".jpg");

    std::vector<Sample> samples;
    for (const char* type : {"iTXt", "zTXt", "tEXt", "iCCP", "eXIf", "sPLT", "juNk", "juNK", "IDAT"})
        samples.push_back(
            {QStringLiteral("huge_%1_chunk.png").arg(type), head + claimedChunk(type, 0x7FFFFFFF) + rest});
    // One byte more than the file holds.
    samples.push_back({"past_end.png", head + claimedChunk("zTXt", static_cast<uint32_t>(rest.size() + 1)) + rest});
    samples.push_back({"truncated_header.png", png.left(8 + 8 + 7)});
    samples.push_back({"short_header.png", png.left(8) + pngChunk("IHDR", png.mid(16, 12)) + rest});
    samples.push_back(
        {"text_too_long.png", head + pngChunk("tEXt", QByteArray(ImageStructure::kMaxPngChunkLength + 1, 'a')) + rest});
    samples.push_back({"comment_past_end.jpg", jpeg.left(2) + QByteArray("\xFF\xFE\xFF\xFF", 4) + jpeg.mid(2)});
    samples.push_back(
        {"exif_past_end.jpg", jpeg.left(2) + QByteArray::fromHex("ffe1fff0457869660000") + jpeg.mid(2, 100)});
    samples.push_back({"cut_in_header.jpg", jpeg.left(jpeg.indexOf("\xFF\xDB") + 20)});

    for (const Sample& sample : samples) {
        SCOPED_TRACE(sample.name.toStdString());
        const QString path = write(sample.name, sample.bytes);
        for (const CompressionSettings& settings : everyRoad()) {
            EXPECT_EQ(errorOf([&] { engine.compress(path, settings); }),
                      CompressionError::corruptFile(QStringLiteral("Cannot decode image: ") + sample.name));
        }
        const ImageFormat format = sample.name.endsWith(".png") ? ImageFormat::png : ImageFormat::jpeg;
        EXPECT_EQ(errorOf([&] { ImageDecoder::decode(path, format); }),
                  CompressionError::corruptFile(QStringLiteral("Cannot decode image: ") + sample.name));
        EXPECT_EQ(errorOf([&] { ImageDimensions::read(path); }),
                  CompressionError::corruptFile(QStringLiteral("Cannot read image dimensions: ") + sample.name));
        EXPECT_EQ(readFile(path), sample.bytes);
        QFile::remove(path);
        EXPECT_EQ(entries(), QStringList());
    }
}

TEST_F(ImageStructureTest, LargeButLegalMetadataStillCompresses)
{
    const QByteArray profile = builtInProfile("cmyk");
    ASSERT_GT(profile.size(), 65519); // spread over several APP2 segments
    const QByteArray jpeg = vipsEncode(photoLike(64, 48), ".jpg[Q=95]", std::nullopt, profile);
    const QByteArray full(65533, 'm'); // the largest payload a segment holds
    const QByteArray metadata = jpegSegment(0xE1, "Exif" + QByteArray(2, '\0') + full.left(65527))
        + jpegSegment(0xE1, "http://ns.adobe.com/xap/1.0/" + QByteArray(1, '\0') + full.left(65000))
        + jpegSegment(0xE2, "MPF" + QByteArray(1, '\0') + full.left(60000))
        + jpegSegment(0xED, "Photoshop 3.0" + QByteArray(1, '\0') + full.left(65000)) + jpegSegment(0xFE, full);

    const QByteArray png = vipsEncode(photoLike(64, 48), ".png", std::nullopt, profile);
    const QByteArray head = png.left(kPngHeaderEnd);
    const QByteArray rest = png.mid(kPngHeaderEnd);
    const QByteArray text = randomBytes(6 << 20);
    QByteArray compressed(static_cast<qsizetype>(compressBound(static_cast<uLong>(text.size()))), Qt::Uninitialized);
    auto compressedSize = static_cast<uLongf>(compressed.size());
    ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(compressed.data()), &compressedSize,
                        reinterpret_cast<const Bytef*>(text.constData()), static_cast<uLong>(text.size()), 1),
              Z_OK);
    compressed.truncate(static_cast<qsizetype>(compressedSize));

    const std::vector<Sample> samples = {
        {"profile_and_metadata.jpg", jpeg.left(2) + metadata + jpeg.mid(2)},
        {"several_mb_ztxt.png", head + pngChunk("zTXt", QByteArray("Comment\0\0", 9) + compressed) + rest},
        {"several_mb_itxt_and_private.png",
         head + pngChunk("iTXt", QByteArray("XML:com.adobe.xmp\0\0\0\0\0", 22) + text.toBase64().left(8 << 20))
             + pngChunk("prVW", text) + rest},
        {"bytes_after_end.png", png + "trailing"},
    };
    for (const Sample& sample : samples) {
        SCOPED_TRACE(sample.name.toStdString());
        const QString path = write(sample.name, sample.bytes);
        EXPECT_TRUE(
            ImageStructure::lengthsFit(path, sample.name.endsWith(".png") ? ImageFormat::png : ImageFormat::jpeg));
        for (const CompressionSettings& settings : everyRoad())
            EXPECT_NO_THROW(engine.compress(path, settings));
        EXPECT_EQ(ImageDimensions::read(path), std::make_pair(int64_t{64}, int64_t{48}));
    }
}
