#include "TestImages.h"

#include "ImageDropExpander.h"
#include "UriList.h"

#include <QSysInfo>

using namespace vantro;

namespace {

class UriListTest : public test::TemporaryFolderTest {};

struct Row {
    const char* what;
    QByteArray list;
    QList<QByteArray> paths;
};

} // namespace

// A drag source writes the list as it likes within what a URI allows; each
// item that is a local file comes out as its path's bytes, and one that is no
// local file as its line, which the engine fails, never as a local path.
TEST_F(UriListTest, ItemsAreLocalPathsOrTheirLinesAsGiven)
{
    const QByteArray ownName = QSysInfo::machineHostName().toUtf8().toUpper();
    ASSERT_FALSE(ownName.isEmpty());
    const QByteArray nul("/tmp/a.jpg\0.png", 15);
    const std::vector<Row> rows{
        {"CRLF, LF and CR alone end lines",
         "file:///tmp/a.jpg\r\nfile:///tmp/b.jpg\nfile:///tmp/c.jpg\rfile:///d",
         {"/tmp/a.jpg", "/tmp/b.jpg", "/tmp/c.jpg", "/d"}},
        {"comments, blank and padded lines",
         "# file:///tmp/no.jpg\r\n\r\n \t\r\n \tfile:///tmp/p.jpg \t\r\n\t# x",
         {"/tmp/p.jpg"}},
        {"escapes at a line's end",
         "file:///tmp/%C3%89t%C3%A9\r\nfile:///tmp/%c3%a9",
         {"/tmp/\xc3\x89t\xc3\xa9", "/tmp/\xc3\xa9"}},
        {"a % that starts no escape",
         "file:///tmp/100%.jpg\nfile:///tmp/%zz%4\nfile:///tmp/%4",
         {"/tmp/100%.jpg", "/tmp/%zz%4", "/tmp/%4"}},
        {"an escaped NUL is kept", "file:///tmp/a.jpg%00.png", {nul}},
        {"query and fragment",
         "file:///tmp/q.jpg?x=1#f\nfile:///tmp/f.jpg#x?y\nfile:///tmp/%3F%23.jpg",
         {"/tmp/q.jpg", "/tmp/f.jpg", "/tmp/?#.jpg"}},
        {"this computer",
         "file:/tmp/h.jpg\nFILE://LocalHost/tmp/h.jpg\nfile://" + ownName + "/tmp/h.jpg",
         {"/tmp/h.jpg", "/tmp/h.jpg", "/tmp/h.jpg"}},
        {"another computer",
         " file://nas/photos/x.jpg\r\nfile://tmp/x.jpg?q\nfile://localhost.nas/x.jpg\nfile://nas",
         {"file://nas/photos/x.jpg", "file://tmp/x.jpg?q", "file://localhost.nas/x.jpg", "file://nas"}},
        {"no absolute path",
         "file:A/ok.jpg\nfile:\nfile://\nfile://localhost",
         {"file:A/ok.jpg", "file:", "file://", "file://localhost"}},
        {"raw bytes that are not UTF-8",
         "file:///tmp/caf\xe9.jpg\r\nfile://nas/caf\xe9.jpg",
         {"/tmp/caf\xe9.jpg", "file://nas/caf\xe9.jpg"}},
        {"other schemes", "http://nas/x.jpg\r\nhttps:///tmp/x.jpg\nfilex:///tmp/x.jpg\nsmb://nas/x.jpg", {}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(UriList::filePaths(row.list), row.paths) << row.what;

    // The path that a NUL would cut it to is a file, which the item never names.
    write("a.jpg", "x");
    const QByteArray cut = rawPath("a.jpg") + QByteArray("%00.png");
    EXPECT_EQ(ImageDropExpander::expandToFiles(UriList::filePaths("file://" + cut)), QStringList());
    // An item of another computer is no file of this one, however named here.
    EXPECT_EQ(ImageDropExpander::expandToFiles(UriList::filePaths("file:/" + rawPath("a.jpg"))),
              QStringList{"file:/" + dir.filePath("a.jpg")});
}
