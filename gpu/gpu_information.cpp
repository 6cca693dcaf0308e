#include "gpu/gpu_information.h"

#include "gpu/ctl_result_text.h"

#include <QDebug>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace gpu {
namespace {

const QString kCheckCtl = QStringLiteral("CheckCTL");
const QString kAdapterName = QStringLiteral("AdapterName");
const QString kVendorId = QStringLiteral("VendorID");
const QString kDeviceId = QStringLiteral("DeviceID");
const QString kSubSysId = QStringLiteral("SubSysID");
const QString kSubSysVendorId = QStringLiteral("SubSysVendorID");
const QString kRevId = QStringLiteral("RevID");
const QString kDeviceName = QStringLiteral("deviceName");
const QString kDriverVersion = QStringLiteral("DriverVersion");
const QString kPcie = QStringLiteral("PCIE");
const QString kResizableBar = QStringLiteral("ResizableBar");
const QString kGpuCount = QStringLiteral("GPU_count");

constexpr uint32_t kIntelVendorId = 0x8086;
constexpr size_t kDeviceIdBytes = 8;
// No machine holds this many display adapters; a larger count is a broken
// answer and would only make the program allocate without bound.
constexpr uint32_t kMaxAdapters = 256;

struct TelemetryItem {
    const ctl_oc_telemetry_item_t ctl_power_telemetry_t::*member;
    const char *before;
    const char *after;
    const char *key;
};

const TelemetryItem kTelemetryItems[] = {
    {&ctl_power_telemetry_t::gpuVoltage, "\nGpu Voltage: ", " (Voltage in Volts)", "GpuVoltage"},
    {&ctl_power_telemetry_t::gpuCurrentClockFrequency, "Gpu Current Frequency: ",
     " (Frequency in MHz)", "GpuCurrentFrequency"},
    {&ctl_power_telemetry_t::gpuCurrentTemperature, "Gpu Current Temperature: ",
     " (Temperature in Celsius)", "GpuCurrentTemperature"},
    {&ctl_power_telemetry_t::vramCurrentClockFrequency, "VRAM Frequency: ", " (Frequency in MHz)",
     "VRAM_Frequency"},
    {&ctl_power_telemetry_t::vramCurrentTemperature, "VRAM Temperature: ",
     " (Temperature in Celsius)", "VRAM_Temperature"},
    {&ctl_power_telemetry_t::gpuOverVoltagePercent, "GPU Overvoltage Percentage: ",
     " (Units in Percentage)", "GPUOvervoltagePercentage"},
    {&ctl_power_telemetry_t::gpuPowerPercent, "GPU Power Percentage: ", " (Units in Percentage)",
     "GPU_PowerPercentage"},
    {&ctl_power_telemetry_t::gpuTemperaturePercent, "GPU Temperature Percentage: ",
     " (Units in Percentage)", "GPU_TemperaturePercentage"},
};
const char kFanBefore[] = "Fan 0 Speed: ";
const char kFanAfter[] = " (Angular Speed in RPM)";
const char kFanKey[] = "FanSpeed";

// Booleans come from another library's memory; read the byte rather than
// trust it to hold exactly 0 or 1.
bool flagSet(const bool &flag)
{
    unsigned char byte = 0;
    std::memcpy(&byte, &flag, 1);
    return byte != 0;
}

QString hex4(uint32_t value)
{
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')).toUpper();
}

void resetScanKeys(QVariantMap &info)
{
    for (const TelemetryItem &item : kTelemetryItems)
        info[QString::fromLatin1(item.key)] = 0;
    info[QString::fromLatin1(kFanKey)] = 0;
    for (const QString &key : {kAdapterName, kVendorId, kDeviceId, kSubSysId, kSubSysVendorId,
                               kRevId, kDeviceName})
        info[key] = QString();
}

void storeTelemetryItem(const ctl_oc_telemetry_item_t &item, const char *before, const char *after,
                        const char *key, QVariantMap &info)
{
    // What the card does not report is no value at all, never a reading of 0.
    if (!flagSet(item.bSupported)) {
        info[QString::fromLatin1(key)] = notAvailable();
        return;
    }
    const double value = telemetryValue(item);
    qDebug().noquote() << QString::fromLatin1(before) + QString::number(value)
                              + QString::fromLatin1(after);
    info[QString::fromLatin1(key)] = value;
}

} // namespace

QVariant notAvailable() { return QVariant::fromValue(nullptr); }

QVariant reading(double value) { return std::isnan(value) ? notAvailable() : QVariant(value); }

QList<known_card::Row> defaultKnownCards()
{
    QList<known_card::Row> rows;
    for (const known_card::Row &row : known_card::kRows)
        rows.append(row);
    return rows;
}

double telemetryValue(const ctl_oc_telemetry_item_t &item)
{
    const ctl_data_value_t &v = item.value;
    switch (item.type) {
    case CTL_DATA_TYPE_INT8: return v.data8;
    case CTL_DATA_TYPE_UINT8: return v.datau8;
    case CTL_DATA_TYPE_INT16: return v.data16;
    case CTL_DATA_TYPE_UINT16: return v.datau16;
    case CTL_DATA_TYPE_INT32: return v.data32;
    case CTL_DATA_TYPE_UINT32: return v.datau32;
    case CTL_DATA_TYPE_INT64: return static_cast<double>(v.data64);
    case CTL_DATA_TYPE_UINT64: return static_cast<double>(v.datau64);
    case CTL_DATA_TYPE_FLOAT: return v.datafloat;
    default: return v.datadouble;
    }
}

GpuInformation::GpuInformation() : GpuInformation(defaultKnownCards()) {}

GpuInformation::GpuInformation(QList<known_card::Row> knownCards) : known(std::move(knownCards)) {}

void GpuInformation::getAdapterDriverVersion(const ctl_device_adapter_properties_t *properties,
                                             QVariantMap &monitorInfo)
{
    if (!properties)
        return;
    const uint64_t v = properties->driver_version;
    monitorInfo[kDriverVersion] = QStringLiteral("%1.%2.%3.%4")
                                      .arg((v >> 48) & 0xFFFF)
                                      .arg((v >> 32) & 0xFFFF)
                                      .arg((v >> 16) & 0xFFFF)
                                      .arg(v & 0xFFFF);
}

void GpuInformation::ctlPciTest(ctl_device_adapter_handle_t adapter, QVariantMap &monitorInfo)
{
    ctl_pci_properties_t properties{};
    properties.Size = sizeof(ctl_pci_properties_t);
    properties.Version = 0;
    if (ctlPciGetProperties(adapter, &properties) == CTL_RESULT_SUCCESS) {
        const int gen = properties.maxSpeed.gen;
        const int width = properties.maxSpeed.width;
        const unsigned barEnabled = flagSet(properties.resizable_bar_enabled) ? 1u : 0u;
        std::printf("\n[Pci] Gen [%i]", gen);
        std::printf("\n");
        std::printf("[Pci] Width [%i]", width);
        std::printf("\n");
        std::printf("[Pci] Resizable Bar Enabled [%u]", barEnabled);
        std::printf("\n");
        monitorInfo[kResizableBar] = QString::number(barEnabled);
        // A link the library could not find (-1) must not read "PCIE -1.0 X-1 ".
        if (gen > 0 && width > 0)
            monitorInfo[kPcie] = QStringLiteral("PCIE ") + QString::number(gen)
                                 + QStringLiteral(".0 X") + QString::number(width)
                                 + QStringLiteral(" ");
    }
    // Read for completeness of the sequence; nothing here uses the current link.
    ctl_pci_state_t state{};
    state.Size = sizeof(ctl_pci_state_t);
    state.Version = 0;
    ctlPciGetState(adapter, &state);
}

std::optional<TelemetrySample> GpuInformation::readCounters(ctl_device_adapter_handle_t adapter, bool markUnsupported)
{
    ctl_power_telemetry_t telemetry{};
    telemetry.Size = sizeof(ctl_power_telemetry_t);
    telemetry.Version = 1;
    const ctl_result_t result = ctlPowerTelemetryGet(adapter, &telemetry);
    if (result != CTL_RESULT_SUCCESS) {
        std::printf("\nOverclockPowerTelemetry => ctlPowerTelemetryGet Result Error: %s, ErrorCode: 0x%x \n \n",
                    CtlResultToString(result).toLocal8Bit().constData(), result);
        std::printf("\n");
        return std::nullopt;
    }
    auto value = [&](const ctl_oc_telemetry_item_t &item) {
        return markUnsupported && !flagSet(item.bSupported) ? std::nan("") : telemetryValue(item);
    };
    return TelemetrySample{value(telemetry.timeStamp), value(telemetry.totalCardEnergyCounter),
                           value(telemetry.gpuEnergyCounter), value(telemetry.globalActivityCounter)};
}

TelemetrySample GpuInformation::overclockPowerTelemetry(ctl_device_adapter_handle_t adapter)
{
    return readCounters(adapter, false).value_or(TelemetrySample{0.0, 0.0, 0.0, 0.0});
}

void GpuInformation::addSample(const TelemetrySample &sample)
{
    // A rate needs two samples: set against nothing, the first would be an
    // average since the counters started (for the energy, since boot).
    if (!hasBaseline) {
        hasBaseline = std::isfinite(sample[0]);
        if (!hasBaseline)
            return;
    } else {
        const double dt = sample[0] - previousTimestamp;
        if (std::isnan(dt))
            return; // no timestamp: nothing to divide by, keep the baseline
        if (dt > 0.0) {
            // NaN in, NaN out: a counter the card does not report gives no rate.
            derived.boardPower = (sample[1] - previousBoardEnergy) / dt;
            derived.chipPower = (sample[2] - previousGpuEnergy) / dt;
            derived.utilisation = (sample[3] - previousActivity) / dt;
        } else if (dt == 0.0) {
            // Same instant again: keep the older baseline too, so the energy the
            // counters gained meanwhile is not lost from the next interval.
            return;
        }
    }
    previousTimestamp = sample[0];
    previousBoardEnergy = sample[1];
    previousGpuEnergy = sample[2];
    previousActivity = sample[3];
}

int GpuInformation::refresh(QVariantMap &info, QVariantMap &reply)
{
    ctl_init_args_t initArgs{};
    initArgs.Size = sizeof(ctl_init_args_t);
    initArgs.Version = 0;
    initArgs.AppVersion = ctlMakeVersion(1, 1);
    initArgs.flags = CTL_INIT_FLAG_STANDARD;
    ctl_api_handle_t api = nullptr;

    ctl_result_t result = ctlInit(&initArgs, &api);
    if (result != CTL_RESULT_SUCCESS) {
        result = ctlInit(&initArgs, &api);
        qDebug().noquote() << "Initial error, Re ctlInit ...";
    }
    info[kCheckCtl] = 1;

    int matched = 0;
    if (result == CTL_RESULT_SUCCESS) {
        uint32_t count = 0;
        std::vector<ctl_device_adapter_handle_t> adapters;
        result = ctlEnumerateDevices(api, &count, nullptr);
        bool allocated = true;
        if (result == CTL_RESULT_SUCCESS) {
            if (count > kMaxAdapters) {
                allocated = false;
            } else {
                adapters.assign(count, nullptr);
                uint32_t filled = count;
                result = ctlEnumerateDevices(api, &filled, adapters.empty() ? nullptr : adapters.data());
                // Never read past what was handed out, whatever count comes back.
                if (filled < count)
                    count = filled;
            }
        }
        if (result != CTL_RESULT_SUCCESS) {
            std::printf("[ERROR] %s returned failure code: 0x%X\n", "ctlEnumerateDevices", result);
        } else if (allocated) {
            std::printf("EnumerateDevices returned %d adapters\n", static_cast<int>(count));
            resetScanKeys(info);
            if (scan(adapters.data(), count, info, matched))
                reply[kGpuCount] = matched;
        }
    }

    ctlClose(api);
    std::fflush(stdout);
    return matched;
}

std::optional<CardTemperature> GpuInformation::hottestTemperature(bool withLimits)
{
    constexpr double kHighestPlausibleC = 200.0;
    constexpr uint32_t kMaxSensors = 64;
    ctl_init_args_t initArgs{};
    initArgs.Size = sizeof(ctl_init_args_t);
    initArgs.Version = 0;
    initArgs.AppVersion = ctlMakeVersion(1, 1);
    initArgs.flags = CTL_INIT_FLAG_STANDARD;
    ctl_api_handle_t api = nullptr;
    std::optional<double> hottest, critical;
    if (ctlInit(&initArgs, &api) != CTL_RESULT_SUCCESS) {
        ctlClose(api);
        return std::nullopt;
    }
    uint32_t count = 0;
    std::vector<ctl_device_adapter_handle_t> adapters;
    if (ctlEnumerateDevices(api, &count, nullptr) == CTL_RESULT_SUCCESS && count <= kMaxAdapters) {
        adapters.assign(count, nullptr);
        uint32_t filled = count;
        if (count == 0 || ctlEnumerateDevices(api, &filled, adapters.data()) != CTL_RESULT_SUCCESS)
            filled = 0;
        for (uint32_t i = 0; i < std::min(filled, count); ++i) {
            unsigned char deviceId[kDeviceIdBytes] = {};
            ctl_device_adapter_properties_t properties{};
            properties.Size = sizeof(ctl_device_adapter_properties_t);
            properties.Version = 2;
            properties.pDeviceID = deviceId;
            properties.device_id_size = kDeviceIdBytes;
            if (!adapters[i] || ctlGetDeviceProperties(adapters[i], &properties) != CTL_RESULT_SUCCESS)
                continue;
            const bool isKnown = std::any_of(known.begin(), known.end(), [&](const known_card::Row &row) {
                return known_card::matches(row, properties.pci_vendor_id, properties.pci_device_id,
                                           properties.pci_subsys_id, properties.pci_subsys_vendor_id);
            });
            if (!isKnown)
                continue;
            uint32_t sensors = 0;
            if (ctlEnumTemperatureSensors(adapters[i], &sensors, nullptr) != CTL_RESULT_SUCCESS
                || sensors == 0 || sensors > kMaxSensors)
                break;
            std::vector<ctl_temp_handle_t> handles(sensors, nullptr);
            if (ctlEnumTemperatureSensors(adapters[i], &sensors, handles.data()) != CTL_RESULT_SUCCESS)
                break;
            for (uint32_t k = 0; k < std::min<uint32_t>(sensors, handles.size()); ++k) {
                double c = 0.0;
                if (handles[k] && ctlTemperatureGetState(handles[k], &c) == CTL_RESULT_SUCCESS
                    && c > 0.0 && c < kHighestPlausibleC)
                    hottest = std::max(hottest.value_or(c), c);
                ctl_temp_properties_t properties{};
                properties.Size = sizeof(ctl_temp_properties_t);
                if (withLimits && handles[k]
                    && ctlTemperatureGetProperties(handles[k], &properties) == CTL_RESULT_SUCCESS
                    && properties.maxTemperature > 0.0 && properties.maxTemperature < kHighestPlausibleC)
                    critical = std::min(critical.value_or(kHighestPlausibleC), properties.maxTemperature);
            }
            break; // the first recognised card, as the telemetry reads it
        }
    }
    ctlClose(api);
    if (!hottest)
        return std::nullopt;
    return CardTemperature{*hottest, critical};
}

bool GpuInformation::scan(const ctl_device_adapter_handle_t *adapters,
                          uint32_t count, QVariantMap &info, int &matched)
{
    // One record serves the whole scan; only its header and identifier
    // buffer are set again for each adapter.
    ctl_device_adapter_properties_t properties{};
    for (uint32_t i = 0; i < count; ++i) {
        if (!adapters[i]) {
            qDebug().noquote() << QStringLiteral("hDevices[") + QString::number(i) + QStringLiteral("] = NULL");
            continue;
        }
        std::unique_ptr<unsigned char[]> deviceId(new (std::nothrow) unsigned char[kDeviceIdBytes]());
        if (!deviceId)
            return false;
        properties.Size = sizeof(ctl_device_adapter_properties_t);
        properties.Version = 2;
        properties.pDeviceID = deviceId.get();
        properties.device_id_size = kDeviceIdBytes;
        const ctl_result_t propertiesResult = ctlGetDeviceProperties(adapters[i], &properties);
        properties.pDeviceID = nullptr; // the buffer goes with this iteration
        if (propertiesResult != CTL_RESULT_SUCCESS) {
            std::printf("ctlGetDeviceProperties returned failure code: 0x%X\n", propertiesResult);
            break;
        }
        if (properties.device_type != CTL_DEVICE_TYPE_GRAPHICS) {
            std::printf("This is not a Graphics device \n");
            continue;
        }

        getAdapterDriverVersion(&properties, info);
        if (properties.pci_vendor_id == kIntelVendorId) {
            info[kAdapterName] = QString::fromUtf8(
                properties.name, static_cast<int>(strnlen(properties.name, sizeof properties.name)));
            info[kVendorId] = hex4(properties.pci_vendor_id);
            info[kDeviceId] = hex4(properties.pci_device_id);
            info[kSubSysId] = hex4(properties.pci_subsys_id);
            info[kSubSysVendorId] = hex4(properties.pci_subsys_vendor_id);
            info[kRevId] = static_cast<uint>(properties.rev_id);
        }
        qDebug().noquote().nospace() << "Device Index: " << i << "\nAdapterName: "
                                     << info.value(kAdapterName).toString();

        const known_card::Row *card = nullptr;
        for (const known_card::Row &row : known) {
            if (known_card::matches(row, properties.pci_vendor_id, properties.pci_device_id,
                                    properties.pci_subsys_id, properties.pci_subsys_vendor_id)) {
                card = &row;
                break;
            }
        }
        if (!card)
            continue; // not ours: no telemetry

        qDebug().noquote() << "Matched device:" << card->name;
        info[kDeviceName] = QString::fromLatin1(card->name);
        ++matched;

        ctl_power_telemetry_t telemetry{};
        telemetry.Size = sizeof(ctl_power_telemetry_t);
        telemetry.Version = 1;
        const ctl_result_t telemetryResult = ctlPowerTelemetryGet(adapters[i], &telemetry);
        if (telemetryResult != CTL_RESULT_SUCCESS) {
            std::printf("\nCtlPowerTelemetryTest => ctlPowerTelemetryGet Result Error: %s, ErrorCode: 0x%x \n \n",
                        CtlResultToString(telemetryResult).toLocal8Bit().constData(), telemetryResult);
            std::printf("\n");
            info[kCheckCtl] = 0;
            break; // the caller, who opened the library, closes it
        }
        for (const TelemetryItem &item : kTelemetryItems)
            storeTelemetryItem(telemetry.*(item.member), item.before, item.after, item.key, info);
        storeTelemetryItem(telemetry.fanSpeed[0], kFanBefore, kFanAfter, kFanKey, info);

        ctlPciTest(adapters[i], info);
        // A failed read is no sample: the next good one is set against the
        // last good one, not against zeros.
        if (const auto sample = readCounters(adapters[i], true))
            addSample(*sample);
    }
    return true;
}

} // namespace gpu
