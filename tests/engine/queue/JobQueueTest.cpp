#include "CompressionError.h"
#include "JobCancellation.h"
#include "JobQueue.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

using namespace vantro;

namespace {

// A deadlock guard only: every wait below ends on an event long before this.
constexpr auto kGuard = std::chrono::seconds(30);

CompressionSettings settingsWith(RenamingMode renaming, const QString& separator = "_")
{
    return {CompressionMode::lossy(80), OutputMode::copyAlongside(), TargetFormat::keepOriginal,
            OriginalFileHandling::keep, renaming, ResizeMode::none(), 3, separator};
}

// An engine that, while held, blocks each call until its path is released,
// and fails the paths told to fail. It records what each call received.
class FakeEngine {
public:
    struct Call {
        QString path;
        RenamingMode renaming;
        QString separator;
        std::thread::id thread;
    };

    JobQueue::EngineFunction function()
    {
        return [this](const QString& path, const CompressionSettings& settings) { return compress(path, settings); };
    }

    void hold()
    {
        const std::lock_guard lock(m_mutex);
        m_held = true;
    }
    void release(const QString& path)
    {
        {
            const std::lock_guard lock(m_mutex);
            m_released.insert(path);
        }
        m_changed.notify_all();
    }
    void releaseAll()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_held = false;
        }
        m_changed.notify_all();
    }
    void failWith(const QString& path, std::function<void()> thrower)
    {
        const std::lock_guard lock(m_mutex);
        m_failures[path] = std::move(thrower);
    }

    // Waits until `count` calls have begun.
    bool waitForStarted(std::size_t count)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, kGuard, [&] { return m_calls.size() >= count; });
    }

    std::vector<Call> calls() const
    {
        const std::lock_guard lock(m_mutex);
        return m_calls;
    }
    Call call(const QString& path) const
    {
        const std::lock_guard lock(m_mutex);
        for (const Call& c : m_calls) {
            if (c.path == path)
                return c;
        }
        ADD_FAILURE() << "no call for " << path.toStdString();
        return {};
    }
    int running() const
    {
        const std::lock_guard lock(m_mutex);
        return m_running;
    }
    int maxRunning() const
    {
        const std::lock_guard lock(m_mutex);
        return m_maxRunning;
    }

private:
    CompressionResult compress(const QString& path, const CompressionSettings& settings)
    {
        std::function<void()> thrower;
        {
            std::unique_lock lock(m_mutex);
            m_calls.push_back({path, settings.renaming, settings.sequenceSeparator, std::this_thread::get_id()});
            m_maxRunning = std::max(m_maxRunning, ++m_running);
            m_changed.notify_all();
            m_changed.wait(lock, [&] { return !m_held || m_released.count(path) > 0; });
            --m_running;
            const auto failure = m_failures.find(path);
            if (failure != m_failures.end())
                thrower = failure->second;
        }
        if (thrower)
            thrower();
        CompressionResult result;
        result.originalSize = 100;
        result.compressedSize = 40;
        result.outputPath = path + ".out";
        return result;
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_held = false;
    std::set<QString> m_released;
    std::map<QString, std::function<void()>> m_failures;
    std::vector<Call> m_calls;
    int m_running = 0;
    int m_maxRunning = 0;
};

// Declared after the queue: lets held engine calls return before the queue's
// destructor waits for them, so a failed assertion ends the test instead of
// hanging it.
class ReleaseOnExit {
public:
    explicit ReleaseOnExit(FakeEngine& engine) : m_engine(engine) {}
    ~ReleaseOnExit() { m_engine.releaseAll(); }
    ReleaseOnExit(const ReleaseOnExit&) = delete;
    ReleaseOnExit& operator=(const ReleaseOnExit&) = delete;

private:
    FakeEngine& m_engine;
};

// Records every update the queue delivers.
class Updates {
public:
    JobQueue::UpdateCallback callback()
    {
        return [this](const JobList& jobs) {
            if (m_inside.exchange(true))
                m_reentered = true;
            if (m_queueGone)
                m_afterDestruction = true;
            {
                const std::lock_guard lock(m_mutex);
                m_lists.push_back(jobs);
                m_threads.insert(std::this_thread::get_id());
            }
            m_changed.notify_all();
            m_inside = false;
        };
    }

    std::size_t count() const
    {
        const std::lock_guard lock(m_mutex);
        return m_lists.size();
    }
    JobList last() const
    {
        const std::lock_guard lock(m_mutex);
        return m_lists.empty() ? JobList() : m_lists.back();
    }
    std::vector<JobList> all() const
    {
        const std::lock_guard lock(m_mutex);
        return m_lists;
    }
    std::set<std::thread::id> threads() const
    {
        const std::lock_guard lock(m_mutex);
        return m_threads;
    }
    bool waitForCount(std::size_t count)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, kGuard, [&] { return m_lists.size() >= count; });
    }

    std::atomic<bool> m_reentered{false};
    std::atomic<bool> m_queueGone{false};
    std::atomic<bool> m_afterDestruction{false};

private:
    std::atomic<bool> m_inside{false};
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<JobList> m_lists;
    std::set<std::thread::id> m_threads;
};

QStringList pathsNamed(const QStringList& names)
{
    QStringList paths;
    for (const QString& name : names)
        paths << "/photos/" + name;
    return paths;
}

const Job& jobAt(const JobList& jobs, const QString& path)
{
    for (const Job& job : jobs) {
        if (job.path == path)
            return job;
    }
    throw std::runtime_error("no job for " + path.toStdString());
}

std::vector<JobStatus::Kind> kinds(const JobList& jobs)
{
    std::vector<JobStatus::Kind> out;
    for (const Job& job : jobs)
        out.push_back(job.status.kind());
    return out;
}

void waitIdle(const JobQueue& queue)
{
    std::future<void> idle = queue.whenIdle();
    ASSERT_EQ(idle.wait_for(kGuard), std::future_status::ready);
}

using K = JobStatus::Kind;

} // namespace

TEST(JobListTest, ChangesLeaveEarlierListsAsTheyWere)
{
    std::vector<Job> many;
    for (int i = 0; i < 150; ++i)
        many.push_back(Job::make(QString::number(i)));
    const JobList first = JobList().appending(many);
    const JobList second = first.withStatus(140, JobStatus::failed("x"));
    const JobList third = second.appending({Job::make("extra")});
    const JobList fourth = third.filtered([](const Job& job) { return job.path.toInt() % 2 == 0; });
    const JobList fifth = third.withStatuses([](const Job& job) -> std::optional<JobStatus> {
        if (job.path == "3")
            return JobStatus::cancelled();
        return std::nullopt;
    });

    ASSERT_EQ(first.size(), 150u);
    EXPECT_EQ(first[140].status.kind(), K::pending);
    EXPECT_EQ(second[140].status.kind(), K::failed);
    EXPECT_EQ(second[140].status.message(), "x");
    ASSERT_EQ(third.size(), 151u);
    EXPECT_EQ(third[150].path, "extra");
    EXPECT_EQ(third[149].path, "149");
    EXPECT_EQ(fourth.size(), 76u); // the even numbers 0..148 and "extra" (toInt gives 0)
    EXPECT_EQ(fourth[75].path, "extra");
    EXPECT_EQ(fifth[3].status.kind(), K::cancelled);
    EXPECT_EQ(third[3].status.kind(), K::pending);
    std::size_t visited = 0;
    for (const Job& job : third)
        EXPECT_EQ(job.path, third[visited++].path);
    EXPECT_EQ(visited, 151u);
}

TEST(JobQueueTest, BatchesAreNumberedInFileBrowserOrderAndCountersContinuePerBaseName)
{
    FakeEngine engine;
    JobQueue queue(settingsWith(RenamingMode::sequence("trip", 99)), engine.function(), [] { return 2; });

    queue.add(pathsNamed({"b.jpg", "a.jpg", "c.jpg"}));
    queue.add(pathsNamed({"img10.png", "IMG2.png", "img1.png"}));
    queue.add(pathsNamed({"z.jpg"}), QString("   ")); // blank override: numbered under "trip"
    queue.add(pathsNamed({"y.jpg", "x.jpg"}), QString(" one/off "));
    queue.add(pathsNamed({"w.jpg"}), QString("one-off")); // the same cleaned base continues
    queue.add({});
    waitIdle(queue);

    const JobList jobs = queue.jobs().get();
    QStringList order;
    for (const Job& job : jobs)
        order << job.path.section('/', -1);
    EXPECT_EQ(order, QStringList({"b.jpg", "a.jpg", "c.jpg", "img10.png", "IMG2.png", "img1.png", "z.jpg", "y.jpg",
                                  "x.jpg", "w.jpg"}));
    const std::vector<std::optional<int64_t>> expected{2, 1, 3, 6, 5, 4, 7, 2, 1, 3};
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(jobs[i].sequenceNumber, expected[i]) << order[static_cast<qsizetype>(i)].toStdString();
    EXPECT_FALSE(jobs[6].sequenceBaseOverride.has_value());
    EXPECT_EQ(jobs[7].sequenceBaseOverride, QString("one-off"));

    // Each job ran with its own number and base; the settings' number is not used.
    EXPECT_EQ(engine.call("/photos/IMG2.png").renaming, RenamingMode::sequence("trip", 5));
    EXPECT_EQ(engine.call("/photos/x.jpg").renaming, RenamingMode::sequence("one-off", 1));
    EXPECT_EQ(engine.call("/photos/w.jpg").renaming, RenamingMode::sequence("one-off", 3));

    // Another base name starts at 1; the first one's counter is kept.
    queue.updateSettings(settingsWith(RenamingMode::sequence(" beach ", 1)));
    queue.add(pathsNamed({"v.jpg"}));
    waitIdle(queue);
    queue.updateSettings(settingsWith(RenamingMode::sequence("trip", 1)));
    queue.add(pathsNamed({"u.jpg"}));
    waitIdle(queue);
    EXPECT_EQ(engine.call("/photos/v.jpg").renaming, RenamingMode::sequence(" beach ", 1));
    EXPECT_EQ(engine.call("/photos/u.jpg").renaming, RenamingMode::sequence("trip", 8));
}

TEST(JobQueueTest, AFileGetsNoSecondJobWhileItsJobIsPendingOrProcessing)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString a = dir.filePath("a.jpg");
    const QString b = dir.filePath("b.jpg");
    const QString c = dir.filePath("c.jpg");
    for (const QString& file : {a, b, c}) {
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    }
    const QString link = dir.filePath("link.jpg");
    ASSERT_TRUE(QFile::link(a, link));
    const QString gone = dir.filePath("gone.jpg");

    FakeEngine engine;
    engine.hold();
    JobQueue queue(settingsWith(RenamingMode::sequence("trip", 1)), engine.function(), [] { return 2; });
    const ReleaseOnExit releaseOnExit(engine);

    // A file through a symlink and directly, one twice, one gone named two ways.
    queue.add({link, b, a, dir.path() + "/sub/../gone.jpg", b, gone});
    ASSERT_TRUE(engine.waitForStarted(1));
    JobList jobs = queue.jobs().get();
    QStringList added;
    for (const Job& job : jobs)
        added << job.path;
    EXPECT_EQ(added, QStringList({link, b, dir.path() + "/sub/../gone.jpg"}));
    // Numbered in name order over the jobs made: no gap for the duplicates.
    EXPECT_EQ(jobs[1].sequenceNumber, 1); // b
    EXPECT_EQ(jobs[2].sequenceNumber, 2); // gone
    EXPECT_EQ(jobs[0].sequenceNumber, 3); // link
    EXPECT_EQ(kinds(jobs), std::vector<K>({K::processing, K::pending, K::pending}));

    // Processing (a, via the link) and pending (b, gone) files are left out.
    queue.add({a, b, gone, c});
    jobs = queue.jobs().get();
    ASSERT_EQ(jobs.size(), 4u);
    EXPECT_EQ(jobs[3].path, c);
    EXPECT_EQ(jobs[3].sequenceNumber, 4);

    // Cancelled, failed and done jobs no longer hold their files.
    queue.cancelAll();
    queue.add({b});
    engine.failWith(b, [] { throw std::runtime_error("no"); });
    engine.releaseAll();
    waitIdle(queue);
    EXPECT_EQ(kinds(queue.jobs().get()),
              std::vector<K>({K::done, K::cancelled, K::cancelled, K::cancelled, K::failed}));
    queue.add({b, link, c});
    waitIdle(queue);
    jobs = queue.jobs().get();
    ASSERT_EQ(jobs.size(), 8u);
    EXPECT_EQ(jobs[5].path, b);
    EXPECT_EQ(jobs[6].path, link);
    EXPECT_EQ(jobs[7].path, c);
    EXPECT_EQ(kinds(jobs), std::vector<K>({K::done, K::cancelled, K::cancelled, K::cancelled, K::failed, K::failed,
                                           K::done, K::done}));
}

TEST(JobQueueTest, RenamingIsAdaptedWhenTheJobStartsNotWhenItIsAdded)
{
    FakeEngine engine;
    engine.hold();
    JobQueue queue(settingsWith(RenamingMode::none(), "first"), engine.function(), [] { return 2; });
    const ReleaseOnExit releaseOnExit(engine);

    queue.add(pathsNamed({"running.jpg"}));
    ASSERT_TRUE(engine.waitForStarted(1));
    // Added without sequence renaming: no numbers, so the jobs run without
    // renaming even though sequence renaming is on when they start.
    queue.add(pathsNamed({"plain.jpg"}));
    queue.add(pathsNamed({"custom.jpg"}), QString("cover"));
    queue.updateSettings(settingsWith(RenamingMode::sequence("trip", 1), "second"));
    engine.releaseAll();
    waitIdle(queue);

    // The running job kept the settings it started with.
    EXPECT_EQ(engine.call("/photos/running.jpg").separator, "first");
    EXPECT_EQ(engine.call("/photos/plain.jpg").renaming, RenamingMode::none());
    EXPECT_EQ(engine.call("/photos/plain.jpg").separator, "second");
    EXPECT_EQ(engine.call("/photos/custom.jpg").renaming, RenamingMode::none());

    // A custom base takes the batch's one-off name; prefix and suffix stay.
    queue.updateSettings(settingsWith(RenamingMode::customBase("base")));
    queue.add(pathsNamed({"one.jpg"}), QString("cover"));
    queue.add(pathsNamed({"two.jpg"}));
    waitIdle(queue);
    EXPECT_EQ(engine.call("/photos/one.jpg").renaming, RenamingMode::customBase("cover"));
    EXPECT_EQ(engine.call("/photos/two.jpg").renaming, RenamingMode::customBase("base"));
    queue.updateSettings(settingsWith(RenamingMode::prefixSuffix("p", "s")));
    queue.add(pathsNamed({"three.jpg"}), QString("cover"));
    waitIdle(queue);
    EXPECT_EQ(engine.call("/photos/three.jpg").renaming, RenamingMode::prefixSuffix("p", "s"));
}

TEST(JobQueueTest, SettingsChangeDuringAPassReachesOnlyJobsStartingAfterIt)
{
    FakeEngine engine;
    engine.hold();
    JobQueue queue(settingsWith(RenamingMode::none(), "A"), engine.function(), [] { return 3; });
    const ReleaseOnExit releaseOnExit(engine);

    queue.add(pathsNamed({"1.jpg", "2.jpg", "3.jpg"}));
    ASSERT_TRUE(engine.waitForStarted(2));
    queue.updateSettings(settingsWith(RenamingMode::none(), "B"));
    queue.jobs().get(); // the change has been made
    engine.release("/photos/1.jpg");
    ASSERT_TRUE(engine.waitForStarted(3));
    engine.releaseAll();
    waitIdle(queue);

    EXPECT_EQ(engine.call("/photos/1.jpg").separator, "A");
    EXPECT_EQ(engine.call("/photos/2.jpg").separator, "A");
    EXPECT_EQ(engine.call("/photos/3.jpg").separator, "B");
}

TEST(JobQueueTest, AtMostTheLimitRunAndAFinishedJobLetsTheNextStart)
{
    FakeEngine engine;
    std::atomic<int> processors{1};
    JobQueue queue(settingsWith(RenamingMode::none()), engine.function(), [&] { return processors.load(); });
    const ReleaseOnExit releaseOnExit(engine);

    // The count is read at every pass; one or two processors run one job.
    std::size_t started = 0;
    for (const int count : {1, 4, 8}) {
        SCOPED_TRACE(count);
        processors = count;
        const std::size_t limit = static_cast<std::size_t>(std::max(count - 1, 1));
        engine.hold();
        QStringList paths;
        for (std::size_t i = 0; i < limit + 2; ++i)
            paths << QString("/photos/%1-%2.jpg").arg(count).arg(i);
        queue.add(paths);
        ASSERT_TRUE(engine.waitForStarted(started + limit));
        JobList jobs = queue.jobs().get();
        EXPECT_EQ(engine.calls().size(), started + limit);
        EXPECT_EQ(jobs[limit].status.kind(), K::pending);

        // The last running job ends and the next starts at once, while the
        // others still run: a window, not batches.
        engine.release(paths[static_cast<qsizetype>(limit) - 1]);
        ASSERT_TRUE(engine.waitForStarted(started + limit + 1));
        jobs = queue.jobs().get();
        EXPECT_EQ(jobs[0].status.kind(), limit > 1 ? K::processing : K::done);
        EXPECT_EQ(jobs[limit - 1].status.kind(), K::done);
        EXPECT_EQ(jobs[limit].status.kind(), K::processing);
        EXPECT_EQ(jobs[limit + 1].status.kind(), K::pending);

        engine.releaseAll();
        waitIdle(queue);
        EXPECT_EQ(engine.maxRunning(), static_cast<int>(limit));
        EXPECT_EQ(kinds(queue.jobs().get()), std::vector<K>(limit + 2, K::done));
        queue.clearFinished();
        started += limit + 2;
    }
}

TEST(JobQueueTest, StopCancelsWaitingJobsAndLetsRunningOnesFinish)
{
    FakeEngine engine;
    engine.hold();
    Updates updates;
    JobQueue queue(settingsWith(RenamingMode::none()), engine.function(), [] { return 4; });
    const ReleaseOnExit releaseOnExit(engine);
    queue.setOnUpdate(updates.callback());

    QStringList paths;
    for (int i = 0; i < 13; ++i)
        paths << QString("/photos/%1.jpg").arg(i, 2, 10, QChar('0'));
    queue.add(paths);
    ASSERT_TRUE(engine.waitForStarted(3));
    ASSERT_TRUE(updates.waitForCount(1 + 3));

    queue.cancelAll();
    // Added while the stopped pass still waits for its running jobs.
    queue.add({"/photos/late.jpg"});
    JobList jobs = queue.jobs().get();
    ASSERT_EQ(updates.count(), 1u + 3u + 1u + 1u);
    const JobList afterStop = updates.all()[4];
    std::vector<K> expected(13, K::cancelled);
    expected[0] = expected[1] = expected[2] = K::processing;
    EXPECT_EQ(kinds(afterStop), expected);
    expected.push_back(K::pending);
    EXPECT_EQ(kinds(jobs), expected);

    engine.failWith(paths[1], [] { throw CompressionError::encoderFailed("no luck: 01.jpg"); });
    engine.releaseAll();
    waitIdle(queue);

    jobs = queue.jobs().get();
    expected = std::vector<K>(13, K::cancelled);
    expected[0] = expected[2] = K::done;
    expected[1] = K::failed;
    expected.push_back(K::done);
    EXPECT_EQ(kinds(jobs), expected);
    EXPECT_EQ(jobs[1].status.message(), R"(encoderFailed("no luck: 01.jpg"))");
    EXPECT_EQ(jobs[0].status.result().outputPath, paths[0] + ".out");
    // One update per running job's end, then the late job's two.
    EXPECT_EQ(updates.count(), 6u + 3u + 2u);
    EXPECT_EQ(engine.calls().size(), 4u);

    // Stop with nothing pending still reports, and a terminal job stays terminal.
    queue.cancelAll();
    queue.jobs().get();
    EXPECT_EQ(updates.count(), 12u);
    EXPECT_EQ(kinds(updates.last()), expected);
}

TEST(JobQueueTest, RemovingFinishedJobsDuringAPassKeepsOutcomesOnTheRightJobs)
{
    FakeEngine engine;
    engine.hold();
    Updates updates;
    JobQueue queue(settingsWith(RenamingMode::none()), engine.function(), [] { return 3; });
    const ReleaseOnExit releaseOnExit(engine);
    queue.setOnUpdate(updates.callback());

    const QStringList paths = pathsNamed({"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg"});
    queue.add(paths);
    ASSERT_TRUE(engine.waitForStarted(2));
    engine.release(paths[0]);
    ASSERT_TRUE(engine.waitForStarted(3)); // a done, c started

    JobList jobs = queue.jobs().get();
    QSet<QUuid> named;
    for (const Job& job : jobs)
        named.insert(job.id); // every job: only the terminal one may go
    queue.removeJobs(named);
    jobs = queue.jobs().get();
    ASSERT_EQ(jobs.size(), 4u);
    EXPECT_EQ(jobs[0].path, paths[1]);
    EXPECT_EQ(kinds(jobs), std::vector<K>({K::processing, K::processing, K::pending, K::pending}));

    // Later jobs moved up one place; each outcome must still land on its own job.
    engine.failWith(paths[2], [] { throw std::runtime_error("c failed"); });
    engine.release(paths[2]);
    ASSERT_TRUE(engine.waitForStarted(4));
    EXPECT_EQ(jobAt(queue.jobs().get(), paths[2]).status.message(), "c failed");
    queue.clearFinished();
    queue.removeJob(jobAt(queue.jobs().get(), paths[1]).id); // processing: ignored
    jobs = queue.jobs().get();
    EXPECT_EQ(jobs.size(), 3u);
    EXPECT_EQ(jobAt(jobs, paths[1]).status.kind(), K::processing);
    EXPECT_EQ(jobAt(jobs, paths[3]).status.kind(), K::processing);

    const std::size_t before = updates.count();
    queue.removeJobs({QUuid::createUuid()}); // no match: still reported
    queue.jobs().get();
    EXPECT_EQ(updates.count(), before + 1);

    engine.releaseAll();
    waitIdle(queue);
    jobs = queue.jobs().get();
    ASSERT_EQ(jobs.size(), 3u);
    for (const Job& job : jobs) {
        EXPECT_EQ(job.status.kind(), K::done) << job.path.toStdString();
        EXPECT_EQ(job.status.result().outputPath, job.path + ".out");
    }
    queue.removeJob(jobs[1].id);
    queue.add({"/photos/new.jpg"});
    waitIdle(queue);
    queue.clearFinished();
    EXPECT_TRUE(queue.jobs().get().empty());
}

TEST(JobQueueTest, AnythingAnEngineThrowsEndsOnlyThatJob)
{
    FakeEngine engine;
    JobQueue queue(settingsWith(RenamingMode::none()), engine.function(), [] { return 2; });
    const QStringList paths = pathsNamed({"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg", "f.jpg", "g.jpg", "h.jpg"});
    engine.failWith(paths[0], [] { throw CompressionError::ioFailure("Disk \"full\": a.jpg"); });
    engine.failWith(paths[1], [] { throw CompressionError::unsupportedFormat(); });
    engine.failWith(paths[2], [] { throw std::runtime_error("Zkouška selhala"); });
    engine.failWith(paths[3], [] { throw std::system_error(ENOENT, std::generic_category(), "Cannot read"); });
    engine.failWith(paths[4], [] { throw 42; });
    engine.failWith(paths[5], [] { throw std::runtime_error(""); });
    engine.failWith(paths[7], [] { throw JobCancelled(); });
    queue.add(paths);
    waitIdle(queue);

    const JobList jobs = queue.jobs().get();
    ASSERT_EQ(kinds(jobs), std::vector<K>({K::failed, K::failed, K::failed, K::failed, K::failed, K::failed, K::done,
                                           K::cancelled}));
    EXPECT_EQ(jobs[0].status.message(), R"(ioFailure("Disk \"full\": a.jpg"))");
    EXPECT_EQ(jobs[1].status.message(), "unsupportedFormat");
    EXPECT_EQ(jobs[2].status.message(), QString::fromUtf8("Zkouška selhala"));
    EXPECT_TRUE(jobs[3].status.message().startsWith("Cannot read: ")) << jobs[3].status.message().toStdString();
    EXPECT_EQ(jobs[4].status.message(), "Unknown error");
    EXPECT_EQ(jobs[5].status.message(), "Unknown error");
}

TEST(JobQueueTest, EveryChangeDeliversTheWholeListOnTheQueueThreadOneAtATime)
{
    FakeEngine engine;
    Updates updates;
    std::unique_ptr<JobQueue> queue;
    queue = std::make_unique<JobQueue>(settingsWith(RenamingMode::none()), engine.function(), [] { return 4; });
    queue->updateSettings(settingsWith(RenamingMode::none())); // no update
    queue->setOnUpdate([&, inner = updates.callback()](const JobList& jobs) {
        inner(jobs);
        // Calling into the queue from the callback must neither deadlock nor re-enter it.
        queue->updateSettings(settingsWith(RenamingMode::none()));
    });
    queue->jobs().get();
    EXPECT_EQ(updates.count(), 0u);

    queue->add({});
    waitIdle(*queue);
    ASSERT_EQ(updates.count(), 1u);
    EXPECT_TRUE(updates.last().empty());

    queue->add(pathsNamed({"a.jpg"}));
    waitIdle(*queue);
    queue->add(pathsNamed({"b.jpg", "c.jpg", "d.jpg", "e.jpg", "f.jpg", "g.jpg"}));
    waitIdle(*queue);
    queue->clearFinished();
    queue->jobs().get();

    const std::vector<JobList> lists = updates.all();
    // empty add; a: add, processing, done; six: add, 2 x 6; clear.
    ASSERT_EQ(lists.size(), 1u + 3u + 13u + 1u);
    EXPECT_EQ(kinds(lists[1]), std::vector<K>({K::pending}));
    EXPECT_EQ(kinds(lists[2]), std::vector<K>({K::processing}));
    EXPECT_EQ(kinds(lists[3]), std::vector<K>({K::done}));
    for (std::size_t i = 4; i < lists.size() - 1; ++i)
        EXPECT_EQ(lists[i].size(), 7u);
    EXPECT_EQ(std::vector<K>(7, K::done), kinds(lists[lists.size() - 2]));
    EXPECT_TRUE(lists.back().empty());

    EXPECT_FALSE(updates.m_reentered);
    const std::set<std::thread::id> threads = updates.threads();
    ASSERT_EQ(threads.size(), 1u);
    EXPECT_NE(*threads.begin(), std::this_thread::get_id());
    for (const FakeEngine::Call& call : engine.calls())
        EXPECT_NE(call.thread, *threads.begin());
}

namespace {

// Jobs that block until they are told to stop, or, for an engine deaf to
// that, until released. Shared, so an abandoned call may outlive the test's
// queue safely.
struct BlockingEngine {
    std::mutex mutex;
    std::condition_variable changed;
    int started = 0;
    int returned = 0;
    bool released = false;

    static JobQueue::EngineFunction function(const std::shared_ptr<BlockingEngine>& engine, bool heedsStop)
    {
        return [engine, heedsStop](const QString&, const CompressionSettings&) -> CompressionResult {
            std::unique_lock lock(engine->mutex);
            ++engine->started;
            engine->changed.notify_all();
            const auto stopped = [&] { return engine->released || (heedsStop && JobCancellation::requested()); };
            while (!engine->changed.wait_for(lock, std::chrono::milliseconds(5), stopped)) {
            }
            ++engine->returned;
            engine->changed.notify_all();
            if (!engine->released)
                throw JobCancelled();
            return {};
        };
    }
};

void expectPromptShutdown(bool heedsStop)
{
    auto engine = std::make_shared<BlockingEngine>();
    Updates updates;
    auto queue = std::make_unique<JobQueue>(settingsWith(RenamingMode::none()),
                                            BlockingEngine::function(engine, heedsStop), [] { return 3; });
    queue->setOnUpdate(updates.callback());
    queue->add(pathsNamed({"a.png", "b.png", "c.png", "d.png", "e.png"}));
    {
        std::unique_lock lock(engine->mutex);
        ASSERT_TRUE(engine->changed.wait_for(lock, kGuard, [&] { return engine->started == 2; }));
    }

    const auto begin = std::chrono::steady_clock::now();
    queue.reset();
    updates.m_queueGone = true;
    const auto elapsed = std::chrono::steady_clock::now() - begin;
    EXPECT_LT(elapsed, std::chrono::milliseconds(1500));

    // A deaf engine's calls are abandoned, still processing.
    const K running = heedsStop ? K::cancelled : K::processing;
    EXPECT_EQ(kinds(updates.last()), std::vector<K>({running, running, K::cancelled, K::cancelled, K::cancelled}));
    {
        std::unique_lock lock(engine->mutex);
        EXPECT_EQ(engine->started, 2);
        engine->released = true;
        engine->changed.notify_all();
        ASSERT_TRUE(engine->changed.wait_for(lock, kGuard, [&] { return engine->returned == 2; }));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // lets an abandoned call try to report
    EXPECT_FALSE(updates.m_afterDestruction);
}

} // namespace

// Rows: an engine that stops when told, and one busy in code that cannot be interrupted.
TEST(JobQueueTest, DestroyingTheQueueCancelsEverythingPromptlyAndReportsNoMore)
{
    for (const bool heedsStop : {true, false}) {
        SCOPED_TRACE(heedsStop ? "engine stops when told" : "engine cannot be interrupted");
        expectPromptShutdown(heedsStop);
    }
}
