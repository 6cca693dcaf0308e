#include "worker/backends.h"

#include <QThread>

namespace worker {
namespace {
class ThreadPacer final : public Pacer {
public:
    void sleepMs(int ms) override { QThread::msleep(static_cast<unsigned long>(ms)); }
};
} // namespace

std::unique_ptr<Pacer> makeRealPacer() { return std::make_unique<ThreadPacer>(); }
} // namespace worker
