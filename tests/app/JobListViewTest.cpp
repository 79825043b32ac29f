#include "JobListView.h"
#include "FileNames.h"
#include "JobColors.h"
#include "JobTableModel.h"
#include "Localization.h"
#include "TestDoubles.h"

#include <QAbstractItemModelTester>
#include <QContextMenuEvent>
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QHeaderView>
#include <QPalette>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

using namespace vantro;
using namespace vantro::testing;
using namespace Qt::StringLiterals;

namespace {

Job job(const QString& path, JobStatus status = JobStatus::pending())
{
    Job made = Job::make(path);
    made.status = std::move(status);
    return made;
}

JobStatus done(int64_t original, int64_t compressed, const QString& output, bool alreadyOptimized = false)
{
    CompressionResult result;
    result.originalSize = original;
    result.compressedSize = compressed;
    result.outputPath = output;
    result.alreadyOptimized = alreadyOptimized;
    return JobStatus::done(result);
}

QtMessageHandler defaultHandler = nullptr;

// Contrast as the accessibility guidelines measure it, from relative luminance.
double contrast(const QColor& a, const QColor& b)
{
    const auto luminance = [](const QColor& color) {
        const auto linear = [](double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
        return 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) + 0.0722 * linear(color.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QPalette rowPalette(const char* base, const char* alternate, const char* text)
{
    QPalette palette = QGuiApplication::palette();
    palette.setColor(QPalette::Base, QColor::fromString(QLatin1StringView(base)));
    palette.setColor(QPalette::AlternateBase, QColor::fromString(QLatin1StringView(alternate)));
    palette.setColor(QPalette::Text, QColor::fromString(QLatin1StringView(text)));
    return palette;
}

// The offscreen platform warns about every popup it cannot raise or grab for.
void quietOffscreenNotes(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type != QtWarningMsg || !message.startsWith(QStringLiteral("This plugin does not support")))
        defaultHandler(type, context, message);
}

} // namespace

class JobListViewTest : public QObject {
    Q_OBJECT

    const QPalette m_palette = QGuiApplication::palette();

    std::unique_ptr<FakeDesktop> desktop;
    std::unique_ptr<JobListView> view;
    QTableView* table = nullptr;
    QAbstractItemModel* model = nullptr;

    // Hands the list over and lets the view show it.
    void deliver(const JobList& jobs)
    {
        view->setJobs(jobs);
        QCoreApplication::sendPostedEvents(view.get(), QEvent::MetaCall);
    }
    QVariant data(int row, int column, int role = Qt::DisplayRole) const
    {
        return model->index(row, column).data(role);
    }
    QColor color(int row, int column) const
    {
        const QVariant value = data(row, column, Qt::ForegroundRole);
        return value.canConvert<QBrush>() ? value.value<QBrush>().color() : value.value<QColor>();
    }
    QLabel* label(const char* name) const { return view->findChild<QLabel*>(QLatin1StringView(name)); }
    // The count line, then the sentence when shown; empty without a header.
    QStringList summary() const
    {
        if (!label("summaryCount")->isVisibleTo(view.get()))
            return {};
        QStringList lines{label("summaryCount")->text()};
        if (label("summaryAggregate")->isVisibleTo(view.get()))
            lines << label("summaryAggregate")->text();
        return lines;
    }

    // Opens the row menu as a secondary click on the row's Ratio cell does:
    // open, show, copy, separator, remove, clear.
    QList<QAction*> openMenu(int row)
    {
        qDeleteAll(view->findChildren<QMenu*>());
        const QPoint pos = table->visualRect(model->index(row, JobTableModel::RatioColumn)).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, table->viewport()->mapToGlobal(pos));
        QCoreApplication::sendEvent(table->viewport(), &event);
        auto* menu = view->findChild<QMenu*>();
        return menu ? menu->actions() : QList<QAction*>();
    }
    // Triggers a menu item as a person can: only when it is enabled.
    void act(int row, int item)
    {
        QAction* action = openMenu(row).value(item);
        QVERIFY(action && action->isEnabled());
        action->trigger();
    }
    // Which items are on ("1") or off ("0"), the separator "-".
    QString states(int row)
    {
        QString result;
        for (QAction* action : openMenu(row))
            result += action->isSeparator() ? u'-' : action->isEnabled() ? u'1' : u'0';
        return result;
    }

    void select(std::initializer_list<int> rows)
    {
        table->selectionModel()->clearSelection();
        for (int row : rows)
            table->selectionModel()->select(model->index(row, 0),
                                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    QSet<QUuid> selectedIds() const
    {
        QSet<QUuid> ids;
        for (const QModelIndex& index : table->selectionModel()->selectedRows())
            ids.insert(index.data(JobTableModel::JobIdRole).toUuid());
        return ids;
    }

    void expectRowsMatch(const JobList& jobs)
    {
        QCOMPARE(model->rowCount(), static_cast<int>(jobs.size()));
        for (int row = 0; row < model->rowCount(); ++row) {
            const Job& expected = jobs[static_cast<std::size_t>(row)];
            QCOMPARE(data(row, 0, JobTableModel::JobIdRole).toUuid(), expected.id);
            QCOMPARE(data(row, 0, JobTableModel::StatusKindRole).toInt(), static_cast<int>(expected.status.kind()));
        }
    }

    void showView()
    {
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
    }

private Q_SLOTS:
    void initTestCase() { defaultHandler = qInstallMessageHandler(quietOffscreenNotes); }

    void init()
    {
        QLocale::setDefault(kEnglish);
        desktop = std::make_unique<FakeDesktop>();
        view = std::make_unique<JobListView>(*desktop);
        view->resize(700, 320);
        table = view->findChild<QTableView*>();
        QVERIFY(table);
        model = table->model();
        new QAbstractItemModelTester(model, QAbstractItemModelTester::FailureReportingMode::QtTest, view.get());
    }

    void cleanup()
    {
        view.reset();
        desktop.reset();
        QLocale::setDefault(kEnglish);
        QGuiApplication::setPalette(m_palette);
    }

    // Savings and errors stay legible on both row shades, in light and dark
    // palettes alike, and still read as green and red.
    void statusTextsReadOnEveryPalette_data()
    {
        QTest::addColumn<QPalette>("palette");
        QTest::newRow("light, grey rows") << rowPalette("#ffffff", "#e9e9e9", "#000000");
        QTest::newRow("Fusion dark") << rowPalette("#2a2a2a", "#353535", "#ffffff");
        QTest::newRow("Breeze dark") << rowPalette("#1b1e20", "#232629", "#fcfcfc");
        QTest::newRow("grey dark") << rowPalette("#3c3c3c", "#4b4b4b", "#eeeeee");
    }

    void statusTextsReadOnEveryPalette()
    {
        QFETCH(QPalette, palette);
        QGuiApplication::setPalette(palette);
        deliver(JobList({job("/p/saved.jpg", done(2000, 500, "/p/saved-optim.jpg")),
                         job("/p/grown.png", done(1000, 1500, "/p/grown-optim.png")),
                         job("/p/broken.jpg", JobStatus::failed("not a JPEG file")),
                         job("/p/stopped.jpg", JobStatus::cancelled())}));
        // Green, red, red, orange.
        const auto hueFits = [](int row, int hue) {
            return row == 0 ? hue >= 100 && hue <= 150 : row == 3 ? hue >= 25 && hue <= 45 : hue <= 10 || hue >= 350;
        };
        for (int row = 0; row < 4; ++row) {
            for (const QColor& shown : {color(row, 2), data(row, 0, JobTableModel::DotColorRole).value<QColor>()}) {
                for (const QPalette::ColorRole background : {QPalette::Base, QPalette::AlternateBase}) {
                    const double ratio = contrast(shown, palette.color(background));
                    QVERIFY2(ratio >= 3.0,
                             qPrintable(QStringLiteral("row %1, %2 on %3: %4:1")
                                            .arg(row)
                                            .arg(shown.name(), palette.color(background).name())
                                            .arg(ratio, 0, 'f', 2)));
                }
                const int hue = shown.hslHue();
                QVERIFY2(hueFits(row, hue), qPrintable(shown.name()));
                QVERIFY2(shown.hslSaturationF() >= 0.4f, qPrintable(shown.name()));
            }
        }
    }

    void rowsShowEveryStatusInBothLanguages()
    {
        deliver(JobList({
            job("/p/wait.jpg"),
            job("/p/busy.png", JobStatus::processing()),
            job("/p/saved.jpg", done(2000, 500, "/p/saved-optim.jpg")),
            job("/p/same.jpg", done(1000, 1000, "/out/same.jpg")),
            job("/p/grown.png", done(1000, 1500, "/p/grown-optim.png")),
            job("/p/already.png", done(1000, 1500, "/p/already.webp", true)),
            job("/p/empty.jpg", done(0, 0, "/p/empty.jpg")),
            job("/p/broken.jpg", JobStatus::failed("not a JPEG file: broken.jpg")),
            job("/p/stopped.jpg", JobStatus::cancelled()),
        }));
        const QColor secondary = JobColors::secondary(QGuiApplication::palette());
        const QColor tertiary = JobColors::tertiary(QGuiApplication::palette());
        const QColor green = JobColors::green(QGuiApplication::palette());
        const QColor red = JobColors::red(QGuiApplication::palette());
        const QColor orange = JobColors::orange(QGuiApplication::palette());
        QColor faintDot = secondary;
        faintDot.setAlphaF(faintDot.alphaF() * 0.35f);
        const QString dash = QStringLiteral(u"\u2013");
        // Per row: the dot (none while a spinner turns), the Ratio text and
        // its colour, the Size text, Czech Ratio text.
        const struct {
            QColor dot;
            QString ratio;
            QColor ratioColor;
            QString size;
            QString czech;
        } rows[] = {
            {faintDot, "Waiting", secondary, dash, u"Čeká"_s},
            {QColor(), u"Processing…"_s, secondary, dash, u"Zpracovává se…"_s},
            {green, "75.0%", green, "500 B", "75,0 %"},
            // No change is still green.
            {green, "0.0%", green, "1.00 KB", "0,0 %"},
            {red, "-50.0%", red, "1.50 KB", "-50,0 %"},
            // Already optimised turns only the dot blue.
            {JobColors::blue(), "-50.0%", red, "1.50 KB", "-50,0 %"},
            // No original bytes: no percentage over a zero base.
            {green, dash, tertiary, "0 B", dash},
            {red, "Error: not a JPEG file: broken.jpg", red, dash, "Chyba: not a JPEG file: broken.jpg"},
            {orange, "Cancelled", orange, dash, u"Zrušeno"_s},
        };
        QCOMPARE(model->rowCount(), 9);
        for (int row = 0; row < 9; ++row) {
            const auto& want = rows[row];
            QCOMPARE(data(row, 0, JobTableModel::DotColorRole).value<QColor>(), want.dot);
            QCOMPARE(data(row, 2).toString(), want.ratio);
            QCOMPARE(color(row, 2), want.ratioColor);
            QCOMPARE(data(row, 1).toString(), want.size);
        }
        QCOMPARE(color(0, 1), tertiary);
        QVERIFY(!data(2, 1, Qt::ForegroundRole).isValid());
        QCOMPARE(data(2, 2, Qt::FontRole).value<QFont>().weight(), QFont::Medium);
        // Done under another name shows both names; the same name elsewhere, one.
        QCOMPARE(data(2, 0, JobTableModel::OutputNameRole).toString(), QStringLiteral("saved-optim.jpg"));
        QCOMPARE(data(3, 0, JobTableModel::OutputNameRole).toString(), QString());
        QCOMPARE(data(7, 2, Qt::ToolTipRole).toString(), QStringLiteral("not a JPEG file: broken.jpg"));

        // The texts follow the locale at the time they are asked for.
        QLocale::setDefault(kCzech);
        QCOMPARE(model->headerData(2, Qt::Horizontal).toString(), QStringLiteral(u"Poměr"));
        for (int row = 0; row < 9; ++row)
            QCOMPARE(data(row, 2).toString(), rows[row].czech);
        // Painting every kind of cell, the spinner included, must not trip.
        showView();
        view->grab();
    }

    // A row's icon comes from its name's suffix, never from the file system,
    // where a name that is not UTF-8 stands for its U+FFFD twin: here a folder.
    void theIconComesFromTheNameNeverFromTheFileSystem()
    {
        const QTemporaryDir folder;
        QVERIFY(QDir(folder.path()).mkdir(u"caf\uFFFD.jpg"_s));
        // A new view for each, so that no icon is kept from the other.
        const auto fileCell = [this](const QString& path) {
            JobListView shown(*desktop);
            shown.resize(700, 320);
            shown.setJobs(JobList({job(path)}));
            shown.show();
            QCoreApplication::sendPostedEvents();
            const auto* rows = shown.findChild<QTableView*>();
            return rows->viewport()->grab(rows->visualRect(rows->model()->index(0, 0))).toImage();
        };
        const QImage lookalike = fileCell(FileNames::fromBytes(QFile::encodeName(folder.path()) + "/caf\xe9.jpg"));
        QVERIFY(!lookalike.isNull());
        QCOMPARE(lookalike, fileCell(u"/nowhere/caf\uFFFD.jpg"_s));
    }

    void summaryCountsDoneJobsAndTotals()
    {
        // Nothing done: no header, even with failed and cancelled jobs.
        deliver(JobList({job("/a.jpg"), job("/b.jpg", JobStatus::failed("x")), job("/c.jpg", JobStatus::cancelled())}));
        QCOMPARE(summary(), QStringList());
        // An already-optimised conversion counts its original size on both
        // sides but stays in the count and the base.
        const JobList jobs({job("/a.jpg", done(1'000'000, 400'000, "/a-optim.jpg")),
                            job("/b.png", done(500'000, 600'000, "/b.webp", true)),
                            job("/f.jpg", JobStatus::failed("x"))});
        deliver(jobs);
        QCOMPARE(summary(), (QStringList{"Optimized 2 images", "600 KB of 1.50 MB saved, 40.0% decrease"}));
        // The header follows the locale at the next list.
        QLocale::setDefault(kCzech);
        deliver(jobs.appending({job("/c.png", done(100, 100, "/c.png", true))}));
        QCOMPARE(summary(),
                 (QStringList{u"Optimalizováno 3 obrázky"_s, u"600 KB z 1,50 MB ušetřeno, 40,0 % úbytek"_s}));
        QLocale::setDefault(kEnglish);
        // Grown outputs: the added sentence, above 100 % when it must.
        deliver(JobList({job("/g.png", done(1000, 2500, "/g-optim.png"))}));
        QCOMPARE(summary(), (QStringList{"Optimized 1 image", "1.50 KB of 1.00 KB added, 150.0% increase"}));
        deliver(JobList({job("/h.png", done(3000, 9000, "/h.png", true))}));
        QCOMPARE(summary(), (QStringList{"Optimized 1 image", "no size change (3.00 KB)"}));
        // Done jobs of no bytes at all: the count without a sentence.
        deliver(JobList({job("/e.png", done(0, 0, "/e.png"))}));
        QCOMPARE(summary(), QStringList{"Optimized 1 image"});
        deliver(JobList({job("/z.jpg")}));
        QCOMPARE(summary(), QStringList());
    }

    void rowMenuActsOnTheClickedRowOrTheSelection()
    {
        showView();
        const JobList jobs({
            job("/src/a.jpg", done(1000, 500, "/src/a-optim.jpg")),
            job("/src/b.jpg", JobStatus::processing()),
            job("/src/c.jpg"),
            job("/src/d.jpg", JobStatus::failed("bad")),
            job("/src/e ü.jpg", done(1000, 1000, "/src/e ü.jpg", true)),
        });
        deliver(jobs);
        const auto id = [&](int row) { return jobs[static_cast<std::size_t>(row)].id; };
        QSignalSpy removed(view.get(), &JobListView::removeRequested);
        QSignalSpy cleared(view.get(), &JobListView::clearFinishedRequested);
        const auto removedIds = [&] { return removed.takeFirst().at(0).value<QSet<QUuid>>(); };

        QCOMPARE(states(0), QStringLiteral("111-11"));
        for (int item = 0; item < 3; ++item)
            act(0, item);
        // A same-format result that was not smaller names the source itself.
        act(4, 2);
        QCOMPARE(desktop->calls,
                 (QStringList{"open /src/a-optim.jpg", "reveal /src/a-optim.jpg", "copy /src/a-optim.jpg",
                              QStringLiteral(u"copy /src/e ü.jpg")}));
        // An unfinished row has no output and cannot go; a failed one can.
        QCOMPARE(states(2), QStringLiteral("000-01"));
        QCOMPARE(states(3), QStringLiteral("000-11"));

        // A selected processing row speaks for the whole selection, which
        // holds a done job, so the removal is on and passes every id.
        select({0, 1, 2});
        act(1, 4);
        QCOMPARE(removedIds(), (QSet<QUuid>{id(0), id(1), id(2)}));
        // A row outside the selection speaks for itself; a secondary click
        // on it leaves the selection as it was.
        const QPoint pos = table->visualRect(model->index(4, 0)).center();
        QTest::mousePress(table->viewport(), Qt::RightButton, {}, pos);
        QTest::mouseRelease(table->viewport(), Qt::RightButton, {}, pos);
        act(4, 4);
        QCOMPARE(removedIds(), QSet<QUuid>{id(4)});
        QCOMPARE(selectedIds(), (QSet<QUuid>{id(0), id(1), id(2)}));
        // Only unfinished jobs selected: off, though finished ones exist elsewhere.
        select({1, 2});
        QCOMPARE(states(2), QStringLiteral("000-01"));
        // The selection is read again when the command runs.
        select({0, 3});
        QAction* remove = openMenu(0)[4];
        select({3, 4});
        remove->trigger();
        QCOMPARE(removedIds(), QSet<QUuid>{id(0)});
        act(2, 5);
        QCOMPARE(cleared.size(), 1);
        // The view changes nothing itself: the rows go when the queue says so.
        QCOMPARE(model->rowCount(), 5);
        // Nothing finished anywhere: clearing is off too.
        deliver(JobList({job("/x.jpg"), job("/y.jpg", JobStatus::processing())}));
        QCOMPARE(states(1), QStringLiteral("000-00"));
    }

    void onlyTheNewestOfManyListsIsShownAndOneChangeIsOneRow()
    {
        JobList jobs({job("/a.jpg"), job("/b.jpg"), job("/c.jpg"), job("/d.jpg")});
        deliver(jobs);
        QSignalSpy changes(model, &QAbstractItemModel::dataChanged);
        view->setJobs(jobs.withStatus(1, JobStatus::processing()));
        view->setJobs(jobs.withStatus(2, JobStatus::processing()));
        QCOMPARE(changes.size(), 0);
        QCoreApplication::sendPostedEvents(view.get(), QEvent::MetaCall);
        QCOMPARE(changes.size(), 1);
        QCOMPARE(changes[0].at(0).toModelIndex().row(), 2);
        QCOMPARE(changes[0].at(1).toModelIndex().row(), 2);
        QCOMPARE(data(1, 0, JobTableModel::StatusKindRole).toInt(), static_cast<int>(JobStatus::Kind::pending));
        // The same list again announces nothing.
        deliver(jobs.withStatus(2, JobStatus::processing()));
        QCOMPARE(changes.size(), 1);
    }

    void columnLimitsHoldWhileTheUserDrags()
    {
        showView();
        QHeaderView* header = table->horizontalHeader();
        // Drags the right edge of a column's header by dx, in four moves.
        const auto drag = [&](int column, int dx) {
            QWidget* target = header->viewport();
            const QPoint from(header->sectionViewportPosition(column) + header->sectionSize(column) - 1,
                              header->height() / 2);
            const auto send = [&](QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held) {
                QMouseEvent event(type, at, target->mapToGlobal(at), button, held, Qt::NoModifier);
                QCoreApplication::sendEvent(target, &event);
            };
            send(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
            for (int step = 1; step <= 4; ++step)
                send(QEvent::MouseMove, from + QPoint(dx * step / 4, 0), Qt::NoButton, Qt::LeftButton);
            send(QEvent::MouseButtonRelease, from + QPoint(dx, 0), Qt::LeftButton, Qt::NoButton);
        };
        drag(JobTableModel::SizeColumn, 200);
        QCOMPARE(header->sectionSize(JobTableModel::SizeColumn), 120);
        drag(JobTableModel::RatioColumn, -150);
        QCOMPARE(header->sectionSize(JobTableModel::RatioColumn), 100);
        drag(JobTableModel::RatioColumn, 400);
        QCOMPARE(header->sectionSize(JobTableModel::RatioColumn), 260);
        // In a narrow table the File column keeps its minimum first.
        view->resize(520, 320);
        drag(JobTableModel::RatioColumn, 100);
        drag(JobTableModel::RatioColumn, 100);
        QVERIFY(header->sectionSize(JobTableModel::RatioColumn) < 260);
        QCOMPARE(header->sectionSize(JobTableModel::FileColumn), 160);
    }

    // Random mixes of the queue's operations, and of ones it never makes,
    // always end with the rows equal to the list and the tester content;
    // those the queue makes keep the selection and the scroll position,
    // never resetting the table.
    void anyUpdateEndsWithTheRowsOfTheList()
    {
        showView();
        QSignalSpy resets(model, &QAbstractItemModel::modelReset);
        QRandomGenerator random(12345);
        JobList jobs;
        QSet<QUuid> chosen;
        int made = 0;
        for (int step = 0; step < 300; ++step) {
            const quint32 what = random.bounded(10u);
            if (what < 3 || jobs.empty()) {
                std::vector<Job> added;
                for (quint32 n = random.bounded(1u, 40u); n > 0; --n)
                    added.push_back(job(QStringLiteral("/r/%1.jpg").arg(made++)));
                jobs = jobs.appending(added);
            } else if (what < 7) {
                jobs = jobs.withStatuses([&](const Job& j) -> std::optional<JobStatus> {
                    if (random.bounded(4u) != 0)
                        return std::nullopt;
                    // Never from the queue, but the totals must follow.
                    if (j.status.isTerminal())
                        return random.bounded(5u) == 0 ? std::optional(JobStatus::failed("x")) : std::nullopt;
                    if (j.status.kind() == JobStatus::Kind::pending)
                        return JobStatus::processing();
                    return done(1000, random.bounded(2000), QStringLiteral("/o.jpg"));
                });
            } else if (what < 9) {
                jobs = jobs.filtered([&](const Job& j) { return random.bounded(5u) != 0 || chosen.contains(j.id); });
            } else {
                // Inserted in the middle and the ends exchanged: nothing the
                // queue does, but the table must still end up right.
                std::vector<Job> all = jobs.toVector();
                all.insert(all.begin() + static_cast<std::ptrdiff_t>(random.bounded(static_cast<quint32>(all.size()))),
                           job(QStringLiteral("/mid/%1.jpg").arg(made++)));
                if (random.bounded(2u) == 0)
                    std::swap(all.front(), all.back());
                jobs = JobList(all);
            }
            const int scroll = table->verticalScrollBar()->value();
            const qsizetype resetsBefore = resets.size();
            deliver(jobs);
            expectRowsMatch(jobs);
            if (QTest::currentTestFailed())
                return;
            QCOMPARE(selectedIds(), chosen);
            if (what < 7) {
                QCOMPARE(resets.size(), resetsBefore);
                QCOMPARE(table->verticalScrollBar()->value(), scroll);
            }
            const auto doneCount = std::count_if(jobs.begin(), jobs.end(),
                                                 [](const Job& j) { return j.status.kind() == JobStatus::Kind::done; });
            QCOMPARE(summary().value(0),
                     doneCount == 0 ? QString() : Strings(AppLanguage::en).optimizedCount(doneCount));
            if (step == 20) {
                select({3, 4, model->rowCount() - 1});
                chosen = selectedIds();
                table->scrollTo(model->index(model->rowCount() / 2, 0), QAbstractItemView::PositionAtTop);
            }
        }
        QVERIFY(table->verticalScrollBar()->value() > 0);
    }

    // What "Show in File Manager" sends over D-Bus: a URI in which nothing
    // outside the URI syntax is left raw, so file managers find the file.
    void showItemsSendsEncodedURIs_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("uri");
        QTest::newRow("plain") << "/tmp/a-optim.jpg"
                               << "file:///tmp/a-optim.jpg";
        QTest::newRow("spaces, #, % and Czech")
            << u"/home/jan/Fotky/Fotka z dovolené #1 100% – moře.jpg"_s
            << "file:///home/jan/Fotky/Fotka%20z%20dovolen%C3%A9%20%231%20100%25%20%E2%80%93%20mo%C5%99e.jpg";
        QTest::newRow("query and brackets") << "/p/co?[x].png"
                                            << "file:///p/co%3F%5Bx%5D.png";
    }

    void showItemsSendsEncodedURIs()
    {
        QFETCH(QString, path);
        QFETCH(QString, uri);
        const QDBusMessage call = showItemsCall(path);
        QCOMPARE(call.service(), QStringLiteral("org.freedesktop.FileManager1"));
        QCOMPARE(call.path(), QStringLiteral("/org/freedesktop/FileManager1"));
        QCOMPARE(call.interface(), QStringLiteral("org.freedesktop.FileManager1"));
        QCOMPARE(call.member(), QStringLiteral("ShowItems"));
        QCOMPARE(call.arguments().size(), 2);
        QCOMPARE(call.arguments().at(0).toStringList(), QStringList{uri});
        QCOMPARE(call.arguments().at(1).toString(), QString());
    }
};

QTEST_MAIN(JobListViewTest)
#include "JobListViewTest.moc"
