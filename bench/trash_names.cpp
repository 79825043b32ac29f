// Times moving one more file to the Trash where it already holds many of its
// name, as a music library's covers fill it: each COUNT gives a Trash holding
// x.png, x.2.png ... x.COUNT.png, each with its information file, then moves
// ROUNDS more x.png there one after another. Prints one JSON line a count.

#include "OutputPlacement.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace vantro;

namespace {

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

int main(int argc, char** argv)
{
    constexpr int kRounds = 20;
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i)
        counts.push_back(std::atoi(argv[i]));
    if (counts.empty())
        counts = {1000, 10000};

    for (const int count : counts) {
        const QTemporaryDir dir;
        const QString trash = dir.filePath(QStringLiteral("data/Trash/"));
        if (!QDir().mkpath(trash + "files") || !QDir().mkpath(trash + "info") || !QDir().mkpath(dir.filePath("work")))
            return 1;
        for (int k = 1; k <= count; ++k) {
            const QString name = k == 1 ? QStringLiteral("x.png") : QStringLiteral("x.%1.png").arg(k);
            if (!writeFile(trash + "files/" + name, "x") || !writeFile(trash + "info/" + name + ".trashinfo", "x"))
                return 1;
        }
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath("data")));

        std::vector<double> seconds;
        for (int round = 0; round < kRounds; ++round) {
            const QString file = dir.filePath(QStringLiteral("work/x.png"));
            if (!writeFile(file, "x"))
                return 1;
            const auto start = std::chrono::steady_clock::now();
            try {
                OutputPlacement::recycleViaWorkspace({file});
            } catch (const TrashError& error) {
                std::fprintf(stderr, "%s\n", error.what());
                return 1;
            }
            seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
        std::sort(seconds.begin(), seconds.end());
        const QJsonObject line{{"alreadyInTrash", count},
                               {"rounds", kRounds},
                               {"medianMs", seconds[seconds.size() / 2] * 1000},
                               {"maxMs", seconds.back() * 1000}};
        std::printf("%s\n", QJsonDocument(line).toJson(QJsonDocument::Compact).constData());
    }
    return 0;
}
