#include "TestImages.h"

#include "CompressionError.h"
#include "JobCancellation.h"
#include "OutputPlacement.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <latch>
#include <set>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace vantro;
using namespace vantro::test;

namespace {

class OutputPlacementTest : public TemporaryFolderTest {
protected:
    ~OutputPlacementTest() override
    {
        OutputPlacement::stepHook = nullptr;
        OutputPlacement::forceNamedStaging = false;
        OutputPlacement::forceLinkClaim = false;
    }

    QString path(const QString& name) const { return dir.filePath(name); }

    QString write(const QString& name, const QByteArray& bytes, mode_t mode = 0644) const
    {
        const QString file = TemporaryFolderTest::write(name, bytes);
        ::chmod(QFile::encodeName(file).constData(), mode);
        return file;
    }

    // Every entry of a folder, hidden ones and broken links included.
    static QStringList entries(const QString& folder)
    {
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                      QDir::Name);
    }

    // The visible entries: staging files left by a killed run are hidden.
    static QStringList visibleEntries(const QString& folder)
    {
        return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
    }

    static mode_t modeOf(const QString& file)
    {
        struct stat info {};
        ::stat(QFile::encodeName(file).constData(), &info);
        return info.st_mode & 07777;
    }

    QString copyAlongside(const QByteArray& bytes, const QString& source,
                          const RenamingMode& renaming = RenamingMode::none(), int64_t digits = 3,
                          const QString& separator = QStringLiteral("_")) const
    {
        return placement.writeOutput(bytes, source, OutputMode::copyAlongside(), renaming, digits, separator);
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

TEST_F(OutputPlacementTest, CopyNamesSkipEveryTakenEntry)
{
    const QString source = write("photo.jpg", "original");
    EXPECT_EQ(copyAlongside("one", source), path("photo-optim.jpg"));
    EXPECT_EQ(copyAlongside("two", source), path("photo-optim-1.jpg"));
    EXPECT_EQ(readFile(path("photo-optim.jpg")), "one");
    EXPECT_EQ(readFile(path("photo-optim-1.jpg")), "two");

    // A folder and a broken symbolic link hold their names too.
    ASSERT_TRUE(QDir(dir.path()).mkdir("photo-optim-2.jpg"));
    ASSERT_EQ(::symlink("nowhere", QFile::encodeName(path("photo-optim-3.jpg")).constData()), 0);
    EXPECT_EQ(copyAlongside("three", source), path("photo-optim-4.jpg"));
    EXPECT_EQ(readFile(source), "original");

    // Prefix and suffix renaming numbers like the plain name.
    const RenamingMode prefixed = RenamingMode::prefixSuffix("x_", "");
    EXPECT_EQ(copyAlongside("p", source, prefixed), path("x_photo.jpg"));
    EXPECT_EQ(copyAlongside("q", source, prefixed), path("x_photo-1.jpg"));

    // No extension still gives base, dot, extension.
    EXPECT_EQ(copyAlongside("raw", write("scan", "s")), path("scan-optim."));
}

TEST_F(OutputPlacementTest, SequenceNumbersAdvanceInsteadOfSuffixes)
{
    const QString source = write("photo.jpg", "original");
    const RenamingMode trip = RenamingMode::sequence("Trip", 1);
    EXPECT_EQ(copyAlongside("a", source, trip), path("Trip_001.jpg"));
    EXPECT_EQ(copyAlongside("b", source, trip), path("Trip_002.jpg"));
    EXPECT_EQ(copyAlongside("c", source, RenamingMode::sequence("Trip", 1000)), path("Trip_1000.jpg"));
    EXPECT_EQ(copyAlongside("d", source, RenamingMode::sequence("Trip", 7), 2, ""), path("Trip07.jpg"));
    EXPECT_EQ(readFile(path("Trip_002.jpg")), "b");
}

TEST_F(OutputPlacementTest, ThousandTakenNamesFailAndWriteNothing)
{
    const QString source = write("photo.jpg", "original");
    write("photo-optim.jpg", "");
    for (int i = 1; i < 1000; ++i)
        write(QStringLiteral("photo-optim-%1.jpg").arg(i), "");
    const QStringList before = entries(dir.path());
    expectError([&] { copyAlongside("new", source); }, CompressionError::Kind::ioFailure,
                "Could not find a free output filename after 1000 attempts");
    EXPECT_EQ(entries(dir.path()), before);

    // The engine's own limit is the one honoured.
    const OutputPlacement limited(placement.backupRoot(), 3);
    expectError([&] { limited.writeOutput("new", source, OutputMode::copyAlongside(), {}, 3, "_"); },
                CompressionError::Kind::ioFailure, "Could not find a free output filename after 3 attempts");
    EXPECT_EQ(entries(dir.path()), before);
}

TEST_F(OutputPlacementTest, ParallelPlacementsClaimDistinctNames)
{
    const QString source = write("photo.jpg", "original");
    constexpr int kThreads = 8;
    std::vector<QString> outputs(kThreads);
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            outputs[static_cast<size_t>(t)] = copyAlongside(QByteArray(4096, static_cast<char>('a' + t)), source);
        });
    }
    for (auto& thread : threads)
        thread.join();

    std::set<QString> distinct(outputs.begin(), outputs.end());
    EXPECT_EQ(distinct.size(), static_cast<size_t>(kThreads));
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(readFile(outputs[static_cast<size_t>(t)]), QByteArray(4096, static_cast<char>('a' + t)));
    EXPECT_EQ(entries(dir.path()).size(), kThreads + 1); // no staging files left
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

enum class Staging { unnamed, named, namedClaimedByLink };

struct KillCase {
    const char* name;
    bool inPlace;
    Staging staging;
};

class PlacementKillTest : public OutputPlacementTest, public ::testing::WithParamInterface<KillCase> {};

// Whatever step a kill lands on, the final name holds nothing or the whole new
// file, and the source and its backup hold the whole original.
TEST_P(PlacementKillTest, AKillAtAnyStepLeavesNoPartialFile)
{
    const KillCase kase = GetParam();
    const QByteArray original(200000, 'o');
    const QByteArray compressed(150000, 'c');
    for (int k = 1;; ++k) {
        const QString folder = path(QString::number(k));
        ASSERT_TRUE(QDir().mkpath(folder));
        const QString source = write(QString::number(k) + "/photo.jpg", original);
        const OutputPlacement killed(path(QStringLiteral("backup-%1").arg(k)));
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            OutputPlacement::forceNamedStaging = kase.staging == Staging::named;
            OutputPlacement::forceLinkClaim = kase.staging == Staging::namedClaimedByLink;
            stepsBeforeKill = k;
            OutputPlacement::stepHook = killAtStep;
            try {
                killed.writeOutput(compressed, source,
                                   kase.inPlace ? OutputMode::inPlace(true) : OutputMode::copyAlongside(), {}, 3, "_");
            } catch (...) {
                ::_exit(1);
            }
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        const bool wasKilled = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
        ASSERT_TRUE(wasKilled || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << "step " << k;

        const QString backup = killed.backupRoot() + folder + "/photo.jpg";
        if (kase.inPlace) {
            const QByteArray now = readFile(source);
            EXPECT_TRUE(now == original || now == compressed) << "step " << k << ": " << now.size() << " bytes";
            if (now == compressed || QFileInfo::exists(backup)) {
                EXPECT_EQ(readFile(backup), original) << "step " << k;
            }
            EXPECT_EQ(visibleEntries(folder), QStringList({"photo.jpg"})) << "step " << k;
        } else {
            EXPECT_EQ(readFile(source), original);
            const QStringList visible = visibleEntries(folder);
            EXPECT_TRUE(visible == QStringList({"photo.jpg"})
                        || visible == QStringList({"photo-optim.jpg", "photo.jpg"}))
                << "step " << k << ": " << visible.join(", ").toStdString();
            if (visible.contains("photo-optim.jpg")) {
                EXPECT_EQ(readFile(folder + "/photo-optim.jpg"), compressed) << "step " << k;
            }
        }
        // A file without a name leaves nothing, but for a replacement killed
        // between taking its hidden name and the rename.
        if (kase.staging == Staging::unnamed && wasKilled) {
            const bool window = kase.inPlace && *killedAt == OutputPlacement::Step::linked;
            EXPECT_EQ(entries(folder).size() - visibleEntries(folder).size(), window ? 1 : 0) << "step " << k;
            const QString backups = killed.backupRoot() + folder;
            EXPECT_EQ(entries(backups), visibleEntries(backups)) << "step " << k;
        }
        if (!wasKilled) {
            EXPECT_GE(k, 5);
            EXPECT_EQ(entries(folder), visibleEntries(folder)) << "a finished placement left its staging file";
            break;
        }
    }
}

void PrintTo(const KillCase& kase, std::ostream* out)
{
    *out << kase.name;
}

INSTANTIATE_TEST_SUITE_P(, PlacementKillTest,
                         ::testing::Values(KillCase{"Copy", false, Staging::unnamed},
                                           KillCase{"CopyStagedByName", false, Staging::named},
                                           KillCase{"CopyClaimedByLink", false, Staging::namedClaimedByLink},
                                           KillCase{"InPlaceWithBackup", true, Staging::unnamed},
                                           KillCase{"InPlaceWithBackupStagedByName", true, Staging::named},
                                           KillCase{"InPlaceWithBackupClaimedByLink", true,
                                                    Staging::namedClaimedByLink}),
                         [](const ::testing::TestParamInfo<KillCase>& test) { return std::string(test.param.name); });

QString intruder;
void intrudeBeforeClaim(OutputPlacement::Step point)
{
    if (point == OutputPlacement::Step::claiming && !QFileInfo::exists(intruder)) {
        QFile file(intruder);
        if (file.open(QIODevice::WriteOnly))
            file.write("intruder");
    }
}

// Another program creating the chosen name between staging and claiming keeps its file.
TEST_F(OutputPlacementTest, ANameTakenJustBeforeTheClaimIsNeverReplaced)
{
    OutputPlacement::stepHook = intrudeBeforeClaim;
    for (const QString claim : {"unnamed", "rename", "link"}) {
        OutputPlacement::forceNamedStaging = claim == "rename";
        OutputPlacement::forceLinkClaim = claim == "link";
        ASSERT_TRUE(QDir(dir.path()).mkdir(claim));
        const QString source = write(claim + "/photo.jpg", "original");
        intruder = path(claim + "/photo-optim.jpg");
        EXPECT_EQ(copyAlongside("new", source), path(claim + "/photo-optim-1.jpg"));
        EXPECT_EQ(readFile(intruder), "intruder");
        EXPECT_EQ(readFile(path(claim + "/photo-optim-1.jpg")), "new");
        EXPECT_EQ(entries(path(claim)), QStringList({"photo-optim-1.jpg", "photo-optim.jpg", "photo.jpg"}));
    }
}

// A job told to stop during shutdown places nothing, and removes what it staged.
TEST_F(OutputPlacementTest, ACancelledJobPlacesNothing)
{
    const QString source = write("photo.jpg", "original");
    const JobCancellation::Flag flag = JobCancellation::makeFlag();
    flag->store(true);
    const JobCancellation::Scope scope(flag);
    EXPECT_THROW(copyAlongside("new", source), JobCancelled);
    EXPECT_THROW(placement.writeOutput("new", source, OutputMode::inPlace(false), {}, 3, "_"), JobCancelled);
    EXPECT_THROW(placement.writeOutput("new", source, OutputMode::inPlace(true), {}, 3, "_"), JobCancelled);
    EXPECT_THROW(
        placement.writeConversionOutput("new", source, OutputMode::copyAlongside(), ImageFormat::webp, {}, 3, "_"),
        JobCancelled);
    EXPECT_EQ(readFile(source), "original");
    EXPECT_EQ(entries(dir.path()), QStringList({"backup-root", "photo.jpg"}));
    EXPECT_TRUE(entries(placement.backupRoot() + dir.path()).isEmpty());
}

// Runs at once on one file: each backup takes its own name, so the original
// survives whichever run backs it up.
TEST_F(OutputPlacementTest, ParallelInPlaceRunsKeepTheOriginalInABackup)
{
    const QByteArray original(65536, 'o');
    const QString source = write("photo.jpg", original);
    constexpr int kThreads = 8;
    std::set<QByteArray> versions{original};
    for (int t = 0; t < kThreads; ++t)
        versions.insert(QByteArray(32768, static_cast<char>('a' + t)));
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            placement.writeOutput(QByteArray(32768, static_cast<char>('a' + t)), source, OutputMode::inPlace(true), {},
                                  3, "_");
        });
    }
    for (auto& thread : threads)
        thread.join();

    const QString backupFolder = placement.backupRoot() + dir.path();
    const QStringList backups = entries(backupFolder);
    EXPECT_EQ(backups.size(), kThreads);
    bool originalKept = false;
    for (const QString& name : backups) {
        const QByteArray bytes = readFile(backupFolder + "/" + name);
        EXPECT_TRUE(versions.count(bytes)) << name.toStdString() << ": " << bytes.size() << " bytes";
        originalKept = originalKept || bytes == original;
    }
    EXPECT_TRUE(originalKept);
    EXPECT_TRUE(versions.count(readFile(source)));
    EXPECT_EQ(entries(dir.path()), QStringList({"backup-root", "photo.jpg"}));
}

TEST_F(OutputPlacementTest, CustomFolders)
{
    const QString source = write("photo.jpg", "original");
    const QString nested = path("out/a/b");
    EXPECT_EQ(placement.writeOutput("x", source, OutputMode::customFolder(nested), {}, 3, "_"),
              nested + "/photo-optim.jpg");
    EXPECT_EQ(placement.writeOutput("y", source, OutputMode::customFolder(dir.path()), {}, 3, "_"),
              path("photo-optim.jpg"));

    const QString underFile = path("photo.jpg/sub");
    expectError([&] { placement.writeOutput("z", source, OutputMode::customFolder(underFile), {}, 3, "_"); },
                CompressionError::Kind::ioFailure,
                "Failed to create destination folder " + underFile + ": Not a directory");
    EXPECT_EQ(readFile(source), "original");
}

TEST_F(OutputPlacementTest, OutputsThatWouldLandOnTheSourceAreRefused)
{
    const QString source = write("photo.jpg", "original");
    expectError([&] { copyAlongside("x", source, RenamingMode::customBase("photo")); },
                CompressionError::Kind::invalidConfiguration,
                "Renamed output path collides with the original file at photo.jpg; refusing to overwrite it");

    // A PNG named a.jpg converted to JPEG in place.
    const QString png = write("a.jpg", "png bytes");
    expectError(
        [&] { placement.writeConversionOutput("x", png, OutputMode::inPlace(true), ImageFormat::jpeg, {}, 3, "_"); },
        CompressionError::Kind::ioFailure,
        "Conversion output path collides with the original file at a.jpg; refusing to overwrite it");
    EXPECT_EQ(readFile(source), "original");
    EXPECT_EQ(readFile(png), "png bytes");
    EXPECT_EQ(entries(dir.path()), QStringList({"a.jpg", "photo.jpg"}));
}

TEST_F(OutputPlacementTest, InPlaceConversionStandsBesideTheSourceAndBacksNothingUp)
{
    const QString source = write("a.png", "png");
    const auto convert = [&](const QByteArray& bytes) {
        return placement.writeConversionOutput(bytes, source, OutputMode::inPlace(true), ImageFormat::webp, {}, 3,
                                               "_");
    };
    EXPECT_EQ(convert("w1"), path("a.webp"));
    EXPECT_EQ(convert("w2"), path("a-1.webp"));
    EXPECT_EQ(readFile(path("a-1.webp")), "w2");
    EXPECT_EQ(readFile(source), "png");
    // Neither a conversion nor a replacement without backup writes under the backup root.
    EXPECT_EQ(placement.writeOutput("p", source, OutputMode::inPlace(false), {}, 3, "_"), source);
    EXPECT_EQ(readFile(source), "p");
    EXPECT_FALSE(QFileInfo::exists(placement.backupRoot()));

    EXPECT_EQ(placement.writeConversionOutput("j", source, OutputMode::copyAlongside(), ImageFormat::jpeg,
                                              RenamingMode::sequence("Trip", 1), 3, "-"),
              path("Trip-001.jpg"));
}

TEST_F(OutputPlacementTest, InPlaceKeepsModeAndOwnerAndBacksUpTheOriginal)
{
    const QString source = write("photo.jpg", "original", 0640);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(QFile::encodeName(source).constData(), 1234, 2345), 0);
    }

    EXPECT_EQ(placement.writeOutput("first", source, OutputMode::inPlace(true), {}, 3, "_"), source);
    EXPECT_EQ(readFile(source), "first");
    EXPECT_EQ(modeOf(source), 0640u);
    if (root) {
        struct stat info {};
        ::stat(QFile::encodeName(source).constData(), &info);
        EXPECT_EQ(info.st_uid, 1234u);
        EXPECT_EQ(info.st_gid, 2345u);
    }

    const QString backupFolder = placement.backupRoot() + dir.path();
    const QString backup = backupFolder + "/photo.jpg";
    EXPECT_EQ(readFile(backup), "original");
    EXPECT_EQ(modeOf(backup), 0640u);

    // A second backup never replaces the first: the original survives.
    ::chmod(QFile::encodeName(source).constData(), 0600);
    placement.writeOutput("second", source, OutputMode::inPlace(true), {}, 3, "_");
    EXPECT_EQ(readFile(source), "second");
    EXPECT_EQ(modeOf(source), 0600u);
    EXPECT_EQ(readFile(backup), "original");
    EXPECT_EQ(readFile(backupFolder + "/photo-1.jpg"), "first");
    EXPECT_EQ(entries(backupFolder), QStringList({"photo-1.jpg", "photo.jpg"}));

    // With no free backup name left, the source is not replaced.
    const OutputPlacement limited(placement.backupRoot(), 2);
    expectError([&] { limited.writeOutput("third", source, OutputMode::inPlace(true), {}, 3, "_"); },
                CompressionError::Kind::ioFailure, "Failed to finalize backup: no free backup name after 2 attempts");
    EXPECT_EQ(readFile(source), "second");
    EXPECT_EQ(entries(backupFolder), QStringList({"photo-1.jpg", "photo.jpg"}));
    EXPECT_EQ(entries(dir.path()), QStringList({"backup-root", "photo.jpg"}));
}

namespace {

QByteArray attribute(const QString& file, const char* name)
{
    QByteArray value(4096, '\0');
    const ssize_t size
        = ::getxattr(QFile::encodeName(file).constData(), name, value.data(), static_cast<size_t>(value.size()));
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

    placement.writeOutput("new", source, OutputMode::inPlace(true), {}, 3, "_");
    EXPECT_EQ(readFile(source), "new");
    for (const QString& file : {source, placement.backupRoot() + source}) {
        EXPECT_EQ(attribute(file, "system.posix_acl_access"), acl) << file.toStdString();
        EXPECT_EQ(attribute(file, "user.vantro.note"), "kept") << file.toStdString();
        EXPECT_EQ(modeOf(file), mode) << file.toStdString();
    }

    // A folder whose default ACL would open new files to others does not open a replaced one.
    ASSERT_TRUE(QDir(dir.path()).mkdir("shared"));
    const QString plain = write("shared/plain.jpg", "original", 0600);
    ASSERT_EQ(QProcess::execute("setfacl", {"-d", "-m", "u:nobody:rw-", path("shared")}), 0);
    placement.writeOutput("new", plain, OutputMode::inPlace(false), {}, 3, "_");
    EXPECT_EQ(readFile(plain), "new");
    EXPECT_TRUE(attribute(plain, "system.posix_acl_access").isEmpty());
    EXPECT_EQ(modeOf(plain), 0600u);
}

TEST_F(OutputPlacementTest, InPlaceThroughALinkReplacesTheFileItPointsTo)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir("real"));
    const QString target = write("real/photo.jpg", "original", 0640);
    const QString link = path("link.jpg");
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()), 0);

    EXPECT_EQ(placement.writeOutput("new", link, OutputMode::inPlace(true), {}, 3, "_"), link);
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), target);
    EXPECT_EQ(readFile(target), "new");
    EXPECT_EQ(modeOf(target), 0640u);
    EXPECT_EQ(readFile(placement.backupRoot() + QFileInfo(target).canonicalFilePath()), "original");
    EXPECT_EQ(entries(dir.path()), QStringList({"backup-root", "link.jpg", "real"}));
    EXPECT_EQ(entries(path("real")), QStringList({"photo.jpg"}));
}

// New outputs are 0644 at most, narrowed to the source's bits and the umask.
TEST_F(OutputPlacementTest, NewFilesAreNeverMoreOpenThanTheSource)
{
    const mode_t umaskNow = ::umask(0);
    ::umask(umaskNow);
    const QString open = write("open.png", "png", 0664);
    EXPECT_EQ(modeOf(copyAlongside("o", open)), 0644u & ~umaskNow);
    EXPECT_EQ(modeOf(placement.writeOutput("c", open, OutputMode::customFolder(path("out")), {}, 3, "_")),
              0644u & ~umaskNow);

    const QString secret = write("secret.png", "png", 0600);
    EXPECT_EQ(modeOf(copyAlongside("s", secret)), 0600u);
    EXPECT_EQ(modeOf(placement.writeConversionOutput("w", secret, OutputMode::inPlace(false), ImageFormat::webp, {},
                                                     3, "_")),
              0600u);
}

TEST_F(OutputPlacementTest, FailedWritesLeaveTheSourceAndNoStrayFiles)
{
    const QString source = write("photo.jpg", QByteArray(4096, 's'));
    const QByteArray big(8192, 'b');
    {
        FileSizeLimit limit(1024);
        expectError([&] { copyAlongside(big, source); }, CompressionError::Kind::ioFailure,
                    "Failed to write photo-optim.jpg: File too large");
        const QString staging =
            errorOf([&] { placement.writeOutput(big, source, OutputMode::inPlace(false), {}, 3, "_"); }).message();
        EXPECT_TRUE(staging.startsWith("Failed to stage compressed output: Failed to write .vantro-tmp-"))
            << staging.toStdString();
        EXPECT_TRUE(staging.endsWith(": File too large"));
        expectError([&] { placement.writeOutput("small", source, OutputMode::inPlace(true), {}, 3, "_"); },
                    CompressionError::Kind::ioFailure, "Failed to stage backup copy: File too large");
    }
    EXPECT_EQ(readFile(source), QByteArray(4096, 's'));
    EXPECT_EQ(entries(dir.path()), QStringList({"backup-root", "photo.jpg"}));
    EXPECT_TRUE(entries(placement.backupRoot() + dir.path()).isEmpty());

    // A name longer than the file system allows.
    const QString longSource = write(QString(250, u'l') + ".jpg", "long");
    expectError([&] { copyAlongside("x", longSource); }, CompressionError::Kind::ioFailure,
                "Failed to reserve output path " + QString(250, u'l') + "-optim.jpg: File name too long");

    // The replacement itself fails: the "source" is a folder.
    ASSERT_TRUE(QDir(dir.path()).mkpath("folder.jpg/inside"));
    expectError([&] { placement.writeOutput("x", path("folder.jpg"), OutputMode::inPlace(false), {}, 3, "_"); },
                CompressionError::Kind::ioFailure, "Failed to replace original file: Is a directory");

    // The backup root cannot be made.
    const OutputPlacement blocked(source + "/root");
    expectError([&] { blocked.writeOutput("x", source, OutputMode::inPlace(true), {}, 3, "_"); },
                CompressionError::Kind::ioFailure, "Failed to create backup directory: Not a directory");

    EXPECT_EQ(readFile(source), QByteArray(4096, 's'));
    EXPECT_EQ(entries(dir.path()), QStringList({"backup-root", "folder.jpg", longSource.section('/', -1), "photo.jpg"}));
}

TEST_F(OutputPlacementTest, RecycleMovesFilesToTheFreedesktopTrash)
{
    // Home on the same file system as the files, so Qt picks the home Trash; the
    // data folder does not exist yet.
    ASSERT_TRUE(QDir(dir.path()).mkdir("home"));
    const EnvironmentOverride home("HOME", path("home"));
    const EnvironmentOverride data("XDG_DATA_HOME", path("home/data"));
    const QString file = write("a.png", "png");

    OutputPlacement::recycleViaWorkspace({file});
    EXPECT_FALSE(QFileInfo::exists(file));
    EXPECT_EQ(readFile(path("home/data/Trash/files/a.png")), "png");
    EXPECT_TRUE(QFileInfo::exists(path("home/data/Trash/info/a.png.trashinfo")));

    try {
        OutputPlacement::recycleViaWorkspace({path("missing.png")});
        ADD_FAILURE() << "a missing file was trashed";
    } catch (const TrashError& e) {
        EXPECT_STREQ(e.what(), "\"missing.png\" could not be moved to the Trash: No such file or directory");
    }
}

TEST_F(OutputPlacementTest, RecycleWithoutAnyTrashFolderLeavesTheFileInPlace)
{
    const QString cwd = QDir::currentPath();
    ASSERT_TRUE(QDir(dir.path()).mkdir("work"));
    ASSERT_TRUE(QDir(dir.path()).mkdir("home"));
    ASSERT_TRUE(QDir::setCurrent(path("work")));
    const QString file = write("b.png", "png");
    write("blocker", "");
    {
        const EnvironmentOverride home("HOME", path("home"));
        const EnvironmentOverride data("XDG_DATA_HOME", path("blocker/data"));
        try {
            OutputPlacement::recycleViaWorkspace({file});
            ADD_FAILURE() << "trashed without a Trash";
        } catch (const TrashError& e) {
            EXPECT_STREQ(e.what(), "\"b.png\" could not be moved to the Trash: no Trash folder is available");
        }
    }
    QDir::setCurrent(cwd);
    EXPECT_EQ(readFile(file), "png");
}
