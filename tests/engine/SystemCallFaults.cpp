#include "SystemCallFaults.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vantro::test::SystemCallFaults {

Locks locks = Locks::local;
std::function<bool(int fd)> beforeLock;
int removalsBeforeKill = 0;

Reset::~Reset()
{
    locks = Locks::local;
    beforeLock = nullptr;
    removalsBeforeKill = 0;
}

namespace {

void countRemoval()
{
    if (removalsBeforeKill > 0 && --removalsBeforeKill == 0)
        ::raise(SIGKILL);
}

QByteArray linkTarget(const QByteArray& link)
{
    char buffer[4096];
    const ssize_t length = ::readlink(link.constData(), buffer, sizeof buffer);
    return length > 0 ? QByteArray(buffer, static_cast<qsizetype>(length)) : QByteArray();
}

// Whether NFS would keep the folder `path` (of `folder`, a descriptor or
// AT_FDCWD) for a file removed from it that this process still has open.
bool holdsRemovedFileIn(int folder, const char* path)
{
    if (locks != Locks::nfs)
        return false;
    QByteArray absolute(path);
    if (!absolute.startsWith('/')) {
        const QByteArray base = folder == AT_FDCWD ? QFile::encodeName(QDir::currentPath())
                                                   : linkTarget("/proc/self/fd/" + QByteArray::number(folder));
        absolute = base + '/' + absolute;
    }
    const QByteArray prefix = QFile::encodeName(QDir::cleanPath(QFile::decodeName(absolute))) + '/';
    const QStringList open = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System);
    for (const QString& fd : open) {
        const QByteArray target = linkTarget("/proc/self/fd/" + fd.toLatin1());
        if (target.startsWith(prefix) && target.endsWith(" (deleted)"))
            return true;
    }
    return false;
}

int removeEntry(int folder, const char* path, int flags, bool counted = true)
{
    if (counted)
        countRemoval();
    if ((flags & AT_REMOVEDIR) && holdsRemovedFileIn(folder, path)) {
        errno = ENOTEMPTY;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_unlinkat, folder, path, flags));
}

} // namespace

} // namespace vantro::test::SystemCallFaults

using namespace vantro::test::SystemCallFaults;

extern "C" int flock(int fd, int operation) noexcept
{
    if (beforeLock && !(operation & LOCK_UN)) {
        std::function<bool(int)> hook = std::move(beforeLock);
        beforeLock = nullptr;
        if (!hook(fd))
            beforeLock = std::move(hook);
    }
    if (!(operation & LOCK_UN)) {
        const int access = ::fcntl(fd, F_GETFL) & O_ACCMODE;
        if (locks == Locks::nfs
            && (((operation & LOCK_EX) && access == O_RDONLY) || ((operation & LOCK_SH) && access == O_WRONLY))) {
            errno = EBADF;
            return -1;
        }
        if (locks == Locks::busy && (operation & LOCK_NB)) {
            errno = EWOULDBLOCK;
            return -1;
        }
    }
    return static_cast<int>(::syscall(SYS_flock, fd, operation));
}

extern "C" int unlink(const char* path) noexcept
{
    return removeEntry(AT_FDCWD, path, 0);
}

extern "C" int unlinkat(int folder, const char* path, int flags) noexcept
{
    return removeEntry(folder, path, flags);
}

extern "C" int rmdir(const char* path) noexcept
{
    return removeEntry(AT_FDCWD, path, AT_REMOVEDIR);
}

extern "C" int remove(const char* path) noexcept
{
    const int result = removeEntry(AT_FDCWD, path, 0);
    if (result == 0 || errno != EISDIR)
        return result;
    // One call of the program's, so one removal.
    return removeEntry(AT_FDCWD, path, AT_REMOVEDIR, false);
}
