#include "TestImages.h"

#include "ImageDropExpander.h"
#include "JobCancellation.h"
#include "JobFootprint.h"
#include "JobQueue.h"
#include "JobQueueTesting.h"

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace vantro;
using namespace std::chrono_literals;
using K = JobStatus::Kind;

namespace {

// A deadlock guard only: every wait below ends on an event long before this.
constexpr auto kGuard = std::chrono::seconds(30);

CompressionSettings settingsWith(RenamingMode renaming, const QString& separator = "_")
{
    return {CompressionMode::lossy(80),
            OutputMode::copyAlongside(),
            TargetFormat::keepOriginal,
            OriginalFileHandling::keep,
            renaming,
            ResizeMode::none(),
            3,
            separator};
}

std::vector<K> kinds(const JobList& jobs)
{
    std::vector<K> out;
    for (const Job& job : jobs)
        out.push_back(job.status.kind());
    return out;
}

// The fixture is the engine and the observer of its queue. The engine, while
// held, blocks each call until its path is released (or, when it heeds the stop
// flag, until told to stop) and fails the paths told to fail. Everything is
// read and written under one lock.
class JobQueueTest : public ::testing::Test {
protected:
    // Held engine calls return before the queue goes, so a failed assertion
    // ends the test instead of hanging it.
    ~JobQueueTest() override
    {
        change([&] { held = false; });
        queue.reset();
    }

    void start(int processorCount, const CompressionSettings& settings = settingsWith(RenamingMode::none()))
    {
        processors = processorCount;
        queue = std::make_unique<JobQueue>(
            settings, [this](const QString& path, const CompressionSettings& s) { return compress(path, s); },
            [this] { return processors.load(); });
        queue->setOnUpdate(observer());
    }

    CompressionResult compress(const QString& path, const CompressionSettings& settings)
    {
        std::function<void()> thrower;
        {
            std::unique_lock lock(mutex);
            calls.emplace(path, settings);
            ++callCount;
            engineThreads.insert(std::this_thread::get_id());
            maxRunning = std::max(maxRunning, ++running);
            runningBytes += bytesOf[path];
            maxRunningBytes = std::max(maxRunningBytes, runningBytes);
            changed.notify_all();
            const auto go = [&] { return !held || released.count(path) > 0; };
            // The stop flag rings no bell: look at it now and then.
            while (!changed.wait_for(lock, 5ms, [&] { return go() || (heedsStop && JobCancellation::requested()); })) {}
            thrower = !go() ? [] { throw JobCancelled(); } : failures[path];
            --running;
            runningBytes -= bytesOf[path];
            changed.notify_all();
        }
        if (thrower)
            thrower();
        CompressionResult result;
        result.outputPath = path + ".out";
        return result;
    }

    JobQueue::UpdateCallback observer()
    {
        return [this](const JobList& list) {
            if (inside.exchange(true))
                reentered = true;
            if (queueGone)
                afterDestruction = true;
            change([&] {
                updates.push_back(list);
                updateThreads.insert(std::this_thread::get_id());
            });
            inside = false;
        };
    }

    template <typename Read>
    auto locked(Read read)
    {
        const std::lock_guard lock(mutex);
        return read();
    }
    void change(const std::function<void()>& apply)
    {
        locked(apply);
        changed.notify_all();
    }
    bool waitUntil(const std::function<bool()>& ready)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, kGuard, ready);
    }
    bool waitForStarted(std::size_t count)
    {
        return waitUntil([&] { return callCount >= count; });
    }
    // Nothing tells when the queue has taken a header in: give it time to
    // start more than `count` jobs, which it must not.
    bool startsNoMoreThan(std::size_t count)
    {
        std::unique_lock lock(mutex);
        return !changed.wait_for(lock, 250ms, [&] { return callCount > count; });
    }
    void hold()
    {
        change([&] { held = true; });
    }
    void release(const QString& path)
    {
        change([&] { released.insert(path); });
    }
    void releaseAll()
    {
        change([&] { held = false; });
    }
    void failWith(const QString& path, std::function<void()> thrower)
    {
        change([&] { failures[path] = thrower; });
    }
    std::size_t updateCount()
    {
        return locked([&] { return updates.size(); });
    }
    // The settings the engine was called with for that path.
    CompressionSettings settingsOf(const QString& path)
    {
        const std::lock_guard lock(mutex);
        EXPECT_TRUE(calls.count(path)) << "no call for " << path.toStdString();
        return calls.count(path) ? calls.at(path) : settingsWith(RenamingMode::customBase("none"));
    }
    // The paths in the order the queue reported their jobs processing.
    std::vector<QString> startOrder()
    {
        const std::lock_guard lock(mutex);
        std::vector<QString> order;
        for (const JobList& list : updates) {
            for (const Job& job : list) {
                if (job.status.kind() == K::processing
                    && std::find(order.begin(), order.end(), job.path) == order.end())
                    order.push_back(job.path);
            }
        }
        return order;
    }
    JobList jobs() const { return queue->jobs().get(); }
    void waitIdle() const { ASSERT_EQ(queue->whenIdle().wait_for(kGuard), std::future_status::ready); }

    void expectPromptShutdown(bool heeds);

    std::mutex mutex;
    std::condition_variable changed;
    bool held = false;
    bool heedsStop = true;
    std::set<QString> released;
    std::map<QString, std::function<void()>> failures;
    std::map<QString, CompressionSettings> calls;
    std::set<std::thread::id> engineThreads, updateThreads;
    std::size_t callCount = 0;
    int running = 0;
    int maxRunning = 0;
    // The queue's estimate for each file, and the most the running calls had together.
    std::map<QString, uint64_t> bytesOf;
    uint64_t runningBytes = 0;
    uint64_t maxRunningBytes = 0;
    std::vector<JobList> updates;
    std::atomic<bool> inside{false}, reentered{false}, queueGone{false}, afterDestruction{false};
    std::atomic<int> processors{2};
    std::unique_ptr<JobQueue> queue;
};

} // namespace

TEST(JobListTest, ChangesLeaveEarlierListsAsTheyWere)
{
    std::vector<Job> many;
    for (int i = 0; i < 150; ++i)
        many.push_back(Job::make(QString::number(i)));
    const JobList first = JobList().appending(many);
    const JobList second = first.withStatus(140, JobStatus::failed("x")).appending({Job::make("extra")});
    const JobList even = second.filtered([](const Job& job) { return job.path.toInt() % 2 == 0; });
    const JobList third = second.withStatuses(
        [](const Job& job) { return job.path == "3" ? std::optional(JobStatus::cancelled()) : std::nullopt; });
    EXPECT_EQ(first[140].status.kind(), K::pending);
    EXPECT_EQ(std::next(second.begin(), 140)->status.message(), "x");
    EXPECT_EQ(std::next(second.begin(), 150)->path, "extra");
    EXPECT_EQ(even.size(), 76u); // 0, 2, ... 148 and "extra" (toInt gives 0)
    EXPECT_EQ(even[75].path, "extra");
    EXPECT_EQ(third[3].status.kind(), K::cancelled);
    EXPECT_EQ(second[3].status.kind(), K::pending);
}

TEST_F(JobQueueTest, NumbersFollowFileBrowserOrderAndContinuePerBaseName)
{
    hold();
    start(2, settingsWith(RenamingMode::sequence("trip", 99)));
    queue->add(QStringList({"img10.png", "IMG2.png", "img1.png"}));
    queue->add(QStringList({"z.jpg"}), QString("   ")); // a blank one-off base: numbered under "trip"
    queue->add(QStringList({"y.jpg", "x.jpg"}), QString(" one/off "));
    queue->add(QStringList({"w.jpg"}), QString("one-off")); // the same cleaned base continues
    // Another base name starts at 1; the first one's counter is kept.
    queue->updateSettings(settingsWith(RenamingMode::sequence(" beach ", 1)));
    queue->add(QStringList({"v.jpg"}));
    queue->updateSettings(settingsWith(RenamingMode::sequence("trip", 1)));
    queue->add(QStringList({"u.jpg"}));
    std::vector<std::optional<int64_t>> numbers;
    for (const Job& job : jobs())
        numbers.push_back(job.sequenceNumber);
    EXPECT_EQ(numbers, (std::vector<std::optional<int64_t>>{3, 2, 1, 4, 2, 1, 3, 1, 5}));

    // Each job runs with its own number and base; the settings' number is not used.
    releaseAll();
    waitIdle();
    EXPECT_EQ(settingsOf("img1.png").renaming, RenamingMode::sequence("trip", 1));
    EXPECT_EQ(settingsOf("x.jpg").renaming, RenamingMode::sequence("one-off", 1));
}

TEST_F(JobQueueTest, AFileGetsNoSecondJobWhileItsJobIsPendingOrProcessing)
{
    QTemporaryDir dir;
    const QString a = dir.filePath("a.jpg"), b = dir.filePath("b.jpg"), c = dir.filePath("c.jpg");
    for (const QString& file : {a, b, c})
        test::writeFile(file, "");
    const QString link = dir.filePath("link.jpg");
    ASSERT_TRUE(QFile::link(a, link));
    const QString gone = dir.filePath("gone.jpg");
    hold();
    start(2, settingsWith(RenamingMode::sequence("trip", 1)));

    // A file through a symlink and directly, one twice, one gone named two ways.
    queue->add({link, b, a, dir.path() + "/sub/../gone.jpg", b, gone});
    ASSERT_TRUE(waitForStarted(1));
    JobList list = jobs();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].path, link);
    EXPECT_EQ(list[1].path, b);
    // Numbered in name order over the jobs made: no gap for the duplicates.
    EXPECT_EQ(list[0].sequenceNumber, 3);
    EXPECT_EQ(list[2].sequenceNumber, 2);
    EXPECT_EQ(kinds(list), std::vector<K>({K::processing, K::pending, K::pending}));

    // Processing (a, via the link) and pending (b, gone) files are left out.
    queue->add({a, b, gone, c});
    list = jobs();
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[3].sequenceNumber, 4);

    // Cancelled, failed and done jobs no longer hold their files.
    queue->cancelAll();
    queue->add({b});
    failWith(b, [] { throw std::runtime_error("no"); });
    releaseAll();
    waitIdle();
    queue->add({b, link, c});
    waitIdle();
    list = jobs();
    ASSERT_EQ(list.size(), 8u);
    EXPECT_EQ(list[6].path, link);
    EXPECT_EQ(
        kinds(list),
        std::vector<K>({K::done, K::cancelled, K::cancelled, K::cancelled, K::failed, K::failed, K::done, K::done}));
}

// A name that is not UTF-8 beside its twin holding U+FFFD, in a folder given
// by a path that is not clean, as a drop of "A/." or a command line's "." gives
// it: every file keeps its own job. Held, so that the first batch's jobs are
// still active while the second arrives and no key of the first may repeat.
TEST_F(JobQueueTest, EveryFileOfAFolderGivenByAnyPathGetsItsOwnJob)
{
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.filePath("A"));
    ASSERT_EQ(::mkdir(folder.constData(), 0700), 0);
    for (const QByteArray name : {"caf\xe9.jpg", "caf\xef\xbf\xbd.jpg", "ok.jpg"})
        ASSERT_EQ(::close(::creat((folder + '/' + name).constData(), 0600)), 0);
    hold();
    start(1);

    for (const QByteArray& given : {folder + "/.", folder + "/./../A"}) {
        queue->add(ImageDropExpander::expandToFiles({given}));
        EXPECT_EQ(jobs().size(), 3u) << given.toStdString();
        queue->add(ImageDropExpander::expandToFiles({folder}));
        EXPECT_EQ(jobs().size(), 3u) << "the same files again";
        queue->cancelAll();
        releaseAll();
        waitIdle();
        queue->clearFinished();
        hold();
    }
}

// A job takes the settings of the moment it starts, even within a running pass.
TEST_F(JobQueueTest, RenamingAndSettingsAreTakenWhenTheJobStarts)
{
    hold();
    start(3, settingsWith(RenamingMode::none(), "first"));
    queue->add(QStringList({"1.jpg", "2.jpg", "3.jpg"}));
    ASSERT_TRUE(waitForStarted(2));
    // Added without sequence renaming: no numbers, so the jobs run without
    // renaming even though sequence renaming is on when they start.
    queue->add(QStringList({"plain.jpg"}));
    queue->add(QStringList({"custom.jpg"}), QString("cover"));
    queue->updateSettings(settingsWith(RenamingMode::sequence("trip", 1), "second"));
    jobs(); // the change has been made
    release("1.jpg");
    ASSERT_TRUE(waitForStarted(3));
    releaseAll();
    waitIdle();
    EXPECT_EQ(settingsOf("2.jpg").sequenceSeparator, "first");
    EXPECT_EQ(settingsOf("3.jpg").sequenceSeparator, "second");
    EXPECT_EQ(settingsOf("plain.jpg").renaming, RenamingMode::none());
    EXPECT_EQ(settingsOf("custom.jpg").renaming, RenamingMode::none());

    // A custom base takes the batch's one-off name; prefix and suffix stay.
    queue->updateSettings(settingsWith(RenamingMode::customBase("base")));
    queue->add(QStringList({"one.jpg"}), QString("cover"));
    queue->add(QStringList({"two.jpg"}));
    waitIdle();
    queue->updateSettings(settingsWith(RenamingMode::prefixSuffix("p", "s")));
    queue->add(QStringList({"three.jpg"}), QString("cover"));
    waitIdle();
    EXPECT_EQ(settingsOf("one.jpg").renaming, RenamingMode::customBase("cover"));
    EXPECT_EQ(settingsOf("two.jpg").renaming, RenamingMode::customBase("base"));
    EXPECT_EQ(settingsOf("three.jpg").renaming, RenamingMode::prefixSuffix("p", "s"));
}

TEST_F(JobQueueTest, AtMostTheLimitRunAndAFinishedJobLetsTheNextStart)
{
    start(1);
    // The count is read at every pass; one or two processors run one job.
    std::size_t started = 0;
    for (const auto& [count, limit] : {std::pair{1, std::size_t{1}}, std::pair{4, std::size_t{3}}}) {
        SCOPED_TRACE(count);
        processors = count;
        hold();
        QStringList paths;
        for (std::size_t i = 0; i < limit + 2; ++i)
            paths << QString("%1-%2.jpg").arg(count).arg(i);
        queue->add(paths);
        ASSERT_TRUE(waitForStarted(started + limit));
        EXPECT_EQ(jobs()[limit].status.kind(), K::pending);

        // The last running job ends and the next starts at once, while the
        // others still run: a window, not batches.
        release(paths[static_cast<qsizetype>(limit) - 1]);
        ASSERT_TRUE(waitForStarted(started + limit + 1));
        const JobList list = jobs();
        EXPECT_EQ(list[0].status.kind(), limit > 1 ? K::processing : K::done);
        EXPECT_EQ(list[limit - 1].status.kind(), K::done);
        EXPECT_EQ(list[limit].status.kind(), K::processing);
        EXPECT_EQ(list[limit + 1].status.kind(), K::pending);

        releaseAll();
        waitIdle();
        EXPECT_EQ(locked([&] { return maxRunning; }), static_cast<int>(limit));
        queue->clearFinished();
        started += limit + 2;
    }
}

// A PNG of no pixels at all whose header claims the size given: what the
// queue reads before a job starts, cheap to make at any size. Built by hand:
// no encoder threads run beside the queue's.
QByteArray pngClaiming(int width, int height)
{
    QByteArray header;
    test::appendBigEndian(header, static_cast<uint32_t>(width));
    test::appendBigEndian(header, static_cast<uint32_t>(height));
    header.append("\x08\x02\x00\x00\x00", 5); // 8-bit RGB
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + test::pngChunk("IHDR", header)
        + test::pngChunk("IDAT", QByteArray(16, '\0')) + test::pngChunk("IEND", {});
}

// Jobs start by memory as well as by processors, in list order: a job that
// does not fit waits for running ones to end, and holds back the small jobs
// behind it; one bigger than the whole budget runs alone; a batch of photos
// runs as many at once as the processors allow. Each row waits behind a job
// bigger than any budget, so that its headers are all in when its jobs
// compete, not taken in the order they happen to arrive.
TEST_F(JobQueueTest, JobsStartInOrderWhileTheirMemoryFitsTheBudget)
{
    struct Row {
        const char* name;
        QList<int> megapixels; // 0: a file that cannot be read
        double budgetInLargestJobs;
        std::size_t firstWave;
        int mostAtOnce;
    };
    const Row rows[] = {
        {"two of four fit", {64, 64, 64, 64, 0, 0}, 2.5, 2, 4},
        {"each over the budget", {64, 64, 0, 64}, 0.5, 1, 1},
        {"photos with room for all", {24, 24, 24, 24, 24, 24, 24, 24, 24}, 8, 7, 7},
    };
    QTemporaryDir dir;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const CompressionSettings settings = settingsWith(RenamingMode::none());
        QStringList paths;
        std::map<QString, JobFootprint> footprints;
        uint64_t largest = 0;
        for (const int megapixels : row.megapixels) {
            const QString path = dir.filePath(QStringLiteral("%1-%2.png").arg(row.name).arg(paths.size()));
            if (megapixels > 0)
                test::writeFile(path, pngClaiming(megapixels * 125, 8000));
            footprints[path] = JobFootprint::read(path);
            const uint64_t bytes = footprints[path].peakBytes(settings);
            change([&] { bytesOf[path] = bytes; });
            largest = std::max(largest, bytes);
            paths << path;
        }
        ASSERT_GT(largest, uint64_t{200} << 20); // the headers were read
        const QString gate = dir.filePath(QStringLiteral("%1-gate.png").arg(row.name));
        footprints[gate] = {ImageFormat::png, 16000, 16000};
        paths.prepend(gate);

        change([&] {
            updates.clear();
            maxRunning = 0;
            maxRunningBytes = 0;
            callCount = 0;
        });
        hold();
        start(8, settings);
        // The headers as read here: libvips, unseen by the thread checker,
        // need not run on the queue's threads for this. The row's come in
        // once the gate runs, or one of its jobs could start first.
        JobQueueTesting::readFootprintsWith(*queue, [this, footprints, gate](const QString& path) {
            if (path != gate) {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return callCount > 0 || !held; });
            }
            return footprints.at(path);
        });
        const auto budget = static_cast<uint64_t>(static_cast<double>(largest) * row.budgetInLargestJobs);
        ASSERT_GT(footprints[gate].peakBytes(settings), budget);
        queue->setMemoryBudget(budget);
        queue->add(paths);
        ASSERT_TRUE(waitForStarted(1));
        EXPECT_TRUE(startsNoMoreThan(1)); // the gate runs alone
        release(gate);
        ASSERT_TRUE(waitForStarted(1 + row.firstWave));
        EXPECT_TRUE(startsNoMoreThan(1 + row.firstWave));
        for (std::size_t i = 1 + row.firstWave; i < static_cast<std::size_t>(paths.size()); ++i)
            EXPECT_EQ(jobs()[i].status.kind(), K::pending) << i;

        // Each ending lets the next start; none overtakes another.
        for (const QString& path : std::as_const(paths))
            release(path);
        waitIdle();
        EXPECT_EQ(kinds(jobs()), std::vector<K>(static_cast<std::size_t>(paths.size()), K::done));
        EXPECT_EQ(startOrder(), std::vector<QString>(paths.begin(), paths.end()));
        EXPECT_LE(locked([&] { return maxRunning; }), row.mostAtOnce);
        if (budget >= largest) {
            EXPECT_LE(locked([&] { return maxRunningBytes; }), budget);
        }
    }
}

// On a slow folder every header read is mostly waiting: the next jobs'
// headers are read side by side, as the jobs themselves run, not one file at
// a time.
TEST_F(JobQueueTest, TheNextJobsHeadersAreReadSideBySide)
{
    std::size_t reading = 0;
    bool slow = true;
    start(4);
    JobQueueTesting::readFootprintsWith(*queue, [&](const QString&) {
        std::unique_lock lock(mutex);
        ++reading;
        changed.notify_all();
        changed.wait(lock, [&] { return !slow; });
        return JobFootprint{};
    });
    queue->add({"a.jpg", "b.jpg", "c.jpg", "d.jpg"});
    EXPECT_TRUE(waitUntil([&] { return reading == 3; })) << locked([&] { return reading; }) << " read at once";
    change([&] { slow = false; });
    waitIdle();
    EXPECT_EQ(kinds(jobs()), std::vector<K>(4, K::done));
}

// One file whose first read is slow (a stalled share, a waking disk) keeps
// its own slot and no other: the jobs behind it start meanwhile. Once its
// header is in it waits for memory like any job, and holds back the jobs
// behind it while it does.
TEST_F(JobQueueTest, AJobWhoseHeaderIsStillBeingReadHoldsOnlyItsOwnSlot)
{
    const CompressionSettings settings = settingsWith(RenamingMode::none());
    const QString slow = "slow.jpg";
    const QStringList paths = QStringList({slow, "a.jpg", "b.jpg", "c.jpg"});
    std::map<QString, JobFootprint> footprints;
    for (const QString& path : paths) {
        footprints[path]
            = path == slow ? JobFootprint{ImageFormat::jpeg, 8000, 6000} : JobFootprint{ImageFormat::jpeg, 4000, 3000};
        change([&] { bytesOf[path] = footprints[path].peakBytes(settings); });
    }
    // The slow one fits beside no other job; two others fit side by side.
    const uint64_t budget = bytesOf[slow] + bytesOf["a.jpg"] / 2;
    hold();
    start(4, settings);
    // Its header, like its engine call, waits until released.
    bool slowRead = false;
    JobQueueTesting::readFootprintsWith(*queue, [this, slow, footprints, &slowRead](const QString& path) {
        if (path == slow) {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return !held || released.count(path) > 0; });
            slowRead = true;
            changed.notify_all();
        }
        return footprints.at(path);
    });
    queue->setMemoryBudget(budget);
    queue->add(paths);

    // Of three slots, its read keeps one: a and b run, and c waits.
    ASSERT_TRUE(waitForStarted(2));
    // Its header in, it does not fit beside a and b: it waits too.
    release(slow);
    ASSERT_TRUE(waitUntil([&] { return slowRead; }));
    EXPECT_TRUE(startsNoMoreThan(2));
    // When a ends, c would fit beside b, but the slow one came first.
    release("a.jpg");
    EXPECT_TRUE(startsNoMoreThan(2));

    releaseAll();
    waitIdle();
    EXPECT_EQ(kinds(jobs()), std::vector<K>(4, K::done));
    const std::vector<QString> order = startOrder();
    ASSERT_EQ(order.size(), 4u);
    EXPECT_EQ(std::vector<QString>(order.begin() + 2, order.end()), std::vector<QString>({slow, "c.jpg"}));
    EXPECT_LE(locked([&] { return maxRunningBytes; }), budget);
}

TEST_F(JobQueueTest, StopCancelsWaitingJobsAndLetsRunningOnesFinish)
{
    hold();
    start(3);
    const QStringList paths = QStringList({"0.jpg", "1.jpg", "2.jpg", "3.jpg", "4.jpg", "late.jpg"});
    queue->add(paths.mid(0, 5));
    ASSERT_TRUE(waitUntil([&] { return callCount >= 2 && updates.size() >= 3; }));
    queue->cancelAll();
    // Added while the stopped pass still waits for its running jobs.
    queue->add({paths[5]});
    jobs();
    ASSERT_EQ(updateCount(), 5u);
    EXPECT_EQ(kinds(locked([&] { return updates[3]; })),
              std::vector<K>({K::processing, K::processing, K::cancelled, K::cancelled, K::cancelled}));

    // Anything an engine throws, also what no std::exception is, ends only its job.
    failWith(paths[0], [] { throw 42; });
    failWith(paths[1], [] { throw JobCancelled(); });
    failWith(paths[5], [] { throw std::runtime_error(""); });
    releaseAll();
    waitIdle();
    const JobList list = jobs();
    const std::vector<K> ended{K::failed, K::cancelled, K::cancelled, K::cancelled, K::cancelled, K::failed};
    EXPECT_EQ(kinds(list), ended);
    EXPECT_EQ(list[0].status.message(), "Unknown error");
    EXPECT_EQ(list[5].status.message(), "Unknown error");
    // One update per running job's end, then the late job's two.
    EXPECT_EQ(updateCount(), 5u + 2u + 2u);
    EXPECT_EQ(locked([&] { return callCount; }), 3u);

    // Stop with nothing pending still reports, and a terminal job stays terminal.
    queue->cancelAll();
    jobs();
    EXPECT_EQ(updateCount(), 10u);
    EXPECT_EQ(kinds(locked([&] { return updates.back(); })), ended);
}

TEST_F(JobQueueTest, RemovingFinishedJobsDuringAPassKeepsOutcomesOnTheRightJobs)
{
    hold();
    start(3);
    const QStringList paths = QStringList({"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg"});
    queue->add(paths);
    ASSERT_TRUE(waitForStarted(2));
    release(paths[0]);
    ASSERT_TRUE(waitForStarted(3)); // a done, c started

    QSet<QUuid> every;
    for (const Job& job : jobs())
        every.insert(job.id); // only the terminal one may go
    queue->removeJobs(every);
    EXPECT_EQ(kinds(jobs()), std::vector<K>({K::processing, K::processing, K::pending, K::pending}));

    // Later jobs moved up one place; each outcome must still land on its own job.
    failWith(paths[2], [] { throw std::runtime_error("Zkouška selhala"); });
    release(paths[2]);
    ASSERT_TRUE(waitForStarted(4));
    EXPECT_EQ(jobs()[1].path, paths[2]);
    EXPECT_EQ(jobs()[1].status.message(), QString::fromUtf8("Zkouška selhala"));
    queue->clearFinished();
    queue->removeJob(jobs()[0].id); // b, processing: ignored
    EXPECT_EQ(kinds(jobs()), std::vector<K>({K::processing, K::processing, K::pending}));

    const std::size_t before = updateCount();
    queue->removeJobs({QUuid::createUuid()}); // no match: still reported
    jobs();
    EXPECT_EQ(updateCount(), before + 1);

    releaseAll();
    waitIdle();
    const JobList list = jobs();
    for (const Job& job : list)
        EXPECT_EQ(job.status.result().outputPath, job.path + ".out");
    queue->removeJob(list[1].id);
    EXPECT_EQ(jobs().size(), 2u);
}

TEST_F(JobQueueTest, EveryChangeDeliversTheWholeListOnTheQueueThreadOneAtATime)
{
    start(4);
    queue->updateSettings(settingsWith(RenamingMode::none())); // no update
    queue->setOnUpdate([&, inner = observer()](const JobList& list) {
        inner(list);
        // Calling into the queue from the callback must neither deadlock nor re-enter it.
        queue->updateSettings(settingsWith(RenamingMode::none()));
    });
    jobs();
    EXPECT_EQ(updateCount(), 0u);
    queue->add({});
    queue->add(QStringList({"a.jpg", "b.jpg", "c.jpg"}));
    waitIdle();

    const std::vector<JobList> lists = locked([&] { return updates; });
    ASSERT_EQ(lists.size(), 1u + 1u + 2u * 3u);
    EXPECT_TRUE(lists[0].empty());
    EXPECT_EQ(kinds(lists[1]), std::vector<K>(3, K::pending));
    EXPECT_EQ(kinds(lists.back()), std::vector<K>(3, K::done));
    EXPECT_FALSE(reentered);
    const std::set<std::thread::id> threads = locked([&] { return updateThreads; });
    ASSERT_EQ(threads.size(), 1u);
    EXPECT_NE(*threads.begin(), std::this_thread::get_id());
    EXPECT_FALSE(locked([&] { return engineThreads.count(*threads.begin()); }));
}

void JobQueueTest::expectPromptShutdown(bool heeds)
{
    heedsStop = heeds;
    hold();
    start(3);
    queue->add(QStringList({"a.png", "b.png", "c.png", "d.png", "e.png"}));
    ASSERT_TRUE(waitForStarted(2));

    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(queue->shutdown(), heeds);
    queue.reset();
    queueGone = true;
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 1500ms);

    // A deaf engine's calls are abandoned, still processing.
    const K stopped = heeds ? K::cancelled : K::processing;
    EXPECT_EQ(kinds(locked([&] { return updates.back(); })),
              std::vector<K>({stopped, stopped, K::cancelled, K::cancelled, K::cancelled}));
    releaseAll();
    ASSERT_TRUE(waitUntil([&] { return running == 0; }));
    EXPECT_EQ(locked([&] { return callCount; }), 2u);
    std::this_thread::sleep_for(50ms); // lets an abandoned call try to report
    EXPECT_FALSE(afterDestruction);
}

TEST_F(JobQueueTest, DestroyingTheQueueStopsRunningJobsPromptlyAndReportsNoMore)
{
    expectPromptShutdown(true);
}

TEST_F(JobQueueTest, DestroyingTheQueueAbandonsJobsThatCannotStopAndReportsNoMore)
{
    expectPromptShutdown(false);
}
