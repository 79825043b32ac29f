#include "TestImages.h"

#include "BundledBinaries.h"
#include "CompressionError.h"
#include "JPEGEncoder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <optional>

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
        writeFile(input, "source bytes");
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
        EXPECT_EQ(readFile(input), "source bytes");
    }

    QTemporaryDir root;
    QString input;
    std::optional<EnvironmentOverride> temporaryFolder;
};

TEST_F(OptimiserToolTest, PassesTheArgumentsAndReturnsTheOutput)
{
    // The tool reports its arguments as its output.
    fakeTool("for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$5\"\n");
    const QStringList arguments = QString::fromUtf8(run()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(arguments.size(), 6);
    EXPECT_EQ(arguments.mid(0, 4), QStringList({"-copy", "none", "-optimize", "-outfile"}));
    const QFileInfo output(arguments[4]);
    EXPECT_EQ(output.absolutePath(), QFileInfo(tmp()).absoluteFilePath());
    EXPECT_TRUE(QRegularExpression("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.jpg$")
                    .match(output.fileName())
                    .hasMatch())
        << output.fileName().toStdString();
    EXPECT_EQ(arguments[5], input);
    expectNothingLeft();
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

TEST_F(OptimiserToolTest, SuccessWithoutOutputCrashesAndStartFailuresAreFailures)
{
    fakeTool("exit 0\n");
    EXPECT_EQ(errorOf([&] { run(); }), CompressionError::encoderFailed("jpegtran failed: no output was written"));
    fakeTool(": > \"$5\"\n");
    EXPECT_EQ(failure(), "jpegtran failed: no output was written");

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

TEST_F(OptimiserToolTest, LookupWantsAnExecutableFileInTheBundleFolders)
{
    EXPECT_EQ(errorOf([&] { run(); }), CompressionError::encoderFailed("jpegtran binary not found in bundle"));
    EXPECT_EQ(errorOf([&] { JPEGEncoder::losslessTool().run(input, {}); }),
              CompressionError::encoderFailed("jpegtran binary not found in bundle"));
    fakeTool("exit 0\n", "jpegtran", QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    EXPECT_EQ(BundledBinaries::url("jpegtran", {bundle()}), std::nullopt);
    QFile::remove(QDir(bundle()).filePath("jpegtran"));
    ASSERT_TRUE(QDir(bundle()).mkdir("jpegtran"));
    EXPECT_EQ(BundledBinaries::url("jpegtran", {bundle()}), std::nullopt);

    // The first folder that has it wins; folders without it are passed over.
    const QString second = root.filePath("second");
    ASSERT_TRUE(QDir().mkpath(second));
    QFile::copy("/bin/true", QDir(second).filePath("oxipng"));
    EXPECT_EQ(BundledBinaries::url("oxipng", {bundle(), second}), QDir(second).filePath("oxipng"));
    EXPECT_EQ(BundledBinaries::url("../second/oxipng", {bundle()}), std::nullopt);
    expectNothingLeft();
}

TEST_F(OptimiserToolTest, TheBuildShipsBothTools)
{
    const auto jpegtran = BundledBinaries::url("jpegtran");
    const auto oxipng = BundledBinaries::url("oxipng");
    ASSERT_TRUE(jpegtran);
    ASSERT_TRUE(oxipng);
    EXPECT_EQ(QFileInfo(*jpegtran).dir().dirName(), "Vantro_CompressionEngine.bundle");
    EXPECT_EQ(BundledBinaries::url("no-such-tool"), std::nullopt);
}

} // namespace
