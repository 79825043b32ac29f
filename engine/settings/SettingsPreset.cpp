#include "SettingsPreset.h"

#include "CompressionError.h"
#include "SettingField.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

#include <optional>
#include <type_traits>
#include <utility>

namespace vantro {

namespace {

QLatin1StringView member(const char* name)
{
    return QLatin1StringView(name);
}

QJsonValue toJson(const QString& value)
{
    return value;
}

QJsonValue toJson(int64_t value)
{
    return static_cast<qint64>(value);
}

QJsonValue toJson(bool value)
{
    return value;
}

template <typename Option>
requires std::is_enum_v<Option> QJsonValue toJson(Option value)
{
    return rawValue(value);
}

QJsonObject encodeValues(const SettingsValues& values)
{
    QJsonObject object;
    forEachSettingField(
        [&](const auto& setting) { object.insert(member(setting.name), toJson(values.*setting.field)); });
    return object;
}

// Nothing for a missing or null member and one of the wrong JSON type.
template <typename T>
std::optional<T> fromJson(const QJsonValue& value)
{
    if constexpr (std::is_same_v<T, QString>) {
        if (value.isString())
            return value.toString();
    } else if constexpr (std::is_same_v<T, int64_t>) {
        // A number that is no whole qint64 gives back the default, so two
        // different defaults tell it apart from a real value.
        if (value.isDouble() && value.toInteger(0) == value.toInteger(1))
            return value.toInteger();
    } else if constexpr (std::is_same_v<T, bool>) {
        if (value.isBool())
            return value.toBool();
    } else if (value.isString()) {
        return optionFromRawValue<T>(value.toString());
    }
    return std::nullopt;
}

template <typename T>
bool decode(const SettingField<T>& setting, const QJsonObject& object, SettingsValues& values)
{
    const QJsonValue value = object.value(member(setting.name));
    if (setting.optionalInPresets && (value.isUndefined() || value.isNull()))
        return true;
    std::optional<T> decoded = fromJson<T>(value);
    if (!decoded)
        return false;
    values.*setting.field = std::move(*decoded);
    return true;
}

std::optional<SettingsValues> decodeValues(const QJsonObject& object)
{
    SettingsValues values;
    if (!everySettingField([&](const auto& setting) { return decode(setting, object, values); }))
        return std::nullopt;
    return values;
}

bool sameValue(const QString& a, const QString& b)
{
    return canonicallyEqual(a, b);
}

template <typename T>
bool sameValue(const T& a, const T& b)
{
    return a == b;
}

// The 36-character hyphenated form only, in either letter case.
std::optional<QUuid> decodeUuid(const QJsonValue& value)
{
    if (!value.isString())
        return std::nullopt;
    const QString text = value.toString();
    if (text.size() != 36)
        return std::nullopt;
    const QUuid uuid = QUuid::fromString(text);
    // fromString gives the null UUID for bad text, which is also what the
    // all-zero text reads as; only a text that writes back the same is good.
    if (uuid.toString(QUuid::WithoutBraces).compare(text, Qt::CaseInsensitive) != 0)
        return std::nullopt;
    return uuid;
}

std::optional<SettingsPreset> decodePreset(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const std::optional<QUuid> id = decodeUuid(object.value(QLatin1StringView("id")));
    const QJsonValue name = object.value(QLatin1StringView("name"));
    const QJsonValue values = object.value(QLatin1StringView("values"));
    if (!id || !name.isString() || !values.isObject())
        return std::nullopt;
    std::optional<SettingsValues> decodedValues = decodeValues(values.toObject());
    if (!decodedValues)
        return std::nullopt;
    return SettingsPreset{*id, name.toString(), std::move(*decodedValues)};
}

} // namespace

bool operator==(const SettingsValues& a, const SettingsValues& b)
{
    return everySettingField([&](const auto& setting) { return sameValue(a.*setting.field, b.*setting.field); });
}

bool operator==(const SettingsPreset& a, const SettingsPreset& b)
{
    return a.id == b.id && canonicallyEqual(a.name, b.name) && a.values == b.values;
}

QByteArray encodePresets(const std::vector<SettingsPreset>& presets)
{
    QJsonArray array;
    for (const SettingsPreset& preset : presets) {
        QJsonObject object;
        object.insert(QLatin1StringView("id"), preset.id.toString(QUuid::WithoutBraces).toUpper());
        object.insert(QLatin1StringView("name"), preset.name);
        object.insert(QLatin1StringView("values"), encodeValues(preset.values));
        array.append(object);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<std::vector<SettingsPreset>> decodePresets(const QByteArray& document)
{
    QJsonParseError error{};
    const QJsonDocument json = QJsonDocument::fromJson(document, &error);
    if (error.error != QJsonParseError::NoError || !json.isArray())
        return std::nullopt;
    const QJsonArray array = json.array();
    std::vector<SettingsPreset> presets;
    presets.reserve(static_cast<std::size_t>(array.size()));
    for (const QJsonValue& value : array) {
        std::optional<SettingsPreset> preset = decodePreset(value);
        if (!preset)
            return std::nullopt;
        presets.push_back(std::move(*preset));
    }
    return presets;
}

} // namespace vantro
