#include "TestImages.h"

#include "CompressionEngine.h"
#include "EngineSupport.h"
#include "FormatDetector.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace vantro;
using namespace vantro::test;

// A FIFO named like an image would block a reader forever with no writer;
// every way in refuses it at once instead.
TEST(NonRegularFilesTest, FifoNamedLikeAnImageFailsWithoutBlocking)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath("pipe.jpg");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);

    EXPECT_EQ(errorOf([&] { readWholeFile(fifo); }), CompressionError::ioFailure("Not a regular file: pipe.jpg"));
    EXPECT_EQ(errorOf([&] { FormatDetector::detectFormat(fifo); }), CompressionError::ioFailure("Cannot open pipe.jpg"));
    const CompressionEngine engine(dir.filePath("backup"), [](const QStringList&) {}, 1000);
    const CompressionSettings settings{CompressionMode::lossless(), OutputMode::copyAlongside(),
                                       TargetFormat::keepOriginal, OriginalFileHandling::keep, RenamingMode::none(),
                                       ResizeMode::none(), 3, "_"};
    EXPECT_EQ(errorOf([&] { engine.compress(fifo, settings); }),
              CompressionError::ioFailure("Not a regular file: pipe.jpg"));
}
