#pragma once

#include <QDBusMessage>
#include <QString>
#include <QUrl>

namespace vantro {

// What the views ask of the desktop: opening files and pages, showing a file
// in the file manager, and the clipboard. Tests put a recording stand-in in
// place of the real one.
class DesktopActions {
public:
    virtual ~DesktopActions() = default;

    virtual void openFile(const QString& path) = 0;
    // Shows the file selected in the file manager, or opens its folder.
    virtual void revealInFileManager(const QString& path) = 0;
    virtual void copyPath(const QString& path) = 0;
    virtual void openWebPage(const QUrl& url) = 0;

    // The desktop's own; lives for the program's run.
    static DesktopActions& system();
};

// The freedesktop file-manager call that shows the file selected. File
// managers take the file as a URI with every character outside the URI
// syntax percent-encoded, as in "file:///home/jan/Fotka%20mo%C5%99e.jpg".
QDBusMessage showItemsCall(const QString& path);

// The external support page, opened from the Help menu and the footer.
inline const QUrl kSupportPageUrl{QStringLiteral("https://ko-fi.com/")};

} // namespace vantro
