#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace vantro {

// Finds the executables that ship with the engine in the folder
// "Vantro_CompressionEngine.bundle" beside the running program (build tree,
// install tree, tests and benchmarks alike), then at the build-time location.
namespace BundledBinaries {

// The bundle folders in the order they are searched.
QStringList searchFolders();

// The path of an executable regular file named resourceName in the first
// bundle folder that holds one; nothing when none does.
std::optional<QString> url(const QString& resourceName);
std::optional<QString> url(const QString& resourceName, const QStringList& folders);

} // namespace BundledBinaries

// One run of an external optimiser: it writes its result to a fresh temporary
// file, which is read back and removed on every way out.
struct OptimiserTool {
    QString resourceName;      // "jpegtran", "oxipng"
    QString outputExtension;   // ".jpg", ".png"
    QString notFoundMessage;   // "jpegtran binary not found in bundle"
    QString failurePrefix;     // "jpegtran failed: "
    // The tool's arguments for an output path and an input path.
    QStringList (*arguments)(const QString& outputPath, const QString& inputPath);

    // Returns the bytes the tool produced; never touches the input file.
    // Throws CompressionError::encoderFailed when the tool is not found, cannot
    // start, crashes, exits with a status other than 0 (with its standard error
    // as UTF-8, or "unknown error") or writes no output; a file system error
    // reading the output is thrown as std::system_error.
    QByteArray run(const QString& inputPath) const;
    // The same, looking the tool up in the given bundle folders only.
    QByteArray run(const QString& inputPath, const QStringList& bundleFolders) const;
};

} // namespace vantro
