#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Finds the executables that ship with the engine in the folder
// "Vantro_CompressionEngine.bundle" beside the running program (build tree,
// install tree, tests and benchmarks alike), then at the build-time location.
namespace vantro::BundledBinaries {

// The bundle folders in the order they are searched.
QStringList searchFolders();

// The path of an executable regular file named resourceName in the first
// bundle folder that holds one; nothing when none does. On Linux there is no
// URL type for local files: despite its name, `url` returns a plain file path.
std::optional<QString> url(const QString& resourceName);
std::optional<QString> url(const QString& resourceName, const QStringList& folders);

} // namespace vantro::BundledBinaries
