#include "JobListView.h"

#include "CzechFormat.h"
#include "DesktopActions.h"
#include "JobColors.h"
#include "JobTableModel.h"
#include "Localization.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFrame>
#include <QHash>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeDatabase>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>

namespace vantro {

namespace {

constexpr int kDotSize = 8;
constexpr int kIconSize = 16;
constexpr int kCellSpacing = 8;
constexpr int kCellPadding = 6;

// A secondary click opens the row menu and leaves the selection alone, also
// when the clicked row lies outside it.
class JobTable final : public QTableView {
public:
    using QTableView::QTableView;

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index, const QEvent* event) const override
    {
        if (event) {
            switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::MouseMove: {
                const auto* mouse = static_cast<const QMouseEvent*>(event);
                if (mouse->button() == Qt::RightButton || (mouse->buttons() & Qt::RightButton))
                    return QItemSelectionModel::NoUpdate;
                break;
            }
            default:
                break;
            }
        }
        return QTableView::selectionCommand(index, event);
    }

    // The menu key and Shift+F10 open the current row's menu beside that
    // row, where the keyboard user is, not at the mouse pointer.
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::ContextMenu
            && static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard) {
            openMenuAtCurrentRow();
            return true;
        }
        return QTableView::event(event);
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        const bool menuKey
            = event->key() == Qt::Key_Menu || (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier);
        if (!menuKey)
            return QTableView::keyPressEvent(event);
        openMenuAtCurrentRow();
        event->accept();
    }

private:
    void openMenuAtCurrentRow()
    {
        const QModelIndex current = currentIndex();
        if (!current.isValid())
            return;
        scrollTo(current);
        Q_EMIT customContextMenuRequested(visualRect(current).center());
    }
};

// How far the user may drag a column; the File column takes what the others
// leave and never less than its minimum.
struct ColumnLimit {
    int minimum;
    int maximum;
};
constexpr int kFileMinimumWidth = 160;
constexpr ColumnLimit kSizeLimit{70, 120};
constexpr ColumnLimit kRatioLimit{100, 260};

// The File cell: status dot (a spinner while processing), the file's icon and
// its name, with the output's name in a fainter colour when it differs; the
// whole line is cut in the middle so the extension stays visible.
class FileCellDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QString name = opt.text;
        opt.text.clear();
        opt.features &= ~QStyleOptionViewItem::HasDisplay;
        const QWidget* widget = opt.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const QRect cell = opt.rect.adjusted(kCellPadding, 0, -kCellPadding, 0);
        const int middle = cell.center().y();
        int x = cell.left();

        const QRectF dot(x, middle - kDotSize / 2, kDotSize, kDotSize);
        const QVariant dotColor = index.data(JobTableModel::DotColorRole);
        if (dotColor.isValid()) {
            painter->setPen(Qt::NoPen);
            painter->setBrush(dotColor.value<QColor>());
            painter->drawEllipse(dot);
        } else {
            paintSpinner(painter, dot, JobColors::secondary(opt.palette));
        }
        x += kDotSize + kCellSpacing;

        const QIcon icon = iconFor(index.data(JobTableModel::SourcePathRole).toString());
        icon.paint(painter, QRect(x, middle - kIconSize / 2, kIconSize, kIconSize));
        x += kIconSize + kCellSpacing;

        const bool selected = opt.state & QStyle::State_Selected;
        const QColor primary = opt.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
        QColor faint = primary;
        faint.setAlphaF(0.5f);
        paintName(painter, QRect(x, cell.top(), cell.right() - x + 1, cell.height()), opt.fontMetrics, name,
                  index.data(JobTableModel::OutputNameRole).toString(), primary, faint);
        painter->restore();
    }

private:
    static void paintSpinner(QPainter* painter, const QRectF& frame, const QColor& color)
    {
        using namespace std::chrono;
        const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
        const int startAngle = -static_cast<int>((ms % 1000) * 360 / 1000) * 16;
        QPen pen(color, 1.5);
        pen.setCapStyle(Qt::RoundCap);
        painter->setPen(pen);
        painter->setBrush(Qt::NoBrush);
        painter->drawArc(frame.adjusted(1, 1, -1, -1), startAngle, 270 * 16);
    }

    // The name and " (output)" as one run, cut in the middle as a whole; the
    // part that came from the output keeps the faint colour.
    static void paintName(QPainter* painter, const QRect& rect, const QFontMetrics& metrics, const QString& name,
                          const QString& outputName, const QColor& primary, const QColor& faint)
    {
        if (rect.width() <= 0)
            return;
        const QString full = outputName.isEmpty() ? name : name + QStringLiteral(" (") + outputName + u')';
        const QString shown = metrics.elidedText(full, Qt::ElideMiddle, rect.width());

        // Split what is shown into runs of primary and faint text. An elided
        // text is a prefix of the full one, the ellipsis, and a suffix of it.
        struct Run {
            QString text;
            bool faint;
        };
        std::vector<Run> runs;
        const auto addSlice = [&](qsizetype fullFrom, const QString& slice) {
            const qsizetype primaryChars = std::clamp<qsizetype>(name.size() - fullFrom, 0, slice.size());
            if (primaryChars > 0)
                runs.push_back({slice.left(primaryChars), false});
            if (primaryChars < slice.size())
                runs.push_back({slice.mid(primaryChars), true});
        };
        const qsizetype ellipsis = shown == full ? -1 : shown.indexOf(QChar(0x2026));
        if (ellipsis < 0) {
            addSlice(0, shown);
        } else {
            const QString head = shown.left(ellipsis);
            const QString tail = shown.mid(ellipsis + 1);
            addSlice(0, head);
            runs.push_back({QStringLiteral(u"\u2026"), head.size() >= name.size()});
            addSlice(full.size() - tail.size(), tail);
        }

        int x = rect.left();
        for (const Run& run : runs) {
            painter->setPen(run.faint ? faint : primary);
            const int width = metrics.horizontalAdvance(run.text);
            painter->drawText(QRect(x, rect.top(), width, rect.height()), Qt::AlignLeft | Qt::AlignVCenter, run.text);
            x += width;
        }
    }

    // Icons by suffix: the desktop gives one per file type, and looking it up
    // per row and paint would search the icon theme thousands of times.
    QIcon iconFor(const QString& path) const
    {
        const qsizetype dot = path.lastIndexOf(u'.');
        const qsizetype slash = path.lastIndexOf(u'/');
        const QString suffix = dot > slash ? path.mid(dot + 1).toLower() : QString();
        auto found = m_icons.constFind(suffix);
        if (found == m_icons.cend()) {
            // By the suffix alone, never by asking the file system: a path
            // that is not UTF-8 would name another file there. Without an
            // icon theme, the style's plain file icon keeps the column from
            // looking empty.
            const QMimeType type
                = QMimeDatabase().mimeTypeForFile(QStringLiteral("name.") + suffix, QMimeDatabase::MatchExtension);
            const QIcon icon = QIcon::fromTheme(
                type.iconName(),
                QIcon::fromTheme(type.genericIconName(), QApplication::style()->standardIcon(QStyle::SP_FileIcon)));
            found = m_icons.insert(suffix, icon);
        }
        return *found;
    }

    mutable QHash<QString, QIcon> m_icons;
};

QVector<QUuid> toIds(const QModelIndexList& rows)
{
    QVector<QUuid> ids;
    ids.reserve(rows.size());
    for (const QModelIndex& row : rows)
        ids.push_back(row.data(JobTableModel::JobIdRole).toUuid());
    return ids;
}

} // namespace

struct JobListView::Private {
    JobListView* q = nullptr;
    DesktopActions& desktop;
    JobTableModel model;
    JobTable* table = nullptr;
    QWidget* summary = nullptr;
    QLabel* countLabel = nullptr;
    QLabel* aggregateLabel = nullptr;
    QFrame* divider = nullptr;
    QTimer spinnerTimer;
    QPointer<QMenu> menu;
    std::optional<JobList> pendingJobs;
    bool showPosted = false;
    // What a reset must bring back; updates never reset, but a reorder would.
    QVector<QUuid> idsBeforeReset;
    int scrollBeforeReset = 0;
    bool holdingColumnLimits = false;

    Private(JobListView* owner, DesktopActions& actions) : q(owner), desktop(actions) {}

    QSet<QUuid> selectedIds() const
    {
        const QVector<QUuid> ids = toIds(table->selectionModel()->selectedRows(JobTableModel::FileColumn));
        return QSet<QUuid>(ids.begin(), ids.end());
    }

    // The jobs a removal from a row's menu is about: the whole selection when
    // the row is part of it, else the row alone.
    QSet<QUuid> targetSet(const QUuid& rowId) const
    {
        QSet<QUuid> selected = selectedIds();
        if (selected.contains(rowId))
            return selected;
        return {rowId};
    }

    bool hasAnyRemovableTarget(int row) const
    {
        if (!table->selectionModel()->isRowSelected(row, {}))
            return model.jobAt(row).status.isTerminal();
        const QModelIndexList rows = table->selectionModel()->selectedRows(JobTableModel::FileColumn);
        return std::any_of(rows.begin(), rows.end(),
                           [this](const QModelIndex& index) { return model.jobAt(index.row()).status.isTerminal(); });
    }

    void showRowMenu(const QPoint& viewportPos)
    {
        const QModelIndex index = table->indexAt(viewportPos);
        if (!index.isValid())
            return;
        const Job& job = model.jobAt(index.row());
        const QUuid rowId = job.id;
        // The file commands act on the output as it was when the menu opened.
        const std::optional<QString> output = job.status.kind() == JobStatus::Kind::done
            ? std::optional<QString>(job.status.result().outputPath)
            : std::nullopt;

        delete menu;
        menu = new QMenu(q);
        QObject::connect(menu, &QMenu::aboutToHide, menu, &QObject::deleteLater);
        const Strings strings(AppLanguage::current());
        const auto addFileAction = [&](const QString& title, void (DesktopActions::*act)(const QString&)) {
            QAction* action = menu->addAction(title);
            action->setEnabled(output.has_value());
            QObject::connect(action, &QAction::triggered, q, [this, output, act] {
                if (output)
                    (desktop.*act)(*output);
            });
        };
        addFileAction(strings.menuOpen, &DesktopActions::openFile);
        addFileAction(strings.menuShowInFinder, &DesktopActions::revealInFileManager);
        addFileAction(strings.menuCopyPath, &DesktopActions::copyPath);
        menu->addSeparator();
        QAction* remove = menu->addAction(strings.menuRemoveFromList);
        remove->setEnabled(hasAnyRemovableTarget(index.row()));
        // The selection is read again when the command runs.
        QObject::connect(remove, &QAction::triggered, q,
                         [this, rowId] { Q_EMIT q->removeRequested(targetSet(rowId)); });
        QAction* clear = menu->addAction(strings.menuClearEntireList);
        clear->setEnabled(model.totals().terminalCount > 0);
        QObject::connect(clear, &QAction::triggered, q, [this] { Q_EMIT q->clearFinishedRequested(); });
        menu->popup(table->viewport()->mapToGlobal(viewportPos));
    }

    void showPending()
    {
        showPosted = false;
        if (!pendingJobs)
            return;
        const JobList jobs = std::move(*pendingJobs);
        pendingJobs.reset();
        model.setJobs(jobs);
        updateSummary();
        updateSpinner();
    }

    void holdColumnLimits(int section)
    {
        if (section == JobTableModel::FileColumn || holdingColumnLimits)
            return;
        QHeaderView* header = table->horizontalHeader();
        const ColumnLimit limit = section == JobTableModel::SizeColumn ? kSizeLimit : kRatioLimit;
        const int others = header->sectionSize(JobTableModel::SizeColumn)
            + header->sectionSize(JobTableModel::RatioColumn) - header->sectionSize(section);
        const int leftByFile = table->viewport()->width() - others - kFileMinimumWidth;
        const int size = std::max(limit.minimum, std::min({header->sectionSize(section), limit.maximum, leftByFile}));
        if (size == header->sectionSize(section))
            return;
        holdingColumnLimits = true;
        header->resizeSection(section, size);
        holdingColumnLimits = false;
    }

    void updateSummary()
    {
        const JobTotals& totals = model.totals();
        const bool show = totals.doneCount > 0;
        summary->setVisible(show);
        divider->setVisible(show);
        if (!show)
            return;
        countLabel->setText(Strings(AppLanguage::current()).optimizedCount(totals.doneCount));
        aggregateLabel->setVisible(totals.totalOriginal >= 1);
        if (totals.totalOriginal >= 1)
            aggregateLabel->setText(aggregateLine(totals.totalCompressed - totals.totalOriginal, totals.totalOriginal));
    }

    static QString aggregateLine(int64_t delta, int64_t totalOriginal)
    {
        const QString magnitude = CzechFormat::size(delta);
        const QString base = CzechFormat::size(totalOriginal);
        const QString percent
            = CzechFormat::percent(std::abs(static_cast<double>(delta) / static_cast<double>(totalOriginal) * 100.0));
        const Strings strings(AppLanguage::current());
        if (delta > 0)
            return strings.aggregateAdded(magnitude, base, percent);
        if (delta < 0)
            return strings.aggregateSaved(magnitude, base, percent);
        return strings.aggregateNoChange(base);
    }

    void updateSpinner()
    {
        const bool spinning = model.totals().processingCount > 0;
        if (spinning && !spinnerTimer.isActive())
            spinnerTimer.start();
        else if (!spinning)
            spinnerTimer.stop();
    }

    void repaintSpinners()
    {
        QWidget* viewport = table->viewport();
        viewport->update(QRect(table->columnViewportPosition(JobTableModel::FileColumn), 0, kCellPadding + kDotSize + 1,
                               viewport->height()));
    }

    void rememberBeforeReset()
    {
        idsBeforeReset = toIds(table->selectionModel()->selectedRows(JobTableModel::FileColumn));
        scrollBeforeReset = table->verticalScrollBar()->value();
    }

    void restoreAfterReset()
    {
        const QSet<QUuid> wanted(idsBeforeReset.begin(), idsBeforeReset.end());
        idsBeforeReset.clear();
        QItemSelection selection;
        for (int row = 0; row < model.rowCount() && !wanted.isEmpty(); ++row) {
            if (wanted.contains(model.jobAt(row).id))
                selection.select(model.index(row, 0), model.index(row, JobTableModel::ColumnCount - 1));
        }
        table->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
        table->verticalScrollBar()->setValue(scrollBeforeReset);
    }
};

JobListView::JobListView(DesktopActions& desktop, QWidget* parent)
    : QWidget(parent)
    , d(std::make_unique<Private>(this, desktop))
{
    d->summary = new QWidget(this);
    auto* summaryLayout = new QVBoxLayout(d->summary);
    const int sideMargin = style()->pixelMetric(QStyle::PM_LayoutLeftMargin);
    summaryLayout->setContentsMargins(sideMargin, 8, sideMargin, 6);
    summaryLayout->setSpacing(2);
    d->countLabel = new QLabel(d->summary);
    d->countLabel->setObjectName(QStringLiteral("summaryCount"));
    d->countLabel->setTextFormat(Qt::PlainText);
    QFont headline = d->countLabel->font();
    headline.setBold(true);
    d->countLabel->setFont(headline);
    d->aggregateLabel = new QLabel(d->summary);
    d->aggregateLabel->setObjectName(QStringLiteral("summaryAggregate"));
    d->aggregateLabel->setTextFormat(Qt::PlainText);
    QFont subheadline = d->aggregateLabel->font();
    subheadline.setPointSizeF(subheadline.pointSizeF() * 11.0 / 13.0);
    d->aggregateLabel->setFont(subheadline);
    QPalette faint = d->aggregateLabel->palette();
    faint.setColor(QPalette::WindowText, JobColors::secondary(faint));
    d->aggregateLabel->setPalette(faint);
    summaryLayout->addWidget(d->countLabel);
    summaryLayout->addWidget(d->aggregateLabel);

    d->divider = new QFrame(this);
    d->divider->setFrameShape(QFrame::HLine);
    d->divider->setFrameShadow(QFrame::Plain);
    d->divider->setForegroundRole(QPalette::Mid);

    d->table = new JobTable(this);
    d->table->setModel(&d->model);
    d->table->setItemDelegateForColumn(JobTableModel::FileColumn, new FileCellDelegate(d->table));
    d->table->setSelectionBehavior(QAbstractItemView::SelectRows);
    d->table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    d->table->setSortingEnabled(false);
    d->table->setWordWrap(false);
    d->table->setTextElideMode(Qt::ElideRight);
    d->table->setShowGrid(false);
    d->table->setAlternatingRowColors(true);
    d->table->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    d->table->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    d->table->setContextMenuPolicy(Qt::CustomContextMenu);
    // Tab leaves the table for the footer instead of walking it cell by cell.
    d->table->setTabKeyNavigation(false);
    d->table->setFrameShape(QFrame::NoFrame);

    QHeaderView* rows = d->table->verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(std::max(fontMetrics().height(), kIconSize) + 8);

    QHeaderView* columns = d->table->horizontalHeader();
    columns->setSectionsClickable(false);
    columns->setHighlightSections(false);
    columns->setStretchLastSection(false);
    columns->setMinimumSectionSize(kSizeLimit.minimum);
    columns->setSectionResizeMode(JobTableModel::FileColumn, QHeaderView::Stretch);
    columns->setSectionResizeMode(JobTableModel::SizeColumn, QHeaderView::Interactive);
    columns->setSectionResizeMode(JobTableModel::RatioColumn, QHeaderView::Interactive);
    columns->resizeSection(JobTableModel::SizeColumn, 90);
    columns->resizeSection(JobTableModel::RatioColumn, 160);
    connect(columns, &QHeaderView::sectionResized, this, [this](int section) { d->holdColumnLimits(section); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(d->summary);
    layout->addWidget(d->divider);
    layout->addWidget(d->table, 1);

    d->spinnerTimer.setInterval(100);
    connect(&d->spinnerTimer, &QTimer::timeout, this, [this] { d->repaintSpinners(); });
    connect(d->table, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) { d->showRowMenu(pos); });
    connect(&d->model, &QAbstractItemModel::modelAboutToBeReset, this, [this] { d->rememberBeforeReset(); });
    connect(&d->model, &QAbstractItemModel::modelReset, this, [this] { d->restoreAfterReset(); });

    d->updateSummary();
}

JobListView::~JobListView() = default;

void JobListView::setJobs(const JobList& jobs)
{
    // A busy queue reports far more often than anyone can see; like a screen
    // refresh, only the newest list reaches the table, once per event-loop pass.
    d->pendingJobs = jobs;
    if (d->showPosted)
        return;
    d->showPosted = true;
    QMetaObject::invokeMethod(
        this, [this] { d->showPending(); }, Qt::QueuedConnection);
}

} // namespace vantro
