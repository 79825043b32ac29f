#include "UriList.h"

#include <QSysInfo>

#include <cctype>

namespace vantro {

namespace UriList {

namespace {

bool isHex(char c)
{
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// A host names this computer when it is none, "localhost" or the machine's
// own name, each in any case as host names are.
bool isThisComputer(const QByteArray& host)
{
    return host.isEmpty() || host.compare("localhost", Qt::CaseInsensitive) == 0
        || host.compare(QSysInfo::machineHostName().toUtf8(), Qt::CaseInsensitive) == 0;
}

// A "%" that starts no escape stays as written, as QUrl keeps it.
QByteArray percentDecoded(const QByteArray& text)
{
    QByteArray decoded;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && isHex(text[i + 1]) && isHex(text[i + 2])) {
            decoded += QByteArray::fromHex(text.mid(i + 1, 2));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

// Splits a "file:" URI (without its scheme) into its host, empty when it
// names none, and the rest.
QByteArray hostOf(QByteArray& rest)
{
    if (!rest.startsWith("//"))
        return QByteArray();
    const qsizetype slash = rest.indexOf('/', 2);
    QByteArray host = rest.mid(2, slash < 0 ? -1 : slash - 2);
    rest = slash < 0 ? QByteArray() : rest.mid(slash);
    return host;
}

} // namespace

bool namesAnotherComputer(const QByteArray& item)
{
    if (item.left(5).compare("file:", Qt::CaseInsensitive) != 0)
        return false;
    QByteArray rest = item.mid(5);
    return !isThisComputer(hostOf(rest));
}

QList<QByteArray> filePaths(const QByteArray& list)
{
    QList<QByteArray> paths;
    // A URI holds no raw CR, so one alone ends a line as well.
    for (const QByteArray& each : QByteArray(list).replace('\r', '\n').split('\n')) {
        const QByteArray line = each.trimmed();
        if (line.left(5).compare("file:", Qt::CaseInsensitive) != 0)
            continue;
        QByteArray rest = line.mid(5);
        const QByteArray host = hostOf(rest);
        // A query or a fragment is no part of the path.
        for (const char stop : {'?', '#'}) {
            if (const qsizetype at = rest.indexOf(stop); at >= 0)
                rest.truncate(at);
        }
        paths.append(isThisComputer(host) && rest.startsWith('/') ? percentDecoded(rest) : line);
    }
    return paths;
}

} // namespace UriList

} // namespace vantro
