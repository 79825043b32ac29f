#pragma once

#include "CompressionSettings.h"
#include "ImageFormat.h"
#include "RenamingMode.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <stdexcept>

namespace vantro {

// A file that could not be moved to the Trash; its text names the file and the reason.
class TrashError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Puts the bytes of a finished file on disk without ever overwriting a file it
// did not mean to, and without a final name ever holding a partial or empty
// file: the complete bytes go to a staging file in the destination folder
// first, which then takes a new name atomically and only where no entry of that
// name exists (so parallel jobs and existing files never lose data), or
// replaces the source in one rename. The staging file has no name where the
// file system allows (O_TMPFILE), so a killed run leaves no copy of an image
// behind; elsewhere it is a hidden ".vantro-tmp-" file. A new file gets mode 0644 narrowed to the
// source's permission bits, so a private source never gives a readable copy; a
// replacement and a backup keep the source's owner, mode and extended
// attributes (POSIX ACLs included). Holds nothing but the backup root and the
// candidate limit, so several threads may place outputs at once.
class OutputPlacement {
public:
    // How many candidate names a new file or a backup tries before giving up.
    static constexpr int64_t defaultMaxCollisionAttempts = 1000;

    explicit OutputPlacement(QString backupRoot = defaultBackupRoot(),
                             int64_t maxCollisionAttempts = defaultMaxCollisionAttempts);

    // ".vantro/backup" in the current user's home folder.
    static QString defaultBackupRoot();
    const QString& backupRoot() const { return m_backupRoot; }
    int64_t maxCollisionAttempts() const { return m_maxCollisionAttempts; }

    // Same-format output. Returns the absolute output path (the source itself in place,
    // even when it is a symbolic link: the file it points to is the one replaced and backed up).
    QString writeOutput(const QByteArray& bytes, const QString& originalPath, const OutputMode& outputMode,
                        const RenamingMode& renaming, int64_t sequenceDigits, const QString& sequenceSeparator) const;

    // Converted output: always a new file, never a backup or a replacement of the source.
    QString writeConversionOutput(const QByteArray& bytes, const QString& originalPath, const OutputMode& outputMode,
                                  ImageFormat targetFormat, const RenamingMode& renaming, int64_t sequenceDigits,
                                  const QString& sequenceSeparator) const;

    // Copies the source to its path mirrored under the backup root. An earlier
    // backup is never replaced: a later one takes the next free name by the
    // rule of new outputs (photo.jpg, photo-1.jpg, ...). Returns the backup's path.
    QString backupOriginal(const QString& sourcePath) const;

    static void ensureCustomFolderExists(const QString& folder);

    // Moves each file to the freedesktop Trash, stopping at the first failure
    // (TrashError). Never deletes.
    static void recycleViaWorkspace(const QStringList& paths);

    // The points between the steps of a placement, for tests that stop the
    // process or change the folder there: a staging file was created, filled,
    // flushed; a final name is about to be claimed or a source replaced; a name
    // was claimed by a hard link whose staging name is not yet removed, or a
    // staging file without a name took its hidden name to replace a source.
    enum class Step { stagingCreated, stagingWritten, stagingSynced, claiming, linked };
    // Tests only: called at every step when set.
    static inline void (*stepHook)(Step) = nullptr;
    // Tests only: stages in a hidden file, as on a file system that cannot
    // make a file without a name.
    static inline bool forceNamedStaging = false;
    // Tests only: stages in a hidden file and claims names by link and unlink,
    // as on a file system that also refuses a rename that must not replace.
    static inline bool forceLinkClaim = false;

private:
    QString m_backupRoot;
    int64_t m_maxCollisionAttempts;
};

} // namespace vantro
