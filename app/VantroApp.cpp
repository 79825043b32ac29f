#include "VantroApp.h"

#include "CompressionCoordinator.h"
#include "DesktopActions.h"
#include "Localization.h"
#include "MainWindow.h"
#include "Prompts.h"
#include "SettingsPanelView.h"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

namespace vantro {

namespace {

const QString kOrganization = QStringLiteral("Vantro");
const QString kApplication = QStringLiteral("Vantro");

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

} // namespace

VantroApp::VantroApp()
    : VantroApp(DesktopActions::system(), TextPrompt::dialog(), FileChooser::dialog(), FolderChooser::dialog())
{
}

VantroApp::VantroApp(DesktopActions& desktop, TextPrompt& prompt, FileChooser& chooser, FolderChooser& folderChooser)
    : m_desktop(desktop)
    , m_prompt(prompt)
    , m_chooser(chooser)
    , m_folderChooser(folderChooser)
    , m_defaults(kOrganization, kApplication)
    , m_settings(m_defaults)
{
}

VantroApp::~VantroApp() = default;

CompressionCoordinator& VantroApp::coordinator()
{
    // One coordinator for the run, made from the settings of this moment;
    // later changes reach its queue through the main window.
    if (!m_coordinator)
        m_coordinator = std::make_unique<CompressionCoordinator>(m_settings.currentCompressionSettings());
    return *m_coordinator;
}

void VantroApp::showMainWindow()
{
    if (!m_mainWindow) {
        m_mainWindow = std::make_unique<ContentView>(m_settings, coordinator(), m_desktop, m_prompt, m_chooser);
        m_mainWindow->setWindowTitle(kApplication);
        connect(m_mainWindow.get(), &ContentView::openSettingsRequested, this, &VantroApp::openSettings);
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

void VantroApp::buildMenus(QMenuBar* bar)
{
    const Strings strings(AppLanguage::current());

    QMenu* appMenu = bar->addMenu(kApplication);
    QAction* settingsAction = appMenu->addAction(strings.settingsHelp);
    settingsAction->setShortcut(QKeySequence::Preferences);
    settingsAction->setMenuRole(QAction::PreferencesRole);
    connect(settingsAction, &QAction::triggered, this, &VantroApp::openSettings);

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

    VantroApp app;
    app.showMainWindow();
    return QApplication::exec();
}

} // namespace vantro
