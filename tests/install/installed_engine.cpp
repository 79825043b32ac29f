// Compresses each file it is given without loss, beside the file, through the
// engine as the program links it, and prints "done PATH" or "failed PATH:
// ERROR" for each. The install test copies it into an installed bin folder, so
// it finds the tools only where an installed program does. Exits 1 when any
// file failed.

#include "CompressionEngine.h"

#include <QCoreApplication>

#include <cstdio>
#include <exception>

using namespace vantro;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const CompressionEngine engine;
    const CompressionSettings settings{CompressionMode::lossless(),
                                       OutputMode::copyAlongside(),
                                       TargetFormat::keepOriginal,
                                       OriginalFileHandling::keep,
                                       RenamingMode::none(),
                                       ResizeMode::none(),
                                       3,
                                       QStringLiteral("_")};
    int status = 0;
    for (const QString& path : app.arguments().mid(1)) {
        try {
            engine.compress(path, settings);
            std::printf("done %s\n", qPrintable(path));
        } catch (const std::exception& error) {
            std::printf("failed %s: %s\n", qPrintable(path), error.what());
            status = 1;
        }
    }
    return status;
}
