#pragma once

#include "Job.h"

#include <QSet>
#include <QUuid>
#include <QWidget>

namespace vantro {

class DesktopActions;

// The job list: the summary header over the finished jobs and the table of
// jobs (file, size, ratio) with a status dot per row, multiple selection and
// the row menu (open, show in file manager, copy path, remove, clear).
class JobListView : public QWidget {
    Q_OBJECT

public:
    explicit JobListView(DesktopActions& desktop, QWidget* parent = nullptr);
    ~JobListView() override;

    // The whole list as the queue last reported it. It is shown at the next
    // pass of the event loop, where a newer list replaces one not yet shown.
    // Only rows that changed are updated; the selection and the scroll
    // position survive.
    void setJobs(const JobList& jobs);

Q_SIGNALS:
    // The row menu's "remove from list", with the ids of the chosen rows.
    void removeRequested(const QSet<QUuid>& ids);
    // The row menu's "clear entire list".
    void clearFinishedRequested();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace vantro
