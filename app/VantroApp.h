#pragma once

#include "AppSettings.h"
#include "DefaultsStore.h"
#include "JobQueue.h"

#include <QObject>

#include <memory>

class QWidget;

namespace vantro {

class CompressionCoordinator;
class ContentView;
class DesktopActions;
class FileChooser;
class TextPrompt;

// The application: the one settings object, the one coordinator (made when
// the main window first needs it, from the settings as they stand then), the
// main window, the Settings window and the menus. Lives for the program's run.
class VantroApp final : public QObject {
    Q_OBJECT

public:
    // Needs a QApplication. Loads the settings at once. The desktop, prompt,
    // chooser and engine are the real ones unless a test puts stand-ins in.
    VantroApp(DesktopActions& desktop, TextPrompt& prompt, FileChooser& chooser,
              JobQueue::EngineFunction engine = {});
    VantroApp();
    ~VantroApp() override;

    // Builds the main window when there is none yet, and shows it.
    void showMainWindow();
    void openSettings();
    // Ends the program, as closing the main window does: remembers the
    // window's geometry, closes the Settings window, shuts the queue down
    // (waiting jobs cancelled, running ones stopped, within about a second)
    // and leaves the event loop.
    void quit();

    AppSettings& settings() { return m_settings; }
    CompressionCoordinator& coordinator();
    // Null until showMainWindow().
    ContentView* mainWindow() const { return m_mainWindow.get(); }

    // The program: the application object, the main window, the event loop.
    static int main(int argc, char* argv[]);

private:
    void buildMenus();

    DesktopActions& m_desktop;
    TextPrompt& m_prompt;
    FileChooser& m_chooser;
    const JobQueue::EngineFunction m_engine;
    // Declared in the order they must come into being; they go in reverse.
    QSettingsDefaultsStore m_defaults;
    AppSettings m_settings;
    std::unique_ptr<CompressionCoordinator> m_coordinator;
    std::unique_ptr<ContentView> m_mainWindow;
    std::unique_ptr<QWidget> m_settingsWindow;
    bool m_quitting = false;
};

} // namespace vantro
