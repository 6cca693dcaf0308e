// The exported entry points of libControlLib.so. Handles are objects of this
// library, checked against the live set on every call, so a stale or foreign
// handle is an error result rather than a crash.
#include "gpu/ctl_api.h"

#include "sim/controllib/sysfs_adapters.h"
#include "sim/controllib/sysfs_kernel.h"
#include "sim/controllib/sysfs_pci.h"
#include "sim/controllib/sysfs_telemetry.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace ctlsim {
namespace {

struct Api;

// A temperature sensor of an adapter: the hwmon file it reads.
struct TempSensor {
    fs::path input;
    ctl_temp_sensors_t type = CTL_TEMP_SENSORS_GPU;
};

struct Adapter {
    Api *api = nullptr;
    AdapterInfo info;
    bool sensorsListed = false;
    std::vector<std::unique_ptr<TempSensor>> sensors;
};

struct Api {
    fs::path root;
    fs::path procRoot;
    std::vector<std::unique_ptr<Adapter>> adapters;
};

// Live handles. Owning maps, so whatever a caller never closed is freed when
// the library is unloaded.
std::mutex g_lock;
std::map<const void *, std::unique_ptr<Api>> g_apis;
std::map<const void *, Adapter *> g_adapters;
std::map<const void *, TempSensor *> g_sensors;

// The sysfs root: CTL_SYSFS_ROOT when set (the simulated card, tests),
// otherwise the real one.
fs::path sysfsRoot()
{
    const char *env = std::getenv("CTL_SYSFS_ROOT");
    return (env && *env) ? fs::path(env) : fs::path("/sys");
}

// Where the processes' fdinfo files are: CTL_PROC_ROOT when set (tests),
// otherwise the real /proc.
fs::path procRoot()
{
    const char *env = std::getenv("CTL_PROC_ROOT");
    return (env && *env) ? fs::path(env) : fs::path("/proc");
}

// Looks an adapter handle up; null when it is not a live one.
Adapter *adapterOf(ctl_device_adapter_handle_t h)
{
    const auto it = g_adapters.find(h);
    return it == g_adapters.end() ? nullptr : it->second;
}

// The adapter behind a live handle and the /proc its api reads, copied under
// the lock; false when the handle is not a live one.
bool adapterInfoOf(ctl_device_adapter_handle_t h, AdapterInfo *info, fs::path *proc = nullptr)
{
    std::lock_guard<std::mutex> g(g_lock);
    const Adapter *a = adapterOf(h);
    if (!a)
        return false;
    *info = a->info;
    if (proc)
        *proc = a->api->procRoot;
    return true;
}

template <typename Record>
ctl_result_t checkRecord(const Record *r)
{
    if (!r)
        return CTL_RESULT_ERROR_INVALID_NULL_POINTER;
    if (r->Size < sizeof(Record))
        return CTL_RESULT_ERROR_INVALID_SIZE;
    return CTL_RESULT_SUCCESS;
}

// The opening every query shares: a handle, and a record of at least the
// size this library knows.
template <typename Handle, typename Record>
ctl_result_t checkQuery(Handle h, const Record *r)
{
    return h ? checkRecord(r) : CTL_RESULT_ERROR_INVALID_NULL_HANDLE;
}

// For an adapter's own readings, also the adapter the handle names.
template <typename Record>
ctl_result_t adapterQuery(ctl_device_adapter_handle_t h, const Record *r, AdapterInfo *info, fs::path *proc = nullptr)
{
    if (const ctl_result_t result = checkQuery(h, r); result != CTL_RESULT_SUCCESS)
        return result;
    return adapterInfoOf(h, info, proc) ? CTL_RESULT_SUCCESS : CTL_RESULT_ERROR_INVALID_ARGUMENT;
}

void setItem(ctl_oc_telemetry_item_t &item, ctl_units_t units, const std::optional<double> &value)
{
    item.units = units;
    item.type = CTL_DATA_TYPE_DOUBLE;
    item.bSupported = value.has_value();
    item.value.datadouble = value.value_or(0.0);
}

void setUnsupported(ctl_oc_telemetry_item_t &item, ctl_units_t units)
{
    item.units = units;
    item.type = CTL_DATA_TYPE_DOUBLE;
    item.bSupported = false;
    item.value.datadouble = 0.0;
}

void setSpeed(ctl_pci_speed_t &speed, const LinkSpeed &link)
{
    speed.Size = sizeof(ctl_pci_speed_t);
    speed.Version = 0;
    speed.gen = link.gen;
    speed.width = link.width;
    speed.maxBandwidth = link.bandwidth;
}

} // namespace

// Each entry point that does something has its own function here with the
// exact parameter list; every other name falls through to the template, which
// answers not implemented.
namespace entry {

#define CTLSIM_NOT_IMPLEMENTED(name, ...) \
    template <typename... T> ctl_result_t name(T...) { return CTL_RESULT_ERROR_NOT_IMPLEMENTED; }
CTL_FORWARDED_ENTRY_POINTS(CTLSIM_NOT_IMPLEMENTED, CTLSIM_NOT_IMPLEMENTED, CTLSIM_NOT_IMPLEMENTED,
                           CTLSIM_NOT_IMPLEMENTED, CTLSIM_NOT_IMPLEMENTED)
#undef CTLSIM_NOT_IMPLEMENTED

ctl_result_t ctlEnumerateDevices(ctl_api_handle_t api, uint32_t *count, ctl_device_adapter_handle_t *out)
{
    if (!api)
        return CTL_RESULT_ERROR_INVALID_NULL_HANDLE;
    if (!count)
        return CTL_RESULT_ERROR_INVALID_NULL_POINTER;
    std::lock_guard<std::mutex> g(g_lock);
    const auto it = g_apis.find(api);
    if (it == g_apis.end())
        return CTL_RESULT_ERROR_INVALID_ARGUMENT;
    const auto &adapters = it->second->adapters;
    if (!out || *count == 0) {
        *count = static_cast<uint32_t>(adapters.size());
        return CTL_RESULT_SUCCESS;
    }
    const uint32_t n = std::min<uint32_t>(*count, static_cast<uint32_t>(adapters.size()));
    for (uint32_t i = 0; i < n; ++i)
        out[i] = reinterpret_cast<ctl_device_adapter_handle_t>(adapters[i].get());
    *count = n;
    return CTL_RESULT_SUCCESS;
}

ctl_result_t ctlGetDeviceProperties(ctl_device_adapter_handle_t h, ctl_device_adapter_properties_t *p)
{
    if (const ctl_result_t r = checkQuery(h, p); r != CTL_RESULT_SUCCESS)
        return r;
    std::lock_guard<std::mutex> g(g_lock);
    const Adapter *a = adapterOf(h);
    if (!a)
        return CTL_RESULT_ERROR_INVALID_ARGUMENT;
    const AdapterInfo &info = a->info;

    if (p->pDeviceID) {
        // The identifier is the adapter's PCI address: stable for the card's
        // slot, unique on the machine.
        if (p->device_id_size < 8)
            return CTL_RESULT_ERROR_INVALID_SIZE;
        const uint64_t id = uint64_t(info.address.domain) << 32 | uint64_t(info.address.bus) << 16
                            | uint64_t(info.address.device) << 8 | info.address.function;
        std::memcpy(p->pDeviceID, &id, sizeof id);
    }
    p->device_type = CTL_DEVICE_TYPE_GRAPHICS;
    p->supported_subfunction_flags = 0;
    p->driver_version = driverVersionFromRelease(kernelRelease());
    p->firmware_version = 0;
    p->pci_vendor_id = info.vendorId;
    p->pci_device_id = info.deviceId;
    p->rev_id = info.revisionId;
    p->num_eus_per_sub_slice = 0;
    p->num_sub_slices_per_slice = 0;
    p->num_slices = 0;
    std::memset(p->name, 0, sizeof p->name);
    const std::string name = adapterName(info.deviceId);
    std::memcpy(p->name, name.data(), std::min(name.size(), sizeof p->name - 1));
    p->graphics_adapter_properties = 0;
    p->Frequency = static_cast<uint32_t>(readUnsigned(info.deviceDir / "tile0/gt0/freq0/max_freq").value_or(0));
    p->pci_subsys_id = info.subsystemId;
    p->pci_subsys_vendor_id = info.subsystemVendorId;
    p->adapter_bdf_bus = info.address.bus;
    p->adapter_bdf_device = info.address.device;
    p->adapter_bdf_function = info.address.function;
    return CTL_RESULT_SUCCESS;
}

ctl_result_t ctlPowerTelemetryGet(ctl_device_adapter_handle_t h, ctl_power_telemetry_t *t)
{
    AdapterInfo info;
    fs::path proc;
    if (const ctl_result_t r = adapterQuery(h, t, &info, &proc); r != CTL_RESULT_SUCCESS)
        return r;
    std::error_code ec;
    if (!fs::is_directory(info.deviceDir, ec))
        return CTL_RESULT_ERROR_DEVICE_LOST;

    const Telemetry s =
        readTelemetry(info.deviceDir, info.hasAddress ? std::optional<PciAddress>(info.address) : std::nullopt, proc);
    const uint32_t size = t->Size;
    const uint8_t version = t->Version;
    std::memset(static_cast<void *>(t), 0, sizeof *t);
    t->Size = size;
    t->Version = version;

    setItem(t->timeStamp, CTL_UNITS_TIME_SECONDS, s.timestamp);
    setItem(t->gpuEnergyCounter, CTL_UNITS_ENERGY_JOULES, s.packageEnergyJ);
    setItem(t->totalCardEnergyCounter, CTL_UNITS_ENERGY_JOULES, s.cardEnergyJ);
    setItem(t->gpuCurrentClockFrequency, CTL_UNITS_FREQUENCY_MHZ, s.gpuClockMhz);
    setItem(t->gpuCurrentTemperature, CTL_UNITS_TEMPERATURE_CELSIUS, s.packageTempC);
    setItem(t->vramCurrentTemperature, CTL_UNITS_TEMPERATURE_CELSIUS, s.vramTempC);
    setItem(t->globalActivityCounter, CTL_UNITS_TIME_SECONDS, s.busySeconds);
    // The card's one fan speed goes first, where readers look for it.
    setItem(t->fanSpeed[0], CTL_UNITS_ANGULAR_SPEED_RPM, s.fanRpm);
    for (std::size_t i = 1; i < CTL_FAN_COUNT; ++i)
        setUnsupported(t->fanSpeed[i], CTL_UNITS_ANGULAR_SPEED_RPM);
    // Nothing in sysfs answers these on this card.
    setUnsupported(t->gpuVoltage, CTL_UNITS_VOLTAGE_VOLTS);
    setUnsupported(t->vramCurrentClockFrequency, CTL_UNITS_FREQUENCY_MHZ);
    setUnsupported(t->vramVoltage, CTL_UNITS_VOLTAGE_VOLTS);
    setUnsupported(t->vramEnergyCounter, CTL_UNITS_ENERGY_JOULES);
    setUnsupported(t->renderComputeActivityCounter, CTL_UNITS_TIME_SECONDS);
    setUnsupported(t->mediaActivityCounter, CTL_UNITS_TIME_SECONDS);
    setUnsupported(t->gpuOverVoltagePercent, CTL_UNITS_PERCENT);
    setUnsupported(t->gpuPowerPercent, CTL_UNITS_PERCENT);
    setUnsupported(t->gpuTemperaturePercent, CTL_UNITS_PERCENT);
    return CTL_RESULT_SUCCESS;
}

ctl_result_t ctlPciGetProperties(ctl_device_adapter_handle_t h, ctl_pci_properties_t *p)
{
    AdapterInfo info;
    if (const ctl_result_t r = adapterQuery(h, p, &info); r != CTL_RESULT_SUCCESS)
        return r;
    p->address.Size = sizeof(ctl_pci_address_t);
    p->address.Version = 0;
    p->address.domain = info.address.domain;
    p->address.bus = info.address.bus;
    p->address.device = info.address.device;
    p->address.function = info.address.function;
    setSpeed(p->maxSpeed, readSlotLink(info.deviceDir).max);
    const ResizableBar rebar = readResizableBar(info.deviceDir);
    p->resizable_bar_supported = rebar.supported;
    p->resizable_bar_enabled = rebar.enabled;
    return CTL_RESULT_SUCCESS;
}

ctl_result_t ctlPciGetState(ctl_device_adapter_handle_t h, ctl_pci_state_t *s)
{
    AdapterInfo info;
    if (const ctl_result_t r = adapterQuery(h, s, &info); r != CTL_RESULT_SUCCESS)
        return r;
    setSpeed(s->speed, readSlotLink(info.deviceDir).current);
    return CTL_RESULT_SUCCESS;
}

// The GPU package and the VRAM sensors, the two the telemetry reports: the
// cheap way to the temperatures alone, without the rest of the telemetry.
ctl_result_t ctlEnumTemperatureSensors(ctl_device_adapter_handle_t h, uint32_t *count, ctl_temp_handle_t *out)
{
    if (!h)
        return CTL_RESULT_ERROR_INVALID_NULL_HANDLE;
    if (!count)
        return CTL_RESULT_ERROR_INVALID_NULL_POINTER;
    std::lock_guard<std::mutex> g(g_lock);
    Adapter *a = adapterOf(h);
    if (!a)
        return CTL_RESULT_ERROR_INVALID_ARGUMENT;
    if (!a->sensorsListed) {
        a->sensorsListed = true;
        const HwmonSensors hw(a->info.deviceDir);
        for (const auto &[label, type] : {std::pair{"pkg", CTL_TEMP_SENSORS_GPU}, {"vram", CTL_TEMP_SENSORS_MEMORY}}) {
            if (const auto input = hw.input("temp", label)) {
                auto sensor = std::make_unique<TempSensor>();
                sensor->input = *input;
                sensor->type = type;
                g_sensors.emplace(sensor.get(), sensor.get());
                a->sensors.push_back(std::move(sensor));
            }
        }
    }
    if (!out || *count == 0) {
        *count = static_cast<uint32_t>(a->sensors.size());
        return CTL_RESULT_SUCCESS;
    }
    const uint32_t n = std::min<uint32_t>(*count, static_cast<uint32_t>(a->sensors.size()));
    for (uint32_t i = 0; i < n; ++i)
        out[i] = reinterpret_cast<ctl_temp_handle_t>(a->sensors[i].get());
    *count = n;
    return CTL_RESULT_SUCCESS;
}

// The most the part is meant to reach is the driver's critical limit beside
// the reading (tempN_crit). Kernels that publish none get 0, which callers
// take as no limit.
ctl_result_t ctlTemperatureGetProperties(ctl_temp_handle_t h, ctl_temp_properties_t *p)
{
    if (const ctl_result_t r = checkQuery(h, p); r != CTL_RESULT_SUCCESS)
        return r;
    TempSensor sensor;
    {
        std::lock_guard<std::mutex> g(g_lock);
        const auto it = g_sensors.find(h);
        if (it == g_sensors.end())
            return CTL_RESULT_ERROR_INVALID_ARGUMENT;
        sensor = *it->second;
    }
    std::string stem = sensor.input.filename().string();
    stem.resize(stem.size() - std::strlen("_input"));
    const auto milli = readSigned(sensor.input.parent_path() / (stem + "_crit"));
    p->type = sensor.type;
    p->maxTemperature = milli && *milli > 0 ? double(*milli) / 1000.0 : 0.0;
    return CTL_RESULT_SUCCESS;
}

ctl_result_t ctlTemperatureGetState(ctl_temp_handle_t h, double *temperature)
{
    if (!h)
        return CTL_RESULT_ERROR_INVALID_NULL_HANDLE;
    if (!temperature)
        return CTL_RESULT_ERROR_INVALID_NULL_POINTER;
    fs::path input;
    {
        std::lock_guard<std::mutex> g(g_lock);
        const auto it = g_sensors.find(h);
        if (it == g_sensors.end())
            return CTL_RESULT_ERROR_INVALID_ARGUMENT;
        input = it->second->input;
    }
    std::ifstream in(input);
    long long milli = 0;
    if (!(in >> milli))
        return CTL_RESULT_ERROR_DATA_READ;
    *temperature = double(milli) / 1000.0;
    return CTL_RESULT_SUCCESS;
}

} // namespace entry

ctl_result_t init(ctl_init_args_t *args, ctl_api_handle_t *handle)
{
    if (!args || !handle)
        return CTL_RESULT_ERROR_INVALID_NULL_POINTER;
    if (args->Size < sizeof(ctl_init_args_t))
        return CTL_RESULT_ERROR_INVALID_SIZE;
    if (ctlMajorVersion(args->AppVersion) > CTL_SUPPORTED_MAJOR_VERSION)
        return CTL_RESULT_ERROR_UNSUPPORTED_VERSION;
    args->SupportedVersion = ctlMakeVersion(1, 1);

    auto api = std::make_unique<Api>();
    api->root = sysfsRoot();
    api->procRoot = procRoot();
    for (AdapterInfo &info : scanAdapters(api->root)) {
        auto a = std::make_unique<Adapter>();
        a->api = api.get();
        a->info = std::move(info);
        api->adapters.push_back(std::move(a));
    }
    std::lock_guard<std::mutex> g(g_lock);
    for (const auto &a : api->adapters)
        g_adapters.emplace(a.get(), a.get());
    *handle = reinterpret_cast<ctl_api_handle_t>(api.get());
    g_apis.emplace(api.get(), std::move(api));
    return CTL_RESULT_SUCCESS;
}

ctl_result_t close(ctl_api_handle_t handle)
{
    if (!handle)
        return CTL_RESULT_ERROR_INVALID_NULL_HANDLE;
    std::lock_guard<std::mutex> g(g_lock);
    const auto it = g_apis.find(handle);
    if (it == g_apis.end())
        return CTL_RESULT_ERROR_INVALID_ARGUMENT;
    for (const auto &a : it->second->adapters) {
        g_adapters.erase(a.get());
        for (const auto &sensor : a->sensors)
            g_sensors.erase(sensor.get());
    }
    g_apis.erase(it);
    return CTL_RESULT_SUCCESS;
}

} // namespace ctlsim

extern "C" {

CTL_APIEXPORT ctl_result_t CTL_APICALL ctlInit(ctl_init_args_t *args, ctl_api_handle_t *handle)
{
    return ctlsim::init(args, handle);
}

CTL_APIEXPORT ctl_result_t CTL_APICALL ctlClose(ctl_api_handle_t handle) { return ctlsim::close(handle); }

// This library is the runtime itself; there is nothing to redirect to.
CTL_APIEXPORT ctl_result_t CTL_APICALL ctlSetRuntimePath(ctl_runtime_path_args_t *args)
{
    return args ? CTL_RESULT_SUCCESS : CTL_RESULT_ERROR_INVALID_NULL_POINTER;
}

#define CTLSIM_EXPORT_1(n, A) \
    CTL_APIEXPORT ctl_result_t CTL_APICALL n(A a) { return ctlsim::entry::n(a); }
#define CTLSIM_EXPORT_2(n, A, B) \
    CTL_APIEXPORT ctl_result_t CTL_APICALL n(A a, B b) { return ctlsim::entry::n(a, b); }
#define CTLSIM_EXPORT_3(n, A, B, C) \
    CTL_APIEXPORT ctl_result_t CTL_APICALL n(A a, B b, C c) { return ctlsim::entry::n(a, b, c); }
#define CTLSIM_EXPORT_4(n, A, B, C, D) \
    CTL_APIEXPORT ctl_result_t CTL_APICALL n(A a, B b, C c, D d) { return ctlsim::entry::n(a, b, c, d); }
#define CTLSIM_EXPORT_5(n, A, B, C, D, E) \
    CTL_APIEXPORT ctl_result_t CTL_APICALL n(A a, B b, C c, D d, E e) { return ctlsim::entry::n(a, b, c, d, e); }
CTL_FORWARDED_ENTRY_POINTS(CTLSIM_EXPORT_1, CTLSIM_EXPORT_2, CTLSIM_EXPORT_3, CTLSIM_EXPORT_4, CTLSIM_EXPORT_5)

} // extern "C"
