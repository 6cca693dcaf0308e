#pragma once
// The control library's interface as this program uses it: handles, result
// codes, the records the program fills or reads, and the entry points the
// binding forwards. The program is not linked against the library; it loads
// it at run time (gpu/ctl_binding.cpp). The Linux stand-in libControlLib.so is
// built against this same header, so the layouts below are the contract
// between the two and must stay stable.
//
// Records the program never fills are passed as untyped pointers: their
// layout belongs to the library alone.
//
// Note for library builds: the program exports every entry point below under
// the library's own names. A library that calls one of its own exported entry
// points internally must bind that call locally (-Wl,-Bsymbolic or a hidden
// internal function), or the call lands in the program's forwarder.

#include "gpu/ctl_fwd.h"

#include <cstddef>
#include <cstdint>
#include <cwchar>

#define CTL_APICALL
#define CTL_APIEXPORT __attribute__((visibility("default")))

// ------------------------------------------------------------------ results

typedef uint32_t ctl_result_t;

enum : uint32_t {
    CTL_RESULT_SUCCESS = 0x00000000u,
    CTL_RESULT_ERROR_GENERIC_START = 0x40000000u,
    CTL_RESULT_ERROR_NOT_INITIALIZED = 0x40000001u,
    CTL_RESULT_ERROR_ALREADY_INITIALIZED = 0x40000002u,
    CTL_RESULT_ERROR_DEVICE_LOST = 0x40000003u,
    CTL_RESULT_ERROR_OUT_OF_MEMORY = 0x40000005u, // the binding's path buffer
    CTL_RESULT_ERROR_INSUFFICIENT_PERMISSIONS = 0x40000006u,
    CTL_RESULT_ERROR_NOT_AVAILABLE = 0x40000007u,
    CTL_RESULT_ERROR_UNINITIALIZED = 0x40000008u,
    CTL_RESULT_ERROR_UNSUPPORTED_VERSION = 0x40000009u,
    CTL_RESULT_ERROR_UNSUPPORTED_FEATURE = 0x4000000Au,
    CTL_RESULT_ERROR_INVALID_ARGUMENT = 0x4000000Bu,
    CTL_RESULT_ERROR_INVALID_NULL_HANDLE = 0x4000000Du,
    CTL_RESULT_ERROR_INVALID_NULL_POINTER = 0x4000000Eu,
    CTL_RESULT_ERROR_INVALID_SIZE = 0x4000000Fu,
    CTL_RESULT_ERROR_UNSUPPORTED_SIZE = 0x40000010u,
    CTL_RESULT_ERROR_DATA_READ = 0x40000012u,
    CTL_RESULT_ERROR_DATA_WRITE = 0x40000013u,
    CTL_RESULT_ERROR_NOT_IMPLEMENTED = 0x40000015u,
    CTL_RESULT_ERROR_ZE_LOADER = 0x40000019u,
    CTL_RESULT_ERROR_INVALID_OPERATION_TYPE = 0x4000001Au,
    CTL_RESULT_ERROR_LOAD = 0x40000026u, // the binding could not load the library file
    CTL_RESULT_ERROR_UNKNOWN = 0x4000FFFFu,
    CTL_RESULT_ERROR_CORE_OVERCLOCK_NOT_SUPPORTED = 0x44000001u,
    CTL_RESULT_ERROR_CORE_OVERCLOCK_VOLTAGE_OUTSIDE_RANGE = 0x44000002u,
    CTL_RESULT_ERROR_CORE_OVERCLOCK_FREQUENCY_OUTSIDE_RANGE = 0x44000003u,
    CTL_RESULT_ERROR_CORE_OVERCLOCK_POWER_OUTSIDE_RANGE = 0x44000004u,
    CTL_RESULT_ERROR_CORE_OVERCLOCK_TEMPERATURE_OUTSIDE_RANGE = 0x44000005u,
    CTL_RESULT_ERROR_CORE_OVERCLOCK_IN_VOLTAGE_LOCKED_MODE = 0x44000006u,
    CTL_RESULT_ERROR_CORE_OVERCLOCK_RESET_REQUIRED = 0x44000007u,
    CTL_RESULT_ERROR_CORE_OVERCLOCK_WAIVER_NOT_SET = 0x44000008u,
    CTL_RESULT_ERROR_CORE_OVERCLOCK_DEPRECATED_API = 0x44000009u,
    CTL_RESULT_ERROR_CORE_OVERCLOCK_INVALID_CUSTOM_VF_CURVE = 0x4400000Eu,
};

// ------------------------------------------------------------------ handles

typedef struct _ctl_api_handle_t *ctl_api_handle_t;
typedef struct _ctl_display_output_handle_t *ctl_display_output_handle_t;
typedef struct _ctl_i2c_pin_pair_handle_t *ctl_i2c_pin_pair_handle_t;
typedef struct _ctl_mux_output_handle_t *ctl_mux_output_handle_t;
typedef struct _ctl_engine_handle_t *ctl_engine_handle_t;
typedef struct _ctl_fan_handle_t *ctl_fan_handle_t;
typedef struct _ctl_firmware_component_handle_t *ctl_firmware_component_handle_t;
typedef struct _ctl_freq_handle_t *ctl_freq_handle_t;
typedef struct _ctl_led_handle_t *ctl_led_handle_t;
typedef struct _ctl_mem_handle_t *ctl_mem_handle_t;
typedef struct _ctl_pwr_handle_t *ctl_pwr_handle_t;
typedef struct _ctl_temp_handle_t *ctl_temp_handle_t;

// ------------------------------------------------------------- version info

// Major version in the upper 16 bits, minor in the lower 16.
typedef uint32_t ctl_version_info_t;

constexpr ctl_version_info_t ctlMakeVersion(uint16_t major, uint16_t minor)
{
    return (static_cast<uint32_t>(major) << 16) | minor;
}
constexpr uint16_t ctlMajorVersion(ctl_version_info_t v) { return static_cast<uint16_t>(v >> 16); }
constexpr uint16_t ctlMinorVersion(ctl_version_info_t v) { return static_cast<uint16_t>(v & 0xFFFFu); }

// The one major version this program speaks.
constexpr uint16_t CTL_SUPPORTED_MAJOR_VERSION = 1;

typedef struct _ctl_application_id_t {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} ctl_application_id_t;
static_assert(sizeof(ctl_application_id_t) == 16, "application id is 16 bytes");

// ---------------------------------------------------------- init arguments

enum : uint32_t {
    CTL_INIT_FLAG_STANDARD = 1u, // the only flag this program sets
};

typedef struct _ctl_init_args_t {
    uint32_t Size;                           // 36
    uint8_t Version;                         // 0
    ctl_version_info_t AppVersion;           // requested API version
    uint32_t flags;                          // CTL_INIT_FLAG_*
    ctl_version_info_t SupportedVersion;     // filled by the library
    ctl_application_id_t ApplicationUID;     // all zero
} ctl_init_args_t;
static_assert(sizeof(ctl_init_args_t) == 36, "init arguments record is 36 bytes");
static_assert(offsetof(ctl_init_args_t, AppVersion) == 8, "init arguments layout");

// ------------------------------------------------------------- runtime path

// Kept by pointer, not copied, by the binding until the next ctlClose; the
// caller keeps it alive that long.
typedef struct _ctl_runtime_path_args_t {
    uint32_t Size;
    uint8_t Version;
    ctl_application_id_t UnSupportedFeatureId;
    wchar_t *pRuntimePath; // NUL-terminated path of the library file
} ctl_runtime_path_args_t;
static_assert(offsetof(ctl_runtime_path_args_t, pRuntimePath) == 24, "runtime path layout");

// ------------------------------------------------------ adapter properties

enum : uint32_t {
    CTL_DEVICE_TYPE_GRAPHICS = 1u,
    CTL_DEVICE_TYPE_SYSTEM = 2u,
};

constexpr size_t CTL_MAX_DEVICE_NAME_LEN = 100;

struct _ctl_device_adapter_properties_t {
    uint32_t Size;          // 320
    uint8_t Version;        // 2
    void *pDeviceID;        // caller's buffer for the adapter's identifier
    uint32_t device_id_size; // size of that buffer (8)
    uint32_t device_type;   // CTL_DEVICE_TYPE_*
    uint32_t supported_subfunction_flags;
    uint64_t driver_version; // four 16-bit fields, most significant first
    ctl_version_info_t firmware_version;
    uint32_t pci_vendor_id;
    uint32_t pci_device_id;
    uint32_t rev_id;
    uint32_t num_eus_per_sub_slice;
    uint32_t num_sub_slices_per_slice;
    uint32_t num_slices;
    char name[CTL_MAX_DEVICE_NAME_LEN]; // NUL-terminated when shorter than the array
    uint32_t graphics_adapter_properties;
    uint32_t Frequency;     // MHz
    uint16_t pci_subsys_id;
    uint16_t pci_subsys_vendor_id;
    uint32_t adapter_bdf_bus;
    uint32_t adapter_bdf_device;
    uint32_t adapter_bdf_function;
    uint8_t reserved[320 - 192];
};
static_assert(sizeof(ctl_device_adapter_properties_t) == 320, "adapter properties record is 320 bytes");

// ---------------------------------------------------------- power telemetry

typedef enum _ctl_units_t : uint32_t {
    CTL_UNITS_FREQUENCY_MHZ = 0,
    CTL_UNITS_OPERATIONS_GTS = 1,
    CTL_UNITS_OPERATIONS_MTS = 2,
    CTL_UNITS_VOLTAGE_VOLTS = 3,
    CTL_UNITS_POWER_WATTS = 4,
    CTL_UNITS_TEMPERATURE_CELSIUS = 5,
    CTL_UNITS_ENERGY_JOULES = 6,
    CTL_UNITS_TIME_SECONDS = 7,
    CTL_UNITS_MEMORY_BYTES = 8,
    CTL_UNITS_ANGULAR_SPEED_RPM = 9,
    CTL_UNITS_POWER_MILLIWATTS = 10,
    CTL_UNITS_PERCENT = 11,
    CTL_UNITS_MEM_SPEED_GBPS = 12,
    CTL_UNITS_VOLTAGE_MILLIVOLTS = 13,
    CTL_UNITS_BANDWIDTH_MBPS = 14,
    CTL_UNITS_UNKNOWN = 0x4800FFFF,
} ctl_units_t;

typedef enum _ctl_data_type_t : uint32_t {
    CTL_DATA_TYPE_INT8 = 0,
    CTL_DATA_TYPE_UINT8 = 1,
    CTL_DATA_TYPE_INT16 = 2,
    CTL_DATA_TYPE_UINT16 = 3,
    CTL_DATA_TYPE_INT32 = 4,
    CTL_DATA_TYPE_UINT32 = 5,
    CTL_DATA_TYPE_INT64 = 6,
    CTL_DATA_TYPE_UINT64 = 7,
    CTL_DATA_TYPE_FLOAT = 8,
    CTL_DATA_TYPE_DOUBLE = 9,
    CTL_DATA_TYPE_STRING_ASCII = 10,
    CTL_DATA_TYPE_STRING_UTF16 = 11,
    CTL_DATA_TYPE_STRING_UTF132 = 12,
    CTL_DATA_TYPE_UNKNOWN = 0x4800FFFF,
} ctl_data_type_t;

typedef union _ctl_data_value_t {
    int8_t data8;
    uint8_t datau8;
    int16_t data16;
    uint16_t datau16;
    int32_t data32;
    uint32_t datau32;
    int64_t data64;
    uint64_t datau64;
    float datafloat;
    double datadouble;
} ctl_data_value_t;

// One telemetry reading: whether the card reports it, its unit, which member
// of the value union holds it, and the value.
typedef struct _ctl_oc_telemetry_item_t {
    bool bSupported;
    ctl_units_t units;
    ctl_data_type_t type;
    ctl_data_value_t value;
} ctl_oc_telemetry_item_t;
static_assert(sizeof(ctl_oc_telemetry_item_t) == 24, "telemetry item is 24 bytes");

constexpr size_t CTL_FAN_COUNT = 5;
constexpr size_t CTL_PSU_COUNT = 5;

typedef struct _ctl_psu_info_t {
    bool bSupported;
    uint32_t psuType;
    ctl_oc_telemetry_item_t energyCounter;
    ctl_oc_telemetry_item_t voltage;
} ctl_psu_info_t;

typedef struct _ctl_power_telemetry_t {
    uint32_t Size;   // 1024
    uint8_t Version; // 1
    ctl_oc_telemetry_item_t timeStamp;               // seconds
    ctl_oc_telemetry_item_t gpuEnergyCounter;        // joules, GPU chip
    ctl_oc_telemetry_item_t gpuVoltage;              // volts
    ctl_oc_telemetry_item_t gpuCurrentClockFrequency; // MHz
    ctl_oc_telemetry_item_t gpuCurrentTemperature;   // Celsius
    ctl_oc_telemetry_item_t globalActivityCounter;   // busy seconds
    ctl_oc_telemetry_item_t renderComputeActivityCounter;
    ctl_oc_telemetry_item_t mediaActivityCounter;
    ctl_oc_telemetry_item_t vramEnergyCounter;
    ctl_oc_telemetry_item_t vramVoltage;
    ctl_oc_telemetry_item_t vramCurrentClockFrequency; // MHz
    ctl_oc_telemetry_item_t vramCurrentTemperature;    // Celsius
    ctl_oc_telemetry_item_t totalCardEnergyCounter;    // joules, whole card
    ctl_oc_telemetry_item_t fanSpeed[CTL_FAN_COUNT];   // RPM
    ctl_oc_telemetry_item_t gpuOverVoltagePercent;
    ctl_oc_telemetry_item_t gpuPowerPercent;
    ctl_oc_telemetry_item_t gpuTemperaturePercent;
    ctl_psu_info_t psu[CTL_PSU_COUNT];
    uint8_t reserved[1024 - 8 - 21 * 24 - CTL_PSU_COUNT * 56];
} ctl_power_telemetry_t;
static_assert(sizeof(ctl_psu_info_t) == 56, "psu info is 56 bytes");
static_assert(sizeof(ctl_power_telemetry_t) == 1024, "power telemetry record is 1024 bytes");

// ------------------------------------------------------------------ PCI

typedef struct _ctl_pci_address_t {
    uint32_t Size;
    uint8_t Version;
    uint32_t domain;
    uint32_t bus;
    uint32_t device;
    uint32_t function;
} ctl_pci_address_t;

typedef struct _ctl_pci_speed_t {
    uint32_t Size;
    uint8_t Version;
    int32_t gen;          // PCIe generation, -1 when unknown
    int32_t width;        // lanes, -1 when unknown
    int64_t maxBandwidth; // bytes per second, -1 when unknown
} ctl_pci_speed_t;

typedef struct _ctl_pci_properties_t {
    uint32_t Size;   // 64
    uint8_t Version; // 0
    ctl_pci_address_t address;
    ctl_pci_speed_t maxSpeed;
    bool resizable_bar_supported;
    bool resizable_bar_enabled;
} ctl_pci_properties_t;
static_assert(sizeof(ctl_pci_properties_t) == 64, "PCI properties record is 64 bytes");

typedef struct _ctl_pci_state_t {
    uint32_t Size;   // 32
    uint8_t Version; // 0
    ctl_pci_speed_t speed; // current link
} ctl_pci_state_t;
static_assert(sizeof(ctl_pci_state_t) == 32, "PCI state record is 32 bytes");

// ---------------------------------------------------------- temperature

typedef enum _ctl_temp_sensors_t : uint32_t {
    CTL_TEMP_SENSORS_GLOBAL = 0,     // hottest of every sensor of the device
    CTL_TEMP_SENSORS_GPU = 1,        // hottest of the GPU's sensors
    CTL_TEMP_SENSORS_MEMORY = 2,     // hottest of the local memory's sensors
    CTL_TEMP_SENSORS_GLOBAL_MIN = 3,
    CTL_TEMP_SENSORS_GPU_MIN = 4,
    CTL_TEMP_SENSORS_MEMORY_MIN = 5,
} ctl_temp_sensors_t;

typedef struct _ctl_temp_properties_t {
    uint32_t Size;         // 24
    uint8_t Version;       // 0
    ctl_temp_sensors_t type;
    double maxTemperature; // Celsius: the most the part is meant to reach
} ctl_temp_properties_t;
static_assert(sizeof(ctl_temp_properties_t) == 24, "temperature properties record is 24 bytes");
static_assert(offsetof(ctl_temp_properties_t, maxTemperature) == 16, "temperature properties layout");

// Passed by value to ctlOverclockGpuLockSet.
typedef struct _ctl_voltage_frequency_point_t {
    uint32_t Size;
    uint8_t Version;
    double Voltage;   // millivolts
    double Frequency; // MHz
} ctl_voltage_frequency_point_t;
static_assert(sizeof(ctl_voltage_frequency_point_t) == 24, "V/F point is 24 bytes");

// ------------------------------------------------------------- entry points
//
// Every forwarded entry point, listed once by its number of parameters:
// E1(name, T1), E2(name, T1, T2), ... The binding defines its forwarders
// from this list; a library can define its own stubs from it.

#define CTL_FORWARDED_ENTRY_POINTS(E1, E2, E3, E4, E5)                                          \
    E1(ctlUnlinkDisplayAdapters, ctl_device_adapter_handle_t)                                   \
    E1(ctlFanSetDefaultMode, ctl_fan_handle_t)                                                  \
    E1(ctlOverclockWaiverSet, ctl_device_adapter_handle_t)                                      \
    E1(ctlOverclockResetToDefault, ctl_device_adapter_handle_t)                                 \
    E2(ctlWaitForPropertyChange, ctl_device_adapter_handle_t, void *)                           \
    E2(ctlReservedCall, ctl_device_adapter_handle_t, void *)                                    \
    E2(ctlGetSupported3DCapabilities, ctl_device_adapter_handle_t, void *)                      \
    E2(ctlGetSet3DFeature, ctl_device_adapter_handle_t, void *)                                 \
    E2(ctlGetDeviceProperties, ctl_device_adapter_handle_t, ctl_device_adapter_properties_t *)  \
    E2(ctlGetDisplayProperties, ctl_display_output_handle_t, void *)                            \
    E2(ctlGetAdaperDisplayEncoderProperties, ctl_display_output_handle_t, void *)               \
    E2(ctlGetSharpnessCaps, ctl_display_output_handle_t, void *)                                \
    E2(ctlGetCurrentSharpness, ctl_display_output_handle_t, void *)                             \
    E2(ctlSetCurrentSharpness, ctl_display_output_handle_t, void *)                             \
    E2(ctlI2CAccess, ctl_display_output_handle_t, void *)                                       \
    E2(ctlI2CAccessOnPinPair, ctl_i2c_pin_pair_handle_t, void *)                                \
    E2(ctlAUXAccess, ctl_display_output_handle_t, void *)                                       \
    E2(ctlGetPowerOptimizationCaps, ctl_display_output_handle_t, void *)                        \
    E2(ctlGetPowerOptimizationSetting, ctl_display_output_handle_t, void *)                     \
    E2(ctlSetPowerOptimizationSetting, ctl_display_output_handle_t, void *)                     \
    E2(ctlSetBrightnessSetting, ctl_display_output_handle_t, void *)                            \
    E2(ctlGetBrightnessSetting, ctl_display_output_handle_t, void *)                            \
    E2(ctlPixelTransformationGetConfig, ctl_display_output_handle_t, void *)                    \
    E2(ctlPixelTransformationSetConfig, ctl_display_output_handle_t, void *)                    \
    E2(ctlPanelDescriptorAccess, ctl_display_output_handle_t, void *)                           \
    E2(ctlGetSupportedRetroScalingCapability, ctl_device_adapter_handle_t, void *)              \
    E2(ctlGetSetRetroScaling, ctl_device_adapter_handle_t, void *)                              \
    E2(ctlGetSupportedScalingCapability, ctl_display_output_handle_t, void *)                   \
    E2(ctlGetCurrentScaling, ctl_display_output_handle_t, void *)                               \
    E2(ctlSetCurrentScaling, ctl_display_output_handle_t, void *)                               \
    E2(ctlGetLACEConfig, ctl_display_output_handle_t, void *)                                   \
    E2(ctlSetLACEConfig, ctl_display_output_handle_t, void *)                                   \
    E2(ctlSoftwarePSR, ctl_display_output_handle_t, void *)                                     \
    E2(ctlGetIntelArcSyncInfoForMonitor, ctl_display_output_handle_t, void *)                   \
    E2(ctlGetMuxProperties, ctl_mux_output_handle_t, void *)                                    \
    E2(ctlSwitchMux, ctl_mux_output_handle_t, void *)                                           \
    E2(ctlGetIntelArcSyncProfile, ctl_display_output_handle_t, void *)                          \
    E2(ctlSetIntelArcSyncProfile, ctl_display_output_handle_t, void *)                          \
    E2(ctlEdidManagement, ctl_display_output_handle_t, void *)                                  \
    E2(ctlGetSetCustomMode, ctl_display_output_handle_t, void *)                                \
    E2(ctlGetSetCombinedDisplay, ctl_device_adapter_handle_t, void *)                           \
    E2(ctlGetVblankTimestamp, ctl_display_output_handle_t, void *)                              \
    E2(ctlLinkDisplayAdapters, ctl_device_adapter_handle_t, void *)                             \
    E2(ctlGetLinkedDisplayAdapters, ctl_device_adapter_handle_t, void *)                        \
    E2(ctlGetSetDynamicContrastEnhancement, ctl_display_output_handle_t, void *)                \
    E2(ctlGetSetWireFormat, ctl_display_output_handle_t, void *)                                \
    E2(ctlGetSetDisplaySettings, ctl_display_output_handle_t, void *)                           \
    E2(ctlEngineGetProperties, ctl_engine_handle_t, void *)                                     \
    E2(ctlEngineGetActivity, ctl_engine_handle_t, void *)                                       \
    E2(ctlFanGetProperties, ctl_fan_handle_t, void *)                                           \
    E2(ctlFanGetConfig, ctl_fan_handle_t, void *)                                               \
    E2(ctlFanSetFixedSpeedMode, ctl_fan_handle_t, void *)                                       \
    E2(ctlFanSetSpeedTableMode, ctl_fan_handle_t, void *)                                       \
    E2(ctlGetFirmwareProperties, ctl_device_adapter_handle_t, void *)                           \
    E2(ctlGetFirmwareComponentProperties, ctl_firmware_component_handle_t, void *)              \
    E2(ctlFrequencyGetProperties, ctl_freq_handle_t, void *)                                    \
    E2(ctlFrequencyGetRange, ctl_freq_handle_t, void *)                                         \
    E2(ctlFrequencySetRange, ctl_freq_handle_t, void *)                                         \
    E2(ctlFrequencyGetState, ctl_freq_handle_t, void *)                                         \
    E2(ctlFrequencyGetThrottleTime, ctl_freq_handle_t, void *)                                  \
    E2(ctlLedGetProperties, ctl_led_handle_t, void *)                                           \
    E2(ctlLedGetState, ctl_led_handle_t, void *)                                                \
    E2(ctlGetSupportedVideoProcessingCapabilities, ctl_device_adapter_handle_t, void *)         \
    E2(ctlGetSetVideoProcessingFeature, ctl_device_adapter_handle_t, void *)                    \
    E2(ctlMemoryGetProperties, ctl_mem_handle_t, void *)                                        \
    E2(ctlMemoryGetState, ctl_mem_handle_t, void *)                                             \
    E2(ctlMemoryGetBandwidth, ctl_mem_handle_t, void *)                                         \
    E2(ctlOverclockGetProperties, ctl_device_adapter_handle_t, void *)                          \
    E2(ctlOverclockGpuFrequencyOffsetGet, ctl_device_adapter_handle_t, double *)                \
    E2(ctlOverclockGpuVoltageOffsetGet, ctl_device_adapter_handle_t, double *)                  \
    E2(ctlOverclockGpuLockGet, ctl_device_adapter_handle_t, ctl_voltage_frequency_point_t *)    \
    E2(ctlOverclockVramFrequencyOffsetGet, ctl_device_adapter_handle_t, double *)               \
    E2(ctlOverclockVramVoltageOffsetGet, ctl_device_adapter_handle_t, double *)                 \
    E2(ctlOverclockPowerLimitGet, ctl_device_adapter_handle_t, double *)                        \
    E2(ctlOverclockTemperatureLimitGet, ctl_device_adapter_handle_t, double *)                  \
    E2(ctlPowerTelemetryGet, ctl_device_adapter_handle_t, ctl_power_telemetry_t *)              \
    E2(ctlOverclockGpuFrequencyOffsetGetV2, ctl_device_adapter_handle_t, double *)              \
    E2(ctlOverclockGpuMaxVoltageOffsetGetV2, ctl_device_adapter_handle_t, double *)             \
    E2(ctlOverclockVramMemSpeedLimitGetV2, ctl_device_adapter_handle_t, double *)               \
    E2(ctlOverclockPowerLimitGetV2, ctl_device_adapter_handle_t, double *)                      \
    E2(ctlOverclockTemperatureLimitGetV2, ctl_device_adapter_handle_t, double *)                \
    E2(ctlPciGetProperties, ctl_device_adapter_handle_t, ctl_pci_properties_t *)                \
    E2(ctlPciGetState, ctl_device_adapter_handle_t, ctl_pci_state_t *)                          \
    E2(ctlPowerGetProperties, ctl_pwr_handle_t, void *)                                         \
    E2(ctlPowerGetEnergyCounter, ctl_pwr_handle_t, void *)                                      \
    E2(ctlPowerGetLimits, ctl_pwr_handle_t, void *)                                             \
    E2(ctlPowerSetLimits, ctl_pwr_handle_t, void *)                                             \
    E2(ctlTemperatureGetProperties, ctl_temp_handle_t, ctl_temp_properties_t *)                 \
    E2(ctlTemperatureGetState, ctl_temp_handle_t, double *)                                     \
    E3(ctlEnumerateDevices, ctl_api_handle_t, uint32_t *, ctl_device_adapter_handle_t *)        \
    E3(ctlEnumerateDisplayOutputs, ctl_device_adapter_handle_t, uint32_t *,                     \
       ctl_display_output_handle_t *)                                                           \
    E3(ctlEnumerateI2CPinPairs, ctl_device_adapter_handle_t, uint32_t *,                        \
       ctl_i2c_pin_pair_handle_t *)                                                             \
    E3(ctlGetZeDevice, ctl_device_adapter_handle_t, void *, void **)                            \
    E3(ctlEnumerateMuxDevices, ctl_api_handle_t, uint32_t *, ctl_mux_output_handle_t *)         \
    E3(ctlEnumEngineGroups, ctl_device_adapter_handle_t, uint32_t *, ctl_engine_handle_t *)     \
    E3(ctlEnumFans, ctl_device_adapter_handle_t, uint32_t *, ctl_fan_handle_t *)                \
    E3(ctlEnumerateFirmwareComponents, ctl_device_adapter_handle_t, uint32_t *,                 \
       ctl_firmware_component_handle_t *)                                                       \
    E3(ctlEnumFrequencyDomains, ctl_device_adapter_handle_t, uint32_t *, ctl_freq_handle_t *)   \
    E3(ctlFrequencyGetAvailableClocks, ctl_freq_handle_t, uint32_t *, double *)                 \
    E3(ctlEnumLeds, ctl_device_adapter_handle_t, uint32_t *, ctl_led_handle_t *)                \
    E3(ctlEnumMemoryModules, ctl_device_adapter_handle_t, uint32_t *, ctl_mem_handle_t *)       \
    E3(ctlEnumPowerDomains, ctl_device_adapter_handle_t, uint32_t *, ctl_pwr_handle_t *)        \
    E3(ctlEnumTemperatureSensors, ctl_device_adapter_handle_t, uint32_t *, ctl_temp_handle_t *) \
    E2(ctlCheckDriverVersion, ctl_device_adapter_handle_t, ctl_version_info_t)                  \
    E2(ctlAllowPCIeLinkSpeedUpdate, ctl_device_adapter_handle_t, bool)                          \
    E3(ctlFanGetState, ctl_fan_handle_t, uint32_t, int32_t *)                                   \
    E3(ctlOverclockWriteCustomVFCurve, ctl_device_adapter_handle_t, uint32_t, void *)           \
    E3(ctlLedSetState, ctl_led_handle_t, void *, uint32_t)                                      \
    E2(ctlOverclockGpuFrequencyOffsetSet, ctl_device_adapter_handle_t, double)                  \
    E2(ctlOverclockGpuVoltageOffsetSet, ctl_device_adapter_handle_t, double)                    \
    E2(ctlOverclockVramFrequencyOffsetSet, ctl_device_adapter_handle_t, double)                 \
    E2(ctlOverclockVramVoltageOffsetSet, ctl_device_adapter_handle_t, double)                   \
    E2(ctlOverclockPowerLimitSet, ctl_device_adapter_handle_t, double)                          \
    E2(ctlOverclockTemperatureLimitSet, ctl_device_adapter_handle_t, double)                    \
    E2(ctlOverclockGpuFrequencyOffsetSetV2, ctl_device_adapter_handle_t, double)                \
    E2(ctlOverclockGpuMaxVoltageOffsetSetV2, ctl_device_adapter_handle_t, double)               \
    E2(ctlOverclockVramMemSpeedLimitSetV2, ctl_device_adapter_handle_t, double)                 \
    E2(ctlOverclockPowerLimitSetV2, ctl_device_adapter_handle_t, double)                        \
    E2(ctlOverclockTemperatureLimitSetV2, ctl_device_adapter_handle_t, double)                  \
    E2(ctlOverclockGpuLockSet, ctl_device_adapter_handle_t, ctl_voltage_frequency_point_t)      \
    E4(ctlGetSetDisplayGenlock, ctl_device_adapter_handle_t *, void *, uint32_t,                \
       ctl_device_adapter_handle_t *)                                                           \
    E5(ctlOverclockReadVFCurve, ctl_device_adapter_handle_t, uint32_t, uint32_t, uint32_t *,    \
       void *)

// Declarations and function-pointer types (pfn_<name>) of every entry point.
#define CTL_DECLARE_1(n, A) \
    CTL_APIEXPORT ctl_result_t CTL_APICALL n(A); typedef ctl_result_t (*pfn_##n)(A);
#define CTL_DECLARE_2(n, A, B) \
    CTL_APIEXPORT ctl_result_t CTL_APICALL n(A, B); typedef ctl_result_t (*pfn_##n)(A, B);
#define CTL_DECLARE_3(n, A, B, C) \
    CTL_APIEXPORT ctl_result_t CTL_APICALL n(A, B, C); typedef ctl_result_t (*pfn_##n)(A, B, C);
#define CTL_DECLARE_4(n, A, B, C, D)                    \
    CTL_APIEXPORT ctl_result_t CTL_APICALL n(A, B, C, D); \
    typedef ctl_result_t (*pfn_##n)(A, B, C, D);
#define CTL_DECLARE_5(n, A, B, C, D, E)                    \
    CTL_APIEXPORT ctl_result_t CTL_APICALL n(A, B, C, D, E); \
    typedef ctl_result_t (*pfn_##n)(A, B, C, D, E);

extern "C" {
CTL_DECLARE_2(ctlInit, ctl_init_args_t *, ctl_api_handle_t *)
CTL_DECLARE_1(ctlClose, ctl_api_handle_t)
CTL_DECLARE_1(ctlSetRuntimePath, ctl_runtime_path_args_t *)
CTL_FORWARDED_ENTRY_POINTS(CTL_DECLARE_1, CTL_DECLARE_2, CTL_DECLARE_3, CTL_DECLARE_4,
                           CTL_DECLARE_5)
}

// 122 forwarded entry points plus ctlInit, ctlClose and ctlSetRuntimePath.
constexpr int CTL_FORWARDED_ENTRY_POINT_COUNT = 122;
constexpr int CTL_ENTRY_POINT_COUNT = 125;
