#include "AppSettings.h"
#include "CompressionCoordinator.h"
#include "CompressionError.h"
#include "ContentView.h"
#include "DefaultsStore.h"
#include "DropZoneView.h"
#include "FakeEngine.h"
#include "FooterView.h"
#include "JobListView.h"
#include "JobTableModel.h"
#include "Localization.h"
#include "TestDoubles.h"
#include "VantroApp.h"

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QImage>
#include <QListView>
#include <QMainWindow>
#include <QMenuBar>
#include <QMimeData>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include <unistd.h>

using namespace vantro;
using namespace vantro::testing;
using K = JobStatus::Kind;
using S = AppSettings;

namespace {

// An image with detail to compress.
void writeImage(const QString& path, const QSize& size = {8, 8})
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgb(x * 255 / size.width(), y * 255 / size.height(), (x * y) % 256));
    }
    QVERIFY2(image.save(path, nullptr, 95), qPrintable(path));
}

// Drags the data over the zone, Shift held (so a drag that offers a move
// proposes it), and drops it: the action taken, IgnoreAction if refused,
// ActionMask if the zone contradicts itself.
Qt::DropAction dropOn(DropZoneView* zone, const QMimeData& data, Qt::DropActions offered = Qt::CopyAction)
{
    const QPoint centre = zone->rect().center();
    QDragEnterEvent enter(centre, offered, &data, Qt::LeftButton, Qt::ShiftModifier);
    QCoreApplication::sendEvent(zone, &enter);
    const bool targeted = zone->isTargeted();
    QDropEvent dropped(QPointF(centre), offered, &data, Qt::LeftButton, Qt::ShiftModifier);
    QCoreApplication::sendEvent(zone, &dropped);
    if (!dropped.isAccepted())
        return enter.isAccepted() || targeted || zone->isTargeted() ? Qt::ActionMask : Qt::IgnoreAction;
    const bool consistent
        = enter.isAccepted() && targeted && !zone->isTargeted() && enter.dropAction() == dropped.dropAction();
    return consistent ? dropped.dropAction() : Qt::ActionMask;
}

// A drag from another program, as the platform hands it over: the bytes its
// source wrote into the URI list, unparsed (QMimeData::setData would read
// them through QUrl).
class ForeignDrag final : public QMimeData {
public:
    explicit ForeignDrag(QByteArray uriList) : m_uriList(std::move(uriList)) {}
    QStringList formats() const override { return {QStringLiteral("text/uri-list")}; }
    bool hasFormat(const QString& type) const override { return formats().contains(type); }

protected:
    QVariant retrieveData(const QString& type, QMetaType /*wanted*/) const override
    {
        return hasFormat(type) ? QVariant(m_uriList) : QVariant();
    }

private:
    const QByteArray m_uriList;
};

Qt::DropAction dropOn(DropZoneView* zone, const QList<QUrl>& urls, Qt::DropActions offered = Qt::CopyAction)
{
    QMimeData data;
    data.setUrls(urls);
    return dropOn(zone, data, offered);
}

// Opens the program's own file chooser on the folder; `answer` receives what
// it chooses.
QFileDialog* openRealChooser(const QString& folder, std::optional<QStringList>& answer)
{
    answer.reset();
    FileChooser::dialog().choose(nullptr, [&answer](QStringList paths) { answer = std::move(paths); });
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<QFileDialog*>(widget); dialog && dialog->isVisible()) {
            dialog->setDirectory(folder);
            return dialog;
        }
    }
    return nullptr;
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

// What the table shows, row by row.
std::vector<K> shownKinds(const ContentView& window)
{
    const QAbstractItemModel* model = window.findChild<QTableView*>()->model();
    std::vector<K> result;
    for (int row = 0; row < model->rowCount(); ++row)
        result.push_back(static_cast<K>(model->index(row, 0).data(JobTableModel::StatusKindRole).toInt()));
    return result;
}

bool allTerminal(const JobList& jobs)
{
    return std::all_of(jobs.begin(), jobs.end(), [](const Job& job) { return job.status.isTerminal(); });
}

void setAskForName(AppSettings& settings)
{
    settings.setAskForNameBeforeExport(true);
    settings.setRenamingMode(S::RenamingModeOption::sequence);
    settings.setRenamingBaseName(QStringLiteral("  Trip "));
}

// Settings over a memory store, a coordinator over a stand-in engine (unless
// a real one is asked for), and the window over them. The coordinator
// outlives the window.
struct Harness {
    explicit Harness(bool realEngine = false, const std::function<void(AppSettings&)>& prepare = {})
    {
        if (prepare)
            prepare(settings);
        coordinator = realEngine ? std::make_unique<CompressionCoordinator>(settings.currentCompressionSettings())
                                 : std::make_unique<CompressionCoordinator>(settings.currentCompressionSettings(),
                                                                            engine.function(), [] { return 2; });
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
    const JobList& jobs() const { return coordinator->jobs(); }

    MemoryDefaultsStore store;
    AppSettings settings{store};
    FakeEngine engine;
    FakeDesktop desktop;
    FakePrompt prompt;
    FakeChooser chooser;
    std::unique_ptr<CompressionCoordinator> coordinator;
    std::unique_ptr<ContentView> window;
};

// The whole program over stand-ins.
struct App {
    FakeDesktop desktop;
    FakePrompt prompt;
    FakeChooser chooser;
    FakeFolderChooser folderChooser;
    FakeEngine engine;
};

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_files;

private Q_SLOTS:
    void init() { QLocale::setDefault(kEnglish); }

    void aDroppedFolderBecomesOneFinishedRowPerImage()
    {
        const QDir root(m_files.filePath(QStringLiteral("drop")));
        writeImage(root.filePath(QStringLiteral("a.jpg")), {96, 64});
        writeImage(root.filePath(QStringLiteral("trip/b.png")), {40, 40});
        Harness h(true, [](AppSettings& settings) {
            settings.setMode(S::CompressionModeOption::lossy);
            settings.setLossyQuality(60);
        });
        QCOMPARE(dropOn(h.dropZone(), {QUrl::fromLocalFile(root.path())}), Qt::CopyAction);
        QTRY_VERIFY_WITH_TIMEOUT(h.jobs().size() == 2 && allTerminal(h.jobs()), 60000);
        QTRY_VERIFY(shownKinds(*h.window) == (std::vector{K::done, K::done}));
        QCOMPARE(h.window->findChild<QLabel*>(QStringLiteral("jobCount"))->text(), QStringLiteral("2"));
        // A lossy JPEG from a quality-95 original always shrinks, so it was written.
        const CompressionResult& result = h.jobs()[0].status.result();
        QCOMPARE(result.outputPath, root.filePath(QStringLiteral("a-optim.jpg")));
        QCOMPARE(QFileInfo(result.outputPath).size(), result.compressedSize);
    }

    // A name that is not valid UTF-8 arrives percent-encoded in a drop, or
    // with its bytes left raw, or is met inside a dropped folder, also inside
    // a folder so named: each becomes a failed row that says why, beside the
    // image that is done. Two such names that differ only in those bytes are
    // two rows, shown as Qt shows them, and the valid names that they look
    // like are left alone, even by a conversion that trashes its originals.
    // So is the local file that an item of another computer looks like:
    // "file://tmp/x" is "x" on the computer "tmp", not "/tmp/x" here.
    void namesThatAreNotUTF8BecomeFailedRowsThatSaySo()
    {
        const QDir root(m_files.filePath(QStringLiteral("names")));
        const QString lookalike = QString::fromUtf8("latin1-\uFFFDt\uFFFD.jpg");
        const QString rawLookalike = QString::fromUtf8("caf\uFFFD.jpg");
        writeImage(root.filePath(QStringLiteral("latin1.jpg")));
        writeImage(root.filePath(QStringLiteral("latin1-2.jpg")));
        writeImage(root.filePath(lookalike));
        writeImage(root.filePath(rawLookalike));
        writeImage(root.filePath(QStringLiteral("caf.jpg")));
        writeImage(root.filePath(QStringLiteral("folder/ok.jpg")));
        writeImage(root.filePath(QStringLiteral("folder/d/in.jpg")));
        writeImage(root.filePath(QStringLiteral("remote.jpg")));
        const QByteArray raw = QFile::encodeName(root.path());
        const auto cleanup = qScopeGuard([&] { std::filesystem::remove_all(raw.toStdString()); });
        QCOMPARE(::rename(raw + "/latin1.jpg", raw + "/latin1-\xe9t\xe9.jpg"), 0);
        QCOMPARE(::rename(raw + "/latin1-2.jpg", raw + "/latin1-\xe8t\xe9.jpg"), 0);
        QCOMPARE(::rename(raw + "/caf.jpg", raw + "/caf\xe9.jpg"), 0);
        QCOMPARE(::rename(raw + "/folder/d", raw + "/folder/d\xe9"), 0);
        const auto contents = [&root](const QString& name) {
            QFile file(root.filePath(name));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        const QByteArray twins[]
            = {contents(lookalike), contents(rawLookalike), contents(QStringLiteral("remote.jpg"))};
        QVERIFY(!twins[0].isEmpty() && !twins[1].isEmpty() && !twins[2].isEmpty());
        const QDir trashed(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                           + QStringLiteral("/Trash/files"));

        Harness h(true, [](AppSettings& settings) {
            settings.setTargetFormat(S::TargetFormatOption::webp);
            settings.setOriginalFileHandling(S::OriginalFileHandlingOption::moveToTrash);
        });
        // Each line as a drag source may write it, the raw one ending in LF
        // alone, the last one padded.
        const QByteArray encodedRoot = QUrl::fromLocalFile(root.path()).toEncoded();
        const QByteArray remote = "file://" + encodedRoot.mid(8) + "/remote.jpg";
        const ForeignDrag drag(encodedRoot + "/latin1-%E9t%E9.jpg\r\n" + encodedRoot + "/latin1-%E8t%E9.jpg\r\n"
                               + encodedRoot + "/caf\xe9.jpg\n" + encodedRoot + "/folder\r\n \t" + remote + " \r\n");
        QCOMPARE(dropOn(h.dropZone(), drag), Qt::CopyAction);
        QTRY_VERIFY_WITH_TIMEOUT(h.jobs().size() == 6 && allTerminal(h.jobs()), 60000);
        QTRY_VERIFY(shownKinds(*h.window)
                    == (std::vector{K::failed, K::failed, K::failed, K::failed, K::done, K::failed}));
        const QString reason = QStringLiteral("File name is not valid UTF-8 and cannot be read: ");
        const QAbstractItemModel* table = h.window->findChild<QTableView*>()->model();
        for (int row : {0, 1, 2}) {
            const QString shown = row == 2 ? rawLookalike : lookalike;
            QCOMPARE(h.jobs()[static_cast<std::size_t>(row)].status.message(),
                     CompressionError::ioFailure(reason + shown).text());
            QCOMPARE(table->index(row, 0).data().toString(), shown);
        }
        QCOMPARE(h.jobs()[3].status.message(),
                 CompressionError::ioFailure(reason + QString::fromUtf8("d\uFFFD/in.jpg")).text());
        QCOMPARE(
            h.jobs()[5].status.message(),
            CompressionError::ioFailure(QStringLiteral("Not a file on this computer: ") + QString::fromUtf8(remote))
                .text());
        QCOMPARE(table->index(5, 0).data().toString(), QStringLiteral("remote.jpg"));
        // Only the image that was done went to the Trash; the valid names
        // keep their bytes, and nothing was written beside them.
        QCOMPARE(trashed.entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{QStringLiteral("ok.jpg")});
        QCOMPARE(contents(lookalike), twins[0]);
        QCOMPARE(contents(rawLookalike), twins[1]);
        QCOMPARE(contents(QStringLiteral("remote.jpg")), twins[2]);
        QByteArrayList names;
        for (const auto& entry : std::filesystem::directory_iterator(raw.toStdString()))
            names.append(QByteArray::fromStdString(entry.path().filename().string()));
        std::sort(names.begin(), names.end());
        QCOMPARE(names,
                 QByteArrayList({"caf\xe9.jpg", "caf\xef\xbf\xbd.jpg", "folder", "latin1-\xe8t\xe9.jpg",
                                 "latin1-\xe9t\xe9.jpg", "latin1-\xef\xbf\xbdt\xef\xbf\xbd.jpg", "remote.jpg"}));
    }

    void dropsAreTakenAsACopyNeverAMove_data()
    {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<Qt::DropActions>("offered");
        QTest::addColumn<Qt::DropAction>("taken");
        const QUrl local = QUrl::fromLocalFile(QDir::tempPath());
        QTest::newRow("move proposed") << local << (Qt::CopyAction | Qt::MoveAction) << Qt::CopyAction;
        QTest::newRow("link only") << local << Qt::DropActions(Qt::LinkAction) << Qt::LinkAction;
        QTest::newRow("move only") << local << Qt::DropActions(Qt::MoveAction) << Qt::IgnoreAction;
        QTest::newRow("no local file") << QUrl(QStringLiteral("https://example.com/a.jpg"))
                                       << Qt::DropActions(Qt::CopyAction) << Qt::IgnoreAction;
        // It is shown as a failed row.
        QTest::newRow("a file of another computer")
            << QUrl(QStringLiteral("file://nas/a.jpg")) << Qt::DropActions(Qt::CopyAction) << Qt::CopyAction;
    }

    void dropsAreTakenAsACopyNeverAMove()
    {
        QFETCH(QUrl, url);
        QFETCH(Qt::DropActions, offered);
        QFETCH(Qt::DropAction, taken);
        Harness h;
        QCOMPARE(dropOn(h.dropZone(), {url}, offered), taken);
    }

    void theChooserHandsOverExpandedFilesAndNothingOnCancel()
    {
        const QDir root(m_files.filePath(QStringLiteral("chooser")));
        writeImage(root.filePath(QStringLiteral("one.jpg")));
        writeImage(root.filePath(QStringLiteral("folder/two.png")));
        // Asking for a name, so a batch handed over even empty would show.
        Harness h(false, setAskForName);
        auto* button = h.dropZone()->findChild<QAbstractButton*>();
        press(button);
        h.chooser.answer({});
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::sendPostedEvents();
        QVERIFY(h.prompt.questions.empty());

        press(button);
        h.chooser.answer({root.filePath(QStringLiteral("one.jpg")), root.filePath(QStringLiteral("folder"))});
        QTRY_COMPARE(h.prompt.questions.size(), std::size_t{1});
        h.prompt.answer(QStringLiteral("Trip"));
        settle(*h.coordinator);
        QCOMPARE(h.jobs().size(), std::size_t{2});
        QCOMPARE(h.jobs()[0].path, root.filePath(QStringLiteral("one.jpg")));
        QCOMPARE(h.jobs()[1].path, root.filePath(QStringLiteral("folder/two.png")));
    }

    void theExportNamePromptHoldsTheBatchUntilAnswered()
    {
        Harness h(false, setAskForName);
        h.window->takeFiles({QStringLiteral("/photos/b.jpg"), QStringLiteral("/photos/a.jpg")});
        QCOMPARE(h.prompt.questions.size(), std::size_t{1});
        QCOMPARE(h.prompt.questions.back().initialText, QStringLiteral("  Trip "));
        QCOMPARE(h.prompt.questions.back().texts.acceptButton, Strings(AppLanguage::en).use);
        settle(*h.coordinator);
        QVERIFY(h.jobs().empty());

        // A batch that comes in while the prompt is open waits with the
        // first one instead of pushing it out.
        h.window->takeFiles({QStringLiteral("/more/c.jpg")});
        QCOMPARE(h.prompt.questions.size(), std::size_t{1});
        h.prompt.answer(QStringLiteral("Sum/mer"));
        settle(*h.coordinator);
        // Numbered under the cleaned name in file-name order.
        QCOMPARE(h.jobs().size(), std::size_t{3});
        QCOMPARE(h.jobs()[2].path, QStringLiteral("/more/c.jpg"));
        QCOMPARE(h.jobs()[2].sequenceBaseOverride, std::optional<QString>(QStringLiteral("Sum-mer")));
        QCOMPARE(h.jobs()[1].sequenceNumber, std::optional<int64_t>(1));
        QCOMPARE(h.jobs()[0].sequenceNumber, std::optional<int64_t>(2));
        QCOMPARE(h.jobs()[2].sequenceNumber, std::optional<int64_t>(3));
        QCOMPARE(h.engine.settingsSeen().at(0).renaming.base(), QStringLiteral("Sum-mer"));
        QCOMPARE(h.settings.renamingBaseName(), QStringLiteral("  Trip "));

        // Cancel drops the batch; a batch without images still asks, and its
        // answer adds nothing.
        h.window->takeFiles({QStringLiteral("/x/d.jpg")});
        h.prompt.answer(std::nullopt);
        h.window->takeFiles({});
        QCOMPARE(h.prompt.questions.size(), std::size_t{3});
        QCOMPARE(h.prompt.questions.back().initialText, QStringLiteral("  Trip "));
        h.prompt.answer(QStringLiteral("Other"));
        settle(*h.coordinator);
        QCOMPARE(h.jobs().size(), std::size_t{3});

        // A blank name is no name: numbered under the settings' base name.
        h.window->takeFiles({QStringLiteral("/x/e.jpg")});
        h.prompt.answer(QStringLiteral("  .. "));
        settle(*h.coordinator);
        QCOMPARE(h.jobs()[3].sequenceBaseOverride, std::nullopt);
        QCOMPARE(h.jobs()[3].sequenceNumber, std::optional<int64_t>(1));

        // Without sequence renaming, or without the option, nothing is asked.
        h.settings.setRenamingMode(S::RenamingModeOption::prefixSuffix);
        h.window->takeFiles({QStringLiteral("/p/a.jpg")});
        h.settings.setRenamingMode(S::RenamingModeOption::sequence);
        h.settings.setAskForNameBeforeExport(false);
        h.window->takeFiles({QStringLiteral("/p/b.jpg")});
        settle(*h.coordinator);
        QCOMPARE(h.prompt.questions.size(), std::size_t{4});
        QCOMPARE(h.jobs().size(), std::size_t{6});
        QCOMPARE(h.jobs()[5].sequenceBaseOverride, std::nullopt);
    }

    void eachWatchedChangeSendsOneSnapshot()
    {
        Harness h;
        std::vector<CompressionSettings> pushed;
        connect(h.window.get(), &ContentView::settingsPushed, this,
                [&pushed](const CompressionSettings& settings) { pushed.push_back(settings); });
        QCoreApplication::sendPostedEvents();
        QVERIFY(pushed.empty());

        // Every one of the 22 watched settings, each changed once.
        AppSettings& s = h.settings;
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
        s.setLossyQuality(42);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(pushed.size(), std::size_t{22});
        // Each snapshot is taken when its turn comes, so all carry the
        // settings as they stand then, and jobs that start afterwards run with them.
        for (const CompressionSettings& settings : pushed)
            QCOMPARE(settings.outputMode.kind(), OutputMode::Kind::customFolder);
        h.window->takeFiles({QStringLiteral("/q/a.jpg")});
        settle(*h.coordinator);
        QCOMPARE(h.engine.settingsSeen().at(0).mode.quality(), int64_t{42});

        // A preset that differs in three watched settings sends three.
        const std::optional<SettingsPreset> preset = s.savePreset(QStringLiteral("Now"));
        s.setLossyQuality(70);
        s.setTargetFormat(S::TargetFormatOption::png);
        s.setRenamingSuffix(QStringLiteral("-x"));
        s.setAskForNameBeforeExport(false);
        QCoreApplication::sendPostedEvents();
        pushed.clear();
        s.applyPreset(*preset);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(pushed.size(), std::size_t{3});
        QCOMPARE(pushed.back().targetFormat, TargetFormat::webp);
    }

    void theFootersStopAndTheListsRequestsReachTheQueue()
    {
        Harness h;
        h.window->takeFiles({"/r/a.jpg", "/r/fail.jpg", "/r/hold.jpg", "/r/d.jpg"});
        QCoreApplication::sendPostedEvents();
        QVERIFY(h.engine.waitUntilHolding(1));
        QTRY_VERIFY(shownKinds(*h.window) == (std::vector{K::done, K::failed, K::processing, K::pending}));

        // The set goes on whole; the queue keeps what has not ended.
        auto* list = h.window->findChild<JobListView*>();
        Q_EMIT list->removeRequested({h.jobs()[0].id, h.jobs()[2].id, h.jobs()[3].id});
        QTRY_VERIFY(shownKinds(*h.window) == (std::vector{K::failed, K::processing, K::pending}));
        press(h.window->findChild<QPushButton*>(QStringLiteral("stopButton")));
        QTRY_VERIFY(shownKinds(*h.window) == (std::vector{K::failed, K::processing, K::cancelled}));
        h.engine.release();
        QTRY_VERIFY(shownKinds(*h.window) == (std::vector{K::failed, K::done, K::cancelled}));
        QCOMPARE(h.window->findChild<QLabel*>(QStringLiteral("jobCount"))->text(), QStringLiteral("3"));
        Q_EMIT list->clearFinishedRequested();
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
        QCOMPARE(h.jobs().size(), std::size_t{1});

        // Commands still waiting for their turn go with the window; a
        // prompt answered late changes nothing.
        h.window = std::make_unique<ContentView>(h.settings, *h.coordinator, h.desktop, h.prompt, h.chooser);
        h.window->takeFiles({QStringLiteral("/g/b.jpg")});
        setAskForName(h.settings);
        h.window->takeFiles({QStringLiteral("/g/c.jpg")});
        h.window.reset();
        h.prompt.answer(QStringLiteral("late"));
        settle(*h.coordinator);
        QCOMPARE(h.jobs().size(), std::size_t{1});
    }

    void theWindowKeepsItsProportions()
    {
        Harness h;
        QCOMPARE(h.window->minimumSize(), QSize(480, 480));
        // The zone gets its full height first, also in the smallest window;
        // the list takes the rest.
        for (const QSize size : {QSize(300, 300), QSize(900, 1000)}) {
            h.window->resize(size);
            QTRY_COMPARE(h.dropZone()->height(), 140);
        }
        QVERIFY(h.window->findChild<JobListView*>()->height() > 500);
    }

    void theRealChooserTakesFilesAndFoldersTogether()
    {
        const QDir root(m_files.filePath(QStringLiteral("dialog")));
        writeImage(root.filePath(QStringLiteral("a.jpg")));
        QVERIFY(root.mkpath(QStringLiteral("sub")));
        std::optional<QStringList> answer;
        const auto openDialog = [&] { return openRealChooser(root.path(), answer); };

        QFileDialog* dialog = openDialog();
        QVERIFY(dialog);
        auto* field = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        // Going up stays navigation.
        field->setText(QStringLiteral(".."));
        static_cast<QDialog*>(dialog)->accept();
        QVERIFY(!answer);
        dialog->setDirectory(root.path());
        auto* model = dialog->findChild<QFileSystemModel*>();
        QTRY_COMPARE(model->rowCount(model->index(root.path())), 2);
        field->setText(QStringLiteral("\"a.jpg\" \"sub\""));
        static_cast<QDialog*>(dialog)->accept();
        QVERIFY(answer);
        answer->sort();
        QCOMPARE(*answer, (QStringList{root.filePath(QStringLiteral("a.jpg")), root.filePath(QStringLiteral("sub"))}));

        dialog = openDialog();
        QVERIFY(dialog);
        dialog->reject();
        QCOMPARE(answer, std::optional<QStringList>(QStringList()));
    }

    // A folder typed in the name field opens, by Enter or by the button, as
    // in every file dialog; a folder is chosen by selecting it in the list
    // and pressing the button.
    void theRealChooserOpensATypedFolder_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("byButton");
        QTest::addColumn<QString>("opened");
        const QString root = m_files.filePath(QStringLiteral("typed"));
        QTest::newRow("name") << "sub" << false << root + "/sub";
        QTest::newRow("name and slash") << "sub/" << false << root + "/sub";
        QTest::newRow("path") << root + "/sub/deeper" << false << root + "/sub/deeper";
        QTest::newRow("path, by the button") << root + "/sub/deeper" << true << root + "/sub/deeper";
        QTest::newRow("home") << "~/" << false << QDir::homePath();
    }

    void theRealChooserOpensATypedFolder()
    {
        QFETCH(QString, typed);
        QFETCH(bool, byButton);
        QFETCH(QString, opened);
        const QDir root(m_files.filePath(QStringLiteral("typed")));
        writeImage(root.filePath(QStringLiteral("sub/deeper/a.jpg")));
        std::optional<QStringList> answer;
        QFileDialog* dialog = openRealChooser(root.path(), answer);
        QVERIFY(dialog);
        auto* field = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        QPushButton* open = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Open);
        QTest::keyClicks(field, typed);
        if (byButton) {
            QVERIFY(open->isEnabled());
            QTest::mouseClick(open, Qt::LeftButton);
        } else {
            QTest::keyClick(field, Qt::Key_Return);
        }
        QVERIFY2(!answer, qPrintable(answer.value_or(QStringList()).join(u' ')));
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->directory().absolutePath(), opened);
        QCOMPARE(field->text(), QString());
        // Nothing is left chosen behind the folder's back.
        QCOMPARE(dialog->selectedFiles(), QStringList());

        // Selected in the list, a folder is chosen by the accept button.
        dialog->setDirectory(root.path());
        auto* list = dialog->findChild<QListView*>(QStringLiteral("listView"));
        QModelIndex sub;
        QTRY_VERIFY((sub = list->model()->index(0, 0, list->rootIndex())).isValid());
        QCOMPARE(sub.data().toString(), QStringLiteral("sub"));
        list->selectionModel()->select(sub, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        QVERIFY(open->isEnabled());
        QTest::mouseClick(open, Qt::LeftButton);
        QCOMPARE(answer, std::optional<QStringList>(QStringList{root.filePath(QStringLiteral("sub"))}));
    }

    void tabLeavesTheTableForTheFooter()
    {
        Harness h;
        h.window->takeFiles({QStringLiteral("/t/a.jpg"), QStringLiteral("/t/b.jpg")});
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
        App a;
        VantroApp app(a.desktop, a.prompt, a.chooser, a.folderChooser, a.engine.function());
        app.showMainWindow();
        app.openSettings();
        ContentView* window = app.mainWindow();
        QStringList files;
        for (int i = 0; i < 12; ++i)
            files << QStringLiteral("/big/hold-%1.png").arg(i);
        window->takeFiles(files);
        QCoreApplication::sendPostedEvents();
        QVERIFY(a.engine.waitUntilHolding(1));

        QAction* quit = nullptr;
        for (QAction* action : window->menuBar()->actions().value(0)->menu()->actions()) {
            if (action->shortcut() == QKeySequence(QStringLiteral("Ctrl+Q")))
                quit = action;
        }
        QVERIFY(quit);
        QTimer::singleShot(0, window, [=] { byQuitItem ? quit->trigger() : static_cast<void>(window->close()); });
        // Only a guard against hanging: the loop must end long before.
        const QObject guard;
        QTimer::singleShot(10000, &guard, [] { QCoreApplication::quit(); });
        QElapsedTimer timer;
        timer.start();
        QApplication::exec();
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));

        QCoreApplication::sendPostedEvents();
        QCOMPARE(kinds(app.coordinator().jobs()), std::vector<K>(12, K::cancelled));
        QVERIFY(!a.engine.waitUntilHolding(1, std::chrono::milliseconds(0)));
        for (QWidget* widget : QApplication::topLevelWidgets())
            QVERIFY2(!widget->isVisible(), qPrintable(widget->windowTitle()));
    }

    // Logging out sends SIGTERM; a terminal sends SIGINT or SIGHUP.
    void aTerminationSignalEndsTheProgramAsQuitDoes_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }

    void aTerminationSignalEndsTheProgramAsQuitDoes()
    {
        QFETCH(int, signalNumber);
        // Noise, so that the PNG optimiser is still at work when the signal comes.
        const QString big = m_files.filePath(QStringLiteral("signal/noise.png"));
        if (!QFileInfo::exists(big)) {
            QDir().mkpath(QFileInfo(big).path());
            QImage noise(1600, 1600, QImage::Format_RGB32);
            QRandomGenerator random(7);
            for (int y = 0; y < noise.height(); ++y)
                random.fillRange(reinterpret_cast<quint32*>(noise.scanLine(y)), static_cast<qsizetype>(noise.width()));
            QVERIFY(noise.save(big));
        }
        const QString ini = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Vantro/Vantro.ini");
        QSettingsDefaultsStore(ini).setData(QStringLiteral("window.mainGeometry"), {});
        const QDir temporary(QDir::tempPath());
        const QStringList ours{QStringLiteral("vantro-%1-*").arg(QCoreApplication::applicationPid())};
        const auto ourFolders = [&] { return temporary.entryList(ours, QDir::Dirs | QDir::Hidden); };
        QCOMPARE(ourFolders(), QStringList());

        // More files than run at once, so that some wait: hard links, one
        // image under many names.
        QStringList files;
        for (int i = 0; i < QThread::idealThreadCount() + 2; ++i) {
            const QString name = m_files.filePath(QStringLiteral("signal/%1-%2.png").arg(signalNumber).arg(i));
            QVERIFY(::link(QFile::encodeName(big).constData(), QFile::encodeName(name).constData()) == 0);
            files << name;
        }

        App a;
        VantroApp app(a.desktop, a.prompt, a.chooser, a.folderChooser);
        app.showMainWindow();
        app.mainWindow()->takeFiles(files);
        QTRY_VERIFY_WITH_TIMEOUT(!ourFolders().isEmpty(), 30000);

        QVERIFY(::kill(::getpid(), signalNumber) == 0);
        // Only a guard against hanging: the loop must end long before.
        const QObject guard;
        bool guardFired = false;
        QTimer::singleShot(10000, &guard, [&guardFired] {
            guardFired = true;
            QCoreApplication::quit();
        });
        QApplication::exec();
        QVERIFY(!guardFired);
        QCoreApplication::sendPostedEvents();
        QVERIFY(!app.mainWindow()->isVisible());
        QCOMPARE(app.coordinator().jobs().size(), static_cast<std::size_t>(files.size()));
        for (const Job& job : app.coordinator().jobs())
            QCOMPARE(job.status.kind(), K::cancelled);
        QCOMPARE(ourFolders(), QStringList());
        QVERIFY(
            !QSettingsDefaultsStore(ini).data(QStringLiteral("window.mainGeometry")).value_or(QByteArray()).isEmpty());
    }

    // The program itself, ended by its session: a normal exit that saved the
    // window's place.
    void theProgramEndsNormallyOnSIGTERM()
    {
        const QTemporaryDir home;
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), home.path());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        program.setProcessEnvironment(environment);
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        program.start(QStringLiteral(VANTRO_PROGRAM), {});
        QVERIFY(program.waitForStarted());
        // Signalled only once it listens, as the kernel tells.
        const auto catchesSigterm = [&program] {
            QFile status(QStringLiteral("/proc/%1/status").arg(program.processId()));
            if (!status.open(QIODevice::ReadOnly))
                return false;
            for (const QByteArray& line : status.readAll().split('\n')) {
                if (line.startsWith("SigCgt:"))
                    return (line.mid(7).trimmed().toULongLong(nullptr, 16) & (1ULL << (SIGTERM - 1))) != 0;
            }
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(catchesSigterm(), 20000);
        QVERIFY(::kill(static_cast<pid_t>(program.processId()), SIGTERM) == 0);
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        const QSettingsDefaultsStore saved(home.filePath(QStringLiteral("config/Vantro/Vantro.ini")));
        QVERIFY(!saved.data(QStringLiteral("window.mainGeometry")).value_or(QByteArray()).isEmpty());
    }

    void theApplicationOwnsItsWindowsAndMenus_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("cancel");
        QTest::newRow("en") << kEnglish << QStringLiteral("Cancel");
        QTest::newRow("cs") << kCzech << QStringLiteral(u"Zrušit");
    }

    void theApplicationOwnsItsWindowsAndMenus()
    {
        QFETCH(QLocale, locale);
        QFETCH(QString, cancel);
        QLocale::setDefault(locale);
        App a;
        auto app = std::make_unique<VantroApp>(a.desktop, a.prompt, a.chooser, a.folderChooser);
        // Qt's own texts speak the interface language while the program runs.
        const auto cancelText
            = [] { return QDialogButtonBox(QDialogButtonBox::Cancel).button(QDialogButtonBox::Cancel)->text(); };
        QCOMPARE(cancelText(), cancel);
        app->showMainWindow();
        ContentView* window = app->mainWindow();
        const QList<QAction*> menus = window->menuBar()->actions();
        QCOMPARE(menus.size(), 2);
        QCOMPARE(menus[1]->menu()->actions().size(), 1);
        menus[1]->menu()->actions()[0]->trigger();
        QCOMPARE(a.desktop.calls, QStringList{QStringLiteral("web ") + kSupportPageUrl.toString()});

        const auto settingsWindow = [window] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (qobject_cast<QMainWindow*>(widget) && widget != window && widget->isVisible())
                    return widget;
            }
            return static_cast<QWidget*>(nullptr);
        };
        QVERIFY(QTest::qWaitForWindowActive(window));
        QVERIFY(!settingsWindow());
        QTest::keyClick(window, Qt::Key_Comma, Qt::ControlModifier);
        QWidget* opened = settingsWindow();
        QVERIFY(opened);
        QCOMPARE(opened->width(), 520);
        // The Settings window carries the same menus, working alike.
        const QList<QAction*> settingsMenus = opened->findChild<QMenuBar*>()->actions();
        QCOMPARE(settingsMenus.size(), menus.size());
        QCOMPARE(settingsMenus[1]->text(), menus[1]->text());
        settingsMenus[1]->menu()->actions().value(0)->trigger();
        QCOMPARE(a.desktop.calls.size(), 2);
        opened->close();
        press(window->findChild<QAbstractButton*>(QStringLiteral("settingsButton")));
        QCOMPARE(settingsWindow(), opened);

        // Settings persist in the user's configuration folder.
        app->settings().setLossyQuality(33);
        app.reset();
        QCOMPARE(cancelText(), QStringLiteral("Cancel"));
        const QSettingsDefaultsStore reread(qEnvironmentVariable("XDG_CONFIG_HOME")
                                            + QStringLiteral("/Vantro/Vantro.ini"));
        QCOMPARE(reread.integer(QStringLiteral("settings.lossyQuality")), std::optional<int64_t>(33));
    }
};

int main(int argc, char* argv[])
{
    // The settings file, the Trash and the home folder of the run are
    // throwaway ones.
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/data")).toUtf8());
    QApplication app(argc, argv);
    MainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "MainWindowTest.moc"
