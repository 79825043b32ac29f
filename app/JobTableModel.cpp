#include "JobTableModel.h"

#include "CzechFormat.h"
#include "FileNames.h"
#include "JobColors.h"
#include "Localization.h"

#include <QFont>
#include <QGuiApplication>
#include <QPalette>
#include <QSet>

#include <algorithm>
#include <utility>

namespace vantro {

namespace {

const QString kDash = QStringLiteral(u"\u2013");

using Kind = JobStatus::Kind;

int toInt(std::size_t value)
{
    return static_cast<int>(value);
}

QString lastPathComponent(const QString& path)
{
    return path.mid(path.lastIndexOf(u'/') + 1);
}

// The engine's message follows a language-specific label; the label is not
// one of the shared interface texts because nothing else shows it.
QString failurePrefix()
{
    return AppLanguage::current() == AppLanguage::cs ? QStringLiteral("Chyba: ") : QStringLiteral("Error: ");
}

bool sameResult(const CompressionResult& a, const CompressionResult& b)
{
    return a.originalSize == b.originalSize && a.compressedSize == b.compressedSize && a.outputPath == b.outputPath
        && a.alreadyOptimized == b.alreadyOptimized;
}

// Whether the row shows anything different. Jobs in untouched stretches of a
// snapshot are the very same objects, so most rows never get here.
bool showsDifferently(const Job& a, const Job& b)
{
    if (a.id != b.id || a.path != b.path || a.status.kind() != b.status.kind())
        return true;
    switch (a.status.kind()) {
    case Kind::done:
        return !sameResult(a.status.result(), b.status.result());
    case Kind::failed:
        return a.status.message() != b.status.message();
    default:
        return false;
    }
}

// Saving in percent of the original; only for an original of at least 1 byte.
double savingPercent(const CompressionResult& result)
{
    return (1.0 - static_cast<double>(result.compressedSize) / static_cast<double>(result.originalSize)) * 100.0;
}

QVariant fileData(const Job& job, int role)
{
    switch (role) {
    case Qt::DisplayRole:
        return lastPathComponent(FileNames::shown(job.path));
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeading | Qt::AlignVCenter));
    default:
        return {};
    }
}

QVariant sizeData(const Job& job, int role)
{
    const bool done = job.status.kind() == Kind::done;
    switch (role) {
    case Qt::DisplayRole:
        return done ? CzechFormat::size(job.status.result().compressedSize) : kDash;
    case Qt::ForegroundRole:
        return done ? QVariant() : QVariant(JobColors::tertiary(QGuiApplication::palette()));
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(Qt::AlignTrailing | Qt::AlignVCenter));
    default:
        return {};
    }
}

QVariant ratioData(const Job& job, int role)
{
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignTrailing | Qt::AlignVCenter));

    const JobStatus& status = job.status;
    switch (status.kind()) {
    case Kind::pending:
        if (role == Qt::DisplayRole)
            return Strings(AppLanguage::current()).statusWaiting;
        if (role == Qt::ForegroundRole)
            return JobColors::secondary(QGuiApplication::palette());
        return {};
    case Kind::processing:
        if (role == Qt::DisplayRole)
            return Strings(AppLanguage::current()).statusProcessing;
        if (role == Qt::ForegroundRole)
            return JobColors::secondary(QGuiApplication::palette());
        return {};
    case Kind::done: {
        const CompressionResult& result = status.result();
        if (result.originalSize < 1) {
            if (role == Qt::DisplayRole)
                return kDash;
            if (role == Qt::ForegroundRole)
                return JobColors::tertiary(QGuiApplication::palette());
            return {};
        }
        const double saving = savingPercent(result);
        if (role == Qt::DisplayRole)
            return CzechFormat::percent(saving);
        if (role == Qt::ForegroundRole)
            return saving >= 0 ? JobColors::green(QGuiApplication::palette())
                               : JobColors::red(QGuiApplication::palette());
        if (role == Qt::FontRole) {
            QFont font = QGuiApplication::font();
            font.setWeight(QFont::Medium);
            return font;
        }
        return {};
    }
    case Kind::failed:
        if (role == Qt::DisplayRole)
            return failurePrefix() + status.message();
        if (role == Qt::ForegroundRole)
            return JobColors::red(QGuiApplication::palette());
        if (role == Qt::ToolTipRole)
            return status.message();
        return {};
    case Kind::cancelled:
        if (role == Qt::DisplayRole)
            return Strings(AppLanguage::current()).statusCancelled;
        if (role == Qt::ForegroundRole)
            return JobColors::orange(QGuiApplication::palette());
        return {};
    }
    return {};
}

QVariant dotColor(const JobStatus& status)
{
    switch (status.kind()) {
    case Kind::pending: {
        QColor color = JobColors::secondary(QGuiApplication::palette());
        color.setAlphaF(color.alphaF() * 0.35f);
        return color;
    }
    case Kind::processing:
        return {};
    case Kind::done: {
        const CompressionResult& result = status.result();
        if (result.alreadyOptimized)
            return JobColors::blue();
        return result.originalSize >= result.compressedSize ? JobColors::green(QGuiApplication::palette())
                                                            : JobColors::red(QGuiApplication::palette());
    }
    case Kind::failed:
        return JobColors::red(QGuiApplication::palette());
    case Kind::cancelled:
        return JobColors::orange(QGuiApplication::palette());
    }
    return {};
}

} // namespace

JobTableModel::JobTableModel(QObject* parent) : QAbstractTableModel(parent) {}

JobTableModel::~JobTableModel() = default;

void JobTableModel::setJobs(const JobList& jobs)
{
    // Rows not yet refreshed point into the previous snapshot.
    const JobList previous = std::exchange(m_list, jobs);

    // The queue appends, changes statuses and removes; the common update
    // leaves every row where it was, so try that first.
    std::size_t common = 0;
    const std::size_t shared = std::min(m_rows.size(), jobs.size());
    while (common < shared && (m_rows[common] == &jobs[common] || m_rows[common]->id == jobs[common].id))
        ++common;

    if (common < m_rows.size()) {
        if (!sameOrderOfSharedJobs(jobs, common)) {
            resetTo(jobs);
            return;
        }
        removeRowsMissingFrom(jobs, common);
    }
    insertRowsNewIn(jobs, common);
    refreshRows(jobs);
}

// Whether the rows from `from` on that stay in the list keep their order
// among the jobs of the new list that were already shown. Only then can the
// update be told as removals and insertions.
bool JobTableModel::sameOrderOfSharedJobs(const JobList& jobs, std::size_t from) const
{
    QSet<QUuid> newIds;
    newIds.reserve(toInt(jobs.size() - std::min(from, jobs.size())));
    for (std::size_t i = from; i < jobs.size(); ++i)
        newIds.insert(jobs[i].id);
    QSet<QUuid> oldIds;
    oldIds.reserve(toInt(m_rows.size() - from));
    for (std::size_t i = from; i < m_rows.size(); ++i)
        oldIds.insert(m_rows[i]->id);

    std::size_t next = from;
    for (std::size_t row = from; row < m_rows.size(); ++row) {
        const QUuid& id = m_rows[row]->id;
        if (!newIds.contains(id))
            continue;
        while (next < jobs.size() && !oldIds.contains(jobs[next].id))
            ++next;
        if (next == jobs.size() || jobs[next].id != id)
            return false;
        ++next;
    }
    for (; next < jobs.size(); ++next) {
        if (oldIds.contains(jobs[next].id))
            return false;
    }
    return true;
}

void JobTableModel::removeRowsMissingFrom(const JobList& jobs, std::size_t from)
{
    QSet<QUuid> newIds;
    newIds.reserve(toInt(jobs.size() - std::min(from, jobs.size())));
    for (std::size_t i = from; i < jobs.size(); ++i)
        newIds.insert(jobs[i].id);

    // From the bottom up, one signal per stretch of leaving rows, so the rows
    // above a stretch keep their numbers while it goes.
    std::size_t end = m_rows.size();
    while (end > from) {
        if (newIds.contains(m_rows[end - 1]->id)) {
            --end;
            continue;
        }
        std::size_t begin = end - 1;
        while (begin > from && !newIds.contains(m_rows[begin - 1]->id))
            --begin;
        beginRemoveRows({}, toInt(begin), toInt(end - 1));
        for (std::size_t row = begin; row < end; ++row)
            account(*m_rows[row], -1);
        m_rows.erase(m_rows.begin() + static_cast<std::ptrdiff_t>(begin),
                     m_rows.begin() + static_cast<std::ptrdiff_t>(end));
        endRemoveRows();
        end = begin;
    }
}

// After the removals, the rows from `from` on are the shown jobs in the new
// list's order, and every job of the new list missing there is new.
void JobTableModel::insertRowsNewIn(const JobList& jobs, std::size_t from)
{
    std::size_t row = from;
    std::size_t next = from;
    while (next < jobs.size()) {
        if (row < m_rows.size() && m_rows[row]->id == jobs[next].id) {
            ++row;
            ++next;
            continue;
        }
        const std::size_t first = next;
        while (next < jobs.size() && (row == m_rows.size() || m_rows[row]->id != jobs[next].id))
            ++next;
        const std::size_t count = next - first;
        beginInsertRows({}, toInt(row), toInt(row + count - 1));
        std::vector<const Job*> added;
        added.reserve(count);
        for (std::size_t i = first; i < next; ++i) {
            added.push_back(&jobs[i]);
            account(jobs[i], 1);
        }
        m_rows.insert(m_rows.begin() + static_cast<std::ptrdiff_t>(row), added.begin(), added.end());
        endInsertRows();
        row += count;
    }
}

// Rows and jobs now match one to one by id; point every row at the new
// snapshot and announce the stretches of rows that look different.
void JobTableModel::refreshRows(const JobList& jobs)
{
    std::vector<std::pair<int, int>> changed;
    for (std::size_t row = 0; row < m_rows.size(); ++row) {
        const Job* job = &jobs[row];
        if (m_rows[row] == job)
            continue;
        if (showsDifferently(*m_rows[row], *job)) {
            account(*m_rows[row], -1);
            account(*job, 1);
            const int r = toInt(row);
            if (!changed.empty() && changed.back().second == r - 1)
                changed.back().second = r;
            else
                changed.emplace_back(r, r);
        }
        m_rows[row] = job;
    }
    for (const auto& [first, last] : changed)
        Q_EMIT dataChanged(index(first, 0), index(last, ColumnCount - 1));
}

void JobTableModel::resetTo(const JobList& jobs)
{
    beginResetModel();
    m_rows.clear();
    m_rows.reserve(jobs.size());
    m_totals = {};
    for (const Job& job : jobs) {
        m_rows.push_back(&job);
        account(job, 1);
    }
    endResetModel();
}

void JobTableModel::account(const Job& job, int64_t sign)
{
    switch (job.status.kind()) {
    case Kind::pending:
    case Kind::cancelled:
    case Kind::failed:
        break;
    case Kind::processing:
        m_totals.processingCount += sign;
        break;
    case Kind::done: {
        const CompressionResult& result = job.status.result();
        m_totals.doneCount += sign;
        m_totals.totalOriginal += sign * result.originalSize;
        m_totals.totalCompressed += sign * (result.alreadyOptimized ? result.originalSize : result.compressedSize);
        break;
    }
    }
    if (job.status.isTerminal())
        m_totals.terminalCount += sign;
}

int JobTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : toInt(m_rows.size());
}

int JobTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant JobTableModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Job& job = jobAt(index.row());
    switch (role) {
    case JobIdRole:
        return job.id;
    case StatusKindRole:
        return static_cast<int>(job.status.kind());
    case DotColorRole:
        return dotColor(job.status);
    case SourcePathRole:
        return job.path;
    case OutputNameRole: {
        if (job.status.kind() != Kind::done)
            return QString();
        const QString output = lastPathComponent(job.status.result().outputPath);
        return output == lastPathComponent(job.path) ? QString() : output;
    }
    default:
        break;
    }
    switch (index.column()) {
    case FileColumn:
        return fileData(job, role);
    case SizeColumn:
        return sizeData(job, role);
    case RatioColumn:
        return ratioData(job, role);
    default:
        return {};
    }
}

QVariant JobTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(
            Qt::Alignment((section == FileColumn ? Qt::AlignLeading : Qt::AlignTrailing) | Qt::AlignVCenter));
    if (role != Qt::DisplayRole)
        return {};
    const Strings strings(AppLanguage::current());
    switch (section) {
    case FileColumn:
        return strings.columnFile;
    case SizeColumn:
        return strings.columnSize;
    case RatioColumn:
        return strings.columnRatio;
    default:
        return {};
    }
}

} // namespace vantro
