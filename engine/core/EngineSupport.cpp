#include "EngineSupport.h"

#include "CompressionError.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QUuid>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <limits>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

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

bool markInUse(int fd)
{
    int result;
    do
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    while (result != 0 && errno == EINTR);
    return result == 0;
}

FileHandle lockUnused(int folder, const QByteArray& name, bool (*accept)(const struct stat&))
{
    struct stat seen {};
    // What `accept` refuses as it stands is neither opened nor locked: a
    // search for a free name passes many files of the user's.
    if (::fstatat(folder, name.constData(), &seen, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(seen.st_mode)
        || seen.st_uid != ::geteuid() || (accept && !accept(seen)))
        return FileHandle(-1);
    // A lock needs an open file, whatever access its mode gives the owner.
    const int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    int fd = ::openat(folder, name.constData(), O_RDONLY | flags);
    if (fd < 0 && errno == EACCES)
        fd = ::openat(folder, name.constData(), O_WRONLY | flags);
    FileHandle file(fd);
    struct stat opened {};
    if (file.get() < 0 || ::fstat(file.get(), &opened) != 0 || opened.st_dev != seen.st_dev
        || opened.st_ino != seen.st_ino || !markInUse(file.get()))
        return FileHandle(-1);
    // Its process may have removed it, or another sweep taken it, between the
    // look and the lock: only a file that still bears the name is abandoned.
    struct stat now {};
    if (::fstat(file.get(), &opened) != 0 || opened.st_nlink == 0
        || ::fstatat(folder, name.constData(), &now, AT_SYMLINK_NOFOLLOW) != 0 || now.st_dev != opened.st_dev
        || now.st_ino != opened.st_ino || (accept && !accept(opened)))
        return FileHandle(-1);
    return file;
}

namespace {

// The lock file that marks an AbandonableFolder as ours.
constexpr char kFolderLock[] = ".vantro-lock";

} // namespace

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
            if (const FileHandle file = lockUnused(directory.get(), native); file.get() >= 0)
                ::unlinkat(directory.get(), native.constData(), 0);
            continue;
        }
        const FileHandle inside(
            ::openat(directory.get(), native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat info {};
        if (inside.get() < 0 || ::fstat(inside.get(), &info) != 0 || info.st_uid != ::geteuid())
            continue;
        if (const FileHandle lock = lockUnused(inside.get(), kFolderLock); lock.get() >= 0) {
            // Links inside are removed, never followed.
            std::error_code ignored;
            std::filesystem::remove_all(
                std::filesystem::path(QFile::encodeName(QDir(folder).filePath(entry)).toStdString()), ignored);
        }
    }
}

AbandonableFolder::AbandonableFolder(const QString& templatePath)
{
    // A sweep may take the lock file between its creation and its lock, and
    // then removes the folder: such a folder is given up for a new one.
    for (int attempt = 0; attempt < 10; ++attempt) {
        QByteArray folder = QFile::encodeName(templatePath);
        if (::mkdtemp(folder.data()) == nullptr) {
            m_error = QString::fromStdString(std::generic_category().message(errno));
            return;
        }
        const QByteArray lockPath = folder + '/' + kFolderLock;
        const int lock = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (lock >= 0 && markInUse(lock)) {
            struct stat info {};
            if (::fstat(lock, &info) == 0 && info.st_nlink > 0) {
                m_lock = lock;
                m_path = QFile::decodeName(folder);
                return;
            }
            ::close(lock);
            continue;
        }
        const bool taken = lock >= 0 && errno == EWOULDBLOCK;
        if (lock >= 0)
            ::close(lock);
        if (taken)
            continue;
        // A file system that keeps no locks (or takes no file) still gives a
        // folder; without its lock file no sweep ever takes it for abandoned.
        ::unlink(lockPath.constData());
        m_path = QFile::decodeName(folder);
        return;
    }
    m_error = QStringLiteral("it was removed while it was being made");
}

AbandonableFolder::~AbandonableFolder()
{
    // The folder goes before its lock, so no sweep sees it unlocked.
    if (!m_path.isEmpty()) {
        std::error_code ignored;
        std::filesystem::remove_all(std::filesystem::path(QFile::encodeName(m_path).toStdString()), ignored);
    }
    if (m_lock >= 0)
        ::close(m_lock);
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
