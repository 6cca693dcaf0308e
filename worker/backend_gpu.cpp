// GPU telemetry as the worker sees it: one refresh of the control library per
// call, with the last sample and the derived rates kept here between calls.
#include "worker/backends.h"

#include "gpu/gpu_information.h"

namespace worker {
namespace {
class ControlLibraryGpu final : public GpuBackend {
public:
    int getGpuInformation(QVariantMap &facts, QVariantMap &reply) override
    {
        return info.refresh(facts, reply);
    }
    TelemetryRates rates() const override
    {
        const gpu::DerivedRates r = info.rates();
        TelemetryRates out;
        out.boardPower = r.boardPower;
        out.chipPower = r.chipPower;
        out.utilisation = r.utilisation;
        return out;
    }
    void getAdapterDriverVersion(ctl_device_adapter_properties_t *properties, QVariantMap &facts) override
    {
        gpu::GpuInformation::getAdapterDriverVersion(properties, facts);
    }
    std::array<double, 4> overclockPowerTelemetry(ctl_device_adapter_handle_t adapter) override
    {
        return info.overclockPowerTelemetry(adapter);
    }
    void ctlPciTest(ctl_device_adapter_handle_t adapter, QVariantMap &facts) override
    {
        info.ctlPciTest(adapter, facts);
    }
    std::optional<Temperature> hottestTemperature(bool withLimits) override
    {
        const std::optional<gpu::CardTemperature> t = info.hottestTemperature(withLimits);
        if (!t)
            return std::nullopt;
        return Temperature{t->hottestC, t->criticalC};
    }

private:
    gpu::GpuInformation info;
};
} // namespace

std::unique_ptr<GpuBackend> makeGpuBackend() { return std::make_unique<ControlLibraryGpu>(); }
} // namespace worker
