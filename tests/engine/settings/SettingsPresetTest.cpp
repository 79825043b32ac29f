#include "SettingsPreset.h"
#include "AppSettings.h"
#include "DefaultsStore.h"

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

// Every field away from its default, with texts that need escaping in JSON
// and numbers outside the ranges.
const SettingsValues kUnusual{Mode::lossy,
                              int64_t{1} << 62,
                              AppSettings::OutputModeOption::customFolder,
                              false,
                              AppSettings::TargetFormatOption::webp,
                              AppSettings::OriginalFileHandlingOption::moveToTrash,
                              AppSettings::RenamingModeOption::sequence,
                              QString::fromUtf8("fotka \"č\" \\ \n"),
                              "pre",
                              "suf",
                              -5,
                              AppSettings::SequenceSeparatorOption::space,
                              "/a/b/c",
                              true,
                              Resize::height,
                              "1",
                              "2",
                              "3",
                              "4",
                              "5",
                              "abc",
                              " 50 ",
                              true};

// The document of one preset with kUnusual values, edited.
QByteArray editedDocument(const std::function<void(QJsonObject& preset)>& edit)
{
    QJsonArray array = QJsonDocument::fromJson(encodePresets({{QUuid::createUuid(), "Web", kUnusual}})).array();
    QJsonObject preset = array[0].toObject();
    edit(preset);
    array[0] = preset;
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

QByteArray withValue(const char* name, const QJsonValue& value)
{
    return editedDocument([&](QJsonObject& preset) {
        QJsonObject values = preset["values"].toObject();
        values[QLatin1StringView(name)] = value;
        preset["values"] = values;
    });
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
    EXPECT_EQ(settings.presets(), std::vector<SettingsPreset>{*web});
    EXPECT_EQ(settings.activePreset(), web);
    EXPECT_EQ(presetSignals, 1);

    settings.savePreset("Print");
    settings.setLossyQuality(42);
    const std::optional<SettingsPreset> updated = settings.savePreset("WEB");
    ASSERT_TRUE(updated.has_value());
    EXPECT_EQ(updated->id, web->id);
    EXPECT_EQ(updated->name, "Web");
    EXPECT_EQ(updated->values.lossyQuality, 42);
    ASSERT_EQ(settings.presets().size(), 2u);
    EXPECT_EQ(settings.presets()[0], *updated);
    EXPECT_EQ(store.data(kPresetsKey), encodePresets(settings.presets()));

    // A blank name saves and writes nothing.
    presetSignals = 0;
    store.setRawValue(kPresetsKey, QVariant());
    EXPECT_FALSE(settings.savePreset(QString::fromUtf8(" \t\n\r\u3000")).has_value());
    EXPECT_EQ(presetSignals, 0);
    EXPECT_FALSE(store.contains(kPresetsKey));
}

TEST(SettingsPresetTest, ActivePresetIsTheFirstWithEqualValues)
{
    MemoryDefaultsStore store;
    AppSettings settings(store);
    const SettingsPreset first = *settings.savePreset("First");
    const SettingsPreset second = *settings.savePreset("Second");
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

TEST(SettingsPresetTest, ApplyAssignsEverySettingAndRepairsThree)
{
    MemoryDefaultsStore store;
    AppSettings settings(store);
    int changes = 0;
    QObject::connect(&settings, &AppSettings::changed, &settings, [&] { ++changes; });

    SettingsValues values = kUnusual;
    values.lossyQuality = 150;
    values.sequenceDigits = 9;
    values.customFolderPath = "";
    const SettingsPreset preset{QUuid::createUuid(), "Outside the list", values};
    settings.applyPreset(preset);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(store.keys().size(), 23); // the preset list untouched

    SettingsValues expected = values;
    expected.lossyQuality = 100;
    expected.sequenceDigits = 5;
    expected.customFolderPath = AppSettings::defaultCustomFolderPath();
    EXPECT_EQ(settings.currentValues(), expected);
    // Stored values outside the ranges never make the preset active.
    settings.setPresets({preset});
    EXPECT_FALSE(settings.activePreset().has_value());

    values.lossyQuality = -3;
    values.sequenceDigits = -3;
    settings.applyPreset(SettingsPreset{QUuid::createUuid(), "Low", values});
    EXPECT_EQ(settings.lossyQuality(), 1);
    EXPECT_EQ(settings.sequenceDigits(), 0);
    // Applying the values already in place still writes every setting.
    changes = 0;
    settings.applyPreset(SettingsPreset{QUuid::createUuid(), "Same", settings.currentValues()});
    EXPECT_EQ(changes, 1);
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
    settings.setPresets({a, b, a});

    settings.deletePreset(a.id);
    EXPECT_EQ(settings.presets(), std::vector<SettingsPreset>{b});
    // The settings stay as they were even when the active preset goes.
    settings.deletePreset(b.id);
    EXPECT_EQ(settings.mode(), Mode::lossy);

    settings.setPresets({b});
    store.setRawValue(kPresetsKey, QVariant());
    int presetSignals = 0;
    QObject::connect(&settings, &AppSettings::presetsChanged, &settings, [&] { ++presetSignals; });
    settings.deletePreset(QUuid::createUuid());
    EXPECT_EQ(presetSignals, 1);
    EXPECT_EQ(store.data(kPresetsKey), encodePresets({b}));
}

TEST(SettingsPresetTest, DocumentHasTheExpectedShapeAndReadsBack)
{
    const QUuid id = QUuid::createUuid();
    const QByteArray document = encodePresets({SettingsPreset{id, "a/b \"Web\"", kUnusual}});
    EXPECT_FALSE(document.contains('\n'));
    const QJsonArray array = QJsonDocument::fromJson(document).array();
    ASSERT_EQ(array.size(), 1);
    const QJsonObject preset = array[0].toObject();
    EXPECT_EQ(preset.keys(), (QStringList{"id", "name", "values"}));
    const QString idText = preset["id"].toString();
    EXPECT_TRUE(QRegularExpression("^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$").match(idText).hasMatch())
        << idText.toStdString();
    EXPECT_EQ(preset["name"].toString(), "a/b \"Web\"");
    EXPECT_EQ(preset["values"].toObject().size(), 23);
    // A large integer keeps every digit; out-of-range numbers read back as written.
    EXPECT_EQ(preset["values"]["lossyQuality"].toInteger(), int64_t{1} << 62);
    EXPECT_EQ(decodePresets(document), (std::vector<SettingsPreset>{{id, "a/b \"Web\"", kUnusual}}));
    EXPECT_EQ(decodePresets("[]"), std::vector<SettingsPreset>());
}

// A bad document empties the whole list; what the format allows does not.
// Each member of "values" alone is checked per setting with the settings.
TEST(SettingsPresetTest, ABadPartAnywhereEmptiesTheWholeList)
{
    const auto setId = [](const QString& id) { return editedDocument([&](QJsonObject& p) { p["id"] = id; }); };
    const std::vector<std::pair<QByteArray, bool>> documents{
        {"not json", false},
        {"{}", false},
        {"[null]", false},
        {"[{\"id\":1}]", false},
        {editedDocument([](QJsonObject& p) { p.remove("id"); }), false},
        {setId("not-a-uuid"), false},
        {setId("{" + QUuid::createUuid().toString(QUuid::WithoutBraces) + "}"), false},
        {editedDocument([](QJsonObject& p) { p["name"] = QJsonValue::Null; }), false},
        {editedDocument([](QJsonObject& p) { p["values"] = QJsonArray(); }), false},
        {withValue("lossyQuality", 80.5), false},
        {withValue("lossyQuality", 80.0), true},
        {withValue("extra", 1), true},
        {withValue("customFolderPath", ""), true},
        {setId(QUuid::createUuid().toString(QUuid::WithoutBraces).toLower()), true},
        {setId("00000000-0000-0000-0000-000000000000"), true},
    };
    for (const auto& [document, good] : documents) {
        EXPECT_EQ(decodePresets(document).has_value(), good) << document.toStdString();
        if (good)
            continue;
        // A good preset before the bad one does not survive either, and the
        // bad document stays stored until the list is next changed.
        const QJsonDocument badJson = QJsonDocument::fromJson(document);
        if (badJson.isArray()) {
            QJsonArray mixed = QJsonDocument::fromJson(editedDocument([](QJsonObject&) {})).array();
            mixed.append(badJson.array()[0]);
            EXPECT_FALSE(decodePresets(QJsonDocument(mixed).toJson()).has_value()) << document.toStdString();
        }
        MemoryDefaultsStore store;
        store.setData(kPresetsKey, document);
        EXPECT_TRUE(AppSettings(store).presets().empty());
        EXPECT_EQ(store.data(kPresetsKey), document);
    }
}
