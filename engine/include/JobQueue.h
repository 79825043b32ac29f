#pragma once

#include "CompressionResult.h"
#include "CompressionSettings.h"
#include "Job.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>

namespace vantro {

// Runs files as jobs through the compression engine with parallelism bounded
// by the processors and by memory, and reports the whole job list after every
// change.
//
// Every operation is posted to the queue's own serial executor (one thread) and
// returns at once; they take effect in the order they were called. Engine
// calls run on a pool of worker threads; a job's bookkeeping before and after
// its engine call runs on the executor, so other operations interleave with
// running jobs.
//
// The update callback runs on the executor, with no lock held, and never
// re-entrantly. Destroying the queue shuts it down first; neither may be done
// from the queue's own callback.
class JobQueue {
public:
    // Compresses one file; may throw anything. Called on worker threads, several at once.
    using EngineFunction = std::function<CompressionResult(const QString& path, const CompressionSettings& settings)>;
    // The number of processors this process may run on.
    using ProcessorCountFunction = std::function<int()>;
    using UpdateCallback = std::function<void(const JobList& jobs)>;

    // An empty engine makes a new CompressionEngine per job; an empty processor
    // count reads the process's CPU affinity.
    explicit JobQueue(CompressionSettings settings, EngineFunction engine = {},
                      ProcessorCountFunction processorCount = {});
    ~JobQueue();

    JobQueue(const JobQueue&) = delete;
    JobQueue& operator=(const JobQueue&) = delete;

    // Replaces any earlier callback; does not call it.
    void setOnUpdate(UpdateCallback callback);
    // Jobs that start from now on use these settings; running ones keep theirs.
    void updateSettings(CompressionSettings settings);
    // The memory the running jobs may take together, each counted at the
    // peak its file's header and the settings lead to expect; a job that
    // would go beyond it waits, and holds back the jobs behind it, until
    // enough has ended. One that needs more than the whole budget runs alone.
    // A job whose header is still being read takes up one of the jobs run at
    // once but holds back no other: those behind it may start meanwhile.
    // By default half of the memory available when the queue is made, but
    // no less than one job on the largest image the engine accepts needs.
    void setMemoryBudget(uint64_t bytes);
    // One pending job per path, in the order given, numbered for sequence
    // renaming; starts a pass when none is running. A path naming the same
    // file as an earlier one in the batch, or as a pending or processing job,
    // gets no job and no number.
    void add(const QStringList& paths, const std::optional<QString>& baseNameOverride = std::nullopt);
    // Pending jobs become cancelled and the running pass launches nothing
    // more; running jobs finish.
    void cancelAll();
    // Ends the queue's work promptly, for a program that is closing: waiting
    // jobs become cancelled, and every running job is told to stop (an engine
    // call that gives up by throwing JobCancelled ends its job as cancelled).
    // Returns within about a second: calls that have not ended by then, busy
    // in code that cannot be interrupted, are abandoned to finish on their own
    // threads (their stop flag stays raised, so they place no output, and
    // their results are dropped). After it, the callback is never called
    // again, every other operation does nothing, and jobs() is a broken
    // promise. Calling it again does nothing. Returns false when calls were
    // abandoned: a program about to exit must then not run its library
    // destructors under them.
    bool shutdown();
    // Removes the job when it is terminal.
    void removeJob(const QUuid& id);
    // Removes the named jobs that are terminal.
    void removeJobs(const QSet<QUuid>& ids);
    // Removes every terminal job.
    void clearFinished();

    // The job list once every operation called before has run.
    std::future<JobList> jobs() const;
    // Ready once no pass runs and no job is pending or processing.
    std::future<void> whenIdle() const;

    // The platform's count of processors this process may use.
    static int activeProcessorCount();

private:
    friend struct JobQueueTesting;
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace vantro
