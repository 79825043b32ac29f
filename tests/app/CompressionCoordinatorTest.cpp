#include "CompressionCoordinator.h"
#include "FakeEngine.h"

#include <QCoreApplication>
#include <QDir>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

using namespace vantro;
using vantro::testing::FakeEngine;

namespace {

CompressionSettings plainSettings()
{
    return CompressionSettings{CompressionMode::lossless(), OutputMode::copyAlongside(), TargetFormat::keepOriginal,
                               OriginalFileHandling::keep,  RenamingMode::none(),         ResizeMode::none(),
                               2,                           QStringLiteral("-")};
}

// One job at a time, so held jobs keep the rest waiting.
int oneAtATime()
{
    return 2;
}

// Waits until the queue has run every operation given so far and has gone
// idle; every update it made is then posted to this thread, not yet delivered.
void settle(CompressionCoordinator& coordinator)
{
    coordinator.queue().whenIdle().wait();
    coordinator.queue().jobs().wait();
}

void deliver()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

QStringList names(const QStringList& fileNames)
{
    QStringList paths;
    for (const QString& name : fileNames)
        paths << QDir::temp().filePath(name);
    return paths;
}

std::vector<JobStatus::Kind> kinds(const JobList& jobs)
{
    std::vector<JobStatus::Kind> result;
    for (const Job& job : jobs)
        result.push_back(job.status.kind());
    return result;
}

struct Recorder {
    std::vector<JobList> lists;
    bool allOnGuiThread = true;

    void connectTo(CompressionCoordinator& coordinator, QObject* context)
    {
        QObject::connect(&coordinator, &CompressionCoordinator::jobsChanged, context, [this](const JobList& jobs) {
            allOnGuiThread = allOnGuiThread && QThread::currentThread() == QCoreApplication::instance()->thread();
            lists.push_back(jobs);
        });
    }
};

} // namespace

class CompressionCoordinatorTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void updatesGoNowhereUntilStarted()
    {
        FakeEngine engine;
        CompressionCoordinator coordinator(plainSettings(), engine.function());
        Recorder recorder;
        recorder.connectTo(coordinator, this);
        QVERIFY(coordinator.jobs().empty());

        coordinator.queue().add(names({QStringLiteral("a.jpg"), QStringLiteral("b.png")}));
        settle(coordinator);
        deliver();
        QVERIFY(recorder.lists.empty());
        QVERIFY(coordinator.jobs().empty());

        // Registering alone reports nothing; the next change brings the
        // jobs added before it.
        coordinator.start();
        settle(coordinator);
        deliver();
        QVERIFY(recorder.lists.empty());

        coordinator.queue().removeJobs({});
        settle(coordinator);
        deliver();
        QCOMPARE(recorder.lists.size(), std::size_t{1});
        QCOMPARE(coordinator.jobs().size(), std::size_t{2});
        QCOMPARE(kinds(coordinator.jobs()), (std::vector{JobStatus::Kind::done, JobStatus::Kind::done}));
    }

    void everyUpdateArrivesOnceInOrderOnTheGuiThread()
    {
        FakeEngine engine;
        CompressionCoordinator coordinator(plainSettings(), engine.function(), oneAtATime);
        Recorder recorder;
        recorder.connectTo(coordinator, this);
        // A second start replaces the first callback rather than adding one.
        coordinator.start();
        coordinator.start();

        coordinator.queue().add(names({QStringLiteral("1.jpg"), QStringLiteral("2.jpg"), QStringLiteral("3.jpg")}));
        settle(coordinator);
        deliver();

        // The addition, then "processing" and "done" for each job.
        QCOMPARE(recorder.lists.size(), std::size_t{7});
        QVERIFY(recorder.allOnGuiThread);
        using K = JobStatus::Kind;
        QCOMPARE(kinds(recorder.lists[0]), (std::vector{K::pending, K::pending, K::pending}));
        QCOMPARE(kinds(recorder.lists[1]), (std::vector{K::processing, K::pending, K::pending}));
        QCOMPARE(kinds(recorder.lists[2]), (std::vector{K::done, K::pending, K::pending}));
        QCOMPARE(kinds(recorder.lists[5]), (std::vector{K::done, K::done, K::processing}));
        QCOMPARE(kinds(recorder.lists[6]), (std::vector{K::done, K::done, K::done}));
        QCOMPARE(kinds(coordinator.jobs()), kinds(recorder.lists.back()));

        // Removing every job publishes the empty list.
        coordinator.queue().clearFinished();
        settle(coordinator);
        deliver();
        QCOMPARE(recorder.lists.size(), std::size_t{8});
        QVERIFY(coordinator.jobs().empty());
    }

    void cancellingShowsTheWaitingJobsCancelled()
    {
        FakeEngine engine;
        CompressionCoordinator coordinator(plainSettings(), engine.function(), oneAtATime);
        coordinator.start();
        coordinator.queue().add(names({QStringLiteral("hold.jpg"), QStringLiteral("b.jpg"), QStringLiteral("c.jpg")}));
        QVERIFY(engine.waitUntilHolding(1));
        coordinator.queue().cancelAll();
        coordinator.queue().jobs().wait();
        deliver();
        using K = JobStatus::Kind;
        QCOMPARE(kinds(coordinator.jobs()), (std::vector{K::processing, K::cancelled, K::cancelled}));

        // The running job still ends on its own.
        engine.release();
        settle(coordinator);
        deliver();
        QCOMPARE(kinds(coordinator.jobs()), (std::vector{K::done, K::cancelled, K::cancelled}));
    }

    void aLateUpdateAfterTheCoordinatorIsGoneDoesNothing()
    {
        // Counts the hops that reach a coordinator, wherever they would land.
        struct HopCounter final : QObject {
            const QObject* target = nullptr;
            int hops = 0;
            bool eventFilter(QObject* receiver, QEvent* event) override
            {
                if (receiver == target && event->type() == QEvent::MetaCall)
                    ++hops;
                return false;
            }
        } counter;
        QCoreApplication::instance()->installEventFilter(&counter);

        FakeEngine engine;
        for (const bool goneFirst : {false, true}) {
            auto coordinator = std::make_unique<CompressionCoordinator>(plainSettings(), engine.function());
            counter.target = coordinator.get();
            counter.hops = 0;
            coordinator->start();
            coordinator->queue().add(names({QStringLiteral("a.jpg"), QStringLiteral("fail.jpg")}));
            settle(*coordinator);
            // The updates now wait in the GUI thread's queue.
            if (goneFirst)
                coordinator.reset();
            deliver();
            QCOMPARE(counter.hops, goneFirst ? 0 : 5);
        }
        QCoreApplication::instance()->removeEventFilter(&counter);
    }
};

QTEST_GUILESS_MAIN(CompressionCoordinatorTest)
#include "CompressionCoordinatorTest.moc"
