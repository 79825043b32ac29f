#pragma once

#include <QByteArray>
#include <QRegularExpression>
#include <QString>

#include <cstdint>
#include <limits>

namespace vantro {

// The largest image, in pixels, that the engine will decode, scale or encode.
// A file header can claim any size; every real camera stays far below 2^28
// (268 megapixels), and one RGBA copy of such an image is already 1 GiB.
inline constexpr int64_t kMaxPixelCount = int64_t{1} << 28;

// True when width x height is a positive size within kMaxPixelCount.
inline bool fitsPixelBudget(int64_t width, int64_t height)
{
    return width >= 1 && height >= 1 && width <= kMaxPixelCount && height <= kMaxPixelCount
        && width * height <= kMaxPixelCount;
}

// True when a value can be handed to a library parameter of 32-bit int type.
inline bool fitsInt32(int64_t value)
{
    return value >= std::numeric_limits<int32_t>::min() && value <= std::numeric_limits<int32_t>::max();
}

// The user's temporary folder. When TMPDIR names no existing folder,
// QDir::tempPath() is empty; the name as given is used then, so that creating
// a file there fails with the system's reason instead of landing in the
// working directory.
QString temporaryFolder();

// A fresh "<UUID><suffix>" path in the folder: a private one, never the
// temporary folder itself, where others could read it and a kill would leave it.
QString temporaryFilePath(const QString& suffix, const QString& folder);

// The last path component, as messages name files.
QString fileNameOf(const QString& path);

// What a killed process leaves: entries named with its process id.
enum class AbandonedEntry { folder, file };

// A SIGKILL leaves the killed program's temporary entries, copies of the
// user's images among them, and no process can clean up after its own
// SIGKILL. Removes, once per process for each folder and kind, the entries of
// `folder` whose names match `name` with a process id as its first capture,
// where that process no longer exists. Only our own entries of the given kind
// are touched, never through a link, and never one whose process may still be
// there (ESRCH is the only proof that it is gone; a reused id only keeps an
// entry longer).
void removeAbandoned(const QString& folder, const QRegularExpression& name, AbandonedEntry kind);

// An open file descriptor, closed when it goes.
class FileHandle {
public:
    explicit FileHandle(int fd) : m_fd(fd) {}
    FileHandle(FileHandle&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    FileHandle& operator=(FileHandle&&) = delete;
    ~FileHandle();
    int get() const { return m_fd; }

private:
    int m_fd;
};

// Opens an existing regular file for reading without ever blocking: a FIFO or
// a device named like an image is refused instead of waiting forever for a
// writer. A file that cannot be opened throws std::system_error with the file
// system's reason (EISDIR for a folder); anything else that is not a regular
// file throws CompressionError::ioFailure "Not a regular file: " + name.
FileHandle openRegularFile(const QString& path, int64_t* size = nullptr);

// Reads a whole file. A failure of the file system is not a CompressionError:
// it is thrown as std::system_error carrying errno, whose text names the file.
QByteArray readWholeFile(const QString& path);

} // namespace vantro
