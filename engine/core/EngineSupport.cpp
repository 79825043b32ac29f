#include "EngineSupport.h"

#include "CompressionError.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QUuid>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <mutex>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace vantro {

QString fileNameOf(const QString& path)
{
    return QFileInfo(path).fileName();
}

QString temporaryFolder()
{
    QString folder = QDir::tempPath();
    if (folder.isEmpty()) {
        folder = qEnvironmentVariable("TMPDIR");
        if (folder.isEmpty())
            folder = QStringLiteral("/tmp");
    }
    return folder;
}

QString temporaryFilePath(const QString& suffix, const QString& folder)
{
    return QDir(folder).filePath(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + suffix);
}

namespace {

bool tryLock(int fd, int operation)
{
    int result;
    do
        result = ::flock(fd, operation | LOCK_NB);
    while (result != 0 && errno == EINTR);
    return result == 0;
}

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The lock file that marks an AbandonableFolder as ours.
constexpr char kFolderLock[] = ".vantro-lock";
// The name it takes in a folder whose lock the file system refuses.
constexpr char kUnmarked[] = ".vantro-unlocked";

// Removes everything in the folder `folder` but its entry `keep` (none when
// null), folders inside included, by name and never through a link. Names
// are read as bytes, so a name that is not UTF-8 keeps no folder from going.
void removeContents(int folder, const char* keep)
{
    std::vector<QByteArray> names;
    {
        const int listing = ::dup(folder);
        DIR* dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
        if (!dir) {
            if (listing >= 0)
                ::close(listing);
            return;
        }
        ::rewinddir(dir);
        while (const dirent* entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            if (name != "." && name != ".." && (!keep || name != keep))
                names.push_back(name);
        }
        ::closedir(dir);
    }
    for (const QByteArray& name : names) {
        if (::unlinkat(folder, name.constData(), 0) == 0 || (errno != EISDIR && errno != EPERM))
            continue;
        if (const FileHandle inside(
                ::openat(folder, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            inside.get() >= 0)
            removeContents(inside.get(), nullptr);
        ::unlinkat(folder, name.constData(), AT_REMOVEDIR);
    }
}

// Removes a marked folder whose lock `lock` (its lock file, open) this process
// holds: everything else while the lock is held, so that a kill midway leaves
// a folder still marked, which the next sweep takes; then the lock file, still
// while its lock is held, so that a run that made the folder and locks it in
// between finds its lock file gone and makes another; then the folder itself,
// `name` in `parent` (a descriptor, or AT_FDCWD for a path). On NFS the lock
// file removed while open is only renamed until the close that follows, and
// the client's rmdir waits for that removal. The folder goes only while its
// name still leads to it.
void removeMarkedFolder(int folder, int lock, int parent, const QByteArray& name)
{
    removeContents(folder, kFolderLock);
    if (stillNamed(folder, kFolderLock, lock))
        ::unlinkat(folder, kFolderLock, 0);
    ::close(lock);
    if (stillNamed(parent, name, folder))
        ::unlinkat(parent, name.constData(), AT_REMOVEDIR);
}

// The owner the file system shows for what this process makes in `folder`:
// most show the process's own user, some another one for every file (FAT or
// NTFS through FUSE mounted by root, NFS squashing root). Told by a file made
// there exclusively, which is this process's whatever owner it shows: one
// without a name where the file system makes such files, else one under a
// hidden name that goes at once.
std::optional<uid_t> ownerShownIn(const QByteArray& folder)
{
    int probe = ::open(folder.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    QByteArray name = folder + "/.vantro-owner-XXXXXX";
    if (probe >= 0)
        name.clear();
    else
        probe = ::mkostemp(name.data(), O_CLOEXEC);
    if (probe < 0)
        return std::nullopt;
    struct stat info {};
    const bool seen = ::fstat(probe, &info) == 0;
    if (name.isEmpty())
        ::close(probe);
    else
        closeAndRemove(AT_FDCWD, name, probe);
    return seen ? std::optional<uid_t>(info.st_uid) : std::nullopt;
}

// Whether a folder in `parent` that shows the owner `owner` may be one this
// process made. Where the file system tells owners apart, one of another
// user's was planted in the name of one a sweep removed. Where it shows one
// owner for all, whoever could plant such a folder could as well read what
// this process makes there, so the folder mkdtemp made is taken as made.
bool madeHere(uid_t owner, const QByteArray& parent)
{
    return owner == ::geteuid() || owner == ownerShownIn(parent);
}

} // namespace

bool markInUse(int fd)
{
    return tryLock(fd, LOCK_EX);
}

FileHandle lockUnused(int folder, const QByteArray& name, LockStrength strength, bool (*accept)(const struct stat&))
{
    struct stat seen {};
    // What `accept` refuses as it stands is neither opened nor locked: a
    // search for a free name passes many files of the user's.
    if (::fstatat(folder, name.constData(), &seen, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(seen.st_mode)
        || seen.st_uid != ::geteuid() || (accept && !accept(seen)))
        return FileHandle(-1);
    // Open for writing too, as NFS wants for an exclusive lock: the entries
    // are the user's own, made 0600. A staging file that took a read-only
    // source's mode opens for reading only, and is locked shared where that is
    // enough.
    const int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    int operation = LOCK_EX;
    int fd = ::openat(folder, name.constData(), O_RDWR | flags);
    if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
        fd = ::openat(folder, name.constData(), O_RDONLY | flags);
        if (strength == LockStrength::sharedWhereReadOnly)
            operation = LOCK_SH;
    }
    FileHandle file(fd);
    struct stat opened {};
    if (file.get() < 0 || ::fstat(file.get(), &opened) != 0 || !sameFile(opened, seen)
        || !tryLock(file.get(), operation))
        return FileHandle(-1);
    // Its process may have removed it, or another taker replaced it, between
    // the look and the lock: only a file that still bears the name is abandoned.
    if (!stillNamed(folder, name, file.get()) || (accept && (::fstat(file.get(), &opened) != 0 || !accept(opened))))
        return FileHandle(-1);
    return file;
}

bool stillNamed(int folder, const QByteArray& name, int fd)
{
    struct stat opened {};
    struct stat named {};
    return ::fstat(fd, &opened) == 0 && ::fstatat(folder, name.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0
        && sameFile(opened, named);
}

void closeAndRemove(int folder, const QByteArray& name, int fd)
{
    const bool same = stillNamed(folder, name, fd);
    ::close(fd);
    if (same)
        ::unlinkat(folder, name.constData(), 0);
}

void removeAbandoned(const QString& folder, const QRegularExpression& name, AbandonedEntry kind)
{
    // Claimed under the lock, swept outside it: jobs placing their first
    // files in other folders need not wait for this folder's listing.
    {
        static std::mutex mutex;
        static QSet<QString> swept;
        const std::lock_guard lock(mutex);
        const QString key = QString::number(static_cast<int>(kind)) + folder;
        if (swept.contains(key))
            return;
        swept.insert(key);
    }

    const FileHandle directory(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() < 0)
        return;
    const QStringList names
        = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& entry : names) {
        if (!name.match(entry).hasMatch())
            continue;
        const QByteArray native = QFile::encodeName(entry);
        if (kind == AbandonedEntry::file) {
            // Unlinked while its lock is held, so no sweep or process can be
            // between taking it and the removal.
            if (const FileHandle file = lockUnused(directory.get(), native, LockStrength::sharedWhereReadOnly);
                file.get() >= 0)
                ::unlinkat(directory.get(), native.constData(), 0);
            continue;
        }
        const FileHandle inside(
            ::openat(directory.get(), native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat info {};
        if (inside.get() < 0 || ::fstat(inside.get(), &info) != 0 || info.st_uid != ::geteuid())
            continue;
        if (FileHandle lock = lockUnused(inside.get(), kFolderLock, LockStrength::sharedWhereReadOnly); lock.get() >= 0)
            removeMarkedFolder(inside.get(), lock.release(), directory.get(), native);
        else
            // An empty one holds nothing to lose: a run killed before it made
            // its lock file, or after it removed it, leaves it so, and on NFS
            // so does a run whose lock file a sweep held open as it went.
            ::unlinkat(directory.get(), native.constData(), AT_REMOVEDIR);
    }
}

AbandonableFolder::AbandonableFolder(const QString& templatePath)
{
    // A sweep may remove the folder while it is still empty, or take its lock
    // file between its creation and its lock and then remove the folder: such
    // a folder is given up for a new one, and what is left of it removed while
    // it is still ours. Once a sweep has removed it, another user may make a
    // folder of its name in a shared temporary folder: everything is made
    // through the folder that was opened and found to be ours, never by its
    // name, and a folder that is not ours is left as it is.
    for (int attempt = 0; attempt < 10; ++attempt) {
        QByteArray folder = QFile::encodeName(templatePath);
        if (::mkdtemp(folder.data()) == nullptr) {
            m_error = QString::fromStdString(std::generic_category().message(errno));
            return;
        }
        const qsizetype slash = folder.lastIndexOf('/');
        const QByteArray parent = slash > 0 ? folder.left(slash) : slash == 0 ? QByteArray("/") : QByteArray(".");
        FileHandle opened(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat info {};
        if (opened.get() < 0 || ::fstat(opened.get(), &info) != 0) {
            const int error = errno;
            // Gone, or a link or a file in its place: a sweep took it, and
            // what holds its name now is not ours to remove.
            if (error == ENOENT || error == ELOOP || error == ENOTDIR)
                continue;
            // Left empty, a folder would be removed by the next sweep while
            // in use; none is handed out without its lock file. Unopened, it
            // can be told only by what its name leads to: one that its owner
            // may not open was made so under the umask, and another user's
            // was planted.
            const bool ours = ::fstatat(AT_FDCWD, folder.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0
                && S_ISDIR(info.st_mode) && madeHere(info.st_uid, parent);
            if (!ours && error == EACCES)
                continue;
            if (ours)
                ::rmdir(folder.constData());
            m_error = error == EACCES ? QStringLiteral("it is not readable by its owner")
                                      : QString::fromStdString(std::generic_category().message(error));
            return;
        }
        // Planted where a sweep removed ours: left as it is.
        if (!madeHere(info.st_uid, parent))
            continue;
        // Modes that a set-group-ID parent, default ACLs or the file system
        // give the folder are no sign of a plant. Where the mode can be set,
        // others are kept out before anything goes in.
        if ((info.st_mode & 077) != 0)
            ::fchmod(opened.get(), info.st_mode & 07700);
        const auto removeIfNamed = [&] {
            if (stillNamed(AT_FDCWD, folder, opened.get()))
                ::rmdir(folder.constData());
        };
        const int lock = ::openat(opened.get(), kFolderLock, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (lock < 0) {
            const int error = errno;
            removeIfNamed();
            if (error == ENOENT)
                continue;
            m_error = error == EACCES && (info.st_mode & (S_IWUSR | S_IXUSR)) != (S_IWUSR | S_IXUSR)
                ? QStringLiteral("it is not writable by its owner")
                : QString::fromStdString(std::generic_category().message(error));
            return;
        }
        const char* lockName = kFolderLock;
        bool kept = false;
        if (markInUse(lock)) {
            // On NFS a lock file that a sweep removed while it was open here
            // keeps its link count: only its name tells that it is still ours.
            kept = stillNamed(opened.get(), kFolderLock, lock);
        } else if (errno != EWOULDBLOCK) {
            // A file system that keeps no locks still gives a folder. Its
            // lock file stays under another name: unmarked, no sweep ever
            // takes the folder for abandoned, and not empty, none removes it
            // as left empty either.
            kept = ::renameat(opened.get(), kFolderLock, opened.get(), kUnmarked) == 0;
            if (kept)
                lockName = kUnmarked;
        }
        // The folder is used by its name: it is kept only while that name
        // still leads to the folder made here.
        if (kept && stillNamed(AT_FDCWD, folder, opened.get())) {
            if (lockName == kFolderLock)
                m_lock = lock;
            else
                ::close(lock);
            m_folder = opened.release();
            m_path = QFile::decodeName(folder);
            return;
        }
        closeAndRemove(opened.get(), lockName, lock);
        removeIfNamed();
    }
    m_error = QStringLiteral("it was removed while it was being made");
}

AbandonableFolder::~AbandonableFolder()
{
    if (m_folder < 0)
        return;
    // Emptied through the folder made, never through whatever its name may
    // lead to by now.
    const QByteArray path = QFile::encodeName(m_path);
    if (m_lock >= 0) {
        removeMarkedFolder(m_folder, m_lock, AT_FDCWD, path);
    } else {
        removeContents(m_folder, nullptr);
        if (stillNamed(AT_FDCWD, path, m_folder))
            ::rmdir(path.constData());
    }
    ::close(m_folder);
}

FileHandle::~FileHandle()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

namespace {

[[noreturn]] void throwReadError(const QString& path, int error)
{
    throw std::system_error(error, std::generic_category(), "Cannot read \"" + fileNameOf(path).toStdString() + "\"");
}

} // namespace

FileHandle openRegularFile(const QString& path, int64_t* size)
{
    FileHandle file(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0)
        throwReadError(path, errno);
    struct stat info {};
    if (::fstat(file.get(), &info) != 0)
        throwReadError(path, errno);
    if (S_ISDIR(info.st_mode))
        throwReadError(path, EISDIR);
    if (!S_ISREG(info.st_mode))
        throw CompressionError::ioFailure(QStringLiteral("Not a regular file: ") + fileNameOf(path));
    if (size)
        *size = static_cast<int64_t>(info.st_size);
    return file;
}

QByteArray readWholeFile(const QString& path)
{
    int64_t size = 0;
    const FileHandle file = openRegularFile(path, &size);
    QByteArray data;
    if (size > 0)
        data.reserve(static_cast<qsizetype>(size));
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throwReadError(path, errno);
        }
        if (n == 0)
            break;
        data.append(buffer, static_cast<qsizetype>(n));
    }
    return data;
}

} // namespace vantro
