#pragma once

#include <QString>

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
                     std::function<void(std::optional<QString>)> done)
        = 0;

    // A window-modal dialog.
    static TextPrompt& dialog();
};

} // namespace vantro
