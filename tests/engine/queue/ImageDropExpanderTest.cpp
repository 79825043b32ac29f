#include "TestImages.h"

#include "ImageDropExpander.h"
#include "JobFootprint.h"
#include "JobQueue.h"
#include "URLAccumulator.h"

#include <QDir>

#include <chrono>
#include <set>
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
// named; each such image must still come out, under a text that no other name
// has, for the engine to fail it. A valid name that holds U+FFFD itself is an
// ordinary file.
TEST_F(ImageDropExpanderTest, NamesThatAreNotUTF8AreListedUnderTextsOfTheirOwn)
{
    for (const QByteArray folder : {"tree", "tree/d\xe9", "tree/.hidden-\xe9"})
        ASSERT_EQ(::mkdir(rawPath(folder).constData(), 0700), 0);
    for (const QByteArray file :
         {"tree/ok.jpg", "tree/latin1-\xe9t\xe9.jpg", "tree/.h\xe9.jpg", "tree/n\xe9.txt", "tree/d\xe9/in.png",
          "tree/d\xe9/.x.png", "tree/.hidden-\xe9/z.png", "tree/real-\xef\xbf\xbd.webp"})
        writeRaw(file, "");
    ASSERT_EQ(::symlink("ok.jpg", rawPath("tree/l\xe9nk.jpg").constData()), 0);
    ASSERT_EQ(::symlink("d\xe9", rawPath("tree/d\xe9-link").constData()), 0);

    // Each byte that is not UTF-8 stays, as a lone surrogate.
    const QString latin1 = path(QString::fromUtf16(u"tree/latin1-\xdce9t\xdce9.jpg"));
    const QString inFolder = path(QString::fromUtf16(u"tree/d\xdce9/in.png"));
    EXPECT_EQ(ImageDropExpander::expandToFiles({rawPath("tree")}),
              QStringList({inFolder, latin1, path("tree/ok.jpg"), path(QString::fromUtf8("tree/real-\uFFFD.webp"))}));
    // Bytes can hold a NUL (a dropped "%00"), which would cut the path short.
    EXPECT_EQ(ImageDropExpander::expandToFiles({rawPath("tree/latin1-\xe9t\xe9.jpg"), rawPath("tree/d\xe9"),
                                                rawPath("tree/gone-\xe9.jpg"), rawPath("tree/n\xe9.txt"),
                                                rawPath("tree/ok.jpg") + QByteArray("\0.png", 5)}),
              QStringList({latin1, inFolder}));
}

// Qt decodes both names that are not UTF-8 as the third, valid one, which
// holds U+FFFD itself: the queue then made one job of the three, and the
// engine compressed the valid file for it. Run through the real queue and
// engine, each is a job of its own and only the valid ones are touched.
TEST_F(ImageDropExpanderTest, LookalikeNamesAreJobsOfTheirOwnAndOnlyTheValidOnesAreCompressed)
{
    const QByteArray jpeg = test::vipsEncode(test::photoLike(64, 48), ".jpg[Q=98,optimize_coding=false]");
    const std::set<QByteArray> names{"ok.jpg", "caf\xe9.jpg", "caf\xe8.jpg", "caf\xef\xbf\xbd.jpg"};
    for (const QByteArray& name : names)
        writeRaw(name, jpeg);

    const QStringList files = ImageDropExpander::expandToFiles({rawPath("")});
    const QString e8 = path(QString::fromUtf16(u"caf\xdce8.jpg")), e9 = path(QString::fromUtf16(u"caf\xdce9.jpg"));
    const QString valid = path(QString::fromUtf8("caf\uFFFD.jpg"));
    ASSERT_EQ(files, QStringList({e8, e9, valid, path("ok.jpg")}));
    // The queue reads no header under another file's name either.
    EXPECT_FALSE(JobFootprint::read(e9).format);
    EXPECT_EQ(JobFootprint::read(valid).format, ImageFormat::jpeg);

    JobQueue queue({CompressionMode::lossy(60), OutputMode::copyAlongside(), TargetFormat::keepOriginal,
                    OriginalFileHandling::keep, RenamingMode::none(), ResizeMode::none(), 3, "_"});
    queue.add(files);
    ASSERT_EQ(queue.whenIdle().wait_for(std::chrono::seconds(60)), std::future_status::ready);
    // The failures tell their outcome by their message, the jobs done by their output.
    QStringList paths, outcomes;
    for (const Job& job : queue.jobs().get()) {
        paths << job.path;
        const JobStatus& status = job.status;
        outcomes << (status.kind() == JobStatus::Kind::done         ? status.result().outputPath
                         : status.kind() == JobStatus::Kind::failed ? status.message()
                                                                    : QString());
    }
    EXPECT_EQ(paths, files);
    const QString reason = QString::fromUtf8("File name is not valid UTF-8 and cannot be read: caf\uFFFD.jpg");
    const QString unreadable = CompressionError::ioFailure(reason).text();
    EXPECT_EQ(
        outcomes,
        QStringList({unreadable, unreadable, path(QString::fromUtf8("caf\uFFFD-optim.jpg")), path("ok-optim.jpg")}));

    std::set<QByteArray> after = names;
    after.insert({"ok-optim.jpg", "caf\xef\xbf\xbd-optim.jpg"});
    EXPECT_EQ(rawNames(""), after);
    for (const QByteArray name : {"caf\xe9.jpg", "caf\xe8.jpg", "caf\xef\xbf\xbd.jpg"})
        EXPECT_EQ(readRaw(name), jpeg);
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
