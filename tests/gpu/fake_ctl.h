#pragma once
// A scripted control library for tests. The test and the binding share one
// copy of it: the test opens the library itself first (so the binding's
// unloads never drop its state) and steers it through the scenario record.

#include "gpu/ctl_api.h"

#include <dlfcn.h>

#include <string>
#include <utility>

struct FakeAdapter {
    bool nullHandle = false;
    ctl_result_t propertiesResult = CTL_RESULT_SUCCESS, pciResult = CTL_RESULT_SUCCESS;
    ctl_device_adapter_properties_t properties{}; // copied out whole, header and id buffer included
    ctl_power_telemetry_t telemetry{};            // copied out whole
    int32_t pciGen = 4, pciWidth = 8;
};

struct FakeCtlScenario {
    // Results of successive calls; past the script, 0.
    ctl_result_t initResults[8]{}, telemetryResults[8]{};
    ctl_result_t closeResult = CTL_RESULT_SUCCESS, setRuntimePathResult = CTL_RESULT_SUCCESS;
    uint32_t adapterCount = 0, secondCount = 0; // the latter, when not 0, claimed by the second enumeration
    FakeAdapter adapters[6];

    // What the library saw.
    int initCalls = 0, closeCalls = 0, propertiesCalls = 0, telemetryCalls = 0;
    ctl_init_args_t initArgs{};
    ctl_api_handle_t closedHandle = nullptr;
    ctl_runtime_path_args_t *runtimePathArgs = nullptr;
    uint32_t propertiesSize = 0, deviceIdSize = 0, telemetrySize = 0, pciPropertiesSize = 0, pciStateSize = 0;
};

extern "C" CTL_APIEXPORT FakeCtlScenario *fakectl_scenario();

// The scenario of the copy at path, which stays open for the test's lifetime.
inline FakeCtlScenario *openFakeScenario(const char *path)
{
    void *library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    return library ? reinterpret_cast<FakeCtlScenario *(*)()>(dlsym(library, "fakectl_scenario"))() : nullptr;
}

// The API handle the fake hands out and recognises.
inline ctl_api_handle_t fakeApiHandle(FakeCtlScenario *s) { return reinterpret_cast<ctl_api_handle_t>(s); }

// A runtime-path record with its own copy of the path.
struct RuntimePath {
    explicit RuntimePath(std::wstring path) : chars(std::move(path)) { args.pRuntimePath = chars.data(); }
    std::wstring chars;
    ctl_runtime_path_args_t args{sizeof(ctl_runtime_path_args_t), 0, {}, nullptr};
};
