#include "TestImages.h"

#include "AppSettings.h"
#include "DefaultsStore.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
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

QString key(const char* name)
{
    return settingsKey(name);
}

// Every signal of the object, by setting name, in emission order.
class SignalLog {
public:
    explicit SignalLog(AppSettings& settings)
    {
        track(settings, &AppSettings::modeChanged, "mode");
        track(settings, &AppSettings::lossyQualityChanged, "lossyQuality");
        track(settings, &AppSettings::outputModeChanged, "outputMode");
        track(settings, &AppSettings::backupOnInPlaceChanged, "backupOnInPlace");
        track(settings, &AppSettings::targetFormatChanged, "targetFormat");
        track(settings, &AppSettings::originalFileHandlingChanged, "originalFileHandling");
        track(settings, &AppSettings::renamingModeChanged, "renamingMode");
        track(settings, &AppSettings::renamingBaseNameChanged, "renamingBaseName");
        track(settings, &AppSettings::renamingPrefixChanged, "renamingPrefix");
        track(settings, &AppSettings::renamingSuffixChanged, "renamingSuffix");
        track(settings, &AppSettings::askForNameBeforeExportChanged, "askForNameBeforeExport");
        track(settings, &AppSettings::sequenceDigitsChanged, "sequenceDigits");
        track(settings, &AppSettings::sequenceSeparatorOptionChanged, "sequenceSeparatorOption");
        track(settings, &AppSettings::customFolderPathChanged, "customFolderPath");
        track(settings, &AppSettings::resizeEnabledChanged, "resizeEnabled");
        track(settings, &AppSettings::resizeMaxDimensionTextChanged, "resizeMaxDimensionText");
        track(settings, &AppSettings::resizeMaxShortEdgeTextChanged, "resizeMaxShortEdgeText");
        track(settings, &AppSettings::resizeMaxWidthTextChanged, "resizeMaxWidthText");
        track(settings, &AppSettings::resizeMaxHeightTextChanged, "resizeMaxHeightText");
        track(settings, &AppSettings::resizeWidthTextChanged, "resizeWidthText");
        track(settings, &AppSettings::resizeHeightTextChanged, "resizeHeightText");
        track(settings, &AppSettings::resizePercentageTextChanged, "resizePercentageText");
        track(settings, &AppSettings::resizeModeChanged, "resizeMode");
        track(settings, &AppSettings::presetsChanged, "presets");
        track(settings, &AppSettings::changed, "changed");
    }

    std::vector<std::string> take()
    {
        std::vector<std::string> taken;
        taken.swap(m_names);
        return taken;
    }

private:
    template <typename Signal>
    void track(AppSettings& settings, Signal signal, const char* name)
    {
        QObject::connect(&settings, signal, &settings, [this, name](auto&&...) { m_names.emplace_back(name); });
    }

    std::vector<std::string> m_names;
};

// One assignment of every setting, each away from its default and with texts
// an INI file must quote or escape, and what the store then holds.
struct Assignment {
    const char* name;
    std::function<void(AppSettings&)> assign;
    QVariant written;
};

std::vector<Assignment> everySetting()
{
    const QString base = QString::fromUtf8("dovolená, léto");
    const QString suffix = QStringLiteral("  ; # = \"q\" \\ ");
    const QString folder = QStringLiteral("/data/a, b/[export] \"x\"");
    return {
        {"mode", [](AppSettings& s) { s.setMode(Mode::lossy); }, QString("lossy")},
        {"lossyQuality", [](AppSettings& s) { s.setLossyQuality(0); }, qlonglong{0}},
        {"outputMode", [](AppSettings& s) { s.setOutputMode(Output::inPlace); }, QString("inPlace")},
        {"backupOnInPlace", [](AppSettings& s) { s.setBackupOnInPlace(false); }, false},
        {"targetFormat", [](AppSettings& s) { s.setTargetFormat(Format::jpeg); }, QString("jpeg")},
        {"originalFileHandling", [](AppSettings& s) { s.setOriginalFileHandling(Original::moveToTrash); },
         QString("moveToTrash")},
        {"renamingMode", [](AppSettings& s) { s.setRenamingMode(Renaming::sequence); }, QString("sequence")},
        {"renamingBaseName", [base](AppSettings& s) { s.setRenamingBaseName(base); }, base},
        {"renamingPrefix", [](AppSettings& s) { s.setRenamingPrefix("@pre"); }, QString("@pre")},
        {"renamingSuffix", [suffix](AppSettings& s) { s.setRenamingSuffix(suffix); }, suffix},
        {"askForNameBeforeExport", [](AppSettings& s) { s.setAskForNameBeforeExport(true); }, true},
        {"sequenceDigits", [](AppSettings& s) { s.setSequenceDigits(-7); }, qlonglong{-7}},
        {"sequenceSeparatorOption",
         [](AppSettings& s) { s.setSequenceSeparatorOption(Separator::underscore); }, QString("underscore")},
        {"customFolderPath", [folder](AppSettings& s) { s.setCustomFolderPath(folder); }, folder},
        {"resizeEnabled", [](AppSettings& s) { s.setResizeEnabled(true); }, true},
        {"resizeMaxDimensionText", [](AppSettings& s) { s.setResizeMaxDimensionText(" 1500 "); },
         QString(" 1500 ")},
        {"resizeMaxShortEdgeText", [](AppSettings& s) { s.setResizeMaxShortEdgeText("true"); },
         QString("true")},
        {"resizeMaxWidthText", [](AppSettings& s) { s.setResizeMaxWidthText("800\n"); }, QString("800\n")},
        {"resizeMaxHeightText", [](AppSettings& s) { s.setResizeMaxHeightText(""); }, QString("")},
        {"resizeWidthText", [](AppSettings& s) { s.setResizeWidthText("12"); }, QString("12")},
        {"resizeHeightText", [](AppSettings& s) { s.setResizeHeightText("1, 2"); }, QString("1, 2")},
        {"resizePercentageText", [](AppSettings& s) { s.setResizePercentageText("50.5"); },
         QString("50.5")},
        {"resizeMode", [](AppSettings& s) { s.setResizeMode(Resize::percentage); }, QString("percentage")},
    };
}

} // namespace

TEST(AppSettingsTest, EmptyStoreLoadsDefaultsAndWritesNothing)
{
    MemoryDefaultsStore store;
    const AppSettings settings(store);

    EXPECT_EQ(settings.mode(), Mode::lossless);
    EXPECT_EQ(settings.lossyQuality(), 80);
    EXPECT_EQ(settings.outputMode(), Output::copyAlongside);
    EXPECT_TRUE(settings.backupOnInPlace());
    EXPECT_EQ(settings.targetFormat(), Format::keepOriginal);
    EXPECT_EQ(settings.originalFileHandling(), Original::keep);
    EXPECT_EQ(settings.renamingMode(), Renaming::none);
    EXPECT_EQ(settings.renamingBaseName(), "");
    EXPECT_EQ(settings.renamingPrefix(), "");
    EXPECT_EQ(settings.renamingSuffix(), "");
    EXPECT_FALSE(settings.askForNameBeforeExport());
    EXPECT_EQ(settings.sequenceDigits(), 2);
    EXPECT_EQ(settings.sequenceSeparatorOption(), Separator::dash);
    EXPECT_EQ(settings.customFolderPath(), AppSettings::defaultCustomFolderPath());
    EXPECT_FALSE(settings.customFolderPath().isEmpty());
    EXPECT_FALSE(settings.resizeEnabled());
    for (const QString& text : {settings.resizeMaxDimensionText(), settings.resizeMaxShortEdgeText(),
                                settings.resizeMaxWidthText(), settings.resizeMaxHeightText(),
                                settings.resizeWidthText(), settings.resizeHeightText()})
        EXPECT_EQ(text, "2000");
    EXPECT_EQ(settings.resizePercentageText(), "100");
    EXPECT_EQ(settings.resizeMode(), Resize::original);
    EXPECT_TRUE(settings.presets().empty());
    EXPECT_FALSE(settings.activePreset().has_value());

    EXPECT_TRUE(store.keys().isEmpty()) << store.keys().join(", ").toStdString();
}

TEST(AppSettingsTest, LoadClampsNumbersAndLeavesTheStoreAlone)
{
    struct Case {
        QVariant stored;
        int64_t quality;
        int64_t digits;
    };
    const std::vector<Case> cases{
        {QVariant(qlonglong{0}), 1, 0},
        {QVariant(qlonglong{9}), 9, 5},
        {QVariant(qlonglong{150}), 100, 5},
        {QVariant(std::numeric_limits<qlonglong>::min()), 1, 0},
        {QVariant(std::numeric_limits<qulonglong>::max()), 100, 5},
        {QVariant(1e300), 100, 5},
        {QVariant(42.9), 42, 5},
        // As INI files keep them: texts, large ones saturating.
        {QVariant(QStringLiteral(" 3 ")), 3, 3},
        {QVariant(QStringLiteral("99999999999999999999999999")), 100, 5},
        {QVariant(QStringLiteral("-99999999999999999999999999")), 1, 0},
    };
    for (const Case& c : cases) {
        MemoryDefaultsStore store;
        store.setRawValue(key("lossyQuality"), c.stored);
        store.setRawValue(key("sequenceDigits"), c.stored);
        const AppSettings settings(store);
        EXPECT_EQ(settings.lossyQuality(), c.quality) << c.stored.toString().toStdString();
        EXPECT_EQ(settings.sequenceDigits(), c.digits) << c.stored.toString().toStdString();
        EXPECT_EQ(store.rawValue(key("lossyQuality")), c.stored);
        EXPECT_EQ(store.keys().size(), 2);
    }
}

TEST(AppSettingsTest, UnknownOptionTextsFallBack)
{
    // Option texts match exactly: letter case and blanks count.
    for (const QVariant& stored : {QVariant(QStringLiteral("Lossy")), QVariant(QStringLiteral(" lossy")),
                                   QVariant(qlonglong{1}), QVariant(true), QVariant(QByteArray("lossy"))}) {
        MemoryDefaultsStore store;
        store.setRawValue(key("mode"), stored);
        EXPECT_EQ(AppSettings(store).mode(), Mode::lossless) << stored.toString().toStdString();
    }
}

TEST(AppSettingsTest, ResizeModeFallsBackOnTheLoadedFlag)
{
    struct Case {
        QVariant enabled;
        QVariant mode;
        Resize expected;
        Resize effective;
    };
    const std::vector<Case> cases{
        {QVariant(true), QVariant(), Resize::maxLongEdge, Resize::maxLongEdge},
        {QVariant(false), QVariant(), Resize::original, Resize::original},
        {QVariant(true), QVariant(QStringLiteral("bogus")), Resize::maxLongEdge, Resize::maxLongEdge},
        {QVariant(false), QVariant(QStringLiteral("percentage")), Resize::percentage, Resize::original},
        {QVariant(true), QVariant(QStringLiteral("original")), Resize::original, Resize::maxLongEdge},
        {QVariant(true), QVariant(QStringLiteral("height")), Resize::height, Resize::height},
    };
    for (const Case& c : cases) {
        MemoryDefaultsStore store;
        if (c.enabled.isValid())
            store.setRawValue(key("resizeEnabled"), c.enabled);
        if (c.mode.isValid())
            store.setRawValue(key("resizeMode"), c.mode);
        const AppSettings settings(store);
        EXPECT_EQ(settings.resizeMode(), c.expected);
        EXPECT_EQ(settings.effectiveResizeMode(), c.effective);
        EXPECT_EQ(store.contains(key("resizeMode")), c.mode.isValid());
    }

    // Only the flag and the longest side stored: resize to at most that size.
    MemoryDefaultsStore store;
    store.setFlag(key("resizeEnabled"), true);
    store.setString(key("resizeMaxDimensionText"), "1200");
    EXPECT_EQ(AppSettings(store).currentCompressionSettings().resize, ResizeMode::maxDimension(1200));
}

TEST(AppSettingsTest, EmptyFolderPathLoadsAsDesktopOrHome)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const EnvironmentOverride homeEnv("HOME", home.path());
    const EnvironmentOverride configEnv("XDG_CONFIG_HOME", QString());

    MemoryDefaultsStore store;
    store.setString(key("customFolderPath"), "");
    EXPECT_EQ(AppSettings(store).customFolderPath(), home.path());

    ASSERT_TRUE(QDir(home.path()).mkdir("Desktop"));
    const AppSettings settings(store);
    EXPECT_EQ(settings.customFolderPath(), home.filePath("Desktop"));
    // The empty text stays stored until the setting is assigned.
    EXPECT_EQ(store.rawValue(key("customFolderPath")), QVariant(QString("")));

    store.setString(key("customFolderPath"), "/somewhere/else");
    EXPECT_EQ(AppSettings(store).customFolderPath(), "/somewhere/else");
}

TEST(AppSettingsTest, EveryAssignmentWritesItsKeyOnceAndSignalsOnce)
{
    MemoryDefaultsStore store;
    AppSettings settings(store);
    SignalLog log(settings);

    for (const Assignment& a : everySetting()) {
        a.assign(settings);
        EXPECT_EQ(log.take(), (std::vector<std::string>{a.name, "changed"})) << a.name;
        const QVariant written = store.rawValue(key(a.name));
        EXPECT_EQ(written.typeId(), a.written.typeId()) << a.name;
        EXPECT_EQ(written, a.written) << a.name;
    }
    EXPECT_EQ(store.keys().size(), 23);

    // Assigned values are kept as given: no clamping, trimming or replacing.
    EXPECT_EQ(settings.lossyQuality(), 0);
    EXPECT_EQ(settings.sequenceDigits(), -7);
    EXPECT_EQ(settings.resizeMaxDimensionText(), " 1500 ");

    // The same value again still signals and writes.
    store.setRawValue(key("mode"), QStringLiteral("overwritten"));
    settings.setMode(Mode::lossy);
    EXPECT_EQ(log.take(), (std::vector<std::string>{"mode", "changed"}));
    EXPECT_EQ(store.rawValue(key("mode")), QVariant(QString("lossy")));

    // The signal carries the new value.
    qint64 delivered = -1;
    QObject::connect(&settings, &AppSettings::lossyQualityChanged, &settings, [&](qint64 v) { delivered = v; });
    settings.setLossyQuality(63);
    EXPECT_EQ(delivered, 63);
}

TEST(AppSettingsTest, SettingsSurviveAnIniFileRoundTrip)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString first = dir.filePath("first.ini");
    SettingsValues expected;
    {
        QSettingsDefaultsStore store(first);
        AppSettings settings(store);
        for (const Assignment& a : everySetting())
            a.assign(settings);
        ASSERT_TRUE(settings.savePreset("Web").has_value());
        expected = settings.currentValues();
    }
    // A file QSettings has not seen in this process, so the values are parsed
    // back from their text form as on the next start.
    const QString second = dir.filePath("second.ini");
    ASSERT_TRUE(QFile::copy(first, second));
    QSettingsDefaultsStore store(second);
    const AppSettings reloaded(store);

    // Quality and digits, stored unclamped, load clamped.
    SettingsValues clamped = expected;
    clamped.lossyQuality = 1;
    clamped.sequenceDigits = 0;
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
    const QString path = dir.filePath("edited.ini");
    writeFile(path, "[General]\n"
                    "settings.mode=lossy\n"
                    "settings.lossyQuality=abc\n"
                    "settings.sequenceDigits=99999999999999999999999999999\n"
                    "settings.backupOnInPlace=perhaps\n"
                    "settings.resizeEnabled=true\n"
                    "settings.resizeMode=Percentage\n"
                    "settings.renamingBaseName=a, b\n"
                    "settings.customFolderPath=\n"
                    "settings.targetFormat=@Variant(garbage\n"
                    "settings.presets=@ByteArray([{\"id\":1}])\n"
                    "this line is no entry\n");
    QSettingsDefaultsStore store(path);
    const AppSettings settings(store);
    EXPECT_EQ(settings.mode(), Mode::lossy);
    EXPECT_EQ(settings.lossyQuality(), 80);
    EXPECT_EQ(settings.sequenceDigits(), 5);
    EXPECT_TRUE(settings.backupOnInPlace());
    EXPECT_EQ(settings.resizeMode(), Resize::maxLongEdge);
    // An unquoted comma makes a list in INI files, which is no text.
    EXPECT_EQ(settings.renamingBaseName(), "");
    EXPECT_EQ(settings.customFolderPath(), AppSettings::defaultCustomFolderPath());
    EXPECT_EQ(settings.targetFormat(), Format::keepOriginal);
    EXPECT_TRUE(settings.presets().empty());
}

TEST(AppSettingsTest, PixelTextsResolveWithinRangeOrTo2000)
{
    MemoryDefaultsStore store;
    AppSettings settings(store);
    const std::vector<std::pair<QString, int64_t>> cases{
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
        {"99999999999999999999", 2000},
        {"800\n", 2000},
        {"+-8", 2000},
        {QString::fromUtf8("\uff18\uff10\uff10"), 2000},
    };
    for (const auto& [text, pixels] : cases) {
        settings.setResizeMaxDimensionText(text);
        EXPECT_EQ(settings.resolvedResizeMaxDimension(), pixels) << text.toStdString();
    }
}

TEST(AppSettingsTest, PercentageTextsResolveWithinRangeOrTo100)
{
    MemoryDefaultsStore store;
    AppSettings settings(store);
    const std::vector<std::pair<QString, double>> cases{
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
        {"inf", 100.0},
        {"1e400", 100.0},
        {"-50", 100.0},
        {"50\n", 100.0},
        {QString("5") + QChar(u'\0'), 100.0},
        {QString::fromUtf8("5\u00a0"), 5.0},
        {QString::fromUtf8("\u0665"), 100.0},
    };
    for (const auto& [text, percent] : cases) {
        settings.setResizePercentageText(text);
        EXPECT_EQ(settings.resolvedPercentage(), percent) << text.toStdString();
    }
}

TEST(AppSettingsTest, ResizeChoiceAndValueFieldFollowTheEffectiveOption)
{
    MemoryDefaultsStore store;
    AppSettings settings(store);
    SignalLog log(settings);

    // Resizing off with a remembered option: nothing is resized, the value
    // field reads empty and drops what it is given.
    settings.setResizeMode(Resize::percentage);
    settings.setResizeEnabled(false);
    log.take();
    EXPECT_EQ(settings.effectiveResizeMode(), Resize::original);
    EXPECT_EQ(settings.resizeValueText(), "");
    settings.setResizeValueText("55");
    EXPECT_TRUE(log.take().empty());
    EXPECT_EQ(settings.resizePercentageText(), "100");
    EXPECT_FALSE(store.contains(key("resizePercentageText")));
    EXPECT_EQ(settings.currentCompressionSettings().resize, ResizeMode::none());

    // On without a chosen option: the longest side.
    settings.setResizeMode(Resize::original);
    settings.setResizeEnabled(true);
    log.take();
    EXPECT_EQ(settings.effectiveResizeMode(), Resize::maxLongEdge);
    settings.setResizeValueText("1600");
    EXPECT_EQ(log.take(), (std::vector<std::string>{"resizeMaxDimensionText", "changed"}));
    EXPECT_EQ(settings.resizeValueText(), "1600");
    EXPECT_EQ(settings.currentCompressionSettings().resize, ResizeMode::maxDimension(1600));

    // Choosing original keeps the remembered option; any other choice stores
    // the option first, then turns resizing on.
    settings.selectResizeMode(Resize::percentage);
    EXPECT_EQ(log.take(), (std::vector<std::string>{"resizeMode", "changed", "resizeEnabled", "changed"}));
    settings.selectResizeMode(Resize::original);
    EXPECT_EQ(log.take(), (std::vector<std::string>{"resizeEnabled", "changed"}));
    EXPECT_FALSE(settings.resizeEnabled());
    EXPECT_EQ(settings.resizeMode(), Resize::percentage);
    settings.selectResizeMode(Resize::maxWidth);
    EXPECT_TRUE(settings.resizeEnabled());
    EXPECT_EQ(settings.effectiveResizeMode(), Resize::maxWidth);

    // Each option reads and writes its own text, and resolves to its engine case.
    struct Case {
        Resize option;
        const char* textName;
        ResizeMode resolved;
    };
    const std::vector<Case> cases{
        {Resize::maxLongEdge, "resizeMaxDimensionText", ResizeMode::maxDimension(101)},
        {Resize::maxShortEdge, "resizeMaxShortEdgeText", ResizeMode::maxShortEdge(102)},
        {Resize::maxWidth, "resizeMaxWidthText", ResizeMode::maxWidth(103)},
        {Resize::maxHeight, "resizeMaxHeightText", ResizeMode::maxHeight(104)},
        {Resize::width, "resizeWidthText", ResizeMode::exactWidth(105)},
        {Resize::height, "resizeHeightText", ResizeMode::exactHeight(106)},
        {Resize::percentage, "resizePercentageText", ResizeMode::percentage(107)},
    };
    int64_t value = 101;
    for (const Case& c : cases) {
        settings.selectResizeMode(c.option);
        const QString text = QString::number(value++);
        settings.setResizeValueText(text);
        EXPECT_EQ(store.rawValue(key(c.textName)), QVariant(text)) << c.textName;
        EXPECT_EQ(settings.resizeValueText(), text);
        EXPECT_EQ(settings.currentCompressionSettings().resize, c.resolved) << c.textName;
    }
    // Only the effective option's text is resolved: a bad text elsewhere is harmless.
    settings.setResizeMaxDimensionText("junk");
    EXPECT_EQ(settings.currentCompressionSettings().resize, ResizeMode::percentage(107));
}

TEST(AppSettingsTest, CurrentCompressionSettingsMapsEveryOption)
{
    MemoryDefaultsStore store;
    AppSettings settings(store);

    CompressionSettings s = settings.currentCompressionSettings();
    EXPECT_TRUE(s.mode.isLossless());
    EXPECT_EQ(s.outputMode.kind(), OutputMode::Kind::copyAlongside);
    EXPECT_EQ(s.targetFormat, TargetFormat::keepOriginal);
    EXPECT_EQ(s.originalFileHandling, OriginalFileHandling::keep);
    EXPECT_EQ(s.renaming, RenamingMode::none());
    EXPECT_EQ(s.resize, ResizeMode::none());
    EXPECT_EQ(s.sequenceDigits, 2);
    EXPECT_EQ(s.sequenceSeparator, "-");

    // Quality and digits pass unclamped.
    settings.setMode(Mode::lossy);
    settings.setLossyQuality(0);
    settings.setSequenceDigits(9);
    s = settings.currentCompressionSettings();
    EXPECT_FALSE(s.mode.isLossless());
    EXPECT_EQ(s.mode.quality(), 0);
    EXPECT_EQ(s.sequenceDigits, 9);

    settings.setTargetFormat(Format::png);
    settings.setOriginalFileHandling(Original::moveToTrash);
    settings.setSequenceSeparatorOption(Separator::comma);
    s = settings.currentCompressionSettings();
    EXPECT_EQ(s.targetFormat, TargetFormat::png);
    EXPECT_EQ(s.originalFileHandling, OriginalFileHandling::moveToTrash);
    EXPECT_EQ(s.sequenceSeparator, ",");
    settings.setSequenceSeparatorOption(Separator::none);
    EXPECT_EQ(settings.currentCompressionSettings().sequenceSeparator, "");

    // Renaming: sequence with digits numbers from 1, without digits keeps the
    // base alone; negative digits still number.
    settings.setRenamingBaseName(" photo ");
    settings.setRenamingMode(Renaming::sequence);
    settings.setSequenceDigits(3);
    EXPECT_EQ(settings.currentCompressionSettings().renaming, RenamingMode::sequence(" photo ", 1));
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
    EXPECT_TRUE(settings.renamingIsEffectivelyActive());
    EXPECT_EQ(settings.currentCompressionSettings().outputMode.kind(), OutputMode::Kind::copyAlongside);
    EXPECT_EQ(settings.outputMode(), Output::inPlace);

    settings.setRenamingPrefix(" ");
    settings.setRenamingSuffix("..");
    EXPECT_FALSE(settings.renamingIsEffectivelyActive());
    s = settings.currentCompressionSettings();
    ASSERT_EQ(s.outputMode.kind(), OutputMode::Kind::inPlace);
    EXPECT_FALSE(s.outputMode.backup());

    settings.setRenamingMode(Renaming::sequence);
    settings.setSequenceDigits(2);
    settings.setRenamingBaseName("   ");
    settings.setBackupOnInPlace(true);
    s = settings.currentCompressionSettings();
    ASSERT_EQ(s.outputMode.kind(), OutputMode::Kind::inPlace);
    EXPECT_TRUE(s.outputMode.backup());
    settings.setRenamingBaseName("holiday");
    EXPECT_EQ(settings.currentCompressionSettings().outputMode.kind(), OutputMode::Kind::copyAlongside);

    settings.setRenamingMode(Renaming::none);
    EXPECT_FALSE(settings.renamingIsEffectivelyActive());
    EXPECT_EQ(settings.currentCompressionSettings().outputMode.kind(), OutputMode::Kind::inPlace);

    // A custom folder, used as typed; the URL marks it as a folder.
    settings.setOutputMode(Output::customFolder);
    settings.setCustomFolderPath("/data/My Export");
    s = settings.currentCompressionSettings();
    ASSERT_EQ(s.outputMode.kind(), OutputMode::Kind::customFolder);
    EXPECT_EQ(s.outputMode.folder(), "/data/My Export");
    EXPECT_EQ(settings.customFolderURL(), QUrl::fromLocalFile("/data/My Export/"));

    // Building engine settings changes and writes nothing.
    const qsizetype keys = store.keys().size();
    const SettingsValues before = settings.currentValues();
    settings.currentCompressionSettings();
    EXPECT_EQ(store.keys().size(), keys);
    EXPECT_EQ(settings.currentValues(), before);
}
