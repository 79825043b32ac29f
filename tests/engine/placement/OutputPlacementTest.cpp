#include "TestImages.h"

#include "EngineSupport.h"
#include "JobCancellation.h"
#include "OutputPlacement.h"
#include "SystemCallFaults.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QProcess>

#include <barrier>
#include <csignal>
#include <cstring>
#include <latch>
#include <linux/capability.h>
#include <memory>
#include <optional>
#include <sched.h>
#include <set>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

using namespace vantro;
using namespace vantro::test;

namespace {

// What a file manager restores from a Trash's information file: its path as
// GLib unescapes it, or what is wrong with the file.
std::string restoredPath(const QString& infoFile)
{
    QFile file(infoFile);
    if (!file.open(QIODevice::ReadOnly))
        return "no information file " + infoFile.toStdString();
    const QByteArray info = file.readAll();
    const QList<QByteArray> lines = info.split('\n');
    const QRegularExpression date("^DeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d$");
    if (lines.size() != 4 || lines[0] != "[Trash Info]" || !lines[1].startsWith("Path=")
        || !date.match(QString::fromLatin1(lines[2])).hasMatch() || !lines[3].isEmpty())
        return "not whole: " + info.toStdString();
    const std::unique_ptr<char, decltype(&g_free)> original(g_uri_unescape_string(lines[1].constData() + 5, nullptr),
                                                            &g_free);
    return original ? std::string(original.get()) : "not unescaped: " + info.toStdString();
}

QByteArray contentsOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : "missing " + path.toUtf8();
}

// What moving the files to the Trash gives: "trashed" or the error's text.
QByteArray trashOutcome(const QStringList& files)
{
    try {
        OutputPlacement::recycleViaWorkspace(files);
    } catch (const TrashError& e) {
        return e.what();
    }
    return "trashed";
}

class OutputPlacementTest : public TemporaryFolderTest {
protected:
    ~OutputPlacementTest() override
    {
        OutputPlacement::stepHook = nullptr;
        OutputPlacement::simulatedRefusal = OutputPlacement::Refusal::none;
    }

    QString path(const QString& name) const { return dir.filePath(name); }

    QString write(const QString& name, const QByteArray& bytes, mode_t mode = 0644) const
    {
        QDir().mkpath(QFileInfo(path(name)).path());
        const QString file = TemporaryFolderTest::write(name, bytes);
        ::chmod(QFile::encodeName(file).constData(), mode);
        return file;
    }

    // Every entry of a folder, hidden ones (staging files) and broken links included.
    static QStringList entries(const QString& folder, QDir::Filters hidden = QDir::Hidden | QDir::System)
    {
        return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | hidden, QDir::Name);
    }

    static mode_t modeOf(const QString& file)
    {
        struct stat info {};
        ::stat(QFile::encodeName(file).constData(), &info);
        return info.st_mode & 07777;
    }

    QString place(const QByteArray& bytes, const QString& source, const OutputMode& mode = OutputMode::copyAlongside(),
                  const RenamingMode& renaming = RenamingMode::none(), int64_t digits = 3) const
    {
        return placement.writeOutput(bytes, source, mode, renaming, digits, "_");
    }
    QString convert(const QByteArray& bytes, const QString& source, const OutputMode& mode, ImageFormat format) const
    {
        return placement.writeConversionOutput(bytes, source, mode, format, {}, 3, "_");
    }

    // Moves the files to the Trash in a child whose home is "home" and whose
    // data folder is `dataHome`.
    std::string trashInChild(const QString& dataHome, const QStringList& files) const
    {
        return outputOfChild([&]() -> std::optional<QByteArray> {
                   const EnvironmentOverride home("HOME", path("home"));
                   const EnvironmentOverride data("XDG_DATA_HOME", dataHome);
                   return trashOutcome(files);
               })
            .value_or("no child")
            .toStdString();
    }

    // Moves "work/NAME", holding its name, to the Trash in "home/data", where
    // it must be as `trashedAs` and restorable to where it was.
    void expectTrashedAs(const QString& name, const QString& trashedAs) const
    {
        const QString file = write("work/" + name, name.toUtf8());
        ASSERT_EQ(trashInChild(path("home/data"), {file}), "trashed");
        EXPECT_FALSE(QFileInfo::exists(file));
        const QString trash = path("home/data/Trash/");
        EXPECT_EQ(contentsOf(trash + "files/" + trashedAs), name.toUtf8());
        EXPECT_EQ(restoredPath(trash + "info/" + trashedAs + ".trashinfo"), QFile::encodeName(file).toStdString());
    }

    OutputPlacement placement{dir.filePath(QStringLiteral("backup-root"))};
};

void expectError(const std::function<void()>& call, CompressionError::Kind kind, const QString& message)
{
    const CompressionError error = errorOf(call);
    EXPECT_EQ(error.kind(), kind);
    EXPECT_EQ(error.message(), message);
}

} // namespace

TEST_F(OutputPlacementTest, NewNamesSkipEveryTakenEntry)
{
    const QString source = write("photo.jpg", "original");
    EXPECT_EQ(place("one", source), path("photo-optim.jpg"));
    // A folder and a broken symbolic link hold their names too.
    ASSERT_TRUE(QDir(dir.path()).mkdir("photo-optim-1.jpg"));
    ASSERT_EQ(::symlink("nowhere", QFile::encodeName(path("photo-optim-2.jpg")).constData()), 0);
    EXPECT_EQ(place("two", source), path("photo-optim-3.jpg"));
    EXPECT_EQ(readFile(path("photo-optim.jpg")), "one");
    EXPECT_EQ(readFile(path("photo-optim-3.jpg")), "two");
    // With every candidate taken nothing is written; the engine's own limit is the one honoured.
    const QStringList before = entries(dir.path());
    const OutputPlacement limited(placement.backupRoot(), 4);
    expectError([&] { limited.writeOutput("new", source, OutputMode::copyAlongside(), {}, 3, "_"); },
                CompressionError::Kind::ioFailure, "Could not find a free output filename after 4 attempts");
    EXPECT_EQ(entries(dir.path()), before);

    const RenamingMode prefixed = RenamingMode::prefixSuffix("x_", "");
    EXPECT_EQ(place("p", source, OutputMode::copyAlongside(), prefixed), path("x_photo.jpg"));
    EXPECT_EQ(place("q", source, OutputMode::copyAlongside(), prefixed), path("x_photo-1.jpg"));
    // Sequence numbers advance instead of taking suffixes.
    const RenamingMode trip = RenamingMode::sequence("Trip", 999);
    EXPECT_EQ(place("a", source, OutputMode::copyAlongside(), trip), path("Trip_999.jpg"));
    EXPECT_EQ(place("b", source, OutputMode::copyAlongside(), trip), path("Trip_1000.jpg"));
    // No extension still gives base, dot, extension.
    EXPECT_EQ(place("raw", write("scan", "s")), path("scan-optim."));
}

// Runs on one source at once: every copy takes its own name, and each in-place
// backup too, so the original survives whichever run backs it up.
TEST_F(OutputPlacementTest, ParallelRunsClaimDistinctNamesAndKeepTheOriginal)
{
    const QByteArray original(65536, 'o');
    const QString source = write("photo.jpg", original);
    constexpr int kThreads = 8;
    const auto bytesOf = [](int t) { return QByteArray(32768, static_cast<char>('a' + t)); };
    const auto runAll = [&](const OutputMode& mode) {
        std::vector<QString> outputs(kThreads);
        std::latch start(kThreads);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                start.arrive_and_wait();
                outputs[static_cast<size_t>(t)] = place(bytesOf(t), source, mode);
            });
        }
        for (auto& thread : threads)
            thread.join();
        return outputs;
    };

    const std::vector<QString> copies = runAll(OutputMode::copyAlongside());
    EXPECT_EQ(std::set<QString>(copies.begin(), copies.end()).size(), size_t{kThreads});
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(readFile(copies[static_cast<size_t>(t)]), bytesOf(t));
    EXPECT_EQ(entries(dir.path()).size(), kThreads + 1); // no staging files left

    runAll(OutputMode::inPlace(true));
    std::set<QByteArray> versions{original};
    for (int t = 0; t < kThreads; ++t)
        versions.insert(bytesOf(t));
    const QString backupFolder = placement.backupRoot() + dir.path();
    std::set<QByteArray> backups;
    for (const QString& name : entries(backupFolder))
        backups.insert(readFile(backupFolder + "/" + name));
    QStringList names{"photo.jpg"};
    for (int n = 1; n < kThreads; ++n)
        names << QStringLiteral("photo.jpg.~%1~").arg(n);
    names.sort();
    EXPECT_EQ(entries(backupFolder), names);
    // The first backup claimed its name before any run replaced the source.
    EXPECT_EQ(readFile(backupFolder + "/photo.jpg"), original);
    EXPECT_TRUE(std::includes(versions.begin(), versions.end(), backups.begin(), backups.end()));
    EXPECT_TRUE(versions.count(readFile(source)));
    EXPECT_EQ(entries(dir.path()).size(), kThreads + 2);
}

// Counts down the steps of a placement in a forked child and kills it at zero,
// telling the parent which step that was.
int stepsBeforeKill = 0;
auto* const killedAt = static_cast<OutputPlacement::Step*>(
    ::mmap(nullptr, sizeof(OutputPlacement::Step), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
void killAtStep(OutputPlacement::Step point)
{
    if (--stepsBeforeKill == 0) {
        *killedAt = point;
        ::raise(SIGKILL);
    }
}

using Refusal = OutputPlacement::Refusal;

struct KillCase {
    const char* name;
    bool inPlace;
    Refusal refusal;
    SystemCallFaults::Locks locks = SystemCallFaults::Locks::local;
    // A read-only photo gives its mode to the staging files of its replacement
    // and backup, which a sweep may then only open for reading.
    bool readOnly = false;
};

void PrintTo(const KillCase& kase, std::ostream* out)
{
    *out << kase.name;
}

class PlacementKillTest : public OutputPlacementTest, public ::testing::WithParamInterface<KillCase> {};

// Whatever step a kill lands on, the final name holds nothing or the whole new
// file (or, where only an exclusive create can claim it, is empty), and the
// source and its backup hold the whole original. The next placement in the
// same folders removes whatever staging file the killed one left.
TEST_P(PlacementKillTest, AKillAtAnyStepLeavesNoPartialFile)
{
    const KillCase kase = GetParam();
    const SystemCallFaults::Reset reset;
    SystemCallFaults::locks = kase.locks;
    SystemCallFaults::writesNeedPermission = true;
    const QByteArray original(200000, 'o');
    const QByteArray compressed(150000, 'c');
    const OutputMode mode = kase.inPlace ? OutputMode::inPlace(true) : OutputMode::copyAlongside();
    for (int k = 1;; ++k) {
        const QString folder = path(QString::number(k));
        const QString source = write(QString::number(k) + "/photo.jpg", original, kase.readOnly ? 0444 : 0644);
        const OutputPlacement killed(path(QStringLiteral("backup-%1").arg(k)));
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            OutputPlacement::simulatedRefusal = kase.refusal;
            stepsBeforeKill = k;
            OutputPlacement::stepHook = killAtStep;
            try {
                killed.writeOutput(compressed, source, mode, {}, 3, "_");
            } catch (...) {
                ::_exit(1);
            }
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        const bool wasKilled = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
        ASSERT_TRUE(wasKilled || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << "step " << k;

        SCOPED_TRACE(k);
        // Only a name just created exclusively, before the rename over it, is empty.
        const bool mayBeEmpty
            = wasKilled && kase.refusal == Refusal::hardLinks && *killedAt == OutputPlacement::Step::reserved;
        const QStringList visible = entries(folder, {});
        EXPECT_TRUE(visible == QStringList({"photo.jpg"})
                    || (!kase.inPlace && visible == QStringList({"photo-optim.jpg", "photo.jpg"})))
            << visible.join(", ").toStdString();
        const QString output = kase.inPlace ? source : folder + "/photo-optim.jpg";
        const QByteArray now = QFileInfo::exists(output) ? readFile(output) : compressed;
        EXPECT_TRUE(now == compressed || (kase.inPlace && now == original) || (mayBeEmpty && now.isEmpty()))
            << now.size() << " bytes";
        const QString backup = killed.backupRoot() + folder + "/photo.jpg";
        if (kase.inPlace && now == compressed)
            EXPECT_EQ(readFile(backup), original);
        else
            EXPECT_EQ(readFile(source), original);
        if (QFileInfo::exists(backup)) {
            const QByteArray backedUp = readFile(backup);
            EXPECT_TRUE(backedUp == original || (mayBeEmpty && backedUp.isEmpty())) << backedUp.size() << " bytes";
        }
        // A file without a name leaves nothing, but for a replacement killed
        // between taking its hidden name and the rename.
        const QString backups = killed.backupRoot() + folder;
        if (kase.refusal == Refusal::none && wasKilled) {
            const bool window = kase.inPlace && *killedAt == OutputPlacement::Step::linked;
            EXPECT_EQ(entries(folder).size() - visible.size(), window ? 1 : 0);
            EXPECT_EQ(entries(backups), entries(backups, {}));
        }
        if (!wasKilled) {
            EXPECT_GE(k, 5);
            EXPECT_EQ(entries(folder), visible) << "a finished placement left its staging file";
            break;
        }
        // The next run in these folders, by another process, leaves no
        // staging file and no empty name: it takes over a name the killed
        // run reserved.
        killed.writeOutput(compressed, source, mode, {}, 3, "_");
        EXPECT_EQ(entries(folder), entries(folder, {}));
        EXPECT_EQ(entries(backups), entries(backups, {}));
        for (const QString& left : entries(folder))
            EXPECT_FALSE(readFile(folder + '/' + left).isEmpty()) << left.toStdString();
        for (const QString& left : entries(backups))
            EXPECT_FALSE(readFile(backups + '/' + left).isEmpty()) << left.toStdString();
        if (mayBeEmpty) {
            EXPECT_EQ(kase.inPlace ? entries(backups) : entries(folder),
                      kase.inPlace ? QStringList{"photo.jpg"} : QStringList({"photo-optim.jpg", "photo.jpg"}));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    , PlacementKillTest,
    ::testing::Values(KillCase{"Copy", false, Refusal::none},
                      KillCase{"CopyStagedByName", false, Refusal::unnamedFiles},
                      KillCase{"CopyClaimedByLink", false, Refusal::noReplaceRenames},
                      KillCase{"CopyClaimedByExclusiveCreate", false, Refusal::hardLinks},
                      KillCase{"InPlaceWithBackup", true, Refusal::none},
                      KillCase{"InPlaceWithBackupStagedByName", true, Refusal::unnamedFiles},
                      KillCase{"InPlaceWithBackupClaimedByLink", true, Refusal::noReplaceRenames},
                      KillCase{"InPlaceWithBackupClaimedByExclusiveCreate", true, Refusal::hardLinks},
                      // NFS stages under hidden names, claims by links and locks
                      // only what is open for writing.
                      KillCase{"CopyOnNFS", false, Refusal::noReplaceRenames, SystemCallFaults::Locks::nfs},
                      KillCase{"InPlaceWithBackupOnNFS", true, Refusal::noReplaceRenames, SystemCallFaults::Locks::nfs},
                      KillCase{"InPlaceWithBackupOfAReadOnlyPhotoOnNFS", true, Refusal::noReplaceRenames,
                               SystemCallFaults::Locks::nfs, true},
                      KillCase{"CopyClaimedByExclusiveCreateWithNFSLocks", false, Refusal::hardLinks,
                               SystemCallFaults::Locks::nfs}),
    [](const ::testing::TestParamInfo<KillCase>& test) { return std::string(test.param.name); });

QString intruder;
void intrudeBeforeClaim(OutputPlacement::Step point)
{
    if (point == OutputPlacement::Step::claiming && !QFileInfo::exists(intruder))
        writeFile(intruder, "intruder");
}

// Another program creating the chosen name between staging and claiming keeps
// its file, as it does one created in the Trash between the look and the move.
TEST_F(OutputPlacementTest, ANameTakenJustBeforeTheClaimIsNeverReplaced)
{
    OutputPlacement::stepHook = intrudeBeforeClaim;
    const std::pair<QString, Refusal> claims[]{{"unnamed", Refusal::none},
                                               {"rename", Refusal::unnamedFiles},
                                               {"link", Refusal::noReplaceRenames},
                                               {"create", Refusal::hardLinks}};
    for (const auto& [claim, refusal] : claims) {
        OutputPlacement::simulatedRefusal = refusal;
        const QString source = write(claim + "/photo.jpg", "original");
        intruder = path(claim + "/photo-optim.jpg");
        EXPECT_EQ(place("new", source), path(claim + "/photo-optim-1.jpg"));
        EXPECT_EQ(readFile(intruder), "intruder");
        EXPECT_EQ(readFile(path(claim + "/photo-optim-1.jpg")), "new");
        EXPECT_EQ(entries(path(claim)), QStringList({"photo-optim-1.jpg", "photo-optim.jpg", "photo.jpg"}));

        const QString trashed = write(claim + "/x.png", "trashed");
        const QString trash = path(claim + "-data/Trash/");
        intruder = trash + "files/x.png";
        ASSERT_EQ(trashInChild(path(claim + "-data"), {trashed}), "trashed");
        EXPECT_EQ(readFile(intruder), "intruder");
        EXPECT_EQ(readFile(trash + "files/x.2.png"), "trashed");
        EXPECT_EQ(restoredPath(trash + "info/x.2.png.trashinfo"), QFile::encodeName(trashed).toStdString());
        EXPECT_EQ(entries(trash + "info"), QStringList{"x.2.png.trashinfo"});
    }
}

// A job told to stop during shutdown places nothing, and removes what it staged.
TEST_F(OutputPlacementTest, ACancelledJobPlacesNothing)
{
    const QString source = write("photo.jpg", "original");
    const JobCancellation::Flag flag = JobCancellation::makeFlag();
    flag->store(true);
    const JobCancellation::Scope scope(flag);
    for (const OutputMode& mode : {OutputMode::copyAlongside(), OutputMode::inPlace(false), OutputMode::inPlace(true)})
        EXPECT_THROW(place("new", source, mode), JobCancelled);
    EXPECT_EQ(readFile(source), "original");
    EXPECT_EQ(entries(dir.path()), QStringList({"backup-root", "photo.jpg"}));
    EXPECT_TRUE(entries(placement.backupRoot() + dir.path()).isEmpty());
}

TEST_F(OutputPlacementTest, CustomFoldersAndConversions)
{
    const QString source = write("a.jpg", "png bytes");
    const QString nested = path("out/a/b");
    EXPECT_EQ(place("x", source, OutputMode::customFolder(nested)), nested + "/a-optim.jpg");
    const QString underFile = path("a.jpg/sub");
    expectError([&] { place("z", source, OutputMode::customFolder(underFile)); }, CompressionError::Kind::ioFailure,
                "Failed to create destination folder " + underFile + ": Not a directory");
    // A ".." after a link leads up from the link's target even where the
    // parts after it are still to be made, as mkdir -p makes them: two links,
    // so that only the kernel's reading of the last ".." gives the folder.
    ASSERT_TRUE(QDir(dir.path()).mkpath("top/real/sub") && QDir(dir.path()).mkpath("top/other/deep"));
    ASSERT_EQ(::symlink("real/sub", QFile::encodeName(path("top/link")).constData()), 0);
    ASSERT_EQ(::symlink("../../other/deep", QFile::encodeName(path("top/real/sub/back")).constData()), 0);
    EXPECT_EQ(place("y", source, OutputMode::customFolder(path("top/link/../newa/newb/../out"))),
              QFileInfo(path("top/real")).canonicalFilePath() + "/newa/out/a-optim.jpg");
    EXPECT_EQ(place("y", source, OutputMode::customFolder(path("top/link/../newa/../sub/back/../out"))),
              QFileInfo(path("top/other")).canonicalFilePath() + "/out/a-optim.jpg");
    EXPECT_FALSE(QFileInfo::exists(path("top/newa")) || QFileInfo::exists(path("top/sub")));
    // Through a link that leads nowhere, one that leads in a loop, or a file.
    ASSERT_EQ(::symlink("missing", QFile::encodeName(path("top/dangling")).constData()), 0);
    ASSERT_EQ(::symlink("loop", QFile::encodeName(path("top/loop")).constData()), 0);
    for (const auto& [given, reason] : {std::pair{path("top/dangling/../out2"), "No such file or directory"},
                                        std::pair{path("top/loop/../out2"), "Too many levels of symbolic links"},
                                        std::pair{path("a.jpg/../out2"), "Not a directory"}})
        expectError([&] { place("z", source, OutputMode::customFolder(given)); }, CompressionError::Kind::ioFailure,
                    "Failed to create destination folder " + given + ": " + reason);
    EXPECT_FALSE(QFileInfo::exists(path("out2")) || QFileInfo::exists(path("top/out2")));

    // In place, a conversion stands beside the source under its stem and backs nothing up.
    EXPECT_EQ(convert("w1", source, OutputMode::inPlace(true), ImageFormat::webp), path("a.webp"));
    EXPECT_EQ(convert("w2", source, OutputMode::inPlace(true), ImageFormat::webp), path("a-1.webp"));
    EXPECT_EQ(readFile(path("a-1.webp")), "w2");
    EXPECT_FALSE(QFileInfo::exists(placement.backupRoot()));
    EXPECT_EQ(placement.writeConversionOutput("j", source, OutputMode::copyAlongside(), ImageFormat::png,
                                              RenamingMode::sequence("Trip", 1), 3, "-"),
              path("Trip-001.png"));

    // Outputs that would land on the source are refused.
    expectError([&] { place("x", source, OutputMode::copyAlongside(), RenamingMode::customBase("a")); },
                CompressionError::Kind::invalidConfiguration,
                "Renamed output path collides with the original file at a.jpg; refusing to overwrite it");
    expectError([&] { convert("x", source, OutputMode::inPlace(true), ImageFormat::jpeg); },
                CompressionError::Kind::ioFailure,
                "Conversion output path collides with the original file at a.jpg; refusing to overwrite it");
    EXPECT_EQ(readFile(source), "png bytes");
    EXPECT_EQ(entries(dir.path()), QStringList({"Trip-001.png", "a-1.webp", "a.jpg", "a.webp", "out", "top"}));
}

// Through a symbolic link, the file it points to is the one replaced and backed up; the link stays.
TEST_F(OutputPlacementTest, InPlaceKeepsModeAndOwnerAndNeverReplacesABackup)
{
    const QString source = write("real/photo.jpg", "original", 0640);
    const QString link = path("link.jpg");
    ASSERT_EQ(::symlink(QFile::encodeName(source).constData(), QFile::encodeName(link).constData()), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(QFile::encodeName(source).constData(), 1234, 2345), 0);
    }
    EXPECT_EQ(place("first", link, OutputMode::inPlace(true)), link);
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), source);
    EXPECT_EQ(readFile(source), "first");
    EXPECT_EQ(modeOf(source), 0640u);
    struct stat info {};
    ::stat(QFile::encodeName(source).constData(), &info);
    EXPECT_EQ(info.st_uid, root ? 1234u : ::geteuid());
    EXPECT_EQ(info.st_gid, root ? 2345u : ::getegid());
    const QString backupFolder = placement.backupRoot() + QFileInfo(source).canonicalPath();
    EXPECT_EQ(readFile(backupFolder + "/photo.jpg"), "original");
    EXPECT_EQ(modeOf(backupFolder + "/photo.jpg"), 0640u);

    // A second backup never replaces the first: the original survives.
    place("second", link, OutputMode::inPlace(true));
    EXPECT_EQ(readFile(backupFolder + "/photo.jpg"), "original");
    EXPECT_EQ(readFile(backupFolder + "/photo.jpg.~1~"), "first");

    // With no free backup name left, the source is not replaced.
    const OutputPlacement limited(placement.backupRoot(), 2);
    expectError([&] { limited.writeOutput("third", link, OutputMode::inPlace(true), {}, 3, "_"); },
                CompressionError::Kind::ioFailure, "Failed to finalize backup: no free backup name after 2 attempts");
    EXPECT_EQ(readFile(source), "second");
    EXPECT_EQ(entries(backupFolder), QStringList({"photo.jpg", "photo.jpg.~1~"}));
    EXPECT_EQ(entries(dir.path()), QStringList({"backup-root", "link.jpg", "real"}));
    EXPECT_EQ(entries(path("real")), QStringList({"photo.jpg"}));
}

// One name must never hold another file's backup: photo.jpg is backed up
// twice, then photo-1.jpg, whose backup must not be photo.jpg's.
TEST_F(OutputPlacementTest, EveryBackupIsFoundUnderItsOwnFilesName)
{
    const QString photo = write("photos/photo.jpg", "photo original");
    const QString other = write("photos/photo-1.jpg", "other original");
    place("photo at 60", photo, OutputMode::inPlace(true));
    place("photo at 40", photo, OutputMode::inPlace(true));
    place("other at 60", other, OutputMode::inPlace(true));
    const QString backups = placement.backupRoot() + path("photos");
    EXPECT_EQ(readFile(backups + "/photo.jpg"), "photo original");
    EXPECT_EQ(readFile(backups + "/photo.jpg.~1~"), "photo at 60");
    EXPECT_EQ(readFile(backups + "/photo-1.jpg"), "other original");
    EXPECT_EQ(entries(backups), QStringList({"photo-1.jpg", "photo.jpg", "photo.jpg.~1~"}));

    // The folders show the paths and names of the user's images: owner-only.
    for (QString folder = backups;; folder = QFileInfo(folder).path()) {
        EXPECT_EQ(modeOf(folder), 0700u) << folder.toStdString();
        if (folder == placement.backupRoot())
            break;
    }

    // A tree an earlier version left open to others is closed at its root.
    ASSERT_EQ(::chmod(QFile::encodeName(placement.backupRoot()).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(backups).constData(), 0755), 0);
    place("other at 40", other, OutputMode::inPlace(true));
    EXPECT_EQ(modeOf(placement.backupRoot()), 0700u);
}

// A staging file is removed only when no process holds its lock, whatever
// process id its name bears (one of a living process here: a process in
// another PID namespace may have made it); never a name that only looks like
// one, a folder or a link.
TEST_F(OutputPlacementTest, APlacementRemovesOnlyStagingFilesThatNoOneHolds)
{
    const QString uuid = QStringLiteral("0f8fad5b-d9cb-469f-a165-70867728950");
    const QString name = QStringLiteral(".vantro-tmp-%1-").arg(::getpid()) + uuid;
    const QString source = write("photos/photo.jpg", "original");
    write("photos/" + name + "a", "left by a killed run");
    write("photos/" + name + "b", "in use");
    const FileHandle held(::open(QFile::encodeName(path("photos/" + name + "b")).constData(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(::flock(held.get(), LOCK_EX), 0);
    write("photos/" + name + "c-x", "not ours");
    ASSERT_TRUE(QDir(path("photos")).mkdir(name + "d"));
    ASSERT_EQ(::symlink("photo.jpg", QFile::encodeName(path("photos/" + name + "e")).constData()), 0);
    place("new", source);
    QStringList kept{"photo-optim.jpg", "photo.jpg", name + "b", name + "c-x", name + "d", name + "e"};
    kept.sort();
    EXPECT_EQ(entries(path("photos")), kept);
    EXPECT_EQ(readFile(source), "original");
}

int reservedSignal = -1;
void stopAtReservation(OutputPlacement::Step point)
{
    if (point == OutputPlacement::Step::reserved) {
        (void)!::write(reservedSignal, "r", 1);
        ::pause();
    }
}

// Where a name is reserved empty before the file is renamed over it, the
// reservation of a living run holds the name; once the run is killed, the
// next placement that wants the name takes it over, and only that one. An
// empty file that is not such a reservation, or a link to one, is never taken.
TEST_F(OutputPlacementTest, OnlyTheReservationOfAKilledRunIsTakenOver)
{
    const QString photo = write("photos/photo.jpg", "photo");
    const QString alias = write("photos/alias.jpg", "alias");
    const QString empty = write("photos/empty.jpg", "empty");
    write("photos/empty-optim.jpg", "");
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        OutputPlacement::simulatedRefusal = OutputPlacement::Refusal::hardLinks;
        reservedSignal = pipeEnds[1];
        OutputPlacement::stepHook = stopAtReservation;
        place("killed", photo);
        ::_exit(0);
    }
    ::close(pipeEnds[1]);
    char reserved = 0;
    ASSERT_EQ(::read(pipeEnds[0], &reserved, 1), 1);
    ::close(pipeEnds[0]);

    EXPECT_EQ(place("beside the living", photo), path("photos/photo-optim-1.jpg"));
    ::kill(child, SIGKILL);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    ASSERT_EQ(::symlink("photo-optim.jpg", QFile::encodeName(path("photos/alias-optim.jpg")).constData()), 0);
    EXPECT_EQ(place("through a link", alias), path("photos/alias-optim-1.jpg"));
    EXPECT_EQ(place("beside the user's", empty), path("photos/empty-optim-1.jpg"));
    EXPECT_EQ(readFile(path("photos/photo-optim.jpg")), "");

    // Two placements want the dead reservation at once: the one that locks it
    // second finds it taken over and takes the next free name.
    const SystemCallFaults::Reset reset;
    QString meanwhile;
    SystemCallFaults::beforeLock = [&](int fd) {
        if (!QFileInfo("/proc/self/fd/" + QString::number(fd)).symLinkTarget().endsWith("/photos/photo-optim.jpg"))
            return false;
        meanwhile = place("taken meanwhile", photo);
        return true;
    };
    EXPECT_EQ(place("after the kill", photo), path("photos/photo-optim-2.jpg"));
    EXPECT_EQ(meanwhile, path("photos/photo-optim.jpg"));
    EXPECT_EQ(readFile(path("photos/photo-optim.jpg")), "taken meanwhile");
    EXPECT_EQ(readFile(path("photos/photo-optim-2.jpg")), "after the kill");
    EXPECT_EQ(readFile(path("photos/empty-optim.jpg")), "");
    EXPECT_TRUE(QFileInfo(path("photos/alias-optim.jpg")).isSymLink());
    EXPECT_EQ(entries(path("photos"), {}),
              QStringList({"alias-optim-1.jpg", "alias-optim.jpg", "alias.jpg", "empty-optim-1.jpg", "empty-optim.jpg",
                           "empty.jpg", "photo-optim-1.jpg", "photo-optim-2.jpg", "photo-optim.jpg", "photo.jpg"}));
}

// Another run's first placement in the folder sweeps it just after a staging
// file is made and before it is locked. On NFS the file removed while open
// here keeps its link count; the run gives that name up and places its file.
TEST_F(OutputPlacementTest, AStagingFileSweptBeforeItsLockIsGivenUpOnNFS)
{
    const SystemCallFaults::Reset reset;
    SystemCallFaults::locks = SystemCallFaults::Locks::nfs;
    OutputPlacement::simulatedRefusal = Refusal::noReplaceRenames;
    const QString photo = write("photos/photo.jpg", "photo");
    const QString other = write("photos/other.jpg", "other");
    int go[2];
    int done[2];
    ASSERT_EQ(::pipe(go), 0);
    ASSERT_EQ(::pipe(done), 0);
    // Forked before this process sweeps the folder, so the other's sweep is its first.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        char byte = 0;
        ::_exit(::read(go[0], &byte, 1) == 1 && !place("the other's", other).isEmpty() && ::write(done[1], "d", 1) == 1
                    ? 0
                    : 1);
    }
    SystemCallFaults::beforeLock = [&](int fd) {
        if (!QFileInfo("/proc/self/fd/" + QString::number(fd)).symLinkTarget().contains("/.vantro-tmp-"))
            return false;
        char byte = 0;
        EXPECT_EQ(::write(go[1], "g", 1), 1);
        EXPECT_EQ(::read(done[0], &byte, 1), 1);
        return true;
    };
    EXPECT_EQ(place("mine", photo), path("photos/photo-optim.jpg"));
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0);
    for (const int end : {go[0], go[1], done[0], done[1]})
        ::close(end);
    EXPECT_EQ(readFile(path("photos/photo-optim.jpg")), "mine");
    EXPECT_EQ(readFile(path("photos/other-optim.jpg")), "the other's");
    EXPECT_EQ(entries(path("photos")), QStringList({"other-optim.jpg", "other.jpg", "photo-optim.jpg", "photo.jpg"}));
}

// A name as long as the folder takes is backed up every time: its numbered
// backups shorten the stem at a character, and two such names that start
// alike keep their backups apart.
TEST_F(OutputPlacementTest, ANameAsLongAsAllowedIsBackedUpEveryTime)
{
    const QString stem = QString(125, QChar(0x17E)); // 250 bytes of "ž"
    const QString first = write(stem + "a.jpg", "first original");
    const QString second = write(stem + "b.jpg", "second original");
    ASSERT_EQ(QFile::encodeName(fileNameOf(first)).size(), 255);
    for (int round = 1; round <= 3; ++round) {
        place("first at " + QByteArray::number(round), first, OutputMode::inPlace(true));
        place("second at " + QByteArray::number(round), second, OutputMode::inPlace(true));
    }
    const QString backups = placement.backupRoot() + dir.path();
    EXPECT_EQ(readFile(backups + '/' + fileNameOf(first)), "first original");
    EXPECT_EQ(readFile(backups + '/' + fileNameOf(second)), "second original");
    QMap<QByteArray, QString> numbered;
    for (const QString& name : entries(backups)) {
        EXPECT_LE(QFile::encodeName(name).size(), 255);
        EXPECT_EQ(QFile::decodeName(QFile::encodeName(name)), name) << "cut inside a character";
        if (name.endsWith('~'))
            numbered.insert(readFile(backups + '/' + name), name.right(4));
    }
    const QMap<QByteArray, QString> expected{
        {"first at 1", ".~1~"}, {"first at 2", ".~2~"}, {"second at 1", ".~1~"}, {"second at 2", ".~2~"}};
    EXPECT_EQ(numbered, expected);
}

enum class Refuser { readOnlyMount, noWritePermission };

// Gives this process (a child: the only one changed) a mount namespace of its
// own, so that what it mounts goes with it; false where the machine refuses.
bool ownMountNamespace()
{
    return ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

// In a child process (the only one changed), makes writes into the folders
// fail for root too: read-only bind mounts in a mount namespace of its own,
// or, with the folders at mode 0555, the loss of root's power to write anywhere.
bool refuseWritesIn(Refuser how, const QStringList& folders)
{
    if (how == Refuser::readOnlyMount) {
        if (!ownMountNamespace())
            return false;
        for (const QString& folder : folders) {
            const QByteArray native = QFile::encodeName(folder);
            if (::mount(native.constData(), native.constData(), nullptr, MS_BIND, nullptr) != 0
                || ::mount(nullptr, native.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
                return false;
        }
        return true;
    }
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[2]{};
    if (::syscall(SYS_capget, &header, caps) != 0)
        return false;
    for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
        caps[0].effective &= ~(1u << cap);
    return ::syscall(SYS_capset, &header, caps) == 0;
}

void PrintTo(Refuser how, std::ostream* out)
{
    *out << (how == Refuser::readOnlyMount ? "read-only mount" : "no write permission");
}

class RefusingFolderTest : public OutputPlacementTest, public ::testing::WithParamInterface<Refuser> {
protected:
    // What `call` throws in a child whose writes into the folders fail;
    // nothing when this machine makes no such child.
    std::optional<QString> refused(const QStringList& folders, const std::function<void()>& call) const
    {
        const auto setMode = [&](mode_t mode) {
            for (const QString& folder : folders)
                ::chmod(QFile::encodeName(folder).constData(), mode);
        };
        if (GetParam() == Refuser::noWritePermission)
            setMode(0555);
        const std::optional<QByteArray> message = outputOfChild([&]() -> std::optional<QByteArray> {
            if (!refuseWritesIn(GetParam(), folders))
                return std::nullopt;
            try {
                call();
            } catch (const CompressionError& error) {
                return error.message().toUtf8();
            } catch (...) {
                return "another exception";
            }
            return "no error";
        });
        setMode(0755);
        if (!message)
            return std::nullopt;
        return QString::fromUtf8(*message);
    }
};

// A folder that takes no new file gives the reservation failure, on every
// road to a new name and whatever the file system lacks.
TEST_P(RefusingFolderTest, ClaimingAPlaceGivesTheReservationFailure)
{
    const QString reason = GetParam() == Refuser::readOnlyMount ? "Read-only file system" : "Permission denied";
    const QString photos = path("photos");
    const QString source = write("photos/photo.jpg", "original");
    // A backup folder that exists but takes no file.
    const OutputPlacement refusingBackups(path("backups"));
    const QString backups = refusingBackups.backupRoot() + photos;
    ASSERT_TRUE(QDir().mkpath(backups));

    const struct {
        const char* name;
        std::function<void()> call;
        QString message;
    } rows[]{
        {"copy", [&] { place("new", source); }, "Failed to reserve output path photo-optim.jpg: " + reason},
        {"conversion", [&] { convert("new", source, OutputMode::inPlace(false), ImageFormat::webp); },
         "Failed to reserve output path photo.webp: " + reason},
        {"in place", [&] { place("new", source, OutputMode::inPlace(false)); },
         "Failed to stage compressed output: " + reason},
        {"backup", [&] { refusingBackups.writeOutput("new", source, OutputMode::inPlace(true), {}, 3, "_"); },
         "Failed to stage backup copy: " + reason},
    };
    for (const Refusal refusal : {Refusal::none, Refusal::hardLinks}) {
        OutputPlacement::simulatedRefusal = refusal;
        for (const auto& row : rows) {
            SCOPED_TRACE(row.name);
            const std::optional<QString> message = refused({photos, backups}, row.call);
            if (!message)
                GTEST_SKIP() << "this machine makes no child whose writes into a folder fail";
            EXPECT_EQ(*message, row.message);
        }
    }
    EXPECT_EQ(readFile(source), "original");
    EXPECT_EQ(entries(photos), QStringList({"photo.jpg"}));
    EXPECT_TRUE(entries(backups).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(, RefusingFolderTest, ::testing::Values(Refuser::readOnlyMount, Refuser::noWritePermission),
                         [](const ::testing::TestParamInfo<Refuser>& test) {
                             return test.param == Refuser::readOnlyMount ? "ReadOnlyMount" : "NoWritePermission";
                         });

namespace {
QByteArray attribute(const QString& file, const char* name)
{
    QByteArray value(4096, '\0');
    const ssize_t size = ::getxattr(QFile::encodeName(file).constData(), name, value.data(), 4096);
    value.resize(size < 0 ? 0 : size);
    return value;
}
} // namespace

// A replacement and its backup keep the source's extended attributes and ACL, and
// gain none from the folder.
TEST_F(OutputPlacementTest, InPlaceKeepsExtendedAttributesAndACLs)
{
    const QString source = write("photo.jpg", "original", 0640);
    if (::setxattr(QFile::encodeName(source).constData(), "user.vantro.note", "kept", 4, 0) != 0)
        GTEST_SKIP() << "this file system keeps no extended attributes: " << std::strerror(errno);
    // The group may not read the photo, whatever its mode bits once said.
    ASSERT_EQ(QProcess::execute("setfacl", {"-m", "u:nobody:r--,g::---", source}), 0);
    const QByteArray acl = attribute(source, "system.posix_acl_access");
    ASSERT_FALSE(acl.isEmpty());
    const mode_t mode = modeOf(source);

    place("new", source, OutputMode::inPlace(true));
    EXPECT_EQ(readFile(source), "new");
    for (const QString& file : {source, placement.backupRoot() + source}) {
        SCOPED_TRACE(file.toStdString());
        EXPECT_EQ(attribute(file, "system.posix_acl_access"), acl);
        EXPECT_EQ(attribute(file, "user.vantro.note"), "kept");
        EXPECT_EQ(modeOf(file), mode);
    }

    // A folder whose default ACL would open new files to others does not open a replaced one.
    const QString plain = write("shared/plain.jpg", "original", 0600);
    ASSERT_EQ(QProcess::execute("setfacl", {"-d", "-m", "u:nobody:rw-", path("shared")}), 0);
    place("new", plain, OutputMode::inPlace(false));
    EXPECT_EQ(readFile(plain), "new");
    EXPECT_TRUE(attribute(plain, "system.posix_acl_access").isEmpty());
    EXPECT_EQ(modeOf(plain), 0600u);
}

// New outputs are 0644 at most, narrowed to the source's bits and the umask.
TEST_F(OutputPlacementTest, NewFilesAreNeverMoreOpenThanTheSource)
{
    const mode_t umaskNow = ::umask(0);
    ::umask(umaskNow);
    const QString open = write("open.png", "png", 0664);
    EXPECT_EQ(modeOf(place("o", open)), 0644u & ~umaskNow);
    EXPECT_EQ(modeOf(place("c", open, OutputMode::customFolder(path("out")))), 0644u & ~umaskNow);
    const QString secret = write("secret.png", "png", 0600);
    EXPECT_EQ(modeOf(place("s", secret)), 0600u);
    EXPECT_EQ(modeOf(convert("w", secret, OutputMode::inPlace(false), ImageFormat::webp)), 0600u);
}

TEST_F(OutputPlacementTest, FailedWritesLeaveTheSourceAndNoStrayFiles)
{
    const QString source = write("photo.jpg", QByteArray(4096, 's'));
    const QByteArray big(8192, 'b');
    {
        const FileSizeLimit limit(1024);
        expectError([&] { place(big, source); }, CompressionError::Kind::ioFailure,
                    "Failed to write photo-optim.jpg: File too large");
        // No name of a staging file, which the user never sees.
        expectError([&] { place(big, source, OutputMode::inPlace(false)); }, CompressionError::Kind::ioFailure,
                    "Failed to stage compressed output: File too large");
        expectError([&] { place("small", source, OutputMode::inPlace(true)); }, CompressionError::Kind::ioFailure,
                    "Failed to stage backup copy: File too large");
    }
    // A name longer than the file system allows is no taken name.
    const QString longSource = write(QString(250, u'l') + ".jpg", "long");
    expectError([&] { place("x", longSource); }, CompressionError::Kind::ioFailure,
                "Failed to reserve output path " + QString(250, u'l') + "-optim.jpg: File name too long");
    // The replacement itself fails: the "source" is a folder.
    ASSERT_TRUE(QDir(dir.path()).mkpath("folder.jpg/inside"));
    expectError([&] { place("x", path("folder.jpg"), OutputMode::inPlace(false)); }, CompressionError::Kind::ioFailure,
                "Failed to replace original file: Is a directory");
    // The backup root cannot be made.
    const OutputPlacement blocked(source + "/root");
    expectError([&] { blocked.writeOutput("x", source, OutputMode::inPlace(true), {}, 3, "_"); },
                CompressionError::Kind::ioFailure, "Failed to create backup directory: Not a directory");

    EXPECT_EQ(readFile(source), QByteArray(4096, 's'));
    EXPECT_EQ(entries(dir.path()),
              QStringList({"backup-root", "folder.jpg", longSource.section('/', -1), "photo.jpg"}));
    EXPECT_TRUE(entries(placement.backupRoot() + dir.path()).isEmpty());
}

// Rows: names that a Trash's info file must escape, the first into a home
// whose data folder does not exist yet; a data folder whose ".." comes after
// a link; no Trash at all; a missing file, which stops the files after it.
TEST_F(OutputPlacementTest, RecycleMovesFilesToTheFreedesktopTrashOrLeavesThemInPlace)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir("home"));
    for (const QString& name :
         QStringList{"100% done.png", "p%41.png", "a b#c?.png", "tab\there.png", "new\nline.png", "café.png"}) {
        SCOPED_TRACE(name.toStdString());
        expectTrashedAs(name, name);
    }

    // The Trash is made where the kernel leads, up from the link's target.
    ASSERT_TRUE(QDir(dir.path()).mkpath("real/sub") && QDir(dir.path()).mkdir("top"));
    ASSERT_EQ(::symlink("../real/sub", QFile::encodeName(path("top/link")).constData()), 0);
    const QString linked = write("work/linked.png", "linked");
    ASSERT_EQ(trashInChild(path("top/link/../data"), {linked}), "trashed");
    EXPECT_EQ(readFile(path("real/data/Trash/files/linked.png")), "linked");
    EXPECT_EQ(restoredPath(path("real/data/Trash/info/linked.png.trashinfo")), QFile::encodeName(linked).toStdString());
    EXPECT_EQ(entries(path("top")), QStringList{"link"});

    const QString file = write("work/a.png", "png");
    write("blocker", "");
    EXPECT_EQ(trashInChild(path("blocker/data"), {file}),
              ("\"a.png\" could not be moved to the Trash: Cannot make the Trash folder " + path("blocker/data")
               + "/Trash: Not a directory")
                  .toStdString());
    EXPECT_EQ(trashInChild(path("home/data"), {path("missing.png"), file}),
              "\"missing.png\" could not be moved to the Trash: No such file or directory");
    EXPECT_EQ(readFile(file), "png");
    EXPECT_EQ(entries(path("work")), QStringList{"a.png"});
}

// Rows: HOME unset or empty, where the home is the user database's, never
// "/"; a home that does not exist, which no Trash makes. In a child whose
// root is a folder of the test's, with a user database of its own.
TEST_F(OutputPlacementTest, RecycleTakesTheHomeFromTheUserDatabaseAndNeverMakesOne)
{
    const QString root = path("root");
    write("root/etc/passwd",
          "user:x:" + QByteArray::number(::geteuid()) + ':' + QByteArray::number(::getegid())
              + "::/people/me:/bin/sh\n");
    ASSERT_TRUE(QDir(root).mkpath("people/me"));
    const struct {
        const char* name;
        const char* home;
        std::string outcome;
    } rows[]{
        {"unset", nullptr, "trashed"},
        {"empty", "", "trashed"},
        {"missing", "/gone", "\"missing.png\" could not be moved to the Trash: The home folder /gone does not exist"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const QString name = QString::fromLatin1(row.name) + ".png";
        write("root/work/" + name, row.name);
        const std::optional<QByteArray> outcome = outputOfChild([&]() -> std::optional<QByteArray> {
            if (::chroot(QFile::encodeName(root).constData()) != 0 || ::chdir("/") != 0)
                return std::nullopt;
            if (row.home)
                ::setenv("HOME", row.home, 1);
            else
                ::unsetenv("HOME");
            ::unsetenv("XDG_DATA_HOME");
            return trashOutcome({"/work/" + name});
        });
        if (!outcome)
            GTEST_SKIP() << "this machine gives a test no root of its own";
        EXPECT_EQ(outcome->toStdString(), row.outcome);
        if (row.outcome == "trashed") {
            EXPECT_EQ(restoredPath(root + "/people/me/.local/share/Trash/info/" + name + ".trashinfo"),
                      "/work/" + name.toStdString());
        }
    }
    EXPECT_EQ(entries(root), QStringList({"etc", "people", "work"}));
    EXPECT_EQ(entries(root + "/work"), QStringList{"missing.png"});
}

// Rows: names whose information file's name is as long as a folder takes or
// longer (one cut must fall inside a character); names taken in the Trash by
// a file without information or by information without a file, or a thousand
// times. Each file is restorable under the name it takes, and nothing in the
// Trash is replaced.
TEST_F(OutputPlacementTest, RecycleKeepsEveryFileRestorableAndReplacesNothingInTheTrash)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir("home"));
    const QString trash = path("home/data/Trash/");
    write("home/data/Trash/files/taken.png", "earlier");
    write("home/data/Trash/info/orphan.png.trashinfo", "earlier");
    QStringList earlier;
    for (int k = 1; k <= 1000; ++k) {
        const QString name = k == 1 ? QStringLiteral("x.png") : QStringLiteral("x.%1.png").arg(k);
        if (k % 4 != 0)
            earlier << trash + "files/" + name;
        if (k % 4 != 1)
            earlier << trash + "info/" + name + ".trashinfo";
    }
    for (const QString& taken : earlier)
        writeFile(taken, "earlier");
    const QString e(u'é');
    const QList<std::pair<QString, QString>> rows{
        {QString(235, u'a') + ".png", QString(235, u'a') + ".png"},
        {QString(241, u'b') + ".png", QString(241, u'b') + ".png"},
        {QString(251, u'c') + ".png", QString(241, u'c') + ".png"},
        {e.repeated(125) + "d.png", e.repeated(120) + ".png"},
        {"taken.png", "taken.2.png"},
        {"orphan.png", "orphan.2.png"},
        {"x.png", "x.1001.png"},
    };
    for (const auto& [name, trashedAs] : rows) {
        SCOPED_TRACE(name.toStdString());
        expectTrashedAs(name, trashedAs);
    }
    // A file system that neither renames without replacing nor links.
    OutputPlacement::simulatedRefusal = OutputPlacement::Refusal::hardLinks;
    const QString refused = write("work/taken.png", "refused");
    EXPECT_EQ(trashInChild(path("home/data"), {refused}), "trashed");
    EXPECT_EQ(readFile(trash + "files/taken.3.png"), "refused");
    EXPECT_EQ(readFile(trash + "files/taken.png"), "earlier");
    EXPECT_EQ(readFile(trash + "info/orphan.png.trashinfo"), "earlier");
    EXPECT_EQ(std::count_if(earlier.begin(), earlier.end(),
                            [](const QString& taken) { return contentsOf(taken) == "earlier"; }),
              1500);
}

// A full disk refuses the information file: the file stays where it was, and
// no information file, not even an empty one, is left.
TEST_F(OutputPlacementTest, RecycleOntoAFullDiskLeavesTheFileInPlace)
{
    const QString disk = path("disk");
    ASSERT_TRUE(QDir(dir.path()).mkdir("disk"));
    const std::optional<QByteArray> outcome = outputOfChild([&]() -> std::optional<QByteArray> {
        if (!ownMountNamespace() || ::mount("tmpfs", QFile::encodeName(disk).constData(), "tmpfs", 0, "size=64k") != 0)
            return std::nullopt;
        QDir(disk).mkdir("home");
        writeFile(disk + "/photo.png", "photo");
        const FileHandle filler(::open(QFile::encodeName(disk + "/filler").constData(), O_WRONLY | O_CREAT, 0600));
        const QByteArray block(4096, 'f');
        while (::write(filler.get(), block.constData(), static_cast<size_t>(block.size())) > 0) {}
        const EnvironmentOverride home("HOME", disk + "/home");
        const EnvironmentOverride data("XDG_DATA_HOME", "");
        const QByteArray trashed = trashOutcome({disk + "/photo.png"});
        return trashed + '\n' + contentsOf(disk + "/photo.png") + '\n'
            + entries(disk + "/home/.local/share/Trash/info").join(',').toUtf8();
    });
    if (!outcome)
        GTEST_SKIP() << "this machine mounts no file system for a test";
    EXPECT_EQ(outcome->toStdString(),
              ("\"photo.png\" could not be moved to the Trash: Cannot write " + disk
               + "/home/.local/share/Trash/info/photo.png.trashinfo: No space left on device\nphoto\n")
                  .toStdString());
}

std::barrier<>* trashFolderStart = nullptr;

// A drive's own Trash is made by whichever job comes first; two at once both
// go on with it, but never one that is a link or another user's folder. A
// shared Trash (a real folder with the sticky bit) is used where there is
// one; a system file system has none.
TEST_F(OutputPlacementTest, RecycleOnADriveUsesItsOwnTrashWhoeverMakesIt)
{
    for (const char* folder : {"home", "drive", "temp", "sticky"})
        ASSERT_TRUE(QDir(dir.path()).mkdir(folder));
    const QString drive = path("drive");
    const QString own = drive + "/.Trash-" + QString::number(::geteuid());
    const std::optional<QByteArray> outcome = outputOfChild([&]() -> std::optional<QByteArray> {
        // ramfs, unlike tmpfs, is no system file system to the desktop.
        if (!ownMountNamespace() || ::mount("drive", QFile::encodeName(drive).constData(), "ramfs", 0, nullptr) != 0
            || ::mount("tmpfs", QFile::encodeName(path("temp")).constData(), "tmpfs", 0, nullptr) != 0)
            return std::nullopt;
        const EnvironmentOverride home("HOME", path("home"));
        QByteArray report;
        std::barrier start(2);
        trashFolderStart = &start;
        OutputPlacement::stepHook = [](OutputPlacement::Step point) {
            if (point == OutputPlacement::Step::trashFolder)
                trashFolderStart->arrive_and_wait();
        };
        // Each round makes the Trash anew, both jobs past their look for it before either makes it.
        for (int round = 0; round < 10; ++round) {
            QDir(own).removeRecursively();
            const QStringList names{QStringLiteral("a%1.png").arg(round), QStringLiteral("b%1.png").arg(round)};
            QByteArray outcomes[2];
            writeFile(drive + '/' + names[0], "a");
            writeFile(drive + '/' + names[1], "b");
            {
                std::jthread first([&] { outcomes[0] = trashOutcome({drive + '/' + names[0]}); });
                std::jthread second([&] { outcomes[1] = trashOutcome({drive + '/' + names[1]}); });
            }
            for (int k = 0; k < 2; ++k) {
                const std::string restored = restoredPath(own + "/info/" + names[k] + ".trashinfo");
                if (outcomes[k] != "trashed" || restored != names[k].toStdString())
                    report += outcomes[k] + ' ' + QByteArray::fromStdString(restored) + '\n';
            }
        }
        OutputPlacement::stepHook = nullptr;
        report += QByteArray::number(modeOf(own), 8) + '\n';

        writeFile(path("temp/t.png"), "t");
        report += trashOutcome({path("temp/t.png")}) + '\n';
        // Others could read or take what went into such a Trash of the user's.
        QDir(drive).mkdir("elsewhere");
        QDir(own).removeRecursively();
        ::symlink("elsewhere", QFile::encodeName(own).constData());
        writeFile(drive + "/e.png", "e");
        report += trashOutcome({drive + "/e.png"}) + ' ' + entries(drive + "/elsewhere").join(',').toUtf8() + '\n';
        ::unlink(QFile::encodeName(own).constData());
        QDir(drive).mkdir(fileNameOf(own));
        ::chown(QFile::encodeName(own).constData(), ::geteuid() + 1, ::getegid());
        report += trashOutcome({drive + "/e.png"}) + ' ' + entries(own).join(',').toUtf8()
            + contentsOf(drive + "/e.png") + '\n';
        QDir(own).removeRecursively();
        // A link is no shared Trash, whatever it leads to.
        ::chmod(QFile::encodeName(path("sticky")).constData(), 01777);
        ::symlink(QFile::encodeName(path("sticky")).constData(), QFile::encodeName(drive + "/.Trash").constData());
        writeFile(drive + "/c.png", "c");
        report += trashOutcome({drive + "/c.png"});
        report += ' ' + contentsOf(own + "/files/c.png") + '\n';
        ::unlink(QFile::encodeName(drive + "/.Trash").constData());
        QDir(drive).mkdir(".Trash");
        ::chmod(QFile::encodeName(drive + "/.Trash").constData(), 0777);
        writeFile(drive + "/f.png", "f");
        report += trashOutcome({drive + "/f.png"});
        report += ' ' + contentsOf(own + "/files/f.png") + '\n';
        ::chmod(QFile::encodeName(drive + "/.Trash").constData(), 01777);
        writeFile(drive + "/d.png", "d");
        const QString shared = drive + "/.Trash/" + QString::number(::geteuid());
        report += trashOutcome({drive + "/d.png"});
        report += ' ' + contentsOf(shared + "/files/d.png") + ' ' + QByteArray::number(modeOf(shared), 8) + ' '
            + restoredPath(shared + "/info/d.png.trashinfo").c_str();
        return report;
    });
    if (!outcome)
        GTEST_SKIP() << "this machine mounts no file system for a test";
    const std::string refused = "\"e.png\" could not be moved to the Trash: Cannot make the Trash folder "
        + own.toStdString() + ": it is a link or not the user's own folder ";
    EXPECT_EQ(outcome->toStdString(),
              "700\n\"t.png\" could not be moved to the Trash: The system file system it is on has no Trash\n" + refused
                  + '\n' + refused + "e\ntrashed c\ntrashed f\ntrashed d 700 d.png");
    EXPECT_TRUE(entries(path("sticky")).isEmpty());
}
