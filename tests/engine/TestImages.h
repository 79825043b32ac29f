#pragma once

// Shared helpers of the engine tests: generated images, files, errors and
// environment variables.
// Before any Qt header: glib's headers use "signals" as a name, which Qt defines.
#include "Vips.h"

#include "CompressionError.h"
#include "DecodedImage.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <avif/avif.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <sys/resource.h>
#include <vector>

namespace vantro::test {

// A picture made pixel by pixel, row by row from the top: paint(x, y, pixel)
// fills the pixel's 3 bytes, or 4 with alpha.
DecodedImage paintedImage(int width, int height, bool alpha,
                          const std::function<void(int x, int y, uint8_t* pixel)>& paint);

// A smooth picture with fine grain, like a photo; alpha 200 when asked for.
DecodedImage photoLike(int width, int height, bool alpha = false);

// One colour everywhere.
DecodedImage flatImage(int width, int height, std::vector<uint8_t> pixel);

// Encodes with libvips (the system codecs), e.g. suffix ".jpg[Q=92]" or ".png".
// The orientation and the profile, when given, are written into the file.
QByteArray vipsEncode(const DecodedImage& image, const char* suffix, std::optional<int> orientation = std::nullopt,
                      const QByteArray& iccProfile = {});

// The WebP with a chunk of that type (e.g. "ICCP", "EXIF") set to the payload.
QByteArray webpWithChunk(const QByteArray& webp, const char* fourcc, const QByteArray& payload);

// One of libvips' built-in profiles: "sRGB", "p3", "cmyk".
QByteArray builtInProfile(const char* name);

// An AVIF encoded by libavif at its fastest, at one quantizer for colour and
// alpha: a still image of one frame, an image sequence of several.
QByteArray avifEncode(const avifImage* const* frames, size_t count, int quantizer);

// A PNG chunk: length, type, data and CRC, all in order.
void appendBigEndian(QByteArray& out, uint32_t value);
QByteArray pngChunk(const char* type, const QByteArray& data);

// An animation control chunk (one frame, played forever), and the PNG with it
// placed before its first image data, which makes the PNG animated.
QByteArray animationControlChunk();
QByteArray withAnimationControl(const QByteArray& png);

QByteArray readFile(const QString& path);
void writeFile(const QString& path, const QByteArray& bytes);

// The CompressionError that call throws; a test failure when it throws none.
template <typename Call>
CompressionError errorOf(Call&& call)
{
    try {
        call();
    } catch (const CompressionError& error) {
        return error;
    }
    ADD_FAILURE() << "no CompressionError thrown";
    return CompressionError::unsupportedFormat();
}

// Runs `body` in a forked child and returns what it gives back. Empty when the
// child could not set itself up (body gave nothing); a test failure, and
// empty, when the child died.
std::optional<QByteArray> outputOfChild(const std::function<std::optional<QByteArray>()>& body);

// A test with a temporary folder of its own.
class TemporaryFolderTest : public ::testing::Test {
protected:
    // Qt lists no name that is not valid UTF-8, so QTemporaryDir would leave
    // such files behind; this removes the folder by its bytes.
    ~TemporaryFolderTest() override;

    // Writes the bytes to a file of that name in the folder; returns its path.
    QString write(const QString& name, const QByteArray& bytes) const;

    // A file or folder in the folder under a name of raw bytes, which need not
    // be valid UTF-8, and so cannot be reached through Qt; the same for its
    // contents and for the names a folder holds.
    QByteArray rawPath(const QByteArray& relative) const;
    void writeRaw(const QByteArray& relative, const QByteArray& bytes) const;
    QByteArray readRaw(const QByteArray& relative) const;
    std::set<QByteArray> rawNames(const QByteArray& folder) const;

    QTemporaryDir dir;
};

// Lowers this process's file-size limit, which the tools it starts inherit,
// for as long as it lives. With SIGXFSZ ignored every write past `bytes`
// fails with EFBIG, as a full disk would, even for root.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_previous{};
    void (*m_previousHandler)(int) = nullptr;
};

// Sets an environment variable for as long as it lives; then the old value, or
// its absence, comes back.
class EnvironmentOverride {
public:
    EnvironmentOverride(const char* name, const QString& value);
    ~EnvironmentOverride();
    EnvironmentOverride(const EnvironmentOverride&) = delete;
    EnvironmentOverride& operator=(const EnvironmentOverride&) = delete;

private:
    const char* m_name;
    bool m_had;
    QByteArray m_old;
};

} // namespace vantro::test
