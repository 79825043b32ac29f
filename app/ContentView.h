#pragma once

#include "CompressionSettings.h"
#include "SettingsPreset.h"

#include <QMainWindow>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace vantro {

class AppSettings;
class CompressionCoordinator;
class DesktopActions;
class DropZoneView;
class FileChooser;
class FooterView;
class JobListView;
class TextPrompt;

// The main window: the drop zone over the job list over the footer. It hands
// incoming files to the queue (or holds them for the export-name prompt),
// sends the job list's and the footer's commands to the queue, and sends the
// queue a fresh snapshot of the settings after each change of a setting that
// the engine reads.
//
// Every command reaches the queue through the GUI thread's event queue, one
// hop per command in the order they were given, and is dropped when the
// window is gone before its turn. The coordinator must outlive the window.
class ContentView final : public QMainWindow {
    Q_OBJECT

public:
    ContentView(AppSettings& settings, CompressionCoordinator& coordinator, DesktopActions& desktop, TextPrompt& prompt,
                FileChooser& chooser, QWidget* parent = nullptr);
    ~ContentView() override;

    // The image files of one drop or one confirmed choice, on the GUI thread.
    // With "ask for name before export" on and sequence renaming chosen, the
    // batch waits for the export-name prompt; a batch that arrives while the
    // prompt is open joins the one waiting there. Otherwise a non-empty batch
    // goes to the queue at once.
    void takeFiles(const QStringList& paths);

Q_SIGNALS:
    // The footer's settings button or a double-click on its summary.
    void openSettingsRequested();
    // After each snapshot of the settings has been handed to the queue.
    void settingsPushed(const vantro::CompressionSettings& settings);
    // The user closed the window.
    void closed();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void watchSettings();
    template <typename Signal, typename Field>
    void watch(Signal changed, Field SettingsValues::*field);
    void syncSettings();
    void exportNameAnswered(const std::optional<QString>& name);
    // Runs `command` on the GUI thread after what is already queued there,
    // unless the window is gone by then.
    void post(std::function<void()> command);

    AppSettings& m_settings;
    CompressionCoordinator& m_coordinator;
    TextPrompt& m_prompt;

    DropZoneView* m_dropZone = nullptr;
    JobListView* m_jobList = nullptr;
    FooterView* m_footer = nullptr;

    // The watched settings as last seen, so an assignment of an unchanged
    // value sends nothing.
    SettingsValues m_seen;

    bool m_isAskingExportName = false;
    QStringList m_pendingDropPaths;
    // Gone with this object's members, before its child widgets (and any
    // prompt among them) are destroyed.
    std::shared_ptr<int> m_lifetime = std::make_shared<int>(0);
};

} // namespace vantro
