#include "TestImages.h"

#include "AppSettings.h"
#include "DefaultsStore.h"
#include "SettingField.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaMethod>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

using namespace vantro;
using vantro::test::EnvironmentOverride;
using vantro::test::writeFile;

using Mode = AppSettings::CompressionModeOption;
using Output = AppSettings::OutputModeOption;
using Format = AppSettings::TargetFormatOption;
using Original = AppSettings::OriginalFileHandlingOption;
using Renaming = AppSettings::RenamingModeOption;
using Separator = AppSettings::SequenceSeparatorOption;
using Resize = AppSettings::ResizeModeOption;

namespace {

// The signals of the object, by their own names, in emission order.
class SignalLog {
public:
    explicit SignalLog(AppSettings& settings)
    {
        forEachSettingField([&](const auto& setting) { track(settings, setting.signal); });
        track(settings, &AppSettings::presetsChanged);
        track(settings, &AppSettings::changed);
    }

    std::vector<std::string> take() { return std::exchange(m_names, {}); }

private:
    template <typename Signal>
    void track(AppSettings& settings, Signal signal)
    {
        const std::string name = QMetaMethod::fromSignal(signal).name().toStdString();
        QObject::connect(&settings, signal, &settings, [this, name](auto&&...) { m_names.push_back(name); });
    }

    std::vector<std::string> m_names;
};

// One setting assigned through its own setter, away from its default and
// with texts an INI file must quote or escape, and what the store then holds
// (texts and flags: the value itself).
struct Row {
    const char* name;
    std::function<bool(AppSettings&)> assign; // whether the getter reads it back
    QVariant written;
};

template <typename Arg, typename Get, typename T = std::remove_cvref_t<Arg>>
Row row(const char* name, void (AppSettings::*set)(Arg), Get (AppSettings::*get)() const, std::type_identity_t<T> value,
        QVariant written = {})
{
    if constexpr (std::is_same_v<T, QString> || std::is_same_v<T, bool>)
        written = QVariant(value);
    return {name,
            [=](AppSettings& s) {
                (s.*set)(value);
                return (s.*get)() == value;
            },
            written};
}

const std::vector<Row>& rows()
{
    using S = AppSettings;
    static const std::vector<Row> all{
        row("mode", &S::setMode, &S::mode, Mode::lossy, QString("lossy")),
        row("lossyQuality", &S::setLossyQuality, &S::lossyQuality, 55, qlonglong{55}),
        row("outputMode", &S::setOutputMode, &S::outputMode, Output::inPlace, QString("inPlace")),
        row("backupOnInPlace", &S::setBackupOnInPlace, &S::backupOnInPlace, false),
        row("targetFormat", &S::setTargetFormat, &S::targetFormat, Format::jpeg, QString("jpeg")),
        row("originalFileHandling", &S::setOriginalFileHandling, &S::originalFileHandling, Original::moveToTrash,
            QString("moveToTrash")),
        row("renamingMode", &S::setRenamingMode, &S::renamingMode, Renaming::sequence, QString("sequence")),
        row("renamingBaseName", &S::setRenamingBaseName, &S::renamingBaseName, QString::fromUtf8("dovolená, léto")),
        row("renamingPrefix", &S::setRenamingPrefix, &S::renamingPrefix, "@pre"),
        row("renamingSuffix", &S::setRenamingSuffix, &S::renamingSuffix, "  ; # = \"q\" \\ "),
        row("sequenceDigits", &S::setSequenceDigits, &S::sequenceDigits, 4, qlonglong{4}),
        row("sequenceSeparatorOption", &S::setSequenceSeparatorOption, &S::sequenceSeparatorOption,
            Separator::underscore, QString("underscore")),
        row("customFolderPath", &S::setCustomFolderPath, &S::customFolderPath, "/data/a, b/[export] \"x\""),
        row("resizeEnabled", &S::setResizeEnabled, &S::resizeEnabled, true),
        row("resizeMode", &S::setResizeMode, &S::resizeMode, Resize::percentage, QString("percentage")),
        row("resizeMaxDimensionText", &S::setResizeMaxDimensionText, &S::resizeMaxDimensionText, " 1500 "),
        row("resizeMaxShortEdgeText", &S::setResizeMaxShortEdgeText, &S::resizeMaxShortEdgeText, "true"),
        row("resizeMaxWidthText", &S::setResizeMaxWidthText, &S::resizeMaxWidthText, "800\n"),
        row("resizeMaxHeightText", &S::setResizeMaxHeightText, &S::resizeMaxHeightText, ""),
        row("resizeWidthText", &S::setResizeWidthText, &S::resizeWidthText, "12"),
        row("resizeHeightText", &S::setResizeHeightText, &S::resizeHeightText, "1, 2"),
        row("resizePercentageText", &S::setResizePercentageText, &S::resizePercentageText, "50.5"),
        row("askForNameBeforeExport", &S::setAskForNameBeforeExport, &S::askForNameBeforeExport, true),
    };
    return all;
}

// Stored values with no reading of type T, and JSON values of the wrong type for it.
template <typename T>
std::pair<std::vector<QVariant>, std::vector<QJsonValue>> wrongKinds()
{
    if constexpr (std::is_same_v<T, QString>)
        return {{QByteArray("x"), QStringList{"a", "b"}}, {640, true}};
    else if constexpr (std::is_same_v<T, int64_t>)
        return {{QString("abc"), true, QByteArray("80")}, {"80", 80.5, 1e30, false}};
    else if constexpr (std::is_same_v<T, bool>)
        return {{QString("perhaps"), QByteArray("true")}, {1, "true"}};
    else {
        // Option texts match exactly: letter case and blanks count.
        const QString last = rawValue(allCases<T>().back());
        return {{last.toUpper(), " " + last, qlonglong{1}, last.toUtf8()}, {last.toUpper(), 1}};
    }
}

// A one-preset document with one member of "values" replaced (Undefined removes it).
QByteArray presetDocument(const SettingsValues& values, const char* name, const QJsonValue& member)
{
    QJsonArray array = QJsonDocument::fromJson(encodePresets({SettingsPreset{QUuid(), "P", values}})).array();
    QJsonObject preset = array[0].toObject();
    QJsonObject members = preset["values"].toObject();
    members.insert(QLatin1StringView(name), member);
    preset["values"] = members;
    array[0] = preset;
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

void PrintTo(const Row& row, std::ostream* out)
{
    *out << row.name;
}

class SettingTest : public testing::TestWithParam<Row> {};

} // namespace

TEST(AppSettingsTest, EmptyStoreLoadsDefaultsAndWritesNothing)
{
    MemoryDefaultsStore store;
    const AppSettings settings(store);
    const SettingsValues expected{Mode::lossless,
                                  80,
                                  Output::copyAlongside,
                                  true,
                                  Format::keepOriginal,
                                  Original::keep,
                                  Renaming::none,
                                  "",
                                  "",
                                  "",
                                  2,
                                  Separator::dash,
                                  AppSettings::defaultCustomFolderPath(),
                                  false,
                                  Resize::original,
                                  "2000",
                                  "2000",
                                  "2000",
                                  "2000",
                                  "2000",
                                  "2000",
                                  "100",
                                  false};
    EXPECT_EQ(settings.currentValues(), expected);
    EXPECT_FALSE(settings.customFolderPath().isEmpty());
    EXPECT_TRUE(settings.presets().empty());
    settings.currentCompressionSettings(); // builds without writing
    EXPECT_TRUE(store.keys().isEmpty()) << store.keys().join(", ").toStdString();
    EXPECT_EQ(settingFields.size(), rows().size());
}

TEST_P(SettingTest, IsStoredUnderItsKeySignalledReloadedAndCarriedByPresets)
{
    const Row& r = GetParam();
    const QString key = settingsKey(r.name);
    MemoryDefaultsStore empty;
    const SettingsValues defaults = AppSettings(empty).currentValues();
    MemoryDefaultsStore store;
    AppSettings settings(store);
    SignalLog log(settings);

    EXPECT_TRUE(r.assign(settings));
    EXPECT_EQ(log.take(), (std::vector<std::string>{std::string(r.name) + "Changed", "changed"}));
    EXPECT_EQ(store.keys(), QStringList{QStringLiteral("settings.") + r.name});
    EXPECT_EQ(store.rawValue(key).typeId(), r.written.typeId());
    EXPECT_EQ(store.rawValue(key), r.written);
    // The same value again still signals and writes.
    store.setString(key, "overwritten");
    r.assign(settings);
    EXPECT_EQ(log.take().size(), 2u);
    EXPECT_EQ(store.rawValue(key), r.written);

    const SettingsValues values = settings.currentValues();
    EXPECT_FALSE(values == defaults);
    SettingsValues reloaded = values;
    // Resizing turned on without a stored option resizes by the longest side.
    if (std::strcmp(r.name, "resizeEnabled") == 0)
        reloaded.resizeMode = Resize::maxLongEdge;
    EXPECT_EQ(AppSettings(store).currentValues(), reloaded);
    const QByteArray document = encodePresets({SettingsPreset{QUuid(), "P", values}});
    EXPECT_EQ(QJsonDocument::fromJson(document).array().at(0)["values"][QLatin1StringView(r.name)].toVariant(),
              r.written);
    EXPECT_EQ(decodePresets(document).value().at(0).values, values);

    int entries = 0;
    forEachSettingField([&](const auto& setting) {
        if (std::strcmp(setting.name, r.name) != 0)
            return;
        ++entries;
        const auto [stored, json] = wrongKinds<std::remove_cvref_t<decltype(values.*setting.field)>>();
        for (const QVariant& wrong : stored) {
            MemoryDefaultsStore edited;
            edited.setRawValue(key, wrong);
            EXPECT_EQ(AppSettings(edited).currentValues(), defaults) << wrong.toString().toStdString();
        }
        for (const QJsonValue& wrong : json)
            EXPECT_FALSE(decodePresets(presetDocument(values, r.name, wrong)).has_value());
    });
    EXPECT_EQ(entries, 1);
    // Only the flag that joined the format later may be missing or null.
    for (const QJsonValue& missing : {QJsonValue(QJsonValue::Undefined), QJsonValue(QJsonValue::Null)}) {
        const auto decoded = decodePresets(presetDocument(values, r.name, missing));
        ASSERT_EQ(decoded.has_value(), std::strcmp(r.name, "askForNameBeforeExport") == 0);
        EXPECT_TRUE(!decoded || decoded->at(0).values == defaults);
    }
}

INSTANTIATE_TEST_SUITE_P(EverySetting, SettingTest, testing::ValuesIn(rows()),
                         [](const testing::TestParamInfo<Row>& row) { return std::string(row.param.name); });

TEST(AppSettingsTest, APresetIsOneChangeThatEverySlotSeesWhole)
{
    MemoryDefaultsStore elsewhere;
    AppSettings source(elsewhere);
    for (const Row& r : rows())
        r.assign(source);
    const SettingsValues values = source.currentValues();

    MemoryDefaultsStore store;
    AppSettings settings(store);
    settings.setRenamingBaseName("a");
    SignalLog log(settings);
    std::vector<std::string> sawAMix;
    const auto check = [&](const std::string& name) {
        return [&settings, &values, &sawAMix, name] {
            if (!(settings.currentValues() == values))
                sawAMix.push_back(name);
        };
    };
    forEachSettingField(
        [&](const auto& setting) { QObject::connect(&settings, setting.signal, &settings, check(setting.name)); });
    QObject::connect(&settings, &AppSettings::changed, &settings, check("changed"));

    settings.applyPreset(SettingsPreset{QUuid::createUuid(), "P", values});
    EXPECT_EQ(sawAMix, std::vector<std::string>());
    std::vector<std::string> expected;
    forEachSettingField([&](const auto& setting) { expected.push_back(std::string(setting.name) + "Changed"); });
    expected.push_back("changed");
    EXPECT_EQ(log.take(), expected);
    // Each setting is written under its own key, as its setter writes it.
    for (const Row& r : rows())
        EXPECT_EQ(store.rawValue(settingsKey(r.name)), r.written) << r.name;
    EXPECT_EQ(AppSettings(store).currentValues(), values);
}

TEST(AppSettingsTest, LoadClampsNumbersAndLeavesTheStoreAlone)
{
    // Stored value, quality, digits; texts as INI files keep them, large ones saturating.
    const std::vector<std::tuple<QVariant, int64_t, int64_t>> cases{
        {qlonglong{0}, 1, 0},
        {qlonglong{9}, 9, 5},
        {qlonglong{150}, 100, 5},
        {std::numeric_limits<qlonglong>::min(), 1, 0},
        {std::numeric_limits<qulonglong>::max(), 100, 5},
        {42.9, 42, 5},
        {QString(" 3 "), 3, 3},
        {QString("-99999999999999999999999999"), 1, 0},
    };
    for (const auto& [stored, quality, digits] : cases) {
        MemoryDefaultsStore store;
        store.setRawValue(settingsKey("lossyQuality"), stored);
        store.setRawValue(settingsKey("sequenceDigits"), stored);
        const AppSettings settings(store);
        EXPECT_EQ(settings.lossyQuality(), quality) << stored.toString().toStdString();
        EXPECT_EQ(settings.sequenceDigits(), digits) << stored.toString().toStdString();
        EXPECT_EQ(store.rawValue(settingsKey("lossyQuality")), stored);
        EXPECT_EQ(store.keys().size(), 2);
    }
}

TEST(AppSettingsTest, ResizeModeFallsBackOnTheLoadedFlag)
{
    // Stored flag and option; loaded option and the effective one.
    const std::vector<std::tuple<bool, QVariant, Resize, Resize>> cases{
        {true, QVariant(), Resize::maxLongEdge, Resize::maxLongEdge},
        {false, QVariant(), Resize::original, Resize::original},
        {true, QString("bogus"), Resize::maxLongEdge, Resize::maxLongEdge},
        {false, QString("percentage"), Resize::percentage, Resize::original},
        {true, QString("original"), Resize::original, Resize::maxLongEdge},
    };
    for (const auto& [enabled, stored, loaded, effective] : cases) {
        MemoryDefaultsStore store;
        store.setFlag(settingsKey("resizeEnabled"), enabled);
        if (stored.isValid())
            store.setRawValue(settingsKey("resizeMode"), stored);
        const AppSettings settings(store);
        EXPECT_EQ(settings.resizeMode(), loaded);
        EXPECT_EQ(settings.effectiveResizeMode(), effective);
        EXPECT_EQ(store.contains(settingsKey("resizeMode")), stored.isValid());
    }
}

TEST(AppSettingsTest, EmptyFolderPathLoadsAsDesktopOrHome)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const EnvironmentOverride homeEnv("HOME", home.path());
    const EnvironmentOverride configEnv("XDG_CONFIG_HOME", QString());
    MemoryDefaultsStore store;
    store.setString(settingsKey("customFolderPath"), "");
    EXPECT_EQ(AppSettings(store).customFolderPath(), home.path());
    ASSERT_TRUE(QDir(home.path()).mkdir("Desktop"));
    EXPECT_EQ(AppSettings(store).customFolderPath(), home.filePath("Desktop"));
    // The empty text stays stored until the setting is assigned.
    EXPECT_EQ(store.rawValue(settingsKey("customFolderPath")), QVariant(QString("")));
}

TEST(AppSettingsTest, SettingsSurviveAnIniFileRoundTrip)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    SettingsValues expected;
    {
        QSettingsDefaultsStore store(dir.filePath("first.ini"));
        AppSettings settings(store);
        for (const Row& r : rows())
            r.assign(settings);
        settings.setLossyQuality(0); // stored as assigned, loaded clamped
        ASSERT_TRUE(settings.savePreset("Web").has_value());
        expected = settings.currentValues();
    }
    // A file QSettings has not seen in this process, so the values are parsed
    // back from their text form as on the next start.
    ASSERT_TRUE(QFile::copy(dir.filePath("first.ini"), dir.filePath("second.ini")));
    QSettingsDefaultsStore store(dir.filePath("second.ini"));
    const AppSettings reloaded(store);
    SettingsValues clamped = expected;
    clamped.lossyQuality = 1;
    EXPECT_EQ(reloaded.currentValues(), clamped);
    ASSERT_EQ(reloaded.presets().size(), 1u);
    EXPECT_EQ(reloaded.presets()[0].name, "Web");
    EXPECT_EQ(reloaded.presets()[0].values, expected);
}

// Values of the wrong kind give the defaults, not a reading of nothing (a
// quality of 1, a backup switched off).
TEST(AppSettingsTest, HandEditedIniFileLoadsWithFallbacks)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    writeFile(dir.filePath("edited.ini"),
              "[General]\n"
              "settings.mode=lossy\n"
              "settings.lossyQuality=abc\n"
              "settings.sequenceDigits=99999999999999999999999999999\n"
              "settings.backupOnInPlace=perhaps\n"
              "settings.resizeEnabled=true\n"
              "settings.resizeMode=Percentage\n"
              "settings.renamingBaseName=a, b\n"
              "settings.targetFormat=@Variant(garbage\n"
              "settings.presets=@ByteArray([{\"id\":1}])\n"
              "this line is no entry\n");
    QSettingsDefaultsStore store(dir.filePath("edited.ini"));
    const AppSettings settings(store);
    EXPECT_EQ(settings.mode(), Mode::lossy);
    EXPECT_EQ(settings.lossyQuality(), 80);
    EXPECT_EQ(settings.sequenceDigits(), 5);
    EXPECT_TRUE(settings.backupOnInPlace());
    EXPECT_EQ(settings.resizeMode(), Resize::maxLongEdge);
    EXPECT_EQ(settings.renamingBaseName(), ""); // an unquoted comma makes a list, which is no text
    EXPECT_EQ(settings.targetFormat(), Format::keepOriginal);
    EXPECT_TRUE(settings.presets().empty());
}

TEST(AppSettingsTest, ResizeTextsResolveWithinRangeOrToTheirFallback)
{
    MemoryDefaultsStore store;
    AppSettings settings(store);
    const std::vector<std::pair<QString, int64_t>> pixels{
        {"", 2000},
        {" 800 ", 800},
        {QString(QChar(0x00a0)) + "800" + QChar(0x3000), 800},
        {"+800", 800},
        {"0800", 800},
        {"-800", 2000},
        {"0", 2000},
        {"1", 1},
        {"20000", 20000},
        {"20001", 2000},
        {"800px", 2000},
        {"8 00", 2000},
        {"800.0", 2000},
        {"800\n", 2000},
        {"+-8", 2000},
        {"99999999999999999999", 2000},
        {QString::fromUtf8("\uff18\uff10\uff10"), 2000},
    };
    for (const auto& [text, value] : pixels) {
        settings.setResizeMaxDimensionText(text);
        EXPECT_EQ(settings.resolvedResizeMaxDimension(), value) << text.toStdString();
    }
    const std::vector<std::pair<QString, double>> percentages{
        {"50", 50.0},
        {" 12.5 ", 12.5},
        {"1", 1.0},
        {"1000", 1000.0},
        {"2.5e2", 250.0},
        {"0x10", 16.0},
        {"0.5", 100.0},
        {"1000.0001", 100.0},
        {"50%", 100.0},
        {"1,5", 100.0},
        {"", 100.0},
        {"nan", 100.0},
        {"1e400", 100.0},
        {"50\n", 100.0},
        {QString("5") + QChar(u'\0'), 100.0},
        {QString::fromUtf8("5\u00a0"), 5.0},
        {QString::fromUtf8("\u0665"), 100.0},
    };
    const auto expectPercentages = [&] {
        for (const auto& [text, value] : percentages) {
            settings.setResizePercentageText(text);
            EXPECT_EQ(settings.resolvedPercentage(), value) << text.toStdString();
        }
    };
    expectPercentages();

    // The same under a locale whose numbers have a decimal comma, made for
    // the test where the system's locale sources allow.
    const QTemporaryDir locales;
    if (QProcess::execute("localedef", {"-i", "cs_CZ", "-f", "UTF-8", locales.filePath("cs_CZ.UTF-8")}) != 0)
        GTEST_SKIP() << "localedef cannot make cs_CZ.UTF-8";
    const EnvironmentOverride path("LOCPATH", locales.path());
    ASSERT_TRUE(std::setlocale(LC_NUMERIC, "cs_CZ.UTF-8"));
    EXPECT_EQ(std::strtod("1.5", nullptr), 1.0);
    expectPercentages();
    std::setlocale(LC_NUMERIC, "C");
}

TEST(AppSettingsTest, ResizeChoiceAndValueFieldFollowTheEffectiveOption)
{
    MemoryDefaultsStore store;
    AppSettings settings(store);
    SignalLog log(settings);
    // Resizing off with a remembered option: nothing is resized, the value
    // field reads empty and drops what it is given.
    settings.setResizeMode(Resize::percentage);
    log.take();
    EXPECT_EQ(settings.resizeValueText(), "");
    settings.setResizeValueText("55");
    EXPECT_TRUE(log.take().empty());
    EXPECT_EQ(settings.currentCompressionSettings().resize, ResizeMode::none());
    // Choosing original keeps the remembered option; any other choice stores
    // the option first, then turns resizing on.
    settings.selectResizeMode(Resize::maxWidth);
    EXPECT_EQ(log.take(),
              (std::vector<std::string>{"resizeModeChanged", "changed", "resizeEnabledChanged", "changed"}));
    settings.selectResizeMode(Resize::original);
    EXPECT_EQ(log.take(), (std::vector<std::string>{"resizeEnabledChanged", "changed"}));
    EXPECT_EQ(settings.resizeMode(), Resize::maxWidth);

    // With resizing on, each option (original: the longest side) reads and
    // writes its own text and resolves to its engine case.
    settings.setResizeEnabled(true);
    const std::vector<std::pair<Resize, ResizeMode>> cases{
        {Resize::original, ResizeMode::maxDimension(101)}, {Resize::maxShortEdge, ResizeMode::maxShortEdge(102)},
        {Resize::maxWidth, ResizeMode::maxWidth(103)},     {Resize::maxHeight, ResizeMode::maxHeight(104)},
        {Resize::width, ResizeMode::exactWidth(105)},      {Resize::height, ResizeMode::exactHeight(106)},
        {Resize::percentage, ResizeMode::percentage(107)},
    };
    int value = 101;
    for (const auto& [option, resolved] : cases) {
        settings.setResizeMode(option);
        const QString text = QString::number(value++);
        settings.setResizeValueText(text);
        EXPECT_EQ(settings.resizeValueText(), text) << text.toStdString();
        EXPECT_EQ(settings.currentCompressionSettings().resize, resolved) << text.toStdString();
    }
    // Only the effective option's text is resolved: a bad text elsewhere is harmless.
    settings.setResizeMaxDimensionText("junk");
    EXPECT_EQ(settings.currentCompressionSettings().resize, ResizeMode::percentage(107));
}

TEST(AppSettingsTest, CurrentCompressionSettingsMapsEveryOption)
{
    MemoryDefaultsStore store;
    AppSettings settings(store);
    EXPECT_EQ(settings.currentCompressionSettings().sequenceSeparator, "-");
    // Quality and digits are stored and passed unclamped.
    settings.setMode(Mode::lossy);
    settings.setLossyQuality(0);
    settings.setSequenceDigits(9);
    settings.setTargetFormat(Format::png);
    settings.setOriginalFileHandling(Original::moveToTrash);
    settings.setSequenceSeparatorOption(Separator::comma);
    CompressionSettings s = settings.currentCompressionSettings();
    EXPECT_EQ(store.integer(settingsKey("lossyQuality")), 0);
    EXPECT_FALSE(s.mode.isLossless());
    EXPECT_EQ(s.mode.quality(), 0);
    EXPECT_EQ(s.sequenceDigits, 9);
    EXPECT_EQ(s.targetFormat, TargetFormat::png);
    EXPECT_EQ(s.originalFileHandling, OriginalFileHandling::moveToTrash);
    EXPECT_EQ(s.sequenceSeparator, ",");
    settings.setSequenceSeparatorOption(Separator::none);
    EXPECT_EQ(settings.currentCompressionSettings().sequenceSeparator, "");

    // Sequence renaming numbers from 1 with any digits but 0 (negative ones
    // too); without digits it keeps the base alone.
    settings.setRenamingBaseName(" photo ");
    settings.setRenamingMode(Renaming::sequence);
    settings.setSequenceDigits(-1);
    EXPECT_EQ(settings.currentCompressionSettings().renaming, RenamingMode::sequence(" photo ", 1));
    settings.setSequenceDigits(0);
    EXPECT_EQ(settings.currentCompressionSettings().renaming, RenamingMode::customBase(" photo "));
    settings.setRenamingPrefix("a-");
    settings.setRenamingSuffix("-z");
    settings.setRenamingMode(Renaming::prefixSuffix);
    EXPECT_EQ(settings.currentCompressionSettings().renaming, RenamingMode::prefixSuffix("a-", "-z"));

    // In-place output with an effectively active renaming goes alongside; the
    // stored option stays in place.
    settings.setOutputMode(Output::inPlace);
    settings.setBackupOnInPlace(false);
    EXPECT_EQ(settings.currentCompressionSettings().outputMode.kind(), OutputMode::Kind::copyAlongside);
    settings.setRenamingPrefix(" ");
    settings.setRenamingSuffix("..");
    s = settings.currentCompressionSettings();
    EXPECT_EQ(s.outputMode.kind(), OutputMode::Kind::inPlace);
    EXPECT_FALSE(s.outputMode.backup());
    settings.setRenamingMode(Renaming::sequence);
    settings.setSequenceDigits(2);
    settings.setRenamingBaseName("   ");
    settings.setBackupOnInPlace(true);
    EXPECT_TRUE(settings.currentCompressionSettings().outputMode.backup());
    settings.setRenamingBaseName("holiday");
    EXPECT_EQ(settings.currentCompressionSettings().outputMode.kind(), OutputMode::Kind::copyAlongside);

    // A custom folder, used as typed; the URL marks it as a folder.
    settings.setOutputMode(Output::customFolder);
    settings.setCustomFolderPath("/data/My Export");
    EXPECT_EQ(settings.currentCompressionSettings().outputMode.folder(), "/data/My Export");
    EXPECT_EQ(settings.customFolderURL(), QUrl::fromLocalFile("/data/My Export/"));
}
