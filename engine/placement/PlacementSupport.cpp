#include "PlacementSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace vantro {

QString errorText(int error)
{
    return QString::fromStdString(std::generic_category().message(error));
}

QByteArray nativePath(const QString& path)
{
    return QFile::encodeName(path);
}

QString joinPath(const QString& folder, const QString& name)
{
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

void step(OutputPlacement::Step point)
{
    if (OutputPlacement::stepHook)
        OutputPlacement::stepHook(point);
}

NameParts splitName(const QString& fileName)
{
    const qsizetype dot = fileName.lastIndexOf(u'.');
    if (dot <= 0)
        return {fileName, QString()};
    return {fileName.left(dot), fileName.mid(dot + 1)};
}

QString stemWithin(QString stem, qsizetype room)
{
    while (!stem.isEmpty() && nativePath(stem).size() > room) {
        stem.chop(1);
        if (!stem.isEmpty() && stem.back().isHighSurrogate())
            stem.chop(1);
    }
    return stem;
}

qsizetype nameMaxOf(const QString& folder)
{
    const long max = ::pathconf(nativePath(folder).constData(), _PC_NAME_MAX);
    return max > 0 ? static_cast<qsizetype>(max) : 255;
}

int openExclusive(const QByteArray& path, mode_t mode)
{
    int fd;
    do
        fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

int writeAll(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return written < 0 ? errno : EIO;
        data += written;
        left -= written;
    }
    return 0;
}

bool unsupported(int error)
{
    return error == ENOTSUP || error == EOPNOTSUPP || error == ENOSYS;
}

bool refused(OutputPlacement::Refusal what)
{
    return OutputPlacement::simulatedRefusal >= what;
}

bool featureRefused(int error)
{
    return error == EINVAL || error == EPERM || unsupported(error);
}

int renameWithoutReplacing(const QByteArray& from, const QByteArray& to)
{
    if (refused(OutputPlacement::Refusal::noReplaceRenames))
        errno = EINVAL;
    else if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    // A file system that cannot rename without replacing can still refuse
    // to link over an existing entry.
    if (!featureRefused(errno))
        return errno;
    if (refused(OutputPlacement::Refusal::hardLinks))
        return EPERM;
    if (::link(from.constData(), to.constData()) != 0)
        return errno;
    step(OutputPlacement::Step::linked);
    if (::unlink(from.constData()) != 0) {
        const int error = errno;
        ::unlink(to.constData());
        return error;
    }
    return 0;
}

int makePrivatePath(const QString& folder)
{
    const QString clean = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    for (qsizetype end = clean.indexOf(u'/', 1);; end = clean.indexOf(u'/', end + 1)) {
        const QByteArray part = nativePath(end < 0 ? clean : clean.left(end));
        if (::mkdir(part.constData(), 0700) != 0 && errno != EEXIST)
            return errno;
        if (end < 0)
            break;
    }
    struct stat info {};
    if (::stat(nativePath(clean).constData(), &info) != 0)
        return errno;
    return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
}

} // namespace vantro
