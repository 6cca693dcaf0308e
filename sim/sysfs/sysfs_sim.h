#pragma once
// The sysfs half of the simulated card.
//
// SysfsSim publishes, under a root folder DIR, the files the Linux xe driver
// exposes for one Arc B580 with the known card's PCI ids, laid out as /sys is:
//
//   DIR/devices/pci0000:00/<root port>/<card switch up>/<card switch down>/<GPU>
//   DIR/class/drm/card0 -> ../../devices/.../<GPU>/drm/card0 (device -> the GPU)
//   DIR/bus/pci/drivers/xe (the GPU's driver link points here)
//   DIR/class/dmi/id/board_vendor, board_name
//
// so that CTL_SYSFS_ROOT=DIR points the stand-in control library at it. The
// GPU folder holds the PCI ids, class, link and BAR files, the hwmon sensors
// (card and package energy, package and VRAM temperature, fan speeds, each
// with the label the driver gives it), the GT's actual and requested clock,
// its idle residency and the runtime-PM active time.
//
// tick() (at least every 250 ms) advances the card by the time elapsed since
// the last tick: a load that wanders between idle and full, energy counters
// rising with the power it draws, temperatures and clock following the load,
// and the fan either at the duty the MCU was given or on the GPU's own curve.
// Every file is written to a temporary name and renamed over the old one, so
// a reader sees either the old number or the new one, never a torn one.
//
// All members may be called from any thread; the fan setters are meant for the
// emulated MCU, tick() for a timer.
//
// Put DIR on a tmpfs (the user's runtime directory is one): a dozen files are
// replaced every tick, and ext4 flushes the data of every file renamed over
// another, which makes each tick cost tens of milliseconds there.

#include <QString>

#include <cstdint>
#include <memory>

namespace sim {

class SysfsSim {
public:
    // Which hwmon files the tree holds, after the xe driver of a kernel
    // release: temp2 (pkg) and temp3 (vram) from 6.15, fan1..fan3 from 6.16,
    // further labelled temperatures and power1_cap from 6.17. The card and
    // package energy counters are there on every release from 6.12. The fan's
    // tach reading goes to fan<fanChannel>_input; the other channels read 0,
    // as unwired ones do.
    struct Layout {
        int kernel = 617; // major * 100 + minor
        int fanChannel = 1; // 1..3
    };
    // "6.14" (or "6.14.3-amd64") -> 614; false for anything else.
    static bool parseKernel(const QString &release, int *kernel);

    // What the card is doing right now, in the units of the files.
    struct State {
        double load = 0.0;             // busy fraction of the GT, 0..1
        double cardPowerW = 0.0;
        double packagePowerW = 0.0;
        double cardEnergyJ = 0.0;
        double packageEnergyJ = 0.0;
        double gpuTempC = 0.0;
        double vramTempC = 0.0;
        int actFreqMhz = 0;            // 0 while the GT sleeps
        int curFreqMhz = 0;
        double fanRpm = 0.0;
        double fanDutyPercent = 0.0;   // the duty the fan is being driven at
        bool fanDrivenByMcu = false;
        double activeMs = 0.0;         // runtime-PM active time
        double idleResidencyMs = 0.0;  // GT idle (RC6) residency
    };

    // seed makes the wandering reproducible.
    explicit SysfsSim(const QString &root, std::uint32_t seed = 0x5eed1234u);
    ~SysfsSim();
    SysfsSim(const SysfsSim &) = delete;
    SysfsSim &operator=(const SysfsSim &) = delete;

    // Before publish(): the files to leave out or add.
    void setLayout(const Layout &layout);

    // Creates the whole tree (folders, links, static files) and writes the
    // first values. False when something cannot be created.
    bool publish();

    // Advances by the monotonic time since the previous publish() or tick()
    // and rewrites the moving files. False when a file cannot be written.
    bool tick();

    // The same with a given time step, for tests and replays.
    bool advance(double seconds);

    // The MCU drives the fan at this duty (clamped to 0..100 %): about
    // 1000 rpm at 30 % up to about 3000 rpm at 100 %.
    void setFanDrivenByMcu(int dutyPercent);
    // The GPU's own fan curve drives the fan again.
    void setFanDrivenByGpu();

    // Holds the load at a fraction (clamped to 0..1) instead of letting it
    // wander; releaseLoad() lets it wander again from there.
    void holdLoad(double fraction);
    // While this file holds a number, the GPU temperature is that many degC
    // and the VRAM's 2 degC more; otherwise they follow the load. Read at
    // every tick, when the files are written. Empty: no such file.
    void setTemperatureFile(const QString &path);
    void releaseLoad();

    State state() const;

    QString root() const;
    // The GPU's PCI function folder (the real folder, not the class link).
    QString gpuDir() const;
    QString hwmonDir() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace sim
