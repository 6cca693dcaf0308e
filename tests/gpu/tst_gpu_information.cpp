// One GPU refresh against the scripted control library.
#include "gpu/gpu_information.h"
#include "gpu/known_card.h"
#include "tests/gpu/fake_ctl.h"

#include <QTemporaryFile>
#include <QtTest>

#include <dlfcn.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

QStringList g_log;
void collect(QtMsgType, const QMessageLogContext &, const QString &text) { g_log << text; }

// What the code under test prints to standard output meanwhile.
struct StdoutCapture {
    QTemporaryFile file;
    int saved = -1;
    StdoutCapture()
    {
        if (file.open() && (std::fflush(stdout), saved = dup(STDOUT_FILENO)) >= 0)
            dup2(file.handle(), STDOUT_FILENO);
    }
    ~StdoutCapture() { text(); }
    QByteArray text()
    {
        if (saved >= 0) {
            std::fflush(stdout);
            dup2(saved, STDOUT_FILENO);
            close(saved);
            saved = -1;
        }
        file.seek(0);
        return file.readAll();
    }
};

void setItem(ctl_oc_telemetry_item_t &item, double value, bool supported = true)
{
    item.bSupported = supported;
    item.type = CTL_DATA_TYPE_DOUBLE;
    item.value.datadouble = value;
}

// One cycle of the rates table: the counters the card reports (NaN: not
// supported), whether their read fails, and the board power, chip power and
// utilisation expected after it (NaN: not available).
struct Cycle {
    double t, board, chip, busy;
    bool readFails;
    double boardPower, chipPower, utilisation;
};

} // namespace

Q_DECLARE_METATYPE(QList<Cycle>)

class GpuInformationTest : public QObject {
    Q_OBJECT
    FakeCtlScenario *s = nullptr;
    std::vector<wchar_t> pathChars;
    ctl_runtime_path_args_t pathArgs{};
    QVariantMap info, reply;

    FakeAdapter &addAdapter(uint32_t vendor, uint32_t device, uint16_t subsys, uint16_t subsysVendor,
                            const char *name, uint64_t driver = 0)
    {
        FakeAdapter &a = s->adapters[s->adapterCount++];
        a.properties.device_type = CTL_DEVICE_TYPE_GRAPHICS;
        a.properties.pci_vendor_id = vendor;
        a.properties.pci_device_id = device;
        a.properties.pci_subsys_id = subsys;
        a.properties.pci_subsys_vendor_id = subsysVendor;
        a.properties.driver_version = driver;
        std::strncpy(a.properties.name, name, sizeof a.properties.name - 1);
        return a;
    }

    FakeAdapter &addCard(uint32_t vendor = known_card::kPciVendorId, uint32_t device = known_card::kPciDeviceId,
                         uint16_t subsys = known_card::kPciSubsystemId,
                         uint16_t subsysVendor = known_card::kPciSubsystemVendorId)
    {
        FakeAdapter &a = addAdapter(vendor, device, subsys, subsysVendor, "Intel(R) Arc(TM) B580 Graphics");
        ctl_power_telemetry_t &t = a.telemetry;
        for (ctl_oc_telemetry_item_t *item : {&t.timeStamp, &t.totalCardEnergyCounter, &t.gpuEnergyCounter,
                                              &t.globalActivityCounter, &t.gpuCurrentClockFrequency})
            setItem(*item, 100.0);
        setItem(t.gpuCurrentTemperature, 61.5);
        setItem(t.fanSpeed[0], 1450.0);
        a.pciGen = 4;
        a.pciWidth = 8;
        return a;
    }

    int refresh(gpu::GpuInformation &g)
    {
        ctlSetRuntimePath(&pathArgs); // every close forgets it
        return g.refresh(info, reply);
    }

private slots:
    void initTestCase()
    {
        void *fake = dlopen(FAKE_CTL_PATH, RTLD_NOW | RTLD_LOCAL);
        QVERIFY2(fake, dlerror());
        s = reinterpret_cast<FakeScenarioFn>(dlsym(fake, "fakectl_scenario"))();
        const QString path = QStringLiteral(FAKE_CTL_PATH);
        pathChars.assign(path.size() + 1, L'\0');
        path.toWCharArray(pathChars.data());
        pathArgs.Size = sizeof pathArgs;
        pathArgs.pRuntimePath = pathChars.data();
        qInstallMessageHandler(collect);
    }
    void init()
    {
        *s = FakeCtlScenario{};
        info.clear();
        reply.clear();
        g_log.clear();
    }
    void cleanup() { QCOMPARE(ctlClose(nullptr), CTL_RESULT_ERROR_NOT_INITIALIZED); } // nothing left loaded

    // Only all four ids together are the card; any other board gets no telemetry read.
    void knownCardNeedsAllFourIds()
    {
        const uint32_t v = known_card::kPciVendorId, d = known_card::kPciDeviceId;
        const uint16_t sub = known_card::kPciSubsystemId, sv = known_card::kPciSubsystemVendorId;
        const struct {
            uint32_t vendor, device;
            uint16_t subsys, subsysVendor;
            int matched;
        } rows[] = {{v, d, sub, sv, 1}, {v ^ 1, d, sub, sv, 0}, {v, d ^ 1, sub, sv, 0},
                    {v, d, uint16_t(sub ^ 1), sv, 0}, {v, d, sub, uint16_t(sv ^ 1), 0},
                    {v, d, sv, sub, 0}, {v, d, 0x1100, 0x8086, 0}};
        for (const auto &row : rows) {
            init();
            addCard(row.vendor, row.device, row.subsys, row.subsysVendor);
            gpu::GpuInformation g;
            QCOMPARE(refresh(g), row.matched);
            QCOMPARE(reply["GPU_count"], QVariant(row.matched));
            QCOMPARE(info["deviceName"].toString(), row.matched ? QString(known_card::kDisplayName) : QString());
            QCOMPARE(s->telemetryCalls, row.matched ? 2 : 0);
        }
    }

    void readingsAmongOtherAdapters()
    {
        addCard().telemetry.gpuVoltage.bSupported = false;
        addAdapter(0x8086, 0xA780, 0x7D1A, 0x1462, "Intel(R) UHD Graphics 770").properties.rev_id = 0x0C;
        addAdapter(0x10DE, 0x2684, 0x16F1, 0x10DE, "NVIDIA GeForce RTX 4090",
                   (31ULL << 48) | (5798ULL << 16) | 6795ULL);
        addAdapter(0x8086, 0x1234, 0, 0, "Intel system device").properties.device_type = CTL_DEVICE_TYPE_SYSTEM;
        ctl_oc_telemetry_item_t &temperature = s->adapters[0].telemetry.gpuCurrentTemperature;
        temperature.type = CTL_DATA_TYPE_INT32;
        temperature.value.datau64 = 0;
        temperature.value.data32 = 64;
        gpu::GpuInformation g;
        StdoutCapture out;
        QCOMPARE(refresh(g), 1);

        // Identity: the last Intel graphics adapter; driver: the last graphics adapter.
        QCOMPARE(info["AdapterName"].toString(), QStringLiteral("Intel(R) UHD Graphics 770"));
        QCOMPARE(info["RevID"], QVariant(uint(0x0C)));
        QCOMPARE(info["DriverVersion"].toString(), QStringLiteral("31.0.5798.6795"));
        // Readings as the types they declare; what the card does not report
        // is no value, which reads as 0 to a number reader.
        QCOMPARE(info["GpuCurrentTemperature"], QVariant(64.0));
        QCOMPARE(info["FanSpeed"], QVariant(1450.0));
        for (const char *key : {"GpuVoltage", "VRAM_Temperature", "GPU_PowerPercentage"}) {
            QCOMPARE(info[key].userType(), int(QMetaType::Nullptr));
            QCOMPARE(info[key].toInt(), 0);
        }
        const QByteArray printed = out.text();
        QVERIFY(printed.startsWith("EnumerateDevices returned 4 adapters\n"));
        QVERIFY(printed.endsWith("This is not a Graphics device \n"));
        QCOMPARE(info["PCIE"].toString(), QStringLiteral("PCIE 4.0 X8 "));
        QVERIFY(g_log.contains(QStringLiteral("Fan 0 Speed: 1450 (Angular Speed in RPM)")));
        // The records handed over, which the real library checks.
        const uint32_t sizes[] = {s->initArgs.Size, s->propertiesSize, s->deviceIdSize, s->telemetrySize,
                                  s->pciPropertiesSize, s->pciStateSize, s->initArgs.AppVersion};
        QCOMPARE(std::vector<uint32_t>(std::begin(sizes), std::end(sizes)),
                 (std::vector<uint32_t>{36, 320, 8, 1024, 64, 32, 0x00010001}));
    }

    void rates_data()
    {
        const double na = std::nan("");
        QTest::addColumn<QList<Cycle>>("cycles");
        QTest::newRow("steady 150 W, 75 % busy")
            << QList<Cycle>{{100, 1000, 400, 20, false, na, na, na}, {101, 1150, 490, 20.75, false, 150, 90, 0.75}};
        QTest::newRow("a failed read is no baseline")
            << QList<Cycle>{{100, 1000, 400, 20, false, na, na, na}, {101, 1150, 500, 21, false, 150, 100, 1},
                            {102, 0, 0, 0, true, 150, 100, 1}, {103, 1450, 700, 21.5, false, 150, 100, 0.25}};
        QTest::newRow("card energy not reported")
            << QList<Cycle>{{10, na, 100, 1, false, na, na, na}, {12, na, 200, 2, false, na, 50, 0.5}};
        QTest::newRow("same instant keeps the older baseline")
            << QList<Cycle>{{10, 100, 0, 0, false, na, na, na}, {11, 250, 0, 0, false, 150, 0, 0},
                            {11, 400, 0, 0, false, 150, 0, 0}, {12, 500, 0, 0, false, 250, 0, 0}};
        QTest::newRow("counters restarted")
            << QList<Cycle>{{10, 100, 0, 0, false, na, na, na}, {11, 250, 0, 0, false, 150, 0, 0},
                            {5, 20, 0, 0, false, 150, 0, 0}, {6, 140, 0, 0, false, 120, 0, 0}};
    }
    void rates()
    {
        QFETCH(QList<Cycle>, cycles);
        FakeAdapter &a = addCard();
        gpu::GpuInformation g;
        for (int i = 0; i < cycles.size(); ++i) {
            const Cycle &c = cycles[i];
            ctl_power_telemetry_t &t = a.telemetry;
            setItem(t.timeStamp, c.t);
            setItem(t.totalCardEnergyCounter, std::isnan(c.board) ? 0.0 : c.board, !std::isnan(c.board));
            setItem(t.gpuEnergyCounter, c.chip);
            setItem(t.globalActivityCounter, c.busy);
            s->telemetryResults[2 * i + 1] = c.readFails ? CTL_RESULT_ERROR_DEVICE_LOST : CTL_RESULT_SUCCESS;
            StdoutCapture out;
            refresh(g);
            QCOMPARE(out.text().contains("OverclockPowerTelemetry => ctlPowerTelemetryGet Result Error: "
                                         "[CTL_RESULT_ERROR_DEVICE_LOST], ErrorCode: 0x40000003 \n \n\n"),
                     c.readFails);
            const gpu::DerivedRates r = g.rates();
            const double got[] = {r.boardPower, r.chipPower, r.utilisation};
            const double want[] = {c.boardPower, c.chipPower, c.utilisation};
            for (int k = 0; k < 3; ++k)
                QVERIFY2(std::isnan(want[k]) ? std::isnan(got[k]) : got[k] == want[k],
                         qPrintable(QString("cycle %1: %2, expected %3").arg(i).arg(got[k]).arg(want[k])));
        }
    }

    // Failures of the library along the cycle: what is still written, what
    // is closed, where the scan stops.
    void libraryFailures()
    {
        addCard();
        s->initResults[0] = CTL_RESULT_ERROR_NOT_AVAILABLE;
        gpu::GpuInformation g;
        QCOMPARE(refresh(g), 1);
        QCOMPARE(s->initCalls, 2);
        QVERIFY(g_log.contains(QStringLiteral("Initial error, Re ctlInit ...")));

        init();
        addCard();
        s->initResults[0] = s->initResults[1] = CTL_RESULT_ERROR_NOT_AVAILABLE;
        info["deviceName"] = QStringLiteral("stale");
        reply["GPU_count"] = 7;
        QCOMPARE(refresh(g), 0);
        QCOMPARE(s->closeCalls, 1); // loaded, so closed
        QCOMPARE(info["CheckCTL"], QVariant(1));
        QCOMPARE(info["deviceName"].toString(), QStringLiteral("stale"));
        QCOMPARE(reply["GPU_count"], QVariant(7));

        init();
        addCard();
        s->overrideSecondCount = true;
        s->secondCount = 1000; // claims more than it was given room for
        QCOMPARE(refresh(g), 1);
        QCOMPARE(s->propertiesCalls, 1);
        s->adapterCount = 100000; // an absurd count is not allocated for
        QCOMPARE(refresh(g), 0);

        init();
        addAdapter(0x8086, 0xA780, 0, 0, "iGPU").nullHandle = true;
        addCard();
        addAdapter(0x8086, 0xA780, 0, 0, "iGPU").propertiesResult = CTL_RESULT_ERROR_INVALID_SIZE;
        addAdapter(0x8086, 0x56A0, 0, 0, "A770");
        QCOMPARE(refresh(g), 1);
        QVERIFY(g_log.contains(QStringLiteral("hDevices[0] = NULL")));
        QCOMPARE(s->propertiesCalls, 2);
        QCOMPARE(info["DeviceID"].toString(), QStringLiteral("E20B"));

        init();
        addCard().pciResult = CTL_RESULT_ERROR_DATA_READ; // the link keys stay as they were
        info["PCIE"] = QStringLiteral("before");
        QCOMPARE(refresh(g), 1);
        QCOMPARE(info["PCIE"].toString(), QStringLiteral("before"));
        QVERIFY(!info.contains("ResizableBar"));

        init();
        addCard();
        s->telemetryResults[0] = CTL_RESULT_ERROR_DEVICE_LOST;
        addAdapter(0x8086, 0xA780, 0, 0, "iGPU");
        QCOMPARE(refresh(g), 1);
        QCOMPARE(info["CheckCTL"], QVariant(0));
        QCOMPARE(s->closeCalls, 1);
        QCOMPARE(s->propertiesCalls, 1); // the scan stopped at the card
    }
};

QTEST_GUILESS_MAIN(GpuInformationTest)
#include "tst_gpu_information.moc"
