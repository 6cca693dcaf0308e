#pragma once
// Stand-ins for every operation the worker performs, recording each call,
// sleep and reply into one ordered event list.

#include "worker/backends.h"
#include "worker/gpu_worker.h"

#include <QStringList>

#include <deque>
#include <functional>
#include <stdexcept>

struct EventLog {
    QStringList events;
    void add(const QString &e) { events << e; }
    QStringList matching(const QString &prefix) const
    {
        QStringList out;
        for (const QString &e : events)
            if (e.startsWith(prefix))
                out << e;
        return out;
    }
};

class FakeCard : public worker::CardBackend {
public:
    explicit FakeCard(EventLog &log) : log(log) {}
    EventLog &log;
    int argbResult = 9;
    int gpuMcuResult = 5;
    int syncResult = 5;
    int fanResult = 3;
    QByteArray effectSpeed = QByteArray("\x05\xFE", 2);
    QByteArray syncCable = QByteArray("\x01\x00", 2);
    QByteArray argbValue = QByteArray("\x00\x11\x22\x33", 4);
    int fanPwm = 1234;
    std::function<void()> onSwitch; // runs inside every switch operation

    int argbControl(const QString &e, const QString &r, const QString &g, const QString &b,
                    const QString &s) override
    {
        log.add(QStringLiteral("argb %1 %2 %3 %4 %5").arg(e, r, g, b, s));
        return argbResult;
    }
    int switchGpuMcuControl(int m) override
    {
        log.add(QStringLiteral("gpumcu %1").arg(m));
        if (onSwitch)
            onSwitch();
        return gpuMcuResult;
    }
    int fanControl(int speed) override
    {
        log.add(QStringLiteral("fan %1").arg(speed));
        if (speed < 0 || speed > 255)
            throw std::out_of_range("ERROR: IntToUint8 input: 0 to 255");
        return fanResult;
    }
    int switchSyncMotherboardControl(int m) override
    {
        log.add(QStringLiteral("sync %1").arg(m));
        return syncResult;
    }
    QByteArray readSyncCable() override { log.add("readSyncCable"); return syncCable; }
    int readFanPwm() override { log.add("readFanPwm"); return fanPwm; }
    QByteArray readArgbValue(int mode) override
    {
        log.add(QStringLiteral("readArgbValue %1").arg(mode));
        return argbValue;
    }
    QByteArray readArgbEffectSpeed() override { log.add("readEffectSpeed"); return effectSpeed; }
    QByteArray readFwVersion() override { log.add("readFw"); return {}; }
    int lastCommandStatus() const override { return 0; }
    int commandSuccessCount() const override { return 0; }
};

class FakeGpu : public worker::GpuBackend {
public:
    explicit FakeGpu(EventLog &log) : log(log) {}
    EventLog &log;
    int cards = 1;
    int refreshes = 0;
    int getGpuInformation(QVariantMap &facts, QVariantMap &reply) override
    {
        log.add("gpu");
        ++refreshes;
        facts.insert(QStringLiteral("CheckCTL"), 1);
        facts.insert(QStringLiteral("GpuCurrentFrequency"), 1000.0 + refreshes);
        reply.insert(QStringLiteral("GPU_count"), cards);
        return cards;
    }
    worker::TelemetryRates rates() const override { return {150.0, 90.0, 0.25}; }
    void getAdapterDriverVersion(ctl_device_adapter_properties_t *, QVariantMap &) override {}
    std::array<double, 4> overclockPowerTelemetry(ctl_device_adapter_handle_t) override
    {
        return {};
    }
    void ctlPciTest(ctl_device_adapter_handle_t, QVariantMap &) override {}
};

class FakeSystem : public worker::SystemBackend {
public:
    explicit FakeSystem(EventLog &log) : log(log) {}
    EventLog &log;
    QString cpuInfo() override { log.add("cpu"); return QStringLiteral("Test CPU"); }
    void memoryInfo(QVariantMap &facts) override
    {
        log.add("memory");
        facts.insert(QStringLiteral("TotalSysRAM"), QStringLiteral("16 GB"));
    }
    void motherboardInfo(QVariantMap &facts) override
    {
        log.add("board");
        facts.insert(QStringLiteral("MotherboardModel"), QStringLiteral("Board"));
    }
};

class FakeMaintenance : public worker::MaintenanceBackend {
public:
    explicit FakeMaintenance(EventLog &log) : log(log) {}
    EventLog &log;
    QMap<QString, QVariantList> manifest;
    bool downloadOk = true;
    QList<int> progressSteps{50, 100};
    bool driverOk = true;

    QMap<QString, QVariantList> checkNewVersion() override
    {
        log.add("manifest");
        return manifest;
    }
    bool download(const std::wstring &url, const std::wstring &path,
                  const worker::ProgressFn &progress) override
    {
        log.add(QStringLiteral("download %1 -> %2")
                    .arg(QString::fromStdWString(url), QString::fromStdWString(path)));
        for (int p : progressSteps)
            progress(p);
        return downloadOk;
    }
    QString installerSavePath(const QString &version) override
    {
        if (version.contains(QLatin1Char('/')) || version.isEmpty())
            return {};
        return QStringLiteral("/downloads/TARVELL_VORN_") + version;
    }
    void runInstaller(const QString &path) override { log.add("install " + path); }
    void setAutoStart(bool enable) override { log.add(QStringLiteral("autostart %1").arg(enable)); }
    bool installDriver(const QString &inf) override
    {
        log.add("driver " + inf);
        return driverOk;
    }
};

// Records each pause instead of sleeping; the test script runs at every
// end-of-pass pause, which is where new requests are delivered.
class ScriptedPacer : public worker::Pacer {
public:
    explicit ScriptedPacer(EventLog &log) : log(log) {}
    EventLog &log;
    std::function<void(int)> onSleep;
    void sleepMs(int ms) override
    {
        log.add(QStringLiteral("sleep %1").arg(ms));
        if (onSleep)
            onSleep(ms);
    }
};

// Runs the loop on the calling thread, so a test is deterministic.
class TestableWorker : public GPU_WORKER {
public:
    using GPU_WORKER::GPU_WORKER;
    void runHere() { run(); }
};
