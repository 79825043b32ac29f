#pragma once

#include <atomic>
#include <exception>
#include <memory>

namespace vantro {

// Thrown out of an engine call whose job was told to stop. The queue ends the
// job as cancelled instead of failed; nothing of the job's output may have
// been placed when it is thrown.
class JobCancelled : public std::exception {
public:
    const char* what() const noexcept override { return "The job was cancelled"; }
};

// Lets the job running on a worker thread be told to stop. The queue installs
// a flag for the length of each engine call; the long steps of a job (the
// optimiser tools, claiming an output name) look at it and give up at once,
// so shutting the program down does not wait for work nobody will see.
namespace JobCancellation {

using Flag = std::shared_ptr<std::atomic<bool>>;

// A new flag, not yet raised.
Flag makeFlag();

// True when the job on this thread has been told to stop; false outside a job.
bool requested();

// Throws JobCancelled when requested() is true.
void throwIfRequested();

// Installs a flag for the current thread for its lifetime.
class Scope {
public:
    explicit Scope(Flag flag);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

private:
    Flag m_previous;
};

} // namespace JobCancellation

} // namespace vantro
