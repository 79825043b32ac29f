#pragma once

#include <QString>

#include <cstdint>

namespace vantro {

// The outcome of one file. outputPath is the source itself when nothing was written.
struct CompressionResult {
    int64_t originalSize = 0;
    int64_t compressedSize = 0;
    QString outputPath;
    bool alreadyOptimized = false;
    double duration = 0;
    bool lossyFallbackApplied = false;
};

} // namespace vantro
