#include "EngineSupport.h"

#include "CompressionError.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QUuid>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <limits>
#include <mutex>
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

    const QDir directory(folder);
    const QStringList names
        = directory.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& entry : names) {
        const QRegularExpressionMatch match = name.match(entry);
        bool ok = false;
        const qint64 pid = match.hasMatch() ? match.captured(1).toLongLong(&ok) : 0;
        if (!ok || pid <= 0 || pid > std::numeric_limits<pid_t>::max() || pid == ::getpid())
            continue;
        const QByteArray path = QFile::encodeName(directory.filePath(entry));
        struct stat info {};
        if (::lstat(path.constData(), &info) != 0 || info.st_uid != ::geteuid()
            || !(kind == AbandonedEntry::folder ? S_ISDIR(info.st_mode) : S_ISREG(info.st_mode)))
            continue;
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)
            continue;
        if (kind == AbandonedEntry::file) {
            ::unlink(path.constData());
        } else {
            // Links inside are removed, never followed.
            std::error_code ignored;
            std::filesystem::remove_all(std::filesystem::path(path.toStdString()), ignored);
        }
    }
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
