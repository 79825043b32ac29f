#pragma once

#include "CompressionResult.h"

#include <QString>
#include <QUuid>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

namespace vantro {

// Where a job stands. done, failed and cancelled are terminal and never left.
class JobStatus {
public:
    enum class Kind { pending, processing, done, failed, cancelled };

    static JobStatus pending() { return JobStatus(Kind::pending, {}); }
    static JobStatus processing() { return JobStatus(Kind::processing, {}); }
    static JobStatus done(CompressionResult result) { return JobStatus(Kind::done, std::move(result)); }
    static JobStatus failed(QString message) { return JobStatus(Kind::failed, std::move(message)); }
    static JobStatus cancelled() { return JobStatus(Kind::cancelled, {}); }

    Kind kind() const { return m_kind; }
    bool isTerminal() const { return m_kind == Kind::done || m_kind == Kind::failed || m_kind == Kind::cancelled; }

    // done only.
    const CompressionResult& result() const { return std::get<CompressionResult>(m_payload); }
    // failed only: the failure text.
    const QString& message() const { return std::get<QString>(m_payload); }

private:
    using Payload = std::variant<std::monostate, CompressionResult, QString>;

    JobStatus(Kind kind, Payload payload) : m_kind(kind), m_payload(std::move(payload)) {}

    Kind m_kind;
    Payload m_payload;
};

// One file in the queue, identified by id. Only the status changes after the
// job is made.
struct Job {
    QUuid id;
    QString path;
    JobStatus status = JobStatus::pending();
    // The number given for sequence renaming; absent when the batch was not numbered.
    std::optional<int64_t> sequenceNumber;
    // The cleaned one-off base name of the batch, if it had one.
    std::optional<QString> sequenceBaseOverride;

    // A pending job with a fresh id.
    static Job make(const QString& path, std::optional<int64_t> sequenceNumber = std::nullopt,
                    std::optional<QString> sequenceBaseOverride = std::nullopt);
};

// An immutable list of jobs. Copies share everything, and a changed list
// shares every untouched stretch of jobs with the list it came from, so the
// queue can hand the whole list to its observer after every change without
// copying thousands of jobs each time.
class JobList {
    struct Data;

public:
    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Job;
        using difference_type = std::ptrdiff_t;
        using pointer = const Job*;
        using reference = const Job&;

        const_iterator() = default;
        reference operator*() const;
        pointer operator->() const { return &**this; }
        const_iterator& operator++()
        {
            ++m_index;
            return *this;
        }
        const_iterator operator++(int)
        {
            const_iterator before = *this;
            ++m_index;
            return before;
        }
        friend bool operator==(const const_iterator& a, const const_iterator& b)
        {
            return a.m_data == b.m_data && a.m_index == b.m_index;
        }

    private:
        friend class JobList;
        const_iterator(const Data* data, std::size_t index) : m_data(data), m_index(index) {}

        const Data* m_data = nullptr;
        std::size_t m_index = 0;
    };

    JobList() = default;
    explicit JobList(const std::vector<Job>& jobs);

    std::size_t size() const;
    bool empty() const { return size() == 0; }
    const Job& operator[](std::size_t index) const;
    const_iterator begin() const { return const_iterator(m_data.get(), 0); }
    const_iterator end() const { return const_iterator(m_data.get(), size()); }
    std::vector<Job> toVector() const;

    // Each returns a new list and leaves this one as it is.
    JobList appending(const std::vector<Job>& jobs) const;
    JobList withStatus(std::size_t index, JobStatus status) const;
    // Every job that `change` gives a new status for takes it.
    JobList withStatuses(const std::function<std::optional<JobStatus>(const Job&)>& change) const;
    // The jobs that `keep` accepts, in their order.
    JobList filtered(const std::function<bool(const Job&)>& keep) const;

private:
    explicit JobList(std::shared_ptr<const Data> data) : m_data(std::move(data)) {}

    std::shared_ptr<const Data> m_data;
};

} // namespace vantro
