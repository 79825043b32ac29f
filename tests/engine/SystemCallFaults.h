#pragma once

// This test program defines flock, unlink, unlinkat, rmdir, remove, mkdtemp,
// open, openat and fstat itself, in front of the C library's: the engine is
// linked into it, so its calls come here. They do what the system does unless
// told otherwise below, and forked children inherit what is set.

#include <functional>

namespace vantro::test::SystemCallFaults {

enum class Locks {
    // As the kernel's own file systems.
    local,
    // As NFS, which keeps flock as a whole-file POSIX lock: an exclusive lock
    // needs a descriptor open for writing, a shared one a descriptor open for
    // reading (EBADF otherwise). A file removed while this process holds it
    // open stays in its folder (as ".nfs…") until closed, so the folder cannot
    // be removed meanwhile (ENOTEMPTY), and keeps its link count.
    nfs,
    // Every lock not waited for is refused with EWOULDBLOCK, as a file system
    // may answer whether or not another holds it.
    busy,
    // The file system keeps no locks: every one is refused with ENOLCK.
    none,
};
extern Locks locks;

// Opens for writing of a regular file that its owner may not write are
// refused (EACCES), as they are for every user but root.
extern bool writesNeedPermission;

// Called with the descriptor before a lock is taken on it; once it returns
// true it is cleared. While it runs, locks are taken without it.
extern std::function<bool(int fd)> beforeLock;

// Called with the path given before a file or folder is removed; once it
// returns true it is cleared. While it runs, removals happen without it.
extern std::function<bool(const char* path)> beforeRemoval;

// Called with the new folder's path when mkdtemp has made it.
extern std::function<void(const char* folder)> afterMakingFolder;

// When positive, the process kills itself (SIGKILL) at that removal of a file
// or folder, counting this one, before it happens.
extern int removalsBeforeKill;

// Puts everything back as the system does it when it goes.
struct Reset {
    Reset() = default;
    ~Reset();
    Reset(const Reset&) = delete;
    Reset& operator=(const Reset&) = delete;
};

} // namespace vantro::test::SystemCallFaults
