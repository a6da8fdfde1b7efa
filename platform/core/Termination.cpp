#include "platform/core/Termination.h"

#include <atomic>

namespace platform {

namespace {

std::atomic<bool> signalled{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

} // namespace

void noteTerminationSignal() noexcept
{
    signalled.store(true);
}

bool terminationSignalled() noexcept
{
    return signalled.load();
}

void resetTerminationSignal() noexcept
{
    signalled.store(false);
}

} // namespace platform
