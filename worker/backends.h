#pragma once
// The seams between the worker's loop and the subsystems that do the work.
// The real build composes the card link, the control library, the system
// probes and the maintenance code; tests substitute any of them.

#include "maintenance/http_stream.h"
#include "gpu/ctl_fwd.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace worker {

class CardBackend {
public:
    virtual ~CardBackend() = default;
    // Each returns the number of command texts that succeeded, or -2 when the
    // peripheral driver could not be opened.
    virtual int argbControl(const QString &effectMode, const QString &r, const QString &g,
                            const QString &b, const QString &speed) = 0;
    virtual int switchGpuMcuControl(int controlMode) = 0;
    // Throws std::out_of_range for a duty outside 0..255.
    virtual int fanControl(int speed) = 0;
    virtual int switchSyncMotherboardControl(int controlMode) = 0;
    virtual QByteArray readSyncCable() = 0;
    virtual int readFanPwm() = 0;
    virtual QByteArray readArgbValue(int readMode) = 0;
    virtual QByteArray readArgbEffectSpeed() = 0;
    virtual QByteArray readFwVersion() = 0;
    virtual int lastCommandStatus() const = 0;
    virtual int commandSuccessCount() const = 0;
    // The last open of the card found a kernel driver bound at its address.
    virtual bool heldByKernelDriver() const { return false; }
};

struct TelemetryRates {
    double boardPower = 0.0;
    double chipPower = 0.0;
    double utilisation = 0.0; // fraction 0..1
};

class GpuBackend {
public:
    virtual ~GpuBackend() = default;
    // Refreshes the GPU keys of facts, sets "GPU_count" in reply, updates the
    // telemetry rates. Returns the number of recognised cards.
    virtual int getGpuInformation(QVariantMap &facts, QVariantMap &reply) = 0;
    virtual TelemetryRates rates() const = 0;
    virtual void getAdapterDriverVersion(ctl_device_adapter_properties_t *properties,
                                         QVariantMap &facts) = 0;
    virtual std::array<double, 4> overclockPowerTelemetry(ctl_device_adapter_handle_t adapter) = 0;
    virtual void ctlPciTest(ctl_device_adapter_handle_t adapter, QVariantMap &facts) = 0;
    // The hotter of the recognised card's GPU and VRAM temperatures, read on
    // its own and cheaply, with the lower of their own critical limits when
    // asked for; nothing when it cannot be had.
    struct Temperature {
        double hottestC = 0.0;
        std::optional<double> criticalC;
    };
    virtual std::optional<Temperature> hottestTemperature(bool /*withLimits*/) { return std::nullopt; }
};

class SystemBackend {
public:
    virtual ~SystemBackend() = default;
    virtual QString cpuInfo() = 0;
    virtual void memoryInfo(QVariantMap &facts) = 0;
    virtual void motherboardInfo(QVariantMap &facts) = 0;
};

using ProgressFn = std::function<void(int percent)>;

class MaintenanceBackend {
public:
    virtual ~MaintenanceBackend() = default;
    // Category -> entries (maps with "name", "version", "downloadLink");
    // empty when the manifest cannot be had.
    virtual QMap<QString, QVariantList> checkNewVersion() = 0;
    virtual bool download(const std::wstring &url, const std::wstring &savePath,
                          const ProgressFn &progress) = 0;
    // Where the installer of this version is saved; empty when the version
    // text cannot safely become part of a file name.
    virtual QString installerSavePath(const QString &version) = 0;
    // Starts the downloaded installer and waits for it to end.
    virtual void runInstaller(const QString &path) = 0;
    virtual void setAutoStart(bool enable) = 0;
    // Whether the desktop starts the program at log-in now.
    virtual bool autoStartEnabled() = 0;
    virtual bool installDriver(const QString &infPath) = 0;
    // As download, checking the file against the manifest's sha256 when one
    // is given.
    virtual bool downloadChecked(const std::wstring &url, const std::wstring &savePath,
                                 const QString &sha256, const ProgressFn &progress)
    {
        return sha256.isEmpty() && download(url, savePath, progress);
    }
    // Why the last download or driver set-up failed, in words for the user.
    virtual QString lastFailure() const { return {}; }
};

// The worker thread's pauses. A fixed pause belongs to the card's own timing
// and always runs its full length. A wait ends early when wake() is called,
// so that a new request or the program's end is served at once; a wake that
// comes while the thread is busy ends its next wait at once, so none is lost.
class Pacer {
public:
    static constexpr int kForever = -1;
    virtual ~Pacer() = default;
    virtual void sleepMs(int ms) = 0;
    // Waits up to ms milliseconds (kForever: until woken). True when woken.
    virtual bool waitMs(int ms) = 0;
    // Safe from any thread.
    virtual void wake() = 0;
    // Monotonic milliseconds, for pauses that span several waits.
    virtual qint64 nowMs() = 0;
};

// Gives the fan back to the GPU when the program dies while the fan curve has
// it on the card's microcontroller: a crash or a kill leaves no chance to do
// it from inside.
class FanGuard {
public:
    virtual ~FanGuard() = default;
    // Armed: the fan is with the MCU and must be given back should the
    // program end now. Called from the worker thread only.
    virtual void setArmed(bool armed) = 0;
};

struct Backends {
    std::unique_ptr<CardBackend> card;
    std::unique_ptr<GpuBackend> gpu;
    std::unique_ptr<SystemBackend> system;
    std::unique_ptr<MaintenanceBackend> maintenance;
    std::unique_ptr<Pacer> pacer;
    std::unique_ptr<FanGuard> fanGuard; // may be absent
};

// Each is defined in its own backend_*.cpp beside the worker.
std::unique_ptr<CardBackend> makeCardBackend(const std::string &devicePath);
std::unique_ptr<GpuBackend> makeGpuBackend();
std::unique_ptr<SystemBackend> makeSystemBackend();
std::unique_ptr<MaintenanceBackend> makeMaintenanceBackend();
// The same against another manifest, with other bounds and download folder.
std::unique_ptr<MaintenanceBackend> makeMaintenanceBackend(const QString &manifestUrl,
                                                           const maintenance::TransferLimits &limits,
                                                           const QString &downloadDir);
std::unique_ptr<Pacer> makeRealPacer();
// A guardian process started on first arming, from this executable.
std::unique_ptr<FanGuard> makeFanGuardian();
// The guardian's side, run by the executable when started with
// kFanGuardianArgument and the inherited socket's descriptor: returns when the
// program has ended, after giving the fan back if it was armed then.
int runFanGuardian(int socketFd, const std::string &devicePath);
constexpr char kFanGuardianArgument[] = "--fan-guardian";

} // namespace worker
