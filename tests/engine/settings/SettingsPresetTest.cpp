#include "AppSettings.h"
#include "DefaultsStore.h"
#include "SettingsPreset.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using namespace vantro;

using Mode = AppSettings::CompressionModeOption;
using Resize = AppSettings::ResizeModeOption;

namespace {

const QString kPresetsKey = QStringLiteral("settings.presets");

std::optional<QByteArray> storedDocument(const DefaultsStore& store)
{
    return store.data(kPresetsKey);
}

// Every field away from its default, with texts that need escaping in JSON.
SettingsValues unusualValues()
{
    SettingsValues v;
    v.mode = Mode::lossy;
    v.lossyQuality = int64_t{1} << 62;
    v.outputMode = AppSettings::OutputModeOption::customFolder;
    v.backupOnInPlace = false;
    v.targetFormat = AppSettings::TargetFormatOption::webp;
    v.originalFileHandling = AppSettings::OriginalFileHandlingOption::moveToTrash;
    v.renamingMode = AppSettings::RenamingModeOption::sequence;
    v.renamingBaseName = QString::fromUtf8("fotka \"č\" \\ \n");
    v.renamingPrefix = "pre";
    v.renamingSuffix = "suf";
    v.sequenceDigits = -5;
    v.sequenceSeparatorOption = AppSettings::SequenceSeparatorOption::space;
    v.customFolderPath = "/a/b/c";
    v.resizeEnabled = true;
    v.resizeMode = Resize::height;
    v.resizeMaxDimensionText = "1";
    v.resizeMaxShortEdgeText = "2";
    v.resizeMaxWidthText = "3";
    v.resizeMaxHeightText = "4";
    v.resizeWidthText = "5";
    v.resizeHeightText = "abc";
    v.resizePercentageText = " 50 ";
    v.askForNameBeforeExport = true;
    return v;
}

QJsonArray validDocument()
{
    const SettingsPreset preset{QUuid::createUuid(), "Web", unusualValues()};
    return QJsonDocument::fromJson(encodePresets({preset})).array();
}

QByteArray withValues(const std::function<void(QJsonObject&)>& edit)
{
    QJsonArray array = validDocument();
    QJsonObject preset = array[0].toObject();
    QJsonObject values = preset["values"].toObject();
    edit(values);
    preset["values"] = values;
    array[0] = preset;
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

QByteArray withPreset(const std::function<void(QJsonObject&)>& edit)
{
    QJsonArray array = validDocument();
    QJsonObject preset = array[0].toObject();
    edit(preset);
    array[0] = preset;
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

} // namespace

TEST(SettingsPresetTest, SaveTrimsAppendsAndUpdatesByNameIgnoringCase)
{
    MemoryDefaultsStore store;
    AppSettings settings(store);
    int presetSignals = 0;
    QObject::connect(&settings, &AppSettings::presetsChanged, &settings, [&] { ++presetSignals; });

    const std::optional<SettingsPreset> web = settings.savePreset(" \tWeb \n");
    ASSERT_TRUE(web.has_value());
    EXPECT_EQ(web->name, "Web");
    EXPECT_FALSE(web->id.isNull());
    EXPECT_EQ(web->values, settings.currentValues());
    ASSERT_EQ(settings.presets().size(), 1u);
    EXPECT_EQ(settings.presets()[0], *web);
    EXPECT_EQ(presetSignals, 1);
    EXPECT_EQ(storedDocument(store), encodePresets(settings.presets()));

    settings.savePreset("Print");
    settings.setLossyQuality(42);
    const std::optional<SettingsPreset> updated = settings.savePreset("WEB");
    ASSERT_TRUE(updated.has_value());
    EXPECT_EQ(updated->id, web->id);
    EXPECT_EQ(updated->name, "Web");
    EXPECT_EQ(updated->values.lossyQuality, 42);
    ASSERT_EQ(settings.presets().size(), 2u);
    EXPECT_EQ(settings.presets()[0], *updated);
    EXPECT_EQ(settings.presets()[1].name, "Print");
    EXPECT_EQ(storedDocument(store), encodePresets(settings.presets()));

    // A blank name saves and writes nothing.
    const QByteArray before = *storedDocument(store);
    presetSignals = 0;
    EXPECT_FALSE(settings.savePreset(QString::fromUtf8(" \t\n\r\u3000")).has_value());
    EXPECT_FALSE(settings.savePreset("").has_value());
    EXPECT_EQ(presetSignals, 0);
    EXPECT_EQ(settings.presets().size(), 2u);
    EXPECT_EQ(storedDocument(store), before);
}

TEST(SettingsPresetTest, ActivePresetIsTheFirstWithEqualValues)
{
    MemoryDefaultsStore store;
    AppSettings settings(store);
    const SettingsPreset first = *settings.savePreset("First");
    const SettingsPreset second = *settings.savePreset("Second");
    EXPECT_EQ(settings.activePreset(), first);

    // Any one field differing, even one without effect now, ends the match.
    settings.setResizeHeightText("2001");
    EXPECT_FALSE(settings.activePreset().has_value());
    settings.setResizeHeightText("2000");
    EXPECT_EQ(settings.activePreset(), first);

    // Texts compare by canonical equivalence, letter case counts.
    settings.setRenamingBaseName(QString::fromUtf8("caf\u00e9"));
    const SettingsPreset cafe = *settings.savePreset("Cafe");
    settings.setRenamingBaseName(QString::fromUtf8("cafe\u0301"));
    EXPECT_EQ(settings.activePreset(), cafe);
    settings.setRenamingBaseName(QString::fromUtf8("CAF\u00c9"));
    EXPECT_FALSE(settings.activePreset().has_value());

    settings.applyPreset(second);
    EXPECT_EQ(settings.activePreset(), first);
}

TEST(SettingsPresetTest, ApplyAssignsEverySettingAndClampsThree)
{
    MemoryDefaultsStore store;
    AppSettings settings(store);
    int changes = 0;
    QObject::connect(&settings, &AppSettings::changed, &settings, [&] { ++changes; });

    SettingsValues values = unusualValues();
    values.lossyQuality = 150;
    values.sequenceDigits = 9;
    values.customFolderPath = "";
    const SettingsPreset preset{QUuid::createUuid(), "Outside the list", values};
    settings.applyPreset(preset);

    EXPECT_EQ(changes, 23);
    EXPECT_EQ(store.keys().size(), 23);
    EXPECT_TRUE(settings.presets().empty());

    SettingsValues expected = values;
    expected.lossyQuality = 100;
    expected.sequenceDigits = 5;
    expected.customFolderPath = AppSettings::defaultCustomFolderPath();
    EXPECT_EQ(settings.currentValues(), expected);
    EXPECT_EQ(store.integer(settingsKey("lossyQuality")), 100);
    EXPECT_EQ(store.string(settingsKey("resizeHeightText")), QString("abc"));

    // Stored values outside the ranges never make the preset active.
    settings.setPresets({preset});
    EXPECT_FALSE(settings.activePreset().has_value());

    values.lossyQuality = -3;
    values.sequenceDigits = -3;
    settings.applyPreset(SettingsPreset{QUuid::createUuid(), "Low", values});
    EXPECT_EQ(settings.lossyQuality(), 1);
    EXPECT_EQ(settings.sequenceDigits(), 0);

    // Applying the active preset again still writes every setting.
    const SettingsPreset active = *settings.savePreset("Active");
    changes = 0;
    settings.applyPreset(active);
    EXPECT_EQ(changes, 23);
    EXPECT_EQ(settings.activePreset(), active);
}

TEST(SettingsPresetTest, ApplyingAPresetFromTheListSurvivesSlotsThatChangeTheList)
{
    MemoryDefaultsStore store;
    AppSettings settings(store);
    settings.setLossyQuality(55);
    settings.savePreset("A");
    settings.setLossyQuality(80);
    settings.savePreset("B");
    // A slot deleting every preset on the first change frees the element the
    // caller handed in.
    QObject::connect(&settings, &AppSettings::modeChanged, &settings, [&] {
        for (const SettingsPreset& preset : std::vector<SettingsPreset>(settings.presets()))
            settings.deletePreset(preset.id);
    });
    settings.applyPreset(settings.presets()[0]);
    EXPECT_EQ(settings.lossyQuality(), 55);
    EXPECT_TRUE(settings.presets().empty());
}

TEST(SettingsPresetTest, DeleteRemovesEveryMatchAndAlwaysRewrites)
{
    MemoryDefaultsStore store;
    AppSettings settings(store);
    const SettingsPreset a = *settings.savePreset("A");
    settings.setMode(Mode::lossy);
    const SettingsPreset b = *settings.savePreset("B");
    settings.setMode(Mode::lossless);
    const SettingsPreset c = *settings.savePreset("C");
    settings.setPresets({a, b, a, c});

    settings.deletePreset(a.id);
    ASSERT_EQ(settings.presets().size(), 2u);
    EXPECT_EQ(settings.presets()[0], b);
    EXPECT_EQ(settings.presets()[1], c);
    EXPECT_EQ(storedDocument(store), encodePresets({b, c}));

    // The settings stay as they were even when the active preset goes.
    EXPECT_EQ(settings.activePreset(), c);
    const SettingsValues before = settings.currentValues();
    settings.deletePreset(c.id);
    EXPECT_EQ(settings.currentValues(), before);
    EXPECT_FALSE(settings.activePreset().has_value());

    store.setRawValue(kPresetsKey, QVariant());
    int presetSignals = 0;
    QObject::connect(&settings, &AppSettings::presetsChanged, &settings, [&] { ++presetSignals; });
    settings.deletePreset(QUuid::createUuid());
    EXPECT_EQ(presetSignals, 1);
    EXPECT_EQ(storedDocument(store), encodePresets({b}));
}

TEST(SettingsPresetTest, DocumentHasTheExpectedShape)
{
    const QUuid id = QUuid::createUuid();
    const QByteArray document = encodePresets({SettingsPreset{id, "a/b \"Web\"", unusualValues()}});
    EXPECT_FALSE(document.contains('\n'));

    const QJsonDocument json = QJsonDocument::fromJson(document);
    ASSERT_TRUE(json.isArray());
    ASSERT_EQ(json.array().size(), 1);
    const QJsonObject preset = json.array()[0].toObject();
    EXPECT_EQ(preset.keys(), (QStringList{"id", "name", "values"}));
    const QString idText = preset["id"].toString();
    EXPECT_TRUE(QRegularExpression("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$")
                    .match(idText)
                    .hasMatch())
        << idText.toStdString();
    EXPECT_EQ(QUuid::fromString(idText), id);
    EXPECT_EQ(preset["name"].toString(), "a/b \"Web\"");

    // One member per setting, of the kinds other readers of the file expect;
    // a large integer keeps every digit.
    const QJsonObject values = preset["values"].toObject();
    EXPECT_EQ(values.size(), 23);
    EXPECT_TRUE(values["resizeWidthText"].isString());
    EXPECT_TRUE(values["backupOnInPlace"].isBool());
    EXPECT_EQ(values["lossyQuality"].toInteger(), int64_t{1} << 62);
    EXPECT_EQ(values["sequenceSeparatorOption"].toString(), "space");

    // What is written reads back equal, out-of-range numbers included.
    const auto decoded = decodePresets(document);
    ASSERT_TRUE(decoded.has_value());
    ASSERT_EQ(decoded->size(), 1u);
    EXPECT_EQ((*decoded)[0].id, id);
    EXPECT_EQ((*decoded)[0].values, unusualValues());
    EXPECT_EQ(decodePresets("[]"), std::vector<SettingsPreset>());
}

TEST(SettingsPresetTest, ReadingToleratesWhatTheFormatAllows)
{
    auto read = [](const QByteArray& document) {
        const auto presets = decodePresets(document);
        EXPECT_TRUE(presets.has_value()) << document.toStdString();
        return presets.value_or(std::vector<SettingsPreset>());
    };
    EXPECT_FALSE(read(withValues([](QJsonObject& v) { v.remove("askForNameBeforeExport"); }))[0]
                     .values.askForNameBeforeExport);
    EXPECT_FALSE(read(withValues([](QJsonObject& v) { v["askForNameBeforeExport"] = QJsonValue::Null; }))[0]
                     .values.askForNameBeforeExport);
    EXPECT_EQ(read(withValues([](QJsonObject& v) { v["extra"] = 1; }))[0].values, unusualValues());
    EXPECT_EQ(read(withValues([](QJsonObject& v) { v["lossyQuality"] = 80.0; }))[0].values.lossyQuality, 80);
    EXPECT_EQ(read(withValues([](QJsonObject& v) { v["lossyQuality"] = 500; }))[0].values.lossyQuality, 500);
    EXPECT_EQ(read(withValues([](QJsonObject& v) { v["customFolderPath"] = ""; }))[0].values.customFolderPath, "");
    EXPECT_EQ(read(withPreset([](QJsonObject& p) { p["id"] = p["id"].toString().toLower(); })).size(), 1u);
    EXPECT_EQ(read(withPreset([](QJsonObject& p) { p["id"] = "00000000-0000-0000-0000-000000000000"; }))[0].id,
              QUuid());
}

TEST(SettingsPresetTest, ABadFieldAnywhereEmptiesTheWholeList)
{
    const std::vector<QByteArray> documents{
        "",
        "not json",
        "{}",
        "[null]",
        "[{\"id\":1}]",
        withPreset([](QJsonObject& p) { p.remove("id"); }),
        withPreset([](QJsonObject& p) { p["id"] = "not-a-uuid"; }),
        withPreset([](QJsonObject& p) { p["id"] = "{" + p["id"].toString() + "}"; }),
        withPreset([](QJsonObject& p) { p["name"] = QJsonValue::Null; }),
        withPreset([](QJsonObject& p) { p["values"] = QJsonArray(); }),
        withValues([](QJsonObject& v) { v.remove("resizeMode"); }),
        withValues([](QJsonObject& v) { v["customFolderPath"] = QJsonValue::Null; }),
        withValues([](QJsonObject& v) { v["mode"] = "Lossy"; }),
        withValues([](QJsonObject& v) { v["lossyQuality"] = "80"; }),
        withValues([](QJsonObject& v) { v["lossyQuality"] = 80.5; }),
        withValues([](QJsonObject& v) { v["lossyQuality"] = 1e30; }),
        withValues([](QJsonObject& v) { v["resizeEnabled"] = 1; }),
        withValues([](QJsonObject& v) { v["askForNameBeforeExport"] = 0; }),
        withValues([](QJsonObject& v) { v["resizeWidthText"] = 640; }),
    };
    for (const QByteArray& bad : documents) {
        EXPECT_FALSE(decodePresets(bad).has_value()) << bad.toStdString();

        // A good preset before the bad one does not survive either, and the
        // bad document stays stored until the list is next changed.
        QJsonArray array = validDocument();
        const QJsonDocument badJson = QJsonDocument::fromJson(bad);
        if (badJson.isArray() && !badJson.array().isEmpty()) {
            array.append(badJson.array()[0]);
            const QByteArray mixed = QJsonDocument(array).toJson(QJsonDocument::Compact);
            EXPECT_FALSE(decodePresets(mixed).has_value()) << mixed.toStdString();
        }
        MemoryDefaultsStore store;
        store.setData(kPresetsKey, bad);
        const AppSettings settings(store);
        EXPECT_TRUE(settings.presets().empty());
        EXPECT_EQ(storedDocument(store), bad);
    }
}
