#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QWidget;

namespace vantro {

// The texts of a prompt with one text field and two buttons.
struct TextPromptTexts {
    QString title;
    QString message;
    QString fieldLabel;
    QString acceptButton;
    QString cancelButton;
};

// Asks for one line of text without blocking: the answer arrives later through
// `done`, with the text on accept and nothing on cancel. No nested event loop.
class TextPrompt {
public:
    virtual ~TextPrompt() = default;
    virtual void ask(QWidget* parent, const TextPromptTexts& texts, const QString& initialText,
                     std::function<void(std::optional<QString>)> done) = 0;

    // A window-modal dialog.
    static TextPrompt& dialog();
};

// Lets the user choose files and folders, several at once, without blocking.
// `done` receives the chosen paths, or an empty list on cancel.
class FileChooser {
public:
    virtual ~FileChooser() = default;
    virtual void choose(QWidget* parent, std::function<void(QStringList)> done) = 0;

    static FileChooser& dialog();
};

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
