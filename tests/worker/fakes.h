#pragma once
// Stand-ins for every operation the worker performs, recording each call,
// pause and reply into one ordered event list.

#include "worker/backends.h"
#include "worker/gpu_worker.h"

#include <QMutexLocker>
#include <QStringList>

#include <functional>
#include <stdexcept>
#include <utility>

// Written by the worker thread, read by the test thread.
struct EventLog {
    mutable QMutex mutex;
    QStringList events;
    void add(const QString &e) { QMutexLocker l(&mutex); events << e; }
    QStringList all() const { QMutexLocker l(&mutex); return events; }
    // The events after the last occurrence of marker.
    QStringList after(const QString &marker) const { const QStringList e = all(); return e.mid(e.lastIndexOf(marker) + 1); }
};

class FakeCard : public worker::CardBackend {
public:
    explicit FakeCard(EventLog &log) : log(log) {}
    EventLog &log;
    int argbResult = 9, gpuMcuResult = 5, syncResult = 5, fanResult = 3;
    bool kernelDriver = false;
    std::function<void()> onSwitch; // runs inside the next fan switch, once

    int argbControl(const QString &e, const QString &r, const QString &g, const QString &b, const QString &s) override
    {
        return log.add(QStringLiteral("argb %1 %2 %3 %4 %5").arg(e, r, g, b, s)), argbResult;
    }
    int switchGpuMcuControl(int m) override
    {
        log.add(QStringLiteral("gpumcu %1").arg(m));
        if (onSwitch)
            std::exchange(onSwitch, nullptr)();
        return gpuMcuResult;
    }
    int fanControl(int speed) override // throws like the card layer's byte conversion
    {
        log.add(QStringLiteral("fan %1").arg(speed));
        return speed < 0 || speed > 255 ? throw std::out_of_range("ERROR: IntToUint8 input: 0 to 255") : fanResult;
    }
    int switchSyncMotherboardControl(int m) override { log.add(QStringLiteral("sync %1").arg(m)); return syncResult; }
    QByteArray readSyncCable() override { log.add("readSyncCable"); return QByteArray("\x01\x00", 2); }
    int readFanPwm() override { log.add("readFanPwm"); return 1234; }
    QByteArray readArgbValue(int m) override { log.add(QStringLiteral("readArgbValue %1").arg(m)); return {}; }
    QByteArray readArgbEffectSpeed() override { log.add("readEffectSpeed"); return QByteArray("\x05\xFE", 2); }
    QByteArray readFwVersion() override { log.add("readFw"); return QByteArray("\x01\x00\x03\x19\x04\x0B", 6); }
    int lastCommandStatus() const override { return 0; }
    int commandSuccessCount() const override { return 0; }
    bool heldByKernelDriver() const override { return kernelDriver; }
};

class FakeGpu : public worker::GpuBackend {
public:
    explicit FakeGpu(EventLog &log) : log(log) {}
    EventLog &log;
    int cards = 1;
    int getGpuInformation(QVariantMap &, QVariantMap &reply) override
    {
        log.add("gpu");
        reply.insert(QStringLiteral("GPU_count"), cards);
        return cards;
    }
    worker::TelemetryRates rates() const override { return {150.0, 90.0, 0.25}; }
    void getAdapterDriverVersion(ctl_device_adapter_properties_t *, QVariantMap &) override {}
    std::array<double, 4> overclockPowerTelemetry(ctl_device_adapter_handle_t) override { return {}; }
    void ctlPciTest(ctl_device_adapter_handle_t, QVariantMap &) override {}
};

struct FakeSystem : worker::SystemBackend {
    QString cpuInfo() override { return QStringLiteral("Test CPU"); }
    void memoryInfo(QVariantMap &) override {}
    void motherboardInfo(QVariantMap &) override {}
};

// No update server: the manifest is empty. Driver installs are recorded.
class FakeMaintenance : public worker::MaintenanceBackend {
public:
    explicit FakeMaintenance(EventLog &log) : log(log) {}
    EventLog &log;
    bool driverOk = true;
    QMap<QString, QVariantList> checkNewVersion() override { return {}; }
    bool download(const std::wstring &, const std::wstring &, const worker::ProgressFn &) override { return false; }
    QString installerSavePath(const QString &) override { return {}; }
    void runInstaller(const QString &) override {}
    void setAutoStart(bool) override {}
    bool autoStartEnabled() override { return false; }
    bool installDriver(const QString &inf) override { log.add("driver " + inf); return driverOk; }
};

// Records each pause instead of sleeping, on a clock of its own. The test's
// script runs at every wait, where the scene's requests land; a wait that a
// request woke ends without the clock moving.
class ScriptedPacer : public worker::Pacer {
public:
    explicit ScriptedPacer(EventLog &log) : log(log) {}
    EventLog &log;
    std::function<void(int)> onWait;
    qint64 now = 0;
    bool woken = false;
    void sleepMs(int ms) override { log.add(QStringLiteral("sleep %1").arg(ms)); now += ms; }
    bool waitMs(int ms) override
    {
        log.add(QStringLiteral("wait %1").arg(ms));
        if (!woken && onWait)
            onWait(ms);
        return std::exchange(woken, false) || (now += std::max(ms, 0), false);
    }
    void wake() override { woken = true; }
    qint64 nowMs() override { return now; }
};

// Runs the loop on the calling thread, so a test is deterministic.
struct TestableWorker : GPU_WORKER {
    using GPU_WORKER::GPU_WORKER;
    void runHere() { run(); }
};

inline worker::Backends fakeBackends(EventLog &log, std::unique_ptr<worker::Pacer> pacer)
{
    return {std::make_unique<FakeCard>(log), std::make_unique<FakeGpu>(log),
            std::make_unique<FakeSystem>(), std::make_unique<FakeMaintenance>(log), std::move(pacer), nullptr};
}
