#pragma once

#include "AppSettings.h"
#include "DefaultsStore.h"
#include "JobQueue.h"

#include <QObject>

#include <memory>

class QMenuBar;

namespace vantro {

class CompressionCoordinator;
class ContentView;
class DesktopActions;
class FileChooser;
class FolderChooser;
class SettingsPanelView;
class TextPrompt;

// The application: the one settings object, the one coordinator (made when
// the main window first needs it, from the settings as they stand then), the
// main window, the Settings window and the menus. Lives for the program's run.
class VantroApp final : public QObject {
    Q_OBJECT

public:
    // Needs a QApplication. Loads the settings at once. The desktop, prompt,
    // choosers and engine are the real ones unless a test puts stand-ins in.
    VantroApp(DesktopActions& desktop, TextPrompt& prompt, FileChooser& chooser, FolderChooser& folderChooser,
              JobQueue::EngineFunction engine = {});
    VantroApp();
    ~VantroApp() override;

    // Builds the main window when there is none yet, and shows it.
    void showMainWindow();
    // The one Settings window of the run: made at the first call, shown and
    // raised at every call.
    void openSettings();
    // Ends the program, as closing the main window does: remembers the
    // window's geometry, closes the Settings window, shuts the queue down
    // (waiting jobs cancelled, running ones stopped, within about a second)
    // and leaves the event loop.
    void quit();
    // What Quit in the menu does, and the end of the session (SIGTERM) and
    // SIGINT and SIGHUP too: closes the main window, which ends the program.
    void requestQuit();

    AppSettings& settings() { return m_settings; }
    CompressionCoordinator& coordinator();
    // Null until showMainWindow().
    ContentView* mainWindow() const { return m_mainWindow.get(); }

    // The program: the application object, the main window, the event loop.
    static int main(int argc, char* argv[]);

private:
    // The same menus in every window's menu bar.
    void buildMenus(QMenuBar* bar);

    DesktopActions& m_desktop;
    TextPrompt& m_prompt;
    FileChooser& m_chooser;
    FolderChooser& m_folderChooser;
    const JobQueue::EngineFunction m_engine;
    // Declared in the order they must come into being; they go in reverse.
    QSettingsDefaultsStore m_defaults;
    AppSettings m_settings;
    std::unique_ptr<CompressionCoordinator> m_coordinator;
    std::unique_ptr<ContentView> m_mainWindow;
    std::unique_ptr<SettingsPanelView> m_settingsWindow;
    bool m_quitting = false;
    bool m_workAbandoned = false;
};

} // namespace vantro
