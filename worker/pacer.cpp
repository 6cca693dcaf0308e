#include "worker/backends.h"

#include <QElapsedTimer>
#include <QThread>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace worker {
namespace {

// One condition variable: the thread sleeps until its time is up or somebody
// has something for it, and wakes for nothing else. The standard library's
// mutex and condition variable, not Qt's: ThreadSanitizer sees these, while
// Qt's are locked inside a library it cannot look into, which hides whether
// "woken" is read under the lock that guards it.
class ThreadPacer final : public Pacer {
public:
    ThreadPacer() { clock.start(); }

    void sleepMs(int ms) override { QThread::msleep(static_cast<unsigned long>(ms)); }

    bool waitMs(int ms) override
    {
        std::unique_lock<std::mutex> lock(mutex);
        const auto isWoken = [this] { return woken; };
        if (ms < 0)
            condition.wait(lock, isWoken);
        else
            condition.wait_for(lock, std::chrono::milliseconds(ms), isWoken);
        const bool wasWoken = woken;
        woken = false;
        return wasWoken;
    }

    void wake() override
    {
        std::lock_guard<std::mutex> lock(mutex);
        woken = true;
        condition.notify_all();
    }

    qint64 nowMs() override { return clock.elapsed(); }

private:
    std::mutex mutex;
    std::condition_variable condition;
    bool woken = false;
    QElapsedTimer clock;
};

} // namespace

std::unique_ptr<Pacer> makeRealPacer() { return std::make_unique<ThreadPacer>(); }
} // namespace worker
