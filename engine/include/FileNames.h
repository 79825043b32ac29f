#pragma once

#include <QByteArray>
#include <QString>

namespace vantro {

// File names are bytes to the file system and text to the program. Qt decodes
// a byte that is not UTF-8 as U+FFFD, which makes several names one text, and
// the text of yet another file whose name holds U+FFFD itself. Here each such
// byte becomes a lone surrogate instead (U+DC80 to U+DCFF), which no valid
// name decodes to, so every name keeps a text of its own. Such a text leads
// to no file: Qt encodes a lone surrogate as U+FFFD (QFile::encodeName) or
// "?" (toUtf8), which makes it another file's name, so nothing may hand it to
// the file system.
namespace FileNames {

// The path as text: Qt's decoding of every part that is valid UTF-8, a
// leading byte order mark included, and a lone surrogate for each byte that
// is not.
QString fromBytes(const QByteArray& path);

// The bytes a path from fromBytes was made of: each lone surrogate gives back
// its byte. QFile::encodeName gives U+FFFD for it, and so the bytes of
// another name.
QByteArray toBytes(const QString& path);

// The path as the user sees it: U+FFFD for each byte that is not UTF-8.
QString shown(const QString& path);

// True when the path holds bytes that are not UTF-8, and so names no file.
bool isNotUTF8(const QString& path);

// The path with its part up to the last ".." resolved as the kernel resolves
// it: after a symbolic link, ".." leads up from the link's target. Qt and
// GLib take ".." off as text, and so name another file than the one the
// kernel opens. Kept as it is without "..", or where that part names nothing.
QString kernelPath(const QString& path);

} // namespace FileNames

} // namespace vantro
