#include "ContentView.h"

#include "AppSettings.h"
#include "CompressionCoordinator.h"
#include "DropZoneView.h"
#include "FileChooser.h"
#include "FooterView.h"
#include "JobListView.h"
#include "Localization.h"
#include "SettingField.h"
#include "TextPrompt.h"

#include <QCloseEvent>
#include <QVBoxLayout>

#include <utility>

namespace vantro {

namespace {

constexpr int kMinimumWidth = 480;
constexpr int kMinimumHeight = 480;
constexpr int kDropZoneMinimumHeight = 90;
constexpr int kDropZoneMaximumHeight = 140;

} // namespace

ContentView::ContentView(AppSettings& settings, CompressionCoordinator& coordinator, DesktopActions& desktop,
                         TextPrompt& prompt, FileChooser& chooser, QWidget* parent)
    : QMainWindow(parent)
    , m_settings(settings)
    , m_coordinator(coordinator)
    , m_prompt(prompt)
    , m_seen(settings.currentValues())
{
    auto* content = new QWidget(this);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_dropZone = new DropZoneView(
        chooser, [this](const QStringList& files) { takeFiles(files); }, content);
    m_dropZone->setMinimumHeight(kDropZoneMinimumHeight);
    m_dropZone->setMaximumHeight(kDropZoneMaximumHeight);
    m_dropZone->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    // Equal shares with the list, so the zone reaches its full height as soon
    // as the list has as much, and the list takes all the rest.
    layout->addWidget(m_dropZone, 1);

    m_jobList = new JobListView(desktop, content);
    layout->addWidget(m_jobList, 1);

    m_footer = new FooterView(settings, desktop, prompt, content);
    layout->addWidget(m_footer);

    setCentralWidget(content);
    setMinimumSize(kMinimumWidth, kMinimumHeight);

    const JobList& jobs = coordinator.jobs();
    m_jobList->setJobs(jobs);
    m_footer->setJobCount(static_cast<qsizetype>(jobs.size()));
    connect(&coordinator, &CompressionCoordinator::jobsChanged, this, [this](const JobList& current) {
        m_jobList->setJobs(current);
        m_footer->setJobCount(static_cast<qsizetype>(current.size()));
    });

    connect(m_jobList, &JobListView::removeRequested, this, [this](const QSet<QUuid>& ids) {
        // Passed on whole: the queue keeps the jobs that are still running.
        post([this, ids] { m_coordinator.queue().removeJobs(ids); });
    });
    connect(m_jobList, &JobListView::clearFinishedRequested, this,
            [this] { post([this] { m_coordinator.queue().clearFinished(); }); });
    connect(m_footer, &FooterView::stopRequested, this,
            [this] { post([this] { m_coordinator.queue().cancelAll(); }); });
    connect(m_footer, &FooterView::openSettingsRequested, this, &ContentView::openSettingsRequested);

    watchSettings();
}

ContentView::~ContentView() = default;

void ContentView::showEvent(QShowEvent* event)
{
    // Every showing registers the callback again; the newest replaces the
    // earlier one. The settings are not sent here: the queue already holds
    // those it was made with, and later changes arrive through the handlers.
    m_coordinator.start();
    QMainWindow::showEvent(event);
}

void ContentView::closeEvent(QCloseEvent* event)
{
    QMainWindow::closeEvent(event);
    if (event->isAccepted())
        Q_EMIT closed();
}

void ContentView::post(std::function<void()> command)
{
    QMetaObject::invokeMethod(this, std::move(command), Qt::QueuedConnection);
}

template <typename Signal, typename Field>
void ContentView::watch(Signal changed, Field SettingsValues::*field)
{
    connect(&m_settings, changed, this, [this, field] {
        // The settings signal every assignment; only a new value counts.
        Field now = m_settings.currentValues().*field;
        if (now == m_seen.*field)
            return;
        m_seen.*field = std::move(now);
        syncSettings();
    });
}

void ContentView::watchSettings()
{
    // Every setting the engine's snapshot depends on; presets reach the queue
    // only through the settings they change.
    forEachSettingField([this](const auto& setting) {
        if (setting.engineReads)
            watch(setting.signal, setting.field);
    });
}

void ContentView::syncSettings()
{
    // The snapshot is taken when the hop runs, so it carries every change
    // made up to then.
    post([this] {
        const CompressionSettings snapshot = m_settings.currentCompressionSettings();
        m_coordinator.queue().updateSettings(snapshot);
        Q_EMIT settingsPushed(snapshot);
    });
}

void ContentView::takeFiles(const QStringList& paths)
{
    const bool askForName
        = m_settings.askForNameBeforeExport() && m_settings.renamingMode() == AppSettings::RenamingModeOption::sequence;
    if (!askForName) {
        if (!paths.isEmpty())
            post([this, paths] { m_coordinator.queue().add(paths); });
        return;
    }

    if (m_isAskingExportName) {
        // Expansions finish in any order, so a second batch can arrive while
        // the first waits for its name: it joins that batch rather than
        // pushing it out.
        m_pendingDropPaths += paths;
        return;
    }

    // An empty batch opens the prompt too; its answer then adds nothing.
    m_pendingDropPaths = paths;
    m_isAskingExportName = true;
    const Strings strings(AppLanguage::current());
    const TextPromptTexts texts{strings.exportNameDialogTitle, strings.exportNameDialogMessage,
                                strings.baseNameFieldLabel, strings.use, strings.cancel};
    m_prompt.ask(this, texts, m_settings.renamingBaseName(),
                 [this, alive = std::weak_ptr<int>(m_lifetime)](std::optional<QString> name) {
                     if (alive.expired())
                         return;
                     exportNameAnswered(name);
                 });
}

void ContentView::exportNameAnswered(const std::optional<QString>& name)
{
    m_isAskingExportName = false;
    // Emptied before anything is queued, so a batch is queued at most once.
    const QStringList paths = std::exchange(m_pendingDropPaths, QStringList());
    if (!name || paths.isEmpty())
        return;
    // The name goes as typed; the queue cleans it and treats a blank result
    // as no name at all.
    post([this, paths, override = *name] { m_coordinator.queue().add(paths, override); });
}

} // namespace vantro
