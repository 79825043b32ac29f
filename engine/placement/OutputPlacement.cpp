#include "OutputPlacement.h"

#include "CompressionError.h"
#include "EngineSupport.h"
#include "FileNames.h"
#include "JobCancellation.h"
#include "PlacementSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <system_error>
#include <unistd.h>

namespace vantro {

namespace {

QString folderOf(const QString& path)
{
    return QFileInfo(path).absolutePath();
}

QString conversionExtension(ImageFormat format)
{
    switch (format) {
    case ImageFormat::jpeg:
        return QStringLiteral("jpg");
    case ImageFormat::png:
        return QStringLiteral("png");
    case ImageFormat::webp:
        return QStringLiteral("webp");
    case ImageFormat::avif:
        return QStringLiteral("avif");
    case ImageFormat::heic:
        return QStringLiteral("heic");
    }
    return QString();
}

// Errors from fchown/fchmod that leave the file usable: only root may give a file
// away, and some file systems keep no owner or mode at all.
bool attributeNotKept(int error)
{
    return error == EPERM || error == EINVAL || unsupported(error);
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

// Reads a list or a value of extended attributes through `get`, which fills a
// buffer of the size given or, with size 0, tells the size needed; a value that
// grows between the two calls is read again.
template <typename Get>
ssize_t readAttribute(QByteArray& buffer, Get get)
{
    for (;;) {
        ssize_t size = get(nullptr, 0);
        if (size <= 0)
            return size;
        buffer.resize(size);
        size = get(buffer.data(), static_cast<size_t>(size));
        if (size >= 0 || errno != ERANGE) {
            if (size >= 0)
                buffer.resize(size);
            return size;
        }
    }
}

// The kernel keeps these namespaces for itself or for privileged users; a
// value it will not let us set is left behind rather than failing the file.
bool privilegedAttribute(const char* name)
{
    return std::strncmp(name, "security.", 9) == 0 || std::strncmp(name, "trusted.", 8) == 0;
}

constexpr const char* kAccessACL = "system.posix_acl_access";

// Gives `fd` exactly the extended attributes of `from`, POSIX access ACL
// included: one inherited from the folder's default ACL goes when the source
// has none. A file system without extended attributes is no error. Returns 0
// or the errno of a real failure.
int copyAttributes(const QByteArray& from, int fd)
{
    QByteArray names;
    if (readAttribute(names, [&](char* buffer, size_t size) { return ::listxattr(from.constData(), buffer, size); })
        < 0)
        return unsupported(errno) ? 0 : errno;

    bool hadACL = false;
    QByteArray value;
    for (const QByteArray& name : names.split('\0')) {
        if (name.isEmpty())
            continue;
        hadACL = hadACL || name == kAccessACL;
        if (readAttribute(
                value,
                [&](char* buffer, size_t size) { return ::getxattr(from.constData(), name.constData(), buffer, size); })
            < 0) {
            if (errno == ENODATA || unsupported(errno))
                continue;
            return errno;
        }
        if (::fsetxattr(fd, name.constData(), value.constData(), static_cast<size_t>(value.size()), 0) != 0
            && !unsupported(errno) && !((errno == EPERM || errno == EACCES) && privilegedAttribute(name.constData())))
            return errno;
    }
    if (!hadACL && ::fremovexattr(fd, kAccessACL) != 0 && errno != ENODATA && !unsupported(errno))
        return errno;
    return 0;
}

// How a staging file takes the place and attributes of an existing file.
struct SourceAttributes {
    struct stat owner {};
    QByteArray path;
};

// Whether a file without a name can be given one: only through /proc.
bool procLinkAvailable()
{
    static const bool available = ::access("/proc/self/fd", X_OK) == 0;
    return available;
}

// How open() refuses O_TMPFILE: a file system that cannot make a file without a
// name, or a kernel that does not know the flag (EISDIR).
bool unnamedRefused(int error)
{
    return error == EISDIR || error == EINVAL || error == ENOENT || unsupported(error);
}

// A hidden staging file is locked by its process while in use, so that one a
// killed process left can be told from one still in use.
const QRegularExpression kStagingName(QStringLiteral("^\\.vantro-tmp-[0-9]{1,10}-[0-9a-f-]{36}$"));

// The modification time that marks an empty file as a name this program
// reserved, for the one file system road where a final name exists, empty,
// before the complete file is renamed over it. Whole even seconds in 1980,
// after the first days of the year, so that FAT and exFAT keep it exactly
// whatever their time zone; no image is empty.
constexpr time_t kReservedTime = 315705600; // 1980-01-03 00:00:00 UTC

bool isDeadReservation(const struct stat& info)
{
    return info.st_size == 0 && info.st_mtim.tv_sec == kReservedTime && info.st_mtim.tv_nsec == 0;
}

QString stagingName()
{
    return QStringLiteral(".vantro-tmp-%1-%2")
        .arg(static_cast<qint64>(::getpid()))
        .arg(QUuid::createUuid().toString(QUuid::WithoutBraces));
}

// The complete bytes in the destination folder before any final name sees
// them: a file without a name where the file system can make one, so a killed
// run leaves nothing behind, else a hidden file. Either is removed on every way
// out unless it took a final name; what a killed run left in the folder goes
// before a new one is made there.
class StagingFile {
public:
    explicit StagingFile(const QString& folder) : m_folderPath(folder), m_folder(nativePath(folder))
    {
        removeAbandoned(folder, kStagingName, AbandonedEntry::file);
        newName();
    }
    ~StagingFile()
    {
        // Unlinked before its lock goes, so that no sweep takes it meanwhile.
        if (m_named && !m_placed)
            ::unlink(m_native.constData());
        if (m_fd >= 0)
            ::close(m_fd);
    }
    StagingFile(const StagingFile&) = delete;
    StagingFile& operator=(const StagingFile&) = delete;

    // Whether the file was made: a write that failed before is a folder that
    // takes no new file.
    bool created() const { return m_created; }

    // Writes every byte to disk with `mode`, or with the owner, mode and
    // extended attributes of `like`. It is created owner-only, so a private
    // file is never readable by others meanwhile. Returns 0 or the errno of the
    // failing step.
    int write(const QByteArray& bytes, mode_t mode, const SourceAttributes* like = nullptr)
    {
        m_fd = open();
        if (m_fd < 0)
            return errno;
        m_created = true;
        const int fd = m_fd;
        step(OutputPlacement::Step::stagingCreated);

        int error = 0;
        if (like && ::fchown(fd, like->owner.st_uid, like->owner.st_gid) != 0 && !attributeNotKept(errno))
            error = errno;
        if (error == 0 && like)
            error = copyAttributes(like->path, fd);
        // The mode last: it sets the mask of a copied ACL to what the source had.
        if (error == 0)
            error = setMode(fd, like ? like->owner.st_mode & 07777 : mode);
        if (error == 0)
            error = writeAll(fd, bytes);
        if (error == 0) {
            step(OutputPlacement::Step::stagingWritten);
            if (::fsync(fd) != 0)
                error = errno;
        }
        // The file stays open until it has its final name: the descriptor is
        // the only way to a name for a file without one, and holds the lock
        // that keeps sweeps off a hidden one.
        if (error == 0)
            step(OutputPlacement::Step::stagingSynced);
        return error;
    }

    // Gives the file the name `target` only where no entry of that name exists,
    // or where the entry is an empty name that a killed placement reserved.
    // Returns 0, EEXIST when the name is taken, or another errno.
    int claim(const QString& target)
    {
        JobCancellation::throwIfRequested();
        step(OutputPlacement::Step::claiming);
        const QByteArray native = nativePath(target);
        const int error = claimFree(native);
        if (error != EEXIST)
            return error;
        // Its lock is held until the rename has replaced it, so no other
        // placement can take the same name at the same time.
        const FileHandle reservation = lockUnused(AT_FDCWD, native, LockStrength::exclusive, isDeadReservation);
        if (reservation.get() < 0)
            return EEXIST;
        return takePlaceOf(native);
    }

    // Takes the place of `target` in one rename. Returns 0 or errno. A file
    // without a name takes its hidden name just before, so only a kill between
    // those two calls leaves it behind.
    int replace(const QString& target)
    {
        JobCancellation::throwIfRequested();
        step(OutputPlacement::Step::claiming);
        return takePlaceOf(nativePath(target));
    }

private:
    int takePlaceOf(const QByteArray& target)
    {
        if (!m_named) {
            if (::linkat(AT_FDCWD, descriptorPath().constData(), AT_FDCWD, m_native.constData(), AT_SYMLINK_FOLLOW)
                != 0)
                return errno;
            m_named = true;
            step(OutputPlacement::Step::linked);
        }
        if (::rename(m_native.constData(), target.constData()) != 0)
            return errno;
        m_placed = true;
        return 0;
    }

    int claimFree(const QByteArray& native)
    {
        if (!m_named)
            return ::linkat(AT_FDCWD, descriptorPath().constData(), AT_FDCWD, native.constData(), AT_SYMLINK_FOLLOW)
                    == 0
                ? 0
                : errno;
        if (const int error = renameWithoutReplacing(m_native, native); !featureRefused(error)) {
            m_placed = error == 0;
            return error;
        }
        // Neither: the name is created exclusively, empty, and the complete
        // file renamed over it, so the name never holds a part of it. Until
        // the rename the empty file is locked, and then marked as a
        // reservation, so that a kill in between leaves a name the next
        // placement recognises and takes over.
        const FileHandle reservation(openExclusive(native, 0600));
        if (reservation.get() < 0)
            return errno;
        if (markInUse(reservation.get())) {
            const timespec times[2]{{0, UTIME_OMIT}, {kReservedTime, 0}};
            ::futimens(reservation.get(), times);
        }
        step(OutputPlacement::Step::reserved);
        if (::rename(m_native.constData(), native.constData()) != 0) {
            const int error = errno;
            ::unlink(native.constData());
            return error;
        }
        m_placed = true;
        return 0;
    }

    // A file without a name in the folder, or the hidden file where the system
    // refuses one; locked as in use either way.
    int open()
    {
        if (!refused(OutputPlacement::Refusal::unnamedFiles) && procLinkAvailable()) {
            int fd;
            do
                fd = ::open(m_folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
            while (fd < 0 && errno == EINTR);
            if (fd >= 0)
                markInUse(fd);
            if (fd >= 0 || !unnamedRefused(errno))
                return fd;
        }
        // A sweep may take a hidden file between its creation and its lock,
        // and then removes it: that name is given up for a new one, and the
        // file removed if it is still there. Only the name tells: on NFS a
        // file removed while open here keeps its link count.
        for (int attempt = 1;; ++attempt) {
            const int fd = openExclusive(m_native, 0600);
            if (fd < 0)
                return fd;
            // Where the file system keeps no locks, no sweep can take it either.
            const bool taken = !markInUse(fd) && errno == EWOULDBLOCK;
            if ((!taken && stillNamed(AT_FDCWD, m_native, fd)) || attempt == 10) {
                m_named = true;
                return fd;
            }
            closeAndRemove(AT_FDCWD, m_native, fd);
            newName();
        }
    }

    void newName() { m_native = nativePath(joinPath(m_folderPath, stagingName())); }

    QByteArray descriptorPath() const { return "/proc/self/fd/" + QByteArray::number(m_fd); }

    QString m_folderPath;
    QByteArray m_folder;
    QByteArray m_native;
    int m_fd = -1;
    bool m_created = false;
    bool m_named = false;
    bool m_placed = false;
};

// The k-th backup name after a file's own: the whole name and ".~k~". Where
// that is longer than the folder takes, the stem gives way, cut at a character
// and followed by a short hash of the whole name, so that long names that
// start alike keep their backups apart.
QString numberedBackupName(const QString& name, int64_t k, qsizetype nameMax)
{
    const QString number = QStringLiteral(".~") + QString::number(k) + u'~';
    if (nativePath(name + number).size() <= nameMax)
        return name + number;
    const QString hash
        = QString::fromLatin1(QCryptographicHash::hash(nativePath(name), QCryptographicHash::Sha256).toHex().left(8));
    auto [stem, extension] = splitName(name);
    QString tail = u'~' + hash + (extension.isEmpty() ? QString() : u'.' + extension) + number;
    if (nativePath(tail).size() >= nameMax) {
        stem = name;
        tail = u'~' + hash + number;
    }
    return stemWithin(stem, nameMax - nativePath(tail).size()) + tail;
}

// The names a placement tries in turn: a sequence renaming advances its number;
// any other base gets "-1", "-2", ... before the suffix, or, for a backup,
// ".~1~", ".~2~", ... after the whole name.
struct CandidateNames {
    QString folder;
    QString base;
    QString suffix;
    const RenamingMode* sequence = nullptr;
    int64_t sequenceDigits = 0;
    QString sequenceSeparator;
    bool numberedBackup = false;
    qsizetype nameMax = 255;

    // The k-th candidate; none once a sequence number would overflow.
    std::optional<QString> at(int64_t k) const
    {
        QString stem = base;
        if (sequence) {
            if (sequence->number() > std::numeric_limits<int64_t>::max() - k)
                return std::nullopt;
            stem = RenamingMode::sequence(sequence->base(), sequence->number() + k)
                       .renamedStem(QString(), sequenceDigits, sequenceSeparator)
                       .value_or(base);
        } else if (k > 0 && numberedBackup) {
            return joinPath(folder, numberedBackupName(base + suffix, k, nameMax));
        } else if (k > 0) {
            stem = base + u'-' + QString::number(k);
        }
        return joinPath(folder, stem + suffix);
    }
};

// Gives the staged file the first free candidate name. Returns that path, or
// an empty one with `error` the errno that stopped the search on `failed`
// (0 when every candidate was taken).
QString claimFreeName(StagingFile& staging, const CandidateNames& names, int64_t limit, int& error, QString& failed)
{
    error = 0;
    for (int64_t k = 0; k < limit; ++k) {
        const std::optional<QString> candidate = names.at(k);
        if (!candidate)
            break;
        error = staging.claim(*candidate);
        if (error == 0)
            return *candidate;
        if (error != EEXIST) {
            failed = *candidate;
            return QString();
        }
        error = 0;
    }
    return QString();
}

QString writeFailure(const QString& path, int error)
{
    return QStringLiteral("Failed to write ") + fileNameOf(path) + QStringLiteral(": ") + errorText(error);
}

// Closes an existing backup root to other users. Earlier versions made the
// folders with the user's umask; closing the root hides every path and
// backup below it whatever their own modes. Only our own real folder is
// touched, never one a link leads to.
void closeToOthers(const QString& root)
{
    const FileHandle folder(::open(nativePath(root).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (folder.get() >= 0 && ::fstat(folder.get(), &info) == 0 && info.st_uid == ::geteuid()
        && (info.st_mode & 077) != 0)
        ::fchmod(folder.get(), info.st_mode & 07700);
}

// The folder is made from the path as given, and only then resolved: a ".."
// after a part still to be made is resolved by the kernel as it makes it.
QString customFolderPath(const OutputMode& outputMode)
{
    OutputPlacement::ensureCustomFolderExists(outputMode.folder());
    return QFileInfo(FileNames::kernelPath(outputMode.folder())).absoluteFilePath();
}

QString collisionMessage(const QString& kind, const QString& source)
{
    return kind + QStringLiteral(" output path collides with the original file at ") + fileNameOf(source)
        + QStringLiteral("; refusing to overwrite it");
}

// Stages the bytes beside their destination, then gives them the first free
// name, with a mode never more open than the source's.
QString placeNewFile(const QByteArray& bytes, const QString& source, const CandidateNames& names, int64_t limit)
{
    StagingFile staging(names.folder);
    if (const int error = staging.write(bytes, newFileMode(source))) {
        // The first candidate is the name the user would have got.
        const QString name = fileNameOf(names.at(0).value_or(names.folder));
        if (!staging.created())
            throw CompressionError::ioFailure(QStringLiteral("Failed to reserve output path ") + name
                                              + QStringLiteral(": ") + errorText(error));
        throw CompressionError::ioFailure(writeFailure(name, error));
    }

    int error = 0;
    QString failed;
    const QString output = claimFreeName(staging, names, limit, error, failed);
    if (!output.isEmpty())
        return output;
    if (error != 0)
        throw CompressionError::ioFailure(QStringLiteral("Failed to reserve output path ") + fileNameOf(failed)
                                          + QStringLiteral(": ") + errorText(error));
    throw CompressionError::ioFailure(QStringLiteral("Could not find a free output filename after ")
                                      + QString::number(limit) + QStringLiteral(" attempts"));
}

} // namespace

OutputPlacement::OutputPlacement(QString backupRoot, int64_t maxCollisionAttempts)
    : m_backupRoot(std::move(backupRoot))
    , m_maxCollisionAttempts(maxCollisionAttempts)
{
}

QString OutputPlacement::defaultBackupRoot()
{
    return homeFolder() + QStringLiteral("/.vantro/backup");
}

QString OutputPlacement::writeOutput(const QByteArray& bytes, const QString& originalPath, const OutputMode& outputMode,
                                     const RenamingMode& renaming, int64_t sequenceDigits,
                                     const QString& sequenceSeparator) const
{
    const QString source = QFileInfo(originalPath).absoluteFilePath();

    if (outputMode.kind() == OutputMode::Kind::inPlace) {
        // Through a symbolic link, the file it points to is the one replaced; the link stays.
        const QString target = realFileOf(source);
        if (outputMode.backup())
            backupOriginal(target);

        SourceAttributes attributes{{}, nativePath(target)};
        if (::stat(attributes.path.constData(), &attributes.owner) != 0)
            throw CompressionError::ioFailure(QStringLiteral("Failed to replace original file: ") + errorText(errno));

        // The staging file is complete, and carries the target's owner, mode and
        // attributes, before it takes the target's name in one same-folder rename.
        StagingFile staging(folderOf(target));
        if (const int error = staging.write(bytes, 0, &attributes))
            throw CompressionError::ioFailure(QStringLiteral("Failed to stage compressed output: ") + errorText(error));
        if (const int error = staging.replace(target))
            throw CompressionError::ioFailure(QStringLiteral("Failed to replace original file: ") + errorText(error));
        return source;
    }

    const auto [stem, extension] = splitName(fileNameOf(source));
    const std::optional<QString> renamed = renaming.renamedStem(stem, sequenceDigits, sequenceSeparator);
    const CandidateNames names{outputMode.kind() == OutputMode::Kind::customFolder ? customFolderPath(outputMode)
                                                                                   : folderOf(source),
                               renamed.value_or(stem + QStringLiteral("-optim")),
                               u'.' + extension,
                               renamed && renaming.kind() == RenamingMode::Kind::sequence ? &renaming : nullptr,
                               sequenceDigits,
                               sequenceSeparator};

    if (joinPath(names.folder, names.base + names.suffix) == source)
        throw CompressionError::invalidConfiguration(collisionMessage(QStringLiteral("Renamed"), source));
    return placeNewFile(bytes, source, names, m_maxCollisionAttempts);
}

QString OutputPlacement::writeConversionOutput(const QByteArray& bytes, const QString& originalPath,
                                               const OutputMode& outputMode, ImageFormat targetFormat,
                                               const RenamingMode& renaming, int64_t sequenceDigits,
                                               const QString& sequenceSeparator) const
{
    const QString source = QFileInfo(originalPath).absoluteFilePath();
    const QString stem = splitName(fileNameOf(source)).stem;

    // In place, the converted file stands beside the source under the same stem.
    const bool inPlace = outputMode.kind() == OutputMode::Kind::inPlace;
    const std::optional<QString> renamed
        = inPlace ? std::nullopt : renaming.renamedStem(stem, sequenceDigits, sequenceSeparator);
    const CandidateNames names{outputMode.kind() == OutputMode::Kind::customFolder ? customFolderPath(outputMode)
                                                                                   : folderOf(source),
                               inPlace ? stem : renamed.value_or(stem + QStringLiteral("-optim")),
                               u'.' + conversionExtension(targetFormat),
                               renamed && renaming.kind() == RenamingMode::Kind::sequence ? &renaming : nullptr,
                               sequenceDigits,
                               sequenceSeparator};

    if (joinPath(names.folder, names.base + names.suffix) == source)
        throw CompressionError::ioFailure(collisionMessage(QStringLiteral("Conversion"), source));
    return placeNewFile(bytes, source, names, m_maxCollisionAttempts);
}

QString OutputPlacement::backupOriginal(const QString& sourcePath) const
{
    const QString source = QFileInfo(sourcePath).absoluteFilePath();
    QString relative = QDir::cleanPath(folderOf(source));
    if (relative.startsWith(u'/'))
        relative.remove(0, 1);
    const QString folder = relative.isEmpty() ? m_backupRoot : joinPath(m_backupRoot, relative);
    if (const int error = makePath(folder, 0700))
        throw CompressionError::ioFailure(QStringLiteral("Failed to create backup directory: ") + errorText(error));
    closeToOthers(m_backupRoot);

    StagingFile staging(folder);
    int error = 0;
    SourceAttributes attributes{{}, nativePath(source)};
    QByteArray original;
    if (::stat(attributes.path.constData(), &attributes.owner) != 0) {
        error = errno;
    } else {
        try {
            original = readWholeFile(source);
        } catch (const std::system_error& e) {
            error = e.code().value();
        }
    }
    if (error == 0)
        error = staging.write(original, 0, &attributes);
    if (error != 0)
        throw CompressionError::ioFailure(QStringLiteral("Failed to stage backup copy: ") + errorText(error));

    // The backup keeps the source's own name when it is free; later backups
    // take numbered names, which no image's own name (its first backup's) ends with.
    const CandidateNames names{folder, fileNameOf(source), QString(), nullptr, 0, QString(), true, nameMaxOf(folder)};
    QString failed;
    const QString backup = claimFreeName(staging, names, m_maxCollisionAttempts, error, failed);
    if (!backup.isEmpty())
        return backup;
    throw CompressionError::ioFailure(QStringLiteral("Failed to finalize backup: ")
                                      + (error != 0 ? errorText(error)
                                                    : QStringLiteral("no free backup name after ")
                                                 + QString::number(m_maxCollisionAttempts)
                                                 + QStringLiteral(" attempts")));
}

void OutputPlacement::ensureCustomFolderExists(const QString& folder)
{
    if (const int error = makePath(folder, 0777))
        throw CompressionError::ioFailure(QStringLiteral("Failed to create destination folder ") + folder
                                          + QStringLiteral(": ") + errorText(error));
}

} // namespace vantro
