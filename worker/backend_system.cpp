// System probes as the worker sees them. Until the probes exist nothing is known.
#include "worker/backends.h"

namespace worker {
namespace {
class NoSystem final : public SystemBackend {
public:
    QString cpuInfo() override { return {}; }
    void memoryInfo(QVariantMap &) override {}
    void motherboardInfo(QVariantMap &) override {}
};
} // namespace

std::unique_ptr<SystemBackend> makeSystemBackend() { return std::make_unique<NoSystem>(); }
} // namespace worker
