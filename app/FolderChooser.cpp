#include "FolderChooser.h"

#include <QFileDialog>

namespace vantro {

namespace {

class DialogFolderChooser final : public FolderChooser {
public:
    std::optional<QString> chooseFolder(QWidget* parent, const QString& startFolder) override
    {
        const QString folder = QFileDialog::getExistingDirectory(parent, QString(), startFolder);
        if (folder.isEmpty())
            return std::nullopt;
        return folder;
    }
};

} // namespace

FolderChooser& FolderChooser::dialog()
{
    static DialogFolderChooser chooser;
    return chooser;
}

} // namespace vantro
