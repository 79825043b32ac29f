#include "OutputPlacement.h"

#include "CompressionError.h"
#include "EngineSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUuid>

#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace vantro {

namespace {

constexpr int kCandidateLimit = 1000;

QString errorText(int error)
{
    return QString::fromStdString(std::generic_category().message(error));
}

QByteArray nativePath(const QString& path)
{
    return QFile::encodeName(path);
}

void removeQuietly(const QString& path)
{
    ::unlink(nativePath(path).constData());
}

QString joinPath(const QString& folder, const QString& name)
{
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

QString folderOf(const QString& path)
{
    return QFileInfo(path).absolutePath();
}

// A fresh name per use, so staging files of parallel jobs never meet.
QString stagingPathIn(const QString& folder)
{
    return joinPath(folder, QStringLiteral(".vantro-tmp-") + QUuid::createUuid().toString(QUuid::WithoutBraces));
}

// The stem is the name without its last extension; a leading dot does not start one.
struct NameParts {
    QString stem;
    QString extension;
};

NameParts splitName(const QString& fileName)
{
    const qsizetype dot = fileName.lastIndexOf(u'.');
    if (dot <= 0)
        return {fileName, QString()};
    return {fileName.left(dot), fileName.mid(dot + 1)};
}

QString conversionExtension(ImageFormat format)
{
    switch (format) {
    case ImageFormat::jpeg: return QStringLiteral("jpg");
    case ImageFormat::png: return QStringLiteral("png");
    case ImageFormat::webp: return QStringLiteral("webp");
    case ImageFormat::avif: return QStringLiteral("avif");
    case ImageFormat::heic: return QStringLiteral("heic");
    }
    return QString();
}

int openExclusive(const QByteArray& path, mode_t mode)
{
    int fd;
    do
        fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// Errors from fchown/fchmod that leave the file usable: only root may give a file
// away, and some file systems keep no owner or mode at all.
bool attributeNotKept(int error)
{
    return error == EPERM || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP || error == EINVAL;
}

// Sets `mode` exactly, whatever the umask. Returns 0 or the errno of a real failure.
int setMode(int fd, mode_t mode)
{
    return ::fchmod(fd, mode) != 0 && !attributeNotKept(errno) ? errno : 0;
}

// The process's umask, read once without changing it: umask() itself would
// set it, racing with files other threads create meanwhile.
mode_t processUmask()
{
    static const mode_t mask = [] {
        QFile status(QStringLiteral("/proc/self/status"));
        if (status.open(QIODevice::ReadOnly)) {
            for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
                if (line.startsWith("Umask:")) {
                    bool ok = false;
                    const uint value = line.mid(6).trimmed().toUInt(&ok, 8);
                    if (ok)
                        return static_cast<mode_t>(value & 0777);
                }
            }
        }
        return static_cast<mode_t>(022);
    }();
    return mask;
}

// New outputs are readable by others only when the source is, and never more
// than the user's umask allows.
mode_t newFileMode(const QString& source)
{
    struct stat info {};
    if (::stat(nativePath(source).constData(), &info) != 0)
        return 0600;
    return info.st_mode & 0644 & ~processUmask();
}

// The file a path finally names, so a replacement goes to it and not over a link to it.
QString realFileOf(const QString& path)
{
    const QString real = QFileInfo(path).canonicalFilePath();
    return real.isEmpty() ? path : real;
}

// Creates `path` exclusively with `mode` and writes every byte to disk. With
// `owner`, the file first takes that file's owner. It is created owner-only so a
// private file is never readable by others meanwhile. Returns 0 or the errno of
// the failing step; a failure removes the file.
int writeNewFile(const QString& path, const QByteArray& bytes, mode_t mode, const struct stat* owner = nullptr)
{
    const QByteArray native = nativePath(path);
    const int fd = openExclusive(native, 0600);
    if (fd < 0)
        return errno;

    int error = 0;
    if (owner && ::fchown(fd, owner->st_uid, owner->st_gid) != 0 && !attributeNotKept(errno))
        error = errno;
    else
        error = setMode(fd, mode);
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (error == 0 && left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            error = written < 0 ? errno : EIO;
            break;
        }
        data += written;
        left -= written;
    }
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0)
        ::unlink(native.constData());
    return error;
}

QString writeFailure(const QString& path, int error)
{
    return QStringLiteral("Failed to write ") + fileNameOf(path) + QStringLiteral(": ") + errorText(error);
}

// Returns 0 or an errno describing why the folder cannot be made.
int makePath(const QString& folder)
{
    errno = 0;
    if (QDir().mkpath(folder))
        return 0;
    return errno != 0 ? errno : EIO;
}

// Claims the first free candidate name by exclusive creation. A sequence renaming
// advances its number; any other base gets "-1" ... "-999".
QString reserveFreeName(const QString& folder, const QString& base, const QString& extension, mode_t mode,
                        const RenamingMode* sequence, int64_t sequenceDigits, const QString& sequenceSeparator)
{
    for (int k = 0; k < kCandidateLimit; ++k) {
        QString stem = base;
        if (sequence) {
            if (sequence->number() > std::numeric_limits<int64_t>::max() - k)
                break;
            stem = RenamingMode::sequence(sequence->base(), sequence->number() + k)
                       .renamedStem(QString(), sequenceDigits, sequenceSeparator)
                       .value_or(base);
        } else if (k > 0) {
            stem = base + u'-' + QString::number(k);
        }
        const QString candidate = joinPath(folder, stem + u'.' + extension);
        if (OutputPlacement::reserveNewFile(candidate, mode))
            return candidate;
    }
    throw CompressionError::ioFailure(QStringLiteral("Could not find a free output filename after ")
                                      + QString::number(kCandidateLimit) + QStringLiteral(" attempts"));
}

QString customFolderPath(const OutputMode& outputMode)
{
    const QString folder = QFileInfo(outputMode.folder()).absoluteFilePath();
    OutputPlacement::ensureCustomFolderExists(folder);
    return folder;
}

QString collisionMessage(const QString& kind, const QString& source)
{
    return kind + QStringLiteral(" output path collides with the original file at ") + fileNameOf(source)
        + QStringLiteral("; refusing to overwrite it");
}

// Claims a free name for a new output and writes the bytes into it, with a
// mode never more open than the source's.
QString placeNewFile(const QByteArray& bytes, const QString& source, const QString& folder, const QString& base,
                     const QString& extension, const RenamingMode* sequence, int64_t sequenceDigits,
                     const QString& sequenceSeparator)
{
    const mode_t mode = newFileMode(source);
    const QString output = reserveFreeName(folder, base, extension, mode, sequence, sequenceDigits, sequenceSeparator);
    OutputPlacement::writeReservedOutput(bytes, output, mode);
    return output;
}

} // namespace

OutputPlacement::OutputPlacement(QString backupRoot) : m_backupRoot(std::move(backupRoot)) {}

QString OutputPlacement::defaultBackupRoot()
{
    return QDir::homePath() + QStringLiteral("/.vantro/backup");
}

QString OutputPlacement::writeOutput(const QByteArray& bytes, const QString& originalPath,
                                     const OutputMode& outputMode, const RenamingMode& renaming,
                                     int64_t sequenceDigits, const QString& sequenceSeparator) const
{
    const QString source = QFileInfo(originalPath).absoluteFilePath();

    if (outputMode.kind() == OutputMode::Kind::inPlace) {
        // Through a symbolic link, the file it points to is the one replaced; the link stays.
        const QString target = realFileOf(source);
        if (outputMode.backup())
            backupOriginal(target);

        const QByteArray nativeTarget = nativePath(target);
        struct stat targetInfo {};
        if (::stat(nativeTarget.constData(), &targetInfo) != 0)
            throw CompressionError::ioFailure(QStringLiteral("Failed to replace original file: ") + errorText(errno));

        // The staging file is complete, and carries the target's owner and mode,
        // before it takes the target's name in one same-folder rename.
        const QString staging = stagingPathIn(folderOf(target));
        if (const int error = writeNewFile(staging, bytes, targetInfo.st_mode & 07777, &targetInfo))
            throw CompressionError::ioFailure(QStringLiteral("Failed to stage compressed output: ")
                                              + writeFailure(staging, error));
        if (::rename(nativePath(staging).constData(), nativeTarget.constData()) != 0) {
            const int error = errno;
            removeQuietly(staging);
            throw CompressionError::ioFailure(QStringLiteral("Failed to replace original file: ") + errorText(error));
        }
        return source;
    }

    const auto [stem, extension] = splitName(fileNameOf(source));
    const std::optional<QString> renamed = renaming.renamedStem(stem, sequenceDigits, sequenceSeparator);
    const QString base = renamed.value_or(stem + QStringLiteral("-optim"));
    const QString folder
        = outputMode.kind() == OutputMode::Kind::customFolder ? customFolderPath(outputMode) : folderOf(source);

    if (joinPath(folder, base + u'.' + extension) == source)
        throw CompressionError::invalidConfiguration(collisionMessage(QStringLiteral("Renamed"), source));

    const bool sequenceNaming = renamed && renaming.kind() == RenamingMode::Kind::sequence;
    return placeNewFile(bytes, source, folder, base, extension, sequenceNaming ? &renaming : nullptr, sequenceDigits,
                        sequenceSeparator);
}

QString OutputPlacement::writeConversionOutput(const QByteArray& bytes, const QString& originalPath,
                                               const OutputMode& outputMode, ImageFormat targetFormat,
                                               const RenamingMode& renaming, int64_t sequenceDigits,
                                               const QString& sequenceSeparator) const
{
    const QString source = QFileInfo(originalPath).absoluteFilePath();
    const QString extension = conversionExtension(targetFormat);
    const QString stem = splitName(fileNameOf(source)).stem;
    const QString folder
        = outputMode.kind() == OutputMode::Kind::customFolder ? customFolderPath(outputMode) : folderOf(source);

    // In place, the converted file stands beside the source under the same stem.
    const bool inPlace = outputMode.kind() == OutputMode::Kind::inPlace;
    const std::optional<QString> renamed
        = inPlace ? std::nullopt : renaming.renamedStem(stem, sequenceDigits, sequenceSeparator);
    const QString base = inPlace ? stem : renamed.value_or(stem + QStringLiteral("-optim"));

    if (joinPath(folder, base + u'.' + extension) == source)
        throw CompressionError::ioFailure(collisionMessage(QStringLiteral("Conversion"), source));

    const bool sequenceNaming = renamed && renaming.kind() == RenamingMode::Kind::sequence;
    return placeNewFile(bytes, source, folder, base, extension, sequenceNaming ? &renaming : nullptr, sequenceDigits,
                        sequenceSeparator);
}

void OutputPlacement::backupOriginal(const QString& sourcePath) const
{
    const QString source = QFileInfo(sourcePath).absoluteFilePath();
    QString relative = QDir::cleanPath(folderOf(source));
    if (relative.startsWith(u'/'))
        relative.remove(0, 1);
    const QString folder = relative.isEmpty() ? m_backupRoot : joinPath(m_backupRoot, relative);
    if (const int error = makePath(folder))
        throw CompressionError::ioFailure(QStringLiteral("Failed to create backup directory: ") + errorText(error));

    const QString staging = stagingPathIn(folder);
    int error = 0;
    struct stat sourceInfo {};
    QByteArray original;
    if (::stat(nativePath(source).constData(), &sourceInfo) != 0) {
        error = errno;
    } else {
        try {
            original = readWholeFile(source);
        } catch (const std::system_error& e) {
            error = e.code().value();
        }
    }
    if (error == 0)
        error = writeNewFile(staging, original, sourceInfo.st_mode & 07777, &sourceInfo);
    if (error != 0)
        throw CompressionError::ioFailure(QStringLiteral("Failed to stage backup copy: ") + errorText(error));

    // One rename puts the copy in place whether or not an earlier backup exists,
    // and keeps that earlier backup if it fails.
    const QString destination = joinPath(folder, fileNameOf(source));
    if (::rename(nativePath(staging).constData(), nativePath(destination).constData()) != 0) {
        error = errno;
        removeQuietly(staging);
        throw CompressionError::ioFailure(QStringLiteral("Failed to finalize backup: ") + errorText(error));
    }
}

void OutputPlacement::ensureCustomFolderExists(const QString& folder)
{
    if (const int error = makePath(folder))
        throw CompressionError::ioFailure(QStringLiteral("Failed to create destination folder ") + folder
                                          + QStringLiteral(": ") + errorText(error));
}

bool OutputPlacement::reserveNewFile(const QString& path, mode_t mode)
{
    const QByteArray native = nativePath(path);
    const int fd = openExclusive(native, mode);
    int error = fd >= 0 ? setMode(fd, mode) : errno;
    if (fd >= 0) {
        ::close(fd);
        if (error == 0)
            return true;
        ::unlink(native.constData());
    }
    if (error == EEXIST)
        return false;
    throw CompressionError::ioFailure(QStringLiteral("Failed to reserve output path ") + fileNameOf(path)
                                      + QStringLiteral(": ") + errorText(error));
}

void OutputPlacement::writeReservedOutput(const QByteArray& bytes, const QString& path, mode_t mode)
{
    try {
        writeAtomically(bytes, path, mode);
    } catch (const CompressionError&) {
        removeQuietly(path);
        throw;
    }
}

void OutputPlacement::writeAtomically(const QByteArray& bytes, const QString& path, mode_t mode)
{
    const QString temporary = stagingPathIn(folderOf(path));
    int error = writeNewFile(temporary, bytes, mode);
    if (error == 0 && ::rename(nativePath(temporary).constData(), nativePath(path).constData()) != 0) {
        error = errno;
        removeQuietly(temporary);
    }
    if (error != 0)
        throw CompressionError::ioFailure(writeFailure(path, error));
}

void OutputPlacement::recycleViaWorkspace(const QStringList& paths)
{
    // The home Trash lives in the user's data folder, which a fresh account may
    // not have yet; without it Qt cannot establish a Trash at all.
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));

    for (const QString& path : paths) {
        QFile file(path);
        QString reason;
        if (!file.moveToTrash()) {
            reason = file.errorString();
        } else if (QFileInfo(file.fileName()).isRelative()) {
            // With no Trash folder available, Qt "trashes" into files/ and info/
            // under the working folder and reports success. Put the file back.
            const QFileInfo moved(file.fileName());
            QFile::remove(moved.path() + QStringLiteral("/../info/") + moved.fileName()
                          + QStringLiteral(".trashinfo"));
            QFile::rename(moved.filePath(), path);
            reason = QStringLiteral("no Trash folder is available");
        } else {
            continue;
        }
        throw TrashError(QStringLiteral("\"%1\" could not be moved to the Trash: %2")
                             .arg(fileNameOf(path), reason)
                             .toStdString());
    }
}

} // namespace vantro
