#include "PlacementSupport.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

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

namespace {

// 0 where the path leads to a folder, else why it does not.
int folderError(const QByteArray& path)
{
    struct stat info {};
    return ::stat(path.constData(), &info) != 0 ? errno : S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
}

} // namespace

int makePath(const QString& folder, mode_t mode)
{
    const QByteArray native = nativePath(folder);
    int error = folderError(native);
    if (error != ENOENT)
        return error;
    // Back to the deepest part that exists (the top always does), then on
    // from there, making each part.
    qsizetype existing = native.size();
    while ((existing = native.lastIndexOf('/', existing - 1)) > 0) {
        error = folderError(native.left(existing));
        if (error != ENOENT)
            break;
    }
    if (existing > 0 && error != 0)
        return error;
    for (qsizetype end = native.indexOf('/', std::max<qsizetype>(existing, 0) + 1);;
         end = native.indexOf('/', end + 1)) {
        const QByteArray part = end < 0 ? native : native.left(end);
        error = ::mkdir(part.constData(), mode) == 0 ? 0 : errno;
        // Another job may make it meanwhile; a file or a link in its place fails.
        if (error == EEXIST)
            error = folderError(part);
        if (error != 0 || end < 0)
            return error;
    }
}

QString homeFolder()
{
    const QByteArray home = qgetenv("HOME");
    if (!home.isEmpty())
        return QFile::decodeName(home);
    const long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(hint > 0 ? static_cast<size_t>(hint) : 1024);
    passwd entry{};
    passwd* found = nullptr;
    while (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE)
        buffer.resize(buffer.size() * 2);
    return found && found->pw_dir ? QFile::decodeName(found->pw_dir) : QString();
}

} // namespace vantro
