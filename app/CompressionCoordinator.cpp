#include "CompressionCoordinator.h"

#include <utility>

namespace vantro {

CompressionCoordinator::CompressionCoordinator(CompressionSettings settings, QObject* parent)
    : CompressionCoordinator(std::move(settings), {}, {}, parent)
{
}

CompressionCoordinator::CompressionCoordinator(CompressionSettings settings, JobQueue::EngineFunction engine,
                                               JobQueue::ProcessorCountFunction processorCount, QObject* parent)
    : QObject(parent)
    , m_queue(std::make_unique<JobQueue>(std::move(settings), std::move(engine), std::move(processorCount)))
{
}

CompressionCoordinator::~CompressionCoordinator()
{
    // The queue's callback names this object from the queue's thread. Ending
    // the queue here, while the object is still whole, guarantees no callback
    // runs once the QObject part starts to go; updates already posted to the
    // GUI thread are discarded with this object.
    m_queue.reset();
}

void CompressionCoordinator::start()
{
    // Runs on the queue's thread. The hop carries this object only as its
    // context: Qt drops the call when the object is destroyed before the GUI
    // thread reaches it, and the queue never outlives the object (see the
    // destructor), so the pointer is valid whenever the callback runs. Each
    // update is its own hop, delivered in the order the queue reported them.
    m_queue->setOnUpdate([this](const JobList& jobs) {
        QMetaObject::invokeMethod(
            this, [this, jobs] { publish(jobs); }, Qt::QueuedConnection);
    });
}

void CompressionCoordinator::publish(const JobList& jobs)
{
    m_jobs = jobs;
    Q_EMIT jobsChanged(m_jobs);
}

} // namespace vantro
