#pragma once
// The moving readings of one adapter, each present only when the driver
// reports it.

#include "sim/controllib/sysfs_files.h"

#include <array>
#include <map>
#include <optional>
#include <string>

namespace ctlsim {

// The hwmon sensors of an adapter, found by the labels the driver gives them
// (the numbering differs between kernels).
class HwmonSensors {
public:
    explicit HwmonSensors(const fs::path &deviceDir);

    // <kind><N>_input whose <kind><N>_label reads label, e.g. ("temp", "vram").
    std::optional<fs::path> input(const std::string &kind, const std::string &label) const;
    // fan<N>_input for N = 1, 2, ... (the driver gives fans no labels).
    std::optional<fs::path> fan(int number) const;

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
    std::array<std::optional<double>, 5> fanRpm;
};

// Reads everything once. The timestamp is taken before the counters, so the
// counters of a later call never belong to an earlier time.
Telemetry readTelemetry(const fs::path &deviceDir);

// Busy seconds of the GT: the monotonic time minus the GT's idle residency,
// never below zero.
double busySeconds(double monotonicSeconds, double idleResidencyMs);

double monotonicSeconds();

} // namespace ctlsim
