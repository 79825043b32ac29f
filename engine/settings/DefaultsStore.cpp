#include "DefaultsStore.h"

#include <QLocale>
#include <QSettings>

#include <cmath>
#include <limits>

namespace vantro {

namespace {

constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();
constexpr int64_t kInt64Min = std::numeric_limits<int64_t>::min();

// 2^63 exactly: every double at or beyond it lies outside int64_t.
constexpr double kTwoTo63 = 9223372036854775808.0;

std::optional<int64_t> truncated(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    if (value >= kTwoTo63)
        return kInt64Max;
    if (value <= -kTwoTo63)
        return kInt64Min;
    return static_cast<int64_t>(value);
}

// Optional sign and decimal digits, nothing else; a number beyond the 64-bit
// range saturates, since it is still a number, only a large one.
std::optional<int64_t> parseDecimalInteger(const QString& text)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text.at(i) == u'+' || text.at(i) == u'-')) {
        negative = text.at(i) == u'-';
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    // Accumulated as a negative number, whose range is one larger.
    int64_t value = 0;
    bool saturated = false;
    for (; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int digit = c - u'0';
        if (saturated)
            continue;
        if (value < (kInt64Min + digit) / 10) {
            saturated = true;
            continue;
        }
        value = value * 10 - digit;
    }
    if (saturated)
        return negative ? kInt64Min : kInt64Max;
    if (negative)
        return value;
    return value == kInt64Min ? kInt64Max : -value;
}

std::optional<int64_t> integerFromText(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (const auto integer = parseDecimalInteger(trimmed))
        return integer;
    bool ok = false;
    const double value = QLocale::c().toDouble(trimmed, &ok);
    return ok ? truncated(value) : std::nullopt;
}

} // namespace

std::optional<QString> DefaultsStore::string(const QString& key) const
{
    const QVariant value = rawValue(key);
    switch (value.typeId()) {
    case QMetaType::QString:
        return value.toString();
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
        return value.toString();
    default:
        return std::nullopt;
    }
}

std::optional<int64_t> DefaultsStore::integer(const QString& key) const
{
    const QVariant value = rawValue(key);
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
        return value.toLongLong();
    case QMetaType::UInt:
    case QMetaType::ULongLong: {
        const qulonglong unsignedValue = value.toULongLong();
        return unsignedValue > static_cast<qulonglong>(kInt64Max) ? kInt64Max : static_cast<int64_t>(unsignedValue);
    }
    case QMetaType::Double:
        return truncated(value.toDouble());
    case QMetaType::QString:
        return integerFromText(value.toString());
    default:
        return std::nullopt;
    }
}

std::optional<bool> DefaultsStore::flag(const QString& key) const
{
    const QVariant value = rawValue(key);
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return value.toULongLong() != 0;
    case QMetaType::Double: {
        const double number = value.toDouble();
        return std::isnan(number) ? std::nullopt : std::optional<bool>(number != 0);
    }
    case QMetaType::QString: {
        const QString text = value.toString().trimmed();
        if (text.compare(u"true", Qt::CaseInsensitive) == 0 || text.compare(u"yes", Qt::CaseInsensitive) == 0)
            return true;
        if (text.compare(u"false", Qt::CaseInsensitive) == 0 || text.compare(u"no", Qt::CaseInsensitive) == 0)
            return false;
        if (const auto integer = parseDecimalInteger(text))
            return *integer != 0;
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<QByteArray> DefaultsStore::data(const QString& key) const
{
    const QVariant value = rawValue(key);
    if (value.typeId() != QMetaType::QByteArray)
        return std::nullopt;
    return value.toByteArray();
}

void DefaultsStore::setString(const QString& key, const QString& value)
{
    setRawValue(key, QVariant(value));
}

void DefaultsStore::setInteger(const QString& key, int64_t value)
{
    setRawValue(key, QVariant(static_cast<qlonglong>(value)));
}

void DefaultsStore::setFlag(const QString& key, bool value)
{
    setRawValue(key, QVariant(value));
}

void DefaultsStore::setData(const QString& key, const QByteArray& value)
{
    setRawValue(key, QVariant(value));
}

QVariant MemoryDefaultsStore::rawValue(const QString& key) const
{
    return m_values.value(key);
}

void MemoryDefaultsStore::setRawValue(const QString& key, const QVariant& value)
{
    m_values.insert(key, value);
}

QSettingsDefaultsStore::QSettingsDefaultsStore(const QString& organization, const QString& application)
    : m_settings(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, organization, application))
{
}

QSettingsDefaultsStore::QSettingsDefaultsStore(const QString& iniFilePath)
    : m_settings(std::make_unique<QSettings>(iniFilePath, QSettings::IniFormat))
{
}

QSettingsDefaultsStore::~QSettingsDefaultsStore() = default;

QVariant QSettingsDefaultsStore::rawValue(const QString& key) const
{
    return m_settings->value(key);
}

void QSettingsDefaultsStore::setRawValue(const QString& key, const QVariant& value)
{
    m_settings->setValue(key, value);
}

QString QSettingsDefaultsStore::fileName() const
{
    return m_settings->fileName();
}

} // namespace vantro
