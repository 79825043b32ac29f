#include "AppSettings.h"
#include "CompressionCoordinator.h"
#include "ContentView.h"
#include "DefaultsStore.h"
#include "DesktopActions.h"
#include "DropZoneView.h"
#include "FakeEngine.h"
#include "FileChooser.h"
#include "FolderChooser.h"
#include "FooterView.h"
#include "JobListView.h"
#include "JobTableModel.h"
#include "Localization.h"
#include "TextPrompt.h"
#include "VantroApp.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <vector>

using namespace vantro;
using vantro::testing::FakeEngine;

namespace {

class FakeDesktop final : public DesktopActions {
public:
    void openFile(const QString& path) override { opened << path; }
    void revealInFileManager(const QString& path) override { revealed << path; }
    void copyPath(const QString& path) override { copied << path; }
    void openWebPage(const QUrl& url) override { pages << url; }

    QStringList opened, revealed, copied;
    QList<QUrl> pages;
};

// Records each question; the test answers the newest one.
class FakePrompt final : public TextPrompt {
public:
    struct Question {
        TextPromptTexts texts;
        QString initialText;
        std::function<void(std::optional<QString>)> done;
    };

    void ask(QWidget*, const TextPromptTexts& texts, const QString& initialText,
             std::function<void(std::optional<QString>)> done) override
    {
        questions.push_back({texts, initialText, std::move(done)});
    }

    void answer(const std::optional<QString>& text)
    {
        QVERIFY(!questions.empty() && questions.back().done);
        auto done = std::move(questions.back().done);
        questions.back().done = nullptr;
        done(text);
    }

    std::vector<Question> questions;
};

class FakeChooser final : public FileChooser {
public:
    void choose(QWidget*, std::function<void(QStringList)> done) override { pending.push_back(std::move(done)); }

    void answer(const QStringList& paths)
    {
        QVERIFY(!pending.empty());
        auto done = std::move(pending.back());
        pending.pop_back();
        done(paths);
    }

    std::vector<std::function<void(QStringList)>> pending;
};

class NoFolderChooser final : public FolderChooser {
public:
    std::optional<QString> chooseFolder(QWidget*, const QString&) override { return std::nullopt; }
};

void writeImage(const QString& path, const QSize& size)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, size.width(), size.height());
    gradient.setColorAt(0, QColor(200, 40, 40));
    gradient.setColorAt(1, QColor(30, 90, 220));
    painter.fillRect(image.rect(), gradient);
    painter.setPen(Qt::white);
    painter.drawEllipse(image.rect().adjusted(8, 8, -8, -8));
    painter.end();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QVERIFY2(image.save(path, nullptr, 95), qPrintable(path));
}

void writeText(const QString& path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("not an image\n");
}

// Runs the commands the window has posted, waits for the queue to run them
// and go idle, then delivers the queue's updates.
void settle(CompressionCoordinator& coordinator)
{
    QCoreApplication::sendPostedEvents();
    coordinator.queue().whenIdle().wait();
    coordinator.queue().jobs().wait();
    QCoreApplication::sendPostedEvents();
}

std::vector<JobStatus::Kind> kinds(const JobList& jobs)
{
    std::vector<JobStatus::Kind> result;
    for (const Job& job : jobs)
        result.push_back(job.status.kind());
    return result;
}

// What the table shows, row by row.
std::vector<JobStatus::Kind> shownKinds(const ContentView& window)
{
    const auto* table = window.findChild<QTableView*>();
    std::vector<JobStatus::Kind> result;
    if (table == nullptr)
        return result;
    const QAbstractItemModel* model = table->model();
    for (int row = 0; row < model->rowCount(); ++row)
        result.push_back(static_cast<JobStatus::Kind>(
            model->index(row, 0).data(JobTableModel::StatusKindRole).toInt()));
    return result;
}

bool allTerminal(const JobList& jobs)
{
    return std::all_of(jobs.begin(), jobs.end(), [](const Job& job) { return job.status.isTerminal(); });
}

void drop(DropZoneView* zone, const QList<QUrl>& urls)
{
    QMimeData data;
    data.setUrls(urls);
    const QPoint centre = zone->rect().center();
    QDragEnterEvent enter(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(zone, &enter);
    QVERIFY(enter.isAccepted());
    QVERIFY(zone->isTargeted());
    QDropEvent dropped(QPointF(centre), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(zone, &dropped);
    QVERIFY(dropped.isAccepted());
    QVERIFY(!zone->isTargeted());
}

// Settings over a memory store, a coordinator over a stand-in engine (unless
// a real one is asked for), and the window over them. The coordinator
// outlives the window.
struct Harness {
    explicit Harness(bool realEngine = false, const std::function<void(AppSettings&)>& prepare = {})
    {
        if (prepare)
            prepare(settings);
        coordinator = realEngine
            ? std::make_unique<CompressionCoordinator>(settings.currentCompressionSettings())
            : std::make_unique<CompressionCoordinator>(settings.currentCompressionSettings(), engine.function(),
                                                       [] { return 2; });
        window = std::make_unique<ContentView>(settings, *coordinator, desktop, prompt, chooser);
        window->show();
    }

    ~Harness()
    {
        window.reset();
        engine.release();
        coordinator.reset();
    }

    DropZoneView* dropZone() const { return window->findChild<DropZoneView*>(); }

    MemoryDefaultsStore store;
    AppSettings settings{store};
    FakeEngine engine;
    FakeDesktop desktop;
    FakePrompt prompt;
    FakeChooser chooser;
    std::unique_ptr<CompressionCoordinator> coordinator;
    std::unique_ptr<ContentView> window;
};

void setAskForName(AppSettings& settings)
{
    settings.setAskForNameBeforeExport(true);
    settings.setRenamingMode(AppSettings::RenamingModeOption::sequence);
    settings.setRenamingBaseName(QStringLiteral("  Trip "));
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_files;

private Q_SLOTS:
    void initTestCase()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        QVERIFY(m_files.isValid());
    }

    void aDroppedFolderBecomesOneFinishedRowPerImage()
    {
        const QDir root(m_files.filePath(QStringLiteral("drop")));
        writeImage(root.filePath(QStringLiteral("photos/a.jpg")), {96, 64});
        writeImage(root.filePath(QStringLiteral("photos/b.png")), {40, 40});
        writeImage(root.filePath(QStringLiteral("photos/trip/c.jpeg")), {64, 96});
        writeImage(root.filePath(QStringLiteral("photos/.hidden.jpg")), {16, 16});
        writeText(root.filePath(QStringLiteral("photos/readme.txt")));
        writeText(root.filePath(QStringLiteral("notes.txt")));

        Harness h(true, [](AppSettings& settings) {
            settings.setMode(AppSettings::CompressionModeOption::lossy);
            settings.setLossyQuality(60);
        });
        QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));
        drop(h.dropZone(), {QUrl::fromLocalFile(root.filePath(QStringLiteral("photos"))),
                            QUrl::fromLocalFile(root.filePath(QStringLiteral("notes.txt"))),
                            QUrl(QStringLiteral("https://example.com/remote.jpg"))});

        QTRY_VERIFY_WITH_TIMEOUT(h.coordinator->jobs().size() == 3 && allTerminal(h.coordinator->jobs()), 60000);
        QTRY_VERIFY(shownKinds(*h.window) == kinds(h.coordinator->jobs()));
        QCOMPARE(h.window->findChild<QLabel*>(QStringLiteral("jobCount"))->text(), QStringLiteral("3"));
        QStringList sources;
        for (const Job& job : h.coordinator->jobs()) {
            QVERIFY2(job.status.kind() == JobStatus::Kind::done,
                     qPrintable(job.path + QStringLiteral(": ") +
                                (job.status.kind() == JobStatus::Kind::failed ? job.status.message() : QString())));
            sources << QFileInfo(job.path).fileName();
            const CompressionResult& result = job.status.result();
            QVERIFY(QFileInfo::exists(result.outputPath));
            if (!result.alreadyOptimized) {
                QVERIFY(QFileInfo(result.outputPath).baseName().endsWith(QStringLiteral("-optim")));
                QCOMPARE(QFileInfo(result.outputPath).size(), result.compressedSize);
            }
        }
        sources.sort();
        QCOMPARE(sources, (QStringList{QStringLiteral("a.jpg"), QStringLiteral("b.png"), QStringLiteral("c.jpeg")}));
        // A lossy JPEG from a quality-95 original always shrinks, so it was written.
        const auto jpeg = std::find_if(h.coordinator->jobs().begin(), h.coordinator->jobs().end(),
                                       [](const Job& job) { return job.path.endsWith(QStringLiteral("a.jpg")); });
        QVERIFY(!jpeg->status.result().alreadyOptimized);
    }

    void dropsAreTakenAsACopyNeverAMove_data()
    {
        QTest::addColumn<bool>("localFile");
        QTest::addColumn<Qt::DropActions>("offered");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<Qt::DropAction>("taken");
        QTest::newRow("move proposed") << true << (Qt::CopyAction | Qt::MoveAction) << true << Qt::CopyAction;
        QTest::newRow("link only") << true << Qt::DropActions(Qt::LinkAction) << true << Qt::LinkAction;
        QTest::newRow("move only") << true << Qt::DropActions(Qt::MoveAction) << false << Qt::IgnoreAction;
        QTest::newRow("no local file") << false << Qt::DropActions(Qt::CopyAction) << false << Qt::IgnoreAction;
    }

    void dropsAreTakenAsACopyNeverAMove()
    {
        QFETCH(bool, localFile);
        QFETCH(Qt::DropActions, offered);
        QFETCH(bool, accepted);
        QFETCH(Qt::DropAction, taken);
        Harness h;
        DropZoneView* zone = h.dropZone();
        QMimeData data;
        data.setUrls({localFile ? QUrl::fromLocalFile(m_files.path()) : QUrl(QStringLiteral("https://example.com/a.jpg"))});
        const QPoint centre = zone->rect().center();
        // Shift held: a drag that offers a move proposes it.
        QDragEnterEvent enter(centre, offered, &data, Qt::LeftButton, Qt::ShiftModifier);
        if (offered & Qt::MoveAction)
            QCOMPARE(enter.proposedAction(), Qt::MoveAction);
        QCoreApplication::sendEvent(zone, &enter);
        QCOMPARE(enter.isAccepted(), accepted);
        QCOMPARE(zone->isTargeted(), accepted);
        if (accepted)
            QCOMPARE(enter.dropAction(), taken);
        QDropEvent dropped(QPointF(centre), offered, &data, Qt::LeftButton, Qt::ShiftModifier);
        QCoreApplication::sendEvent(zone, &dropped);
        QCOMPARE(dropped.isAccepted(), accepted);
        if (accepted)
            QCOMPARE(dropped.dropAction(), taken);
        QVERIFY(!zone->isTargeted());
    }

    void theChooserHandsOverExpandedFilesAndNothingOnCancel()
    {
        const QDir root(m_files.filePath(QStringLiteral("chooser")));
        writeImage(root.filePath(QStringLiteral("one.jpg")), {8, 8});
        writeImage(root.filePath(QStringLiteral("folder/two.png")), {8, 8});
        writeText(root.filePath(QStringLiteral("folder/three.txt")));

        // Asking for a name, so a batch handed over even empty would show.
        Harness h(false, setAskForName);
        auto* button = h.dropZone()->findChild<QAbstractButton*>();
        QVERIFY(button);

        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(h.chooser.pending.size(), std::size_t{1});
        h.chooser.answer({});
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::sendPostedEvents();
        QVERIFY(h.prompt.questions.empty());

        QTest::mouseClick(button, Qt::LeftButton);
        h.chooser.answer({root.filePath(QStringLiteral("one.jpg")), root.filePath(QStringLiteral("folder"))});
        QTRY_COMPARE(h.prompt.questions.size(), std::size_t{1});
        h.prompt.answer(QStringLiteral("Trip"));
        settle(*h.coordinator);
        QCOMPARE(h.coordinator->jobs().size(), std::size_t{2});
        QCOMPARE(h.coordinator->jobs()[0].path, root.filePath(QStringLiteral("one.jpg")));
        QCOMPARE(h.coordinator->jobs()[1].path, root.filePath(QStringLiteral("folder/two.png")));
        QCOMPARE(h.coordinator->jobs()[0].sequenceBaseOverride, std::optional<QString>(QStringLiteral("Trip")));
    }

    void theExportNamePromptHoldsTheBatchUntilAnswered()
    {
        Harness h(false, setAskForName);
        const Strings strings(AppLanguage::en);
        const QStringList first{QStringLiteral("/photos/b.jpg"), QStringLiteral("/photos/a.jpg")};
        const QStringList second{QStringLiteral("/more/c.jpg")};

        h.window->takeFiles(first);
        QCOMPARE(h.prompt.questions.size(), std::size_t{1});
        const FakePrompt::Question& question = h.prompt.questions.back();
        QCOMPARE(question.initialText, QStringLiteral("  Trip "));
        QCOMPARE(question.texts.title, strings.exportNameDialogTitle);
        QCOMPARE(question.texts.acceptButton, strings.use);
        settle(*h.coordinator);
        QVERIFY(h.coordinator->jobs().empty());

        // A batch that comes in while the prompt is open waits with the
        // first one instead of pushing it out.
        h.window->takeFiles(second);
        QCOMPARE(h.prompt.questions.size(), std::size_t{1});

        h.prompt.answer(QStringLiteral("Sum/mer"));
        settle(*h.coordinator);
        const JobList& jobs = h.coordinator->jobs();
        QCOMPARE(jobs.size(), std::size_t{3});
        QCOMPARE(jobs[2].path, second[0]);
        // Numbered under the cleaned name in file-name order.
        QCOMPARE(jobs[0].sequenceBaseOverride, std::optional<QString>(QStringLiteral("Sum-mer")));
        QCOMPARE(jobs[2].sequenceBaseOverride, std::optional<QString>(QStringLiteral("Sum-mer")));
        QCOMPARE(jobs[1].sequenceNumber, std::optional<int64_t>(1));
        QCOMPARE(jobs[0].sequenceNumber, std::optional<int64_t>(2));
        QCOMPARE(jobs[2].sequenceNumber, std::optional<int64_t>(3));
        const std::vector<CompressionSettings> seen = h.engine.settingsSeen();
        QCOMPARE(seen.size(), std::size_t{3});
        QCOMPARE(seen[0].renaming.kind(), RenamingMode::Kind::sequence);
        QCOMPARE(seen[0].renaming.base(), QStringLiteral("Sum-mer"));
        QCOMPARE(h.settings.renamingBaseName(), QStringLiteral("  Trip "));

        // Cancel drops the batch; the next prompt starts from the settings again.
        h.window->takeFiles({QStringLiteral("/x/d.jpg")});
        QCOMPARE(h.prompt.questions.size(), std::size_t{2});
        h.prompt.answer(std::nullopt);
        settle(*h.coordinator);
        QCOMPARE(h.coordinator->jobs().size(), std::size_t{3});

        // A batch without images still asks; its answer adds nothing.
        h.window->takeFiles({});
        QCOMPARE(h.prompt.questions.size(), std::size_t{3});
        QCOMPARE(h.prompt.questions.back().initialText, QStringLiteral("  Trip "));
        h.prompt.answer(QStringLiteral("Other"));
        settle(*h.coordinator);
        QCOMPARE(h.coordinator->jobs().size(), std::size_t{3});

        // A blank name is no name: numbered under the settings' base name.
        h.window->takeFiles({QStringLiteral("/x/e.jpg")});
        h.prompt.answer(QStringLiteral("  .. "));
        settle(*h.coordinator);
        QCOMPARE(h.coordinator->jobs().size(), std::size_t{4});
        QCOMPARE(h.coordinator->jobs()[3].sequenceBaseOverride, std::nullopt);
        QCOMPARE(h.coordinator->jobs()[3].sequenceNumber, std::optional<int64_t>(1));
    }

    void withoutTheAskConditionFilesGoStraightToTheQueue()
    {
        Harness h(false, [](AppSettings& settings) {
            settings.setAskForNameBeforeExport(true);
            settings.setRenamingMode(AppSettings::RenamingModeOption::prefixSuffix);
        });
        h.window->takeFiles({QStringLiteral("/p/a.jpg")});
        h.window->takeFiles({});
        settle(*h.coordinator);
        QVERIFY(h.prompt.questions.empty());
        QCOMPARE(h.coordinator->jobs().size(), std::size_t{1});

        h.settings.setRenamingMode(AppSettings::RenamingModeOption::sequence);
        h.settings.setAskForNameBeforeExport(false);
        h.window->takeFiles({QStringLiteral("/p/b.jpg")});
        settle(*h.coordinator);
        QVERIFY(h.prompt.questions.empty());
        QCOMPARE(h.coordinator->jobs().size(), std::size_t{2});
        QCOMPARE(h.coordinator->jobs()[1].sequenceBaseOverride, std::nullopt);
    }

    void eachWatchedChangeSendsOneSnapshot()
    {
        Harness h;
        std::vector<CompressionSettings> pushed;
        connect(h.window.get(), &ContentView::settingsPushed, this,
                [&pushed](const CompressionSettings& settings) { pushed.push_back(settings); });
        QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));
        QCoreApplication::sendPostedEvents();
        QVERIFY(pushed.empty());

        using S = AppSettings;
        AppSettings& s = h.settings;
        // Every one of the 22 watched settings, each changed once.
        s.setMode(S::CompressionModeOption::lossy);
        s.setLossyQuality(42);
        s.setOutputMode(S::OutputModeOption::customFolder);
        s.setBackupOnInPlace(false);
        s.setTargetFormat(S::TargetFormatOption::webp);
        s.setOriginalFileHandling(S::OriginalFileHandlingOption::moveToTrash);
        s.setRenamingMode(S::RenamingModeOption::prefixSuffix);
        s.setRenamingBaseName(QStringLiteral("base"));
        s.setRenamingPrefix(QStringLiteral("pre-"));
        s.setRenamingSuffix(QStringLiteral("-suf"));
        s.setResizeEnabled(true);
        s.setResizeMaxDimensionText(QStringLiteral("1000"));
        s.setResizeMode(S::ResizeModeOption::maxShortEdge);
        s.setResizeMaxShortEdgeText(QStringLiteral("900"));
        s.setResizeMaxWidthText(QStringLiteral("800"));
        s.setResizeMaxHeightText(QStringLiteral("700"));
        s.setResizeWidthText(QStringLiteral("600"));
        s.setResizeHeightText(QStringLiteral("500"));
        s.setResizePercentageText(QStringLiteral("50"));
        s.setSequenceDigits(4);
        s.setSequenceSeparatorOption(S::SequenceSeparatorOption::underscore);
        s.setCustomFolderPath(m_files.path());
        // Not read by the engine, and unchanged values: nothing to send.
        s.setAskForNameBeforeExport(true);
        s.setAskForNameBeforeExport(false);
        s.setLossyQuality(42);
        s.setRenamingPrefix(QStringLiteral("pre-"));
        QCoreApplication::sendPostedEvents();
        QCOMPARE(pushed.size(), std::size_t{22});

        // Each snapshot is taken when its turn comes, so all carry the
        // settings as they stand then.
        for (const CompressionSettings& settings : pushed) {
            QVERIFY(!settings.mode.isLossless());
            QCOMPARE(settings.mode.quality(), int64_t{42});
            QCOMPARE(settings.outputMode.kind(), OutputMode::Kind::customFolder);
        }

        // Jobs that start afterwards run with them.
        h.window->takeFiles({QStringLiteral("/q/a.jpg")});
        settle(*h.coordinator);
        QCOMPARE(h.engine.settingsSeen().size(), std::size_t{1});
        QCOMPARE(h.engine.settingsSeen()[0].mode.quality(), int64_t{42});
        QCOMPARE(h.engine.settingsSeen()[0].targetFormat, TargetFormat::webp);

        // A preset that differs in three watched settings sends three.
        const std::optional<SettingsPreset> preset = s.savePreset(QStringLiteral("Now"));
        QVERIFY(preset);
        QCoreApplication::sendPostedEvents();
        pushed.clear();
        s.setLossyQuality(70);
        s.setTargetFormat(S::TargetFormatOption::png);
        s.setRenamingSuffix(QStringLiteral("-x"));
        s.setAskForNameBeforeExport(true);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(pushed.size(), std::size_t{3});
        pushed.clear();
        s.applyPreset(*preset);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(pushed.size(), std::size_t{3});
        QCOMPARE(pushed.back().mode.quality(), int64_t{42});
        QCOMPARE(pushed.back().targetFormat, TargetFormat::webp);
    }

    void stopCancelsTheWaitingRows()
    {
        Harness h;
        h.window->takeFiles({QStringLiteral("/s/hold.jpg"), QStringLiteral("/s/b.jpg"), QStringLiteral("/s/c.jpg")});
        QCoreApplication::sendPostedEvents();
        QVERIFY(h.engine.waitUntilHolding(1));
        using K = JobStatus::Kind;
        QTRY_VERIFY(shownKinds(*h.window) == (std::vector{K::processing, K::pending, K::pending}));

        auto* stop = h.window->findChild<QAbstractButton*>(QStringLiteral("stopButton"));
        QVERIFY(stop);
        QTest::mouseClick(stop, Qt::LeftButton);
        QTRY_VERIFY(shownKinds(*h.window) == (std::vector{K::processing, K::cancelled, K::cancelled}));

        h.engine.release();
        settle(*h.coordinator);
        QTRY_VERIFY(shownKinds(*h.window) == (std::vector{K::done, K::cancelled, K::cancelled}));
        QCOMPARE(h.window->findChild<QLabel*>(QStringLiteral("jobCount"))->text(), QStringLiteral("3"));
    }

    void theListsRequestsReachTheQueue()
    {
        Harness h;
        h.window->takeFiles({QStringLiteral("/r/a.jpg"), QStringLiteral("/r/fail.jpg"), QStringLiteral("/r/hold.jpg"),
                             QStringLiteral("/r/d.jpg")});
        QCoreApplication::sendPostedEvents();
        QVERIFY(h.engine.waitUntilHolding(1));
        h.coordinator->queue().jobs().wait();
        QCoreApplication::sendPostedEvents();
        using K = JobStatus::Kind;
        QCOMPARE(kinds(h.coordinator->jobs()), (std::vector{K::done, K::failed, K::processing, K::pending}));

        // The set goes on whole; the queue keeps what is still running.
        const JobList& jobs = h.coordinator->jobs();
        auto* list = h.window->findChild<JobListView*>();
        Q_EMIT list->removeRequested({jobs[0].id, jobs[2].id, jobs[3].id});
        QCoreApplication::sendPostedEvents();
        h.coordinator->queue().jobs().wait();
        QCoreApplication::sendPostedEvents();
        QCOMPARE(kinds(h.coordinator->jobs()), (std::vector{K::failed, K::processing, K::pending}));

        h.engine.release();
        settle(*h.coordinator);
        Q_EMIT list->clearFinishedRequested();
        settle(*h.coordinator);
        QVERIFY(h.coordinator->jobs().empty());
        QTRY_VERIFY(shownKinds(*h.window).empty());
    }

    void nothingReachesAWindowThatIsGone()
    {
        Harness h;
        h.window->takeFiles({QStringLiteral("/g/a.jpg")});
        QCoreApplication::sendPostedEvents();
        // The queue's updates are waiting for the GUI thread when the window goes.
        h.coordinator->queue().whenIdle().wait();
        h.coordinator->queue().jobs().wait();
        h.window.reset();
        QCoreApplication::sendPostedEvents();
        QCOMPARE(h.coordinator->jobs().size(), std::size_t{1});

        // Commands still waiting for their turn go with the window; a
        // prompt answered late changes nothing.
        h.window = std::make_unique<ContentView>(h.settings, *h.coordinator, h.desktop, h.prompt, h.chooser);
        h.window->takeFiles({QStringLiteral("/g/b.jpg")});
        setAskForName(h.settings);
        h.window->takeFiles({QStringLiteral("/g/c.jpg")});
        h.window.reset();
        h.prompt.answer(QStringLiteral("late"));
        settle(*h.coordinator);
        QCOMPARE(h.coordinator->jobs().size(), std::size_t{1});
    }

    void theWindowKeepsItsProportions()
    {
        Harness h;
        QCOMPARE(h.window->minimumSize(), QSize(480, 480));
        h.window->resize(300, 300);
        QVERIFY(h.window->width() >= 480 && h.window->height() >= 480);
        // The zone gets its full height first, also in the smallest window;
        // the list takes the rest.
        for (const QSize size : {QSize(480, 480), QSize(900, 1000)}) {
            h.window->resize(size);
            QTest::qWait(20);
            QCOMPARE(h.dropZone()->height(), 140);
        }
        QVERIFY(h.window->findChild<JobListView*>()->height() > 500);
    }

    void theRealChooserTakesFilesAndFoldersTogether()
    {
        const QDir root(m_files.filePath(QStringLiteral("dialog")));
        writeImage(root.filePath(QStringLiteral("a.jpg")), {8, 8});
        QVERIFY(root.mkpath(QStringLiteral("sub")));

        const auto openDialog = [&](std::optional<QStringList>& answer) -> QFileDialog* {
            FileChooser::dialog().choose(nullptr, [&answer](QStringList paths) { answer = std::move(paths); });
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (auto* dialog = qobject_cast<QFileDialog*>(widget); dialog && dialog->isVisible()) {
                    dialog->setDirectory(root.path());
                    return dialog;
                }
            }
            return nullptr;
        };

        std::optional<QStringList> answer;
        QFileDialog* dialog = openDialog(answer);
        QVERIFY(dialog);
        QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFiles);
        auto* field = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        QVERIFY(field);
        // Going up stays navigation.
        field->setText(QStringLiteral(".."));
        static_cast<QDialog*>(dialog)->accept();
        QVERIFY(!answer);
        dialog->setDirectory(root.path());
        auto* model = dialog->findChild<QFileSystemModel*>();
        QVERIFY(model);
        QTRY_COMPARE(model->rowCount(model->index(root.path())), 2);
        field->setText(QStringLiteral("\"a.jpg\" \"sub\""));
        static_cast<QDialog*>(dialog)->accept();
        QVERIFY(answer);
        QStringList chosen = *answer;
        chosen.sort();
        QCOMPARE(chosen, (QStringList{root.filePath(QStringLiteral("a.jpg")), root.filePath(QStringLiteral("sub"))}));

        answer.reset();
        dialog = openDialog(answer);
        QVERIFY(dialog);
        dialog->reject();
        QVERIFY(answer);
        QVERIFY(answer->isEmpty());
        QTest::qWait(20);
    }

    void tabLeavesTheTableForTheFooter()
    {
        Harness h;
        h.window->takeFiles({QStringLiteral("/t/a.jpg"), QStringLiteral("/t/b.jpg")});
        settle(*h.coordinator);
        auto* table = h.window->findChild<QTableView*>();
        QTRY_COMPARE(table->model()->rowCount(), 2);
        QVERIFY(QTest::qWaitForWindowActive(h.window.get()));
        table->setFocus();
        table->setCurrentIndex(table->model()->index(0, 0));
        QTest::keyClick(table, Qt::Key_Tab);
        QWidget* focused = QApplication::focusWidget();
        QVERIFY(focused);
        QVERIFY2(h.window->findChild<FooterView*>()->isAncestorOf(focused), focused->metaObject()->className());
    }

    void closingTheMainWindowEndsTheProgramPromptly_data()
    {
        QTest::addColumn<bool>("byQuitItem");
        QTest::newRow("window closed") << false;
        QTest::newRow("Quit, Ctrl+Q") << true;
    }

    void closingTheMainWindowEndsTheProgramPromptly()
    {
        QFETCH(bool, byQuitItem);
        FakeDesktop desktop;
        FakePrompt prompt;
        FakeChooser chooser;
        NoFolderChooser folderChooser;
        FakeEngine engine;
        VantroApp app(desktop, prompt, chooser, folderChooser, engine.function());
        app.showMainWindow();
        app.openSettings();
        ContentView* window = app.mainWindow();
        QStringList files;
        for (int i = 0; i < 12; ++i)
            files << QStringLiteral("/big/hold-%1.png").arg(i);
        window->takeFiles(files);
        QCoreApplication::sendPostedEvents();
        QVERIFY(engine.waitUntilHolding(1));

        QAction* quit = nullptr;
        for (QAction* action : window->menuBar()->actions().value(0)->menu()->actions()) {
            if (action->shortcut() == QKeySequence(QStringLiteral("Ctrl+Q")))
                quit = action;
        }
        QVERIFY(quit);
        QTimer::singleShot(0, window, [=] { byQuitItem ? quit->trigger() : static_cast<void>(window->close()); });
        // Only a guard against hanging: the loop must end long before.
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, qApp, &QCoreApplication::quit);
        guard.start(10000);
        QElapsedTimer timer;
        timer.start();
        QApplication::exec();
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(guard.isActive());
        guard.stop();

        QCoreApplication::sendPostedEvents();
        QCOMPARE(app.coordinator().jobs().size(), std::size_t{12});
        QVERIFY(allTerminal(app.coordinator().jobs()));
        for (const Job& job : app.coordinator().jobs())
            QCOMPARE(job.status.kind(), JobStatus::Kind::cancelled);
        QVERIFY(!engine.waitUntilHolding(1, std::chrono::milliseconds(0)));
        for (QWidget* widget : QApplication::topLevelWidgets())
            QVERIFY2(!widget->isVisible(), qPrintable(widget->windowTitle()));
    }

    void qtsOwnTextsSpeakTheInterfaceLanguage_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("cancel");
        QTest::newRow("en") << QLocale(QLocale::English, QLocale::UnitedStates) << QStringLiteral("Cancel");
        QTest::newRow("cs") << QLocale(QLocale::Czech, QLocale::CzechRepublic) << QStringLiteral(u"Zru\u0161it");
    }

    void qtsOwnTextsSpeakTheInterfaceLanguage()
    {
        QFETCH(QLocale, locale);
        QFETCH(QString, cancel);
        QLocale::setDefault(locale);
        FakeDesktop desktop;
        FakePrompt prompt;
        FakeChooser chooser;
        NoFolderChooser folderChooser;
        {
            const VantroApp app(desktop, prompt, chooser, folderChooser);
            const QDialogButtonBox buttons(QDialogButtonBox::Cancel);
            QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text(), cancel);
        }
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        const QDialogButtonBox buttons(QDialogButtonBox::Cancel);
        QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Cancel"));
    }

    void theApplicationOwnsItsWindowsAndMenus()
    {
        FakeDesktop desktop;
        FakePrompt prompt;
        FakeChooser chooser;
        NoFolderChooser folderChooser;
        auto app = std::make_unique<VantroApp>(desktop, prompt, chooser, folderChooser);
        app->showMainWindow();
        ContentView* window = app->mainWindow();
        QVERIFY(window);
        QVERIFY(app->coordinator().jobs().empty());

        const QList<QAction*> menus = window->menuBar()->actions();
        QCOMPARE(menus.size(), 2);
        QMenu* help = menus[1]->menu();
        QVERIFY(help);
        QCOMPARE(help->actions().size(), 1);
        help->actions()[0]->trigger();
        QCOMPARE(desktop.pages, QList<QUrl>{kSupportPageUrl});

        const auto settingsWindow = [] {
            const QString title = QStringLiteral("Settings");
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (widget->windowTitle() == title && widget->isVisible())
                    return widget;
            }
            return static_cast<QWidget*>(nullptr);
        };
        QVERIFY(QTest::qWaitForWindowActive(window));
        QVERIFY(!settingsWindow());
        QTest::keyClick(window, Qt::Key_Comma, Qt::ControlModifier);
        QWidget* opened = settingsWindow();
        QVERIFY(opened);
        // The Settings window carries the same menus, working alike.
        auto* settingsBar = opened->findChild<QMenuBar*>();
        QVERIFY(settingsBar);
        const QList<QAction*> settingsMenus = settingsBar->actions();
        QCOMPARE(settingsMenus.size(), menus.size());
        for (qsizetype i = 0; i < menus.size(); ++i)
            QCOMPARE(settingsMenus[i]->text(), menus[i]->text());
        settingsMenus[1]->menu()->actions().value(0)->trigger();
        QCOMPARE(desktop.pages.size(), 2);
        QCOMPARE(opened->width(), 520);
        opened->close();
        QVERIFY(!settingsWindow());
        QTest::mouseClick(window->findChild<QAbstractButton*>(QStringLiteral("settingsButton")), Qt::LeftButton);
        QCOMPARE(settingsWindow(), opened);

        // Settings persist in the user's configuration folder.
        app->settings().setLossyQuality(33);
        app.reset();
        const QString ini = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Vantro/Vantro.ini");
        const QSettingsDefaultsStore reread(ini);
        QCOMPARE(reread.integer(QStringLiteral("settings.lossyQuality")), std::optional<int64_t>(33));
    }
};

int main(int argc, char* argv[])
{
    // The settings file and the home folder of the run are throwaway ones.
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toUtf8());
    QApplication app(argc, argv);
    MainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "MainWindowTest.moc"
