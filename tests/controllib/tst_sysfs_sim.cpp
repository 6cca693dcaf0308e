// The simulated card's sysfs tree: it moves, it is written so readers never
// see half a number, and the stand-in control library reads it.
#include "standin.h"

#include "gpu/known_card.h"
#include "sim/sysfs/sysfs_sim.h"

#include <QTemporaryDir>

#include <atomic>
#include <thread>

using namespace testing;

namespace {

// A tree rewritten many times a second belongs on tmpfs, as the simulated
// card's does in use: on ext4 every rename over a file flushes its data.
struct ShmDir : QTemporaryDir {
    ShmDir()
        : QTemporaryDir(QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                            ? QStringLiteral("/dev/shm/tst_sysfs_sim-XXXXXX")
                            : QDir::tempPath() + QStringLiteral("/tst_sysfs_sim-XXXXXX"))
    {
    }
};

} // namespace

class TestSysfsSim : public QObject {
    Q_OBJECT

    StandIn lib;

    // Steps the card through seconds of simulated time, writing the files
    // once a simulated second.
    static void run(sim::SysfsSim &card, double seconds)
    {
        for (double t = 0; t < seconds; t += 1.0)
            QVERIFY(card.advance(1.0));
    }

    ctl_power_telemetry_t read(const QString &rootDir)
    {
        SysfsRoot root(rootDir);
        Session s(lib);
        ctl_power_telemetry_t t{};
        if (s.has(1))
            lib.telemetry(s[0], t);
        return t;
    }

private slots:
    void initTestCase() { QVERIFY2(lib.loaded(), dlerror()); }

    void publishesTheKnownCard()
    {
        ShmDir tmp;
        sim::SysfsSim card(tmp.path());
        QVERIFY(card.publish());
        SysfsRoot root(tmp.path());
        Session session(lib);
        QVERIFY(session.has(1));
        ctl_device_adapter_properties_t p;
        QCOMPARE(lib.properties(session[0], p), CTL_RESULT_SUCCESS);
        QCOMPARE(p.pci_vendor_id, known_card::kPciVendorId);
        QCOMPARE(p.pci_device_id, known_card::kPciDeviceId);
        QCOMPARE(uint32_t(p.pci_subsys_id), known_card::kPciSubsystemId);
        QCOMPARE(uint32_t(p.pci_subsys_vendor_id), known_card::kPciSubsystemVendorId);

        // A B580 is a PCIe 4.0 x8 card; the slot link is found above the
        // card's own switch, not the 2.5 GT/s x1 link of the GPU.
        ctl_pci_properties_t pci;
        QCOMPARE(lib.pciProperties(session[0], pci), CTL_RESULT_SUCCESS);
        QCOMPARE(pci.maxSpeed.gen, 4);
        QCOMPARE(pci.maxSpeed.width, 8);
        QVERIFY(pci.resizable_bar_enabled);

        // The board strings the system probes read.
        QCOMPARE(readFile(tmp.path() + "/class/dmi/id/board_vendor").trimmed(),
                 QByteArray("Micro-Star International Co., Ltd."));
        QVERIFY(!readFile(tmp.path() + "/class/dmi/id/board_name").trimmed().isEmpty());
    }

    // Energy rises with the power drawn, and what the stand-in reads is what
    // the card is doing.
    void treeMovesAndIsRead()
    {
        ShmDir tmp;
        sim::SysfsSim card(tmp.path(), 7);
        QVERIFY(card.publish());
        const auto first = read(tmp.path());
        QVERIFY(first.totalCardEnergyCounter.bSupported);
        QVERIFY(first.gpuEnergyCounter.bSupported);

        card.holdLoad(0.9);
        run(card, 10.0);
        const sim::SysfsSim::State s = card.state();
        const auto second = read(tmp.path());
        const double cardJ = second.totalCardEnergyCounter.value.datadouble - first.totalCardEnergyCounter.value.datadouble;
        const double pkgJ = second.gpuEnergyCounter.value.datadouble - first.gpuEnergyCounter.value.datadouble;
        // About 10 s at 150..200 W on the card, a little less in the package.
        QVERIFY2(cardJ > 1500.0 && cardJ < 2100.0, qPrintable(QString::number(cardJ)));
        QVERIFY2(pkgJ > 1300.0 && pkgJ < cardJ, qPrintable(QString::number(pkgJ)));
        QCOMPARE(second.totalCardEnergyCounter.value.datadouble, std::round(s.cardEnergyJ * 1e6) / 1e6);
        QCOMPARE(second.gpuCurrentTemperature.value.datadouble, std::round(s.gpuTempC * 1000) / 1000);
        QCOMPARE(second.vramCurrentTemperature.value.datadouble, std::round(s.vramTempC * 1000) / 1000);
        QCOMPARE(second.gpuCurrentClockFrequency.value.datadouble, double(s.actFreqMhz));
        QVERIFY(second.gpuCurrentTemperature.value.datadouble > first.gpuCurrentTemperature.value.datadouble);
        QVERIFY(s.actFreqMhz >= 2000 && s.actFreqMhz <= 2850);
        // Busy time is monotonic time less idle residency; the simulated idle
        // counter never runs ahead of the clock.
        QVERIFY(second.globalActivityCounter.bSupported);
        QVERIFY(second.globalActivityCounter.value.datadouble > 0.0);
        QVERIFY(!second.gpuVoltage.bSupported);
    }

    void idleResidencyFollowsLoad()
    {
        ShmDir tmp;
        sim::SysfsSim card(tmp.path());
        QVERIFY(card.publish());
        card.holdLoad(0.25);
        const double before = card.state().idleResidencyMs;
        run(card, 8.0);
        const double after = card.state().idleResidencyMs;
        QCOMPARE(std::round(after - before), 6000.0); // 8 s, idle three quarters of it
        QCOMPARE(readFile(card.gpuDir() + "/tile0/gt0/gtidle/idle_residency_ms").trimmed().toLongLong(),
                 qint64(std::llround(after)));

        // An idle GT sleeps: no clock at all.
        card.holdLoad(0.0);
        run(card, 1.0);
        QCOMPARE(readFile(card.gpuDir() + "/tile0/gt0/freq0/act_freq").trimmed(), QByteArray("0"));
    }

    void fanFollowsMcuDuty_data()
    {
        QTest::addColumn<int>("duty");
        QTest::addColumn<double>("low");
        QTest::addColumn<double>("high");
        QTest::newRow("30 %") << 30 << 900.0 << 1100.0;
        QTest::newRow("50 %") << 50 << 1450.0 << 1750.0;
        QTest::newRow("75 %") << 75 << 2100.0 << 2450.0;
        QTest::newRow("100 %") << 100 << 2850.0 << 3150.0;
        QTest::newRow("stopped") << 0 << 0.0 << 0.0;
        QTest::newRow("above 100 is held at 100") << 250 << 2850.0 << 3150.0;
    }
    void fanFollowsMcuDuty()
    {
        QFETCH(int, duty);
        QFETCH(double, low);
        QFETCH(double, high);
        ShmDir tmp;
        sim::SysfsSim card(tmp.path());
        QVERIFY(card.publish());
        card.holdLoad(0.2);
        card.setFanDrivenByMcu(duty);
        run(card, 15.0);
        const auto t = read(tmp.path());
        QVERIFY(t.fanSpeed[0].bSupported);
        const double rpm = t.fanSpeed[0].value.datadouble;
        QVERIFY2(rpm >= low && rpm <= high, qPrintable(QString::number(rpm)));
        QVERIFY(card.state().fanDrivenByMcu);
    }

    // Handed back, the GPU's own curve stops the fan while cool and spins it
    // up under load.
    void fanOnGpuCurve()
    {
        ShmDir tmp;
        sim::SysfsSim card(tmp.path());
        QVERIFY(card.publish());
        card.setFanDrivenByMcu(100);
        run(card, 10.0);
        card.setFanDrivenByGpu();
        card.holdLoad(0.02);
        run(card, 60.0);
        QCOMPARE(read(tmp.path()).fanSpeed[0].value.datadouble, 0.0);
        QVERIFY(card.state().gpuTempC < 46.0);

        card.holdLoad(1.0);
        run(card, 120.0);
        const sim::SysfsSim::State s = card.state();
        QVERIFY2(s.gpuTempC > 52.0 && s.gpuTempC < 95.0, qPrintable(QString::number(s.gpuTempC)));
        QVERIFY(!s.fanDrivenByMcu);
        QVERIFY(s.fanDutyPercent >= 30.0);
        QVERIFY2(read(tmp.path()).fanSpeed[0].value.datadouble > 1000.0, qPrintable(QString::number(s.fanRpm)));
    }

    // Left to itself, the load wanders and stays in range.
    void loadWandersWithinRange()
    {
        ShmDir tmp;
        sim::SysfsSim card(tmp.path(), 42);
        QVERIFY(card.publish());
        double lo = 1.0, hi = 0.0;
        for (int i = 0; i < 150; ++i) {
            QVERIFY(card.advance(1.0));
            const auto s = card.state();
            lo = std::min(lo, s.load);
            hi = std::max(hi, s.load);
            QVERIFY(s.gpuTempC > 25.0 && s.gpuTempC < 100.0);
            QVERIFY(s.vramTempC > 25.0 && s.vramTempC < 110.0);
            QVERIFY(s.actFreqMhz == 0 || (s.actFreqMhz >= 400 && s.actFreqMhz <= 2850));
        }
        QVERIFY2(hi - lo > 0.3, qPrintable(QString("%1..%2").arg(lo).arg(hi)));
    }

    void tickUsesElapsedTime()
    {
        ShmDir tmp;
        sim::SysfsSim card(tmp.path());
        QVERIFY(card.tick() == false); // nothing published yet
        QVERIFY(card.publish());
        const double before = card.state().cardEnergyJ;
        for (int i = 0; i < 1000 && card.state().cardEnergyJ == before; ++i)
            QVERIFY(card.tick());
        QVERIFY(card.state().cardEnergyJ > before);
    }

    // A reader racing the writer always finds a whole number that never goes
    // back, and no temporary files are left behind.
    void writesAreAtomic()
    {
        ShmDir tmp;
        sim::SysfsSim card(tmp.path());
        QVERIFY(card.publish());
        const QString energy = card.hwmonDir() + "/energy1_input";
        std::atomic<bool> stop{false};
        std::atomic<int> torn{0}, backwards{0}, reads{0};
        std::thread reader([&] {
            qint64 last = 0;
            while (!stop.load()) {
                QFile f(energy);
                if (!f.open(QIODevice::ReadOnly)) {
                    ++torn; // the file must always be there
                    continue;
                }
                const QByteArray text = f.readAll();
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
        // Let the reader see the final state at least once before stopping.
        const int seen = reads.load();
        while (reads.load() < seen + 2) {
            std::this_thread::yield();
        }
        stop = true;
        reader.join();
        QCOMPARE(torn.load(), 0);
        QCOMPARE(backwards.load(), 0);
        const QStringList left = QDir(card.hwmonDir()).entryList(QDir::Files);
        for (const QString &name : left)
            QVERIFY2(QRegularExpression("^[a-z]+[0-9]*_[a-z]+$|^name$").match(name).hasMatch(), qPrintable(name));
    }
};

QTEST_GUILESS_MAIN(TestSysfsSim)
#include "tst_sysfs_sim.moc"
