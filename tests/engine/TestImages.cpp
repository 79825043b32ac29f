#include "TestImages.h"

#include <QFile>

#include <webp/mux.h>
#include <zlib.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>

namespace vantro::test {

DecodedImage paintedImage(int width, int height, bool alpha,
                          const std::function<void(int x, int y, uint8_t* pixel)>& paint)
{
    DecodedImage image;
    image.width = width;
    image.height = height;
    image.hasAlpha = alpha;
    const auto channels = static_cast<size_t>(image.channels());
    image.pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * channels);
    uint8_t* pixel = image.pixels.data();
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x, pixel += channels)
            paint(x, y, pixel);
    }
    return image;
}

DecodedImage photoLike(int width, int height, bool alpha)
{
    uint32_t noise = 2024;
    return paintedImage(width, height, alpha, [&](int x, int y, uint8_t* pixel) {
        noise = noise * 1103515245u + 12345u;
        const int grain = static_cast<int>(noise >> 28) - 8;
        pixel[0] = static_cast<uint8_t>(std::clamp(x * 255 / width + grain, 0, 255));
        pixel[1] = static_cast<uint8_t>(std::clamp((x + y) * 127 / (width + height) + 60 + grain, 0, 255));
        pixel[2] = static_cast<uint8_t>(std::clamp(y * 255 / height - grain, 0, 255));
        if (alpha)
            pixel[3] = 200;
    });
}

DecodedImage flatImage(int width, int height, std::vector<uint8_t> pixel)
{
    DecodedImage image;
    image.width = width;
    image.height = height;
    image.hasAlpha = pixel.size() == 4;
    for (int i = 0; i < width * height; ++i)
        image.pixels.insert(image.pixels.end(), pixel.begin(), pixel.end());
    return image;
}

QByteArray vipsEncode(const DecodedImage& image, const char* suffix, std::optional<int> orientation,
                      const QByteArray& iccProfile)
{
    vips::ensureStarted();
    const vips::Image memory(vips_image_new_from_memory_copy(image.pixels.data(), image.pixels.size(), image.width,
                                                             image.height, image.channels(), VIPS_FORMAT_UCHAR));
    VipsImage* raw = nullptr;
    EXPECT_EQ(vips_copy(memory.get(), &raw, "interpretation", VIPS_INTERPRETATION_sRGB, nullptr), 0);
    const vips::Image tagged(raw);
    if (orientation)
        vips_image_set_int(tagged.get(), VIPS_META_ORIENTATION, *orientation);
    if (!iccProfile.isEmpty())
        vips_image_set_blob_copy(tagged.get(), VIPS_META_ICC_NAME, iccProfile.constData(),
                                 static_cast<size_t>(iccProfile.size()));
    void* buffer = nullptr;
    size_t length = 0;
    EXPECT_EQ(vips_image_write_to_buffer(tagged.get(), suffix, &buffer, &length, nullptr), 0) << vips::takeError();
    const std::unique_ptr<void, vips::GFree> owned(buffer);
    return QByteArray(static_cast<const char*>(buffer), static_cast<qsizetype>(length));
}

QByteArray webpWithChunk(const QByteArray& webp, const char* fourcc, const QByteArray& payload)
{
    const WebPData data{reinterpret_cast<const uint8_t*>(webp.constData()), static_cast<size_t>(webp.size())};
    WebPMux* mux = WebPMuxCreate(&data, 1);
    const WebPData chunk{reinterpret_cast<const uint8_t*>(payload.constData()), static_cast<size_t>(payload.size())};
    EXPECT_EQ(WebPMuxSetChunk(mux, fourcc, &chunk, 1), WEBP_MUX_OK);
    WebPData out;
    WebPDataInit(&out);
    EXPECT_EQ(WebPMuxAssemble(mux, &out), WEBP_MUX_OK);
    QByteArray bytes(reinterpret_cast<const char*>(out.bytes), static_cast<qsizetype>(out.size));
    WebPDataClear(&out);
    WebPMuxDelete(mux);
    return bytes;
}

QByteArray builtInProfile(const char* name)
{
    vips::ensureStarted();
    VipsBlob* raw = nullptr;
    if (vips_profile_load(name, &raw, nullptr) != 0 || !raw) {
        ADD_FAILURE() << "libvips has no profile " << name << ": " << vips::takeError();
        return {};
    }
    const vips::Blob blob(raw);
    size_t length = 0;
    const void* bytes = vips_area_get_data(reinterpret_cast<VipsArea*>(blob.get()), &length, nullptr, nullptr, nullptr);
    return QByteArray(static_cast<const char*>(bytes), static_cast<qsizetype>(length));
}

QByteArray avifEncode(const avifImage* const* frames, size_t count, int quantizer)
{
    const std::unique_ptr<avifEncoder, decltype(&avifEncoderDestroy)> encoder(avifEncoderCreate(), &avifEncoderDestroy);
    encoder->speed = AVIF_SPEED_FASTEST;
    encoder->minQuantizer = encoder->maxQuantizer = quantizer;
    encoder->minQuantizerAlpha = encoder->maxQuantizerAlpha = quantizer;
    avifRWData output = AVIF_DATA_EMPTY;
    avifResult result = AVIF_RESULT_OK;
    if (count == 1) {
        result = avifEncoderWrite(encoder.get(), frames[0], &output);
    } else {
        for (size_t i = 0; i < count && result == AVIF_RESULT_OK; ++i)
            result = avifEncoderAddImage(encoder.get(), frames[i], 1, AVIF_ADD_IMAGE_FLAG_NONE);
        if (result == AVIF_RESULT_OK)
            result = avifEncoderFinish(encoder.get(), &output);
    }
    EXPECT_EQ(result, AVIF_RESULT_OK) << avifResultToString(result);
    QByteArray bytes(reinterpret_cast<const char*>(output.data), static_cast<qsizetype>(output.size));
    avifRWDataFree(&output);
    return bytes;
}

void appendBigEndian(QByteArray& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.append(static_cast<char>((value >> shift) & 0xFFu));
}

QByteArray pngChunk(const char* type, const QByteArray& data)
{
    QByteArray chunk;
    appendBigEndian(chunk, static_cast<uint32_t>(data.size()));
    const QByteArray body = QByteArray(type) + data;
    chunk.append(body);
    appendBigEndian(chunk,
                    static_cast<uint32_t>(crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(body.constData()),
                                                static_cast<uInt>(body.size()))));
    return chunk;
}

QByteArray animationControlChunk()
{
    QByteArray control;
    appendBigEndian(control, 1); // frames
    appendBigEndian(control, 0); // plays: forever
    return pngChunk("acTL", control);
}

QByteArray withAnimationControl(const QByteArray& png)
{
    const qsizetype idat = png.indexOf("IDAT") - 4;
    EXPECT_GT(idat, 8);
    return QByteArray(png).insert(idat, animationControlChunk());
}

FileSizeLimit::FileSizeLimit(rlim_t bytes) : m_previousHandler(std::signal(SIGXFSZ, SIG_IGN))
{
    ::getrlimit(RLIMIT_FSIZE, &m_previous);
    rlimit limit = m_previous;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

FileSizeLimit::~FileSizeLimit()
{
    ::setrlimit(RLIMIT_FSIZE, &m_previous);
    std::signal(SIGXFSZ, m_previousHandler);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    EXPECT_EQ(file.write(bytes), bytes.size());
}

TemporaryFolderTest::~TemporaryFolderTest()
{
    std::error_code ignored;
    std::filesystem::remove_all(QFile::encodeName(dir.path()).toStdString(), ignored);
}

QString TemporaryFolderTest::write(const QString& name, const QByteArray& bytes) const
{
    const QString path = dir.filePath(name);
    writeFile(path, bytes);
    return path;
}

QByteArray TemporaryFolderTest::rawPath(const QByteArray& relative) const
{
    return QFile::encodeName(dir.path()) + '/' + relative;
}

void TemporaryFolderTest::writeRaw(const QByteArray& relative, const QByteArray& bytes) const
{
    std::ofstream file(rawPath(relative).toStdString(), std::ios::binary);
    file.write(bytes.constData(), bytes.size());
    EXPECT_TRUE(file.good()) << relative.toHex().constData();
}

QByteArray TemporaryFolderTest::readRaw(const QByteArray& relative) const
{
    const std::string path = rawPath(relative).toStdString();
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    EXPECT_FALSE(error) << relative.toHex().constData();
    QByteArray bytes(error ? 0 : static_cast<qsizetype>(size), '\0');
    std::ifstream(path, std::ios::binary).read(bytes.data(), bytes.size());
    return bytes;
}

std::set<QByteArray> TemporaryFolderTest::rawNames(const QByteArray& folder) const
{
    std::set<QByteArray> names;
    for (const auto& entry : std::filesystem::directory_iterator(rawPath(folder).toStdString()))
        names.insert(QByteArray::fromStdString(entry.path().filename().string()));
    return names;
}

EnvironmentOverride::EnvironmentOverride(const char* name, const QString& value)
    : m_name(name)
    , m_had(qEnvironmentVariableIsSet(name))
    , m_old(qgetenv(name))
{
    qputenv(name, QFile::encodeName(value));
}

EnvironmentOverride::~EnvironmentOverride()
{
    if (m_had)
        qputenv(m_name, m_old);
    else
        qunsetenv(m_name);
}

std::optional<QByteArray> outputOfChild(const std::function<std::optional<QByteArray>()>& body)
{
    constexpr int kCannotSetUp = 77;
    int out[2];
    if (::pipe(out) != 0) {
        ADD_FAILURE() << "no pipe for the child";
        return std::nullopt;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(out[0]);
        const std::optional<QByteArray> text = body();
        if (!text)
            ::_exit(kCannotSetUp);
        ::_exit(::write(out[1], text->constData(), static_cast<size_t>(text->size())) == text->size() ? 0 : 1);
    }
    ::close(out[1]);
    QByteArray text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, n);
    ::close(out[0]);
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        ADD_FAILURE() << "the child did not end by itself";
        return std::nullopt;
    }
    if (WEXITSTATUS(status) == kCannotSetUp)
        return std::nullopt;
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the child could not report";
    return text;
}

} // namespace vantro::test
