#include "FileNames.h"

#include <QStringDecoder>

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace vantro::FileNames {

namespace {

// QFile::decodeName and QString::fromUtf8 drop a byte order mark at the start
// of the bytes, which would make a path that starts with one lead to another file.
QString utf8(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return decoder(bytes);
}

// The length of the UTF-8 sequence that this byte starts, or 0 when none does.
qsizetype sequenceLength(uint8_t lead)
{
    if (lead < 0x80)
        return 1;
    if (lead < 0xC2)
        return 0;
    if (lead < 0xE0)
        return 2;
    if (lead < 0xF0)
        return 3;
    return lead < 0xF5 ? 4 : 0;
}

} // namespace

QString fromBytes(const QByteArray& path)
{
    QString text = utf8(path);
    if (text.toUtf8() == path)
        return text;
    // A sequence is valid when Qt decodes it to text that encodes back to it:
    // overlong forms, encoded surrogates and code points past U+10FFFF are not.
    text.clear();
    for (qsizetype at = 0; at < path.size();) {
        const auto lead = static_cast<uint8_t>(path[at]);
        const QByteArray sequence = path.mid(at, sequenceLength(lead));
        const QString character = utf8(sequence);
        if (!sequence.isEmpty() && character.toUtf8() == sequence) {
            text += character;
            at += sequence.size();
        } else {
            text += QChar(char16_t(0xDC00 + lead));
            ++at;
        }
    }
    return text;
}

QByteArray toBytes(const QString& path)
{
    if (!isNotUTF8(path))
        return path.toUtf8();
    QByteArray bytes;
    for (qsizetype at = 0; at < path.size(); ++at) {
        if (path[at].isHighSurrogate() && at + 1 < path.size() && path[at + 1].isLowSurrogate()) {
            bytes += path.mid(at, 2).toUtf8();
            ++at;
        } else if (const char16_t unit = path[at].unicode(); unit >= 0xDC80 && unit <= 0xDCFF) {
            bytes += static_cast<char>(unit - 0xDC00);
        } else {
            bytes += QString(path[at]).toUtf8();
        }
    }
    return bytes;
}

QString shown(const QString& path)
{
    QString text = path;
    for (qsizetype at = 0; at < text.size(); ++at) {
        if (text[at].isHighSurrogate() && at + 1 < text.size() && text[at + 1].isLowSurrogate())
            ++at;
        else if (text[at].isSurrogate())
            text[at] = QChar::ReplacementCharacter;
    }
    return text;
}

bool isNotUTF8(const QString& path)
{
    return shown(path) != path;
}

QString kernelPath(const QString& path)
{
    if (isNotUTF8(path))
        return path;
    const QByteArray native = path.toUtf8();
    qsizetype upTo = -1;
    for (qsizetype start = 0; start <= native.size();) {
        qsizetype end = native.indexOf('/', start);
        if (end < 0)
            end = native.size();
        if (QByteArrayView(native).sliced(start, end - start) == "..")
            upTo = end;
        start = end + 1;
    }
    if (upTo < 0)
        return path;
    const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(native.left(upTo).constData(), nullptr),
                                                               &std::free);
    return resolved ? fromBytes(QByteArray(resolved.get()) + native.mid(upTo)) : path;
}

} // namespace vantro::FileNames
