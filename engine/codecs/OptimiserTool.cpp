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
#include <QRegularExpression>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace vantro {

namespace {

// The longest part of a tool's standard error that a failure message carries.
constexpr qsizetype kMaxToolLine = 500;

// What a failed tool last said: the last line of its standard error with
// anything in it, trimmed, without the program's own path in front, "unknown
// error" when the bytes are not valid UTF-8, or nothing. A progress log ends
// with what went wrong; the lines before it only bury that.
QString lastWords(const QByteArray& bytes, const QString& executable)
{
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return QStringLiteral("unknown error");
    const QStringList lines = text.split(u'\n');
    auto line = std::find_if(lines.rbegin(), lines.rend(), [](const QString& l) { return !l.trimmed().isEmpty(); });
    if (line == lines.rend())
        return QString();
    QString said = line->trimmed();
    for (const QString& name : {executable, QFileInfo(executable).fileName()}) {
        if (said.startsWith(name + QStringLiteral(": "))) {
            said = said.mid(name.size() + 2);
            break;
        }
    }
    if (said.size() > kMaxToolLine)
        said = said.left(kMaxToolLine) + QStringLiteral("\u2026");
    return said;
}

// Whether the folder could take a file of `size` bytes: 0, or why not (an
// errno of a full or limited file system). A tool that runs out of room says
// so in its own words, which may name another file (jpegtran names its input)
// or come after a whole progress log, if it says anything at all.
int noRoomFor(const QString& folder, int64_t size)
{
    size = std::max<int64_t>(size, 1);
    // Past the file-size limit, a write would end this process with SIGXFSZ.
    rlimit limit{};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
        && static_cast<rlim_t>(size) > limit.rlim_cur)
        return EFBIG;
    const QByteArray probe = QFile::encodeName(temporaryFilePath(QStringLiteral(".room"), folder));
    const FileHandle file(::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    int error = file.get() < 0 ? errno : ::posix_fallocate(file.get(), 0, static_cast<off_t>(size));
    if (file.get() >= 0)
        ::unlink(probe.constData());
    return error == ENOSPC || error == EDQUOT || error == EFBIG ? error : 0;
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
        rlimit limit{};
        if (::getrlimit(RLIMIT_AS, &limit) == 0) {
            limit.rlim_cur = std::min(limit.rlim_cur, addressSpace);
            limit.rlim_max = std::min(limit.rlim_max, addressSpace);
            ::setrlimit(RLIMIT_AS, &limit);
        }
    };
}

// A tool's private folder is "vantro-<pid>-XXXXXX"; its lock file, not the
// name, tells whether the process that made it is still there.
const QRegularExpression kPrivateFolderName(QStringLiteral("^vantro-[0-9]{1,10}-[A-Za-z0-9]{6}$"));

// Writes an image held in memory into the tool's private folder, owner-only
// and exclusively. Throws ioFailure stagingFailure + the system's reason.
void stageInput(const QString& path, const QByteArray& bytes, const QString& stagingFailure)
{
    const auto fail = [&](int error) {
        return CompressionError::ioFailure(stagingFailure
                                           + QString::fromStdString(std::generic_category().message(error)));
    };
    const FileHandle file(::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (file.get() < 0)
        throw fail(errno);
    const char* data = bytes.constData();
    auto remaining = static_cast<size_t>(bytes.size());
    while (remaining > 0) {
        const ssize_t written = ::write(file.get(), data, remaining);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            throw fail(errno);
        data += written;
        remaining -= static_cast<size_t>(written);
    }
}

} // namespace

void OptimiserTool::removeAbandonedFolders()
{
    removeAbandoned(temporaryFolder(), kPrivateFolderName, AbandonedEntry::folder);
}

QByteArray OptimiserTool::run(const QString& inputPath) const
{
    return run(inputPath, BundledBinaries::searchFolders());
}

QByteArray OptimiserTool::run(const QString& inputPath, const QStringList& bundleFolders) const
{
    return run(inputPath, nullptr, QString(), bundleFolders);
}

QByteArray OptimiserTool::runOnData(const QByteArray& image, const QString& stagingFailure,
                                    const QStringList& bundleFolders) const
{
    return run(QString(), &image, stagingFailure, bundleFolders);
}

QByteArray OptimiserTool::run(QString inputPath, const QByteArray* image, const QString& stagingFailure,
                              const QStringList& bundleFolders) const
{
    const std::optional<QString> executable = BundledBinaries::url(resourceName, bundleFolders);
    if (!executable)
        throw CompressionError::encoderFailed(notFoundMessage);
    // A header can claim any size; the tool would try to hold all of it.
    std::pair<int64_t, int64_t> size;
    if (!image)
        size = ImageDimensions::storedWithinBudget(inputPath);
    JobCancellation::throwIfRequested();

    // The output is a copy of the user's image: nobody else may read it while
    // the tool writes it, and the folder goes with everything in it on every
    // way out of this function.
    const QString temporary = temporaryFolder();
    removeAbandonedFolders();
    const AbandonableFolder folder(
        QDir(temporary).filePath(QStringLiteral("vantro-%1-XXXXXX").arg(static_cast<qint64>(::getpid()))));
    if (!folder.isValid() && image)
        throw CompressionError::ioFailure(stagingFailure + folder.errorString());
    if (!folder.isValid())
        throw CompressionError::encoderFailed(failurePrefix + QStringLiteral("cannot create its temporary folder (")
                                              + folder.errorString() + u')');
    const int64_t inputSize = image ? image->size() : QFileInfo(inputPath).size();
    if (image) {
        inputPath = temporaryFilePath(outputExtension, folder.path());
        stageInput(inputPath, *image, stagingFailure);
        size = ImageDimensions::storedWithinBudget(inputPath);
    }
    const auto [width, height] = size;
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
    // What was wrong, then what the tool last said about it, if anything; or
    // that the temporary folder had no room for the output, whatever the tool said.
    const auto failed = [&](const QString& problem) {
        if (const int error = noRoomFor(folder.path(), inputSize))
            return CompressionError::encoderFailed(
                failurePrefix + QStringLiteral("could not write its output to the temporary folder ") + temporary
                + QStringLiteral(": ") + QString::fromStdString(std::generic_category().message(error)));
        QString message = failurePrefix + problem;
        const QString said = lastWords(errorOutput, *executable);
        if (!said.isEmpty())
            message += (problem.isEmpty() ? QString() : QStringLiteral(": ")) + said;
        return CompressionError::encoderFailed(message);
    };

    if (process.exitStatus() == QProcess::CrashExit)
        throw failed(QStringLiteral("crashed"));
    if (process.exitCode() != 0)
        throw failed(QString());

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
