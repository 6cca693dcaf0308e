// The simulated card's sysfs tree: it moves, it is written so readers never
// see half a number, its files follow the kernel it plays, and the stand-in
// control library reads it.
#include "standin.h"

#include "gpu/known_card.h"
#include "sim/sysfs/sysfs_sim.h"

#include <QTemporaryDir>

#include <atomic>
#include <cmath>
#include <thread>

using namespace testing;

class TestSysfsSim : public QObject {
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
        qputenv("CTL_PROC_ROOT", QFile::encodeName(noProcesses.path()));
    }

    // What the stand-in reads is what the card is doing, in the files a
    // kernel of that release has: temperatures from 6.15, fans from 6.16,
    // the tach reading in the channel the board wires it to.
    void layoutFollowsTheKernel_data()
    {
        QTest::addColumn<QString>("kernel");
        QTest::addColumn<int>("fanChannel");
        QTest::addColumn<bool>("temps");
        QTest::addColumn<bool>("fan");
        QTest::newRow("6.12") << "6.12" << 1 << false << false;
        QTest::newRow("6.15") << "6.15.2-amd64" << 1 << true << false;
        QTest::newRow("6.16, tach on fan2") << "6.16" << 2 << true << true;
        QTest::newRow("6.17, tach on fan3") << "6.17.0+deb13-amd64" << 3 << true << true;
    }
    void layoutFollowsTheKernel()
    {
        QFETCH(QString, kernel);
        QFETCH(int, fanChannel);
        QFETCH(bool, temps);
        QFETCH(bool, fan);
        QTemporaryDir tmp;
        sim::SysfsSim card(tmp.path(), 7);
        sim::SysfsSim::Layout layout;
        QVERIFY(sim::SysfsSim::parseKernel(kernel, &layout.kernel));
        layout.fanChannel = fanChannel;
        card.setLayout(layout);
        card.setFanDrivenByMcu(50);
        card.holdLoad(0.9);
        QVERIFY(card.publish());
        const auto first = read(tmp.path());
        QVERIFY(card.advance(10.0));
        const sim::SysfsSim::State s = card.state();
        const auto t = read(tmp.path());

        QCOMPARE(bool(t.gpuCurrentTemperature.bSupported), temps);
        QCOMPARE(bool(t.vramCurrentTemperature.bSupported), temps);
        if (temps)
            QCOMPARE(t.gpuCurrentTemperature.value.datadouble, std::round(s.gpuTempC * 1000) / 1000);
        QCOMPARE(bool(t.fanSpeed[0].bSupported), fan);
        QCOMPARE(t.fanSpeed[0].value.datadouble, fan ? double(std::llround(s.fanRpm)) : 0.0);
        QVERIFY(!fan || (s.fanRpm > 1450.0 && s.fanRpm < 1750.0)); // 50 % duty
        QCOMPARE(readFile(card.hwmonDir() + "/fan1_input").isEmpty(), !fan);
        // About 10 s at 150..200 W on the card, a little less in the package.
        const double cardJ = t.totalCardEnergyCounter.value.datadouble - first.totalCardEnergyCounter.value.datadouble;
        const double pkgJ = t.gpuEnergyCounter.value.datadouble - first.gpuEnergyCounter.value.datadouble;
        QVERIFY2(cardJ > 1500.0 && cardJ < 2100.0 && pkgJ > 1300.0 && pkgJ < cardJ, qPrintable(QString::number(cardJ)));
        QCOMPARE(t.gpuCurrentClockFrequency.value.datadouble, double(s.actFreqMhz));

        int dummy = 0;
        QVERIFY(!sim::SysfsSim::parseKernel("six", &dummy) && !sim::SysfsSim::parseKernel("6", &dummy));
    }

    // Handed back, the GPU's own curve stops the fan while cool and spins it
    // up under load; the GT's idle residency follows the load.
    void fanOnGpuCurveAndIdleResidency()
    {
        QTemporaryDir tmp;
        sim::SysfsSim card(tmp.path());
        QVERIFY(card.publish());
        card.setFanDrivenByMcu(100);
        QVERIFY(card.advance(10.0));
        card.setFanDrivenByGpu();
        card.holdLoad(0.02);
        QVERIFY(card.advance(60.0));
        QCOMPARE(read(tmp.path()).fanSpeed[0].value.datadouble, 0.0);
        card.holdLoad(1.0);
        QVERIFY(card.advance(120.0));
        QVERIFY(card.state().gpuTempC > 52.0 && !card.state().fanDrivenByMcu);
        QVERIFY(read(tmp.path()).fanSpeed[0].value.datadouble > 1000.0);

        card.holdLoad(0.25);
        const double before = card.state().idleResidencyMs;
        QVERIFY(card.advance(8.0));
        QCOMPARE(std::round(card.state().idleResidencyMs - before), 6000.0);
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
        const int seen = reads.load();
        while (reads.load() < seen + 2)
            std::this_thread::yield();
        stop = true;
        reader.join();
        QCOMPARE(torn.load(), 0);
        QCOMPARE(backwards.load(), 0);
        for (const QString &name : QDir(card.hwmonDir()).entryList(QDir::Files | QDir::Hidden))
            QVERIFY2(!name.startsWith('.'), qPrintable(name));
    }
};

QTEST_GUILESS_MAIN(TestSysfsSim)
#include "tst_sysfs_sim.moc"
