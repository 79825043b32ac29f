// Before any Qt header: glib's headers use "signals" as a name, which Qt defines.
#include "Vips.h"

#include "OptimiserTool.h"

#include "BundledBinaries.h"
#include "CompressionError.h"
#include "EngineSupport.h"
#include "ImageDimensions.h"
#include "JobCancellation.h"
#include "ToolOutputCheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringDecoder>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <functional>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace vantro {

namespace {

// The standard error text of a failed tool: its bytes as UTF-8, unchanged, or
// "unknown error" when they are not valid UTF-8.
QString errorText(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return QStringLiteral("unknown error");
    return text;
}

// How long a wait for a tool lasts before the job's stop flag is looked at.
constexpr int kWaitSliceMs = 50;

// The address space a tool may take for an image of the given pixel count.
// Measured peaks at the full pixel budget (16384 x 16384): jpegtran 4.0 GB for
// a 4:4:4 photo (15 bytes a pixel); oxipng 4.3 GB for 8-bit RGBA (16 bytes a
// pixel) and 23.2 GB for 16-bit RGBA (87 bytes a pixel), the worst case. A
// tiny image needs less than 256 MB. The limit is 2 GiB plus 128 bytes a
// pixel: half as much again as the worst measured need, yet only some 5 GB for
// a 24-megapixel photo, so a file whose header understates what a tool will
// allocate makes the tool fail instead of taking the machine's memory.
rlim_t addressSpaceFor(int64_t width, int64_t height)
{
    constexpr rlim_t kBase = rlim_t{2} << 30;
    constexpr rlim_t kPerPixel = 128;
    return kBase + static_cast<rlim_t>(width) * static_cast<rlim_t>(height) * kPerPixel;
}

// Runs in the child between fork and exec, so only async-signal-safe calls.
// The tool dies with the thread that started it, also when the program is
// killed, and never takes more address space than addressSpace.
std::function<void()> limitChild(pid_t parent, rlim_t addressSpace)
{
    return [parent, addressSpace] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        // The parent may have gone before the request was made.
        if (::getppid() != parent)
            ::_exit(127);
        rlimit limit {};
        if (::getrlimit(RLIMIT_AS, &limit) == 0) {
            limit.rlim_cur = std::min(limit.rlim_cur, addressSpace);
            limit.rlim_max = std::min(limit.rlim_max, addressSpace);
            ::setrlimit(RLIMIT_AS, &limit);
        }
    };
}

} // namespace

QByteArray OptimiserTool::run(const QString& inputPath) const
{
    return run(inputPath, BundledBinaries::searchFolders());
}

QByteArray OptimiserTool::run(const QString& inputPath, const QStringList& bundleFolders) const
{
    const std::optional<QString> executable = BundledBinaries::url(resourceName, bundleFolders);
    if (!executable)
        throw CompressionError::encoderFailed(notFoundMessage);
    // A header can claim any size; the tool would try to hold all of it.
    const auto [width, height] = ImageDimensions::storedWithinBudget(inputPath);
    JobCancellation::throwIfRequested();

    // The output is a copy of the user's image: nobody else may read it while
    // the tool writes it, and the folder goes with everything in it on every
    // way out of this function.
    const QTemporaryDir folder(QDir(temporaryFolder()).filePath(QStringLiteral("vantro-XXXXXX")));
    if (!folder.isValid())
        throw CompressionError::encoderFailed(failurePrefix + QStringLiteral("cannot create its temporary folder (")
                                              + folder.errorString() + u')');
    const QString outputPath = temporaryFilePath(outputExtension, folder.path());

    // Starting libvips sets an environment variable. A child started while
    // another thread does that can read a half-updated environment and fail
    // to start, so libvips is up before any tool runs.
    vips::ensureStarted();
    QProcess process;
    process.setProgram(*executable);
    process.setArguments(arguments(outputPath, inputPath));
    process.setInputChannelMode(QProcess::ForwardedInputChannel);
    process.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    process.setChildProcessModifier(limitChild(::getpid(), addressSpaceFor(width, height)));
    process.start();
    if (!process.waitForStarted(-1))
        throw CompressionError::encoderFailed(failurePrefix + QStringLiteral("could not start (")
                                              + process.errorString() + u')');

    // QProcess drains standard error while it waits, so a talkative tool never
    // blocks on a full pipe. There is no time-out; the short slices only let a
    // job that was told to stop end its tool at once.
    while (process.state() != QProcess::NotRunning) {
        if (JobCancellation::requested()) {
            process.kill();
            process.waitForFinished(-1);
            throw JobCancelled();
        }
        process.waitForFinished(kWaitSliceMs);
    }
    const QByteArray errorOutput = process.readAllStandardError();
    // What was wrong, then what the tool said about it, if anything.
    const auto failed = [&](const QString& problem) {
        QString message = failurePrefix + problem;
        if (!errorOutput.isEmpty())
            message += QStringLiteral(": ") + errorText(errorOutput);
        return CompressionError::encoderFailed(message);
    };

    if (process.exitStatus() == QProcess::CrashExit)
        throw failed(QStringLiteral("crashed"));
    if (process.exitCode() != 0)
        throw CompressionError::encoderFailed(failurePrefix + errorText(errorOutput));

    // Success without a result must not become an empty file over the user's.
    if (!QFileInfo::exists(outputPath))
        throw failed(QStringLiteral("no output was written"));
    QByteArray data = readWholeFile(outputPath);
    if (data.isEmpty())
        throw failed(QStringLiteral("no output was written"));
    if (const std::optional<QString> problem = ToolOutputCheck::problem(data, format, width, height))
        throw failed(*problem);
    return data;
}

} // namespace vantro
