#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Finds the executables that ship with the engine in their folder, reached
// from the running program's own folder: ../libexec/vantro in a default
// install and in the build tree alike. Nothing else is searched, so a program
// whose tools are missing fails its lossless jobs rather than running others.
namespace vantro::BundledBinaries {

// The folders searched, in order.
QStringList searchFolders();

// The path of an executable regular file named resourceName in the first
// bundle folder that holds one; nothing when none does. On Linux there is no
// URL type for local files: despite its name, `url` returns a plain file path.
std::optional<QString> url(const QString& resourceName);
std::optional<QString> url(const QString& resourceName, const QStringList& folders);

} // namespace vantro::BundledBinaries
