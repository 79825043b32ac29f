#pragma once

#include "AppSettings.h"

#include <QMainWindow>

#include <cstdint>
#include <memory>
#include <optional>

namespace vantro {

class FolderChooser;

// The Settings window: one form of labelled rows through which every setting
// is edited. The rows are made once and follow every change of the settings,
// whoever makes it: they show the current values, only the rows that apply and
// only the choices that may be made, and the window takes the height of the
// rows shown. Each choice, step and keystroke is written to the settings at
// once; disabling a choice never writes anything.
class SettingsPanelView final : public QMainWindow {
    Q_OBJECT

public:
    // Both must outlive the window.
    SettingsPanelView(AppSettings& settings, FolderChooser& folderChooser, QWidget* parent = nullptr);
    ~SettingsPanelView() override;

private:
    struct Private;

    void refresh();
    void chooseCustomFolder();

    // The first two names that sequence renaming gives, as shown under the
    // base-name field; the base as typed, or a placeholder when it is empty.
    static QString sequenceExample(const QString& base, int64_t digits,
                                   AppSettings::SequenceSeparatorOption separatorOption);
    static QString resizeModeLabel(AppSettings::ResizeModeOption option);
    // Nothing for `original`.
    static std::optional<QString> resizeCaption(AppSettings::ResizeModeOption option);
    static QString resizeValuePlaceholder(AppSettings::ResizeModeOption option);

    AppSettings& m_settings;
    FolderChooser& m_folderChooser;
    std::unique_ptr<Private> d;
};

} // namespace vantro
