#pragma once

namespace platform {

// A termination signal came: from then on nothing waits for a lock, so the program ends
// at once. Safe to call from a signal handler.
void noteTerminationSignal() noexcept;
bool terminationSignalled() noexcept;
// Tests start each program life afresh.
void resetTerminationSignal() noexcept;

} // namespace platform
