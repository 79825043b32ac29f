#pragma once

#include "BundledBinaries.h"
#include "ImageFormat.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace vantro {

// One run of an external optimiser on a JPEG or PNG file.
//
// The file's header is read first: a size beyond the pixel budget is refused
// as the decoders refuse it, before the tool starts. The tool writes its result
// into a folder of its own (owner-only where the file system keeps modes) in
// the temporary folder, so no other user can read a private image while it
// works; the folder is removed on every way out. The tool runs under an
// address-space limit sized from the image's pixel count and dies with the
// program. Its result is used only when it parses as a whole image of the
// source's size: an exit status of 0 proves nothing after a failed write. The
// folder is "vantro-<pid>-XXXXXX" and holds a lock while in use, so that those
// of processes that were killed can be told and removed.
struct OptimiserTool {
    QString resourceName; // "jpegtran", "oxipng"
    ImageFormat format; // what it reads and writes
    QString outputExtension; // ".jpg", ".png"
    QString notFoundMessage; // "jpegtran binary not found in bundle"
    QString failurePrefix; // "jpegtran failed: "
    // The tool's arguments for an output path and an input path.
    QStringList (*arguments)(const QString& outputPath, const QString& inputPath);

    // Returns the bytes the tool produced; never touches the input file.
    // Throws corruptFile when the input's header cannot be read ("Cannot read
    // image dimensions: ") and invalidConfiguration when it claims more than
    // the pixel budget ("Image too large"). Throws encoderFailed when the tool
    // is not found, its private folder cannot be made, it cannot start,
    // crashes (also when it hits the address-space limit), exits with a status
    // other than 0, writes no output or an output that is not a whole image of
    // the source's size: what was wrong, then the last line of the tool's
    // standard error when it gave any ("unknown error" when that is not
    // UTF-8); or, when the temporary folder has no room for the output, "could
    // not write its output to the temporary folder " + folder + ": " + the
    // system's reason, whatever the tool said. A file system error reading the
    // output is thrown as std::system_error. When the job is told to stop
    // (JobCancellation) the tool is killed and JobCancelled thrown.
    QByteArray run(const QString& inputPath) const;
    // The same, looking the tool up in the given bundle folders only.
    QByteArray run(const QString& inputPath, const QStringList& bundleFolders) const;
    // The same for an image held in memory, which is written into the tool's
    // private folder first; a failure to put it there (the folder included) is
    // ioFailure stagingFailure + the system's reason.
    QByteArray runOnData(const QByteArray& image, const QString& stagingFailure,
                         const QStringList& bundleFolders = BundledBinaries::searchFolders()) const;

    // Removes the private folders that killed processes left in the temporary
    // folder; the first call of a process for each temporary folder does the work.
    static void removeAbandonedFolders();

private:
    QByteArray run(QString inputPath, const QByteArray* image, const QString& stagingFailure,
                   const QStringList& bundleFolders) const;
};

} // namespace vantro
