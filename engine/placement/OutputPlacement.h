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
// did not mean to, and without a final name ever holding a partial file: the
// complete bytes go to a staging file in the destination folder first, which
// then takes a new name atomically and only where no entry of that name exists
// (so parallel jobs and existing files never lose data), or replaces the
// source in one rename. Where a file system can neither rename without
// replacing nor link, the new name is created exclusively and the staging file
// renamed over it; the empty name is locked meanwhile and then marked, so
// that one a kill left is taken over by the next placement that wants it. The
// staging file has no name where the file system allows (O_TMPFILE), so a
// killed run leaves no copy of an image behind; elsewhere it is a hidden
// ".vantro-tmp-<pid>-<uuid>" file, locked while in use, and a process's first
// placement in a folder removes those that no process holds. A new file gets mode 0644 narrowed
// to the source's permission bits, so a private source never gives a readable
// copy; a replacement and a backup keep the source's owner, mode and extended
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

    // Copies the source to its path mirrored under the backup root, whose
    // folders it creates owner-only. An earlier backup is never replaced, so
    // the source's own name holds its oldest backup, the real original; a
    // later one takes the first free numbered name after it (photo.jpg.~1~,
    // photo.jpg.~2~, ...), which no image's own name, and so no other image's
    // first backup, ends with; a name too long for the folder so numbered
    // has its stem shortened and a hash of the whole name added. Returns the
    // backup's path.
    QString backupOriginal(const QString& sourcePath) const;

    static void ensureCustomFolderExists(const QString& folder);

    // Moves each file to the freedesktop Trash, stopping at the first failure
    // (TrashError). Never deletes. A file goes to the Trash of its own file
    // system: the home Trash, never made in a home folder that does not
    // exist, else one at that file system's top, never one of a system file
    // system. Its information file is written whole before the file moves,
    // and the file moves only under a name that neither an information file
    // nor a file in the Trash holds, however many of its name the Trash holds
    // already, so a file manager can restore it and nothing in the Trash is
    // replaced; a name too long for the Trash is shortened there, its
    // extension kept.
    static void recycleViaWorkspace(const QStringList& paths);

    // The points between the steps of a placement, for tests that stop the
    // process or change the folder there: a staging file was created, filled,
    // flushed; a final name, or a name in the Trash, is about to be claimed
    // or a source replaced; a name was claimed by a hard link whose staging
    // name is not yet removed, or a staging file without a name took its
    // hidden name to replace a source; a final name was created empty for the
    // staging file to be renamed over it; a Trash folder of the user's own on
    // a drive is about to be made.
    enum class Step { stagingCreated, stagingWritten, stagingSynced, claiming, linked, reserved, trashFolder };
    // Tests only: called at every step when set.
    static inline void (*stepHook)(Step) = nullptr;

    // What a file system may refuse, each level also refusing all before it:
    // a file without a name (O_TMPFILE), a rename that must not replace, a
    // hard link.
    enum class Refusal { none, unnamedFiles, noReplaceRenames, hardLinks };
    // Tests only: placements meet these refusals, with the errors such file
    // systems give, on top of what the real one refuses.
    static inline Refusal simulatedRefusal = Refusal::none;

private:
    QString m_backupRoot;
    int64_t m_maxCollisionAttempts;
};

} // namespace vantro
