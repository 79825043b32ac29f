#include "FileChooser.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>

#include <algorithm>
#include <memory>

namespace vantro {

namespace {

// Qt's own dialog chooses files or folders, not both. This one keeps its
// several-files mode and takes the selection as it stands when the user
// confirms, folders included; a double-click still opens a folder.
class FilesAndFoldersDialog final : public QFileDialog {
public:
    explicit FilesAndFoldersDialog(QWidget* parent) : QFileDialog(parent)
    {
        setOption(QFileDialog::DontUseNativeDialog);
        setFileMode(QFileDialog::ExistingFiles);
        setAcceptMode(QFileDialog::AcceptOpen);
    }

    const QStringList& chosen() const { return m_chosen; }

    void accept() override
    {
        const QStringList paths = selectedFiles();
        const auto* nameField = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        // ".." typed into the field means "go up", as in the plain dialog.
        const bool goingUp = nameField != nullptr && nameField->text() == QStringLiteral("..");
        const bool allExist
            = std::all_of(paths.begin(), paths.end(), [](const QString& path) { return QFileInfo::exists(path); });
        if (paths.isEmpty() || goingUp || !allExist) {
            // Navigation, or a typed name that is not there: the plain
            // dialog's handling moves or tells the user.
            QFileDialog::accept();
            return;
        }
        m_chosen = paths;
        QDialog::accept();
    }

private:
    QStringList m_chosen;
};

class DialogFileChooser final : public FileChooser {
public:
    void choose(QWidget* parent, std::function<void(QStringList)> done) override
    {
        auto* dialog = new FilesAndFoldersDialog(parent);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        // Where the user last chose from in this run, not the program's
        // working folder.
        dialog->setDirectory(m_lastFolder.isEmpty() ? QDir::homePath() : m_lastFolder);
        // Exactly one answer, whichever way the dialog ends.
        auto answer = std::make_shared<std::function<void(QStringList)>>(std::move(done));
        QObject::connect(dialog, &QDialog::finished, dialog, [this, answer, dialog](int result) {
            if (!*answer)
                return;
            if (result == QDialog::Accepted)
                m_lastFolder = dialog->directory().absolutePath();
            auto call = std::move(*answer);
            *answer = nullptr;
            call(result == QDialog::Accepted ? dialog->chosen() : QStringList());
        });
        dialog->open();
    }

private:
    QString m_lastFolder;
};

} // namespace

FileChooser& FileChooser::dialog()
{
    static DialogFileChooser chooser;
    return chooser;
}

} // namespace vantro
