#include "runtime/ProcessWait.h"

#include "runtime/Application.h"

#include "platform/core/Descriptor.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <memory>
#include <poll.h>

namespace runtime {

WaitOutcome processMessagesUntilReadable(int descriptor, int timeoutMs)
{
    if (terminated())
        return WaitOutcome::Terminated;
    if (!QCoreApplication::instance()) {
        // No toolkit, no messages: only the descriptor and the time.
        pollfd entry{descriptor, POLLIN, 0};
        const int ready = platform::retryInterrupted(
            [&] { return ::poll(&entry, descriptor >= 0 ? 1 : 0, timeoutMs); });
        return ready > 0 ? WaitOutcome::Ready : WaitOutcome::TimedOut;
    }

    bool ready = false;
    bool timedOut = false;
    std::unique_ptr<QSocketNotifier> notifier;
    if (descriptor >= 0) {
        notifier = std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, [&] {
            ready = true;
            // Readable stays readable: one report is enough.
            notifier->setEnabled(false);
        });
    }
    QTimer timer;
    if (timeoutMs >= 0) {
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, [&] { timedOut = true; });
        timer.start(timeoutMs);
    }
    // Blocks in the toolkit's own wait for the next event, so nothing spins; the request
    // to terminate is itself an event, after which the call returns.
    while (!ready && !timedOut && !terminated())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    if (ready)
        return WaitOutcome::Ready;
    return timedOut ? WaitOutcome::TimedOut : WaitOutcome::Terminated;
}

} // namespace runtime
