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

private:
    AppSettings& m_settings;
    TextPrompt& m_prompt;
};

} // namespace vantro
