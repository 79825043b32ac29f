#include "JobCancellation.h"

#include <utility>

namespace vantro::JobCancellation {

namespace {
thread_local Flag currentFlag;
}

Flag makeFlag()
{
    return std::make_shared<std::atomic<bool>>(false);
}

bool requested()
{
    return currentFlag && currentFlag->load(std::memory_order_acquire);
}

void throwIfRequested()
{
    if (requested())
        throw JobCancelled();
}

Scope::Scope(Flag flag) : m_previous(std::exchange(currentFlag, std::move(flag))) {}

Scope::~Scope()
{
    currentFlag = std::move(m_previous);
}

} // namespace vantro::JobCancellation
