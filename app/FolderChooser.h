#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace vantro {

// Lets the user pick one folder, starting in `startFolder`; creating a folder
// is allowed. Returns when the chooser closes: the chosen folder's path, or
// nothing on cancel.
class FolderChooser {
public:
    virtual ~FolderChooser() = default;
    virtual std::optional<QString> chooseFolder(QWidget* parent, const QString& startFolder) = 0;

    static FolderChooser& dialog();
};

} // namespace vantro
