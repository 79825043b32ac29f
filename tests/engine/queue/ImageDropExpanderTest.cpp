#include "TestImages.h"

#include "ImageDropExpander.h"
#include "URLAccumulator.h"

#include <QDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

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
    // A file or folder under a name made of raw bytes.
    QByteArray rawPath(const QByteArray& relative) const { return QFile::encodeName(dir.path()) + '/' + relative; }
    void rawFile(const QByteArray& relative)
    {
        const int fd = ::open(rawPath(relative).constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        ASSERT_GE(fd, 0) << relative.toHex().constData();
        ::close(fd);
    }
    static QStringList expand(const QStringList& paths)
    {
        QList<QByteArray> encoded;
        for (const QString& path : paths)
            encoded << QFile::encodeName(path);
        return ImageDropExpander::expandToFiles(encoded);
    }
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

    EXPECT_EQ(expand({path("tree")}), QStringList({jpeg, pngInJpeg, avif, webp, heic}));
    // A folder given with a trailing slash names its files the same way.
    EXPECT_EQ(expand({path("tree/sub/")}), QStringList({webp, heic}));
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
    EXPECT_EQ(expand({upper, path("in/vanished.jpg"), hidden, only, none, plain, plain, path("folder"), inFolder,
                      linkedFile, linkedFolder, path("empty")}),
              QStringList({upper, hidden, plain, plain, inFolder, inFolder, linkedFile, linkedFolder + "/c.webp"}));
}

// Qt lists no name that is not valid UTF-8, nor anything inside a folder so
// named; each such image must still come out, as Qt shows its name, for the
// engine to fail it. A valid name that holds U+FFFD itself is an ordinary file.
TEST_F(ImageDropExpanderTest, NamesThatAreNotUTF8AreListedAsQtShowsThem)
{
    for (const QByteArray folder : {"tree", "tree/d\xe9", "tree/.hidden-\xe9"})
        ASSERT_EQ(::mkdir(rawPath(folder).constData(), 0700), 0);
    for (const QByteArray file :
         {"tree/ok.jpg", "tree/latin1-\xe9t\xe9.jpg", "tree/.h\xe9.jpg", "tree/n\xe9.txt", "tree/d\xe9/in.png",
          "tree/d\xe9/.x.png", "tree/.hidden-\xe9/z.png", "tree/real-\xef\xbf\xbd.webp"})
        rawFile(file);
    ASSERT_EQ(::symlink("ok.jpg", rawPath("tree/l\xe9nk.jpg").constData()), 0);
    ASSERT_EQ(::symlink("d\xe9", rawPath("tree/d\xe9-link").constData()), 0);

    const QString latin1 = path(QString::fromUtf8("tree/latin1-\uFFFDt\uFFFD.jpg"));
    const QString inFolder = path(QString::fromUtf8("tree/d\uFFFD/in.png"));
    EXPECT_EQ(ImageDropExpander::expandToFiles({rawPath("tree")}),
              QStringList({inFolder, latin1, path("tree/ok.jpg"), path(QString::fromUtf8("tree/real-\uFFFD.webp"))}));
    // Bytes can hold a NUL (a dropped "%00"), which would cut the path short.
    EXPECT_EQ(ImageDropExpander::expandToFiles({rawPath("tree/latin1-\xe9t\xe9.jpg"), rawPath("tree/d\xe9"),
                                                rawPath("tree/gone-\xe9.jpg"), rawPath("tree/n\xe9.txt"),
                                                rawPath("tree/ok.jpg") + QByteArray("\0.png", 5)}),
              QStringList({latin1, inFolder}));
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
                accumulator.add(QString("/drop/%1/%2.png").arg(t).arg(i).toUtf8());
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    const QList<QByteArray> all = accumulator.snapshot();
    ASSERT_EQ(all.size(), kThreads * kEach);
    std::vector<int> next(kThreads, 0);
    for (const QByteArray& bytes : all) {
        const QString entry = QString::fromUtf8(bytes);
        const int t = entry.section('/', 2, 2).toInt();
        EXPECT_EQ(entry.section('/', 3, 3), QString("%1.png").arg(next[static_cast<std::size_t>(t)]++));
    }
}
