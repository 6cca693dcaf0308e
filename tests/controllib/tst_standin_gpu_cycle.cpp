// The telemetry road without a card: the simulated card's sysfs tree, read by
// the stand-in library, loaded and queried by the program's own GPU cycle.
#include "standin.h"

#include "gpu/gpu_information.h"
#include "gpu/known_card.h"
#include "sim/sysfs/sysfs_sim.h"

#include <QRegularExpression>
#include <QTemporaryDir>

#include <string>

using namespace testing;

namespace {

// The binding loads the library a runtime path names; the path is cleared
// by every close, so it is set again before each cycle.
struct RuntimePath {
    std::wstring path = QString::fromUtf8(TV_STANDIN_PATH).toStdWString();
    ctl_runtime_path_args_t args{};
    RuntimePath()
    {
        args.Size = sizeof args;
        args.pRuntimePath = path.data();
    }
    ctl_result_t set() { return ctlSetRuntimePath(&args); }
};

} // namespace

class TestStandInGpuCycle : public QObject {
    Q_OBJECT

private slots:
    void knownCardThroughTheProgramsCycle()
    {
        QTemporaryDir tmp(QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                              ? QStringLiteral("/dev/shm/tst_standin_gpu_cycle-XXXXXX")
                              : QDir::tempPath() + QStringLiteral("/tst_standin_gpu_cycle-XXXXXX"));
        QVERIFY(tmp.isValid());
        sim::SysfsSim card(tmp.path());
        card.holdLoad(0.6);
        card.setFanDrivenByMcu(50);
        QVERIFY(card.publish());
        QVERIFY(card.advance(20.0));
        SysfsRoot root(tmp.path());
        RuntimePath runtime;

        gpu::GpuInformation info;
        QVariantMap facts, reply;
        QCOMPARE(runtime.set(), CTL_RESULT_SUCCESS);
        QCOMPARE(info.refresh(facts, reply), 1);
        const sim::SysfsSim::State s = card.state();

        QCOMPARE(reply.value("GPU_count").toInt(), 1);
        QCOMPARE(facts.value("CheckCTL").toInt(), 1);
        QCOMPARE(facts.value("deviceName").toString(), QString(known_card::kDisplayName));
        QCOMPARE(facts.value("VendorID").toString(), QString("8086"));
        QCOMPARE(facts.value("DeviceID").toString(), QString("E20B"));
        QCOMPARE(facts.value("SubSysID").toString(), QString("4158"));
        QCOMPARE(facts.value("SubSysVendorID").toString(), QString("1F2E"));
        QCOMPARE(facts.value("AdapterName").toString(), QString("Intel(R) Arc(TM) B580 Graphics"));
        QCOMPARE(facts.value("PCIE").toString(), QString("PCIE 4.0 X8 "));
        QCOMPARE(facts.value("ResizableBar").toString(), QString("1"));
        QVERIFY(QRegularExpression("^\\d+\\.\\d+\\.\\d+\\.\\d+$").match(facts.value("DriverVersion").toString()).hasMatch());

        QCOMPARE(facts.value("GpuCurrentTemperature").toDouble(), std::round(s.gpuTempC * 1000) / 1000);
        QCOMPARE(facts.value("VRAM_Temperature").toDouble(), std::round(s.vramTempC * 1000) / 1000);
        QCOMPARE(facts.value("GpuCurrentFrequency").toDouble(), double(s.actFreqMhz));
        QCOMPARE(facts.value("FanSpeed").toDouble(), double(std::llround(s.fanRpm)));
        QVERIFY(facts.value("FanSpeed").toDouble() > 1400.0);
        // No source on this card: left at their reset values.
        QCOMPARE(facts.value("GpuVoltage"), QVariant(0));
        QCOMPARE(facts.value("VRAM_Frequency"), QVariant(0));

        // A second cycle loads the library again and reads the moved tree.
        QVERIFY(card.advance(5.0));
        QCOMPARE(runtime.set(), CTL_RESULT_SUCCESS);
        QCOMPARE(info.refresh(facts, reply), 1);
        QCOMPARE(facts.value("GpuCurrentTemperature").toDouble(), std::round(card.state().gpuTempC * 1000) / 1000);
    }
};

QTEST_GUILESS_MAIN(TestStandInGpuCycle)
#include "tst_standin_gpu_cycle.moc"
