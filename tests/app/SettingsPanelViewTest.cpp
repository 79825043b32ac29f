#include "SettingsPanelView.h"
#include "AppSettings.h"
#include "DefaultsStore.h"
#include "PresetMenuButton.h"
#include "TestDoubles.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QPainter>
#include <QRandomGenerator>
#include <QSlider>

#include <algorithm>
#include <functional>
#include <memory>

using namespace vantro;
using namespace vantro::testing;
using S = AppSettings;
using Setup = std::function<void(AppSettings&)>;
Q_DECLARE_METATYPE(Setup)
using Edit = std::function<void(SettingsValues&)>;
Q_DECLARE_METATYPE(Edit)

namespace {

// The Settings window, shown, over settings in a memory store.
struct Form {
    explicit Form(const Setup& prepare = {})
    {
        if (prepare)
            prepare(settings);
        window = std::make_unique<SettingsPanelView>(settings, chooser);
        window->show();
        window->activateWindow();
    }

    template <typename Widget = QComboBox>
    Widget* get(const char* name) const
    {
        return window->findChild<Widget*>(QLatin1StringView(name));
    }

    // The visible rows, top to bottom: each row's label, or a toggle's title.
    QStringList rows() const
    {
        const auto* form = window->findChild<QFormLayout*>();
        QStringList shown;
        for (int row = 0; row < form->rowCount(); ++row) {
            if (!form->isRowVisible(row))
                continue;
            const QLayoutItem* label = form->itemAt(row, QFormLayout::LabelRole);
            shown << (label ? static_cast<QLabel*>(label->widget())->text()
                            : static_cast<QCheckBox*>(form->itemAt(row, QFormLayout::FieldRole)->widget())->text());
        }
        return shown;
    }

    // Clicks an entry of the opened pop-up; a disabled entry takes no click.
    void choose(const char* picker, int row) const
    {
        QComboBox* box = get(picker);
        QVERIFY(box->isVisible() && box->isEnabled());
        box->showPopup();
        QAbstractItemView* list = box->view();
        QTRY_VERIFY(list->isVisible());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualRect(list->model()->index(row, 0)).center());
        box->hidePopup();
    }

    bool entryEnabled(const char* picker, int row) const
    {
        return get(picker)->model()->index(row, 0).flags().testFlag(Qt::ItemIsEnabled);
    }

    MemoryDefaultsStore store;
    AppSettings settings{store};
    FakeFolderChooser chooser;
    std::unique_ptr<SettingsPanelView> window;
};

// What does not fit: a control narrower than its text, a wrapped caption
// shorter than its lines, anything past the right edge.
QStringList clipped(const QWidget& content)
{
    QStringList found;
    for (QWidget* widget : content.findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(&content) || widget->objectName() == QStringLiteral("customFolderPath"))
            continue; // the folder path elides by design
        const auto* label = qobject_cast<QLabel*>(widget);
        const bool wraps = label && label->wordWrap();
        const bool textual = label || qobject_cast<QAbstractButton*>(widget) || qobject_cast<QComboBox*>(widget)
            || qobject_cast<QAbstractSpinBox*>(widget);
        if ((textual && !wraps && widget->width() < widget->sizeHint().width())
            || (wraps && widget->height() < label->heightForWidth(widget->width()))
            || widget->mapTo(&content, QPoint(widget->width(), 0)).x() > content.width())
            found << widget->objectName() + QLatin1Char('/') + QLatin1StringView(widget->metaObject()->className());
    }
    return found;
}

// Where the form falls short of its rows: a shown row's label or control
// shorter than it needs, a row over the one above, a band under the last
// row, or a window taller than its content.
QStringList squashed(const SettingsPanelView& window)
{
    const auto* form = window.findChild<QFormLayout*>();
    const QWidget* content = window.centralWidget();
    QStringList found;
    int bottom = form->contentsMargins().top() - 1;
    for (int row = 0; row < form->rowCount(); ++row) {
        if (!form->isRowVisible(row))
            continue;
        int rowBottom = bottom;
        for (const QFormLayout::ItemRole role : {QFormLayout::LabelRole, QFormLayout::FieldRole}) {
            const QLayoutItem* item = form->itemAt(row, role);
            if (!item)
                continue;
            const QWidget* widget = item->widget();
            const int needed
                = widget->hasHeightForWidth() ? widget->heightForWidth(widget->width()) : widget->sizeHint().height();
            // A label's or toggle's text, or the control's name.
            const QString name = widget->property("text").toString() + widget->objectName();
            if (widget->height() < needed || widget->y() <= bottom)
                found << QStringLiteral("%1: %2 px at %3, needs %4")
                             .arg(name)
                             .arg(widget->height())
                             .arg(widget->y())
                             .arg(needed);
            rowBottom = std::max(rowBottom, widget->geometry().bottom());
        }
        bottom = rowBottom;
    }
    const int formHeight = bottom + 1 + form->contentsMargins().bottom();
    if (content->height() != formHeight || window.height() != content->height())
        found << QStringLiteral("window %1 px, content %2 px, form %3 px")
                     .arg(window.height())
                     .arg(content->height())
                     .arg(formHeight);
    return found;
}

// How much a picture differs from its background colour, summed over its
// pixels: the ink of the text drawn on it.
qint64 inkOf(const QImage& picture, QRgb background)
{
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    qint64 ink = 0;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            ink += std::abs(qGray(line[x]) - qGray(background));
    }
    return ink;
}

// Lets every pending layout request and resize run.
void settle()
{
    for (int round = 0; round < 4; ++round) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

// "mode lossy", "resize original", "output inPlace", "renaming none": a
// picker set to one of its entries.
template <typename Option>
QStringList entriesOf(const QString& kind)
{
    QStringList steps;
    for (const Option option : allCases<Option>())
        steps << kind + u' ' + rawValue(option);
    return steps;
}

void apply(AppSettings& s, const QString& step)
{
    const QString kind = step.section(QLatin1Char(' '), 0, 0);
    const QString value = step.section(QLatin1Char(' '), 1);
    if (kind == QStringLiteral("mode"))
        s.setMode(*optionFromRawValue<S::CompressionModeOption>(value));
    else if (kind == QStringLiteral("resize"))
        s.selectResizeMode(*optionFromRawValue<S::ResizeModeOption>(value));
    else if (kind == QStringLiteral("output"))
        s.setOutputMode(*optionFromRawValue<S::OutputModeOption>(value));
    else
        s.setRenamingMode(*optionFromRawValue<S::RenamingModeOption>(value));
}

} // namespace

class SettingsPanelViewTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { QLocale::setDefault(kEnglish); }

    void rowsFollowTheSettingsAndFitAt520_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<QStringList>("rows");
        const QStringList top{"Mode", "Resize", "Output"};
        const QStringList bottom{"Output format", "Original file", "Renaming"};
        for (const QLocale& locale : {kEnglish, kCzech}) {
            const QByteArray language = QLocale::languageToCode(locale.language()).toLatin1();
            QTest::addRow("%s defaults", language.constData()) << locale << Setup([](S&) {}) << top + bottom;
            QTest::addRow("%s lossy in place", language.constData()) << locale << Setup([](S& s) {
                s.setMode(S::CompressionModeOption::lossy);
                s.setOutputMode(S::OutputModeOption::inPlace);
                s.selectResizeMode(S::ResizeModeOption::percentage);
            }) << QStringList{"Mode", "Quality: 80", "Resize", "Output", "Back up original"} + bottom;
            QTest::addRow("%s custom folder and sequence", language.constData())
                << locale << Setup([](S& s) {
                       s.setOutputMode(S::OutputModeOption::customFolder);
                       s.setRenamingMode(S::RenamingModeOption::sequence);
                       s.setRenamingBaseName(QStringLiteral("A rather long base name for the example line to wrap"));
                   })
                << top + QStringList{"Destination folder"} + bottom
                    + QStringList{"Base name", "Numbering", "Ask for name before export"};
            QTest::addRow("%s prefix and suffix", language.constData()) << locale << Setup([](S& s) {
                s.setRenamingMode(S::RenamingModeOption::prefixSuffix);
                s.setTargetFormat(S::TargetFormatOption::webp);
            }) << top + bottom + QStringList{"Prefix / suffix"};
        }
    }

    void rowsFollowTheSettingsAndFitAt520()
    {
        QFETCH(QLocale, locale);
        QFETCH(Setup, setup);
        QFETCH(QStringList, rows);
        QLocale::setDefault(locale);
        Form f([](S& s) { s.setOriginalFileHandling(S::OriginalFileHandlingOption::moveToTrash); });
        QWidget* content = f.window->centralWidget();
        QTRY_COMPARE(f.window->height(), content->height());
        const int defaultHeight = f.window->height();

        setup(f.settings);
        QCOMPARE(f.rows().size(), rows.size());
        if (locale == kEnglish)
            QCOMPARE(f.rows(), rows);
        QTRY_COMPARE(clipped(*content), QStringList());
        // As tall as the rows shown: no band under the last one.
        const auto* form = f.window->findChild<QFormLayout*>();
        int lastBottom = 0;
        for (int row = 0; row < form->rowCount(); ++row) {
            if (form->isRowVisible(row))
                lastBottom = form->itemAt(row, QFormLayout::FieldRole)->geometry().bottom();
        }
        QCOMPARE(content->height() - 1 - form->contentsMargins().bottom(), lastBottom);
        QCOMPARE(f.window->width(), 520);
        QCOMPARE(content->width(), 520);
        // Which original to keep is asked only of a conversion; the choice stays.
        QCOMPARE(f.get("originalFileHandling")->isEnabled(),
                 f.settings.targetFormat() != S::TargetFormatOption::keepOriginal);
        QCOMPARE(f.get("originalFileHandling")->currentIndex(), 1);

        // And it shrinks back.
        f.settings.setOutputMode(S::OutputModeOption::copyAlongside);
        f.settings.setRenamingMode(S::RenamingModeOption::none);
        f.settings.setMode(S::CompressionModeOption::lossless);
        f.settings.selectResizeMode(S::ResizeModeOption::original);
        QTRY_COMPARE(f.window->height(), defaultHeight);
    }

    void aShownRowIsNeverSquashedNorTheWindowTooTall_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::newRow("renaming row after prefix and suffix") << QStringList{
            "renaming prefixSuffix", "renaming none", "resize original", "output inPlace", "resize percentage"};
        QTest::newRow("ask-for-name toggle after prefix and suffix") << QStringList{
            "resize original", "resize percentage", "renaming prefixSuffix", "renaming sequence", "mode lossy"};
        QTest::newRow("backup toggle after custom folder")
            << QStringList{"renaming prefixSuffix", "output customFolder", "output inPlace", "mode lossy"};

        QRandomGenerator random(14);
        const QStringList pickers[]{entriesOf<S::CompressionModeOption>("mode"),
                                    entriesOf<S::ResizeModeOption>("resize"), entriesOf<S::OutputModeOption>("output"),
                                    entriesOf<S::RenamingModeOption>("renaming")};
        QStringList walk;
        for (int step = 0; step < 400; ++step) {
            const QStringList& picker = pickers[random.bounded(4)];
            walk << picker[random.bounded(static_cast<int>(picker.size()))];
        }
        QTest::newRow("seeded walk") << walk;
    }

    void aShownRowIsNeverSquashedNorTheWindowTooTall()
    {
        QFETCH(QStringList, steps);
        Form f;
        settle();
        QCOMPARE(squashed(*f.window), QStringList());
        for (qsizetype step = 0; step < steps.size(); ++step) {
            apply(f.settings, steps[step]);
            settle();
            const QStringList found = squashed(*f.window);
            QVERIFY2(found.isEmpty(),
                     qPrintable(steps[step] + QStringLiteral(", step %1: ").arg(step + 1)
                                + found.join(QStringLiteral("; "))));
        }
    }

    void aLongExampleWrapsInsideItsWordsAndTheWindowGrows()
    {
        Form f([](S& s) {
            s.setRenamingMode(S::RenamingModeOption::sequence);
            s.setRenamingBaseName(QStringLiteral("x"));
        });
        settle();
        const int shortWindow = f.window->height();
        auto* example = f.get<QLabel>("sequenceExample");
        const QFontMetrics metrics(example->font());
        const int oneLine = example->height();
        QVERIFY(oneLine < 2 * metrics.height());

        // No space in it, and longer than the row.
        const QString base = QStringLiteral("Letni_kolekce_2024_fotografie_z_dovolene_na_horach_a_u_more_a_pak_"
                                            "zpatky_do_mesta_po_stare_silnici_kolem_reky");
        f.settings.setRenamingBaseName(base);
        settle();
        const QString whole = base + QStringLiteral(u"-01.webp, ") + base + QStringLiteral(u"-02.webp, \u2026");
        QCOMPARE(example->text(), whole);
        const int width = example->contentsRect().width();
        QVERIFY(metrics.horizontalAdvance(base) > width);
        // Lines enough for the text broken at any character, and the window
        // grown by them.
        const int needed = metrics.boundingRect(QRect(0, 0, width, 10000), Qt::TextWrapAnywhere, whole).height();
        QVERIFY2(needed >= 3 * metrics.height(), qPrintable(QString::number(needed)));
        QVERIFY2(example->contentsRect().height() >= needed,
                 qPrintable(QStringLiteral("%1 < %2").arg(example->contentsRect().height()).arg(needed)));
        QVERIFY(f.window->height() >= shortWindow + needed - oneLine);
        QCOMPARE(squashed(*f.window), QStringList());
        QCOMPARE(clipped(*f.window->centralWidget()), QStringList());

        // Nothing cut: the label carries all the ink of the text drawn whole
        // on one line.
        const QRgb background = example->palette().color(QPalette::Window).rgb();
        QImage line(metrics.horizontalAdvance(whole) + 2 * metrics.height(), 2 * metrics.height(),
                    QImage::Format_RGB32);
        line.fill(background);
        {
            QPainter painter(&line);
            painter.setFont(example->font());
            painter.setPen(example->palette().color(example->foregroundRole()));
            painter.drawText(metrics.height(), metrics.height() + metrics.ascent() / 2, whole);
        }
        const qint64 shown = inkOf(example->grab().toImage(), background);
        const qint64 all = inkOf(line, background);
        QVERIFY2(shown >= all * 95 / 100, qPrintable(QStringLiteral("%1 of %2").arg(shown).arg(all)));
    }

    void aPresetIsOneChangeForTheRenamingRule_data()
    {
        QTest::addColumn<Setup>("current");
        QTest::addColumn<Edit>("preset");
        QTest::addColumn<S::OutputModeOption>("output");
        const auto inPlace = S::OutputModeOption::inPlace;
        QTest::newRow("off to a sequence without a base name")
            << Setup([](S& s) { s.setRenamingBaseName(QStringLiteral("a")); }) << Edit([](SettingsValues& v) {
                   v.renamingMode = S::RenamingModeOption::sequence;
                   v.renamingBaseName.clear();
               })
            << inPlace;
        QTest::newRow("a sequence to a prefix") << Setup([](S& s) {
            s.setRenamingMode(S::RenamingModeOption::sequence);
            s.setRenamingBaseName(QStringLiteral("a"));
        }) << Edit([](SettingsValues& v) {
            v.renamingMode = S::RenamingModeOption::prefixSuffix;
            v.renamingPrefix = QStringLiteral("p");
        }) << inPlace;
        QTest::newRow("off with a prefix to empty texts")
            << Setup([](S& s) { s.setRenamingPrefix(QStringLiteral("p")); }) << Edit([](SettingsValues& v) {
                   v.renamingMode = S::RenamingModeOption::prefixSuffix;
                   v.renamingPrefix.clear();
                   v.renamingSuffix.clear();
               })
            << inPlace;
        // Renaming comes into effect: the copies go beside the originals.
        QTest::newRow("off to a sequence with a base name") << Setup([](S&) {}) << Edit([](SettingsValues& v) {
            v.renamingMode = S::RenamingModeOption::sequence;
            v.renamingBaseName = QStringLiteral("x");
        }) << S::OutputModeOption::copyAlongside;
    }

    void aPresetIsOneChangeForTheRenamingRule()
    {
        QFETCH(Setup, current);
        QFETCH(Edit, preset);
        QFETCH(S::OutputModeOption, output);
        Form f(current);
        SettingsValues values = f.settings.currentValues();
        preset(values);
        values.mode = S::CompressionModeOption::lossy;
        values.outputMode = S::OutputModeOption::inPlace;

        f.settings.applyPreset(SettingsPreset{QUuid::createUuid(), QStringLiteral("P"), values});
        QCOMPARE(f.settings.outputMode(), output);
        QCOMPARE(f.get("outputMode")->currentIndex(), static_cast<int>(output));
        QCOMPARE(f.rows().contains(QStringLiteral("Back up original")), output == S::OutputModeOption::inPlace);
        // Every setting stored as the preset has it, the output as the rule left it.
        values.outputMode = output;
        QVERIFY(AppSettings(f.store).currentValues() == values);
    }

    void theSliderWritesEveryStepAndEachResizeOptionKeepsItsText()
    {
        Form f([](S& s) { s.setMode(S::CompressionModeOption::lossy); });
        auto* slider = f.get<QSlider>("lossyQuality");
        // A drag: every position is stored while the handle is still held.
        slider->setSliderDown(true);
        slider->setSliderPosition(57);
        QCOMPARE(f.settings.lossyQuality(), 57);
        QCOMPARE(f.rows().value(1), QStringLiteral("Quality: 57"));
        slider->setSliderDown(false);

        // Resizing on without a chosen option is the longest side.
        f.settings.setResizeEnabled(true);
        QCOMPARE(f.get("resizeMode")->currentText(), QStringLiteral("Longest side (max)"));
        auto* value = f.get<QLineEdit>("resizeValue");
        f.choose("resizeMode", static_cast<int>(S::ResizeModeOption::maxWidth));
        value->selectAll();
        QTest::keyClicks(value, QStringLiteral("8x0"));
        QCOMPARE(f.settings.resizeMaxWidthText(), QStringLiteral("8x0"));
        f.choose("resizeMode", static_cast<int>(S::ResizeModeOption::percentage));
        QCOMPARE(value->text(), QStringLiteral("100"));
        f.choose("resizeMode", static_cast<int>(S::ResizeModeOption::original));
        QVERIFY(!value->isVisible());
        f.choose("resizeMode", static_cast<int>(S::ResizeModeOption::maxWidth));
        QCOMPARE(value->text(), QStringLiteral("8x0"));
    }

    void sequenceRenamingRowsFollowEachKeystrokeAndStep()
    {
        Form f([](S& s) {
            s.setOutputMode(S::OutputModeOption::inPlace);
            s.setRenamingMode(S::RenamingModeOption::sequence);
        });
        auto* base = f.get<QLineEdit>("renamingBaseName");
        auto* example = f.get<QLabel>("sequenceExample");
        const int overwrite = static_cast<int>(S::OutputModeOption::inPlace);
        QVERIFY(f.entryEnabled("outputMode", overwrite));
        QTRY_VERIFY(f.window->isActiveWindow());
        base->setFocus();

        // A space leaves renaming out of effect; the example shows it as typed.
        QTest::keyClick(base, Qt::Key_Space);
        QCOMPARE(f.settings.outputMode(), S::OutputModeOption::inPlace);
        QCOMPARE(example->text(), QStringLiteral(u" -01.webp,  -02.webp, …"));
        QTest::keyClick(base, Qt::Key_A);
        QCOMPARE(f.get("outputMode")->currentText(), QStringLiteral("Copy alongside"));
        QVERIFY(!f.entryEnabled("outputMode", overwrite));
        QVERIFY(!f.rows().contains(QStringLiteral("Back up original")));

        // The field keeps the focus and the cursor through the refreshes.
        base->setCursorPosition(1);
        QTest::keyClick(base, Qt::Key_X);
        QCOMPARE(f.settings.renamingBaseName(), QStringLiteral(" xa"));
        QCOMPARE(example->text(), QStringLiteral(u" xa-01.webp,  xa-02.webp, …"));
        QCOMPARE(base->cursorPosition(), 2);
        QCOMPARE(QApplication::focusWidget(), base);

        f.choose("outputMode", overwrite);
        QCOMPARE(f.settings.outputMode(), S::OutputModeOption::copyAlongside);
        // Out of effect again: the entry comes back, the output stays.
        base->selectAll();
        QTest::keyClick(base, Qt::Key_Backspace);
        QVERIFY(f.entryEnabled("outputMode", overwrite));
        QCOMPARE(f.settings.outputMode(), S::OutputModeOption::copyAlongside);

        // No number: the separator is kept but cannot be chosen.
        auto* digits = f.get<QAbstractSpinBox>("sequenceDigits");
        QCOMPARE(digits->text(), QStringLiteral("2 dig."));
        for (int step = 0; step < 3; ++step)
            QTest::keyClick(digits, Qt::Key_Down);
        QCOMPARE(f.settings.sequenceDigits(), 0);
        QCOMPARE(digits->text(), QStringLiteral("no number"));
        QVERIFY(!f.get("sequenceSeparator")->isEnabled());
        QCOMPARE(example->text(), QStringLiteral(u"product.webp, product-1.webp, …"));
        QTest::keyClick(digits, Qt::Key_Up);
        f.choose("sequenceSeparator", static_cast<int>(S::SequenceSeparatorOption::underscore));
        QCOMPARE(example->text(), QStringLiteral(u"product_1.webp, product_2.webp, …"));
    }

    void theFolderChooserStoresAPlainPathOrNothing_data()
    {
        QTest::addColumn<std::optional<QString>>("answer");
        QTest::addColumn<QString>("stored");
        const QString deep = QStringLiteral(
            "/srv/shared/Exports for the web/Clients and partners/2024/Spring in the mountains/My Photos");
        QTest::newRow("a folder with spaces") << std::optional<QString>(deep + QLatin1Char('/')) << deep;
        QTest::newRow("cancel") << std::optional<QString>() << QStringLiteral("/srv/start");
    }

    void theFolderChooserStoresAPlainPathOrNothing()
    {
        QFETCH(std::optional<QString>, answer);
        QFETCH(QString, stored);
        Form f([](S& s) {
            s.setOutputMode(S::OutputModeOption::customFolder);
            s.setCustomFolderPath(QStringLiteral("/srv/start"));
        });
        f.chooser.answer = answer;
        QSignalSpy writes(&f.settings, &AppSettings::customFolderPathChanged);
        press(f.get<QPushButton>("chooseFolder"));
        QCOMPARE(f.chooser.startedIn, QStringLiteral("/srv/start/"));
        QCOMPARE(writes.size(), answer ? 1 : 0);
        QCOMPARE(f.store.string(QStringLiteral("settings.customFolderPath")), std::optional<QString>(stored));
        // Too long for the row, the path gives way at its start.
        const QString shown = f.get<QLabel>("customFolderPath")->text();
        QVERIFY2(shown.endsWith(stored.section(QLatin1Char('/'), -1)), qPrintable(shown));
        QCOMPARE(shown.startsWith(QChar(0x2026)), answer.has_value());
    }

    void aPresetAppliedInTheMainWindowShowsAtOnce()
    {
        Form f([](S& s) {
            s.setMode(S::CompressionModeOption::lossy);
            s.setLossyQuality(40);
            s.setOutputMode(S::OutputModeOption::inPlace);
            s.setRenamingMode(S::RenamingModeOption::sequence);
            s.setRenamingBaseName(QStringLiteral("trip"));
            s.savePreset(QStringLiteral("Web"));
            s.setMode(S::CompressionModeOption::lossless);
            s.setRenamingMode(S::RenamingModeOption::none);
        });
        FakePrompt prompt;
        PresetMenuButton presets(f.settings, prompt);
        presets.menu()->actions().value(0)->trigger();
        QCOMPARE(f.rows().value(1), QStringLiteral("Quality: 40"));
        QCOMPARE(f.get<QLineEdit>("renamingBaseName")->text(), QStringLiteral("trip"));
        // The preset brought renaming into effect over in-place output.
        QCOMPARE(f.get("outputMode")->currentText(), QStringLiteral("Copy alongside"));
    }
};

QTEST_MAIN(SettingsPanelViewTest)
#include "SettingsPanelViewTest.moc"
