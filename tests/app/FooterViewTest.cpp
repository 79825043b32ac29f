#include "AppSettings.h"
#include "DefaultsStore.h"
#include "DesktopActions.h"
#include "FooterView.h"
#include "Localization.h"
#include "PresetMenuButton.h"
#include "SettingsSummary.h"
#include "TextPrompt.h"

#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <memory>
#include <optional>
#include <vector>

using namespace vantro;

namespace {

using S = AppSettings;

const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);
const QLocale kCzech(QLocale::Czech, QLocale::CzechRepublic);

// Records each question and answers only when the test says so.
class FakePrompt final : public TextPrompt {
public:
    void ask(QWidget*, const TextPromptTexts& texts, const QString& initialText,
             std::function<void(std::optional<QString>)> done) override
    {
        asked = texts;
        initial = initialText;
        pending = std::move(done);
        ++count;
    }

    void answer(std::optional<QString> text)
    {
        auto call = std::move(pending);
        pending = nullptr;
        QVERIFY(call);
        call(std::move(text));
    }

    TextPromptTexts asked;
    QString initial;
    std::function<void(std::optional<QString>)> pending;
    int count = 0;
};

class FakeDesktop final : public DesktopActions {
public:
    void openFile(const QString&) override {}
    void revealInFileManager(const QString&) override {}
    void copyPath(const QString&) override {}
    void openWebPage(const QUrl& url) override { pages.push_back(url); }

    std::vector<QUrl> pages;
};

struct Fixture {
    MemoryDefaultsStore store;
    S settings{store};
    FakePrompt prompt;
    FakeDesktop desktop;
    FooterView footer{settings, desktop, prompt};

    QLabel* summary() { return footer.findChild<QLabel*>(QStringLiteral("settingsSummary")); }
    QLabel* jobCount() { return footer.findChild<QLabel*>(QStringLiteral("jobCount")); }
    PresetMenuButton* presets() { return footer.findChild<PresetMenuButton*>(); }

    QList<QAction*> items() { return presets()->menu()->actions(); }
    QAction* item(const QString& title)
    {
        for (QAction* action : items()) {
            if (action->text() == title)
                return action;
        }
        return nullptr;
    }
    QMenu* deleteMenu()
    {
        for (QAction* action : items()) {
            if (action->menu())
                return action->menu();
        }
        return nullptr;
    }
    QStringList checkedTitles()
    {
        QStringList titles;
        for (QAction* action : items()) {
            if (action->isChecked())
                titles << action->text();
        }
        return titles;
    }
    void save(const QString& name)
    {
        item(Strings(AppLanguage::current()).saveCurrentSettingsEllipsis)->trigger();
        prompt.answer(name);
    }
};

} // namespace

class FooterViewTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { QLocale::setDefault(kEnglish); }
    void cleanup() { QLocale::setDefault(kEnglish); }

    void summaryPieces()
    {
        MemoryDefaultsStore store;
        S settings(store);
        QCOMPARE(settingsSummary(settings), QStringLiteral("Lossless | Copy alongside | Keep original | Keep names"));

        // The folder's own name, trailing slashes aside; none for the root.
        settings.setOutputMode(S::OutputModeOption::customFolder);
        settings.setCustomFolderPath(QStringLiteral("/data/Out put/"));
        QVERIFY(settingsSummary(settings).contains(QStringLiteral("| Custom folder (Out put) |")));
        settings.setCustomFolderPath(QStringLiteral("/"));
        QVERIFY(settingsSummary(settings).contains(QStringLiteral("| Custom folder |")));

        // The example name replaces both the format and the renaming piece,
        // numbered as the engine numbers the first file.
        settings.setOutputMode(S::OutputModeOption::copyAlongside);
        settings.setRenamingMode(S::RenamingModeOption::sequence);
        settings.setRenamingBaseName(QStringLiteral("photo"));
        settings.setTargetFormat(S::TargetFormatOption::webp);
        settings.setSequenceDigits(5);
        settings.setSequenceSeparatorOption(S::SequenceSeparatorOption::underscore);
        QCOMPARE(settingsSummary(settings), QStringLiteral("Lossless | Copy alongside | photo_00001.webp"));
        settings.setTargetFormat(S::TargetFormatOption::jpeg);
        settings.setSequenceDigits(0);
        QCOMPARE(settingsSummary(settings), QStringLiteral("Lossless | Copy alongside | photo.jpg"));

        // A base name of spaces is not empty and is shown as stored.
        settings.setRenamingBaseName(QStringLiteral("  "));
        settings.setSequenceDigits(2);
        settings.setSequenceSeparatorOption(S::SequenceSeparatorOption::dash);
        QCOMPARE(settingsSummary(settings), QStringLiteral("Lossless | Copy alongside |   -01.jpg"));

        // With the format kept the two pieces stay apart.
        settings.setRenamingBaseName(QStringLiteral("photo"));
        settings.setTargetFormat(S::TargetFormatOption::keepOriginal);
        QCOMPARE(settingsSummary(settings), QStringLiteral("Lossless | Copy alongside | Keep original | photo + number"));
        settings.setRenamingBaseName(QString());
        QCOMPARE(settingsSummary(settings),
                 QStringLiteral("Lossless | Copy alongside | Keep original | Custom name + number"));
    }

    void summaryResizePieces()
    {
        MemoryDefaultsStore store;
        S settings(store);
        const QString head = QStringLiteral("Lossless | Copy alongside | Keep original | Keep names | ");
        const auto resize = [&] { return settingsSummary(settings).mid(head.size()); };

        // Switched on without a chosen option, the longest side applies.
        settings.setResizeEnabled(true);
        settings.setResizeMode(S::ResizeModeOption::original);
        QCOMPARE(resize(), QStringLiteral(u"\u22642000px"));

        settings.selectResizeMode(S::ResizeModeOption::maxShortEdge);
        settings.setResizeMaxShortEdgeText(QStringLiteral("800"));
        QCOMPARE(resize(), QStringLiteral(u"\u2264800px (short side)"));
        // A percentage drops its fraction.
        settings.selectResizeMode(S::ResizeModeOption::percentage);
        settings.setResizePercentageText(QStringLiteral("55.9"));
        QCOMPARE(resize(), QStringLiteral("55%"));
        settings.setResizePercentageText(QStringLiteral("1.99"));
        QCOMPARE(resize(), QStringLiteral("1%"));

        // Switched off, no piece, whatever option is stored.
        settings.selectResizeMode(S::ResizeModeOption::original);
        QCOMPARE(settingsSummary(settings), head.chopped(3));
    }

    void summaryInCzech()
    {
        QLocale::setDefault(kCzech);
        MemoryDefaultsStore store;
        S settings(store);
        settings.setMode(S::CompressionModeOption::lossy);
        settings.setOutputMode(S::OutputModeOption::customFolder);
        settings.setCustomFolderPath(QStringLiteral("/tmp/Export"));
        settings.setRenamingMode(S::RenamingModeOption::sequence);
        settings.setRenamingBaseName(QStringLiteral("foto"));
        settings.setResizeEnabled(true);
        settings.setResizeMode(S::ResizeModeOption::maxShortEdge);
        QCOMPARE(settingsSummary(settings),
                 QStringLiteral(u"Lossy | Vlastn\u00ED slo\u017Eka (Export) | Zachovat p\u016Fvodn\u00ED | foto + "
                                u"\u010D\u00EDslo | \u22642000px (krat\u0161\u00ED strana)"));
    }

    void summaryLabelElidesAndOpensSettings()
    {
        Fixture f;
        f.settings.setOutputMode(S::OutputModeOption::customFolder);
        f.settings.setCustomFolderPath(QStringLiteral("/tmp/") + QString(120, u'x') + QStringLiteral("END"));
        const QString full = settingsSummary(f.settings);
        QLabel* label = f.summary();
        QCOMPARE(label->toolTip(), full + QStringLiteral("\n\nDouble-click opens Settings."));

        f.footer.resize(500, 60);
        f.footer.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.footer));
        const QString shown = label->text();
        QVERIFY(shown.size() < full.size());
        QVERIFY(!shown.contains(u'\n'));
        QVERIFY(shown.startsWith(QStringLiteral("Lossless")));
        QVERIFY(shown.endsWith(QStringLiteral("Keep names")));
        QVERIFY(shown.contains(QChar(0x2026)));
        QVERIFY(label->geometry().right() < f.footer.findChild<QPushButton*>()->geometry().left());

        // Given the room, the whole line shows again.
        f.footer.resize(3000, 60);
        QTRY_COMPARE(label->text(), full);

        QSignalSpy opened(&f.footer, &FooterView::openSettingsRequested);
        QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(label->width() - 2, label->height() / 2));
        QCOMPARE(opened.count(), 0);
        // Anywhere in the frame, also off the glyphs.
        QTest::mouseDClick(label, Qt::LeftButton, {}, QPoint(label->width() - 1, 1));
        QCOMPARE(opened.count(), 1);

        f.footer.findChild<QToolButton*>(QStringLiteral("settingsButton"))->click();
        QCOMPARE(opened.count(), 2);

        // A setting change reaches the label and its tooltip at once.
        f.settings.setMode(S::CompressionModeOption::lossy);
        QVERIFY(label->toolTip().startsWith(QStringLiteral("Lossy | ")));
        QTRY_VERIFY(label->text().startsWith(QStringLiteral("Lossy | ")));
    }

    void buttonsAndCount()
    {
        Fixture f;
        auto* stop = f.footer.findChild<QPushButton*>(QStringLiteral("stopButton"));
        auto* support = f.footer.findChild<QToolButton*>(QStringLiteral("supportButton"));
        QCOMPARE(f.jobCount()->text(), QStringLiteral("0"));

        QSignalSpy stopped(&f.footer, &FooterView::stopRequested);
        stop->click();
        stop->click();
        QCOMPARE(stopped.count(), 2);
        QVERIFY(stop->isEnabled());

        support->click();
        QCOMPARE(f.desktop.pages.size(), std::size_t{1});
        QCOMPARE(f.desktop.pages.front(), kSupportPageUrl);

        f.footer.setJobCount(12345);
        QCOMPARE(f.jobCount()->text(), QStringLiteral("12345"));

        // The texts follow the locale at the next refresh; the count stays plain.
        QLocale::setDefault(kCzech);
        f.footer.setJobCount(1234567);
        QCOMPARE(f.jobCount()->text(), QStringLiteral("1234567"));
        QCOMPARE(stop->text(), QStringLiteral(u"P\u0159eru\u0161it"));
        QCOMPARE(f.summary()->toolTip(),
                 settingsSummary(f.settings) + QStringLiteral(u"\n\nDvojklik otev\u0159e nastaven\u00ED."));
    }

    void presetMenuWithoutPresets()
    {
        Fixture f;
        QCOMPARE(f.presets()->popupMode(), QToolButton::InstantPopup);

        const QList<QAction*> items = f.items();
        QCOMPARE(items.size(), 3);
        QCOMPARE(items[0]->text(), QStringLiteral("No saved presets yet"));
        QVERIFY(!items[0]->isEnabled());
        QVERIFY(items[1]->isSeparator());
        QCOMPARE(items[2]->text(), QStringLiteral(u"Save Current Settings\u2026"));
        QVERIFY(!f.deleteMenu());

        items[2]->trigger();
        QCOMPARE(f.prompt.count, 1);
        QCOMPARE(f.prompt.initial, QString());
        QCOMPARE(f.prompt.asked.title, QStringLiteral("Save Settings Preset"));

        // Cancel and a blank name save nothing.
        f.prompt.answer(std::nullopt);
        f.save(QStringLiteral(" \n "));
        QVERIFY(f.settings.presets().empty());
        QVERIFY(!f.deleteMenu());
    }

    void presetMenuSavesAppliesAndDeletes()
    {
        Fixture f;
        PresetMenuButton* button = f.presets();

        // Saving trims the name; the new preset is ticked and names the menu.
        f.save(QStringLiteral("  Web  "));
        QCOMPARE(f.settings.presets().size(), std::size_t{1});
        QCOMPARE(f.settings.presets()[0].name, QStringLiteral("Web"));
        QCOMPARE(button->text(), QStringLiteral("Web"));
        QCOMPARE(f.checkedTitles(), QStringList{QStringLiteral("Web")});
        QVERIFY(!f.item(QStringLiteral("No saved presets yet")));
        QVERIFY(f.deleteMenu());
        QCOMPARE(f.deleteMenu()->title(), QStringLiteral("Delete"));
        QCOMPARE(f.deleteMenu()->actions().size(), 1);

        // With an active preset the prompt starts with its name.
        f.item(QStringLiteral(u"Save Current Settings\u2026"))->trigger();
        QCOMPARE(f.prompt.initial, QStringLiteral("Web"));
        f.prompt.answer(std::nullopt);

        // A change away from every preset clears tick and title.
        f.settings.setMode(S::CompressionModeOption::lossy);
        QCOMPARE(button->text(), QStringLiteral("Presets"));
        QVERIFY(f.checkedTitles().isEmpty());
        f.item(QStringLiteral(u"Save Current Settings\u2026"))->trigger();
        QCOMPARE(f.prompt.initial, QString());
        // The same name in other letters overwrites and keeps the stored name.
        const QUuid webId = f.settings.presets()[0].id;
        f.prompt.answer(QStringLiteral("WEB"));
        QCOMPARE(f.settings.presets().size(), std::size_t{1});
        QCOMPARE(f.settings.presets()[0].id, webId);
        QCOMPARE(f.settings.presets()[0].name, QStringLiteral("Web"));
        QCOMPARE(f.settings.presets()[0].values.mode, S::CompressionModeOption::lossy);
        QCOMPARE(button->text(), QStringLiteral("Web"));

        // A second preset, then applying the first from the menu.
        f.settings.setTargetFormat(S::TargetFormatOption::png);
        f.save(QStringLiteral("R&D"));
        QCOMPARE(button->text(), QStringLiteral("R&&D"));
        QCOMPARE(f.checkedTitles(), QStringList{QStringLiteral("R&&D")});
        f.item(QStringLiteral("Web"))->trigger();
        QCOMPARE(f.settings.targetFormat(), S::TargetFormatOption::keepOriginal);
        QCOMPARE(button->text(), QStringLiteral("Web"));
        QCOMPARE(f.checkedTitles(), QStringList{QStringLiteral("Web")});
        // Choosing the ticked one applies it again and keeps the tick.
        f.item(QStringLiteral("Web"))->trigger();
        QCOMPARE(f.checkedTitles(), QStringList{QStringLiteral("Web")});

        // Two presets of equal values: only the first is ticked.
        f.save(QStringLiteral("Copy of Web"));
        QCOMPARE(f.settings.presets().size(), std::size_t{3});
        QCOMPARE(f.checkedTitles(), QStringList{QStringLiteral("Web")});
        QCOMPARE(button->text(), QStringLiteral("Web"));

        // Deleting the active one hands the title to its twin.
        QCOMPARE(f.deleteMenu()->actions().size(), 3);
        f.deleteMenu()->actions()[0]->trigger();
        QCOMPARE(f.settings.presets().size(), std::size_t{2});
        QCOMPARE(f.settings.mode(), S::CompressionModeOption::lossy);
        QCOMPARE(button->text(), QStringLiteral("Copy of Web"));
        QCOMPARE(f.checkedTitles(), QStringList{QStringLiteral("Copy of Web")});

        f.deleteMenu()->actions()[1]->trigger();
        f.deleteMenu()->actions()[0]->trigger();
        QVERIFY(f.settings.presets().empty());
        QVERIFY(!f.deleteMenu());
        QVERIFY(f.item(QStringLiteral("No saved presets yet")));
        QCOMPARE(button->text(), QStringLiteral("Presets"));

        // The old items go with the event loop, not under a running handler.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(f.items().size(), 3);
    }

    void aLongPresetTitleIsCutInsideItsButtonAt480_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("name");
        QTest::newRow("en") << kEnglish << QStringLiteral("Web export for the online shop gallery, small");
        QTest::newRow("cs") << QLocale(QLocale::Czech, QLocale::CzechRepublic)
                            << QStringLiteral(u"Export pro webovou galerii e\u2011shopu, mal\u00E9 n\u00E1hledy");
    }

    void aLongPresetTitleIsCutInsideItsButtonAt480()
    {
        QFETCH(QLocale, locale);
        QFETCH(QString, name);
        QLocale::setDefault(locale);
        Fixture f;
        f.save(name);
        f.footer.resize(480, 60);
        f.footer.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.footer));
        PresetMenuButton* button = f.presets();
        QCOMPARE(button->title(), name);
        QTRY_VERIFY(button->text().endsWith(QChar(0x2026)));
        // The title stays between the padding and the arrow's room.
        constexpr int kPadding = 8 + 18;
        QVERIFY(button->fontMetrics().horizontalAdvance(button->text()) <= button->width() - kPadding);
        QVERIFY(button->geometry().right() < f.footer.findChild<QPushButton*>()->geometry().left());
        QVERIFY(f.footer.findChild<QToolButton*>(QStringLiteral("settingsButton"))->geometry().right() < 480);
    }

    void lateAnswerAfterTheFooterIsGone()
    {
        MemoryDefaultsStore store;
        S settings(store);
        FakePrompt prompt;
        FakeDesktop desktop;
        {
            FooterView footer(settings, desktop, prompt);
            footer.findChild<PresetMenuButton*>()->askToSavePreset();
        }
        prompt.answer(QStringLiteral("Late"));
        QVERIFY(settings.presets().empty());
    }
};

QTEST_MAIN(FooterViewTest)

#include "FooterViewTest.moc"
