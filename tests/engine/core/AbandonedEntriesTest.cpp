#include "TestImages.h"

#include "EngineSupport.h"
#include "JPEGEncoder.h"
#include "OptimiserTool.h"
#include "OutputPlacement.h"
#include "PNGEncoder.h"
#include "SystemCallFaults.h"

#include <QDir>
#include <QFileInfo>

#include <csignal>
#include <string>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vantro;
using namespace vantro::test;
using Locks = SystemCallFaults::Locks;

namespace {

// What runs leave in the temporary folder and beside the user's files, when
// they are killed, on NFS, and where every lock is refused.
class AbandonedEntriesTest : public TemporaryFolderTest {
protected:
    AbandonedEntriesTest() { QDir(dir.path()).mkdir("tmp"); }
    ~AbandonedEntriesTest() override { OutputPlacement::simulatedRefusal = OutputPlacement::Refusal::none; }

    QString temporary() const { return dir.filePath("tmp"); }

    // The names in a folder, hidden ones included, as one line.
    static std::string entries(const QString& folder)
    {
        return QDir(folder)
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name)
            .join(", ")
            .toStdString();
    }

    // Fills a private folder with 30 copies of an image, as a tool run has them.
    static void fill(const AbandonableFolder& folder)
    {
        for (int i = 0; i < 30 && folder.isValid(); ++i)
            writeFile(folder.path() + QStringLiteral("/copy-%1.jpg").arg(i), "a copy of a photo");
    }

    // Runs `body` in a forked child; true when a SIGKILL ended it.
    static bool killedInChild(const std::function<void()>& body)
    {
        const pid_t child = ::fork();
        if (child == 0) {
            body();
            ::_exit(0);
        }
        int status = 0;
        return child > 0 && ::waitpid(child, &status, 0) == child && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    }

    static void sweep()
    {
        EXPECT_FALSE(killedInChild([] { OptimiserTool::removeAbandonedFolders(); }));
    }

    const EnvironmentOverride m_temporary{"TMPDIR", dir.filePath("tmp")};
    const SystemCallFaults::Reset m_reset;
};

// A private folder is removed, at its run's end or by a sweep after a kill,
// with its lock file last: a kill midway leaves it marked, and the next sweep
// removes the rest. On NFS the sweep opens lock files for writing, and no
// lock file is removed while open, which would keep its folder there.
TEST_F(AbandonedEntriesTest, AFolderIsRemovedWholeOrLeftToTheNextSweep)
{
    for (const Locks locks : {Locks::local, Locks::nfs}) {
        SystemCallFaults::locks = locks;
        SCOPED_TRACE(locks == Locks::nfs ? "NFS" : "local");
        // Killed before the folder holds its lock file, it is left empty.
        EXPECT_TRUE(killedInChild([&] {
            SystemCallFaults::afterMakingFolder = [](const char*) { ::raise(SIGKILL); };
            const AbandonableFolder folder(temporary() + "/vantro-1-XXXXXX");
        }));
        sweep();
        EXPECT_EQ(entries(temporary()), "");

        // 30 files, then the lock file, then the folder; 0 kills none.
        for (int removal = 0; removal <= 32; ++removal) {
            SCOPED_TRACE(testing::Message() << (locks == Locks::nfs ? "NFS, " : "") << "killed at removal " << removal);
            EXPECT_EQ(killedInChild([&] {
                          const AbandonableFolder folder(temporary() + "/vantro-1-XXXXXX");
                          fill(folder);
                          SystemCallFaults::removalsBeforeKill = removal;
                      }),
                      removal > 0);
            sweep();
            EXPECT_EQ(entries(temporary()), "");

            EXPECT_FALSE(killedInChild([&] {
                const AbandonableFolder folder(temporary() + "/vantro-1-XXXXXX");
                fill(folder);
                ::_exit(0);
            }));
            EXPECT_TRUE(entries(temporary()).starts_with("vantro-1-"));
            EXPECT_EQ(killedInChild([&] {
                          SystemCallFaults::removalsBeforeKill = removal;
                          OptimiserTool::removeAbandonedFolders();
                      }),
                      removal > 0);
            sweep();
            EXPECT_EQ(entries(temporary()), "");
        }
    }
}

// A sweep takes a run's new folder between the creation of its lock file and
// its lock, and the run locks it while the sweep removes it: the sweep
// removes the lock file while it still holds the lock, so the run gives that
// folder up and works in a new one.
TEST_F(AbandonedEntriesTest, ARunWhoseNewFolderIsSweptWorksInAnother)
{
    for (const Locks locks : {Locks::local, Locks::nfs}) {
        SystemCallFaults::locks = locks;
        SCOPED_TRACE(locks == Locks::nfs ? "NFS" : "local");
        int between[2];
        int go[2];
        ASSERT_EQ(::pipe(between), 0);
        ASSERT_EQ(::pipe(go), 0);
        pid_t sweeper = -1;
        SystemCallFaults::beforeLock = [&](int fd) {
            if (!QFileInfo("/proc/self/fd/" + QString::number(fd)).symLinkTarget().endsWith("/.vantro-lock"))
                return false;
            sweeper = ::fork();
            if (sweeper == 0) {
                // Stops the sweep just before it removes the lock file.
                SystemCallFaults::beforeRemoval = [&](const char* path) {
                    char byte = 0;
                    return QByteArray(path).endsWith(".vantro-lock") && ::write(between[1], "b", 1) == 1
                        && ::read(go[0], &byte, 1) == 1;
                };
                OptimiserTool::removeAbandonedFolders();
                ::_exit(0);
            }
            char byte = 0;
            EXPECT_EQ(::read(between[0], &byte, 1), 1);
            return true;
        };
        {
            const AbandonableFolder folder(temporary() + "/vantro-1-XXXXXX");
            EXPECT_EQ(::write(go[1], "g", 1), 1);
            ASSERT_GT(sweeper, 0);
            ASSERT_EQ(::waitpid(sweeper, nullptr, 0), sweeper);
            ASSERT_TRUE(folder.isValid());
            EXPECT_TRUE(QFileInfo::exists(folder.path() + "/.vantro-lock"));
            fill(folder);
            EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files).size(), 30);
        }
        EXPECT_EQ(entries(temporary()), "");
        for (const int end : {between[0], between[1], go[0], go[1]})
            ::close(end);
    }
}

// A sweep may remove a run's new folder while it is still empty, and in a
// shared temporary folder another user may then make one of its name: a run
// puts neither its lock file nor the tool's files into a folder it did not
// make, and leaves that folder as it is; it works in one of its own. (One
// that another user cannot open either is in the table below.)
TEST_F(AbandonedEntriesTest, ARunWritesIntoNoFolderButItsOwn)
{
    const QByteArray elsewhere = QFile::encodeName(dir.filePath("elsewhere"));
    const QByteArray probe = QFile::encodeName(dir.filePath("probe"));
    ASSERT_EQ(::mkdir(elsewhere.constData(), 0700), 0);
    // Only root can give a folder to another user; elsewhere that case is left out.
    const bool givesFolders = ::mkdir(probe.constData(), 0700) == 0 && ::chown(probe.constData(), 65534, 65534) == 0;
    const std::vector<std::pair<const char*, std::function<bool(const char*)>>> planters = {
        {"another user's folder",
         [](const char* path) { return ::mkdir(path, 0700) == 0 && ::chown(path, 65534, 65534) == 0; }},
        {"a link to a folder", [&](const char* path) { return ::symlink(elsewhere.constData(), path) == 0; }},
    };
    for (const auto& [what, plant] : planters) {
        if (QByteArray(what).startsWith("another") && !givesFolders)
            continue;
        SCOPED_TRACE(what);
        QString planted;
        SystemCallFaults::afterMakingFolder = [&](const char* made) {
            SystemCallFaults::afterMakingFolder = nullptr;
            planted = QFile::decodeName(made);
            EXPECT_TRUE(::rmdir(made) == 0 && plant(made));
        };
        {
            const AbandonableFolder folder(temporary() + "/vantro-1-XXXXXX");
            EXPECT_NE(folder.path().toStdString(), planted.toStdString());
            fill(folder);
            EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 31);
        }
        EXPECT_EQ(entries(planted), "");
        EXPECT_EQ(entries(QFile::decodeName(elsewhere)), "");
        EXPECT_EQ(entries(temporary()), QFileInfo(planted).fileName().toStdString());
        if (!QFile::remove(planted))
            QDir().rmdir(planted);
    }
}

// Serves `source` at `target` through bindfs with its options, in this
// process's own mount namespace, for as long as this process lives.
bool serveThroughBindfs(const QString& source, const QString& target, const char* options)
{
    const QByteArray from = QFile::encodeName(source);
    const QByteArray to = QFile::encodeName(target);
    if (::access("/dev/fuse", R_OK | W_OK) != 0 || ::access("/usr/bin/bindfs", X_OK) != 0 || ::unshare(CLONE_NEWNS) != 0
        || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return false;
    const pid_t server = ::fork();
    if (server == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::close_range(3, ~0U, 0);
        ::execl("/usr/bin/bindfs", "bindfs", "-f", "-o", options, from.constData(), to.constData(), nullptr);
        ::_exit(127);
    }
    struct stat below {};
    struct stat served {};
    for (int wait = 0; server > 0 && wait < 500; ++wait) {
        if (::stat(from.constData(), &below) == 0 && ::stat(to.constData(), &served) == 0
            && below.st_dev != served.st_dev)
            return true;
        if (::waitpid(server, nullptr, WNOHANG) == server)
            return false;
        ::usleep(10000);
    }
    return false;
}

// Where a run's folder is made decides its mode and the owner it shows: a
// set-group-ID parent, a file system of fixed modes or of one owner for all,
// the umask. Wherever the system makes it, a PNG and a lossless JPEG are
// done and nothing is left; a folder of ours that others may enter is closed
// before use. One that the umask keeps its owner out of is removed, and the
// failure says why; another user's folder that the run cannot even open is
// left as it is, and the run works in one of its own.
TEST_F(AbandonedEntriesTest, ToolFoldersWorkWhereverTheSystemMakesThem)
{
    const QByteArray png = vipsEncode(photoLike(48, 32), ".png");
    const QByteArray jpeg = vipsEncode(photoLike(48, 32), ".jpg[Q=90]");
    // Another user's, as the tests' own user is root.
    const auto asNobody
        = [this] { return ::chmod(QFile::encodeName(dir.path()).constData(), 0711) == 0 && ::seteuid(65534) == 0; };
    const auto plantRootsFolder = [](const char* made) {
        SystemCallFaults::afterMakingFolder = nullptr;
        EXPECT_TRUE(::seteuid(0) == 0 && ::rmdir(made) == 0 && ::mkdir(made, 0700) == 0 && ::seteuid(65534) == 0);
    };
    // The temporary folder served through bindfs from a folder beside it.
    const auto served = [](const QString& tmp, const char* options) {
        return QDir().mkpath(tmp + "-below") && QDir().mkpath(tmp) && serveThroughBindfs(tmp + "-below", tmp, options);
    };
    struct Row {
        const char* what;
        // Makes the temporary folder `tmp` (not there yet); false where this machine cannot.
        std::function<bool(const QString& tmp)> setUp;
        std::string expected;
    };
    const std::vector<Row> rows{
        {"in a set-group-ID folder",
         [](const QString& tmp) {
             return QDir().mkdir(tmp) && ::chmod(QFile::encodeName(tmp).constData(), 02770) == 0;
         },
         "2700, done, done, left: "},
        {"on a file system of mode 0755 for all",
         [=](const QString& tmp) { return served(tmp, "perms=0755,chmod-ignore"); }, "755, done, done, left: "},
        {"on a file system of mode 0777 for all",
         [=](const QString& tmp) { return served(tmp, "perms=0777,chmod-ignore"); }, "777, done, done, left: "},
        {"on a file system that shows another owner for all",
         [=](const QString& tmp) { return served(tmp, "force-user=65534,force-group=65534"); },
         "700, done, done, left: "},
        {"a folder of ours that others may enter",
         [](const QString& tmp) {
             SystemCallFaults::afterMakingFolder = [](const char* made) {
                 SystemCallFaults::afterMakingFolder = nullptr;
                 EXPECT_EQ(::chmod(made, 0755), 0);
             };
             return QDir().mkdir(tmp);
         },
         "700, done, done, left: "},
        {"under umask 0277",
         [&](const QString& tmp) {
             ::umask(0277);
             return QDir().mkdir(tmp) && ::chmod(QFile::encodeName(tmp).constData(), 01777) == 0 && asNobody();
         },
         "it is not writable by its owner, staging: it is not writable by its owner, staging: it is not writable by "
         "its owner, left: "},
        {"another user's folder that the run cannot open",
         [&](const QString& tmp) {
             SystemCallFaults::afterMakingFolder = plantRootsFolder;
             return QDir().mkdir(tmp) && ::chmod(QFile::encodeName(tmp).constData(), 01777) == 0 && asNobody();
         },
         "700, done, done, left: planted"},
    };
    int row = 0;
    QStringList skipped;
    for (const auto& [what, setUp, expected] : rows) {
        SCOPED_TRACE(what);
        const QString tmp = dir.filePath(QStringLiteral("tmp%1").arg(++row));
        const std::optional<QByteArray> outcome = outputOfChild([&]() -> std::optional<QByteArray> {
            ::umask(022);
            const EnvironmentOverride temporary("TMPDIR", tmp);
            if (!setUp(tmp))
                return std::nullopt;
            QByteArray report;
            QString planted;
            {
                const AbandonableFolder folder(tmp + "/vantro-1-XXXXXX");
                struct stat info {};
                if (!folder.isValid())
                    report += folder.errorString().toUtf8();
                else if (::stat(QFile::encodeName(folder.path()).constData(), &info) == 0)
                    report += QByteArray::number(info.st_mode & 07777, 8);
                fill(folder);
            }
            for (const auto* tool : {&PNGEncoder::losslessTool(), &JPEGEncoder::losslessTool()}) {
                try {
                    report += tool->runOnData(tool == &PNGEncoder::losslessTool() ? png : jpeg, "staging: ").isEmpty()
                        ? ", empty"
                        : ", done";
                } catch (const CompressionError& e) {
                    report += ", " + e.message().toUtf8();
                }
            }
            const QString left = QString::fromStdString(entries(tmp));
            report += ", left: " + (left.isEmpty() || left.startsWith(".") ? left : QStringLiteral("planted")).toUtf8();
            return report;
        });
        if (!outcome)
            skipped += what;
        else
            EXPECT_EQ(outcome->toStdString(), expected);
    }
    if (!skipped.isEmpty())
        GTEST_SKIP() << "this machine cannot make a folder " << skipped.join(", ").toStdString();
}

// On NFS a lock file that a sweep removes while the run that made it holds it
// open keeps its link count. A run whose lock file is removed, or whose
// folder is moved away, between the lock file's creation and its lock tells
// it by their names only, and works in another folder that holds its lock file.
TEST_F(AbandonedEntriesTest, ARunKeepsAFolderOnlyWhileItsNamesLeadToIt)
{
    SystemCallFaults::locks = Locks::nfs;
    const QString moved = dir.filePath("moved");
    const std::vector<std::pair<const char*, std::function<void(const QString& lock)>>> changes = {
        {"lock file removed", [](const QString& lock) { EXPECT_TRUE(QFile::remove(lock)); }},
        {"folder moved", [&](const QString& lock) { EXPECT_TRUE(QDir().rename(QFileInfo(lock).path(), moved)); }},
    };
    for (const auto& [what, change] : changes) {
        SCOPED_TRACE(what);
        QString first;
        SystemCallFaults::beforeLock = [&](int fd) {
            const QString lock = QFileInfo("/proc/self/fd/" + QString::number(fd)).symLinkTarget();
            if (!lock.endsWith("/.vantro-lock"))
                return false;
            first = QFileInfo(lock).path();
            change(lock);
            return true;
        };
        {
            const AbandonableFolder folder(temporary() + "/vantro-1-XXXXXX");
            ASSERT_TRUE(folder.isValid());
            EXPECT_NE(folder.path().toStdString(), first.toStdString());
            EXPECT_TRUE(QFileInfo::exists(folder.path() + "/.vantro-lock"));
        }
        EXPECT_EQ(entries(temporary()), "");
        EXPECT_EQ(entries(moved), "");
    }
}

// A sweep removes a folder left empty, but never one in use: one that it
// removes while it is still empty is given up for a new one, one whose file
// system keeps no locks, and so holds no lock file, is never empty, and one
// that takes no lock file is not used at all.
TEST_F(AbandonedEntriesTest, ASweepRemovesNoFolderInUse)
{
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Every descriptor in use: the folder is made, its lock file is not.
        const rlimit few{64, 64};
        ::setrlimit(RLIMIT_NOFILE, &few);
        while (::dup(0) >= 0) {}
        const AbandonableFolder folder(temporary() + "/vantro-1-XXXXXX");
        ::_exit(!folder.isValid() && folder.errorString() == "Too many open files" ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(entries(temporary()), "");

    for (const Locks locks : {Locks::local, Locks::none}) {
        SystemCallFaults::locks = locks;
        SCOPED_TRACE(locks == Locks::none ? "no locks" : "local");
        SystemCallFaults::afterMakingFolder = [this](const char*) {
            SystemCallFaults::afterMakingFolder = nullptr;
            sweep();
        };
        {
            const AbandonableFolder folder(temporary() + "/vantro-1-XXXXXX");
            ASSERT_TRUE(folder.isValid());
            sweep();
            fill(folder);
            EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files).size(), 30);
        }
        EXPECT_EQ(entries(temporary()), "");
    }
}

// Where every lock is refused as if taken, a run gives up on what it made
// and removes it: no private folder is left, and a placement that stages
// under hidden names leaves none of them beside the file it places.
TEST_F(AbandonedEntriesTest, WhatARunGivesUpItRemoves)
{
    SystemCallFaults::locks = Locks::busy;
    const AbandonableFolder folder(temporary() + "/vantro-1-XXXXXX");
    EXPECT_FALSE(folder.isValid());
    EXPECT_EQ(entries(temporary()), "");

    OutputPlacement::simulatedRefusal = OutputPlacement::Refusal::unnamedFiles;
    ASSERT_TRUE(QDir(dir.path()).mkdir("photos"));
    const QString source = write("photos/photo.jpg", "original");
    EXPECT_EQ(
        OutputPlacement(dir.filePath("backup")).writeOutput("new", source, OutputMode::copyAlongside(), {}, 3, "_"),
        dir.filePath("photos/photo-optim.jpg"));
    EXPECT_EQ(entries(dir.filePath("photos")), "photo-optim.jpg, photo.jpg");
}

} // namespace
