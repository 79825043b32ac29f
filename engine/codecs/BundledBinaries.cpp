#include "BundledBinaries.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace vantro::BundledBinaries {

namespace {

const QString kBundleName = QStringLiteral("Vantro_CompressionEngine.bundle");

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
        const QString beside = executableFolder();
        if (!beside.isEmpty())
            list << QDir(beside).filePath(kBundleName);
#ifdef VANTRO_BUILD_BUNDLE_DIR
        const QString built = QStringLiteral(VANTRO_BUILD_BUNDLE_DIR);
        if (!list.contains(built))
            list << built;
#endif
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
