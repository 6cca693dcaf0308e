#pragma once
// The moving readings of one adapter, each present only when the driver
// reports it.

#include "sim/controllib/sysfs_adapters.h"
#include "sim/controllib/sysfs_fdinfo.h"
#include "sim/controllib/sysfs_files.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace ctlsim {

// The hwmon sensors of an adapter, found by the labels the driver gives them
// (the numbering differs between kernels).
class HwmonSensors {
public:
    explicit HwmonSensors(const fs::path &deviceDir);

    // <kind><N>_input whose <kind><N>_label reads label, e.g. ("temp", "vram").
    std::optional<fs::path> input(const std::string &kind, const std::string &label) const;
    // Every fan<N>_input there is: the driver gives fans no labels, and board
    // makers wire the tach line to whichever channel they like.
    std::vector<fs::path> fans() const;

    bool found() const { return !dir_.empty(); }

private:
    fs::path dir_;
    std::map<std::pair<std::string, std::string>, fs::path> labelled_;
};

struct Telemetry {
    double timestamp = 0.0; // seconds, monotonic
    std::optional<double> cardEnergyJ;
    std::optional<double> packageEnergyJ;
    std::optional<double> packageTempC;
    std::optional<double> vramTempC;
    std::optional<double> gpuClockMhz;
    std::optional<double> busySeconds;
    // The card's fan: the fastest channel, 0 when every channel reads 0.
    std::optional<double> fanRpm;
};

// Reads everything once. The timestamp is taken before the counters, so the
// counters of a later call never belong to an earlier time. Busy time comes
// from the per-client engine counters under procRoot where they can be read
// for the card at pdev, otherwise from the GT's idle residency.
Telemetry readTelemetry(const fs::path &deviceDir, const std::optional<PciAddress> &pdev, const fs::path &procRoot);

// The busy seconds of one card, counted up across reads from whichever source
// covers the interval since the last read: the engine counters when clients
// of the card were seen both times, else the idle residency. The library
// stays loaded for the life of the process (it is linked not to unload), so
// the counter lives as long as the program. Nothing when neither source is
// there now. readClients is called only when the step counts.
std::optional<double> stepBusyClock(const std::string &card, double now, const std::optional<double> &idleMs,
                                    const std::function<DrmClients()> &readClients);

double monotonicSeconds();

} // namespace ctlsim
