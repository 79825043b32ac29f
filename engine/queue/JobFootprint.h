#pragma once

#include "CompressionSettings.h"
#include "ImageFormat.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace vantro {

// What the queue knows of a file before its job starts: enough to guess how
// much memory the job will take, so that several huge images are not
// decoded at once.
struct JobFootprint {
    // Empty when the header could not be read: such a job fails at once.
    std::optional<ImageFormat> format;
    int64_t width = 0;
    int64_t height = 0;

    // Reads the file's header only; never throws. Costs a header read, so it
    // belongs on a worker thread.
    static JobFootprint read(const QString& path);

    // The bytes a job on this file is expected to take at its peak under the
    // settings, from what the engine's roads were measured to take.
    uint64_t peakBytes(const CompressionSettings& settings) const;
};

namespace JobMemory {

// The memory the queue's running jobs may take together, unless set: half
// of what the machine has available now, but never less than one lossy job
// on the largest image the engine accepts, so that a machine short of memory
// still runs an ordinary batch side by side.
uint64_t defaultBudget();

} // namespace JobMemory

} // namespace vantro
