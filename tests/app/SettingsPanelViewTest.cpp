#include "AppSettings.h"
#include "DefaultsStore.h"
#include "DesktopActions.h"
#include "FooterView.h"
#include "Prompts.h"
#include "SettingsPanelView.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QToolButton>

#include <functional>
#include <memory>
#include <optional>

using namespace vantro;
using namespace Qt::StringLiterals;

namespace {

using S = AppSettings;

class FakeFolderChooser final : public FolderChooser {
public:
    std::optional<QString> chooseFolder(QWidget*, const QString& startFolder) override
    {
        startedIn = startFolder;
        return answer;
    }

    std::optional<QString> answer;
    QString startedIn;
};

// The Settings window over settings in a memory store, shown.
struct Form {
    explicit Form(const std::function<void(AppSettings&)>& prepare = {})
    {
        if (prepare)
            prepare(settings);
        window = std::make_unique<SettingsPanelView>(settings, chooser);
        window->show();
        window->activateWindow();
    }

    template <typename Widget>
    Widget* get(const char* name) const
    {
        auto* widget = window->findChild<Widget*>(QLatin1StringView(name));
        if (widget == nullptr)
            qWarning("no widget named %s", name);
        return widget;
    }
    QComboBox* picker(const char* name) const { return get<QComboBox>(name); }
    QLabel* caption(const char* name) const { return get<QLabel>(name); }
    QLineEdit* field(const char* name) const { return get<QLineEdit>(name); }

    // The visible rows, top to bottom: each row's label, or a toggle's title.
    QStringList rows() const
    {
        const auto* form = window->findChild<QFormLayout*>();
        QStringList shown;
        for (int row = 0; row < form->rowCount(); ++row) {
            if (!form->isRowVisible(row))
                continue;
            if (QLayoutItem* label = form->itemAt(row, QFormLayout::LabelRole))
                shown << static_cast<QLabel*>(label->widget())->text();
            else
                shown << static_cast<QCheckBox*>(form->itemAt(row, QFormLayout::FieldRole)->widget())->text();
        }
        return shown;
    }

    // Picks an entry in the opened pop-up, as a click would; a disabled entry
    // takes no click.
    static void choose(QComboBox* picker, int row)
    {
        QVERIFY(picker->isEnabled());
        picker->showPopup();
        QAbstractItemView* list = picker->view();
        QTRY_VERIFY(list->isVisible());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualRect(list->model()->index(row, 0)).center());
        if (list->isVisible())
            picker->hidePopup();
    }

    MemoryDefaultsStore store;
    AppSettings settings{store};
    FakeFolderChooser chooser;
    std::unique_ptr<SettingsPanelView> window;
};

bool entryEnabled(const QComboBox* picker, int row)
{
    return picker->model()->index(row, 0).flags().testFlag(Qt::ItemIsEnabled);
}

void applyState(AppSettings& settings, const QString& state)
{
    if (state == QStringLiteral("lossy in place")) {
        settings.setMode(S::CompressionModeOption::lossy);
        settings.setOutputMode(S::OutputModeOption::inPlace);
        settings.selectResizeMode(S::ResizeModeOption::percentage);
    } else if (state == QStringLiteral("custom folder and sequence")) {
        settings.setOutputMode(S::OutputModeOption::customFolder);
        settings.setRenamingMode(S::RenamingModeOption::sequence);
        settings.setRenamingBaseName(QStringLiteral("A rather long base name for the example line to wrap"));
    } else if (state == QStringLiteral("prefix and suffix")) {
        settings.setRenamingMode(S::RenamingModeOption::prefixSuffix);
        settings.setTargetFormat(S::TargetFormatOption::webp);
        settings.setOriginalFileHandling(S::OriginalFileHandlingOption::moveToTrash);
    }
}

// What does not fit in the form: a control narrower than its text, a wrapped
// caption shorter than its lines, anything past the right edge.
QStringList clipped(const QWidget& content)
{
    QStringList found;
    for (QWidget* widget : content.findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(&content) || widget->objectName() == QStringLiteral("customFolderPath"))
            continue;
        const auto* label = qobject_cast<QLabel*>(widget);
        const bool textual = label || qobject_cast<QAbstractButton*>(widget) || qobject_cast<QComboBox*>(widget)
            || qobject_cast<QAbstractSpinBox*>(widget);
        const bool wraps = label && label->wordWrap();
        const QRect onForm(widget->mapTo(&content, QPoint(0, 0)), widget->size());
        if ((textual && !wraps && widget->width() < widget->sizeHint().width())
            || (wraps && widget->height() < label->heightForWidth(widget->width())) || onForm.right() >= content.width())
            found << widget->objectName() + QLatin1Char('/') + widget->metaObject()->className();
    }
    return found;
}

class NoDesktop final : public DesktopActions {
public:
    void openFile(const QString&) override {}
    void revealInFileManager(const QString&) override {}
    void copyPath(const QString&) override {}
    void openWebPage(const QUrl&) override {}
};

class NoPrompt final : public TextPrompt {
public:
    void ask(QWidget*, const TextPromptTexts&, const QString&, std::function<void(std::optional<QString>)>) override {}
};

} // namespace

class SettingsPanelViewTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void rowsFollowTheSettingsAndFitAt520_data()
    {
        QTest::addColumn<QLocale::Language>("language");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QStringList>("rows");
        const QStringList defaults{"Mode", "Resize", "Output", "Output format", "Original file", "Renaming"};
        QTest::newRow("defaults") << QLocale::English << QString() << defaults;
        QTest::newRow("lossy in place")
            << QLocale::English << "lossy in place"
            << QStringList{"Mode",          "Quality: 80",   "Resize",  "Output", "Back up original",
                           "Output format", "Original file", "Renaming"};
        QTest::newRow("custom folder and sequence")
            << QLocale::English << "custom folder and sequence"
            << QStringList{"Mode",          "Resize",        "Output",   "Destination folder",
                           "Output format", "Original file", "Renaming", "Base name",
                           "Numbering",     "Ask for name before export"};
        QTest::newRow("prefix and suffix")
            << QLocale::English << "prefix and suffix" << defaults + QStringList{"Prefix / suffix"};
        QTest::newRow("Czech defaults") << QLocale::Czech << QString()
                                        << QStringList{u"Režim"_s, u"Změna velikosti"_s, u"Výstup"_s,
                                                       u"Výstupní formát"_s, u"Původní soubor"_s,
                                                       u"Přejmenování"_s};
        QTest::newRow("Czech lossy in place")
            << QLocale::Czech << "lossy in place"
            << QStringList{u"Režim"_s,           u"Kvalita: 80"_s,    u"Změna velikosti"_s,
                           u"Výstup"_s,          u"Zálohovat originál"_s, u"Výstupní formát"_s,
                           u"Původní soubor"_s,  u"Přejmenování"_s};
        QTest::newRow("Czech custom folder and sequence")
            << QLocale::Czech << "custom folder and sequence"
            << QStringList{u"Režim"_s,          u"Změna velikosti"_s, u"Výstup"_s,
                           u"Cílová složka"_s,  u"Výstupní formát"_s, u"Původní soubor"_s,
                           u"Přejmenování"_s,   u"Základní název"_s,  u"Číslování"_s,
                           u"Zeptat se na název před exportem"_s};
        QTest::newRow("Czech prefix and suffix")
            << QLocale::Czech << "prefix and suffix"
            << QStringList{u"Režim"_s,          u"Změna velikosti"_s, u"Výstup"_s,
                           u"Výstupní formát"_s, u"Původní soubor"_s, u"Přejmenování"_s,
                           u"Předpona / přípona"_s};
    }

    void rowsFollowTheSettingsAndFitAt520()
    {
        QFETCH(QLocale::Language, language);
        QFETCH(QString, state);
        QFETCH(QStringList, rows);
        QLocale::setDefault(QLocale(language));
        Form f;
        QWidget* content = f.window->centralWidget();
        QTRY_COMPARE(f.window->height(), content->height());
        const int defaultHeight = f.window->height();

        applyState(f.settings, state);
        QCOMPARE(f.rows(), rows);
        // The window takes the rows' height, and no more.
        const auto* form = f.window->findChild<QFormLayout*>();
        const auto bottomGap = [&] {
            int bottom = 0;
            for (int row = 0; row < form->rowCount(); ++row) {
                if (form->isRowVisible(row))
                    bottom = form->itemAt(row, QFormLayout::FieldRole)->geometry().bottom();
            }
            return content->height() - 1 - bottom - form->contentsMargins().bottom();
        };
        QTRY_COMPARE(clipped(*content), QStringList());
        QCOMPARE(bottomGap(), 0);
        QCOMPARE(f.window->width(), 520);
        QCOMPARE(content->width(), 520);
        QCOMPARE(f.window->height() > defaultHeight, rows.size() > 6);

        f.settings.setTargetFormat(S::TargetFormatOption::keepOriginal);
        f.settings.setOutputMode(S::OutputModeOption::copyAlongside);
        f.settings.setRenamingMode(S::RenamingModeOption::none);
        f.settings.setMode(S::CompressionModeOption::lossless);
        f.settings.selectResizeMode(S::ResizeModeOption::original);
        QTRY_COMPARE(f.window->height(), defaultHeight);
    }

    void lossyShowsTheQualityAndTheSliderWritesEveryStep()
    {
        Form f;
        Form::choose(f.picker("mode"), 1);
        QCOMPARE(f.settings.mode(), S::CompressionModeOption::lossy);
        QCOMPARE(f.rows().value(1), QStringLiteral("Quality: 80"));
        auto* slider = f.get<QSlider>("lossyQuality");
        QCOMPARE(slider->value(), 80);

        // A drag: every position is stored while the handle is still held.
        slider->setSliderDown(true);
        for (const int position : {81, 57, 1, 100}) {
            slider->setSliderPosition(position);
            QCOMPARE(f.settings.lossyQuality(), position);
            QCOMPARE(f.rows().value(1), QStringLiteral("Quality: %1").arg(position));
        }
        slider->setSliderDown(false);

        Form::choose(f.picker("mode"), 0);
        QVERIFY(!f.rows().contains(QStringLiteral("Quality: 100")));
        QCOMPARE(f.settings.lossyQuality(), 100);
    }

    void theResizeRowShowsTheOptionInForceWithItsOwnText()
    {
        Form f([](AppSettings& s) {
            s.setResizeEnabled(true);
            s.setResizeMode(S::ResizeModeOption::original);
        });
        QComboBox* picker = f.picker("resizeMode");
        QLineEdit* value = f.field("resizeValue");
        QLabel* caption = f.caption("resizeCaption");
        // Resizing on without a chosen option is the longest side.
        QCOMPARE(picker->currentText(), QStringLiteral("Longest side (max)"));

        Form::choose(picker, static_cast<int>(S::ResizeModeOption::maxWidth));
        QCOMPARE(value->text(), QStringLiteral("2000"));
        QCOMPARE(caption->text(), QStringLiteral(u"Width, max 1–20000 px. Never enlarges a smaller image."));
        value->selectAll();
        QTest::keyClicks(value, QStringLiteral("800"));
        QCOMPARE(f.settings.resizeMaxWidthText(), QStringLiteral("800"));

        Form::choose(picker, static_cast<int>(S::ResizeModeOption::percentage));
        QCOMPARE(value->text(), QStringLiteral("100"));
        QCOMPARE(caption->text(), QStringLiteral(u"Range 1–1000%. Above 100% enlarges the image."));
        value->clear();
        QTest::keyClick(value, Qt::Key_A); // stored as typed, no error shown
        QTest::keyClick(value, Qt::Key_Backspace);
        QCOMPARE(f.settings.resizePercentageText(), QString());
        QCOMPARE(value->placeholderText(), QStringLiteral("e.g. 100"));

        Form::choose(picker, static_cast<int>(S::ResizeModeOption::original));
        QVERIFY(!value->isVisible());
        QVERIFY(!caption->isVisible());
        QCOMPARE(f.settings.resizeMode(), S::ResizeModeOption::percentage);
        Form::choose(picker, static_cast<int>(S::ResizeModeOption::maxWidth));
        QCOMPARE(value->text(), QStringLiteral("800"));
        QCOMPARE(value->placeholderText(), QStringLiteral("e.g. 2000"));
    }

    void typingTheFirstEffectiveCharacterMovesInPlaceOutputAlongside()
    {
        Form f([](AppSettings& s) {
            s.setOutputMode(S::OutputModeOption::inPlace);
            s.setRenamingMode(S::RenamingModeOption::sequence);
        });
        QComboBox* output = f.picker("outputMode");
        QLineEdit* base = f.field("renamingBaseName");
        QLabel* example = f.caption("sequenceExample");
        const int overwrite = static_cast<int>(S::OutputModeOption::inPlace);
        QVERIFY(entryEnabled(output, overwrite));
        QVERIFY(f.rows().contains(QStringLiteral("Back up original")));
        QTRY_VERIFY(f.window->isActiveWindow());
        base->setFocus();

        // A space leaves renaming out of effect; the example shows it as typed.
        QTest::keyClick(base, Qt::Key_Space);
        QCOMPARE(f.settings.outputMode(), S::OutputModeOption::inPlace);
        QCOMPARE(example->text(), QStringLiteral(u" -01.webp,  -02.webp, …"));

        QTest::keyClick(base, Qt::Key_A);
        QCOMPARE(f.settings.outputMode(), S::OutputModeOption::copyAlongside);
        QCOMPARE(output->currentText(), QStringLiteral("Copy alongside"));
        QVERIFY(!entryEnabled(output, overwrite));
        QVERIFY(!f.rows().contains(QStringLiteral("Back up original")));
        QCOMPARE(example->text(), QStringLiteral(u" a-01.webp,  a-02.webp, …"));
        QTest::keyClick(base, Qt::Key_B);
        QCOMPARE(example->text(), QStringLiteral(u" ab-01.webp,  ab-02.webp, …"));

        // The field keeps the focus and the cursor across the refreshes.
        base->setCursorPosition(1);
        QTest::keyClick(base, Qt::Key_X);
        QCOMPARE(f.settings.renamingBaseName(), QStringLiteral(" xab"));
        QCOMPARE(base->cursorPosition(), 2);
        QCOMPARE(QApplication::focusWidget(), base);

        Form::choose(output, overwrite);
        QCOMPARE(f.settings.outputMode(), S::OutputModeOption::copyAlongside);

        // Out of effect again: the entry comes back, the output stays.
        base->selectAll();
        QTest::keyClick(base, Qt::Key_Backspace);
        QVERIFY(entryEnabled(output, overwrite));
        QCOMPARE(f.settings.outputMode(), S::OutputModeOption::copyAlongside);
        QCOMPARE(example->text(), QStringLiteral(u"product-01.webp, product-02.webp, …"));
    }

    void noNumberDisablesTheSeparatorWithoutChangingIt()
    {
        Form f([](AppSettings& s) { s.setRenamingMode(S::RenamingModeOption::sequence); });
        auto* digits = f.get<QAbstractSpinBox>("sequenceDigits");
        QComboBox* separator = f.picker("sequenceSeparator");
        QLabel* example = f.caption("sequenceExample");
        QCOMPARE(digits->text(), QStringLiteral("2 dig."));
        QCOMPARE(separator->currentText(), QStringLiteral("Dash"));

        for (int step = 0; step < 3; ++step)
            QTest::keyClick(digits, Qt::Key_Down);
        QCOMPARE(f.settings.sequenceDigits(), 0);
        QCOMPARE(digits->text(), QStringLiteral("no number"));
        QVERIFY(!separator->isEnabled());
        QCOMPARE(separator->currentText(), QStringLiteral("Dash"));
        QCOMPARE(example->text(), QStringLiteral(u"product.webp, product-1.webp, …"));

        QTest::keyClick(digits, Qt::Key_Up);
        QCOMPARE(digits->text(), QStringLiteral("1 dig."));
        QVERIFY(separator->isEnabled());
        Form::choose(separator, static_cast<int>(S::SequenceSeparatorOption::underscore));
        QCOMPARE(example->text(), QStringLiteral(u"product_1.webp, product_2.webp, …"));
        for (int step = 0; step < 6; ++step)
            QTest::keyClick(digits, Qt::Key_Up);
        QCOMPARE(f.settings.sequenceDigits(), 5);
    }

    void theFolderChooserStoresAPlainPathOrNothing_data()
    {
        QTest::addColumn<std::optional<QString>>("answer");
        QTest::addColumn<QString>("stored");
        const QString deep =
            QStringLiteral("/srv/shared/Exports for the web/Clients and partners/2024/Spring in the mountains/My Photos");
        QTest::newRow("a folder with spaces") << std::optional<QString>(deep + QLatin1Char('/')) << deep;
        QTest::newRow("cancel") << std::optional<QString>() << QStringLiteral("/srv/start");
    }

    void theFolderChooserStoresAPlainPathOrNothing()
    {
        QFETCH(std::optional<QString>, answer);
        QFETCH(QString, stored);
        Form f([](AppSettings& s) {
            s.setOutputMode(S::OutputModeOption::customFolder);
            s.setCustomFolderPath(QStringLiteral("/srv/start"));
        });
        f.chooser.answer = answer;
        QSignalSpy writes(&f.settings, &AppSettings::customFolderPathChanged);
        QTest::mouseClick(f.get<QPushButton>("chooseFolder"), Qt::LeftButton);

        QCOMPARE(f.chooser.startedIn, QStringLiteral("/srv/start/"));
        QCOMPARE(writes.size(), answer ? 1 : 0);
        QCOMPARE(f.store.string(QStringLiteral("settings.customFolderPath")), std::optional<QString>(stored));
        // Too long for the row: the start gives way, the folder's name stays.
        const QString shown = f.caption("customFolderPath")->text();
        QVERIFY2(shown.endsWith(stored.section(QLatin1Char('/'), -1)), qPrintable(shown));
        QCOMPARE(shown.startsWith(QChar(0x2026)), answer.has_value());
    }

    void theOriginalFileChoiceWaitsForAConversion()
    {
        Form f([](AppSettings& s) { s.setOriginalFileHandling(S::OriginalFileHandlingOption::moveToTrash); });
        QComboBox* original = f.picker("originalFileHandling");
        QSignalSpy writes(&f.settings, &AppSettings::originalFileHandlingChanged);
        QVERIFY(!original->isEnabled());
        QCOMPARE(original->currentText(), QStringLiteral("Move to Trash"));

        Form::choose(f.picker("targetFormat"), static_cast<int>(S::TargetFormatOption::webp));
        QVERIFY(original->isEnabled());
        Form::choose(f.picker("targetFormat"), static_cast<int>(S::TargetFormatOption::keepOriginal));
        QVERIFY(!original->isEnabled());
        QCOMPARE(original->currentText(), QStringLiteral("Move to Trash"));
        QCOMPARE(writes.size(), 0);
    }

    void aPresetAppliedInTheMainWindowShowsAtOnce()
    {
        Form f([](AppSettings& s) {
            s.setMode(S::CompressionModeOption::lossy);
            s.setLossyQuality(40);
            s.setOutputMode(S::OutputModeOption::inPlace);
            s.setRenamingMode(S::RenamingModeOption::sequence);
            s.setRenamingBaseName(QStringLiteral("trip"));
            s.savePreset(QStringLiteral("Web"));
            s.setMode(S::CompressionModeOption::lossless);
            s.setRenamingMode(S::RenamingModeOption::none);
        });
        NoDesktop desktop;
        NoPrompt prompt;
        FooterView footer(f.settings, desktop, prompt);
        QCOMPARE(f.settings.outputMode(), S::OutputModeOption::inPlace);
        QMenu* presets = footer.findChild<QToolButton*>(QStringLiteral("presetMenu"))->menu();
        presets->actions().value(0)->trigger();

        QCOMPARE(f.picker("mode")->currentText(), QStringLiteral("Lossy"));
        QCOMPARE(f.rows().value(1), QStringLiteral("Quality: 40"));
        QCOMPARE(f.field("renamingBaseName")->text(), QStringLiteral("trip"));
        QVERIFY(f.rows().contains(QStringLiteral("Numbering")));
        // The preset brought renaming into effect over in-place output.
        QCOMPARE(f.picker("outputMode")->currentText(), QStringLiteral("Copy alongside"));
    }
};

QTEST_MAIN(SettingsPanelViewTest)

#include "SettingsPanelViewTest.moc"
