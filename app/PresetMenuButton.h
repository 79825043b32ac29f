#pragma once

#include <QToolButton>

namespace vantro {

class AppSettings;
class TextPrompt;

// The footer's pull-down of saved presets: apply one, save the current
// settings under a name, delete one. Its title names the preset the settings
// equal, if any; title, ticks and items follow every change of the settings.
class PresetMenuButton : public QToolButton {
    Q_OBJECT

public:
    PresetMenuButton(AppSettings& settings, TextPrompt& prompt, QWidget* parent = nullptr);

    // Rebuilds title, tooltip and items from the settings and the current
    // language.
    void refresh();

    // The "Save Current Settings…" item: asks for a name, prefilled with the
    // active preset's.
    void askToSavePreset();

    // The title in full: the button shows as much of it as fits.
    const QString& title() const { return m_title; }

    // As wide as the whole title asks.
    QSize sizeHint() const override;
    // Room for an ellipsis only.
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // The width the style gives the button around `shown`.
    int widthFor(const QString& shown) const;
    void showTitle();

    AppSettings& m_settings;
    TextPrompt& m_prompt;
    QString m_title;
    QString m_shown; // the part of the title on the button
};

} // namespace vantro
