#pragma once

#include "CompressionSettings.h"
#include "ImageFormat.h"
#include "RenamingMode.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <stdexcept>
#include <sys/types.h>

namespace vantro {

// A file that could not be moved to the Trash; its text names the file and the reason.
class TrashError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Puts the bytes of a finished file on disk without ever overwriting a file it
// did not mean to: a new name is claimed by exclusive creation before the bytes
// are written atomically into it, and an in-place replacement is one rename of a
// complete staging file over the source. A new file gets mode 0644 narrowed to
// the source's permission bits, so a private source never gives a readable copy.
// Holds nothing but the backup root, so several threads may place outputs at
// once; exclusive creation is the only guard between them.
class OutputPlacement {
public:
    explicit OutputPlacement(QString backupRoot = defaultBackupRoot());

    // ".vantro/backup" in the current user's home folder.
    static QString defaultBackupRoot();
    const QString& backupRoot() const { return m_backupRoot; }

    // Same-format output. Returns the absolute output path (the source itself in place,
    // even when it is a symbolic link: the file it points to is the one replaced and backed up).
    QString writeOutput(const QByteArray& bytes, const QString& originalPath, const OutputMode& outputMode,
                        const RenamingMode& renaming, int64_t sequenceDigits,
                        const QString& sequenceSeparator) const;

    // Converted output: always a new file, never a backup or a replacement of the source.
    QString writeConversionOutput(const QByteArray& bytes, const QString& originalPath,
                                  const OutputMode& outputMode, ImageFormat targetFormat,
                                  const RenamingMode& renaming, int64_t sequenceDigits,
                                  const QString& sequenceSeparator) const;

    // Copies the source to the same path mirrored under the backup root, replacing
    // an earlier backup of that path in one rename.
    void backupOriginal(const QString& sourcePath) const;

    static void ensureCustomFolderExists(const QString& folder);

    // True when an empty file of that name was created with exactly `mode`; false
    // when any entry of that name (file, folder, symbolic link, broken or not) already exists.
    static bool reserveNewFile(const QString& path, mode_t mode);

    // Atomic write over a reservation; a failure removes the reservation.
    static void writeReservedOutput(const QByteArray& bytes, const QString& path, mode_t mode);

    // Writes a temporary file of exactly `mode` beside `path`, flushes it and renames it over `path`.
    static void writeAtomically(const QByteArray& bytes, const QString& path, mode_t mode);

    // Moves each file to the freedesktop Trash, stopping at the first failure
    // (TrashError). Never deletes.
    static void recycleViaWorkspace(const QStringList& paths);

private:
    QString m_backupRoot;
};

} // namespace vantro
