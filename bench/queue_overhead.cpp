// Measures the job queue's own cost: 10,000 jobs through a queue whose engine
// does nothing, with an observer that reads the list at every update. Prints
// one JSON line. A measuring tool, not a product feature.

#include "JobQueue.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>

using namespace vantro;

int main()
{
    constexpr int kJobs = 10000;

    // Sequence renaming, so numbering the batch is part of what is measured.
    const CompressionSettings settings{CompressionMode::lossy(80),
                                       OutputMode::copyAlongside(),
                                       TargetFormat::keepOriginal,
                                       OriginalFileHandling::keep,
                                       RenamingMode::sequence("photo", 1),
                                       ResizeMode::none(),
                                       3,
                                       "_"};
    QStringList paths;
    paths.reserve(kJobs);
    for (int i = 0; i < kJobs; ++i)
        paths << QStringLiteral("/bench/folder/IMG_%1.jpg").arg(kJobs - i);

    std::atomic<long long> updates{0};
    std::atomic<std::size_t> lastSize{0};
    const auto start = std::chrono::steady_clock::now();
    {
        JobQueue queue(settings, [](const QString& path, const CompressionSettings&) {
            CompressionResult result;
            result.originalSize = 1000;
            result.compressedSize = 500;
            result.outputPath = path;
            return result;
        });
        queue.setOnUpdate([&](const JobList& jobs) {
            lastSize = jobs.size();
            ++updates;
        });
        queue.add(paths);
        queue.whenIdle().get();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    const QJsonObject line{
        {"jobs", kJobs},
        {"processors", JobQueue::activeProcessorCount()},
        {"seconds", seconds},
        {"updates", static_cast<double>(updates.load())},
        {"lastListSize", static_cast<double>(lastSize.load())},
    };
    std::printf("%s\n", QJsonDocument(line).toJson(QJsonDocument::Compact).constData());
    return updates.load() == 2 * kJobs + 1 && lastSize.load() == kJobs ? 0 : 1;
}
