// The scripted control library (see fake_ctl.h).
#include "tests/gpu/fake_ctl.h"

#include <cstring>

namespace {
FakeCtlScenario g_scenario;

ctl_result_t scripted(const ctl_result_t (&script)[8], int call) { return call < 8 ? script[call] : 0; }

FakeAdapter *adapterOf(ctl_device_adapter_handle_t h)
{
    auto *a = reinterpret_cast<FakeAdapter *>(h);
    return a >= g_scenario.adapters && a < g_scenario.adapters + 6 ? a : nullptr;
}
} // namespace

extern "C" {

CTL_APIEXPORT FakeCtlScenario *fakectl_scenario() { return &g_scenario; }

CTL_APIEXPORT ctl_result_t ctlInit(ctl_init_args_t *args, ctl_api_handle_t *handle)
{
    const ctl_result_t r = scripted(g_scenario.initResults, g_scenario.initCalls++);
    g_scenario.initArgs = args ? *args : ctl_init_args_t{};
    if (r == CTL_RESULT_SUCCESS && handle)
        *handle = fakeApiHandle(&g_scenario);
    return r;
}

CTL_APIEXPORT ctl_result_t ctlClose(ctl_api_handle_t handle)
{
    ++g_scenario.closeCalls;
    g_scenario.closedHandle = handle;
    return g_scenario.closeResult;
}

CTL_APIEXPORT ctl_result_t ctlSetRuntimePath(ctl_runtime_path_args_t *args)
{
    g_scenario.runtimePathArgs = args;
    return g_scenario.setRuntimePathResult;
}

CTL_APIEXPORT ctl_result_t ctlEnumerateDevices(ctl_api_handle_t api, uint32_t *count,
                                              ctl_device_adapter_handle_t *handles)
{
    if (api != fakeApiHandle(&g_scenario) || !count)
        return CTL_RESULT_ERROR_INVALID_NULL_HANDLE;
    const uint32_t n = handles && *count < g_scenario.adapterCount ? *count : g_scenario.adapterCount;
    for (uint32_t i = 0; handles && i < n; ++i)
        handles[i] = g_scenario.adapters[i].nullHandle
                         ? nullptr
                         : reinterpret_cast<ctl_device_adapter_handle_t>(&g_scenario.adapters[i]);
    *count = handles && g_scenario.secondCount ? g_scenario.secondCount : n;
    return CTL_RESULT_SUCCESS;
}

CTL_APIEXPORT ctl_result_t ctlGetDeviceProperties(ctl_device_adapter_handle_t h,
                                                 ctl_device_adapter_properties_t *p)
{
    ++g_scenario.propertiesCalls;
    FakeAdapter *a = adapterOf(h);
    if (!a || !p)
        return CTL_RESULT_ERROR_INVALID_NULL_HANDLE;
    g_scenario.propertiesSize = p->Size;
    g_scenario.deviceIdSize = p->device_id_size;
    if (a->propertiesResult != CTL_RESULT_SUCCESS)
        return a->propertiesResult;
    if (p->pDeviceID && p->device_id_size >= 8)
        std::memset(p->pDeviceID, 0x5A, 8); // any write past 8 bytes shows up under ASan
    *p = a->properties; // header and id buffer too: the caller sets them again for each adapter
    return CTL_RESULT_SUCCESS;
}

CTL_APIEXPORT ctl_result_t ctlPowerTelemetryGet(ctl_device_adapter_handle_t h, ctl_power_telemetry_t *t)
{
    const ctl_result_t r = scripted(g_scenario.telemetryResults, g_scenario.telemetryCalls++);
    FakeAdapter *a = adapterOf(h);
    if (!a || !t)
        return CTL_RESULT_ERROR_INVALID_NULL_HANDLE;
    g_scenario.telemetrySize = t->Size;
    if (r != CTL_RESULT_SUCCESS)
        return r;
    *t = a->telemetry;
    return CTL_RESULT_SUCCESS;
}

CTL_APIEXPORT ctl_result_t ctlPciGetProperties(ctl_device_adapter_handle_t h, ctl_pci_properties_t *p)
{
    FakeAdapter *a = adapterOf(h);
    if (!a || !p)
        return CTL_RESULT_ERROR_INVALID_NULL_HANDLE;
    g_scenario.pciPropertiesSize = p->Size;
    p->maxSpeed.gen = a->pciGen;
    p->maxSpeed.width = a->pciWidth;
    return a->pciResult;
}

CTL_APIEXPORT ctl_result_t ctlPciGetState(ctl_device_adapter_handle_t h, ctl_pci_state_t *s)
{
    g_scenario.pciStateSize = s ? s->Size : 0;
    return adapterOf(h) ? CTL_RESULT_SUCCESS : CTL_RESULT_ERROR_INVALID_NULL_HANDLE;
}

} // extern "C"
