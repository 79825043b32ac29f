#include "FooterView.h"
#include "AppSettings.h"
#include "DefaultsStore.h"
#include "Localization.h"
#include "PresetMenuButton.h"
#include "SettingsSummary.h"
#include "TestDoubles.h"

#include <QApplication>

#include <functional>

using namespace vantro;
using namespace vantro::testing;
using S = AppSettings;
using Setup = std::function<void(AppSettings&)>;
Q_DECLARE_METATYPE(Setup)

namespace {

struct Fixture {
    MemoryDefaultsStore store;
    S settings{store};
    FakePrompt prompt;
    FakeDesktop desktop;
    FooterView footer{settings, desktop, prompt};

    template <typename Widget>
    Widget* get(const char* name)
    {
        return footer.findChild<Widget*>(QLatin1StringView(name));
    }
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
    // The ticked items' titles, then the button's title.
    QStringList ticked()
    {
        QStringList titles;
        for (QAction* action : items()) {
            if (action->isChecked())
                titles << action->text();
        }
        return titles << presets()->text();
    }
    void askToSave() { item(Strings(AppLanguage::current()).saveCurrentSettingsEllipsis)->trigger(); }
    void save(const QString& name)
    {
        askToSave();
        prompt.answer(name);
    }
    void showAt(int width)
    {
        footer.resize(width, 60);
        footer.show();
        QVERIFY(QTest::qWaitForWindowExposed(&footer));
    }
};

} // namespace

class FooterViewTest : public QObject {
    Q_OBJECT

    const QFont m_font = QApplication::font();

private Q_SLOTS:
    void init() { QLocale::setDefault(kEnglish); }
    void cleanup()
    {
        QLocale::setDefault(kEnglish);
        QApplication::setFont(m_font);
    }

    void summaryPieces_data()
    {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<QString>("summary");
        const QString names = QStringLiteral("Keep original | Keep names");
        const auto folder = [](const char* path) {
            return Setup([=](S& s) {
                s.setOutputMode(S::OutputModeOption::customFolder);
                s.setCustomFolderPath(QString::fromUtf8(path));
            });
        };
        const auto sequence = [](const char* base, int digits, S::TargetFormatOption format) {
            return Setup([=](S& s) {
                s.setRenamingMode(S::RenamingModeOption::sequence);
                s.setRenamingBaseName(QString::fromUtf8(base));
                s.setSequenceDigits(digits);
                s.setSequenceSeparatorOption(S::SequenceSeparatorOption::underscore);
                s.setTargetFormat(format);
            });
        };
        const auto resize = [](S::ResizeModeOption mode, bool enabled) {
            return Setup([=](S& s) {
                s.selectResizeMode(mode);
                s.setResizePercentageText(QStringLiteral("55.9"));
                s.setResizeEnabled(enabled);
            });
        };
        QTest::newRow("defaults") << Setup([](S&) {}) << "Lossless | Copy alongside | " + names;
        QTest::newRow("folder's own name") << folder("/a/Out put/") << "Lossless | Custom folder (Out put) | " + names;
        QTest::newRow("root folder") << folder("/") << "Lossless | Custom folder | " + names;
        // An example name replaces format and renaming, numbered like the first file.
        QTest::newRow("sequence, converted")
            << sequence("photo", 5, S::TargetFormatOption::webp) << "Lossless | Copy alongside | photo_00001.webp";
        QTest::newRow("sequence, no number")
            << sequence("  ", 0, S::TargetFormatOption::jpeg) << "Lossless | Copy alongside |   .jpg";
        QTest::newRow("sequence, format kept") << sequence("photo", 2, S::TargetFormatOption::keepOriginal)
                                               << "Lossless | Copy alongside | Keep original | photo + number";
        QTest::newRow("sequence, no base") << sequence("", 2, S::TargetFormatOption::keepOriginal)
                                           << "Lossless | Copy alongside | Keep original | Custom name + number";
        // Switched on without a chosen option, the longest side applies.
        QTest::newRow("resize, no option")
            << resize(S::ResizeModeOption::original, true)
            << QStringLiteral(u"Lossless | Copy alongside | Keep original | Keep names | \u22642000px");
        QTest::newRow("resize, percentage")
            << resize(S::ResizeModeOption::percentage, true) << "Lossless | Copy alongside | " + names + " | 55%";
        QTest::newRow("resize off") << resize(S::ResizeModeOption::percentage, false)
                                    << "Lossless | Copy alongside | " + names;
        QTest::newRow("Czech") << Setup([=](S& s) {
            QLocale::setDefault(kCzech);
            s.setMode(S::CompressionModeOption::lossy);
            folder("/tmp/Export")(s);
            sequence("foto", 2, S::TargetFormatOption::keepOriginal)(s);
            s.setResizeEnabled(true);
            s.setResizeMode(S::ResizeModeOption::maxShortEdge);
        })
                               << QStringLiteral(u"Lossy | Vlastní složka (Export) | Zachovat původní | foto + číslo | "
                                                 u"\u22642000px (kratší strana)");
    }

    void summaryPieces()
    {
        QFETCH(Setup, setup);
        QFETCH(QString, summary);
        MemoryDefaultsStore store;
        S settings(store);
        setup(settings);
        QCOMPARE(settingsSummary(settings), summary);
    }

    void summaryLabelElidesAndOpensSettings()
    {
        Fixture f;
        f.settings.setOutputMode(S::OutputModeOption::customFolder);
        f.settings.setCustomFolderPath(QStringLiteral("/tmp/") + QString(120, u'x'));
        const QString full = settingsSummary(f.settings);
        auto* label = f.get<QLabel>("settingsSummary");
        QCOMPARE(label->toolTip(), full + QStringLiteral("\n\nDouble-click opens Settings."));
        f.showAt(500);
        const QString shown = label->text();
        QVERIFY(shown.startsWith(QStringLiteral("Lossless")) && shown.endsWith(QStringLiteral("Keep names")));
        QVERIFY(shown.contains(QChar(0x2026)) && !shown.contains(u'\n'));
        QVERIFY(label->geometry().right() < f.footer.findChild<QPushButton*>()->geometry().left());
        f.footer.resize(3000, 60);
        QTRY_COMPARE(label->text(), full);

        QSignalSpy opened(&f.footer, &FooterView::openSettingsRequested);
        QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(label->width() - 2, label->height() / 2));
        QCOMPARE(opened.count(), 0);
        // Anywhere in the frame, also off the glyphs.
        QTest::mouseDClick(label, Qt::LeftButton, {}, QPoint(label->width() - 1, 1));
        QCOMPARE(opened.count(), 1);
        press(f.get<QToolButton>("settingsButton"));
        QCOMPARE(opened.count(), 2);

        // A setting change reaches the label and its tooltip at once.
        f.settings.setMode(S::CompressionModeOption::lossy);
        QVERIFY(label->toolTip().startsWith(QStringLiteral("Lossy | ")));
        QTRY_VERIFY(label->text().startsWith(QStringLiteral("Lossy | ")));
    }

    void buttonsAndCount()
    {
        Fixture f;
        f.showAt(700);
        press(f.get<QToolButton>("supportButton"));
        QCOMPARE(f.desktop.calls, QStringList{QStringLiteral("web ") + kSupportPageUrl.toString()});
        // The texts follow the locale at the next refresh; the count stays plain.
        QLocale::setDefault(kCzech);
        f.footer.setJobCount(1234567);
        QCOMPARE(f.get<QLabel>("jobCount")->text(), QStringLiteral("1234567"));
        QCOMPARE(f.get<QPushButton>("stopButton")->text(), QStringLiteral(u"Přerušit"));
        QVERIFY(f.get<QLabel>("settingsSummary")->toolTip().endsWith(QStringLiteral(u"Dvojklik otevře nastavení.")));
    }

    // Which names are kept and which preset is active is the settings'
    // business; the menu shows it and follows every change.
    void presetMenuSavesAppliesAndDeletes()
    {
        Fixture f;
        QCOMPARE(f.presets()->popupMode(), QToolButton::InstantPopup);
        QCOMPARE(f.items().size(), 3);
        QVERIFY(!f.item(QStringLiteral("No saved presets yet"))->isEnabled());
        f.askToSave();
        QCOMPARE(f.prompt.questions.back().texts.title, QStringLiteral("Save Settings Preset"));
        f.prompt.answer(std::nullopt);
        QVERIFY(!f.deleteMenu());

        // The new preset is ticked and names the menu; the prompt then starts
        // with its name, and with none after a change away from it.
        f.save(QStringLiteral("Web"));
        QCOMPARE(f.ticked(), (QStringList{"Web", "Web"}));
        QVERIFY(!f.item(QStringLiteral("No saved presets yet")));
        f.askToSave();
        QCOMPARE(f.prompt.questions.back().initialText, QStringLiteral("Web"));
        f.settings.setTargetFormat(S::TargetFormatOption::png);
        QCOMPARE(f.ticked(), QStringList{"Presets"});
        f.askToSave();
        QCOMPARE(f.prompt.questions.back().initialText, QString());

        // A second preset, then applying the first from the menu, twice.
        f.prompt.answer(QStringLiteral("R&D"));
        QCOMPARE(f.ticked(), (QStringList{"R&&D", "R&&D"}));
        for (int time = 0; time < 2; ++time) {
            f.item(QStringLiteral("Web"))->trigger();
            QCOMPARE(f.settings.targetFormat(), S::TargetFormatOption::keepOriginal);
            QCOMPARE(f.ticked(), (QStringList{"Web", "Web"}));
        }

        // Deleting the active one hands the title to its twin.
        f.save(QStringLiteral("Copy of Web"));
        QCOMPARE(f.deleteMenu()->title(), QStringLiteral("Delete"));
        f.deleteMenu()->actions()[0]->trigger();
        QCOMPARE(f.ticked(), (QStringList{"Copy of Web", "Copy of Web"}));
        f.deleteMenu()->actions()[1]->trigger();
        f.deleteMenu()->actions()[0]->trigger();
        QVERIFY(f.settings.presets().empty());
        QCOMPARE(f.ticked(), QStringList{"Presets"});
        // The old items go with the event loop, not under a running handler.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(f.items().size(), 3);
    }

    void aLongPresetTitleIsCutInsideItsButtonAt480_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("name");
        QTest::newRow("en") << kEnglish << QStringLiteral("Web export for the online shop gallery, small");
        QTest::newRow("cs") << kCzech << QStringLiteral(u"Export pro webovou galerii e\u2011shopu, malé náhledy");
    }

    void aLongPresetTitleIsCutInsideItsButtonAt480()
    {
        QFETCH(QLocale, locale);
        QFETCH(QString, name);
        QLocale::setDefault(locale);
        Fixture f;
        f.save(name);
        f.showAt(480);
        PresetMenuButton* button = f.presets();
        QCOMPARE(button->title(), name);
        QTRY_VERIFY(button->text().endsWith(QChar(0x2026)));
        // Only once the summary has given all it can.
        QCOMPARE(f.get<QLabel>("settingsSummary")->text(), QString(QChar(0x2026)));
        // The title stays between the padding and the arrow's room.
        QVERIFY(button->fontMetrics().horizontalAdvance(button->text()) <= button->width() - 8 - 18);
        QVERIFY(button->geometry().right() < f.footer.findChild<QPushButton*>()->geometry().left());
        QVERIFY(f.get<QToolButton>("settingsButton")->geometry().right() < 480);
    }

    // The menu keeps its whole title while the summary can still give way;
    // titles that measure a fraction of a pixel over a whole one included.
    void thePresetTitleShowsWholeAndTheSummaryGivesWay_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<qreal>("pointSize");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("longSummary");
        for (const int width : {1200, 760, 480}) {
            for (const qreal pointSize : {0.0, 12.0}) {
                for (const char* title : {"Lossless default", "Web lossy & small", "Presets"}) {
                    for (const bool longSummary : {false, true}) {
                        QTest::addRow("%d px, %s pt, %s, %s summary", width, pointSize > 0 ? "12" : "default", title,
                                      longSummary ? "long" : "default")
                            << width << pointSize << QString::fromUtf8(title) << longSummary;
                    }
                }
            }
        }
    }

    void thePresetTitleShowsWholeAndTheSummaryGivesWay()
    {
        QFETCH(int, width);
        QFETCH(qreal, pointSize);
        QFETCH(QString, title);
        QFETCH(bool, longSummary);
        if (pointSize > 0) {
            QFont font = QApplication::font();
            font.setPointSizeF(pointSize);
            QApplication::setFont(font);
        }
        Fixture f;
        if (longSummary) {
            // Far wider than any window.
            f.settings.setOutputMode(S::OutputModeOption::customFolder);
            f.settings.setCustomFolderPath(QStringLiteral("/tmp/") + QString(200, u'x'));
        }
        if (title != QStringLiteral("Presets"))
            f.save(title);
        f.showAt(width);
        PresetMenuButton* button = f.presets();
        auto* summary = f.get<QLabel>("settingsSummary");
        QCOMPARE(button->title(), title);
        QTRY_COMPARE(button->text(), QString(title).replace(u'&', QStringLiteral("&&")));
        if (longSummary)
            QVERIFY(summary->text().contains(QChar(0x2026)) && (summary->text().size() > 1 || width == 480));
        else if (width == 1200)
            QCOMPARE(summary->text(), settingsSummary(f.settings));
        QVERIFY(button->width() >= button->sizeHint().width());
        QVERIFY(summary->geometry().right() < f.get<QLabel>("jobCount")->geometry().left());
        QVERIFY(button->geometry().right() < f.get<QPushButton>("stopButton")->geometry().left());
        QVERIFY(f.get<QToolButton>("settingsButton")->geometry().right() < width);
    }

    void lateAnswerAfterTheFooterIsGone()
    {
        MemoryDefaultsStore store;
        S settings(store);
        FakePrompt prompt;
        FakeDesktop desktop;
        FooterView(settings, desktop, prompt).findChild<PresetMenuButton*>()->askToSavePreset();
        prompt.answer(QStringLiteral("Late"));
        QVERIFY(settings.presets().empty());
    }
};

QTEST_MAIN(FooterViewTest)
#include "FooterViewTest.moc"
