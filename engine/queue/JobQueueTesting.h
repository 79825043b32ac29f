#pragma once

#include "JobFootprint.h"
#include "JobQueue.h"

#include <QString>

#include <functional>

namespace vantro {

// What the engine's own tests and the benchmarks may change in a queue.
struct JobQueueTesting {
    // The queue reads the headers of jobs added from now on through `read`.
    static void readFootprintsWith(JobQueue& queue, std::function<JobFootprint(const QString& path)> read);
};

} // namespace vantro
