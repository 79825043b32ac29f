#include "JobQueue.h"

#include "CompressionEngine.h"
#include "CompressionError.h"
#include "EngineSupport.h"
#include "FileNames.h"
#include "JobCancellation.h"
#include "JobFootprint.h"
#include "JobQueueTesting.h"
#include "RenamingMode.h"

#include <QCollator>
#include <QDir>
#include <QHash>
#include <QLocale>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <numeric>
#include <sched.h>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

namespace vantro {

namespace {

// How long a shutdown lets told-to-stop jobs report their end before it
// abandons them; destruction returns within about a second in any case.
constexpr auto kShutdownGrace = std::chrono::milliseconds(750);

// One thread running posted tasks one at a time, in the order posted. Its
// inbox is shared: a worker may outlive the queue and post into a stopped
// inbox, which drops the task.
class SerialExecutor {
public:
    class Inbox {
    public:
        // Does nothing once stopped.
        void post(std::function<void()> task)
        {
            {
                const std::lock_guard lock(m_mutex);
                if (m_stopping)
                    return;
                m_tasks.push_back(std::move(task));
            }
            m_wake.notify_one();
        }

    private:
        friend class SerialExecutor;
        std::mutex m_mutex;
        std::condition_variable m_wake;
        std::deque<std::function<void()>> m_tasks;
        bool m_stopping = false;
    };

    SerialExecutor() : m_inbox(std::make_shared<Inbox>()), m_thread([this] { run(); }) {}
    ~SerialExecutor() { stop(); }

    SerialExecutor(const SerialExecutor&) = delete;
    SerialExecutor& operator=(const SerialExecutor&) = delete;

    void post(std::function<void()> task) { m_inbox->post(std::move(task)); }
    std::shared_ptr<Inbox> inbox() const { return m_inbox; }

    // Lets the running task finish, drops the rest and joins the thread.
    void stop()
    {
        {
            const std::lock_guard lock(m_inbox->m_mutex);
            m_inbox->m_stopping = true;
        }
        m_inbox->m_wake.notify_one();
        if (m_thread.joinable())
            m_thread.join();
        // Dropped tasks may own promises and snapshots; release them here,
        // not in a destructor running while the lock is held.
        std::deque<std::function<void()>> dropped;
        {
            const std::lock_guard lock(m_inbox->m_mutex);
            dropped.swap(m_inbox->m_tasks);
        }
    }

private:
    void run()
    {
        Inbox& inbox = *m_inbox;
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock lock(inbox.m_mutex);
                inbox.m_wake.wait(lock, [&] { return inbox.m_stopping || !inbox.m_tasks.empty(); });
                if (inbox.m_stopping)
                    return;
                task = std::move(inbox.m_tasks.front());
                inbox.m_tasks.pop_front();
            }
            task();
        }
    }

    const std::shared_ptr<Inbox> m_inbox;
    std::thread m_thread; // last: starts once the inbox exists
};

// Threads for engine calls and header reads. The queue bounds how many it
// submits at once, and the pool grows to that bound, so a submitted call never
// waits for a thread for long. The threads share the pool's core, so one that
// is still busy when the pool stops can be left to finish on its own.
class WorkerPool {
public:
    WorkerPool() = default;
    ~WorkerPool() { stop(std::chrono::steady_clock::now()); }

    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    void reserve(std::size_t count)
    {
        const std::lock_guard lock(m_core->mutex);
        while (!m_core->stopping && m_threads.size() < count) {
            m_core->finished.push_back(false);
            m_threads.emplace_back([core = m_core, index = m_threads.size()] { run(*core, index); });
        }
    }

    void submit(std::function<void()> task)
    {
        {
            const std::lock_guard lock(m_core->mutex);
            m_core->tasks.push_back(std::move(task));
        }
        m_core->wake.notify_one();
    }

    // Lets the threads run what was submitted and joins those done by the
    // deadline; the others are detached and end when their task returns.
    // False when any was detached.
    bool stop(std::chrono::steady_clock::time_point deadline)
    {
        std::vector<std::thread> threads;
        std::vector<bool> finished;
        {
            std::unique_lock lock(m_core->mutex);
            m_core->stopping = true;
            m_core->wake.notify_all();
            m_core->exited.wait_until(lock, deadline, [&] {
                return std::all_of(m_core->finished.begin(), m_core->finished.end(), [](bool done) { return done; });
            });
            threads.swap(m_threads);
            finished = m_core->finished;
        }
        bool joinedAll = true;
        for (std::size_t i = 0; i < threads.size(); ++i) {
            if (finished[i]) {
                threads[i].join();
            } else {
                threads[i].detach();
                joinedAll = false;
            }
        }
        return joinedAll;
    }

private:
    struct Core {
        std::mutex mutex;
        std::condition_variable wake;
        std::condition_variable exited;
        std::deque<std::function<void()>> tasks;
        std::vector<bool> finished; // per thread, by index
        bool stopping = false;
    };

    static void run(Core& core, std::size_t index)
    {
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock lock(core.mutex);
                core.wake.wait(lock, [&] { return core.stopping || !core.tasks.empty(); });
                if (core.tasks.empty()) {
                    core.finished[index] = true;
                    core.exited.notify_all();
                    return;
                }
                task = std::move(core.tasks.front());
                core.tasks.pop_front();
            }
            task();
        }
    }

    const std::shared_ptr<Core> m_core = std::make_shared<Core>();
    std::vector<std::thread> m_threads;
};

// The outcome of an engine call that was told to stop and did.
struct Cancelled {};

using Outcome = std::variant<CompressionResult, QString, Cancelled>;

// The failure text of anything an engine call throws; a job told to stop
// that gives up is cancelled, not failed.
Outcome runEngine(const JobQueue::EngineFunction& engine, const QString& path, const CompressionSettings& settings)
{
    const QString unknown = QStringLiteral("Unknown error");
    try {
        return engine(path, settings);
    } catch (const JobCancelled&) {
        return Cancelled{};
    } catch (const CompressionError& error) {
        return error.text();
    } catch (const std::exception& error) {
        const QString text = QString::fromUtf8(error.what());
        return text.isEmpty() ? unknown : text;
    } catch (...) {
        return unknown;
    }
}

CompressionResult compressWithNewEngine(const QString& path, const CompressionSettings& settings)
{
    return CompressionEngine().compress(path, settings);
}

// The file browser's order: locale-aware, numbers inside names by value. The
// C locale has no collation rules (numeric mode would be ignored there), so it
// falls back to English.
QCollator fileNameCollator()
{
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setNumericMode(true);
    return collator;
}

// Which file a path names: two paths naming one file (through a symlink, "..",
// a "." of a folder) give the same key. The key is made from the path's bytes:
// Qt's file information decodes a byte that is not UTF-8 as U+FFFD, which
// would give such a name the key of its twin whose name holds U+FFFD, and
// leave that file without a job. A path to a file that is gone is resolved
// as the engine resolves it, then cleaned. An item that is not an absolute
// path, or that a NUL would cut short, names no file here and is its own key.
QString fileKeyOf(const QString& path)
{
    if (!path.startsWith(u'/') || path.contains(QChar(0)))
        return path;
    const QString resolved = FileNames::kernelPath(path);
    const std::unique_ptr<char, decltype(&std::free)> real(
        ::realpath(FileNames::toBytes(resolved).constData(), nullptr), &std::free);
    return real ? FileNames::fromBytes(QByteArray(real.get())) : QDir::cleanPath(resolved);
}

// The job's own settings: the queue's current ones with the renaming adapted
// to the job's number and its batch's base name.
CompressionSettings settingsForJob(CompressionSettings settings, const Job& job)
{
    const RenamingMode& renaming = settings.renaming;
    switch (renaming.kind()) {
    case RenamingMode::Kind::customBase:
        settings.renaming = RenamingMode::customBase(job.sequenceBaseOverride.value_or(renaming.base()));
        break;
    case RenamingMode::Kind::sequence:
        settings.renaming = job.sequenceNumber
            ? RenamingMode::sequence(job.sequenceBaseOverride.value_or(renaming.base()), *job.sequenceNumber)
            : RenamingMode::none();
        break;
    case RenamingMode::Kind::prefixSuffix:
    case RenamingMode::Kind::none:
        break;
    }
    return settings;
}

} // namespace

int JobQueue::activeProcessorCount()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0)
            return count;
    }
    return std::max(QThread::idealThreadCount(), 1);
}

// Everything but the two thread owners is confined to the executor.
struct JobQueue::State {
    State(CompressionSettings initialSettings, EngineFunction engineFunction, ProcessorCountFunction processors)
        : settings(std::move(initialSettings))
        , memoryBudget(JobMemory::defaultBudget())
        , engine(std::make_shared<const EngineFunction>(engineFunction ? std::move(engineFunction)
                                                                       : EngineFunction(compressWithNewEngine)))
        , processorCount(processors ? std::move(processors) : ProcessorCountFunction(activeProcessorCount))
    {
    }

    // Runs on the caller's thread, never on the executor.
    bool shutdown()
    {
        {
            const std::lock_guard lock(flagsMutex);
            if (shutdownRequested)
                return !abandonedCalls;
            shutdownRequested = true;
            for (const JobCancellation::Flag& flag : std::as_const(runningFlags))
                flag->store(true, std::memory_order_release);
        }
        const auto deadline = std::chrono::steady_clock::now() + kShutdownGrace;
        auto drained = std::make_shared<std::promise<void>>();
        std::future<void> drainedFuture = drained->get_future();
        executor.post([this, drained] { close(std::move(*drained)); });
        drainedFuture.wait_until(deadline);
        // Once the executor is joined no callback runs, and the results of
        // engine calls still in flight are dropped on arrival.
        executor.stop();
        const bool ended = pool.stop(deadline);
        for (std::promise<void>& waiter : idleWaiters)
            waiter.set_value();
        idleWaiters.clear();
        const std::lock_guard lock(flagsMutex);
        abandonedCalls = !ended;
        return ended;
    }

    // Cancels what waits and takes no more work; `drained` is kept until the
    // last running job has reported its end.
    void close(std::promise<void> drained)
    {
        closed = true;
        passCancelled = passRunning;
        // Reported only when something changed: an idle queue goes quietly.
        const bool anyPending = std::any_of(
            jobs.begin(), jobs.end(), [](const Job& job) { return job.status.kind() == JobStatus::Kind::pending; });
        if (anyPending)
            cancelAll();
        if (running == 0)
            drained.set_value();
        else
            whenDrained = std::move(drained);
    }

    void notify()
    {
        if (!onUpdate)
            return;
        try {
            onUpdate(jobs);
        } catch (...) {
            // An observer's failure is its own; the queue goes on.
        }
    }

    void rebuildIndex()
    {
        indexById.clear();
        indexById.reserve(static_cast<qsizetype>(jobs.size()));
        std::size_t index = 0;
        for (const Job& job : jobs)
            indexById.insert(job.id, index++);
    }

    void removeWhere(const std::function<bool(const Job&)>& remove)
    {
        const std::size_t before = jobs.size();
        JobList kept = jobs.filtered([&](const Job& job) { return !remove(job); });
        if (kept.size() != before) {
            jobs = std::move(kept);
            rebuildIndex();
        }
        notify();
    }

    std::vector<std::optional<int64_t>> assignSequenceNumbers(const QStringList& paths,
                                                              const std::optional<QString>& baseOverride)
    {
        std::vector<std::optional<int64_t>> numbers(static_cast<std::size_t>(paths.size()));
        if (settings.renaming.kind() != RenamingMode::Kind::sequence)
            return numbers;
        const QString key = baseOverride ? *baseOverride : RenamingMode::sanitizeComponent(settings.renaming.base());
        if (key.isEmpty())
            return numbers;

        const QCollator collator = fileNameCollator();
        std::vector<QCollatorSortKey> keys;
        keys.reserve(numbers.size());
        for (const QString& path : paths)
            keys.push_back(collator.sortKey(fileNameOf(path)));
        std::vector<std::size_t> order(numbers.size());
        std::iota(order.begin(), order.end(), std::size_t{0});
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return keys[a].compare(keys[b]) < 0; });

        int64_t next = sequenceCounters.value(key, 1);
        for (const std::size_t position : order)
            numbers[position] = next++;
        sequenceCounters.insert(key, next);
        return numbers;
    }

    void add(const QStringList& paths, const std::optional<QString>& baseNameOverride)
    {
        if (closed)
            return;
        std::optional<QString> cleaned;
        if (baseNameOverride) {
            QString text = RenamingMode::sanitizeComponent(*baseNameOverride);
            if (!text.isEmpty())
                cleaned = std::move(text);
        }

        // Two jobs for one file would run at once, and the second would back
        // up the first one's output over the original.
        QStringList accepted;
        QStringList keys;
        QSet<QString> batchKeys;
        for (const QString& path : paths) {
            QString key = fileKeyOf(path);
            if (activeFileKeys.contains(key) || batchKeys.contains(key))
                continue;
            batchKeys.insert(key);
            accepted.push_back(path);
            keys.push_back(std::move(key));
        }

        const std::vector<std::optional<int64_t>> numbers = assignSequenceNumbers(accepted, cleaned);
        std::vector<Job> added;
        added.reserve(numbers.size());
        for (qsizetype i = 0; i < accepted.size(); ++i)
            added.push_back(Job::make(accepted[i], numbers[static_cast<std::size_t>(i)], cleaned));

        std::size_t index = jobs.size();
        jobs = jobs.appending(added);
        for (std::size_t i = 0; i < added.size(); ++i) {
            const QString& key = keys[static_cast<qsizetype>(i)];
            indexById.insert(added[i].id, index++);
            fileKeyById.insert(added[i].id, key);
            activeFileKeys.insert(key);
        }
        notify();
        startIfNeeded();
    }

    // The job's file may be queued again.
    void releaseFileKey(const QUuid& id)
    {
        const auto found = fileKeyById.constFind(id);
        if (found == fileKeyById.cend())
            return;
        activeFileKeys.remove(found.value());
        fileKeyById.erase(found);
    }

    void cancelAll()
    {
        if (passRunning)
            passCancelled = true;
        for (const Job& job : jobs) {
            if (job.status.kind() == JobStatus::Kind::pending)
                releaseFileKey(job.id);
        }
        jobs = jobs.withStatuses([](const Job& job) -> std::optional<JobStatus> {
            if (job.status.kind() == JobStatus::Kind::pending)
                return JobStatus::cancelled();
            return std::nullopt;
        });
        notify();
    }

    void startIfNeeded()
    {
        if (passRunning || closed)
            return;
        passRunning = true;
        passCancelled = false;
        executor.post([this] { beginPass(); });
    }

    void beginPass()
    {
        limit = static_cast<std::size_t>(std::max(processorCount() - 1, 1));
        // As many threads again for the header reads, which run beside the
        // jobs: on a slow or network folder a read is mostly waiting.
        pool.reserve(2 * limit);
        passIds.clear();
        for (const Job& job : jobs) {
            if (job.status.kind() == JobStatus::Kind::pending)
                passIds.push_back(job.id);
        }
        advance();
    }

    // Starts what may start; the pass ends once nothing runs and no header
    // is being read for it.
    void advance()
    {
        launchWhilePossible();
        if (running == 0 && footprintsReading.isEmpty())
            finishRun();
    }

    bool isPending(const QUuid& id) const
    {
        const auto found = indexById.constFind(id);
        return found != indexById.cend() && jobs[found.value()].status.kind() == JobStatus::Kind::pending;
    }

    // A sliding window: whenever fewer than the limit run or wait in a slot,
    // the next job takes one, and it starts once its header is in and the
    // memory it is expected to take is free. A job whose header is still
    // being read holds only its own slot: one file whose first read is slow
    // (a stalled share, a waking disk) must not hold back the jobs behind it.
    // A job waiting for memory does hold them back, so that small jobs do
    // not overtake a large one for ever; one that needs more than the whole
    // budget starts once nothing else runs.
    void launchWhilePossible()
    {
        if (!passCancelled) {
            while (running + slotted.size() < limit && !passIds.empty()) {
                const QUuid id = passIds.front();
                passIds.pop_front();
                if (isPending(id))
                    slotted.push_back(id);
                else
                    footprints.remove(id);
            }
            for (auto next = slotted.begin(); next != slotted.end();) {
                const QUuid id = *next;
                const auto footprint = footprints.constFind(id);
                if (footprint == footprints.cend()) {
                    ++next;
                    continue;
                }
                const uint64_t bytes = footprint->peakBytes(settings);
                if (running > 0 && (bytes > memoryBudget || runningBytes > memoryBudget - bytes))
                    break;
                next = slotted.erase(next);
                footprints.erase(footprint);
                if (startJob(id)) {
                    ++running;
                    runningBytes += bytes;
                    bytesById.insert(id, bytes);
                }
            }
        }
        readAhead();
    }

    // Reads, on workers, the headers of the next few jobs whose footprint is
    // not known yet, side by side as the jobs themselves would run: a batch on
    // a slow folder must not wait for one file's header at a time, and the
    // executor stays free meanwhile.
    void readAhead()
    {
        if (passCancelled)
            return;
        // The slotted jobs come first: each of them is read.
        std::size_t looked = 0;
        for (const std::deque<QUuid>* line : {&slotted, &passIds}) {
            for (const QUuid& id : *line) {
                if (looked++ == limit)
                    return;
                if (footprints.contains(id) || footprintsReading.contains(id) || !isPending(id))
                    continue;
                footprintsReading.insert(id);
                pool.submit([state = this, inbox = executor.inbox(), read = readFootprint, id,
                             path = jobs[indexById.value(id)].path] {
                    const JobFootprint footprint = read(path);
                    inbox->post([state, id, footprint] { state->footprintRead(id, footprint); });
                });
            }
        }
    }

    void footprintRead(const QUuid& id, const JobFootprint& footprint)
    {
        footprintsReading.remove(id);
        footprints.insert(id, footprint);
        advance();
    }

    // The half of a job before its engine call. False when the job was
    // removed or cancelled since the pass began.
    bool startJob(const QUuid& id)
    {
        const auto found = indexById.constFind(id);
        if (found == indexById.cend())
            return false;
        const std::size_t index = found.value();
        const Job& job = jobs[index];
        if (job.status.kind() != JobStatus::Kind::pending)
            return false;
        JobCancellation::Flag flag = JobCancellation::makeFlag();
        {
            const std::lock_guard lock(flagsMutex);
            if (shutdownRequested)
                return false;
            runningFlags.insert(id, flag);
        }
        jobs = jobs.withStatus(index, JobStatus::processing());
        notify();

        // The task keeps what it uses alive itself: a call still running when
        // a shutdown gives up on it outlives the queue, and its result is
        // then dropped by the stopped inbox without touching the state.
        const Job& started = jobs[index];
        pool.submit([state = this, inbox = executor.inbox(), engineFunction = engine, flag = std::move(flag), id,
                     path = started.path, jobSettings = settingsForJob(settings, started)] {
            Outcome outcome = Cancelled{};
            if (!flag->load(std::memory_order_acquire)) {
                const JobCancellation::Scope scope(flag);
                outcome = runEngine(*engineFunction, path, jobSettings);
            }
            inbox->post([state, id, result = std::move(outcome)]() mutable { state->jobEnded(id, std::move(result)); });
        });
        return true;
    }

    // The half of a job after its engine call. The job may have left the
    // list meanwhile; its outcome is then dropped.
    void jobEnded(const QUuid& id, Outcome outcome)
    {
        releaseFileKey(id);
        {
            const std::lock_guard lock(flagsMutex);
            runningFlags.remove(id);
        }
        const auto found = indexById.constFind(id);
        if (found != indexById.cend()) {
            JobStatus status = JobStatus::cancelled();
            if (auto* result = std::get_if<CompressionResult>(&outcome))
                status = JobStatus::done(std::move(*result));
            else if (auto* message = std::get_if<QString>(&outcome))
                status = JobStatus::failed(std::move(*message));
            jobs = jobs.withStatus(found.value(), std::move(status));
        }
        notify();
        --running;
        runningBytes -= bytesById.take(id);
        if (whenDrained && running == 0) {
            whenDrained->set_value();
            whenDrained.reset();
        }
        advance();
    }

    void finishRun()
    {
        passRunning = false;
        passCancelled = false;
        passIds.clear();
        slotted.clear();
        footprints.clear();
        const bool anyPending = std::any_of(
            jobs.begin(), jobs.end(), [](const Job& job) { return job.status.kind() == JobStatus::Kind::pending; });
        if (anyPending) {
            startIfNeeded();
            return;
        }
        std::vector<std::promise<void>> waiters;
        waiters.swap(idleWaiters);
        for (std::promise<void>& waiter : waiters)
            waiter.set_value();
    }

    CompressionSettings settings;
    JobList jobs;
    QHash<QUuid, std::size_t> indexById;
    UpdateCallback onUpdate;
    QHash<QString, int64_t> sequenceCounters;
    // The file of every pending or processing job; a terminal job's is gone.
    QHash<QUuid, QString> fileKeyById;
    QSet<QString> activeFileKeys;

    bool passRunning = false;
    bool passCancelled = false;
    // The pass's jobs not started yet: those whose turn has come, each
    // holding a slot, and behind them those still waiting for theirs.
    std::deque<QUuid> slotted;
    std::deque<QUuid> passIds;
    std::size_t running = 0;
    std::size_t limit = 1;
    // The footprints read ahead for the pass's next jobs.
    QHash<QUuid, JobFootprint> footprints;
    QSet<QUuid> footprintsReading;
    std::function<JobFootprint(const QString& path)> readFootprint = JobFootprint::read;
    // The expected peak of the running jobs, in all and by job.
    uint64_t memoryBudget;
    uint64_t runningBytes = 0;
    QHash<QUuid, uint64_t> bytesById;
    std::vector<std::promise<void>> idleWaiters;
    // Set once a shutdown has reached the executor: nothing more is added or started.
    bool closed = false;
    std::optional<std::promise<void>> whenDrained;

    // The stop flag of every running job; shutdown() raises them from its own thread.
    std::mutex flagsMutex;
    QHash<QUuid, JobCancellation::Flag> runningFlags;
    bool shutdownRequested = false;
    bool abandonedCalls = false;

    // Shared with the workers, never changed.
    const std::shared_ptr<const EngineFunction> engine;
    const ProcessorCountFunction processorCount;

    WorkerPool pool;
    SerialExecutor executor; // last: its thread starts once everything above exists
};

JobQueue::JobQueue(CompressionSettings settings, EngineFunction engine, ProcessorCountFunction processorCount)
    : m_state(std::make_unique<State>(std::move(settings), std::move(engine), std::move(processorCount)))
{
}

JobQueue::~JobQueue()
{
    shutdown();
}

bool JobQueue::shutdown()
{
    return m_state->shutdown();
}

void JobQueue::setOnUpdate(UpdateCallback callback)
{
    m_state->executor.post(
        [state = m_state.get(), callback = std::move(callback)]() mutable { state->onUpdate = std::move(callback); });
}

void JobQueue::updateSettings(CompressionSettings settings)
{
    m_state->executor.post(
        [state = m_state.get(), settings = std::move(settings)]() mutable { state->settings = std::move(settings); });
}

void JobQueueTesting::readFootprintsWith(JobQueue& queue, std::function<JobFootprint(const QString& path)> read)
{
    queue.m_state->executor.post(
        [state = queue.m_state.get(), read = std::move(read)] { state->readFootprint = read; });
}

void JobQueue::setMemoryBudget(uint64_t bytes)
{
    m_state->executor.post([state = m_state.get(), bytes] {
        state->memoryBudget = bytes;
        if (state->passRunning)
            state->launchWhilePossible();
    });
}

void JobQueue::add(const QStringList& paths, const std::optional<QString>& baseNameOverride)
{
    m_state->executor.post([state = m_state.get(), paths, baseNameOverride] { state->add(paths, baseNameOverride); });
}

void JobQueue::cancelAll()
{
    m_state->executor.post([state = m_state.get()] { state->cancelAll(); });
}

void JobQueue::removeJob(const QUuid& id)
{
    m_state->executor.post([state = m_state.get(), id] {
        const auto found = state->indexById.constFind(id);
        if (found == state->indexById.cend() || !state->jobs[found.value()].status.isTerminal())
            return;
        state->removeWhere([&](const Job& job) { return job.id == id; });
    });
}

void JobQueue::removeJobs(const QSet<QUuid>& ids)
{
    m_state->executor.post([state = m_state.get(), ids] {
        state->removeWhere([&](const Job& job) { return job.status.isTerminal() && ids.contains(job.id); });
    });
}

void JobQueue::clearFinished()
{
    m_state->executor.post(
        [state = m_state.get()] { state->removeWhere([](const Job& job) { return job.status.isTerminal(); }); });
}

std::future<JobList> JobQueue::jobs() const
{
    auto promise = std::make_shared<std::promise<JobList>>();
    std::future<JobList> future = promise->get_future();
    m_state->executor.post([state = m_state.get(), promise] { promise->set_value(state->jobs); });
    return future;
}

std::future<void> JobQueue::whenIdle() const
{
    auto promise = std::make_shared<std::promise<void>>();
    std::future<void> future = promise->get_future();
    m_state->executor.post([state = m_state.get(), promise] {
        if (state->passRunning)
            state->idleWaiters.push_back(std::move(*promise));
        else
            promise->set_value();
    });
    return future;
}

} // namespace vantro
