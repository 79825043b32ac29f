#include "Job.h"

#include <utility>

namespace vantro {

namespace {

// Jobs per shared stretch. A status change copies one stretch and the table of
// stretches, so an update of a list of n jobs costs about 64 + n / 64 copies.
constexpr std::size_t kChunkSize = 64;

using Chunk = std::vector<Job>;

} // namespace

// Every chunk but the last holds exactly kChunkSize jobs, so a position is
// found by division.
struct JobList::Data {
    std::vector<std::shared_ptr<const Chunk>> chunks;
    std::size_t size = 0;
};

Job Job::make(const QString& path, std::optional<int64_t> sequenceNumber, std::optional<QString> sequenceBaseOverride)
{
    return Job{QUuid::createUuid(), path, JobStatus::pending(), sequenceNumber, std::move(sequenceBaseOverride)};
}

const Job& JobList::const_iterator::operator*() const
{
    return (*m_data->chunks[m_index / kChunkSize])[m_index % kChunkSize];
}

JobList::JobList(const std::vector<Job>& jobs) : JobList(JobList().appending(jobs)) {}

std::size_t JobList::size() const
{
    return m_data ? m_data->size : 0;
}

const Job& JobList::operator[](std::size_t index) const
{
    return (*m_data->chunks[index / kChunkSize])[index % kChunkSize];
}

std::vector<Job> JobList::toVector() const
{
    std::vector<Job> out;
    out.reserve(size());
    if (m_data) {
        for (const auto& chunk : m_data->chunks)
            out.insert(out.end(), chunk->begin(), chunk->end());
    }
    return out;
}

JobList JobList::appending(const std::vector<Job>& jobs) const
{
    auto data = m_data ? std::make_shared<Data>(*m_data) : std::make_shared<Data>();
    std::size_t next = 0;
    if (!data->chunks.empty() && data->chunks.back()->size() < kChunkSize && !jobs.empty()) {
        auto last = std::make_shared<Chunk>(*data->chunks.back());
        while (last->size() < kChunkSize && next < jobs.size())
            last->push_back(jobs[next++]);
        data->chunks.back() = std::move(last);
    }
    while (next < jobs.size()) {
        auto chunk = std::make_shared<Chunk>();
        chunk->reserve(kChunkSize);
        while (chunk->size() < kChunkSize && next < jobs.size())
            chunk->push_back(jobs[next++]);
        data->chunks.push_back(std::move(chunk));
    }
    data->size += jobs.size();
    return JobList(std::shared_ptr<const Data>(std::move(data)));
}

JobList JobList::withStatus(std::size_t index, JobStatus status) const
{
    auto data = std::make_shared<Data>(*m_data);
    auto& slot = data->chunks[index / kChunkSize];
    auto chunk = std::make_shared<Chunk>(*slot);
    (*chunk)[index % kChunkSize].status = std::move(status);
    slot = std::move(chunk);
    return JobList(std::shared_ptr<const Data>(std::move(data)));
}

JobList JobList::withStatuses(const std::function<std::optional<JobStatus>(const Job&)>& change) const
{
    if (!m_data)
        return *this;
    auto data = std::make_shared<Data>(*m_data);
    for (auto& slot : data->chunks) {
        std::shared_ptr<Chunk> copy;
        for (std::size_t i = 0; i < slot->size(); ++i) {
            std::optional<JobStatus> status = change((*slot)[i]);
            if (!status)
                continue;
            if (!copy)
                copy = std::make_shared<Chunk>(*slot);
            (*copy)[i].status = std::move(*status);
        }
        if (copy)
            slot = std::move(copy);
    }
    return JobList(std::shared_ptr<const Data>(std::move(data)));
}

JobList JobList::filtered(const std::function<bool(const Job&)>& keep) const
{
    std::vector<Job> kept;
    kept.reserve(size());
    for (const Job& job : *this) {
        if (keep(job))
            kept.push_back(job);
    }
    return JobList().appending(kept);
}

} // namespace vantro
