#include "RenamingMode.h"

#include "CompressionError.h"

#include <QTextBoundaryFinder>

namespace vantro {

namespace {

constexpr qsizetype kMaxComponentCharacters = 100;

bool isTrimmedSpace(char32_t c)
{
    if ((c >= 0x0A && c <= 0x0D) || c == 0x85)
        return true;
    switch (QChar::category(c)) {
    case QChar::Separator_Space:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

// Keeps at most `limit` user-perceived characters (extended grapheme clusters).
QString firstGraphemes(const QString& text, qsizetype limit)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    qsizetype position = 0;
    while (count < limit) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0)
            return text;
        position = next;
        ++count;
    }
    return text.left(position);
}

} // namespace

QString RenamingMode::sanitizeComponent(const QString& text)
{
    QString cleaned;
    cleaned.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7f)
            continue;
        cleaned += (u == u'/' || u == u':') ? QChar(u'-') : c;
    }

    // Every trimmed character lies in the Basic Multilingual Plane, so looking
    // at single UTF-16 units is enough.
    qsizetype begin = 0;
    qsizetype end = cleaned.size();
    while (begin < end && isTrimmedSpace(cleaned.at(begin).unicode()))
        ++begin;
    while (end > begin && isTrimmedSpace(cleaned.at(end - 1).unicode()))
        --end;
    cleaned = cleaned.mid(begin, end - begin);

    cleaned = firstGraphemes(cleaned, kMaxComponentCharacters);

    bool onlyDots = true;
    for (const QChar c : cleaned) {
        if (c != u'.') {
            onlyDots = false;
            break;
        }
    }
    return onlyDots ? QString() : cleaned;
}

bool RenamingMode::isEffectivelyActive() const
{
    switch (m_kind) {
    case Kind::sequence:
    case Kind::customBase:
        return !sanitizeComponent(m_base).isEmpty();
    case Kind::prefixSuffix:
        return !sanitizeComponent(m_prefix).isEmpty() || !sanitizeComponent(m_suffix).isEmpty();
    case Kind::none:
        return false;
    }
    return false;
}

std::optional<QString> RenamingMode::renamedStem(const QString& originalStem, int64_t sequenceDigits,
                                                 const QString& sequenceSeparator) const
{
    if (!isEffectivelyActive())
        return std::nullopt;
    switch (m_kind) {
    case Kind::customBase:
        return sanitizeComponent(m_base);
    case Kind::sequence: {
        QString digits = QString::number(m_number);
        // Pad with zeros after the sign so a negative number stays readable;
        // the width is never allowed to cut the number.
        const bool negative = m_number < 0;
        QString magnitude = negative ? digits.mid(1) : digits;
        const int64_t width = std::max<int64_t>(sequenceDigits, digits.size());
        const int64_t padding = width - digits.size();
        if (padding > 0)
            magnitude.prepend(QString(static_cast<qsizetype>(std::min<int64_t>(padding, 1 << 20)), u'0'));
        if (negative)
            magnitude.prepend(u'-');
        return sanitizeComponent(m_base) + sequenceSeparator + magnitude;
    }
    case Kind::prefixSuffix:
        return sanitizeComponent(m_prefix) + originalStem + sanitizeComponent(m_suffix);
    case Kind::none:
        return std::nullopt;
    }
    return std::nullopt;
}

bool operator==(const RenamingMode& a, const RenamingMode& b)
{
    if (a.m_kind != b.m_kind)
        return false;
    switch (a.m_kind) {
    case RenamingMode::Kind::sequence:
        return a.m_number == b.m_number && canonicallyEqual(a.m_base, b.m_base);
    case RenamingMode::Kind::customBase:
        return canonicallyEqual(a.m_base, b.m_base);
    case RenamingMode::Kind::prefixSuffix:
        return canonicallyEqual(a.m_prefix, b.m_prefix) && canonicallyEqual(a.m_suffix, b.m_suffix);
    case RenamingMode::Kind::none:
        return true;
    }
    return false;
}

} // namespace vantro
