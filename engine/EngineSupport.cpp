#include "EngineSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace vantro {

QString fileNameOf(const QString& path)
{
    return QFileInfo(path).fileName();
}

QString temporaryFilePath(const QString& suffix)
{
    QString folder = QDir::tempPath();
    if (folder.isEmpty()) {
        folder = qEnvironmentVariable("TMPDIR");
        if (folder.isEmpty())
            folder = QStringLiteral("/tmp");
    }
    return QDir(folder).filePath(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + suffix);
}

QByteArray readWholeFile(const QString& path)
{
    const QByteArray nativePath = QFile::encodeName(path);
    const auto fail = [&](int error) {
        throw std::system_error(error, std::generic_category(),
                                "Cannot read \"" + fileNameOf(path).toStdString() + "\"");
    };
    const int fd = ::open(nativePath.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        fail(errno);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    struct stat info {};
    if (::fstat(fd, &info) != 0)
        fail(errno);
    if (S_ISDIR(info.st_mode))
        fail(EISDIR);

    QByteArray data;
    if (info.st_size > 0)
        data.reserve(static_cast<qsizetype>(info.st_size));
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
        }
        if (n == 0)
            break;
        data.append(buffer, static_cast<qsizetype>(n));
    }
    return data;
}

} // namespace vantro
