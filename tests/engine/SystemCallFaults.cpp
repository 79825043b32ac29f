#include "SystemCallFaults.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vantro::test::SystemCallFaults {

Locks locks = Locks::local;
bool writesNeedPermission = false;
std::function<bool(int fd)> beforeLock;
std::function<bool(const char* path)> beforeRemoval;
std::function<void(const char* folder)> afterMakingFolder;
int removalsBeforeKill = 0;

Reset::~Reset()
{
    locks = Locks::local;
    writesNeedPermission = false;
    beforeLock = nullptr;
    beforeRemoval = nullptr;
    afterMakingFolder = nullptr;
    removalsBeforeKill = 0;
}

namespace {

// Runs a hook that is cleared once it returns true, and cleared while it runs.
template <typename... Args>
void runOnce(std::function<bool(Args...)>& hook, Args... args)
{
    if (!hook)
        return;
    std::function<bool(Args...)> running = std::move(hook);
    hook = nullptr;
    if (!running(args...))
        hook = std::move(running);
}

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
    if (counted) {
        runOnce(beforeRemoval, path);
        countRemoval();
    }
    if ((flags & AT_REMOVEDIR) && holdsRemovedFileIn(folder, path)) {
        errno = ENOTEMPTY;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_unlinkat, folder, path, flags));
}

int openEntry(int folder, const char* path, int flags, va_list arguments)
{
    const bool creates = (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE;
    const mode_t mode = creates ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
    struct stat info {};
    if (writesNeedPermission && ((flags & O_ACCMODE) != O_RDONLY || (flags & O_TRUNC))
        && (flags & (O_CREAT | O_EXCL)) != (O_CREAT | O_EXCL)
        && ::fstatat(folder, path, &info, (flags & O_NOFOLLOW) ? AT_SYMLINK_NOFOLLOW : 0) == 0 && S_ISREG(info.st_mode)
        && info.st_uid == ::geteuid() && !(info.st_mode & S_IWUSR)) {
        errno = EACCES;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_openat, folder, path, flags, mode));
}

int statOpen(int fd, struct stat* info)
{
    const int result = static_cast<int>(::syscall(SYS_fstat, fd, info));
    if (result == 0 && locks == Locks::nfs && info->st_nlink == 0 && S_ISREG(info->st_mode)
        && linkTarget("/proc/self/fd/" + QByteArray::number(fd)).endsWith(" (deleted)"))
        info->st_nlink = 1;
    return result;
}

} // namespace

} // namespace vantro::test::SystemCallFaults

using namespace vantro::test::SystemCallFaults;

extern "C" int flock(int fd, int operation) noexcept
{
    if (!(operation & LOCK_UN)) {
        runOnce(beforeLock, fd);
        if (locks == Locks::none) {
            errno = ENOLCK;
            return -1;
        }
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

extern "C" char* mkdtemp(char* pattern) noexcept
{
    static const auto real = reinterpret_cast<char* (*)(char*)>(::dlsym(RTLD_NEXT, "mkdtemp"));
    char* const made = real(pattern);
    if (made && afterMakingFolder)
        afterMakingFolder(made);
    return made;
}

extern "C" int open(const char* path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const int fd = openEntry(AT_FDCWD, path, flags, arguments);
    va_end(arguments);
    return fd;
}

extern "C" int openat(int folder, const char* path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const int fd = openEntry(folder, path, flags, arguments);
    va_end(arguments);
    return fd;
}

extern "C" int fstat(int fd, struct stat* info) noexcept
{
    return statOpen(fd, info);
}
