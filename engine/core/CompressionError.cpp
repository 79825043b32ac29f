#include "CompressionError.h"

namespace vantro {

CompressionError::CompressionError(Kind kind, const QString& message)
    : m_kind(kind)
    , m_message(kind == Kind::unsupportedFormat ? QString() : message)
{
    m_what = text().toStdString();
}

QString caseName(CompressionError::Kind kind)
{
    switch (kind) {
    case CompressionError::Kind::corruptFile:
        return QStringLiteral("corruptFile");
    case CompressionError::Kind::encoderFailed:
        return QStringLiteral("encoderFailed");
    case CompressionError::Kind::ioFailure:
        return QStringLiteral("ioFailure");
    case CompressionError::Kind::invalidConfiguration:
        return QStringLiteral("invalidConfiguration");
    case CompressionError::Kind::unsupportedFormat:
        return QStringLiteral("unsupportedFormat");
    }
    return QString();
}

QString CompressionError::text() const
{
    QString out = caseName(m_kind);
    if (m_kind == Kind::unsupportedFormat)
        return out;
    out += QStringLiteral("(\"");
    for (const QChar c : m_message) {
        switch (c.unicode()) {
        case u'"':
            out += QStringLiteral("\\\"");
            break;
        case u'\'':
            out += QStringLiteral("\\'");
            break;
        case u'\\':
            out += QStringLiteral("\\\\");
            break;
        case u'\t':
            out += QStringLiteral("\\t");
            break;
        case u'\n':
            out += QStringLiteral("\\n");
            break;
        case u'\r':
            out += QStringLiteral("\\r");
            break;
        case u'\0':
            out += QStringLiteral("\\0");
            break;
        default:
            // Other control characters only come from odd file names; write
            // them as \u{hex} so the text stays on one readable line.
            if (c.unicode() < 0x20 || c.unicode() == 0x7f)
                out += QStringLiteral("\\u{%1}").arg(c.unicode(), 0, 16);
            else
                out += c;
        }
    }
    out += QStringLiteral("\")");
    return out;
}

bool canonicallyEqual(const QString& a, const QString& b)
{
    return a == b || a.normalized(QString::NormalizationForm_C) == b.normalized(QString::NormalizationForm_C);
}

bool operator==(const CompressionError& a, const CompressionError& b)
{
    return a.m_kind == b.m_kind && canonicallyEqual(a.m_message, b.m_message);
}

} // namespace vantro
