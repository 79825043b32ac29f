#include "TestImages.h"

#include "ImageDropExpander.h"
#include "URLAccumulator.h"

#include <QDir>

#include <sys/stat.h>
#include <thread>

using namespace vantro;

namespace {

class ImageDropExpanderTest : public test::TemporaryFolderTest {
protected:
    QString touch(const QString& relative, const QByteArray& bytes = "x")
    {
        QDir().mkpath(QFileInfo(path(relative)).path());
        return write(relative, bytes);
    }
    QString link(const QString& target, const QString& relative)
    {
        EXPECT_TRUE(QFile::link(target, path(relative)));
        return path(relative);
    }
    QString path(const QString& relative) const { return dir.filePath(relative); }
};

} // namespace

TEST_F(ImageDropExpanderTest, FolderWalkKeepsVisibleRegularImageFilesDepthFirst)
{
    const QString jpeg = touch("tree/A.JPG");
    for (const QString name : {"tree/.hidden.png", "tree/notes.txt", "tree/noext", "tree/trailing.",
                               "tree/sub/.deeper/y.png", "tree/.hiddendir/z.png", "outside/far.png"})
        touch(name);
    const QString pngInJpeg = touch("tree/fake.jpeg", QByteArray("\x89PNG\r\n\x1a\n", 8));
    const QString webp = touch("tree/sub/x.webp");
    const QString avif = touch("tree/pkg.app/Contents/inner.avif");
    const QString heic = touch("tree/sub/z.HeIc");
    link(jpeg, "tree/link.png");
    link(path("outside"), "tree/linked-folder");
    link(path("tree"), "tree/sub/cycle");
    link(path("nowhere.png"), "tree/dangling.png");
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("tree/pipe.jpg")).constData(), 0600), 0);

    EXPECT_EQ(ImageDropExpander::expandToFiles({path("tree")}), QStringList({jpeg, pngInJpeg, avif, webp, heic}));
    // A folder given with a trailing slash names its files the same way.
    EXPECT_EQ(ImageDropExpander::expandToFiles({path("tree/sub/")}), QStringList({webp, heic}));
}

TEST_F(ImageDropExpanderTest, DirectInputsKeepTheirOrderAndAreNotDeduplicated)
{
    const QString hidden = touch("in/.photo.heic");
    const QString only = touch("in/.heic");
    const QString plain = touch("in/a.png");
    const QString none = touch("in/README");
    const QString upper = touch("in/B.JPEG");
    const QString inFolder = touch("folder/c.webp");
    const QString linkedFile = link(plain, "in/link-to-a.PNG");
    const QString linkedFolder = link(path("folder"), "in/folder-link");
    QDir().mkpath(path("empty"));

    // A link given directly stands for what it points to; files found
    // through it are named under the link.
    EXPECT_EQ(ImageDropExpander::expandToFiles({upper, path("in/vanished.jpg"), hidden, only, none, plain, plain,
                                                path("folder"), inFolder, linkedFile, linkedFolder, path("empty")}),
              QStringList({upper, hidden, plain, plain, inFolder, inFolder, linkedFile, linkedFolder + "/c.webp"}));
}

TEST(URLAccumulatorTest, KeepsEveryAdditionFromManyThreadsInEachThreadsOrder)
{
    URLAccumulator accumulator;
    constexpr int kThreads = 8;
    constexpr int kEach = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&accumulator, t] {
            for (int i = 0; i < kEach; ++i)
                accumulator.add(QString("/drop/%1/%2.png").arg(t).arg(i));
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    const QStringList all = accumulator.snapshot();
    ASSERT_EQ(all.size(), kThreads * kEach);
    std::vector<int> next(kThreads, 0);
    for (const QString& entry : all) {
        const int t = entry.section('/', 2, 2).toInt();
        EXPECT_EQ(entry.section('/', 3, 3), QString("%1.png").arg(next[static_cast<std::size_t>(t)]++));
    }
}
