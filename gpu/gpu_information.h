#pragma once
// One GPU refresh: load and initialise the control library, list the
// adapters, recognise the known card, read its telemetry, PCIe link and
// driver version, derive power and utilisation from counter differences and
// close the library again. The object keeps the last sample between refreshes.

#include "gpu/ctl_api.h"
#include "platform/known_card.h"

#include <QList>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <array>
#include <cmath>
#include <optional>
#include <cstdint>

namespace gpu {

// The rows of platform/known_card.h.
QList<known_card::Row> defaultKnownCards();

// A rate the card cannot give (a counter it does not report, or no second
// sample yet) is NaN.
struct DerivedRates {
    double boardPower = std::nan("");  // watts, whole card
    double chipPower = std::nan("");   // watts, GPU chip
    double utilisation = std::nan(""); // busy fraction, 0..1
};

struct CardTemperature {
    double hottestC = 0.0;
    // The lowest of the sensors' own limits; nothing when none reports one.
    std::optional<double> criticalC;
};

// The dictionary value of a reading the card does not report: present under
// its key, null to the scene, 0 to anyone reading it as a number.
QVariant notAvailable();
// A rate as a dictionary value: NaN becomes notAvailable().
QVariant reading(double value);

// The counters one telemetry read yields, in this order.
using TelemetrySample = std::array<double, 4>; // timestamp, board energy, GPU energy, activity

class GpuInformation {
public:
    GpuInformation();
    explicit GpuInformation(QList<known_card::Row> knownCards);

    // Runs one full cycle. Writes the GPU keys of monitorInfo and "GPU_count"
    // of reply (only after a successful enumeration). Returns the number of
    // recognised cards found, 0 when the scan did not get that far.
    int refresh(QVariantMap &monitorInfo, QVariantMap &reply);

    // "PCIE" and "ResizableBar" of one adapter.
    void ctlPciTest(ctl_device_adapter_handle_t adapter, QVariantMap &monitorInfo);
    // Timestamp, total-card energy, GPU energy and global activity; all zero
    // when the read fails.
    TelemetrySample overclockPowerTelemetry(ctl_device_adapter_handle_t adapter);
    // "DriverVersion" from an adapter-properties record.
    static void getAdapterDriverVersion(const ctl_device_adapter_properties_t *properties,
                                        QVariantMap &monitorInfo);

    DerivedRates rates() const { return derived; }

    // The hotter of the recognised card's GPU and VRAM temperatures, in its
    // own short cycle of the library that reads the temperature sensors and
    // nothing else: cheap enough for a fan curve to call every few seconds.
    // Nothing when the card or both sensors cannot be read. The limits, which
    // stay as they are while the card is there, only when asked for.
    std::optional<CardTemperature> hottestTemperature(bool withLimits);
    // Folds one sample into the rates; a counter given as NaN is one the card
    // does not report. The first sample only sets the baseline. A sample that
    // is not later than the previous one leaves the rates as they were: a zero
    // or negative interval would turn them into infinities or nonsense.
    void addSample(const TelemetrySample &sample);

private:
    // The adapter loop; false when the cycle had to end without a count.
    bool scan(const ctl_device_adapter_handle_t *adapters, uint32_t count,
              QVariantMap &info, int &matched);
    // The four counters, or nothing when the read fails; markUnsupported
    // turns a counter the library does not support into NaN.
    std::optional<TelemetrySample> readCounters(ctl_device_adapter_handle_t adapter, bool markUnsupported);

    QList<known_card::Row> known;
    double previousTimestamp = 0.0;
    double previousBoardEnergy = 0.0;
    double previousGpuEnergy = 0.0;
    double previousActivity = 0.0;
    bool hasBaseline = false;
    DerivedRates derived;
};

// A telemetry item's value as a double, read from the union member its
// declared type names.
double telemetryValue(const ctl_oc_telemetry_item_t &item);

} // namespace gpu
