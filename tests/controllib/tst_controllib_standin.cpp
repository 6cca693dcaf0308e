// libControlLib.so, the stand-in control library: its parsers, its engine
// shares and its checks of handles and records; and the simulated card's
// sysfs tree it reads. The captures and the trees of slots, links and BARs
// are replayed in tst_replay.
#include "standin.h"

#include "sim/controllib/sysfs_fdinfo.h"
#include "sim/controllib/sysfs_kernel.h"
#include "sim/controllib/sysfs_pci.h"
#include "sim/sysfs/sysfs_sim.h"

#include <QTemporaryDir>

#include <atomic>
#include <cmath>
#include <thread>

#include <cstring>

using namespace testing;

namespace {

constexpr quint64 GiB = 1ull << 30;

} // namespace

class TestControlLibStandIn : public QObject {
    Q_OBJECT

    StandIn lib;
    QTemporaryDir noProcesses;

    ctl_power_telemetry_t read(const QString &rootDir)
    {
        SysfsRoot root(rootDir);
        Session s(lib);
        ctl_power_telemetry_t t{};
        if (s.has(1))
            lib.query("ctlPowerTelemetryGet", s[0], t, 1);
        return t;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(lib.loaded(), dlerror());
        QVERIFY2(QFileInfo(capture("arc-a380-xe")).isDir(), "the sysfs captures are missing; set TARVELL_SYSFS_CAPTURES");
        qputenv("CTL_PROC_ROOT", QFile::encodeName(noProcesses.path())); // never the real /proc
    }

    void rebarCapabilityChain()
    {
        // A chain whose next pointer leads back to itself must end.
        std::string config(4096, '\0');
        config[0x100] = 0x0e;
        config[0x102] = 0x01;
        config[0x103] = 0x10;
        QVERIFY(!ctlsim::rebarFromConfig(config, 2).listsBar);
        QVERIFY(!ctlsim::rebarFromConfig(std::string(64, '\0'), 2).currentSize); // no extended space

        const auto a380 = readFile(capture("arc-a380-xe") + "/class/drm/card0/device/config").toStdString();
        QVERIFY(ctlsim::rebarFromConfig(a380, 2).listsBar);
        QCOMPARE(ctlsim::rebarFromConfig(a380, 2).currentSize.value_or(0), quint64(8) * GiB);
        QVERIFY(!ctlsim::rebarFromConfig(a380, 0).listsBar);
    }

    void driverVersionFields()
    {
        auto v = [](quint64 a, quint64 b, quint64 c, quint64 d) { return a << 48 | b << 32 | c << 16 | d; };
        for (const auto &[release, version] : {std::pair{"6.1.0-28-amd64", v(6, 1, 0, 28)},
                                               {"6.17.0+deb13-amd64", v(6, 17, 0, 0)},
                                               {"6.123456.1", v(6, 65535, 1, 0)}, {"abc", v(0, 0, 0, 0)}})
            QCOMPARE(quint64(ctlsim::driverVersionFromRelease(release)), version);
    }

    // Busy share between two fdinfo readings, client by client: a client
    // that left or appeared has no interval, a count that went back adds
    // nothing, an engine class of two counts each at half.
    void engineShare()
    {
        using C = ctlsim::DrmClients;
        const C before{{1, {{"rcs", {100, 1000, 1}}, {"vcs", {0, 1000, 2}}}}, {2, {{"rcs", {900000, 1000, 1}}}}};
        QCOMPARE(ctlsim::busyFraction(before, C{{1, {{"rcs", {350, 2000, 1}}}}}).value_or(-1), 0.25);
        QCOMPARE(ctlsim::busyFraction(before, C{{1, {{"vcs", {1000, 2000, 2}}}}, {3, {{"rcs", {1000, 1, 1}}}}})
                     .value_or(-1), 0.5);
        QCOMPARE(ctlsim::busyFraction(before, C{{1, {{"rcs", {50, 2000, 1}}}}}).value_or(-1), 0.0);
        QCOMPARE(ctlsim::busyFraction(before, C{{1, {{"rcs", {5000, 2000, 1}}}}}).value_or(-1), 1.0);
        QVERIFY(!ctlsim::busyFraction(before, C{{3, {{"rcs", {10, 2000, 1}}}}}));
    }

    void handlesAndRecordsAreChecked()
    {
        QTemporaryDir tmp;
        const QString gpu = tmp.path() + "/class/drm/card0/device";
        for (const auto &[file, text] : {std::pair{"vendor", "0x8086"}, {"device", "0xe20b"}, {"class", "0x030000"},
                                         {"uevent", "DRIVER=xe"}})
            QVERIFY(writeFile(gpu + '/' + file, QByteArray(text) + '\n'));
        SysfsRoot root(tmp.path());

        Session session(lib);
        QVERIFY(session.has(1));
        const auto adapters = session.adapters;

        // The card goes away between the scan and the read.
        QVERIFY(QDir().rename(gpu, tmp.path() + "/gone"));
        ctl_power_telemetry_t t;
        QCOMPARE(lib.query("ctlPowerTelemetryGet", adapters[0], t, 1), CTL_RESULT_ERROR_DEVICE_LOST);
        QVERIFY(QDir().rename(tmp.path() + "/gone", gpu));

        ctl_device_adapter_properties_t p{};
        char shortId[4];
        p.Size = sizeof p;
        p.pDeviceID = shortId;
        p.device_id_size = sizeof shortId;
        QCOMPARE(lib.fn<pfn_ctlGetDeviceProperties>("ctlGetDeviceProperties")(adapters[0], &p),
                 CTL_RESULT_ERROR_INVALID_SIZE);

        // Once closed, the handles are refused, not followed.
        QCOMPARE(lib.close(session.api), CTL_RESULT_SUCCESS);
        QCOMPARE(lib.close(session.api), CTL_RESULT_ERROR_INVALID_ARGUMENT);
        QCOMPARE(lib.query("ctlPowerTelemetryGet", adapters[0], t, 1), CTL_RESULT_ERROR_INVALID_ARGUMENT);

        // Nothing in a bare card's tree answers voltage, VRAM clock or any
        // sensor, and no stale bytes are left behind in those items.
        Session bare(lib);
        std::memset(static_cast<void *>(&t), 0xA5, sizeof t);
        t.Size = sizeof t;
        QCOMPARE(lib.fn<pfn_ctlPowerTelemetryGet>("ctlPowerTelemetryGet")(bare[0], &t), CTL_RESULT_SUCCESS);
        QVERIFY(t.timeStamp.bSupported && !t.psu[0].bSupported);
        for (const ctl_oc_telemetry_item_t *item :
             {&t.gpuVoltage, &t.vramCurrentClockFrequency, &t.gpuCurrentClockFrequency, &t.gpuCurrentTemperature,
              &t.vramCurrentTemperature, &t.totalCardEnergyCounter, &t.gpuEnergyCounter, &t.globalActivityCounter,
              &t.gpuPowerPercent, &t.fanSpeed[0]})
            QVERIFY(!item->bSupported && item->value.datadouble == 0.0);
    }


    // What the stand-in reads is what the card is doing, in the files a
    // kernel of that release has: temperatures from 6.15, fans from 6.16,
    // the tach reading in the channel the board wires it to.
    void layoutFollowsTheKernel()
    {
        struct Row {
            const char *kernel;
            int fanChannel;
            bool temps, fan;
        };
        for (const Row &row : {Row{"6.12", 1, false, false}, Row{"6.15.2-amd64", 1, true, false},
                               Row{"6.16", 2, true, true}, Row{"6.17.0+deb13-amd64", 3, true, true}}) {
            QTemporaryDir tmp;
            sim::SysfsSim card(tmp.path(), 7);
            sim::SysfsSim::Layout layout{0, row.fanChannel};
            QVERIFY(sim::SysfsSim::parseKernel(row.kernel, &layout.kernel));
            card.setLayout(layout);
            card.setFanDrivenByMcu(50);
            QVERIFY(card.publish() && card.advance(10.0));
            const sim::SysfsSim::State s = card.state();
            const auto t = read(tmp.path());
            QCOMPARE(bool(t.gpuCurrentTemperature.bSupported && t.vramCurrentTemperature.bSupported), row.temps);
            QCOMPARE(t.gpuCurrentTemperature.value.datadouble, row.temps ? std::round(s.gpuTempC * 1000) / 1000 : 0);
            QCOMPARE(bool(t.fanSpeed[0].bSupported), row.fan);
            QCOMPARE(t.fanSpeed[0].value.datadouble, row.fan ? double(std::llround(s.fanRpm)) : 0.0);
            QVERIFY(s.fanRpm > 1450.0 && s.fanRpm < 1750.0); // 50 % duty
            QVERIFY(t.totalCardEnergyCounter.bSupported && t.gpuEnergyCounter.bSupported);
        }
    }

    // A reader racing the writer always finds a whole number that never goes
    // back, and no temporary files are left behind.
    void writesAreAtomic()
    {
        QTemporaryDir tmp;
        sim::SysfsSim card(tmp.path());
        QVERIFY(card.publish());
        const QString energy = card.hwmonDir() + "/energy1_input";
        std::atomic<bool> stop{false};
        std::atomic<int> torn{0}, backwards{0}, reads{0};
        std::thread reader([&] {
            qint64 last = 0;
            while (!stop.load()) {
                const QByteArray text = readFile(energy);
                bool ok = false;
                const qint64 v = text.trimmed().toLongLong(&ok);
                if (!ok || !text.endsWith('\n'))
                    ++torn;
                else if (v < last)
                    ++backwards;
                last = std::max(last, v);
                ++reads;
            }
        });
        for (int i = 0; i < 150; ++i)
            QVERIFY(card.advance(0.01));
        for (const int seen = reads.load(); reads.load() < seen + 2;)
            std::this_thread::yield();
        stop = true;
        reader.join();
        QCOMPARE(torn.load() + backwards.load(), 0);
        for (const QString &name : QDir(card.hwmonDir()).entryList(QDir::Files | QDir::Hidden))
            QVERIFY2(!name.startsWith('.'), qPrintable(name));
    }
};

QTEST_GUILESS_MAIN(TestControlLibStandIn)
#include "tst_controllib_standin.moc"
