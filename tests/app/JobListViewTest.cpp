#include "DesktopActions.h"
#include "JobColors.h"
#include "JobListView.h"
#include "JobTableModel.h"

#include <QAbstractItemModelTester>
#include <QContextMenuEvent>
#include <QFont>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

#include <algorithm>
#include <memory>
#include <vector>

using namespace vantro;

namespace {

const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);
const QLocale kCzech(QLocale::Czech, QLocale::CzechRepublic);

class RecordingDesktop final : public DesktopActions {
public:
    void openFile(const QString& path) override { calls << QStringLiteral("open ") + path; }
    void revealInFileManager(const QString& path) override { calls << QStringLiteral("reveal ") + path; }
    void copyPath(const QString& path) override { calls << QStringLiteral("copy ") + path; }
    void openWebPage(const QUrl& url) override { calls << QStringLiteral("web ") + url.toString(); }

    QStringList calls;
};

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

QColor colorOf(const QVariant& value)
{
    return value.canConvert<QBrush>() ? value.value<QBrush>().color() : value.value<QColor>();
}

QColor secondary()
{
    return JobColors::secondary(QGuiApplication::palette());
}

QColor tertiary()
{
    return JobColors::tertiary(QGuiApplication::palette());
}

int indexOfId(const JobList& jobs, const QUuid& id)
{
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (jobs[i].id == id)
            return static_cast<int>(i);
    }
    return -1;
}

QtMessageHandler defaultHandler = nullptr;

// The offscreen platform warns about every popup it cannot raise or grab for.
void quietOffscreenNotes(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtWarningMsg && message.startsWith(QStringLiteral("This plugin does not support")))
        return;
    defaultHandler(type, context, message);
}

} // namespace

class JobListViewTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<RecordingDesktop> desktop;
    std::unique_ptr<JobListView> view;
    QTableView* table = nullptr;
    QAbstractItemModel* model = nullptr;

    // Hands the list over and lets the view show it.
    void deliver(const JobList& jobs)
    {
        view->setJobs(jobs);
        QCoreApplication::sendPostedEvents(view.get(), QEvent::MetaCall);
    }

    QString cell(int row, int column, int role = Qt::DisplayRole) const
    {
        return model->index(row, column).data(role).toString();
    }
    QColor color(int row, int column) const { return colorOf(model->index(row, column).data(Qt::ForegroundRole)); }
    QColor dot(int row) const { return model->index(row, 0).data(JobTableModel::DotColorRole).value<QColor>(); }

    QString countLine() const { return view->findChild<QLabel*>(QStringLiteral("summaryCount"))->text(); }
    QLabel* aggregateLabel() const { return view->findChild<QLabel*>(QStringLiteral("summaryAggregate")); }
    bool summaryShown() const { return view->findChild<QLabel*>(QStringLiteral("summaryCount"))->isVisibleTo(view.get()); }

    // Opens the row menu as a secondary click on the row's Ratio cell does and
    // returns its actions: open, show, copy, separator, remove, clear.
    QList<QAction*> openMenu(int row)
    {
        qDeleteAll(view->findChildren<QMenu*>());
        const QPoint pos = table->visualRect(model->index(row, JobTableModel::RatioColumn)).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, table->viewport()->mapToGlobal(pos));
        QCoreApplication::sendEvent(table->viewport(), &event);
        auto* menu = view->findChild<QMenu*>();
        if (!menu)
            return {};
        return menu->actions();
    }

    // The items' titles, and which are on ("1") or off ("0"), the separator "-".
    static QStringList titles(const QList<QAction*>& actions)
    {
        QStringList result;
        for (QAction* action : actions)
            result << action->text();
        return result;
    }
    static QString states(const QList<QAction*>& actions)
    {
        QString result;
        for (QAction* action : actions)
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
            QCOMPARE(model->index(row, 0).data(JobTableModel::JobIdRole).toUuid(), expected.id);
            QCOMPARE(model->index(row, 0).data(JobTableModel::StatusKindRole).toInt(),
                     static_cast<int>(expected.status.kind()));
        }
    }

private Q_SLOTS:
    void initTestCase() { defaultHandler = qInstallMessageHandler(quietOffscreenNotes); }

    void init()
    {
        QLocale::setDefault(kEnglish);
        desktop = std::make_unique<RecordingDesktop>();
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
    }

    void rowsShowEveryStatusInBothLanguages()
    {
        const JobList jobs({
            job("/p/wait.jpg"),
            job("/p/busy.png", JobStatus::processing()),
            job("/p/saved.jpg", done(2000, 500, "/p/saved-optim.jpg")),
            job("/p/same.jpg", done(1000, 1000, "/out/same.jpg")),
            job("/p/grown.png", done(1000, 1500, "/p/grown-optim.png")),
            job("/p/already.png", done(1000, 1500, "/p/already.webp", true)),
            job("/p/empty.jpg", done(0, 0, "/p/empty.jpg")),
            job("/p/broken.jpg", JobStatus::failed("not a JPEG file: broken.jpg")),
            job("/p/stopped.jpg", JobStatus::cancelled()),
        });
        deliver(jobs);
        QCOMPARE(model->rowCount(), 9);
        QCOMPARE(model->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Ratio"));

        // Per row: the dot (none while processing, where a spinner turns),
        // the Ratio text and its colour.
        QColor faintDot = secondary();
        faintDot.setAlphaF(faintDot.alphaF() * 0.35f);
        const QString dash = QStringLiteral(u"\u2013");
        struct Row {
            QColor dot;
            QString ratio;
            QColor ratioColor;
        };
        const std::vector<Row> rows{
            {faintDot, QStringLiteral("Waiting"), secondary()},
            {QColor(), QStringLiteral(u"Processing\u2026"), secondary()},
            {JobColors::green(), QStringLiteral("75.0%"), JobColors::green()},
            // No change is still green.
            {JobColors::green(), QStringLiteral("0.0%"), JobColors::green()},
            {JobColors::red(), QStringLiteral("-50.0%"), JobColors::red()},
            // Already optimised turns only the dot blue.
            {JobColors::blue(), QStringLiteral("-50.0%"), JobColors::red()},
            // No original bytes: no percentage over a zero base.
            {JobColors::green(), dash, tertiary()},
            {JobColors::red(), QStringLiteral("Error: not a JPEG file: broken.jpg"), JobColors::red()},
            {JobColors::orange(), QStringLiteral("Cancelled"), JobColors::orange()},
        };
        for (int row = 0; row < 9; ++row) {
            const Row& want = rows[static_cast<std::size_t>(row)];
            QCOMPARE(dot(row), want.dot);
            QCOMPARE(cell(row, 2), want.ratio);
            QCOMPARE(color(row, 2), want.ratioColor);
        }

        // Sizes: the output's when done, else a faint dash.
        QCOMPARE(cell(0, 0), QStringLiteral("wait.jpg"));
        for (int row : {0, 7, 8})
            QCOMPARE(cell(row, 1), dash);
        QCOMPARE(color(0, 1), tertiary());
        QCOMPARE(cell(2, 1), QStringLiteral("500 B"));
        QVERIFY(!model->index(2, 1).data(Qt::ForegroundRole).isValid());
        QCOMPARE(cell(6, 1), QStringLiteral("0 B"));
        QCOMPARE(model->index(2, 2).data(Qt::FontRole).value<QFont>().weight(), QFont::Medium);
        // Done under another name shows both names; the same name elsewhere, one.
        QCOMPARE(cell(2, 0, JobTableModel::OutputNameRole), QStringLiteral("saved-optim.jpg"));
        QCOMPARE(cell(3, 0, JobTableModel::OutputNameRole), QString());
        QCOMPARE(cell(7, 2, Qt::ToolTipRole), QStringLiteral("not a JPEG file: broken.jpg"));

        // The texts follow the locale at the time they are asked for.
        QLocale::setDefault(kCzech);
        QCOMPARE(model->headerData(2, Qt::Horizontal).toString(), QStringLiteral(u"Pom\u011Br"));
        QCOMPARE(cell(0, 2), QStringLiteral(u"\u010Cek\u00E1"));
        QCOMPARE(cell(1, 2), QStringLiteral(u"Zpracov\u00E1v\u00E1 se\u2026"));
        QCOMPARE(cell(4, 2), QStringLiteral(u"-50,0 %"));
        QCOMPARE(cell(7, 2), QStringLiteral("Chyba: not a JPEG file: broken.jpg"));
        QCOMPARE(cell(8, 2), QStringLiteral(u"Zru\u0161eno"));

        // Painting every kind of cell, the spinner included, must not trip.
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
        view->grab();
    }

    void summaryCountsDoneJobsAndTotals()
    {
        // Nothing done: no header, even with failed and cancelled jobs.
        deliver(JobList());
        QVERIFY(!summaryShown());
        deliver(JobList({job("/a.jpg"), job("/b.jpg", JobStatus::failed("x")),
                               job("/c.jpg", JobStatus::cancelled())}));
        QVERIFY(!summaryShown());

        // One job saving 1.5 MB of 2 MB.
        JobList jobs({job("/a.jpg", done(2'000'000, 500'000, "/a-optim.jpg")), job("/b.jpg", JobStatus::failed("x"))});
        deliver(jobs);
        QVERIFY(summaryShown());
        QCOMPARE(countLine(), QStringLiteral("Optimized 1 image"));
        QCOMPARE(aggregateLabel()->text(), QStringLiteral("1.50 MB of 2.00 MB saved, 75.0% decrease"));

        // An already-optimised conversion counts with its original size on
        // both sides but stays in the count and the base.
        jobs = JobList({job("/a.jpg", done(1'000'000, 400'000, "/a-optim.jpg")),
                        job("/b.png", done(500'000, 600'000, "/b.webp", true))});
        deliver(jobs);
        QCOMPARE(countLine(), QStringLiteral("Optimized 2 images"));
        QCOMPARE(aggregateLabel()->text(), QStringLiteral("600 KB of 1.50 MB saved, 40.0% decrease"));
        // The header follows the locale at the next list.
        QLocale::setDefault(kCzech);
        deliver(jobs.appending({job("/c.png", done(100, 100, "/c.png", true))}));
        QCOMPARE(countLine(), QStringLiteral(u"Optimalizov\u00E1no 3 obr\u00E1zky"));
        QCOMPARE(aggregateLabel()->text(), QStringLiteral(u"600 KB z 1,50 MB u\u0161et\u0159eno, 40,0 % \u00FAbytek"));
        QLocale::setDefault(kEnglish);

        // Grown outputs: the added sentence, above 100 % when it must.
        deliver(JobList({job("/g.png", done(1000, 2500, "/g-optim.png"))}));
        QCOMPARE(aggregateLabel()->text(), QStringLiteral("1.50 KB of 1.00 KB added, 150.0% increase"));

        // Everything already optimised: no change, with the base alone.
        deliver(JobList({job("/h.png", done(3000, 9000, "/h.png", true))}));
        QCOMPARE(aggregateLabel()->text(), QStringLiteral("no size change (3.00 KB)"));
        QVERIFY(aggregateLabel()->isVisibleTo(view.get()));

        // Done jobs of no bytes at all: the count without a sentence.
        deliver(JobList({job("/e.png", done(0, 0, "/e.png"))}));
        QCOMPARE(countLine(), QStringLiteral("Optimized 1 image"));
        QVERIFY(!aggregateLabel()->isVisibleTo(view.get()));

        // The header goes with the last done job.
        deliver(JobList({job("/z.jpg")}));
        QVERIFY(!summaryShown());
    }

    void rowMenuActsOnTheClickedRowsOutput()
    {
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
        const JobList jobs({
            job("/src/a.jpg", done(1000, 500, "/src/a-optim.jpg")),
            job("/src/b.jpg"),
            job("/src/c.jpg", JobStatus::failed("bad")),
            job("/src/d jpg ü.jpg", done(1000, 1000, "/src/d jpg ü.jpg", true)),
        });
        deliver(jobs);

        const QList<QAction*> actions = openMenu(0);
        QCOMPARE(titles(actions),
                 (QStringList{"Open", "Show in File Manager", "Copy Path", "", "Remove from List", "Clear Entire List"}));
        QCOMPARE(states(actions), QStringLiteral("111-11"));
        actions[0]->trigger();
        openMenu(0)[1]->trigger();
        openMenu(0)[2]->trigger();
        // A same-format result that was not smaller names the source itself.
        openMenu(3)[2]->trigger();
        QCOMPARE(desktop->calls, (QStringList{"open /src/a-optim.jpg", "reveal /src/a-optim.jpg",
                                              "copy /src/a-optim.jpg", QStringLiteral(u"copy /src/d jpg \u00FC.jpg")}));

        // Waiting row, not selected: nothing but clearing, which other rows
        // allow; a failed row has no output but can go.
        QCOMPARE(states(openMenu(1)), QStringLiteral("000-01"));
        QCOMPARE(states(openMenu(2)), QStringLiteral("000-11"));
        // Nothing finished anywhere: clearing is off too.
        deliver(JobList({job("/x.jpg"), job("/y.jpg", JobStatus::processing())}));
        QCOMPARE(states(openMenu(1)), QStringLiteral("000-00"));
    }

    void removeAndClearFollowTheSelection()
    {
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
        const JobList jobs({
            job("/a.jpg", done(1000, 500, "/a-o.jpg")), // 0
            job("/b.jpg", JobStatus::processing()),    // 1
            job("/c.jpg"),                             // 2
            job("/d.jpg", JobStatus::failed("bad")),   // 3
            job("/e.jpg", done(1000, 500, "/e-o.jpg")), // 4
        });
        deliver(jobs);
        QSignalSpy removed(view.get(), &JobListView::removeRequested);
        QSignalSpy cleared(view.get(), &JobListView::clearFinishedRequested);
        const auto id = [&](int row) { return jobs[static_cast<std::size_t>(row)].id; };

        // A selected processing row speaks for the whole selection, which
        // holds a done job, so the removal is on and passes every id.
        select({0, 1, 2});
        QList<QAction*> actions = openMenu(1);
        QCOMPARE(states(actions), QStringLiteral("000-11"));
        actions[4]->trigger();
        QCOMPARE(removed.size(), 1);
        QCOMPARE(removed.takeFirst().at(0).value<QSet<QUuid>>(), (QSet<QUuid>{id(0), id(1), id(2)}));

        // A row outside the selection speaks for itself; a secondary click
        // on it leaves the selection as it was.
        const QPoint pos = table->visualRect(model->index(4, 0)).center();
        QTest::mousePress(table->viewport(), Qt::RightButton, {}, pos);
        QTest::mouseRelease(table->viewport(), Qt::RightButton, {}, pos);
        QCOMPARE(selectedIds(), (QSet<QUuid>{id(0), id(1), id(2)}));
        actions = openMenu(4);
        actions[4]->trigger();
        QCOMPARE(removed.takeFirst().at(0).value<QSet<QUuid>>(), QSet<QUuid>{id(4)});
        QCOMPARE(selectedIds(), (QSet<QUuid>{id(0), id(1), id(2)}));

        // Only unfinished jobs selected: off, though finished ones exist elsewhere.
        select({1, 2});
        QCOMPARE(states(openMenu(2)), QStringLiteral("000-01"));

        // The selection is read again when the command runs.
        select({0, 3});
        actions = openMenu(0);
        select({3, 4});
        actions[4]->trigger();
        QCOMPARE(removed.takeFirst().at(0).value<QSet<QUuid>>(), QSet<QUuid>{id(0)});

        actions = openMenu(2);
        actions[5]->trigger();
        QCOMPARE(cleared.size(), 1);
        QCOMPARE(removed.size(), 0);
        // The view changes nothing itself: the rows go when the queue says so.
        QCOMPARE(model->rowCount(), 5);
    }

    void updatesKeepSelectionAndScrollPosition()
    {
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
        std::vector<Job> initial;
        for (int i = 0; i < 200; ++i)
            initial.push_back(job(QStringLiteral("/img/%1.jpg").arg(i)));
        JobList jobs(initial);
        deliver(jobs);

        QSignalSpy resets(model, &QAbstractItemModel::modelReset);
        QSignalSpy changes(model, &QAbstractItemModel::dataChanged);
        QSignalSpy inserts(model, &QAbstractItemModel::rowsInserted);
        QSignalSpy removals(model, &QAbstractItemModel::rowsRemoved);

        select({50, 51, 120, 199});
        const QSet<QUuid> chosen = selectedIds();
        QCoreApplication::processEvents();
        table->scrollTo(model->index(100, 0), QAbstractItemView::PositionAtTop);
        const int scroll = table->verticalScrollBar()->value();
        QVERIFY(scroll > 0);

        // One status change: one row announced, nothing else.
        jobs = jobs.withStatus(120, JobStatus::processing());
        deliver(jobs);
        QCOMPARE(changes.size(), 1);
        QCOMPARE(changes[0].at(0).toModelIndex().row(), 120);
        QCOMPARE(changes[0].at(1).toModelIndex().row(), 120);
        // The same list again announces nothing.
        deliver(jobs);
        QCOMPARE(changes.size(), 1);
        // Lists that arrive faster than they are shown: only the newest counts.
        view->setJobs(jobs.withStatus(121, JobStatus::processing()));
        view->setJobs(jobs.withStatus(122, JobStatus::processing()));
        QCOMPARE(changes.size(), 1);
        QCoreApplication::sendPostedEvents(view.get(), QEvent::MetaCall);
        QCOMPARE(changes.size(), 2);
        QCOMPARE(changes[1].at(0).toModelIndex().row(), 122);
        QCOMPARE(model->index(121, 0).data(JobTableModel::StatusKindRole).toInt(),
                 static_cast<int>(JobStatus::Kind::pending));
        deliver(jobs);
        QCOMPARE(changes.size(), 3);

        // Every job through processing to a terminal state, in waves.
        for (std::size_t i = 0; i < jobs.size(); ++i) {
            jobs = jobs.withStatus(i, JobStatus::processing());
            deliver(jobs);
            if (i >= 4) {
                const std::size_t finished = i - 4;
                jobs = jobs.withStatus(finished, finished % 7 == 0 ? JobStatus::failed("bad")
                                                                   : done(1000, 600, QStringLiteral("/o.jpg")));
                deliver(jobs);
            }
        }
        QCOMPARE(selectedIds(), chosen);
        QCOMPARE(table->verticalScrollBar()->value(), scroll);

        // Appended jobs: one insertion at the end.
        std::vector<Job> more;
        for (int i = 0; i < 30; ++i)
            more.push_back(job(QStringLiteral("/more/%1.png").arg(i)));
        jobs = jobs.appending(more);
        deliver(jobs);
        QCOMPARE(inserts.size(), 1);
        QCOMPARE(inserts[0].at(1).toInt(), 200);
        QCOMPARE(inserts[0].at(2).toInt(), 229);
        QCOMPARE(selectedIds(), chosen);
        QCOMPARE(table->verticalScrollBar()->value(), scroll);

        // Removed jobs below the viewport, and some above it, the chosen ones kept.
        const QUuid gone = jobs[199].id;
        jobs = jobs.filtered([&](const Job& j) {
            const int row = indexOfId(jobs, j.id);
            return j.id != gone && !(row >= 150 && row < 160) && !(row >= 10 && row < 13) && row != 30;
        });
        deliver(jobs);
        QCOMPARE(removals.size(), 4);
        QCOMPARE(selectedIds(), chosen - QSet<QUuid>{gone});
        QCOMPARE(resets.size(), 0);
        expectRowsMatch(jobs);
        QVERIFY(table->verticalScrollBar()->value() > 0);

        // A reorder is the one case told as a reset; the selection follows the jobs.
        const std::vector<Job> forward = jobs.toVector();
        const std::vector<Job> reversed(forward.rbegin(), forward.rend());
        deliver(JobList(reversed));
        QCOMPARE(resets.size(), 1);
        QCOMPARE(selectedIds(), chosen - QSet<QUuid>{gone});
        expectRowsMatch(JobList(reversed));
    }

    // Random mixes of the queue's operations, and of ones it never makes,
    // always end with the rows equal to the list and the tester content.
    void columnLimitsHoldWhileTheUserDrags()
    {
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
        QHeaderView* header = table->horizontalHeader();
        // Drags the right edge of a column's header by dx.
        const auto drag = [&](int column, int dx) {
            QWidget* target = header->viewport();
            const QPoint from(header->sectionViewportPosition(column) + header->sectionSize(column) - 1,
                              header->height() / 2);
            const QPoint to = from + QPoint(dx, 0);
            QMouseEvent press(QEvent::MouseButtonPress, from, target->mapToGlobal(from), Qt::LeftButton,
                              Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(target, &press);
            for (int step = 1; step <= 4; ++step) {
                const QPoint at = from + QPoint(dx * step / 4, 0);
                QMouseEvent move(QEvent::MouseMove, at, target->mapToGlobal(at), Qt::NoButton, Qt::LeftButton,
                                 Qt::NoModifier);
                QCoreApplication::sendEvent(target, &move);
            }
            QMouseEvent release(QEvent::MouseButtonRelease, to, target->mapToGlobal(to), Qt::LeftButton,
                                Qt::NoButton, Qt::NoModifier);
            QCoreApplication::sendEvent(target, &release);
        };
        const auto width = [&](int column) { return header->sectionSize(column); };

        drag(JobTableModel::SizeColumn, 200);
        QCOMPARE(width(JobTableModel::SizeColumn), 120);
        drag(JobTableModel::RatioColumn, -150);
        QCOMPARE(width(JobTableModel::RatioColumn), 100);
        drag(JobTableModel::RatioColumn, 400);
        QCOMPARE(width(JobTableModel::RatioColumn), 260);
        // In a narrow table the File column keeps its minimum first.
        view->resize(520, 320);
        drag(JobTableModel::RatioColumn, 100);
        drag(JobTableModel::RatioColumn, 100);
        QVERIFY(width(JobTableModel::RatioColumn) < 260);
        QCOMPARE(width(JobTableModel::FileColumn), 160);
    }

    void anyUpdateEndsWithTheRowsOfTheList()
    {
        QRandomGenerator random(12345);
        JobList jobs;
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
                jobs = jobs.filtered([&](const Job&) { return random.bounded(5u) != 0; });
            } else {
                // Inserted in the middle and shuffled: nothing the queue does,
                // but the table must still end up right.
                std::vector<Job> all = jobs.toVector();
                all.insert(all.begin() + static_cast<std::ptrdiff_t>(random.bounded(static_cast<quint32>(all.size()))),
                           job(QStringLiteral("/mid/%1.jpg").arg(made++)));
                if (random.bounded(2u) == 0 && all.size() > 1) {
                    std::vector<Job> exchanged{all.back()};
                    exchanged.insert(exchanged.end(), all.begin() + 1, all.end() - 1);
                    exchanged.push_back(all.front());
                    all = exchanged;
                }
                jobs = JobList(all);
            }
            deliver(jobs);
            expectRowsMatch(jobs);
            if (QTest::currentTestFailed())
                return;
            const auto doneCount = std::count_if(jobs.begin(), jobs.end(), [](const Job& j) {
                return j.status.kind() == JobStatus::Kind::done;
            });
            QCOMPARE(summaryShown(), doneCount > 0);
            if (doneCount > 0)
                QCOMPARE(countLine(), QStringLiteral("Optimized %1 image%2").arg(doneCount).arg(doneCount == 1 ? "" : "s"));
        }
    }
};

QTEST_MAIN(JobListViewTest)
#include "JobListViewTest.moc"
