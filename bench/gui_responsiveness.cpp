// Measures how the job list keeps up with a busy queue: 10,000 files added at
// once to a JobQueue whose engine does nothing, every job going to processing
// and then to done or failed, each reported list handed to a visible
// JobListView on the GUI thread. A 0 ms timer stamps every event-loop pass, so
// the longest gap between stamps is the longest stall a user would feel.
// Prints one JSON line. A measuring tool, not a product feature.
//
//   gui_responsiveness [--rounds N]
//
// Between rounds the finished jobs are cleared, so the rounds show whether
// memory stays flat.

#include "DesktopActions.h"
#include "JobListView.h"
#include "JobQueue.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QItemSelectionModel>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <stdexcept>
#include <thread>

using namespace vantro;

namespace {

constexpr int kJobs = 10000;

class NoDesktop final : public DesktopActions {
public:
    void openFile(const QString&) override {}
    void revealInFileManager(const QString&) override {}
    void copyPath(const QString&) override {}
    void openWebPage(const QUrl&) override {}
};

// A field of /proc/self/status in kB (VmRSS now, VmHWM the peak so far).
qint64 statusKB(const char* field)
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int roundsIndex = static_cast<int>(args.indexOf(QStringLiteral("--rounds")));
    const int rounds = roundsIndex >= 0 ? std::max(1, args.value(roundsIndex + 1).toInt()) : 2;

    NoDesktop desktop;
    JobListView view(desktop);
    view.resize(900, 700);
    view.show();
    auto* table = view.findChild<QTableView*>();
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents();
    const qint64 rssBefore = statusKB("VmRSS");

    const CompressionSettings settings{CompressionMode::lossy(80),
                                       OutputMode::copyAlongside(),
                                       TargetFormat::keepOriginal,
                                       OriginalFileHandling::keep,
                                       RenamingMode::none(),
                                       ResizeMode::none(),
                                       2,
                                       "-"};
    // Every tenth file fails, so both terminal rows are drawn.
    JobQueue queue(settings, [](const QString& path, const CompressionSettings&) {
        if (path.endsWith(QStringLiteral("0.jpg")))
            throw std::runtime_error("stand-in failure");
        CompressionResult result;
        result.originalSize = 1'000'000;
        result.compressedSize = 600'000;
        result.outputPath = path.chopped(4) + QStringLiteral("-optim.jpg");
        return result;
    });

    // Measures from the first add to the last update shown.
    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = clock.nsecsElapsed();
    qint64 longestGap = 0;
    bool measuring = false;
    QTimer ticker;
    ticker.setInterval(0);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (measuring)
            longestGap = std::max(longestGap, now - lastTick);
        lastTick = now;
    });
    ticker.start();

    // As the window's coordinator does: every update the queue reports
    // becomes one queued call on the GUI thread.
    std::atomic<long long> queueUpdates{0};
    queue.setOnUpdate([&](const JobList& jobs) {
        ++queueUpdates;
        QMetaObject::invokeMethod(
            &view, [&view, jobs] { view.setJobs(jobs); }, Qt::QueuedConnection);
    });

    QJsonArray roundSeconds;
    QJsonArray rssAfterRounds;
    bool selectionKept = true;
    bool scrollKept = true;
    double totalSeconds = 0;
    for (int round = 0; round < rounds; ++round) {
        QStringList paths;
        paths.reserve(kJobs);
        for (int i = 0; i < kJobs; ++i)
            paths << QStringLiteral("/bench/round%1/IMG_%2.jpg").arg(round).arg(i);

        measuring = true;
        lastTick = clock.nsecsElapsed();
        const qint64 start = lastTick;
        queue.add(paths);

        // Once every row is there, choose some rows and scroll to the middle;
        // both must be the same when the round is over.
        QEventLoop loop;
        while (table->model()->rowCount() < kJobs)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QItemSelection chosen;
        for (int row : {10, 11, 12, 5000, 9999})
            chosen.select(table->model()->index(row, 0), table->model()->index(row, 2));
        table->selectionModel()->select(chosen, QItemSelectionModel::ClearAndSelect);
        table->verticalScrollBar()->setValue(table->verticalScrollBar()->maximum() / 2);
        const int scroll = table->verticalScrollBar()->value();
        const QModelIndexList selectedBefore = table->selectionModel()->selectedRows();

        // The queue's last update is posted before it reports idle, so the
        // call posted after that runs once the last list has been shown.
        std::thread waiter([&] {
            queue.whenIdle().get();
            QMetaObject::invokeMethod(
                &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
        });
        loop.exec();
        waiter.join();
        const qint64 end = clock.nsecsElapsed();
        measuring = false;

        QStringList idsBefore;
        for (const QModelIndex& index : selectedBefore)
            idsBefore << index.siblingAtColumn(0).data(Qt::UserRole + 1).toString();
        QStringList idsAfter;
        for (const QModelIndex& index : table->selectionModel()->selectedRows())
            idsAfter << index.data(Qt::UserRole + 1).toString();
        selectionKept = selectionKept && idsBefore.size() == 5 && idsBefore == idsAfter;
        scrollKept = scrollKept && table->verticalScrollBar()->value() == scroll;

        const double seconds = static_cast<double>(end - start) / 1e9;
        totalSeconds += seconds;
        roundSeconds.append(seconds);
        rssAfterRounds.append(statusKB("VmRSS"));

        // Clear the finished jobs before the next round, as the row menu would.
        queue.clearFinished();
        while (table->model()->rowCount() > 0)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }

    const QJsonObject line{
        {"jobs", kJobs},
        {"rounds", rounds},
        {"platform", QGuiApplication::platformName()},
        {"longestGapMs", static_cast<double>(longestGap) / 1e6},
        {"totalSeconds", totalSeconds},
        {"roundSeconds", roundSeconds},
        {"queueUpdates", static_cast<double>(queueUpdates.load())},
        {"rssBeforeKB", static_cast<double>(rssBefore)},
        {"rssAfterRoundsKB", rssAfterRounds},
        {"peakRssKB", static_cast<double>(statusKB("VmHWM"))},
        {"selectionKept", selectionKept},
        {"scrollKept", scrollKept},
    };
    std::printf("%s\n", QJsonDocument(line).toJson(QJsonDocument::Compact).constData());
    return selectionKept && scrollKept ? 0 : 1;
}
