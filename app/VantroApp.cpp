#include "VantroApp.h"

#include "CompressionCoordinator.h"
#include "ContentView.h"
#include "DesktopActions.h"
#include "FileChooser.h"
#include "FolderChooser.h"
#include "Localization.h"
#include "SettingsPanelView.h"
#include "SymbolIcons.h"
#include "TerminationSignals.h"
#include "TextPrompt.h"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QLibraryInfo>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QTranslator>

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace vantro {

namespace {

const QString kOrganization = QStringLiteral("Vantro");
const QString kApplication = QStringLiteral("Vantro");
// The launcher entry's name, which desktops match the running windows to.
const QString kDesktopFileName = QStringLiteral("vantro");
// The main window's size and place; kept apart from the settings.
const QString kMainWindowGeometryKey = QStringLiteral("window.mainGeometry");

// The window title: the menu item's text without its trailing ellipsis.
QString settingsWindowTitle(const Strings& strings)
{
    QString title = strings.settingsHelp;
    if (title.endsWith(QChar(0x2026)))
        title.chop(1);
    return title;
}

QString helpMenuTitle(AppLanguage language)
{
    return language == AppLanguage::cs ? QStringLiteral(u"&N\u00E1pov\u011Bda") : QStringLiteral("&Help");
}

QString quitTitle(AppLanguage language)
{
    return language == AppLanguage::cs ? QStringLiteral(u"&Ukon\u010Dit") : QStringLiteral("&Quit");
}

// Qt's own texts (the file chooser, standard buttons, the text fields' menus)
// speak the interface's language too.
void installQtTranslations(QObject* owner)
{
    if (AppLanguage::current() != AppLanguage::cs)
        return;
    auto* translator = new QTranslator(owner);
    if (translator->load(QLocale(QLocale::Czech), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}

} // namespace

VantroApp::VantroApp()
    : VantroApp(DesktopActions::system(), TextPrompt::dialog(), FileChooser::dialog(), FolderChooser::dialog())
{
}

VantroApp::VantroApp(DesktopActions& desktop, TextPrompt& prompt, FileChooser& chooser, FolderChooser& folderChooser,
                     JobQueue::EngineFunction engine)
    : m_desktop(desktop)
    , m_prompt(prompt)
    , m_chooser(chooser)
    , m_folderChooser(folderChooser)
    , m_engine(std::move(engine))
    , m_defaults(kOrganization, kApplication)
    , m_settings(m_defaults)
{
    installQtTranslations(this);
    QApplication::setWindowIcon(SymbolIcons::applicationIcon());
    // The program ends when its main window closes (see quit()), whatever
    // other window is still open.
    QApplication::setQuitOnLastWindowClosed(false);
    // Logging out must not lose the window's place or leave the tools'
    // temporary folders behind.
    connect(new TerminationSignals(this), &TerminationSignals::received, this, &VantroApp::requestQuit);
}

VantroApp::~VantroApp() = default;

CompressionCoordinator& VantroApp::coordinator()
{
    // One coordinator for the run, made from the settings of this moment;
    // later changes reach its queue through the main window.
    if (!m_coordinator)
        m_coordinator = std::make_unique<CompressionCoordinator>(m_settings.currentCompressionSettings(), m_engine);
    return *m_coordinator;
}

void VantroApp::showMainWindow()
{
    if (!m_mainWindow) {
        m_mainWindow = std::make_unique<ContentView>(m_settings, coordinator(), m_desktop, m_prompt, m_chooser);
        m_mainWindow->setWindowTitle(kApplication);
        connect(m_mainWindow.get(), &ContentView::openSettingsRequested, this, &VantroApp::openSettings);
        // Queued: the window is gone from the screen before the work stops.
        connect(m_mainWindow.get(), &ContentView::closed, this, &VantroApp::quit, Qt::QueuedConnection);
        if (const std::optional<QByteArray> geometry = m_defaults.data(kMainWindowGeometryKey))
            m_mainWindow->restoreGeometry(*geometry);
        buildMenus(m_mainWindow->menuBar());
    }
    m_mainWindow->show();
    m_mainWindow->raise();
    m_mainWindow->activateWindow();
}

void VantroApp::openSettings()
{
    if (!m_settingsWindow) {
        m_settingsWindow = std::make_unique<SettingsPanelView>(m_settings, m_folderChooser);
        m_settingsWindow->setWindowTitle(settingsWindowTitle(Strings(AppLanguage::current())));
        buildMenus(m_settingsWindow->menuBar());
    }
    m_settingsWindow->show();
    m_settingsWindow->raise();
    m_settingsWindow->activateWindow();
}

void VantroApp::quit()
{
    if (m_quitting)
        return;
    m_quitting = true;
    if (m_mainWindow) {
        m_defaults.setData(kMainWindowGeometryKey, m_mainWindow->saveGeometry());
        m_mainWindow->hide();
    }
    if (m_settingsWindow)
        m_settingsWindow->close();
    // Nothing may go on out of sight: waiting jobs are cancelled and running
    // ones stopped, within about a second.
    if (m_coordinator)
        m_workAbandoned = !m_coordinator->queue().shutdown();
    QCoreApplication::quit();
}

void VantroApp::requestQuit()
{
    // The same way out as closing the main window.
    if (m_mainWindow)
        m_mainWindow->close();
    else
        quit();
}

void VantroApp::buildMenus(QMenuBar* bar)
{
    const Strings strings(AppLanguage::current());

    QMenu* appMenu = bar->addMenu(kApplication);
    QAction* settingsAction = appMenu->addAction(strings.settingsHelp);
    // The standard Preferences key is empty on Linux desktops.
    settingsAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    settingsAction->setMenuRole(QAction::PreferencesRole);
    connect(settingsAction, &QAction::triggered, this, &VantroApp::openSettings);
    appMenu->addSeparator();
    QAction* quitAction = appMenu->addAction(quitTitle(strings.language));
    quitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quitAction->setMenuRole(QAction::QuitRole);
    connect(quitAction, &QAction::triggered, this, &VantroApp::requestQuit);

    // The Help menu holds this one item and nothing else.
    QMenu* helpMenu = bar->addMenu(helpMenuTitle(strings.language));
    QAction* support = helpMenu->addAction(strings.supportOnKofi);
    connect(support, &QAction::triggered, this, [this] { m_desktop.openWebPage(kSupportPageUrl); });
}

int VantroApp::main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setOrganizationName(kOrganization);
    QApplication::setApplicationName(kApplication);
    QGuiApplication::setDesktopFileName(kDesktopFileName);

    int status = 0;
    bool workAbandoned = false;
    {
        VantroApp app;
        app.showMainWindow();
        status = QApplication::exec();
        workAbandoned = app.m_workAbandoned;
    }
    if (workAbandoned) {
        // An engine call that could not be interrupted still runs on its own
        // thread, and will place nothing. The settings were saved as the app
        // went; running the libraries' static destructors under that thread
        // could only crash it, so the process ends here.
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}

} // namespace vantro
