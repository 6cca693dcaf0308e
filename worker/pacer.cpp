#include "worker/backends.h"

#include <QDeadlineTimer>
#include <QThread>

#include <algorithm>

namespace worker {
namespace {

// Long pauses are slept in slices so that a thread asked to stop (the
// program is ending) does not sit out the rest of a 4 s pause first.
constexpr qint64 kSliceMs = 50;

class ThreadPacer final : public Pacer {
public:
    void sleepMs(int ms) override
    {
        QDeadlineTimer deadline(ms);
        while (!deadline.hasExpired()) {
            if (QThread::currentThread()->isInterruptionRequested())
                return;
            QThread::msleep(static_cast<unsigned long>(
                std::min<qint64>(kSliceMs, std::max<qint64>(deadline.remainingTime(), 1))));
        }
    }
};

} // namespace

std::unique_ptr<Pacer> makeRealPacer() { return std::make_unique<ThreadPacer>(); }
} // namespace worker
