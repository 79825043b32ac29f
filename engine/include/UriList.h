#pragma once

#include <QByteArray>
#include <QList>

namespace vantro {

// Reads a drag's "text/uri-list".
namespace UriList {

// The files the list names, in its order, as the bytes the file system knows
// them by. The list is read as written, not through QUrl: QUrl decodes it as
// UTF-8, so a name whose bytes a drag source left unescaped would come out
// with U+FFFD and stand for another file, one whose name really holds it.
// Lines end in CRLF, or in LF or CR alone from some sources, and are taken
// without the spaces around them; "#" starts a comment. Items that are not "file:"
// URIs give nothing.
//
// A "file:" URI whose host is another computer's, or that holds no absolute
// path, names no file here, and is given as its line. That is no absolute
// path, so it becomes a job of its own that fails saying why, instead of
// standing for a local file that only looks like it ("file://nas/x.jpg" is
// no "/nas/x.jpg"). An escaped NUL is kept: no file can be named so, and the
// path must not stand for the shorter one before it.
QList<QByteArray> filePaths(const QByteArray& list);

// Whether an item filePaths gave as its line names another computer's file,
// rather than no path at all ("file:", "file://localhost").
bool namesAnotherComputer(const QByteArray& item);

} // namespace UriList

} // namespace vantro
