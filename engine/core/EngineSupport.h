#pragma once

#include <QByteArray>
#include <QRegularExpression>
#include <QString>

#include <cstdint>
#include <limits>
#include <sys/stat.h>

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
    // The descriptor, which the caller now closes.
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

// Whether an entry is in use is told by a lock (flock) that its process holds
// on it for as long as it uses it, never by a process id: ids mean nothing
// across PID namespaces (containers, sandboxes) or machines sharing a folder,
// while the kernel drops the lock however the process ends. Takes that lock on
// `fd` without waiting; false when another holds it or the file system keeps
// no locks.
bool markInUse(int fd);

// How far a lock taken on an abandoned entry must go. On NFS, which keeps
// flock as a whole-file POSIX lock, an exclusive lock needs a descriptor open
// for writing and a shared one a descriptor open for reading; a shared lock
// still proves that no process holds the entry in use.
enum class LockStrength {
    // Only one taker at a time: the entry is then reused, not just removed.
    exclusive,
    // Exclusive where the file may be opened for writing, else shared.
    sharedWhereReadOnly,
};

// Opens the entry `name` of the folder `folder` (a descriptor, or AT_FDCWD for
// a path), never through a link, and takes its in-use lock without waiting.
// Returns the open file holding the lock only when it is a regular file of
// the current user that still bears that name, no one else holds its lock and
// `accept` (when given) takes its status; else a handle that holds nothing.
FileHandle lockUnused(int folder, const QByteArray& name, LockStrength strength,
                      bool (*accept)(const struct stat&) = nullptr);

// Whether the entry `name` of `folder` (a descriptor, or AT_FDCWD for a path)
// still is the file `fd` has open. A link count says nothing of that: on NFS
// a file removed while open is only renamed (".nfs…") and keeps it.
bool stillNamed(int folder, const QByteArray& name, int fd);

// Closes `fd`, then removes the entry `name` of `folder` (a descriptor, or
// AT_FDCWD for a path) if it still is the file `fd` had open: what a process
// made and gave up, or is done with, goes only while it is still its own. It
// is closed first because on NFS a file removed while open stays behind as a
// ".nfs" file until it is closed, and keeps its folder from being removed.
void closeAndRemove(int folder, const QByteArray& name, int fd);

// A killed process leaves its temporary entries, copies of the user's images
// among them, and no process can clean up after its own SIGKILL. Removes, once
// per process for each folder and kind, the entries of `folder` whose names
// match `name` and that are provably ours and abandoned: a regular file of the
// current user whose in-use lock is free, or a folder of the current user that
// holds a free AbandonableFolder lock file. Never follows a link; a folder
// without that lock file is never removed, whatever its name, unless it is
// empty. A folder's lock file goes last, so that a kill midway leaves the
// rest to the next sweep.
enum class AbandonedEntry { folder, file };
void removeAbandoned(const QString& folder, const QRegularExpression& name, AbandonedEntry kind);

// A new private folder made from a QTemporaryDir template, holding a lock
// file that marks it ours and in use until the folder is gone, so that
// removeAbandoned takes it only after its process has ended. The folder goes,
// with everything in it and its lock file last, when this does. Where the
// file system keeps modes, it is made owner-only (0700, with any special bits
// its parent gives it). A folder that a sweep takes before it is locked, or
// removes while it is still empty, is given up for a new one, and so is one
// that its name no longer leads to or that shows another owner than the file
// system gives what this process makes: nothing is ever made in a folder of
// that name that another user planted. One that the umask leaves its owner
// unable to use is removed and fails.
class AbandonableFolder {
public:
    explicit AbandonableFolder(const QString& templatePath);
    ~AbandonableFolder();
    AbandonableFolder(const AbandonableFolder&) = delete;
    AbandonableFolder& operator=(const AbandonableFolder&) = delete;

    bool isValid() const { return !m_path.isEmpty(); }
    const QString& path() const { return m_path; }
    // Why the folder could not be made.
    const QString& errorString() const { return m_error; }

private:
    QString m_path;
    QString m_error;
    // The folder made, held open so that it is emptied and removed, never one
    // that took its name.
    int m_folder = -1;
    int m_lock = -1;
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
