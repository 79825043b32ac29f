#include "SettingsPreset.h"

#include "CompressionError.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

namespace vantro {

namespace {

namespace names = settingNames;

QLatin1StringView member(const char* name)
{
    return QLatin1StringView(name);
}

QJsonObject encodeValues(const SettingsValues& v)
{
    QJsonObject object;
    object.insert(member(names::mode), rawValue(v.mode));
    object.insert(member(names::lossyQuality), static_cast<qint64>(v.lossyQuality));
    object.insert(member(names::outputMode), rawValue(v.outputMode));
    object.insert(member(names::backupOnInPlace), v.backupOnInPlace);
    object.insert(member(names::targetFormat), rawValue(v.targetFormat));
    object.insert(member(names::originalFileHandling), rawValue(v.originalFileHandling));
    object.insert(member(names::renamingMode), rawValue(v.renamingMode));
    object.insert(member(names::renamingBaseName), v.renamingBaseName);
    object.insert(member(names::renamingPrefix), v.renamingPrefix);
    object.insert(member(names::renamingSuffix), v.renamingSuffix);
    object.insert(member(names::sequenceDigits), static_cast<qint64>(v.sequenceDigits));
    object.insert(member(names::sequenceSeparatorOption), rawValue(v.sequenceSeparatorOption));
    object.insert(member(names::customFolderPath), v.customFolderPath);
    object.insert(member(names::resizeEnabled), v.resizeEnabled);
    object.insert(member(names::resizeMode), rawValue(v.resizeMode));
    object.insert(member(names::resizeMaxDimensionText), v.resizeMaxDimensionText);
    object.insert(member(names::resizeMaxShortEdgeText), v.resizeMaxShortEdgeText);
    object.insert(member(names::resizeMaxWidthText), v.resizeMaxWidthText);
    object.insert(member(names::resizeMaxHeightText), v.resizeMaxHeightText);
    object.insert(member(names::resizeWidthText), v.resizeWidthText);
    object.insert(member(names::resizeHeightText), v.resizeHeightText);
    object.insert(member(names::resizePercentageText), v.resizePercentageText);
    object.insert(member(names::askForNameBeforeExport), v.askForNameBeforeExport);
    return object;
}

// Reads typed members of one JSON object; the first missing, null or
// mistyped member marks the whole read failed.
class MemberReader {
public:
    explicit MemberReader(const QJsonObject& object) : m_object(object) {}

    bool failed() const { return m_failed; }

    QString text(const char* name)
    {
        const QJsonValue value = m_object.value(member(name));
        if (!value.isString())
            return fail<QString>();
        return value.toString();
    }

    int64_t integer(const char* name)
    {
        const QJsonValue value = m_object.value(member(name));
        if (!value.isDouble())
            return fail<int64_t>();
        // A number that is no whole qint64 gives back the default, so two
        // different defaults tell it apart from a real value.
        const qint64 reading = value.toInteger(0);
        if (reading != value.toInteger(1))
            return fail<int64_t>();
        return reading;
    }

    bool flag(const char* name)
    {
        const QJsonValue value = m_object.value(member(name));
        if (!value.isBool())
            return fail<bool>();
        return value.toBool();
    }

    // False when absent or null.
    bool optionalFlag(const char* name)
    {
        const QJsonValue value = m_object.value(member(name));
        if (value.isUndefined() || value.isNull())
            return false;
        return flag(name);
    }

    template <typename Option>
    Option option(const char* name)
    {
        const QJsonValue value = m_object.value(member(name));
        if (!value.isString())
            return fail<Option>();
        const std::optional<Option> parsed = optionFromRawValue<Option>(value.toString());
        if (!parsed)
            return fail<Option>();
        return *parsed;
    }

private:
    template <typename T>
    T fail()
    {
        m_failed = true;
        return T{};
    }

    const QJsonObject& m_object;
    bool m_failed = false;
};

std::optional<SettingsValues> decodeValues(const QJsonObject& object)
{
    MemberReader read(object);
    SettingsValues v;
    v.mode = read.option<AppSettings::CompressionModeOption>(names::mode);
    v.lossyQuality = read.integer(names::lossyQuality);
    v.outputMode = read.option<AppSettings::OutputModeOption>(names::outputMode);
    v.backupOnInPlace = read.flag(names::backupOnInPlace);
    v.targetFormat = read.option<AppSettings::TargetFormatOption>(names::targetFormat);
    v.originalFileHandling = read.option<AppSettings::OriginalFileHandlingOption>(names::originalFileHandling);
    v.renamingMode = read.option<AppSettings::RenamingModeOption>(names::renamingMode);
    v.renamingBaseName = read.text(names::renamingBaseName);
    v.renamingPrefix = read.text(names::renamingPrefix);
    v.renamingSuffix = read.text(names::renamingSuffix);
    v.sequenceDigits = read.integer(names::sequenceDigits);
    v.sequenceSeparatorOption = read.option<AppSettings::SequenceSeparatorOption>(names::sequenceSeparatorOption);
    v.customFolderPath = read.text(names::customFolderPath);
    v.resizeEnabled = read.flag(names::resizeEnabled);
    v.resizeMode = read.option<AppSettings::ResizeModeOption>(names::resizeMode);
    v.resizeMaxDimensionText = read.text(names::resizeMaxDimensionText);
    v.resizeMaxShortEdgeText = read.text(names::resizeMaxShortEdgeText);
    v.resizeMaxWidthText = read.text(names::resizeMaxWidthText);
    v.resizeMaxHeightText = read.text(names::resizeMaxHeightText);
    v.resizeWidthText = read.text(names::resizeWidthText);
    v.resizeHeightText = read.text(names::resizeHeightText);
    v.resizePercentageText = read.text(names::resizePercentageText);
    v.askForNameBeforeExport = read.optionalFlag(names::askForNameBeforeExport);
    if (read.failed())
        return std::nullopt;
    return v;
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
    return a.mode == b.mode && a.lossyQuality == b.lossyQuality && a.outputMode == b.outputMode
        && a.backupOnInPlace == b.backupOnInPlace && a.targetFormat == b.targetFormat
        && a.originalFileHandling == b.originalFileHandling && a.renamingMode == b.renamingMode
        && canonicallyEqual(a.renamingBaseName, b.renamingBaseName)
        && canonicallyEqual(a.renamingPrefix, b.renamingPrefix)
        && canonicallyEqual(a.renamingSuffix, b.renamingSuffix) && a.sequenceDigits == b.sequenceDigits
        && a.sequenceSeparatorOption == b.sequenceSeparatorOption
        && canonicallyEqual(a.customFolderPath, b.customFolderPath) && a.resizeEnabled == b.resizeEnabled
        && a.resizeMode == b.resizeMode && canonicallyEqual(a.resizeMaxDimensionText, b.resizeMaxDimensionText)
        && canonicallyEqual(a.resizeMaxShortEdgeText, b.resizeMaxShortEdgeText)
        && canonicallyEqual(a.resizeMaxWidthText, b.resizeMaxWidthText)
        && canonicallyEqual(a.resizeMaxHeightText, b.resizeMaxHeightText)
        && canonicallyEqual(a.resizeWidthText, b.resizeWidthText)
        && canonicallyEqual(a.resizeHeightText, b.resizeHeightText)
        && canonicallyEqual(a.resizePercentageText, b.resizePercentageText)
        && a.askForNameBeforeExport == b.askForNameBeforeExport;
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
