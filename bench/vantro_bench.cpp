// Compresses files through the job queue and prints one JSON line per file and
// a summary line. A measuring tool, not a product feature: it exists to compare
// the queue and the engine with the bare encoders run by hand, and to show how
// long one file whose first read is slow holds back the others.

#include "CompressionEngine.h"
#include "FileNames.h"
#include "ImageDropExpander.h"
#include "JobFootprint.h"
#include "JobQueue.h"
#include "JobQueueTesting.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace vantro;

namespace {

// With no message (--help) the text alone goes to standard output.
[[noreturn]] void usage(const char* message)
{
    if (message)
        std::fprintf(stderr, "%s\n", message);
    std::fprintf(message ? stderr : stdout,
                 "usage: vantro_bench [options] FILE|FOLDER...\n"
                 "  --jobs N                  jobs run at once, at least 1 (default: one fewer than the processors)\n"
                 "  --lossless | --quality Q  mode (default: lossy at 80)\n"
                 "  --resize KIND VALUE       KIND: maxDimension maxShortEdge maxWidth maxHeight\n"
                 "                            exactWidth exactHeight percentage\n"
                 "  --format keep|webp|jpeg|png\n"
                 "  --output alongside|inplace|folder  (folder needs --folder PATH)\n"
                 "  --folder PATH  --backup  --trash\n"
                 "  --sequence BASE  --custom-base BASE  --prefix P  --suffix S\n"
                 "  --digits N  --separator TEXT\n"
                 "  --slow-first SECONDS      the first file's header read takes that much longer, as on a\n"
                 "                            stalled share; compare the other files' finishedAfter\n"
                 "  --help\n");
    std::exit(message ? 2 : 0);
}

// The path made absolute, its bytes kept so that a name that is not UTF-8
// still reaches the expander and is reported. Not cleaned: after a symbolic
// link ".." leads up from the link's target, which the engine resolves.
QByteArray absolutePath(QByteArray path)
{
    if (!path.startsWith('/')) {
        const std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
        if (cwd)
            path.prepend(QByteArray(cwd.get()) + '/');
    }
    return path;
}

double cpuSeconds()
{
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        getrusage(who, &usage);
        total += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
            + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    return total;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // Read from their bytes: arguments() decodes them as UTF-8, putting U+FFFD
    // for bytes that are not, which names another file. QCoreApplication keeps
    // argv in step with arguments().
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << FileNames::fromBytes(argv[i]);

    int jobsAtOnce = std::max(JobQueue::activeProcessorCount() - 1, 1);
    CompressionMode mode = CompressionMode::lossy(80);
    ResizeMode resize;
    TargetFormat format = TargetFormat::keepOriginal;
    QString output = "alongside";
    QString folder;
    bool backup = false;
    bool trash = false;
    RenamingMode renaming;
    QString prefix, suffix;
    int64_t digits = 3;
    QString separator = "_";
    double slowFirst = 0;
    QList<QByteArray> inputs;

    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        const auto next = [&]() -> QString {
            if (i + 1 >= args.size())
                usage(qPrintable("missing value after " + a));
            return args[++i];
        };
        // The engine writes names as text, which cannot hold bytes that are not
        // UTF-8: it would write another name in their place.
        const auto named = [&](const QString& name) {
            if (FileNames::isNotUTF8(name))
                usage(qPrintable(a + " " + FileNames::shown(name) + ": not valid UTF-8"));
            return name;
        };
        if (a == "--jobs")
            jobsAtOnce = std::max(next().toInt(), 1);
        else if (a == "--lossless")
            mode = CompressionMode::lossless();
        else if (a == "--quality")
            mode = CompressionMode::lossy(next().toLongLong());
        else if (a == "--resize") {
            const QString kind = next();
            const QString value = next();
            if (kind == "maxDimension")
                resize = ResizeMode::maxDimension(value.toLongLong());
            else if (kind == "maxShortEdge")
                resize = ResizeMode::maxShortEdge(value.toLongLong());
            else if (kind == "maxWidth")
                resize = ResizeMode::maxWidth(value.toLongLong());
            else if (kind == "maxHeight")
                resize = ResizeMode::maxHeight(value.toLongLong());
            else if (kind == "exactWidth")
                resize = ResizeMode::exactWidth(value.toLongLong());
            else if (kind == "exactHeight")
                resize = ResizeMode::exactHeight(value.toLongLong());
            else if (kind == "percentage")
                resize = ResizeMode::percentage(value.toDouble());
            else
                usage("unknown resize kind");
        } else if (a == "--format") {
            const QString f = next();
            if (f == "keep")
                format = TargetFormat::keepOriginal;
            else if (f == "webp")
                format = TargetFormat::webp;
            else if (f == "jpeg")
                format = TargetFormat::jpeg;
            else if (f == "png")
                format = TargetFormat::png;
            else
                usage("unknown format");
        } else if (a == "--output")
            output = next();
        else if (a == "--folder") {
            if (!next().isEmpty())
                folder = named(FileNames::fromBytes(absolutePath(argv[i + 1])));
        } else if (a == "--backup")
            backup = true;
        else if (a == "--trash")
            trash = true;
        else if (a == "--sequence")
            renaming = RenamingMode::sequence(named(next()), 1);
        else if (a == "--custom-base")
            renaming = RenamingMode::customBase(named(next()));
        else if (a == "--prefix") {
            prefix = named(next());
            renaming = RenamingMode::prefixSuffix(prefix, suffix);
        } else if (a == "--suffix") {
            suffix = named(next());
            renaming = RenamingMode::prefixSuffix(prefix, suffix);
        } else if (a == "--digits")
            digits = next().toLongLong();
        else if (a == "--separator")
            separator = named(next());
        else if (a == "--slow-first")
            slowFirst = std::max(next().toDouble(), 0.0);
        else if (a.startsWith("--"))
            usage(a == "--help" ? nullptr : qPrintable("unknown option " + a));
        else
            inputs << absolutePath(argv[i + 1]);
    }
    if (inputs.isEmpty())
        usage("no files given");

    OutputMode outputMode = OutputMode::copyAlongside();
    if (output == "inplace")
        outputMode = OutputMode::inPlace(backup);
    else if (output == "folder") {
        if (folder.isEmpty())
            usage("--output folder needs --folder PATH");
        outputMode = OutputMode::customFolder(folder);
    } else if (output != "alongside")
        usage("unknown output mode");

    const QStringList files = ImageDropExpander::expandToFiles(inputs);
    const CompressionSettings settings{
        mode,     outputMode, format, trash ? OriginalFileHandling::moveToTrash : OriginalFileHandling::keep,
        renaming, resize,     digits, separator};

    // Times each job from its start to its end as the queue reports them,
    // and when it ended from the start of the batch.
    std::mutex lock;
    std::map<QUuid, std::chrono::steady_clock::time_point> started;
    std::set<QUuid> reported;
    int64_t bytesIn = 0, bytesOut = 0;
    int failures = 0;
    double othersFinishedAfter = 0;
    const auto wallStart = std::chrono::steady_clock::now();
    const double cpuStart = cpuSeconds();

    // The queue keeps one processor free: told of one more, it runs jobsAtOnce.
    JobQueue queue(settings, {}, [jobsAtOnce] { return jobsAtOnce + 1; });
    if (slowFirst > 0 && !files.isEmpty()) {
        const auto delay = std::chrono::duration<double>(slowFirst);
        JobQueueTesting::readFootprintsWith(queue, [first = files.front(), delay](const QString& path) {
            if (path == first)
                std::this_thread::sleep_for(delay);
            return JobFootprint::read(path);
        });
    }
    queue.setOnUpdate([&](const JobList& jobs) {
        std::lock_guard guard(lock);
        for (const Job& job : jobs) {
            if (job.status.kind() == JobStatus::Kind::processing) {
                started.try_emplace(job.id, std::chrono::steady_clock::now());
                continue;
            }
            if (!job.status.isTerminal() || reported.count(job.id))
                continue;
            reported.insert(job.id);
            const double finishedAfter
                = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
            if (job.path != files.front())
                othersFinishedAfter = std::max(othersFinishedAfter, finishedAfter);
            QJsonObject line{{"source", job.path}, {"finishedAfter", finishedAfter}};
            if (job.status.kind() == JobStatus::Kind::done) {
                const CompressionResult& r = job.status.result();
                line["status"] = "done";
                line["originalSize"] = static_cast<qint64>(r.originalSize);
                line["compressedSize"] = static_cast<qint64>(r.compressedSize);
                line["output"] = r.outputPath;
                line["alreadyOptimized"] = r.alreadyOptimized;
                line["lossyFallbackApplied"] = r.lossyFallbackApplied;
                line["seconds"] = r.duration;
                bytesIn += r.originalSize;
                bytesOut += r.compressedSize;
            } else {
                ++failures;
                line["status"] = job.status.kind() == JobStatus::Kind::failed ? "failed" : "cancelled";
                if (job.status.kind() == JobStatus::Kind::failed)
                    line["error"] = job.status.message();
                const auto start = started.find(job.id);
                if (start != started.end())
                    line["seconds"]
                        = std::chrono::duration<double>(std::chrono::steady_clock::now() - start->second).count();
            }
            std::printf("%s\n", QJsonDocument(line).toJson(QJsonDocument::Compact).constData());
            std::fflush(stdout);
        }
    });
    queue.add(files);
    queue.whenIdle().wait();

    rusage self{};
    getrusage(RUSAGE_SELF, &self);
    const QJsonObject summary{
        {"summary", true},
        {"files", static_cast<qint64>(files.size())},
        {"failed", failures},
        {"jobs", jobsAtOnce},
        {"slowFirstSeconds", slowFirst},
        {"othersFinishedAfter", othersFinishedAfter},
        {"bytesIn", static_cast<qint64>(bytesIn)},
        {"bytesOut", static_cast<qint64>(bytesOut)},
        {"wallSeconds", std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count()},
        {"cpuSeconds", cpuSeconds() - cpuStart},
        {"peakMemoryBytes", static_cast<qint64>(self.ru_maxrss) * 1024},
    };
    std::printf("%s\n", QJsonDocument(summary).toJson(QJsonDocument::Compact).constData());
    return failures == 0 ? 0 : 1;
}
