// Before any Qt header: glib's headers use "signals" as a name, which Qt defines.
#include "Vips.h"

#include "BundledBinaries.h"

#include "CompressionError.h"
#include "EngineSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringDecoder>

namespace vantro {

namespace {

const QString kBundleName = QStringLiteral("Vantro_CompressionEngine.bundle");

QString executableFolder()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    const QString executable = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return executable.isEmpty() ? QString() : QFileInfo(executable).absolutePath();
}

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

} // namespace

namespace BundledBinaries {

QStringList searchFolders()
{
    // The executable does not move while it runs; computing this once also
    // keeps concurrent first calls from racing inside QCoreApplication.
    static const QStringList folders = [] {
        QStringList list;
        const QString beside = executableFolder();
        if (!beside.isEmpty())
            list << QDir(beside).filePath(kBundleName);
#ifdef VANTRO_BUILD_BUNDLE_DIR
        const QString built = QStringLiteral(VANTRO_BUILD_BUNDLE_DIR);
        if (!list.contains(built))
            list << built;
#endif
        return list;
    }();
    return folders;
}

std::optional<QString> url(const QString& resourceName)
{
    return url(resourceName, searchFolders());
}

std::optional<QString> url(const QString& resourceName, const QStringList& folders)
{
    if (resourceName.isEmpty() || resourceName.contains(u'/') || resourceName == u"." || resourceName == u"..")
        return std::nullopt;
    for (const QString& folder : folders) {
        if (folder.isEmpty())
            continue;
        const QFileInfo candidate(QDir(folder).filePath(resourceName));
        if (candidate.isFile() && candidate.isExecutable())
            return candidate.absoluteFilePath();
    }
    return std::nullopt;
}

} // namespace BundledBinaries

QByteArray OptimiserTool::run(const QString& inputPath) const
{
    return run(inputPath, BundledBinaries::searchFolders());
}

QByteArray OptimiserTool::run(const QString& inputPath, const QStringList& bundleFolders) const
{
    const std::optional<QString> executable = BundledBinaries::url(resourceName, bundleFolders);
    if (!executable)
        throw CompressionError::encoderFailed(notFoundMessage);

    // A fresh name per run, so concurrent runs never share a file.
    const QString outputPath = temporaryFilePath(outputExtension);
    struct Remover {
        QString path;
        ~Remover() { QFile::remove(path); }
    } remover{outputPath};

    // Starting libvips sets an environment variable. A child started while
    // another thread does that can read a half-updated environment and fail
    // to start, so libvips is up before any tool runs.
    vips::ensureStarted();
    QProcess process;
    process.setProgram(*executable);
    process.setArguments(arguments(outputPath, inputPath));
    process.setInputChannelMode(QProcess::ForwardedInputChannel);
    process.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    process.start();
    if (!process.waitForStarted(-1))
        throw CompressionError::encoderFailed(failurePrefix + QStringLiteral("could not start (")
                                              + process.errorString() + u')');

    // QProcess drains standard error while it waits, so a talkative tool never
    // blocks on a full pipe. There is no time-out.
    process.waitForFinished(-1);
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(-1);
        throw CompressionError::encoderFailed(failurePrefix + QStringLiteral("did not finish (")
                                              + process.errorString() + u')');
    }
    const QByteArray errorOutput = process.readAllStandardError();

    if (process.exitStatus() == QProcess::CrashExit) {
        QString message = failurePrefix + QStringLiteral("crashed");
        if (!errorOutput.isEmpty())
            message += QStringLiteral(": ") + errorText(errorOutput);
        throw CompressionError::encoderFailed(message);
    }
    if (process.exitCode() != 0)
        throw CompressionError::encoderFailed(failurePrefix + errorText(errorOutput));

    // Success without a result must not become an empty file over the user's.
    if (!QFileInfo::exists(outputPath))
        throw CompressionError::encoderFailed(failurePrefix + QStringLiteral("no output was written"));
    QByteArray data = readWholeFile(outputPath);
    if (data.isEmpty())
        throw CompressionError::encoderFailed(failurePrefix + QStringLiteral("no output was written"));
    return data;
}

} // namespace vantro
