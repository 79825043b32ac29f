#include "TextPrompt.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

namespace vantro {

namespace {

constexpr int kMinimumWidth = 320;
constexpr int kTitleBarRoom = 160;

class DialogTextPrompt final : public TextPrompt {
public:
    void ask(QWidget* parent, const TextPromptTexts& texts, const QString& initialText,
             std::function<void(std::optional<QString>)> done) override
    {
        auto* dialog = new QDialog(parent);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
        dialog->setWindowTitle(texts.title);

        auto* layout = new QVBoxLayout(dialog);
        auto* title = new QLabel(texts.title, dialog);
        QFont bold = title->font();
        bold.setBold(true);
        title->setFont(bold);
        layout->addWidget(title);
        // Wide enough for the title whole, also in the window manager's title
        // bar beside its buttons (the Czech titles are the long ones).
        dialog->setMinimumWidth(
            std::max(kMinimumWidth, QFontMetrics(bold).horizontalAdvance(texts.title) + kTitleBarRoom));
        if (!texts.message.isEmpty()) {
            auto* message = new QLabel(texts.message, dialog);
            message->setWordWrap(true);
            layout->addWidget(message);
        }
        auto* field = new QLineEdit(initialText, dialog);
        field->setPlaceholderText(texts.fieldLabel);
        field->setAccessibleName(texts.fieldLabel);
        field->selectAll();
        layout->addWidget(field);

        auto* buttons = new QDialogButtonBox(dialog);
        buttons->addButton(texts.acceptButton, QDialogButtonBox::AcceptRole)->setDefault(true);
        buttons->addButton(texts.cancelButton, QDialogButtonBox::RejectRole);
        layout->addWidget(buttons);
        QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
        QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);

        // Exactly one answer, whichever way the dialog ends.
        auto answer = std::make_shared<std::function<void(std::optional<QString>)>>(std::move(done));
        QObject::connect(dialog, &QDialog::finished, dialog, [answer, field](int result) {
            if (!*answer)
                return;
            auto call = std::move(*answer);
            *answer = nullptr;
            call(result == QDialog::Accepted ? std::optional<QString>(field->text()) : std::nullopt);
        });
        dialog->open();
    }
};

} // namespace

TextPrompt& TextPrompt::dialog()
{
    static DialogTextPrompt prompt;
    return prompt;
}

} // namespace vantro
