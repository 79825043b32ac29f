#include "FileChooser.h"

#include <QAbstractItemView>
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
// confirms, folders included; a double-click still opens a folder, and so
// does a folder typed into the name field.
class FilesAndFoldersDialog final : public QFileDialog {
public:
    explicit FilesAndFoldersDialog(QWidget* parent) : QFileDialog(parent)
    {
        setOption(QFileDialog::DontUseNativeDialog);
        setFileMode(QFileDialog::ExistingFiles);
        setAcceptMode(QFileDialog::AcceptOpen);
    }

    const QStringList& chosen() const { return m_chosen; }

    // Enter in the name field and the Open button both end here.
    void accept() override
    {
        auto* nameField = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        // A folder typed into the field is where the user wants to go, as
        // in every file dialog: taking it would queue a whole tree after a
        // gesture meant to move.
        const QString folder = nameField ? typedFolder(nameField->text()) : QString();
        if (!folder.isEmpty()) {
            setDirectory(folder);
            nameField->clear();
            // What typing selected on the way is not a choice.
            if (auto* list = findChild<QAbstractItemView*>(QStringLiteral("listView")))
                list->selectionModel()->clear();
            return;
        }
        const QStringList paths = selectedFiles();
        const bool allExist
            = std::all_of(paths.begin(), paths.end(), [](const QString& path) { return QFileInfo::exists(path); });
        if (paths.isEmpty() || !allExist) {
            // A typed name that is not there: the plain dialog tells the user.
            QFileDialog::accept();
            return;
        }
        m_chosen = paths;
        QDialog::accept();
    }

private:
    // The folder that the field's text names, as a file dialog reads a typed
    // location: a name or path from the folder shown, an absolute path, or
    // "~" for the home folder. Empty when it names no folder, or several
    // names are quoted.
    QString typedFolder(QString text) const
    {
        if (text.isEmpty() || text.contains(u'"'))
            return {};
        if (text == u'~' || text.startsWith(QStringLiteral("~/")))
            text.replace(0, 1, QDir::homePath());
        const QFileInfo folder(directory().absoluteFilePath(text));
        return folder.isDir() ? QDir::cleanPath(folder.absoluteFilePath()) : QString();
    }

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
