// GPU telemetry as the worker sees it. Until the control library binding
// exists no card is recognised and telemetry is left untouched.
#include "worker/backends.h"

namespace worker {
namespace {
class NoGpu final : public GpuBackend {
public:
    int getGpuInformation(QVariantMap &, QVariantMap &reply) override
    {
        reply.insert(QStringLiteral("GPU_count"), 0);
        return 0;
    }
    TelemetryRates rates() const override { return {}; }
    void getAdapterDriverVersion(ctl_device_adapter_properties_t *, QVariantMap &) override {}
    std::array<double, 4> overclockPowerTelemetry(ctl_device_adapter_handle_t) override
    {
        return {0.0, 0.0, 0.0, 0.0};
    }
    void ctlPciTest(ctl_device_adapter_handle_t, QVariantMap &) override {}
};
} // namespace

std::unique_ptr<GpuBackend> makeGpuBackend() { return std::make_unique<NoGpu>(); }
} // namespace worker
