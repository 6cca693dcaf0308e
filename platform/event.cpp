// Windows-style events on a mutex and a condition variable.

#include "platform/overlapped.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform {

struct Event::State {
    std::mutex mutex;
    std::condition_variable cond;
    bool manualReset = true;
    bool signalled = false;
};

Event::Event(bool manualReset, bool initiallySet) : d(std::make_unique<State>())
{
    d->manualReset = manualReset;
    d->signalled = initiallySet;
}

Event::~Event() = default;

void Event::set()
{
    // Notify under the lock: a waiter may destroy the event as soon as it
    // sees it set. An auto-reset event releases one waiter; waking all is
    // harmless because the first one through resets it and the rest wait on.
    std::lock_guard<std::mutex> lock(d->mutex);
    d->signalled = true;
    d->cond.notify_all();
}

void Event::reset()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->signalled = false;
}

std::uint32_t Event::wait(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(d->mutex);
    auto ready = [this] { return d->signalled; };
    if (timeoutMs < 0) {
        d->cond.wait(lock, ready);
    } else if (!d->cond.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
        return kWaitTimeout;
    }
    if (!d->manualReset)
        d->signalled = false;
    return kWaitObject0;
}

} // namespace platform
