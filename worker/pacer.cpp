#include "worker/backends.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>
#include <QWaitCondition>

namespace worker {
namespace {

// One condition variable: the thread sleeps until its time is up or somebody
// has something for it, and wakes for nothing else.
class ThreadPacer final : public Pacer {
public:
    ThreadPacer() { clock.start(); }

    void sleepMs(int ms) override { QThread::msleep(static_cast<unsigned long>(ms)); }

    bool waitMs(int ms) override
    {
        QMutexLocker lock(&mutex);
        const QDeadlineTimer deadline = ms < 0 ? QDeadlineTimer(QDeadlineTimer::Forever)
                                               : QDeadlineTimer(ms, Qt::PreciseTimer);
        while (!woken) {
            if (!condition.wait(&mutex, deadline))
                break;
        }
        const bool wasWoken = woken;
        woken = false;
        return wasWoken;
    }

    void wake() override
    {
        QMutexLocker lock(&mutex);
        woken = true;
        condition.wakeAll();
    }

    qint64 nowMs() override { return clock.elapsed(); }

private:
    QMutex mutex;
    QWaitCondition condition;
    bool woken = false;
    QElapsedTimer clock;
};

} // namespace

std::unique_ptr<Pacer> makeRealPacer() { return std::make_unique<ThreadPacer>(); }
} // namespace worker
