#include "BundledBinaries.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace vantro::BundledBinaries {

namespace {

QString executableFolder()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    const QString executable = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return executable.isEmpty() ? QString() : QFileInfo(executable).absolutePath();
}

} // namespace

QStringList searchFolders()
{
    // The executable does not move while it runs; computing this once also
    // keeps concurrent first calls from racing inside QCoreApplication.
    static const QStringList folders = [] {
        QStringList list;
        const QString programFolder = executableFolder();
        if (!programFolder.isEmpty())
            list << QDir::cleanPath(QDir(programFolder).filePath(QStringLiteral(VANTRO_TOOLS_FROM_BINDIR)));
        return list;
    }();
    return folders;
}

std::optional<QString> url(const QString& resourceName)
{
    return url(resourceName, searchFolders());
}

std::optional<QString> url(const QString& resourceName, const QStringList& folders)
{
    if (resourceName.isEmpty() || resourceName.contains(u'/') || resourceName == u"." || resourceName == u"..")
        return std::nullopt;
    for (const QString& folder : folders) {
        if (folder.isEmpty())
            continue;
        const QFileInfo candidate(QDir(folder).filePath(resourceName));
        if (candidate.isFile() && candidate.isExecutable())
            return candidate.absoluteFilePath();
    }
    return std::nullopt;
}

} // namespace vantro::BundledBinaries
