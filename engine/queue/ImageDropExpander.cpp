#include "ImageDropExpander.h"

#include "FileNames.h"

#include <QFileInfo>

#include <algorithm>
#include <memory>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// The extension is ASCII, so a name with bytes that are not UTF-8 keeps it
// through decoding.
bool hasImageExtension(const QString& path)
{
    return supportedExtensions().contains(pathExtension(path).toLower());
}

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

struct Entry {
    QByteArray name;
    QString text;
    bool isFolder = false;
};

// Names are read as bytes: Qt's own listing leaves out every name that is not
// valid UTF-8, and with it everything inside such a folder. Depth first, each
// folder's entries in the order of their decoded names (as QDir::Name sorts;
// no two names decode alike) so that a walk gives the same order every time
// whatever the file system's own order is. Hidden entries are passed over, so
// hidden folders are not entered. Symbolic links are neither followed nor
// kept, which also keeps a link cycle from being walked forever. Takes over
// `folderFd`, and closes it before going deeper so that the depth of a tree
// costs no descriptors. `folderText` is the folder's path as decoded: a name
// decodes alike alone or within its path, so each name is decoded once.
void walk(int folderFd, const QByteArray& folder, const QString& folderText, QStringList& found)
{
    std::vector<Entry> entries;
    {
        const std::unique_ptr<DIR, DirCloser> dir(::fdopendir(folderFd));
        if (!dir) {
            ::close(folderFd);
            return;
        }
        while (const dirent* entry = ::readdir(dir.get())) {
            const QByteArray name(entry->d_name);
            struct stat info {};
            if (name.startsWith('.')
                || ::fstatat(::dirfd(dir.get()), name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            const QString decoded = FileNames::fromBytes(name);
            if (S_ISDIR(info.st_mode))
                entries.push_back({name, decoded, true});
            else if (S_ISREG(info.st_mode) && hasImageExtension(decoded))
                entries.push_back({name, decoded, false});
        }
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.text < b.text; });
    for (const Entry& entry : entries) {
        const QByteArray path = folder + '/' + entry.name;
        if (!entry.isFolder) {
            found.append(folderText + u'/' + entry.text);
        } else if (const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); fd >= 0) {
            walk(fd, path, folderText + u'/' + entry.text, found);
        }
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

QStringList expandToFiles(const QList<QByteArray>& paths)
{
    QStringList found;
    for (const QByteArray& path : paths) {
        // A NUL byte (a dropped "%00") would cut the path short at another file.
        if (path.isEmpty() || path.contains('\0'))
            continue;
        // An item that is not an absolute path (a file on another computer)
        // is no file here, nor one under the working folder: it is a job that
        // the engine fails saying so.
        if (!path.startsWith('/')) {
            found.append(FileNames::fromBytes(path));
            continue;
        }
        // Follows a link given directly, as the user meant what it points to.
        struct stat info {};
        if (::stat(path.constData(), &info) != 0)
            continue;
        if (S_ISDIR(info.st_mode)) {
            const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            QByteArray folder = path;
            while (folder.endsWith('/'))
                folder.chop(1);
            if (fd >= 0)
                walk(fd, folder, FileNames::fromBytes(folder), found);
        } else if (const QString text = FileNames::fromBytes(path); hasImageExtension(text)) {
            found.append(text);
        }
    }
    return found;
}

} // namespace ImageDropExpander

} // namespace vantro
