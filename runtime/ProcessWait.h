#pragma once

namespace runtime {

enum class WaitOutcome { Ready, Terminated, TimedOut };

// Lets the toolkit process its messages, sleeping while there are none, until the
// descriptor becomes readable, termination is asked for (terminated()), or timeoutMs have
// passed (-1: no limit). With a descriptor of -1 only the other two end it. Timers,
// clicks and repaints all run meanwhile.
WaitOutcome processMessagesUntilReadable(int descriptor, int timeoutMs = -1);

} // namespace runtime
