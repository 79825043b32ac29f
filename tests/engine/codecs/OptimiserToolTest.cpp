#include "TestImages.h"

#include "CompressionError.h"
#include "JPEGEncoder.h"
#include "JobCancellation.h"
#include "OptimiserTool.h"
#include "OutputPlacement.h"
#include "ToolOutputCheck.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <chrono>
#include <csignal>
#include <optional>
#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace vantro;
using namespace vantro::test;

namespace {

// Runs the jpegtran protocol against fake tools in a private bundle folder,
// with a private temporary folder so that leftovers can be seen.
class OptimiserToolTest : public TemporaryFolderTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir(dir.path()).mkpath("bundle") && QDir(dir.path()).mkpath("tmp"));
        ::chmod(QFile::encodeName(input).constData(), 0600);
    }

    void fakeTool(const QByteArray& body) const
    {
        const QString path = dir.filePath("bundle/jpegtran");
        QFile::remove(path);
        writeFile(path, body.startsWith("#!") ? body : "#!/bin/sh\n" + body);
        ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    }

    QByteArray run(const QString& path) const
    {
        return JPEGEncoder::losslessTool().run(path, {dir.filePath("bundle")});
    }
    QByteArray run() const { return run(input); }

    void expectNothingLeft() const
    {
        EXPECT_EQ(QDir(dir.filePath("tmp")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                  QStringList());
        EXPECT_EQ(readFile(input), source);
    }

    const QByteArray source = vipsEncode(photoLike(16, 8), ".jpg");
    const QString input = write("input.jpg", source);
    const EnvironmentOverride temporaryFolder{"TMPDIR", dir.filePath("tmp")};
};

TEST_F(OptimiserToolTest, PassesTheArgumentsIntoAPrivateFolderAndReturnsTheOutput)
{
    // The tool reports its arguments and the mode of its output's folder as
    // it runs, then copies its input.
    const QString report = dir.filePath("report");
    fakeTool("for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + report.toUtf8()
             + "'\n"
               "stat -c %a \"$(dirname \"$5\")\" >> '"
             + report.toUtf8() + "'\ncp \"$6\" \"$5\"\n");
    EXPECT_EQ(run(), source);
    const QStringList lines = QString::fromUtf8(readFile(report)).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 7);
    EXPECT_EQ(lines.mid(0, 4), QStringList({"-copy", "none", "-optimize", "-outfile"}));
    // A folder of its own in the temporary folder that nobody else may enter.
    const QFileInfo output(lines[4]);
    EXPECT_EQ(QFileInfo(output.absolutePath()).absolutePath(), QFileInfo(dir.filePath("tmp")).absoluteFilePath());
    EXPECT_EQ(lines[6], "700");
    EXPECT_EQ(lines[5], input);
    expectNothingLeft();

    // An image held in memory is staged in that private folder too.
    EXPECT_EQ(JPEGEncoder::losslessTool().runOnData(source, "staging: ", {dir.filePath("bundle")}), source);
    const QStringList staged = QString::fromUtf8(readFile(report)).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(staged.size(), 7);
    EXPECT_EQ(QFileInfo(staged[5]).absolutePath(), QFileInfo(staged[4]).absolutePath());
    EXPECT_NE(staged[5], staged[4]);
    expectNothingLeft();
}

// A run killed with SIGKILL cannot remove its private folder, which holds a
// copy of the user's image; the next process's first tool run removes it, and
// nothing that is not such a folder of a process that is gone.
TEST_F(OptimiserToolTest, TheFirstRunRemovesWhatKilledRunsLeft)
{
    const QString started = dir.filePath("started");
    fakeTool("cp \"$6\" \"$5\"\necho $$ > '" + started.toUtf8() + ".new'\nmv '" + started.toUtf8() + ".new' '"
             + started.toUtf8() + "'\nexec sleep 30\n");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        try {
            run();
        } catch (...) {
        }
        ::_exit(0);
    }
    for (int i = 0; i < 1000 && !QFileInfo::exists(started); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ::kill(child, SIGKILL);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    // The tool dies with the program that started it (left a zombie where
    // nobody reaps it).
    const auto toolRuns = [tool = readFile(started).trimmed()] {
        QFile stat("/proc/" + tool + "/stat");
        return stat.open(QIODevice::ReadOnly) && !stat.readAll().contains(") Z ");
    };
    for (int i = 0; i < 200 && toolRuns(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(toolRuns());
    const QStringList killed = QDir(dir.filePath("tmp")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_EQ(killed.size(), 1);
    EXPECT_TRUE(killed[0].startsWith(QStringLiteral("vantro-%1-").arg(child))) << killed[0].toStdString();
    EXPECT_EQ(QDir(dir.filePath("tmp") + '/' + killed[0]).entryList(QDir::Files).size(), 1);

    // A live process's folder that holds no lock file, a link and a name that
    // only looks like one stay.
    const QString dead = QString::number(child);
    ASSERT_TRUE(QDir(dir.filePath("tmp")).mkpath(QStringLiteral("vantro-%1-abc123").arg(::getppid())));
    writeFile(dir.filePath("tmp") + QStringLiteral("/vantro-%1-abc123/notes.txt").arg(::getppid()), "notes");
    ASSERT_TRUE(QDir(dir.path()).mkpath("target/kept"));
    ASSERT_TRUE(QFile::link(dir.filePath("target"), dir.filePath("tmp") + "/vantro-" + dead + "-link00"));
    ASSERT_TRUE(QDir(dir.filePath("tmp")).mkpath("vantro-" + dead + "-abc123-not"));
    fakeTool("cp \"$6\" \"$5\"\n");
    EXPECT_EQ(run(), source);
    QStringList kept{QStringLiteral("vantro-%1-abc123").arg(::getppid()), "vantro-" + dead + "-abc123-not",
                     "vantro-" + dead + "-link00"};
    kept.sort();
    EXPECT_EQ(QDir(dir.filePath("tmp")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name),
              kept);
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("target/kept")));
}

QString goFile;
// Holds a placement that staged its file until the go file exists.
void waitForGo(OutputPlacement::Step point)
{
    if (point == OutputPlacement::Step::stagingSynced) {
        writeFile(goFile + ".staged", "");
        while (!QFileInfo::exists(goFile))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// Process ids mean nothing across PID namespaces (containers and sandboxes
// share the home and temporary folders, not ids): a run in another namespace
// sweeps beside a live run's tool folder and hidden staging file, and both
// runs place their files.
TEST_F(OptimiserToolTest, ARunInAnotherPidNamespaceLeavesALiveRunsFilesAlone)
{
    goFile = dir.filePath("go");
    fakeTool("touch '" + goFile.toUtf8() + ".tool'\nwhile [ ! -e '" + goFile.toUtf8()
             + "' ]; do sleep 0.01; done\ncp \"$6\" \"$5\"\n");
    const QString photo = write("photo.jpg", "original");
    const QString other = write("other.jpg", "other");
    const OutputPlacement placement(dir.filePath("backup"));
    const auto place = [&](const QString& from, const QByteArray& bytes) {
        return readFile(placement.writeOutput(bytes, from, OutputMode::copyAlongside(), {}, 3, "_")) == bytes;
    };

    // The live run: a tool at work, and a hidden staging file about to be claimed.
    const pid_t live = ::fork();
    ASSERT_GE(live, 0);
    if (live == 0) {
        bool ran = false;
        std::thread tool([&] { ran = run() == source; });
        OutputPlacement::simulatedRefusal = OutputPlacement::Refusal::unnamedFiles;
        OutputPlacement::stepHook = waitForGo;
        const bool placed = place(photo, "live");
        tool.join();
        ::_exit(ran && placed ? 0 : 1);
    }
    for (int i = 0; i < 1000 && !(QFileInfo::exists(goFile + ".tool") && QFileInfo::exists(goFile + ".staged")); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    // The other run, alone in a PID namespace of its own, sweeps the same folders.
    const std::optional<QByteArray> elsewhere = outputOfChild([&]() -> std::optional<QByteArray> {
        if (::unshare(CLONE_NEWPID) != 0)
            return std::nullopt;
        const pid_t first = ::fork();
        if (first == 0) {
            OptimiserTool::removeAbandonedFolders();
            ::_exit(place(other, "other") ? 0 : 1);
        }
        int status = 0;
        return QByteArray(::waitpid(first, &status, 0) == first && status == 0 ? "placed" : "failed");
    });
    writeFile(goFile, "");
    int status = 0;
    ASSERT_EQ(::waitpid(live, &status, 0), live);
    if (!elsewhere)
        GTEST_SKIP() << "this machine lets no process make a PID namespace of its own";
    EXPECT_EQ(*elsewhere, "placed");
    EXPECT_EQ(status, 0) << "the live run failed";
    expectNothingLeft();
}

struct Failure {
    const char* name;
    QByteArray script;
    QString message; // the whole message, or its start when `prefix`
    bool prefix = false;
};

class OptimiserFailureTest : public OptimiserToolTest, public testing::WithParamInterface<Failure> {};

// Every way a tool can fail is an encoderFailed error that says how, with the
// last line of the tool's standard error, and that a full temporary folder
// is what failed where it is; nothing of its output is left.
TEST_P(OptimiserFailureTest, IsReportedAndLeavesNothing)
{
    fakeTool(GetParam().script);
    // Smaller than the input: the folder has no room for an output.
    std::optional<FileSizeLimit> limit;
    if (std::string(GetParam().name) == "NoRoom")
        limit.emplace(64);
    const CompressionError error = errorOf([&] { run(); });
    limit.reset();
    EXPECT_EQ(error.kind(), CompressionError::Kind::encoderFailed);
    const QString message = QString(GetParam().message).replace("$TMPDIR", dir.filePath("tmp"));
    if (GetParam().prefix)
        EXPECT_TRUE(error.message().startsWith(message)) << error.message().toStdString();
    else
        EXPECT_EQ(error.message(), message);
    expectNothingLeft();
}

const QString kFailed = QStringLiteral("jpegtran failed: ");

INSTANTIATE_TEST_SUITE_P(
    Tools, OptimiserFailureTest,
    testing::Values(
        Failure{"StandardError", "printf '  line one\\n  line two \\n\\n' >&2\nexit 3\n", kFailed + "line two"},
        // A progress log ends with what went wrong; the program's path goes.
        Failure{"ProgressLog",
                "printf 'Processing: a.png\\n    800x600 pixels\\nTrying: 8 combinations\\n' >&2\n"
                "echo \"$0: Unable to write to the output: Broken pipe\" >&2\nexit 1\n",
                kFailed + "Unable to write to the output: Broken pipe"},
        // A temporary folder without room: whatever the tool says, and
        // whatever file it names, the folder is what failed.
        Failure{"NoRoom", "printf 'Processing\\n' >&2\necho \"can't write to $6\" >&2\nexit 1\n",
                kFailed + "could not write its output to the temporary folder $TMPDIR: File too large"},
        Failure{"Silent", "exit 1\n", kFailed},
        Failure{"NotUTF8", "printf '\\377\\376 bad' >&2\nexit 2\n", kFailed + "unknown error"},
        // A sequence cut short at the very end is not valid UTF-8 either.
        Failure{"UTF8CutShort", "printf 'price \\342\\202' >&2\nexit 2\n", kFailed + "unknown error"},
        Failure{"UTF8", "printf 'caf\\303\\251' >&2\nexit 2\n", kFailed + QString::fromUtf8("caf\xC3\xA9")},
        Failure{"PartialOutput", "printf partial > \"$5\"\nexit 4\n", kFailed},
        // Far more standard error than a pipe holds does not stall the run.
        Failure{"Flood", "head -c 3000000 /dev/zero | tr '\\0' x >&2\nexit 5\n",
                kFailed + QString(500, u'x') + QChar(0x2026)},
        Failure{"ExitZeroWithoutOutput", "exit 0\n", kFailed + "no output was written"},
        Failure{"EmptyOutput", ": > \"$5\"\n", kFailed + "no output was written"},
        // A status of 0 after a failed write: what was wrong, then what the tool said.
        Failure{"ExitZeroAfterAFailedWrite",
                "head -c $(( $(stat -c %s \"$6\") - 20 )) \"$6\" > \"$5\"\nprintf 'No space left on device' >&2\n",
                kFailed + "the output is cut short in or after scan 1: No space left on device"},
        Failure{"Crash", "printf 'half done' > \"$5\"\nprintf dying >&2\nkill -SEGV $$\n", kFailed + "crashed: dying"},
        // Executable, but the system cannot run it.
        Failure{"CannotStart", "#!/nonexistent/interpreter\n", kFailed + "could not start (", true}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(OptimiserToolTest, ToolsStayWithinTheirMeansAndStopWhenTheJobDoes)
{
    // A header beyond the pixel budget never reaches the tool.
    const QString ran = dir.filePath("ran");
    fakeTool("touch '" + ran.toUtf8() + "'\ncp \"$6\" \"$5\"\n");
    QByteArray huge = source;
    const qsizetype frame = huge.indexOf(QByteArray("\xFF\xC0", 2));
    ASSERT_GT(frame, 0);
    huge.replace(frame + 5, 4, QByteArray("\xFA\xFA\xFA\xFA", 4));
    const QString hugePath = write("huge.jpg", huge);
    EXPECT_EQ(errorOf([&] { run(hugePath); }),
              CompressionError::invalidConfiguration(QStringLiteral(
                  "Image too large (64250 \u00D7 64250 pixels; at most 268435456 pixels are supported): huge.jpg")));
    EXPECT_FALSE(QFileInfo::exists(ran));

    // A job told to stop kills its tool at once and leaves nothing behind.
    fakeTool("exec sleep 30\n");
    {
        JobCancellation::Flag flag = JobCancellation::makeFlag();
        const JobCancellation::Scope scope(flag);
        std::thread stopper([flag] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            flag->store(true);
        });
        const auto start = std::chrono::steady_clock::now();
        EXPECT_THROW(run(), JobCancelled);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
        stopper.join();
    }
    expectNothingLeft();

    // What no header reveals meets the address-space limit: a tool that
    // reserves memory without end (64 GiB, never touched, unless stopped)
    // fails instead of growing.
    if (QStandardPaths::findExecutable("python3").isEmpty())
        GTEST_SKIP() << "python3 is needed for the allocating stand-in";
    fakeTool("#!/usr/bin/env python3\nimport shutil, sys\nheld = [bytes(1 << 28) for _ in range(256)]\n"
             "shutil.copyfile(sys.argv[6], sys.argv[5])\n");
    const QString exhausted = errorOf([&] { run(); }).message();
    EXPECT_TRUE(exhausted.startsWith("jpegtran failed: ") && exhausted.contains("MemoryError"))
        << exhausted.toStdString();
    expectNothingLeft();
}

TEST(ToolOutputCheckTest, OnlyAWholeImageOfTheSourcesSizePasses)
{
    // Progressive, so there are several scans to run through.
    const QByteArray jpeg = vipsEncode(photoLike(40, 24), ".jpg[interlace]");
    const QByteArray png = vipsEncode(photoLike(40, 24), ".png");
    QByteArray badCrc = png;
    badCrc[png.indexOf("IDAT") + 10] = static_cast<char>(badCrc[png.indexOf("IDAT") + 10] ^ 1);
    const QByteArray stray = QByteArray(jpeg).insert(jpeg.indexOf(QByteArray("\xFF\xDA", 2)), "x");
    // The message a fault gives starts with its text; no text means whole.
    const auto check
        = [](const char* name, const QByteArray& bytes, ImageFormat format, int64_t width, const char* problem) {
              const QString found = ToolOutputCheck::problem(bytes, format, width, 24).value_or(QString());
              EXPECT_TRUE(*problem ? found.startsWith(QString::fromUtf8(problem)) : found.isEmpty())
                  << name << ": " << found.toStdString();
          };
    const char* cutInAScan = "the output is cut short in or after scan ";
    check("whole JPEG", jpeg, ImageFormat::jpeg, 40, "");
    check("JPEG cut in a scan", jpeg.left(jpeg.size() * 2 / 3), ImageFormat::jpeg, 40, cutInAScan);
    check("JPEG without EOI", jpeg.chopped(2), ImageFormat::jpeg, 40, cutInAScan);
    check("JPEG header only", jpeg.left(200), ImageFormat::jpeg, 40, "the output is cut short before its first scan");
    check("JPEG of another size", jpeg, ImageFormat::jpeg, 41, "the output is 40 \u00D7 24 pixels instead of 41 ");
    check("stray bytes", stray, ImageFormat::jpeg, 40, "the output has stray data at byte ");
    check("PNG as JPEG", png, ImageFormat::jpeg, 40, "the output is not a JPEG");
    check("whole PNG", png, ImageFormat::png, 40, "");
    const QByteArray cutPNG = png.left(png.indexOf("IDAT") + 20);
    check("PNG cut short", cutPNG, ImageFormat::png, 40, "the output is cut short in its IDAT chunk");
    check("PNG without IEND", png.chopped(12), ImageFormat::png, 40, "the output is cut short before its IEND chunk");
    check("PNG with a bad CRC", badCrc, ImageFormat::png, 40, "the output's IDAT chunk fails its CRC check");
    check("PNG of another size", png, ImageFormat::png, 39, "the output is 40 \u00D7 24 pixels instead of 39 ");
}

} // namespace
