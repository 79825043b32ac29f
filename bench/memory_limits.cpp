// Runs hostile files (headers claiming huge images, chunks claiming huge
// lengths) and large valid images through the job queue and prints the peak
// memory and wall time of each file run alone and of all of them run together.
// A measuring tool, not a product feature: it makes the figures of the
// queue's memory budget repeatable.
//
// Each run is a child process of this program, so its peak is its own: the
// kernel's high-water mark of the child's resident memory, or of the largest
// tool it ran, whichever is larger (wait4's ru_maxrss).

#include "ImageDropExpander.h"
#include "JobQueue.h"
#include "Vips.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

using namespace vantro;

namespace {

// With no message (--help) the text alone goes to standard output.
[[noreturn]] void usage(const char* message)
{
    if (message)
        std::fprintf(stderr, "%s\n", message);
    std::fprintf(message ? stderr : stdout,
                 "usage: memory_limits [options] [FILE|FOLDER...]\n"
                 "  --generate DIR        writes the hostile and large files into DIR and runs them with the rest\n"
                 "  --claim N             the size the hostile JPEGs' headers claim (default 16384: N x N)\n"
                 "  --large-megapixels N  the large valid PNG's size (default 48)\n"
                 "  --jobs N              jobs run at once, at least 1 (default: one fewer than the processors)\n"
                 "  --memory-budget SIZE  the queue's memory budget, e.g. 3G or 512M (default: the queue's own)\n"
                 "  --format keep|webp|jpeg|png  --lossless\n"
                 "  --each                also runs every file alone first\n"
                 "  --help\n");
    std::exit(message ? 2 : 0);
}

// "3G", "512M", "1.5G", or plain bytes; powers of 1024.
uint64_t parseSize(const QString& text)
{
    QString number = text.trimmed().toUpper();
    double scale = 1;
    if (number.endsWith('B'))
        number.chop(1);
    if (number.endsWith('K') || number.endsWith('M') || number.endsWith('G')) {
        scale = number.endsWith('K') ? 1024.0 : number.endsWith('M') ? 1024.0 * 1024 : 1024.0 * 1024 * 1024;
        number.chop(1);
    }
    bool ok = false;
    const double value = number.toDouble(&ok);
    if (!ok || value <= 0)
        usage("bad --memory-budget");
    return static_cast<uint64_t>(value * scale);
}

void check(int status, const char* what)
{
    if (status != 0) {
        std::fprintf(stderr, "%s: %s\n", what, vips::takeError().c_str());
        std::exit(1);
    }
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
}

// A smooth picture with grain, like a photo.
vips::Image photoLike(int width, int height)
{
    VipsImage* bands[3] = {};
    for (int band = 0; band < 3; ++band)
        check(vips_gaussnoise(&bands[band], width, height, "sigma", 50.0, "mean", 128.0, "seed", band + 1, nullptr),
              "gaussnoise");
    VipsImage* joined = nullptr;
    check(vips_bandjoin(bands, &joined, 3, nullptr), "bandjoin");
    for (VipsImage* band : bands)
        g_object_unref(band);
    VipsImage* blurred = nullptr;
    check(vips_gaussblur(joined, &blurred, 2.0, nullptr), "gaussblur");
    g_object_unref(joined);
    VipsImage* bytes = nullptr;
    check(vips_cast_uchar(blurred, &bytes, nullptr), "cast");
    g_object_unref(blurred);
    return vips::Image(bytes);
}

void appendBigEndian(QByteArray& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.append(static_cast<char>((value >> shift) & 0xFF));
}

// A real baseline JPEG of 512 x 512 pixels whose frame header claims side x side.
QByteArray jpegClaiming(int side)
{
    const vips::Image picture = photoLike(512, 512);
    void* buffer = nullptr;
    size_t length = 0;
    check(vips_jpegsave_buffer(picture.get(), &buffer, &length, "Q", 90, nullptr), "jpegsave");
    QByteArray jpeg(static_cast<const char*>(buffer), static_cast<qsizetype>(length));
    g_free(buffer);
    for (qsizetype at = 2; at + 9 <= jpeg.size();) {
        const auto byte = [&](qsizetype i) { return static_cast<uint8_t>(jpeg[i]); };
        if (byte(at + 1) >= 0xC0 && byte(at + 1) <= 0xC2) {
            for (const qsizetype offset : {5, 7}) {
                jpeg[at + offset] = static_cast<char>(side >> 8);
                jpeg[at + offset + 1] = static_cast<char>(side & 0xFF);
            }
            return jpeg;
        }
        at += 2 + (byte(at + 2) << 8 | byte(at + 3));
    }
    std::fprintf(stderr, "no frame header in the generated JPEG\n");
    std::exit(1);
}

// A 1 x 1 PNG followed by a chunk of that type whose length field claims
// about 2 GB; the file ends a few bytes into it.
QByteArray pngWithHugeChunk(const char* type)
{
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    QByteArray header;
    appendBigEndian(header, 13);
    header.append("IHDR", 4);
    appendBigEndian(header, 1);
    appendBigEndian(header, 1);
    header.append("\x08\x02\x00\x00\x00", 5);
    png.append(header);
    const QByteArray body = header.mid(4);
    appendBigEndian(png,
                    static_cast<uint32_t>(crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(body.constData()),
                                                static_cast<uInt>(body.size()))));
    appendBigEndian(png, 0x7FFFFFF0);
    png.append(type, 4);
    png.append("Comment\0\0\0\0\0", 12);
    appendBigEndian(png, 0);
    return png;
}

void generate(const QString& folder, int claim, int largeMegapixels)
{
    vips::ensureStarted();
    if (!QDir().mkpath(folder))
        usage("cannot make the --generate folder");
    const auto path = [&](const QString& name) { return QDir(folder).filePath(name); };
    for (int i = 1; i <= 3; ++i)
        writeFile(path(QStringLiteral("claims-%1-%2.jpg").arg(claim).arg(i)), jpegClaiming(claim));
    writeFile(path("huge-chunk-itxt.png"), pngWithHugeChunk("iTXt"));
    writeFile(path("huge-chunk-ztxt.png"), pngWithHugeChunk("zTXt"));
    writeFile(path("huge-chunk-unknown.png"), pngWithHugeChunk("prVt"));

    const int height = static_cast<int>(std::sqrt(largeMegapixels * 1e6 * 3 / 4));
    const int width = height * 4 / 3;
    const vips::Image large = photoLike(width, height);
    check(vips_pngsave(large.get(), qPrintable(path(QStringLiteral("large-%1mp.png").arg(largeMegapixels))), nullptr),
          "pngsave");
    // Valid, but beyond the pixel budget: refused from its header.
    VipsImage* black = nullptr;
    check(vips_black(&black, 16500, 16500, "bands", 3, nullptr), "black");
    const vips::Image beyond(black);
    check(vips_pngsave(beyond.get(), qPrintable(path("beyond-budget-16500x16500.png")), "compression", 1, nullptr),
          "pngsave");
}

struct Options {
    int jobs = std::max(JobQueue::activeProcessorCount() - 1, 1);
    uint64_t budget = 0;
    CompressionMode mode = CompressionMode::lossy(80);
    TargetFormat format = TargetFormat::keepOriginal;
};

// The child: runs the files through one queue, writing into the folder, and
// prints a line per file.
int runFiles(const Options& options, const QString& outputFolder, const QStringList& files)
{
    const CompressionSettings settings{options.mode,
                                       OutputMode::customFolder(outputFolder),
                                       options.format,
                                       OriginalFileHandling::keep,
                                       RenamingMode::none(),
                                       ResizeMode::none(),
                                       3,
                                       "_"};
    JobQueue queue(settings, {}, [&] { return options.jobs + 1; });
    if (options.budget > 0)
        queue.setMemoryBudget(options.budget);
    queue.add(files);
    queue.whenIdle().wait();
    for (const Job& job : queue.jobs().get()) {
        QJsonObject line{{"file", QFileInfo(job.path).fileName()}};
        switch (job.status.kind()) {
        case JobStatus::Kind::done:
            line["status"] = "done";
            line["seconds"] = job.status.result().duration;
            break;
        case JobStatus::Kind::failed:
            line["status"] = "failed";
            line["error"] = job.status.message();
            break;
        default:
            line["status"] = "not run";
            break;
        }
        std::printf("%s\n", QJsonDocument(line).toJson(QJsonDocument::Compact).constData());
    }
    return 0;
}

struct Measured {
    std::vector<QJsonObject> lines;
    int64_t peakBytes = 0;
    double wallSeconds = 0;
    bool exitedCleanly = false;
};

// Runs this program again as a child on the files and measures it.
Measured measure(const QStringList& childArguments)
{
    std::vector<std::string> storage;
    storage.push_back("/proc/self/exe");
    for (const QString& argument : childArguments)
        storage.push_back(argument.toStdString());
    std::vector<char*> argv;
    for (std::string& argument : storage)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    int out[2];
    if (::pipe(out) != 0)
        usage("pipe failed");
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child < 0)
        usage("fork failed");
    if (child == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    QByteArray output;
    char buffer[4096];
    for (ssize_t got; (got = ::read(out[0], buffer, sizeof buffer)) != 0;) {
        if (got > 0)
            output.append(buffer, got);
        else if (errno != EINTR)
            break;
    }
    ::close(out[0]);
    int status = 0;
    rusage usage{};
    while (::wait4(child, &status, 0, &usage) < 0 && errno == EINTR) {}

    Measured measured;
    measured.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    measured.peakBytes = static_cast<int64_t>(usage.ru_maxrss) * 1024;
    measured.exitedCleanly = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    for (const QByteArray& line : output.split('\n')) {
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        if (!object.isEmpty() && object.contains("file"))
            measured.lines.push_back(object);
    }
    return measured;
}

void print(const QJsonObject& object)
{
    std::printf("%s\n", QJsonDocument(object).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);

    Options options;
    QString generateFolder;
    QString childOutput;
    int claim = 16384;
    int largeMegapixels = 48;
    bool each = false;
    QStringList inputs;
    QStringList passedOn; // the options a child gets
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        const auto next = [&]() -> QString {
            if (i + 1 >= args.size())
                usage(qPrintable("missing value after " + a));
            return args[++i];
        };
        if (a == "--generate") {
            generateFolder = next();
        } else if (a == "--claim") {
            claim = std::clamp(next().toInt(), 1, 65535);
        } else if (a == "--large-megapixels") {
            largeMegapixels = std::clamp(next().toInt(), 1, 260);
        } else if (a == "--jobs") {
            options.jobs = std::max(next().toInt(), 1);
            passedOn << a << QString::number(options.jobs);
        } else if (a == "--memory-budget") {
            options.budget = parseSize(next());
            passedOn << a << QString::number(options.budget);
        } else if (a == "--lossless") {
            options.mode = CompressionMode::lossless();
            passedOn << a;
        } else if (a == "--format") {
            const QString format = next();
            if (format == "keep")
                options.format = TargetFormat::keepOriginal;
            else if (format == "webp")
                options.format = TargetFormat::webp;
            else if (format == "jpeg")
                options.format = TargetFormat::jpeg;
            else if (format == "png")
                options.format = TargetFormat::png;
            else
                usage("unknown format");
            passedOn << a << format;
        } else if (a == "--each") {
            each = true;
        } else if (a == "--run-into") { // the child's own
            childOutput = next();
        } else if (a.startsWith("--")) {
            usage(a == "--help" ? nullptr : qPrintable("unknown option " + a));
        } else {
            inputs << QFileInfo(a).absoluteFilePath();
        }
    }
    if (!childOutput.isEmpty())
        return runFiles(options, childOutput, inputs);

    if (!generateFolder.isEmpty()) {
        generate(generateFolder, claim, largeMegapixels);
        inputs << QFileInfo(generateFolder).absoluteFilePath();
    }
    QList<QByteArray> paths;
    for (const QString& input : inputs)
        paths << QFile::encodeName(input);
    const QStringList files = ImageDropExpander::expandToFiles(paths);
    if (files.isEmpty())
        usage("no files given");
    const QTemporaryDir outputs;
    if (!outputs.isValid())
        usage("cannot make a temporary output folder");

    int failures = 0;
    if (each) {
        for (const QString& file : files) {
            QTemporaryDir folder(outputs.filePath("one-XXXXXX"));
            const Measured alone = measure(QStringList(passedOn) << "--run-into" << folder.path() << file);
            QJsonObject line
                = alone.lines.empty() ? QJsonObject{{"file", QFileInfo(file).fileName()}} : alone.lines.front();
            if (!alone.exitedCleanly)
                line["status"] = "crashed";
            line["run"] = "alone";
            line["peakMemoryBytes"] = static_cast<qint64>(alone.peakBytes);
            line["wallSeconds"] = alone.wallSeconds;
            print(line);
        }
    }

    const Measured together = measure(QStringList(passedOn) << "--run-into" << outputs.path() << files);
    for (QJsonObject line : together.lines) {
        failures += line["status"].toString() != "done";
        line["run"] = "together";
        print(line);
    }
    print(QJsonObject{
        {"summary", true},
        {"files", static_cast<qint64>(files.size())},
        {"notDone", failures},
        {"crashed", !together.exitedCleanly},
        {"jobs", options.jobs},
        {"memoryBudgetBytes", static_cast<qint64>(options.budget)},
        {"peakMemoryBytes", static_cast<qint64>(together.peakBytes)},
        {"wallSeconds", together.wallSeconds},
    });
    return together.exitedCleanly ? 0 : 1;
}
