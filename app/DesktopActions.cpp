#include "DesktopActions.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>

namespace vantro {

namespace {

class SystemDesktopActions final : public DesktopActions {
public:
    void openFile(const QString& path) override { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); }

    void revealInFileManager(const QString& path) override
    {
        // The freedesktop file-manager interface selects the file; without a
        // file manager that offers it, the folder opens instead. The call is
        // asynchronous: a file manager that is slow to start must not freeze
        // the window.
        auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(showItemsCall(path)));
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [path](QDBusPendingCallWatcher* done) {
            if (done->isError())
                QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
            done->deleteLater();
        });
    }

    void copyPath(const QString& path) override { QGuiApplication::clipboard()->setText(path); }

    void openWebPage(const QUrl& url) override { QDesktopServices::openUrl(url); }
};

} // namespace

QDBusMessage showItemsCall(const QString& path)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    // Every byte of the path but the unreserved characters and the slashes
    // is percent-encoded: QUrl's own encoding leaves brackets raw, which no
    // URI path may hold.
    const QByteArray uri = "file://" + QUrl::toPercentEncoding(QFileInfo(path).absoluteFilePath(), "/");
    call << QStringList{QString::fromLatin1(uri)} << QString();
    return call;
}

DesktopActions& DesktopActions::system()
{
    static SystemDesktopActions actions;
    return actions;
}

} // namespace vantro
