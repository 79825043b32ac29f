#pragma once

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

namespace vantro {

// Turns dropped or chosen files and folders into the image files to compress.
namespace ImageDropExpander {

// Lower-case file extensions taken in.
const QSet<QString>& supportedExtensions();

// Files given directly are kept when their extension is an image's, hidden or
// not; folders are walked recursively, leaving out hidden entries and
// everything that is not a regular file (symbolic links included). Results
// keep the input order, a folder's files at the folder's place. Paths that do
// not exist and folders that cannot be read are skipped silently; nothing is
// sorted or de-duplicated. An item that is not an absolute path is listed as
// it is, without looking for it: the engine fails it.
//
// Paths come in as the bytes the file system knows them by and go out as
// FileNames::fromBytes decodes them. A name that is not valid UTF-8 is still
// listed, under a text of its own, so that it reaches the queue as a job the
// engine fails instead of vanishing from the batch or standing for another file.
QStringList expandToFiles(const QList<QByteArray>& paths);

} // namespace ImageDropExpander

} // namespace vantro
