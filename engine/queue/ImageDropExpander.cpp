#include "ImageDropExpander.h"

#include <QDir>
#include <QFileInfo>

namespace vantro {

namespace ImageDropExpander {

namespace {

// The text after the name's last full stop. A name whose only full stop leads
// it (".heic") is a hidden file without an extension.
QString pathExtension(const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0)
        return QString();
    return name.mid(dot + 1);
}

bool hasImageExtension(const QString& path)
{
    return supportedExtensions().contains(pathExtension(path).toLower());
}

// Depth first, each folder's entries in name order so that a walk gives the
// same order every time whatever the file system's own order is. Hidden
// entries are not listed at all (no QDir::Hidden), so hidden folders are not
// entered. Symbolic links are neither followed nor kept, which also keeps a
// link cycle from being walked forever.
void walk(const QString& folder, QStringList& found)
{
    const QFileInfoList entries
        = QDir(folder).entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& entry : entries) {
        if (entry.isSymLink())
            continue;
        if (entry.isDir())
            walk(entry.filePath(), found);
        else if (entry.isFile() && hasImageExtension(entry.filePath()))
            found.append(entry.filePath());
    }
}

} // namespace

const QSet<QString>& supportedExtensions()
{
    static const QSet<QString> extensions{
        QStringLiteral("jpg"),  QStringLiteral("jpeg"), QStringLiteral("png"),
        QStringLiteral("webp"), QStringLiteral("avif"), QStringLiteral("heic"),
    };
    return extensions;
}

QStringList expandToFiles(const QStringList& paths)
{
    QStringList found;
    for (const QString& path : paths) {
        // Follows a link given directly, as the user meant what it points to.
        const QFileInfo info(path);
        if (!info.exists())
            continue;
        if (info.isDir())
            walk(path, found);
        else if (hasImageExtension(path))
            found.append(path);
    }
    return found;
}

} // namespace ImageDropExpander

} // namespace vantro
