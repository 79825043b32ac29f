#include "CompressionCoordinator.h"
#include "FakeEngine.h"
#include "TestDoubles.h"

#include <QCoreApplication>
#include <QDir>
#include <QThread>

#include <memory>
#include <vector>

using namespace vantro;
using namespace vantro::testing;
using K = JobStatus::Kind;

namespace {

CompressionSettings plainSettings()
{
    return CompressionSettings{CompressionMode::lossless(),
                               OutputMode::copyAlongside(),
                               TargetFormat::keepOriginal,
                               OriginalFileHandling::keep,
                               RenamingMode::none(),
                               ResizeMode::none(),
                               2,
                               QStringLiteral("-")};
}

// Runs until the queue is idle, then delivers the updates it posted here.
void settle(CompressionCoordinator& coordinator)
{
    coordinator.queue().whenIdle().wait();
    coordinator.queue().jobs().wait();
    QCoreApplication::sendPostedEvents();
}

QStringList paths(std::initializer_list<const char*> names)
{
    QStringList result;
    for (const char* name : names)
        result << QDir::temp().filePath(QString::fromUtf8(name));
    return result;
}

} // namespace

class CompressionCoordinatorTest : public QObject {
    Q_OBJECT

    FakeEngine engine;
    CompressionCoordinator coordinator{plainSettings(), engine.function()};
    std::vector<std::vector<K>> seen;
    bool allOnGuiThread = true;

private Q_SLOTS:
    void initTestCase()
    {
        connect(&coordinator, &CompressionCoordinator::jobsChanged, this, [this](const JobList& jobs) {
            allOnGuiThread = allOnGuiThread && QThread::currentThread() == QCoreApplication::instance()->thread();
            seen.push_back(kinds(jobs));
        });
    }

    void updatesGoNowhereUntilStartedThenArriveOnceInOrder()
    {
        coordinator.queue().add(paths({"1.jpg", "2.jpg"}));
        settle(coordinator);
        QVERIFY(seen.empty());
        QVERIFY(coordinator.jobs().empty());

        // A second start replaces the first callback rather than adding one;
        // registering alone reports nothing.
        coordinator.start();
        coordinator.start();
        settle(coordinator);
        QVERIFY(seen.empty());

        coordinator.queue().add(paths({"3.jpg"}));
        settle(coordinator);
        // The addition, then "processing" and "done" of the new job.
        QCOMPARE(seen,
                 (std::vector<std::vector<K>>{
                     {K::done, K::done, K::pending}, {K::done, K::done, K::processing}, {K::done, K::done, K::done}}));
        QVERIFY(allOnGuiThread);
        QCOMPARE(kinds(coordinator.jobs()), seen.back());
        coordinator.queue().clearFinished();
        settle(coordinator);
        QVERIFY(coordinator.jobs().empty());
    }

    void aLateUpdateAfterTheCoordinatorIsGoneDoesNothing_data()
    {
        QTest::addColumn<bool>("goneFirst");
        QTest::newRow("coordinator alive") << false;
        QTest::newRow("coordinator gone") << true;
    }

    void aLateUpdateAfterTheCoordinatorIsGoneDoesNothing()
    {
        QFETCH(bool, goneFirst);
        // Counts the hops that reach the coordinator, wherever they would land.
        struct HopCounter final : QObject {
            const QObject* target = nullptr;
            int hops = 0;
            bool eventFilter(QObject* receiver, QEvent* event) override
            {
                hops += receiver == target && event->type() == QEvent::MetaCall;
                return false;
            }
        } counter;
        QCoreApplication::instance()->installEventFilter(&counter);
        FakeEngine ownEngine;
        auto late = std::make_unique<CompressionCoordinator>(plainSettings(), ownEngine.function());
        counter.target = late.get();
        late->start();
        late->queue().add(paths({"a.jpg", "fail.jpg"}));
        late->queue().whenIdle().wait();
        late->queue().jobs().wait();
        // The updates now wait in the GUI thread's queue.
        if (goneFirst)
            late.reset();
        QCoreApplication::sendPostedEvents();
        QCOMPARE(counter.hops, goneFirst ? 0 : 5);
        QCoreApplication::instance()->removeEventFilter(&counter);
    }
};

QTEST_GUILESS_MAIN(CompressionCoordinatorTest)
#include "CompressionCoordinatorTest.moc"
