#pragma once
// A scripted control library for tests. The test and the binding share one
// copy of it: the test opens the library itself first (so the binding's
// unloads never drop its state) and steers it through the scenario record.

#include "gpu/ctl_api.h"

constexpr int kFakeMaxAdapters = 6;
constexpr int kFakeMaxScripted = 8;

struct FakeAdapter {
    bool nullHandle = false;
    ctl_result_t propertiesResult = CTL_RESULT_SUCCESS;
    ctl_device_adapter_properties_t properties{}; // copied out, header and id buffer excepted
    ctl_power_telemetry_t telemetry{};            // copied out, header excepted
    ctl_result_t pciResult = CTL_RESULT_SUCCESS;
    int32_t pciGen = 0;
    int32_t pciWidth = 0;
};

struct FakeCtlScenario {
    // Results of successive calls; past the script, 0.
    ctl_result_t initResults[kFakeMaxScripted]{};
    ctl_result_t telemetryResults[kFakeMaxScripted]{};
    ctl_result_t closeResult = CTL_RESULT_SUCCESS;
    ctl_result_t setRuntimePathResult = CTL_RESULT_SUCCESS;
    // Count the second enumeration reports, when it differs from adapterCount.
    bool overrideSecondCount = false;
    uint32_t secondCount = 0;

    uint32_t adapterCount = 0;
    FakeAdapter adapters[kFakeMaxAdapters];

    // What the library saw.
    int initCalls = 0;
    int closeCalls = 0;
    int propertiesCalls = 0;
    int telemetryCalls = 0;
    int setRuntimePathCalls = 0;
    ctl_init_args_t initArgs{};
    ctl_init_args_t *initArgsPointer = nullptr;
    ctl_api_handle_t closedHandle = nullptr;
    ctl_runtime_path_args_t *runtimePathArgs = nullptr;
    uint32_t propertiesSize = 0;
    uint32_t deviceIdSize = 0;
    uint32_t telemetrySize = 0;
    uint32_t pciPropertiesSize = 0;
    uint32_t pciStateSize = 0;

    // What the last argument-recording entry point received.
    void *pointers[3]{};
    uint32_t values[2]{};
    double number = 0.0;
};

extern "C" CTL_APIEXPORT FakeCtlScenario *fakectl_scenario();
using FakeScenarioFn = FakeCtlScenario *(*)();

// Handle values the fake hands out and recognises.
inline ctl_api_handle_t fakeApiHandle(FakeCtlScenario *s) { return reinterpret_cast<ctl_api_handle_t>(s); }
