#pragma once

#include "JobQueue.h"

#include <QObject>

#include <memory>

namespace vantro {

// Owns the program's one job queue and republishes its job list on the GUI
// thread, where the views read it.
class CompressionCoordinator final : public QObject {
    Q_OBJECT

public:
    // A queue that runs the real engine.
    explicit CompressionCoordinator(CompressionSettings settings, QObject* parent = nullptr);
    // A queue whose jobs run through `engine` (a stand-in in tests and tools).
    CompressionCoordinator(CompressionSettings settings, JobQueue::EngineFunction engine,
                           JobQueue::ProcessorCountFunction processorCount = {}, QObject* parent = nullptr);
    // Shuts the queue down first: waiting jobs are cancelled and running ones
    // told to stop; returns within about a second.
    ~CompressionCoordinator() override;

    // The list as the queue last reported it; empty until the first update
    // that arrives after start().
    const JobList& jobs() const { return m_jobs; }

    // The target of the views' commands. Their effect shows only with the
    // queue's next update.
    JobQueue& queue() { return *m_queue; }

    // Registers the queue's update callback, replacing an earlier one, so
    // calling it again is harmless. Before the first call, updates go nowhere.
    void start();

Q_SIGNALS:
    // After every update, with the whole new list (also jobs()).
    void jobsChanged(const vantro::JobList& jobs);

private:
    void publish(const JobList& jobs);

    JobList m_jobs;
    std::unique_ptr<JobQueue> m_queue;
};

} // namespace vantro
