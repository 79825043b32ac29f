#pragma once

// What output placement and the move to the Trash share: both give files new
// names that must never replace an entry, in folders whose name length and
// features vary with the file system.

#include "OutputPlacement.h"

#include <QByteArray>
#include <QString>

#include <sys/types.h>

namespace vantro {

QString errorText(int error);

QByteArray nativePath(const QString& path);

QString joinPath(const QString& folder, const QString& name);

// Calls the tests' step hook, when set.
void step(OutputPlacement::Step point);

// The stem is the name without its last extension; a leading dot does not start one.
struct NameParts {
    QString stem;
    QString extension;
};
NameParts splitName(const QString& fileName);

// The stem cut at a character, so that it takes at most `room` bytes.
QString stemWithin(QString stem, qsizetype room);

// The longest file name, in bytes, the folder takes.
qsizetype nameMaxOf(const QString& folder);

// Creates the file exclusively, never through a link. Returns the descriptor, or -1 with errno.
int openExclusive(const QByteArray& path, mode_t mode);

// Writes every byte, however the system splits the writes. Returns 0 or errno.
int writeAll(int fd, const QByteArray& bytes);

// Whether the error is a file system's refusal of an operation it does not do at all.
bool unsupported(int error);

// Whether the tests simulate a file system that refuses `what`.
bool refused(OutputPlacement::Refusal what);

// How a file system refuses a rename that must not replace, or a hard link,
// rather than failing the one asked for.
bool featureRefused(int error);

// Gives the entry `from` the name `to` only where no entry of that name
// exists: in one rename that never replaces or, where the file system refuses
// such a rename, by a hard link and then the removal of the old name (the
// link goes again when that removal fails). Returns 0, EEXIST when the name
// is taken, or another errno: one featureRefused() takes where the file
// system does neither.
int renameWithoutReplacing(const QByteArray& from, const QByteArray& to);

// Makes the folder and its missing parents as mkdir -p does, each new one
// with `mode` less the umask: 0700 where the folders show the paths and names
// of the user's images (backups, the Trash). Each part is handed to the
// kernel as it stands, so a ".." after a link leads up from the link's target
// even where the parts after the link are still to be made; cleaning the path
// as text first would make other folders than the kernel opens afterwards.
// Only what is missing is made: a folder that exists costs one look, not a
// call for each folder above it (a round trip each on a network share), and
// keeps its mode. Returns 0 or an errno describing why the folder cannot be
// made: a part that is a file, or a link that leads nowhere or in a loop.
int makePath(const QString& folder, mode_t mode);

// The user's home folder: HOME, or where that is unset or empty, the user
// database's; empty where that has none either. QDir::homePath() gives "/"
// then, which would put the user's Trash and backups at the system's top.
QString homeFolder();

} // namespace vantro
