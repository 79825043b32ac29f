#include "FormatDetector.h"

#include "CompressionError.h"
#include "EngineSupport.h"

#include <QFile>

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace vantro::FormatDetector {

namespace {

constexpr std::size_t kBytesRead = 16;
constexpr std::size_t kMinimumBytes = 12;

bool startsWith(const unsigned char* bytes, std::size_t size, std::size_t offset, std::string_view tag)
{
    return size >= offset + tag.size() && std::memcmp(bytes + offset, tag.data(), tag.size()) == 0;
}

} // namespace

std::optional<ImageFormat> detectFormat(const unsigned char* bytes, std::size_t size)
{
    size = std::min(size, kBytesRead);
    if (size < kMinimumBytes)
        return std::nullopt;
    if (startsWith(bytes, size, 0, "\xFF\xD8\xFF"))
        return ImageFormat::jpeg;
    if (startsWith(bytes, size, 0, "\x89PNG\r\n\x1A\n"))
        return ImageFormat::png;
    if (startsWith(bytes, size, 0, "RIFF") && startsWith(bytes, size, 8, "WEBP"))
        return ImageFormat::webp;
    if (startsWith(bytes, size, 4, "ftyp")) {
        const std::string_view brand(reinterpret_cast<const char*>(bytes + 8), 4);
        if (brand == "avif" || brand == "avis")
            return ImageFormat::avif;
        for (std::string_view heic : {"heic", "heix", "hevc", "heim", "heis", "hevm", "hevs"})
            if (brand == heic)
                return ImageFormat::heic;
    }
    throw CompressionError::unsupportedFormat();
}

ImageFormat detectFormat(const QString& path)
{
    const QString name = fileNameOf(path);
    // Never blocks: a FIFO named like an image would otherwise wait forever.
    const FileHandle file(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat info {};
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || !(S_ISREG(info.st_mode) || S_ISDIR(info.st_mode)))
        throw CompressionError::ioFailure(QStringLiteral("Cannot open ") + name);
    const int fd = file.get();

    std::array<unsigned char, kBytesRead> bytes{};
    ssize_t n;
    do {
        n = ::read(fd, bytes.data(), bytes.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        throw std::system_error(errno, std::generic_category(), "Cannot read \"" + name.toStdString() + "\"");

    const auto format = detectFormat(bytes.data(), static_cast<std::size_t>(n));
    if (!format)
        throw CompressionError::corruptFile(QStringLiteral("File too small to identify: ") + name);
    return *format;
}

} // namespace vantro::FormatDetector
