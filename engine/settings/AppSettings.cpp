#include "AppSettings.h"

#include "DefaultsStore.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <cstdlib>
#include <locale.h>
#include <memory>
#include <string>
#include <type_traits>

namespace vantro {

namespace {

namespace names = settingNames;

constexpr int64_t kQualityMin = 1;
constexpr int64_t kQualityMax = 100;
constexpr int64_t kDigitsMin = 0;
constexpr int64_t kDigitsMax = 5;

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

// The defaults of an empty store, except customFolderPath and resizeMode,
// which are worked out while loading.
const SettingsValues& defaultValues()
{
    static const SettingsValues values;
    return values;
}

template <typename Option>
Option loadOption(const DefaultsStore& store, const char* name, Option fallback)
{
    if (const std::optional<QString> text = store.string(settingsKey(name))) {
        if (const std::optional<Option> option = optionFromRawValue<Option>(*text))
            return *option;
    }
    return fallback;
}

// An absent key and a value with no integer reading both give the default; a
// number out of range gives the nearer bound.
int64_t loadClamped(const DefaultsStore& store, const char* name, int64_t fallback, int64_t low, int64_t high)
{
    return std::clamp(store.integer(settingsKey(name)).value_or(fallback), low, high);
}

bool loadFlag(const DefaultsStore& store, const char* name, bool fallback)
{
    return store.flag(settingsKey(name)).value_or(fallback);
}

QString loadText(const DefaultsStore& store, const char* name, const QString& fallback)
{
    return store.string(settingsKey(name)).value_or(fallback);
}

QString loadFolderPath(const DefaultsStore& store)
{
    const QString path = loadText(store, names::customFolderPath, QString());
    return path.isEmpty() ? AppSettings::defaultCustomFolderPath() : path;
}

std::vector<SettingsPreset> loadPresets(const DefaultsStore& store)
{
    const std::optional<QByteArray> document = store.data(QString::fromLatin1(kPresetsKey));
    if (!document)
        return {};
    return decodePresets(*document).value_or(std::vector<SettingsPreset>());
}

void persist(DefaultsStore& store, const QString& key, const QString& value)
{
    store.setString(key, value);
}

void persist(DefaultsStore& store, const QString& key, int64_t value)
{
    store.setInteger(key, value);
}

void persist(DefaultsStore& store, const QString& key, bool value)
{
    store.setFlag(key, value);
}

template <typename Option>
    requires std::is_enum_v<Option>
void persist(DefaultsStore& store, const QString& key, Option value)
{
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
    case '\0': return kPercentFallback;
    default: break;
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
    case AppSettings::TargetFormatOption::keepOriginal: return TargetFormat::keepOriginal;
    case AppSettings::TargetFormatOption::webp: return TargetFormat::webp;
    case AppSettings::TargetFormatOption::jpeg: return TargetFormat::jpeg;
    case AppSettings::TargetFormatOption::png: return TargetFormat::png;
    }
    return TargetFormat::keepOriginal;
}

} // namespace

QString separatorText(AppSettings::SequenceSeparatorOption option)
{
    switch (option) {
    case AppSettings::SequenceSeparatorOption::none: return QString();
    case AppSettings::SequenceSeparatorOption::space: return QStringLiteral(" ");
    case AppSettings::SequenceSeparatorOption::dash: return QStringLiteral("-");
    case AppSettings::SequenceSeparatorOption::underscore: return QStringLiteral("_");
    case AppSettings::SequenceSeparatorOption::comma: return QStringLiteral(",");
    }
    return QString();
}

QString settingsKey(const char* name)
{
    return QStringLiteral("settings.") + QLatin1StringView(name);
}

AppSettings::AppSettings(DefaultsStore& defaults, QObject* parent)
    : QObject(parent),
      m_defaults(defaults),
      m_mode(loadOption(defaults, names::mode, defaultValues().mode)),
      m_lossyQuality(loadClamped(defaults, names::lossyQuality, defaultValues().lossyQuality, kQualityMin, kQualityMax)),
      m_outputMode(loadOption(defaults, names::outputMode, defaultValues().outputMode)),
      m_backupOnInPlace(loadFlag(defaults, names::backupOnInPlace, defaultValues().backupOnInPlace)),
      m_targetFormat(loadOption(defaults, names::targetFormat, defaultValues().targetFormat)),
      m_originalFileHandling(loadOption(defaults, names::originalFileHandling, defaultValues().originalFileHandling)),
      m_renamingMode(loadOption(defaults, names::renamingMode, defaultValues().renamingMode)),
      m_renamingBaseName(loadText(defaults, names::renamingBaseName, defaultValues().renamingBaseName)),
      m_renamingPrefix(loadText(defaults, names::renamingPrefix, defaultValues().renamingPrefix)),
      m_renamingSuffix(loadText(defaults, names::renamingSuffix, defaultValues().renamingSuffix)),
      m_askForNameBeforeExport(
          loadFlag(defaults, names::askForNameBeforeExport, defaultValues().askForNameBeforeExport)),
      m_sequenceDigits(
          loadClamped(defaults, names::sequenceDigits, defaultValues().sequenceDigits, kDigitsMin, kDigitsMax)),
      m_sequenceSeparatorOption(
          loadOption(defaults, names::sequenceSeparatorOption, defaultValues().sequenceSeparatorOption)),
      m_customFolderPath(loadFolderPath(defaults)),
      m_resizeEnabled(loadFlag(defaults, names::resizeEnabled, defaultValues().resizeEnabled)),
      m_resizeMaxDimensionText(
          loadText(defaults, names::resizeMaxDimensionText, defaultValues().resizeMaxDimensionText)),
      m_resizeMaxShortEdgeText(
          loadText(defaults, names::resizeMaxShortEdgeText, defaultValues().resizeMaxShortEdgeText)),
      m_resizeMaxWidthText(loadText(defaults, names::resizeMaxWidthText, defaultValues().resizeMaxWidthText)),
      m_resizeMaxHeightText(loadText(defaults, names::resizeMaxHeightText, defaultValues().resizeMaxHeightText)),
      m_resizeWidthText(loadText(defaults, names::resizeWidthText, defaultValues().resizeWidthText)),
      m_resizeHeightText(loadText(defaults, names::resizeHeightText, defaultValues().resizeHeightText)),
      m_resizePercentageText(loadText(defaults, names::resizePercentageText, defaultValues().resizePercentageText)),
      // Needs resizeEnabled, loaded above: a store that only turned resizing
      // on resizes by the longest side.
      m_resizeMode(loadOption(defaults, names::resizeMode,
                              m_resizeEnabled ? ResizeModeOption::maxLongEdge : ResizeModeOption::original)),
      m_presets(loadPresets(defaults))
{
}

AppSettings::~AppSettings() = default;

template <typename T, typename Signal>
void AppSettings::assign(T& member, const T& value, const char* name, Signal signal)
{
    member = value;
    persist(m_defaults, settingsKey(name), member);
    Q_EMIT(this->*signal)(member);
    Q_EMIT changed();
}

void AppSettings::setMode(CompressionModeOption value)
{
    assign(m_mode, value, names::mode, &AppSettings::modeChanged);
}

void AppSettings::setLossyQuality(int64_t value)
{
    assign(m_lossyQuality, value, names::lossyQuality, &AppSettings::lossyQualityChanged);
}

void AppSettings::setOutputMode(OutputModeOption value)
{
    assign(m_outputMode, value, names::outputMode, &AppSettings::outputModeChanged);
}

void AppSettings::setBackupOnInPlace(bool value)
{
    assign(m_backupOnInPlace, value, names::backupOnInPlace, &AppSettings::backupOnInPlaceChanged);
}

void AppSettings::setTargetFormat(TargetFormatOption value)
{
    assign(m_targetFormat, value, names::targetFormat, &AppSettings::targetFormatChanged);
}

void AppSettings::setOriginalFileHandling(OriginalFileHandlingOption value)
{
    assign(m_originalFileHandling, value, names::originalFileHandling, &AppSettings::originalFileHandlingChanged);
}

void AppSettings::setRenamingMode(RenamingModeOption value)
{
    assign(m_renamingMode, value, names::renamingMode, &AppSettings::renamingModeChanged);
}

void AppSettings::setRenamingBaseName(const QString& value)
{
    assign(m_renamingBaseName, value, names::renamingBaseName, &AppSettings::renamingBaseNameChanged);
}

void AppSettings::setRenamingPrefix(const QString& value)
{
    assign(m_renamingPrefix, value, names::renamingPrefix, &AppSettings::renamingPrefixChanged);
}

void AppSettings::setRenamingSuffix(const QString& value)
{
    assign(m_renamingSuffix, value, names::renamingSuffix, &AppSettings::renamingSuffixChanged);
}

void AppSettings::setAskForNameBeforeExport(bool value)
{
    assign(m_askForNameBeforeExport, value, names::askForNameBeforeExport,
           &AppSettings::askForNameBeforeExportChanged);
}

void AppSettings::setSequenceDigits(int64_t value)
{
    assign(m_sequenceDigits, value, names::sequenceDigits, &AppSettings::sequenceDigitsChanged);
}

void AppSettings::setSequenceSeparatorOption(SequenceSeparatorOption value)
{
    assign(m_sequenceSeparatorOption, value, names::sequenceSeparatorOption,
           &AppSettings::sequenceSeparatorOptionChanged);
}

void AppSettings::setCustomFolderPath(const QString& value)
{
    assign(m_customFolderPath, value, names::customFolderPath, &AppSettings::customFolderPathChanged);
}

void AppSettings::setResizeEnabled(bool value)
{
    assign(m_resizeEnabled, value, names::resizeEnabled, &AppSettings::resizeEnabledChanged);
}

void AppSettings::setResizeMaxDimensionText(const QString& value)
{
    assign(m_resizeMaxDimensionText, value, names::resizeMaxDimensionText,
           &AppSettings::resizeMaxDimensionTextChanged);
}

void AppSettings::setResizeMaxShortEdgeText(const QString& value)
{
    assign(m_resizeMaxShortEdgeText, value, names::resizeMaxShortEdgeText,
           &AppSettings::resizeMaxShortEdgeTextChanged);
}

void AppSettings::setResizeMaxWidthText(const QString& value)
{
    assign(m_resizeMaxWidthText, value, names::resizeMaxWidthText, &AppSettings::resizeMaxWidthTextChanged);
}

void AppSettings::setResizeMaxHeightText(const QString& value)
{
    assign(m_resizeMaxHeightText, value, names::resizeMaxHeightText, &AppSettings::resizeMaxHeightTextChanged);
}

void AppSettings::setResizeWidthText(const QString& value)
{
    assign(m_resizeWidthText, value, names::resizeWidthText, &AppSettings::resizeWidthTextChanged);
}

void AppSettings::setResizeHeightText(const QString& value)
{
    assign(m_resizeHeightText, value, names::resizeHeightText, &AppSettings::resizeHeightTextChanged);
}

void AppSettings::setResizePercentageText(const QString& value)
{
    assign(m_resizePercentageText, value, names::resizePercentageText, &AppSettings::resizePercentageTextChanged);
}

void AppSettings::setResizeMode(ResizeModeOption value)
{
    assign(m_resizeMode, value, names::resizeMode, &AppSettings::resizeModeChanged);
}

QUrl AppSettings::customFolderURL() const
{
    if (m_customFolderPath.isEmpty() || m_customFolderPath.endsWith(u'/'))
        return QUrl::fromLocalFile(m_customFolderPath);
    return QUrl::fromLocalFile(m_customFolderPath + u'/');
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
    return resolvedPixelValue(m_resizeMaxDimensionText);
}

int64_t AppSettings::resolvedMaxShortEdge() const
{
    return resolvedPixelValue(m_resizeMaxShortEdgeText);
}

int64_t AppSettings::resolvedMaxWidth() const
{
    return resolvedPixelValue(m_resizeMaxWidthText);
}

int64_t AppSettings::resolvedMaxHeight() const
{
    return resolvedPixelValue(m_resizeMaxHeightText);
}

int64_t AppSettings::resolvedWidth() const
{
    return resolvedPixelValue(m_resizeWidthText);
}

int64_t AppSettings::resolvedHeight() const
{
    return resolvedPixelValue(m_resizeHeightText);
}

double AppSettings::resolvedPercentage() const
{
    return resolvedPercentageValue(m_resizePercentageText);
}

AppSettings::ResizeModeOption AppSettings::effectiveResizeMode() const
{
    if (!m_resizeEnabled)
        return ResizeModeOption::original;
    return m_resizeMode == ResizeModeOption::original ? ResizeModeOption::maxLongEdge : m_resizeMode;
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
    case ResizeModeOption::original: return QString();
    case ResizeModeOption::maxLongEdge: return m_resizeMaxDimensionText;
    case ResizeModeOption::maxShortEdge: return m_resizeMaxShortEdgeText;
    case ResizeModeOption::maxWidth: return m_resizeMaxWidthText;
    case ResizeModeOption::maxHeight: return m_resizeMaxHeightText;
    case ResizeModeOption::width: return m_resizeWidthText;
    case ResizeModeOption::height: return m_resizeHeightText;
    case ResizeModeOption::percentage: return m_resizePercentageText;
    }
    return QString();
}

void AppSettings::setResizeValueText(const QString& text)
{
    switch (effectiveResizeMode()) {
    case ResizeModeOption::original: return;
    case ResizeModeOption::maxLongEdge: setResizeMaxDimensionText(text); return;
    case ResizeModeOption::maxShortEdge: setResizeMaxShortEdgeText(text); return;
    case ResizeModeOption::maxWidth: setResizeMaxWidthText(text); return;
    case ResizeModeOption::maxHeight: setResizeMaxHeightText(text); return;
    case ResizeModeOption::width: setResizeWidthText(text); return;
    case ResizeModeOption::height: setResizeHeightText(text); return;
    case ResizeModeOption::percentage: setResizePercentageText(text); return;
    }
}

RenamingMode AppSettings::resolvedRenamingMode() const
{
    switch (m_renamingMode) {
    case RenamingModeOption::none: return RenamingMode::none();
    case RenamingModeOption::sequence:
        // Digits as stored: any count but 0, negative ones too, numbers the files.
        if (m_sequenceDigits != 0)
            return RenamingMode::sequence(m_renamingBaseName, kResolvedSequenceNumber);
        return RenamingMode::customBase(m_renamingBaseName);
    case RenamingModeOption::prefixSuffix: return RenamingMode::prefixSuffix(m_renamingPrefix, m_renamingSuffix);
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
    case ResizeModeOption::original: return ResizeMode::none();
    case ResizeModeOption::maxLongEdge: return ResizeMode::maxDimension(resolvedResizeMaxDimension());
    case ResizeModeOption::maxShortEdge: return ResizeMode::maxShortEdge(resolvedMaxShortEdge());
    case ResizeModeOption::maxWidth: return ResizeMode::maxWidth(resolvedMaxWidth());
    case ResizeModeOption::maxHeight: return ResizeMode::maxHeight(resolvedMaxHeight());
    case ResizeModeOption::width: return ResizeMode::exactWidth(resolvedWidth());
    case ResizeModeOption::height: return ResizeMode::exactHeight(resolvedHeight());
    case ResizeModeOption::percentage: return ResizeMode::percentage(resolvedPercentage());
    }
    return ResizeMode::none();
}

CompressionSettings AppSettings::currentCompressionSettings() const
{
    const CompressionMode mode = m_mode == CompressionModeOption::lossy ? CompressionMode::lossy(m_lossyQuality)
                                                                        : CompressionMode::lossless();
    const RenamingMode renaming = resolvedRenamingMode();
    const OutputMode outputMode = [&] {
        switch (m_outputMode) {
        case OutputModeOption::copyAlongside: return OutputMode::copyAlongside();
        case OutputModeOption::inPlace:
            return renaming.isEffectivelyActive() ? OutputMode::copyAlongside()
                                                  : OutputMode::inPlace(m_backupOnInPlace);
        case OutputModeOption::customFolder: return OutputMode::customFolder(m_customFolderPath);
        }
        return OutputMode::copyAlongside();
    }();
    const OriginalFileHandling originalFileHandling = m_originalFileHandling == OriginalFileHandlingOption::moveToTrash
        ? OriginalFileHandling::moveToTrash
        : OriginalFileHandling::keep;
    return CompressionSettings{mode,     outputMode,       engineTargetFormat(m_targetFormat),
                               originalFileHandling,        renaming,
                               resolvedResize(),            m_sequenceDigits,
                               separatorText(m_sequenceSeparatorOption)};
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
    SettingsValues v;
    v.mode = m_mode;
    v.lossyQuality = m_lossyQuality;
    v.outputMode = m_outputMode;
    v.backupOnInPlace = m_backupOnInPlace;
    v.targetFormat = m_targetFormat;
    v.originalFileHandling = m_originalFileHandling;
    v.renamingMode = m_renamingMode;
    v.renamingBaseName = m_renamingBaseName;
    v.renamingPrefix = m_renamingPrefix;
    v.renamingSuffix = m_renamingSuffix;
    v.sequenceDigits = m_sequenceDigits;
    v.sequenceSeparatorOption = m_sequenceSeparatorOption;
    v.customFolderPath = m_customFolderPath;
    v.resizeEnabled = m_resizeEnabled;
    v.resizeMode = m_resizeMode;
    v.resizeMaxDimensionText = m_resizeMaxDimensionText;
    v.resizeMaxShortEdgeText = m_resizeMaxShortEdgeText;
    v.resizeMaxWidthText = m_resizeMaxWidthText;
    v.resizeMaxHeightText = m_resizeMaxHeightText;
    v.resizeWidthText = m_resizeWidthText;
    v.resizeHeightText = m_resizeHeightText;
    v.resizePercentageText = m_resizePercentageText;
    v.askForNameBeforeExport = m_askForNameBeforeExport;
    return v;
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
    // the 23 changes below is free to change.
    const SettingsValues v = preset.values;
    setMode(v.mode);
    setLossyQuality(std::clamp(v.lossyQuality, kQualityMin, kQualityMax));
    setOutputMode(v.outputMode);
    setBackupOnInPlace(v.backupOnInPlace);
    setTargetFormat(v.targetFormat);
    setOriginalFileHandling(v.originalFileHandling);
    setRenamingMode(v.renamingMode);
    setRenamingBaseName(v.renamingBaseName);
    setRenamingPrefix(v.renamingPrefix);
    setRenamingSuffix(v.renamingSuffix);
    setSequenceDigits(std::clamp(v.sequenceDigits, kDigitsMin, kDigitsMax));
    setSequenceSeparatorOption(v.sequenceSeparatorOption);
    setCustomFolderPath(v.customFolderPath.isEmpty() ? defaultCustomFolderPath() : v.customFolderPath);
    setResizeEnabled(v.resizeEnabled);
    setResizeMode(v.resizeMode);
    setResizeMaxDimensionText(v.resizeMaxDimensionText);
    setResizeMaxShortEdgeText(v.resizeMaxShortEdgeText);
    setResizeMaxWidthText(v.resizeMaxWidthText);
    setResizeMaxHeightText(v.resizeMaxHeightText);
    setResizeWidthText(v.resizeWidthText);
    setResizeHeightText(v.resizeHeightText);
    setResizePercentageText(v.resizePercentageText);
    setAskForNameBeforeExport(v.askForNameBeforeExport);
}

void AppSettings::deletePreset(const QUuid& id)
{
    std::vector<SettingsPreset> presets = m_presets;
    std::erase_if(presets, [&](const SettingsPreset& preset) { return preset.id == id; });
    setPresets(presets);
}

} // namespace vantro
