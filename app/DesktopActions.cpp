#include "DesktopActions.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
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
        // file manager that offers it, the folder opens instead.
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
        call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
        const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 2000);
        if (reply.type() != QDBusMessage::ReplyMessage)
            QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
    }

    void copyPath(const QString& path) override { QGuiApplication::clipboard()->setText(path); }

    void openWebPage(const QUrl& url) override { QDesktopServices::openUrl(url); }
};

} // namespace

DesktopActions& DesktopActions::system()
{
    static SystemDesktopActions actions;
    return actions;
}

} // namespace vantro
