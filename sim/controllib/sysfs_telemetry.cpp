#include "sim/controllib/sysfs_telemetry.h"

#include <algorithm>
#include <ctime>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <system_error>
#include <vector>

namespace ctlsim {

namespace {

// The hwmon folder of the device that belongs to its graphics driver; a
// device may carry others (e.g. a PMIC), which come second.
fs::path pickHwmon(const fs::path &deviceDir)
{
    fs::path fallback;
    std::error_code ec;
    std::vector<fs::path> dirs;
    for (fs::directory_iterator it(deviceDir / "hwmon", ec), end; !ec && it != end; it.increment(ec))
        dirs.push_back(it->path());
    std::sort(dirs.begin(), dirs.end());
    for (const fs::path &d : dirs) {
        const auto name = readText(d / "name");
        if (name && (*name == "xe" || *name == "i915"))
            return d;
        if (fallback.empty())
            fallback = d;
    }
    return fallback;
}

// "temp2_label" -> ("temp", "2"); false for any other name.
bool splitLabelName(const std::string &name, std::string &kind, std::string &number)
{
    const std::string suffix = "_label";
    if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    const std::string stem = name.substr(0, name.size() - suffix.size());
    std::size_t digits = stem.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(stem[digits - 1])))
        --digits;
    if (digits == 0 || digits == stem.size())
        return false;
    for (std::size_t i = 0; i < digits; ++i)
        if (!std::islower(static_cast<unsigned char>(stem[i])))
            return false;
    kind = stem.substr(0, digits);
    number = stem.substr(digits);
    return true;
}

std::optional<double> scaled(const std::optional<fs::path> &file, double factor)
{
    if (!file)
        return std::nullopt;
    const auto v = readSigned(*file);
    if (!v)
        return std::nullopt;
    return static_cast<double>(*v) * factor;
}

} // namespace

HwmonSensors::HwmonSensors(const fs::path &deviceDir) : dir_(pickHwmon(deviceDir))
{
    if (dir_.empty())
        return;
    std::error_code ec;
    for (fs::directory_iterator it(dir_, ec), end; !ec && it != end; it.increment(ec)) {
        std::string kind, number;
        if (!splitLabelName(it->path().filename().string(), kind, number))
            continue;
        const auto label = readText(it->path());
        if (!label)
            continue;
        // The first sensor with a label wins should a driver repeat one.
        labelled_.emplace(std::make_pair(kind, *label), dir_ / (kind + number + "_input"));
    }
}

std::optional<fs::path> HwmonSensors::input(const std::string &kind, const std::string &label) const
{
    const auto it = labelled_.find({kind, label});
    if (it == labelled_.end())
        return std::nullopt;
    return it->second;
}

std::vector<fs::path> HwmonSensors::fans() const
{
    std::vector<fs::path> found;
    if (dir_.empty())
        return found;
    std::error_code ec;
    for (fs::directory_iterator it(dir_, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const std::string suffix = "_input";
        if (name.size() > 3 + suffix.size() && name.compare(0, 3, "fan") == 0
            && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0
            && std::all_of(name.begin() + 3, name.end() - static_cast<long>(suffix.size()),
                           [](unsigned char c) { return std::isdigit(c); }))
            found.push_back(it->path());
    }
    return found;
}

double monotonicSeconds()
{
    // Replays of captured counters set the clock too (CTL_CLOCK_FILE: a file
    // holding the seconds), so rates never depend on how busy the machine is.
    if (const char *file = std::getenv("CTL_CLOCK_FILE"); file && *file) {
        std::ifstream in(file);
        double seconds = 0.0;
        if (in >> seconds)
            return seconds;
    }
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::optional<double> stepBusyClock(const std::string &card, double now, const std::optional<double> &idleMs,
                                    const std::function<DrmClients()> &readClients)
{
    struct Clock {
        double busy = 0.0;
        double at = 0.0;
        bool known = false;
        std::optional<double> idleMs;
        DrmClients clients;
        bool toldEngines = false, toldIdle = false;
    };
    // Reads come in pairs a moment apart in each cycle; reading every
    // process's fdinfo twice for a few milliseconds of interval is not worth
    // its cost, so a read that soon after the last one counts nothing new.
    constexpr double kShortestStep = 0.25;
    static std::mutex lock;
    static std::map<std::string, Clock> clocks;

    std::lock_guard<std::mutex> g(lock);
    const bool isNew = clocks.find(card) == clocks.end();
    Clock &c = clocks[card];
    if (!isNew && now >= c.at && now - c.at < kShortestStep)
        return c.known ? std::optional<double>(c.busy) : std::nullopt;
    const DrmClients clients = readClients();
    if (!isNew && now > c.at) {
        const double dt = now - c.at;
        if (const auto share = busyFraction(c.clients, clients)) {
            c.busy += *share * dt;
            if (!c.toldEngines)
                std::fprintf(stderr, "libControlLib: utilisation of %s from the clients' engine counters (fdinfo)\n",
                             card.c_str());
            c.toldEngines = true;
        } else if (idleMs && c.idleMs) {
            // Awake but idle counts as busy here; it is the best there is
            // while no client of the card can be seen.
            c.busy += std::clamp(dt - (*idleMs - *c.idleMs) / 1000.0, 0.0, dt);
            if (!c.toldIdle)
                std::fprintf(stderr, "libControlLib: utilisation of %s from the GT's idle residency\n", card.c_str());
            c.toldIdle = true;
        }
    }
    c.at = now;
    c.idleMs = idleMs;
    c.clients = clients;
    c.known = idleMs || !clients.empty();
    return c.known ? std::optional<double>(c.busy) : std::nullopt;
}

Telemetry readTelemetry(const fs::path &deviceDir, const std::optional<PciAddress> &pdev, const fs::path &procRoot)
{
    Telemetry t;
    t.timestamp = monotonicSeconds();
    const HwmonSensors hw(deviceDir);

    // The xe driver lists a card energy counter on every board but fills it
    // only where the board reports it; elsewhere it stays at 0. A running card
    // has always used some energy, so 0 means the reading is not there.
    t.cardEnergyJ = scaled(hw.input("energy", "card"), 1e-6);
    if (t.cardEnergyJ && *t.cardEnergyJ <= 0.0)
        t.cardEnergyJ.reset();
    t.packageEnergyJ = scaled(hw.input("energy", "pkg"), 1e-6);
    t.packageTempC = scaled(hw.input("temp", "pkg"), 1e-3);
    t.vramTempC = scaled(hw.input("temp", "vram"), 1e-3);
    for (const fs::path &fan : hw.fans())
        if (const auto rpm = scaled(fan, 1.0); rpm && *rpm >= 0.0)
            t.fanRpm = std::max(t.fanRpm.value_or(0.0), *rpm);

    // A sleeping GT (RC6) runs at no clock at all: 0 MHz is a real reading.
    t.gpuClockMhz = scaled(deviceDir / "tile0/gt0/freq0/act_freq", 1.0);
    const auto idle = scaled(deviceDir / "tile0/gt0/gtidle/idle_residency_ms", 1.0);
    t.busySeconds = stepBusyClock(deviceDir.string(), t.timestamp, idle, [&] {
        return pdev ? readDrmClients(procRoot, *pdev) : DrmClients{};
    });
    return t;
}

} // namespace ctlsim
