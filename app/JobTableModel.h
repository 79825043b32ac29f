#pragma once

#include "Job.h"

#include <QAbstractTableModel>

#include <cstdint>
#include <vector>

namespace vantro {

// Running sums over the rows, kept up to date by every update so the summary
// and the row menu never walk thousands of jobs.
struct JobTotals {
    int64_t doneCount = 0;
    int64_t totalOriginal = 0;
    // An already-optimised result counts with its original size.
    int64_t totalCompressed = 0;
    int64_t terminalCount = 0;
    int64_t processingCount = 0;
};

// The job table's rows: one per job in queue order. Each update is compared
// with the rows shown by job id, and only what differs is announced (rows
// inserted, removed or changed), so views keep their selection and scroll
// position and an update costs little more than a walk over the row pointers.
class JobTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { FileColumn, SizeColumn, RatioColumn, ColumnCount };
    enum Role {
        JobIdRole = Qt::UserRole + 1,
        // JobStatus::Kind as an int.
        StatusKindRole,
        // The status dot's colour; none while the job is processing.
        DotColorRole,
        // The output's file name when a done job's output is named otherwise
        // than its source; empty in every other case.
        OutputNameRole,
        SourcePathRole,
    };

    explicit JobTableModel(QObject* parent = nullptr);
    ~JobTableModel() override;

    void setJobs(const JobList& jobs);

    const Job& jobAt(int row) const { return *m_rows[static_cast<std::size_t>(row)]; }
    const JobTotals& totals() const { return m_totals; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    bool sameOrderOfSharedJobs(const JobList& jobs, std::size_t from) const;
    void removeRowsMissingFrom(const JobList& jobs, std::size_t from);
    void insertRowsNewIn(const JobList& jobs, std::size_t from);
    void refreshRows(const JobList& jobs);
    void resetTo(const JobList& jobs);
    void account(const Job& job, int64_t sign);

    // Every row points into this snapshot once an update is over; during an
    // update untouched rows still point into the previous one, which the
    // update keeps alive until it ends.
    JobList m_list;
    std::vector<const Job*> m_rows;
    JobTotals m_totals;
};

} // namespace vantro
