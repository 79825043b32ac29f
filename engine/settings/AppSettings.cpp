#include "AppSettings.h"

#include "DefaultsStore.h"
#include "SettingField.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <cstdlib>
#include <locale.h>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

namespace vantro {

namespace {

constexpr int64_t kPixelMin = 1;
constexpr int64_t kPixelMax = 20000;
constexpr int64_t kPixelFallback = 2000;
constexpr double kPercentMin = 1.0;
constexpr double kPercentMax = 1000.0;
constexpr double kPercentFallback = 100.0;

// The sequence number a resolved sequence renaming carries; the job queue
// gives every job its own in its place.
constexpr int64_t kResolvedSequenceNumber = 1;

const char kPresetsKey[] = "settings.presets";

template <typename T>
std::optional<T> storedValue(const DefaultsStore& store, const QString& key)
{
    if constexpr (std::is_same_v<T, QString>)
        return store.string(key);
    else if constexpr (std::is_same_v<T, int64_t>)
        return store.integer(key);
    else if constexpr (std::is_same_v<T, bool>)
        return store.flag(key);
    else {
        // Option texts match exactly: no trimming, no case folding.
        const std::optional<QString> text = store.string(key);
        return text ? optionFromRawValue<T>(*text) : std::nullopt;
    }
}

// An absent key and a value of the wrong kind both give the fallback, not a
// reading of nothing (a quality of 1, a backup switched off).
template <typename T>
void load(const SettingField<T>& setting, const DefaultsStore& store, SettingsValues& values)
{
    T& value = values.*setting.field;
    if (std::optional<T> stored = storedValue<T>(store, settingsKey(setting.name)))
        value = std::move(*stored);
    else if (setting.fallback)
        value = setting.fallback(values);
    if (setting.repair)
        value = setting.repair(std::move(value));
}

SettingsValues loadValues(const DefaultsStore& store)
{
    SettingsValues values;
    forEachSettingField([&](const auto& setting) { load(setting, store, values); });
    return values;
}

std::vector<SettingsPreset> loadPresets(const DefaultsStore& store)
{
    const std::optional<QByteArray> document = store.data(QString::fromLatin1(kPresetsKey));
    if (!document)
        return {};
    return decodePresets(*document).value_or(std::vector<SettingsPreset>());
}

template <typename T>
void persist(DefaultsStore& store, const QString& key, const T& value)
{
    if constexpr (std::is_same_v<T, QString>)
        store.setString(key, value);
    else if constexpr (std::is_same_v<T, int64_t>)
        store.setInteger(key, value);
    else if constexpr (std::is_same_v<T, bool>)
        store.setFlag(key, value);
    else
        store.setString(key, rawValue(value));
}

// Unicode space separators and the tab; line breaks are not trimmed, so a
// value with one never parses.
bool isResizeTextSpace(QChar c)
{
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

QString trimmedResizeText(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isResizeTextSpace(text.at(begin)))
        ++begin;
    while (end > begin && isResizeTextSpace(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

// A whole signed decimal integer within the accepted pixel range, else the
// fallback. Values are capped while reading: anything beyond the range gives
// the fallback anyway, so a long run of digits cannot overflow.
int64_t resolvedPixelValue(const QString& text)
{
    const QString trimmed = trimmedResizeText(text);
    qsizetype i = 0;
    bool negative = false;
    if (i < trimmed.size() && (trimmed.at(i) == u'+' || trimmed.at(i) == u'-')) {
        negative = trimmed.at(i) == u'-';
        ++i;
    }
    if (i == trimmed.size())
        return kPixelFallback;
    int64_t value = 0;
    for (; i < trimmed.size(); ++i) {
        const char16_t c = trimmed.at(i).unicode();
        if (c < u'0' || c > u'9')
            return kPixelFallback;
        value = std::min<int64_t>(value * 10 + (c - u'0'), kPixelMax + 1);
    }
    if (negative)
        value = -value;
    return value >= kPixelMin && value <= kPixelMax ? value : kPixelFallback;
}

struct LocaleDeleter {
    void operator()(locale_t locale) const { freelocale(locale); }
};

// The C locale for number parsing: the application's own locale may use a
// decimal comma, which must never count as a decimal separator here.
locale_t cNumericLocale()
{
    static const std::unique_ptr<std::remove_pointer_t<locale_t>, LocaleDeleter> locale(
        newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(nullptr)));
    return locale.get();
}

// strtod's syntax in the C locale (hexadecimal, infinity and NaN included),
// the whole text and nothing else, within the accepted range.
double resolvedPercentageValue(const QString& text)
{
    const std::string bytes = trimmedResizeText(text).toStdString();
    if (bytes.empty())
        return kPercentFallback;
    switch (bytes.front()) {
    case ' ':
    case '\t':
    case '\n':
    case '\v':
    case '\f':
    case '\r':
    case '\0':
        return kPercentFallback;
    default:
        break;
    }
    const locale_t locale = cNumericLocale();
    if (!locale)
        return kPercentFallback;
    char* end = nullptr;
    const double value = strtod_l(bytes.c_str(), &end, locale);
    if (end != bytes.c_str() + bytes.size())
        return kPercentFallback;
    return value >= kPercentMin && value <= kPercentMax ? value : kPercentFallback;
}

TargetFormat engineTargetFormat(AppSettings::TargetFormatOption option)
{
    switch (option) {
    case AppSettings::TargetFormatOption::keepOriginal:
        return TargetFormat::keepOriginal;
    case AppSettings::TargetFormatOption::webp:
        return TargetFormat::webp;
    case AppSettings::TargetFormatOption::jpeg:
        return TargetFormat::jpeg;
    case AppSettings::TargetFormatOption::png:
        return TargetFormat::png;
    }
    return TargetFormat::keepOriginal;
}

} // namespace

QString separatorText(AppSettings::SequenceSeparatorOption option)
{
    switch (option) {
    case AppSettings::SequenceSeparatorOption::none:
        return QString();
    case AppSettings::SequenceSeparatorOption::space:
        return QStringLiteral(" ");
    case AppSettings::SequenceSeparatorOption::dash:
        return QStringLiteral("-");
    case AppSettings::SequenceSeparatorOption::underscore:
        return QStringLiteral("_");
    case AppSettings::SequenceSeparatorOption::comma:
        return QStringLiteral(",");
    }
    return QString();
}

QString settingsKey(const char* name)
{
    return QStringLiteral("settings.") + QLatin1StringView(name);
}

AppSettings::AppSettings(DefaultsStore& defaults, QObject* parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_values(std::make_unique<SettingsValues>(loadValues(defaults)))
    , m_presets(loadPresets(defaults))
{
}

AppSettings::~AppSettings() = default;

template <typename T>
void AppSettings::store(const SettingField<T>& setting, const T& value)
{
    T& member = (*m_values).*setting.field;
    member = value;
    persist(m_defaults, settingsKey(setting.name), member);
}

template <typename T>
void AppSettings::announce(const SettingField<T>& setting)
{
    Q_EMIT(this->*setting.signal)((*m_values).*setting.field);
}

template <typename T>
void AppSettings::assign(const SettingField<T>& setting, const T& value)
{
    store(setting, value);
    announce(setting);
    Q_EMIT changed();
}

AppSettings::CompressionModeOption AppSettings::mode() const
{
    return m_values->mode;
}

void AppSettings::setMode(CompressionModeOption value)
{
    assign(settingField<&SettingsValues::mode>(), value);
}

int64_t AppSettings::lossyQuality() const
{
    return m_values->lossyQuality;
}

void AppSettings::setLossyQuality(int64_t value)
{
    assign(settingField<&SettingsValues::lossyQuality>(), value);
}

AppSettings::OutputModeOption AppSettings::outputMode() const
{
    return m_values->outputMode;
}

void AppSettings::setOutputMode(OutputModeOption value)
{
    assign(settingField<&SettingsValues::outputMode>(), value);
}

bool AppSettings::backupOnInPlace() const
{
    return m_values->backupOnInPlace;
}

void AppSettings::setBackupOnInPlace(bool value)
{
    assign(settingField<&SettingsValues::backupOnInPlace>(), value);
}

AppSettings::TargetFormatOption AppSettings::targetFormat() const
{
    return m_values->targetFormat;
}

void AppSettings::setTargetFormat(TargetFormatOption value)
{
    assign(settingField<&SettingsValues::targetFormat>(), value);
}

AppSettings::OriginalFileHandlingOption AppSettings::originalFileHandling() const
{
    return m_values->originalFileHandling;
}

void AppSettings::setOriginalFileHandling(OriginalFileHandlingOption value)
{
    assign(settingField<&SettingsValues::originalFileHandling>(), value);
}

AppSettings::RenamingModeOption AppSettings::renamingMode() const
{
    return m_values->renamingMode;
}

void AppSettings::setRenamingMode(RenamingModeOption value)
{
    assign(settingField<&SettingsValues::renamingMode>(), value);
}

const QString& AppSettings::renamingBaseName() const
{
    return m_values->renamingBaseName;
}

void AppSettings::setRenamingBaseName(const QString& value)
{
    assign(settingField<&SettingsValues::renamingBaseName>(), value);
}

const QString& AppSettings::renamingPrefix() const
{
    return m_values->renamingPrefix;
}

void AppSettings::setRenamingPrefix(const QString& value)
{
    assign(settingField<&SettingsValues::renamingPrefix>(), value);
}

const QString& AppSettings::renamingSuffix() const
{
    return m_values->renamingSuffix;
}

void AppSettings::setRenamingSuffix(const QString& value)
{
    assign(settingField<&SettingsValues::renamingSuffix>(), value);
}

bool AppSettings::askForNameBeforeExport() const
{
    return m_values->askForNameBeforeExport;
}

void AppSettings::setAskForNameBeforeExport(bool value)
{
    assign(settingField<&SettingsValues::askForNameBeforeExport>(), value);
}

int64_t AppSettings::sequenceDigits() const
{
    return m_values->sequenceDigits;
}

void AppSettings::setSequenceDigits(int64_t value)
{
    assign(settingField<&SettingsValues::sequenceDigits>(), value);
}

AppSettings::SequenceSeparatorOption AppSettings::sequenceSeparatorOption() const
{
    return m_values->sequenceSeparatorOption;
}

void AppSettings::setSequenceSeparatorOption(SequenceSeparatorOption value)
{
    assign(settingField<&SettingsValues::sequenceSeparatorOption>(), value);
}

const QString& AppSettings::customFolderPath() const
{
    return m_values->customFolderPath;
}

void AppSettings::setCustomFolderPath(const QString& value)
{
    assign(settingField<&SettingsValues::customFolderPath>(), value);
}

bool AppSettings::resizeEnabled() const
{
    return m_values->resizeEnabled;
}

void AppSettings::setResizeEnabled(bool value)
{
    assign(settingField<&SettingsValues::resizeEnabled>(), value);
}

const QString& AppSettings::resizeMaxDimensionText() const
{
    return m_values->resizeMaxDimensionText;
}

void AppSettings::setResizeMaxDimensionText(const QString& value)
{
    assign(settingField<&SettingsValues::resizeMaxDimensionText>(), value);
}

const QString& AppSettings::resizeMaxShortEdgeText() const
{
    return m_values->resizeMaxShortEdgeText;
}

void AppSettings::setResizeMaxShortEdgeText(const QString& value)
{
    assign(settingField<&SettingsValues::resizeMaxShortEdgeText>(), value);
}

const QString& AppSettings::resizeMaxWidthText() const
{
    return m_values->resizeMaxWidthText;
}

void AppSettings::setResizeMaxWidthText(const QString& value)
{
    assign(settingField<&SettingsValues::resizeMaxWidthText>(), value);
}

const QString& AppSettings::resizeMaxHeightText() const
{
    return m_values->resizeMaxHeightText;
}

void AppSettings::setResizeMaxHeightText(const QString& value)
{
    assign(settingField<&SettingsValues::resizeMaxHeightText>(), value);
}

const QString& AppSettings::resizeWidthText() const
{
    return m_values->resizeWidthText;
}

void AppSettings::setResizeWidthText(const QString& value)
{
    assign(settingField<&SettingsValues::resizeWidthText>(), value);
}

const QString& AppSettings::resizeHeightText() const
{
    return m_values->resizeHeightText;
}

void AppSettings::setResizeHeightText(const QString& value)
{
    assign(settingField<&SettingsValues::resizeHeightText>(), value);
}

const QString& AppSettings::resizePercentageText() const
{
    return m_values->resizePercentageText;
}

void AppSettings::setResizePercentageText(const QString& value)
{
    assign(settingField<&SettingsValues::resizePercentageText>(), value);
}

AppSettings::ResizeModeOption AppSettings::resizeMode() const
{
    return m_values->resizeMode;
}

void AppSettings::setResizeMode(ResizeModeOption value)
{
    assign(settingField<&SettingsValues::resizeMode>(), value);
}

QUrl AppSettings::customFolderURL() const
{
    if (m_values->customFolderPath.isEmpty() || m_values->customFolderPath.endsWith(u'/'))
        return QUrl::fromLocalFile(m_values->customFolderPath);
    return QUrl::fromLocalFile(m_values->customFolderPath + u'/');
}

QString AppSettings::defaultCustomFolderPath()
{
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (!desktop.isEmpty() && QFileInfo(desktop).isDir())
        return desktop;
    return QDir::homePath();
}

// --- Resolution ---

int64_t AppSettings::resolvedResizeMaxDimension() const
{
    return resolvedPixelValue(m_values->resizeMaxDimensionText);
}

int64_t AppSettings::resolvedMaxShortEdge() const
{
    return resolvedPixelValue(m_values->resizeMaxShortEdgeText);
}

int64_t AppSettings::resolvedMaxWidth() const
{
    return resolvedPixelValue(m_values->resizeMaxWidthText);
}

int64_t AppSettings::resolvedMaxHeight() const
{
    return resolvedPixelValue(m_values->resizeMaxHeightText);
}

int64_t AppSettings::resolvedWidth() const
{
    return resolvedPixelValue(m_values->resizeWidthText);
}

int64_t AppSettings::resolvedHeight() const
{
    return resolvedPixelValue(m_values->resizeHeightText);
}

double AppSettings::resolvedPercentage() const
{
    return resolvedPercentageValue(m_values->resizePercentageText);
}

AppSettings::ResizeModeOption AppSettings::effectiveResizeMode() const
{
    if (!m_values->resizeEnabled)
        return ResizeModeOption::original;
    return m_values->resizeMode == ResizeModeOption::original ? ResizeModeOption::maxLongEdge : m_values->resizeMode;
}

void AppSettings::selectResizeMode(ResizeModeOption option)
{
    if (option == ResizeModeOption::original) {
        setResizeEnabled(false);
        return;
    }
    setResizeMode(option);
    setResizeEnabled(true);
}

QString AppSettings::resizeValueText() const
{
    switch (effectiveResizeMode()) {
    case ResizeModeOption::original:
        return QString();
    case ResizeModeOption::maxLongEdge:
        return m_values->resizeMaxDimensionText;
    case ResizeModeOption::maxShortEdge:
        return m_values->resizeMaxShortEdgeText;
    case ResizeModeOption::maxWidth:
        return m_values->resizeMaxWidthText;
    case ResizeModeOption::maxHeight:
        return m_values->resizeMaxHeightText;
    case ResizeModeOption::width:
        return m_values->resizeWidthText;
    case ResizeModeOption::height:
        return m_values->resizeHeightText;
    case ResizeModeOption::percentage:
        return m_values->resizePercentageText;
    }
    return QString();
}

void AppSettings::setResizeValueText(const QString& text)
{
    switch (effectiveResizeMode()) {
    case ResizeModeOption::original:
        return;
    case ResizeModeOption::maxLongEdge:
        setResizeMaxDimensionText(text);
        return;
    case ResizeModeOption::maxShortEdge:
        setResizeMaxShortEdgeText(text);
        return;
    case ResizeModeOption::maxWidth:
        setResizeMaxWidthText(text);
        return;
    case ResizeModeOption::maxHeight:
        setResizeMaxHeightText(text);
        return;
    case ResizeModeOption::width:
        setResizeWidthText(text);
        return;
    case ResizeModeOption::height:
        setResizeHeightText(text);
        return;
    case ResizeModeOption::percentage:
        setResizePercentageText(text);
        return;
    }
}

RenamingMode AppSettings::resolvedRenamingMode() const
{
    switch (m_values->renamingMode) {
    case RenamingModeOption::none:
        return RenamingMode::none();
    case RenamingModeOption::sequence:
        // Digits as stored: any count but 0, negative ones too, numbers the files.
        if (m_values->sequenceDigits != 0)
            return RenamingMode::sequence(m_values->renamingBaseName, kResolvedSequenceNumber);
        return RenamingMode::customBase(m_values->renamingBaseName);
    case RenamingModeOption::prefixSuffix:
        return RenamingMode::prefixSuffix(m_values->renamingPrefix, m_values->renamingSuffix);
    }
    return RenamingMode::none();
}

bool AppSettings::renamingIsEffectivelyActive() const
{
    return resolvedRenamingMode().isEffectivelyActive();
}

ResizeMode AppSettings::resolvedResize() const
{
    switch (effectiveResizeMode()) {
    case ResizeModeOption::original:
        return ResizeMode::none();
    case ResizeModeOption::maxLongEdge:
        return ResizeMode::maxDimension(resolvedResizeMaxDimension());
    case ResizeModeOption::maxShortEdge:
        return ResizeMode::maxShortEdge(resolvedMaxShortEdge());
    case ResizeModeOption::maxWidth:
        return ResizeMode::maxWidth(resolvedMaxWidth());
    case ResizeModeOption::maxHeight:
        return ResizeMode::maxHeight(resolvedMaxHeight());
    case ResizeModeOption::width:
        return ResizeMode::exactWidth(resolvedWidth());
    case ResizeModeOption::height:
        return ResizeMode::exactHeight(resolvedHeight());
    case ResizeModeOption::percentage:
        return ResizeMode::percentage(resolvedPercentage());
    }
    return ResizeMode::none();
}

CompressionSettings AppSettings::currentCompressionSettings() const
{
    const CompressionMode mode = m_values->mode == CompressionModeOption::lossy
        ? CompressionMode::lossy(m_values->lossyQuality)
        : CompressionMode::lossless();
    const RenamingMode renaming = resolvedRenamingMode();
    const OutputMode outputMode = [&] {
        switch (m_values->outputMode) {
        case OutputModeOption::copyAlongside:
            return OutputMode::copyAlongside();
        case OutputModeOption::inPlace:
            return renaming.isEffectivelyActive() ? OutputMode::copyAlongside()
                                                  : OutputMode::inPlace(m_values->backupOnInPlace);
        case OutputModeOption::customFolder:
            return OutputMode::customFolder(m_values->customFolderPath);
        }
        return OutputMode::copyAlongside();
    }();
    const OriginalFileHandling originalFileHandling
        = m_values->originalFileHandling == OriginalFileHandlingOption::moveToTrash ? OriginalFileHandling::moveToTrash
                                                                                    : OriginalFileHandling::keep;
    return CompressionSettings{mode,
                               outputMode,
                               engineTargetFormat(m_values->targetFormat),
                               originalFileHandling,
                               renaming,
                               resolvedResize(),
                               m_values->sequenceDigits,
                               separatorText(m_values->sequenceSeparatorOption)};
}

// --- Presets ---

void AppSettings::setPresets(const std::vector<SettingsPreset>& presets)
{
    m_presets = presets;
    m_defaults.setData(QString::fromLatin1(kPresetsKey), encodePresets(m_presets));
    Q_EMIT presetsChanged();
    Q_EMIT changed();
}

SettingsValues AppSettings::currentValues() const
{
    return *m_values;
}

std::optional<SettingsPreset> AppSettings::activePreset() const
{
    const SettingsValues current = currentValues();
    const auto match = std::find_if(m_presets.begin(), m_presets.end(),
                                    [&](const SettingsPreset& preset) { return preset.values == current; });
    if (match == m_presets.end())
        return std::nullopt;
    return *match;
}

std::optional<SettingsPreset> AppSettings::savePreset(const QString& name)
{
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    std::vector<SettingsPreset> presets = m_presets;
    const auto match = std::find_if(presets.begin(), presets.end(), [&](const SettingsPreset& preset) {
        return preset.name.compare(trimmed, Qt::CaseInsensitive) == 0;
    });
    SettingsPreset saved;
    if (match != presets.end()) {
        match->values = currentValues();
        saved = *match;
    } else {
        saved = SettingsPreset{QUuid::createUuid(), trimmed, currentValues()};
        presets.push_back(saved);
    }
    setPresets(presets);
    return saved;
}

void AppSettings::applyPreset(const SettingsPreset& preset)
{
    // A copy: the preset may live in the list, which a slot reacting to one of
    // the changes below is free to change.
    const SettingsValues values = preset.values;
    // Every value is in place before anyone hears of one, so whatever reacts
    // sees the preset whole, never a mix of old and new settings.
    forEachSettingField([&](const auto& setting) {
        auto value = values.*setting.field;
        if (setting.repair)
            value = setting.repair(std::move(value));
        store(setting, value);
    });
    forEachSettingField([&](const auto& setting) { announce(setting); });
    Q_EMIT changed();
}

void AppSettings::deletePreset(const QUuid& id)
{
    std::vector<SettingsPreset> presets = m_presets;
    std::erase_if(presets, [&](const SettingsPreset& preset) { return preset.id == id; });
    setPresets(presets);
}

} // namespace vantro
