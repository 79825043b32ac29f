#include "TestImages.h"

#include "CompressionError.h"
#include "JPEGEncoder.h"
#include "JobCancellation.h"
#include "OptimiserTool.h"
#include "ToolOutputCheck.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <chrono>
#include <optional>
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace vantro;
using namespace vantro::test;

namespace {

// Runs the jpegtran protocol against fake tools in a private bundle folder,
// with a private temporary folder so that leftovers can be seen.
class OptimiserToolTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root.isValid());
        ASSERT_TRUE(QDir(root.path()).mkpath("bundle"));
        ASSERT_TRUE(QDir(root.path()).mkpath("tmp"));
        temporaryFolder.emplace("TMPDIR", tmp());
        input = root.filePath("input.jpg");
        writeFile(input, source);
        ::chmod(QFile::encodeName(input).constData(), 0600);
    }

    QString bundle() const { return root.filePath("bundle"); }
    QString tmp() const { return root.filePath("tmp"); }

    void fakeTool(const QByteArray& body, const QString& name = "jpegtran",
                  QFileDevice::Permissions permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner
                      | QFileDevice::ExeOwner)
    {
        const QString path = QDir(bundle()).filePath(name);
        QFile::remove(path);
        writeFile(path, body.startsWith("#!") ? body : "#!/bin/sh\n" + body);
        ASSERT_TRUE(QFile::setPermissions(path, permissions));
    }

    QByteArray run() const { return JPEGEncoder::losslessTool().run(input, {bundle()}); }
    QString failure() const { return errorOf([&] { run(); }).message(); }

    void expectNothingLeft() const
    {
        EXPECT_TRUE(QDir(tmp()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
            << QDir(tmp()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).join(' ').toStdString();
        EXPECT_EQ(readFile(input), source);
    }

    const QByteArray source = vipsEncode(photoLike(16, 8), ".jpg");
    QTemporaryDir root;
    QString input;
    std::optional<EnvironmentOverride> temporaryFolder;
};

TEST_F(OptimiserToolTest, PassesTheArgumentsIntoAPrivateFolderAndReturnsTheOutput)
{
    // The tool reports its arguments and the mode of its output's folder as
    // it runs, then copies its input.
    const QString report = root.filePath("report");
    fakeTool("for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + report.toUtf8() + "'\n"
             "stat -c %a \"$(dirname \"$5\")\" >> '" + report.toUtf8() + "'\ncp \"$6\" \"$5\"\n");
    EXPECT_EQ(run(), source);
    const QStringList lines = QString::fromUtf8(readFile(report)).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 7);
    EXPECT_EQ(lines.mid(0, 4), QStringList({"-copy", "none", "-optimize", "-outfile"}));
    // A folder of its own in the temporary folder that nobody else may enter.
    const QFileInfo output(lines[4]);
    EXPECT_EQ(QFileInfo(output.absolutePath()).absolutePath(), QFileInfo(tmp()).absoluteFilePath());
    EXPECT_EQ(lines[6], "700");
    EXPECT_TRUE(QRegularExpression("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.jpg$")
                    .match(output.fileName())
                    .hasMatch())
        << output.fileName().toStdString();
    EXPECT_EQ(lines[5], input);
    expectNothingLeft();

    // An image held in memory is staged in that private folder too.
    EXPECT_EQ(JPEGEncoder::losslessTool().runOnData(source, "staging: ", {bundle()}), source);
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
    const QString started = root.filePath("started");
    fakeTool("cp \"$6\" \"$5\"\ntouch '" + started.toUtf8() + "'\nexec sleep 30\n");
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
    const QStringList killed = QDir(tmp()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_EQ(killed.size(), 1);
    EXPECT_TRUE(killed[0].startsWith(QStringLiteral("vantro-%1-").arg(child))) << killed[0].toStdString();
    EXPECT_EQ(QDir(tmp() + '/' + killed[0]).entryList(QDir::Files).size(), 1);

    // A live process's folder, a link and a name that only looks like one stay.
    const QString dead = QString::number(child);
    ASSERT_TRUE(QDir(tmp()).mkpath(QStringLiteral("vantro-%1-abc123").arg(::getppid())));
    ASSERT_TRUE(QDir(root.path()).mkpath("target/kept"));
    ASSERT_TRUE(QFile::link(root.filePath("target"), tmp() + "/vantro-" + dead + "-link00"));
    ASSERT_TRUE(QDir(tmp()).mkpath("vantro-" + dead + "-abc123-not"));
    fakeTool("cp \"$6\" \"$5\"\n");
    EXPECT_EQ(run(), source);
    QStringList kept{QStringLiteral("vantro-%1-abc123").arg(::getppid()), "vantro-" + dead + "-abc123-not",
                     "vantro-" + dead + "-link00"};
    kept.sort();
    EXPECT_EQ(QDir(tmp()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name), kept);
    EXPECT_TRUE(QFileInfo::exists(root.filePath("target/kept")));
}

TEST_F(OptimiserToolTest, FailuresCarryTheToolsStandardError)
{
    fakeTool("printf boom >&2\nexit 3\n");
    EXPECT_EQ(errorOf([&] { run(); }), CompressionError::encoderFailed("jpegtran failed: boom"));
    // Unchanged, not trimmed.
    fakeTool("printf '  line one\\nline two\\n' >&2\nexit 1\n");
    EXPECT_EQ(failure(), "jpegtran failed:   line one\nline two\n");
    fakeTool("exit 1\n");
    EXPECT_EQ(failure(), "jpegtran failed: ");
    fakeTool("printf '\\377\\376 bad' >&2\nexit 2\n");
    EXPECT_EQ(failure(), "jpegtran failed: unknown error");
    // A sequence cut short at the very end is not valid UTF-8 either.
    fakeTool("printf 'price \\342\\202' >&2\nexit 2\n");
    EXPECT_EQ(failure(), "jpegtran failed: unknown error");
    fakeTool("printf 'caf\\303\\251' >&2\nexit 2\n");
    EXPECT_EQ(failure(), QString::fromUtf8("jpegtran failed: caf\xC3\xA9"));
    // A partial output written before the failure is removed too.
    fakeTool("printf partial > \"$5\"\nexit 4\n");
    EXPECT_EQ(failure(), "jpegtran failed: ");
    // Far more standard error than a pipe holds does not stall the run.
    fakeTool("head -c 3000000 /dev/zero | tr '\\0' x >&2\nexit 5\n");
    EXPECT_EQ(failure().size(), QString("jpegtran failed: ").size() + 3000000);
    expectNothingLeft();
}

TEST_F(OptimiserToolTest, SuccessWithoutAWholeOutputCrashesAndStartFailuresAreFailures)
{
    fakeTool("exit 0\n");
    EXPECT_EQ(errorOf([&] { run(); }), CompressionError::encoderFailed("jpegtran failed: no output was written"));
    fakeTool(": > \"$5\"\n");
    EXPECT_EQ(failure(), "jpegtran failed: no output was written");
    // A status of 0 after a failed write: what was wrong, then what the tool said.
    fakeTool("head -c $(( $(stat -c %s \"$6\") - 20 )) \"$6\" > \"$5\"\nprintf 'No space left on device' >&2\n");
    EXPECT_EQ(failure(), "jpegtran failed: the output is cut short in or after scan 1: No space left on device");

    fakeTool("printf 'half done' > \"$5\"\nprintf dying >&2\nkill -SEGV $$\n");
    const QString crashed = failure();
    EXPECT_TRUE(crashed.startsWith("jpegtran failed: crashed")) << crashed.toStdString();
    EXPECT_TRUE(crashed.endsWith("dying")) << crashed.toStdString();

    // Executable, but the system cannot run it.
    fakeTool("#!/nonexistent/interpreter\n");
    const QString notStarted = failure();
    EXPECT_TRUE(notStarted.startsWith("jpegtran failed: could not start (")) << notStarted.toStdString();
    expectNothingLeft();
}

TEST_F(OptimiserToolTest, ToolsStayWithinTheirMeansAndStopWhenTheJobDoes)
{
    // A header beyond the pixel budget never reaches the tool.
    const QString ran = root.filePath("ran");
    fakeTool("touch '" + ran.toUtf8() + "'\ncp \"$6\" \"$5\"\n");
    QByteArray huge = source;
    const qsizetype frame = huge.indexOf(QByteArray("\xFF\xC0", 2));
    ASSERT_GT(frame, 0);
    huge.replace(frame + 5, 4, QByteArray("\xFA\xFA\xFA\xFA", 4));
    const QString hugePath = root.filePath("huge.jpg");
    writeFile(hugePath, huge);
    EXPECT_EQ(errorOf([&] { JPEGEncoder::losslessTool().run(hugePath, {bundle()}); }),
              CompressionError::corruptFile(QStringLiteral("Image too large to decode (64250 \u00D7 64250 pixels): huge.jpg")));
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
    const QString exhausted = failure();
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
    QByteArray stray = jpeg;
    stray.insert(jpeg.indexOf(QByteArray("\xFF\xDA", 2)), "x");

    // The message a fault gives starts with its text; no text means whole.
    struct Case {
        const char* name;
        QByteArray bytes;
        ImageFormat format;
        int64_t width;
        const char* problem;
    };
    const std::vector<Case> cases = {
        {"whole JPEG", jpeg, ImageFormat::jpeg, 40, nullptr},
        {"JPEG cut in a scan", jpeg.left(jpeg.size() * 2 / 3), ImageFormat::jpeg, 40, "the output is cut short in or after scan "},
        {"JPEG without EOI", jpeg.chopped(2), ImageFormat::jpeg, 40, "the output is cut short in or after scan "},
        {"JPEG header only", jpeg.left(200), ImageFormat::jpeg, 40, "the output is cut short before its first scan"},
        {"JPEG of another size", jpeg, ImageFormat::jpeg, 41, "the output is 40 \u00D7 24 pixels instead of 41 \u00D7 24"},
        {"stray bytes between segments", stray, ImageFormat::jpeg, 40, "the output has stray data at byte "},
        {"PNG as JPEG", png, ImageFormat::jpeg, 40, "the output is not a JPEG"},
        {"whole PNG", png, ImageFormat::png, 40, nullptr},
        {"PNG cut short", png.left(png.indexOf("IDAT") + 20), ImageFormat::png, 40, "the output is cut short in its IDAT chunk"},
        {"PNG without IEND", png.chopped(12), ImageFormat::png, 40, "the output is cut short before its IEND chunk"},
        {"PNG with a bad CRC", badCrc, ImageFormat::png, 40, "the output's IDAT chunk fails its CRC check"},
        {"PNG of another size", png, ImageFormat::png, 39, "the output is 40 \u00D7 24 pixels instead of 39 \u00D7 24"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<QString> problem = ToolOutputCheck::problem(c.bytes, c.format, c.width, 24);
        if (!c.problem)
            EXPECT_EQ(problem, std::nullopt) << problem->toStdString();
        else if (!problem)
            ADD_FAILURE() << "no problem found";
        else
            EXPECT_TRUE(problem->startsWith(QString::fromUtf8(c.problem))) << problem->toStdString();
    }
}

} // namespace
