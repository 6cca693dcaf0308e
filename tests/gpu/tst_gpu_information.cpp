// One GPU refresh against the scripted control library.
#include "gpu/gpu_information.h"
#include "platform/known_card.h"
#include "tests/gpu/fake_ctl.h"

#include <QTemporaryFile>
#include <QtTest>

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
    const int saved = dup(STDOUT_FILENO);
    StdoutCapture() { std::fflush(stdout); if (file.open()) dup2(file.handle(), STDOUT_FILENO); }
    ~StdoutCapture() { text(); close(saved); }
    QByteArray text() { std::fflush(stdout); dup2(saved, STDOUT_FILENO); file.seek(0); return file.readAll(); }
};

void setItem(ctl_oc_telemetry_item_t &item, double value, bool supported = true)
{
    item.bSupported = supported;
    item.type = CTL_DATA_TYPE_DOUBLE;
    item.value.datadouble = value;
}

} // namespace

class GpuInformationTest : public QObject {
    Q_OBJECT
    FakeCtlScenario *const s = openFakeScenario(FAKE_CTL_PATH);
    RuntimePath path{QStringLiteral(FAKE_CTL_PATH).toStdWString()};
    QVariantMap info, reply;

    FakeAdapter &add(uint32_t vendor = known_card::kPciVendorId, uint32_t device = known_card::kPciDeviceId,
                     uint16_t subsys = known_card::kPciSubsystemId,
                     uint16_t subsysVendor = known_card::kPciSubsystemVendorId,
                     const char *name = "Intel(R) Arc(TM) B580 Graphics")
    {
        FakeAdapter &a = s->adapters[s->adapterCount++];
        a.properties.device_type = CTL_DEVICE_TYPE_GRAPHICS;
        a.properties.pci_vendor_id = vendor;
        a.properties.pci_device_id = device;
        a.properties.pci_subsys_id = subsys;
        a.properties.pci_subsys_vendor_id = subsysVendor;
        std::strncpy(a.properties.name, name, sizeof a.properties.name - 1);
        return a;
    }

    int refresh(gpu::GpuInformation &g)
    {
        ctlSetRuntimePath(&path.args); // every close forgets it
        return g.refresh(info, reply);
    }

private slots:
    void initTestCase() { qInstallMessageHandler(collect); }
    void init()
    {
        QVERIFY(s);
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
            add(row.vendor, row.device, row.subsys, row.subsysVendor);
            gpu::GpuInformation g;
            QCOMPARE(refresh(g), row.matched);
            QCOMPARE(reply["GPU_count"], QVariant(row.matched));
            QCOMPARE(info["deviceName"].toString(), row.matched ? QString(known_card::kDisplayName) : QString());
            QCOMPARE(s->telemetryCalls, row.matched ? 2 : 0);
        }
    }

    void readingsAmongOtherAdapters()
    {
        ctl_power_telemetry_t &t = add().telemetry;
        setItem(t.fanSpeed[0], 1450.0);
        setItem(t.gpuCurrentTemperature, 0.0);
        t.gpuCurrentTemperature.type = CTL_DATA_TYPE_INT32;
        t.gpuCurrentTemperature.value.data32 = 64;
        add(0x8086, 0xA780, 0x7D1A, 0x1462, "Intel(R) UHD Graphics 770").properties.rev_id = 0x0C;
        add(0x10DE, 0x2684, 0, 0, "NVIDIA").properties.driver_version = (31ULL << 48) | (5798ULL << 16) | 6795;
        add(0x8086, 0x1234, 0, 0, "Intel system device").properties.device_type = CTL_DEVICE_TYPE_SYSTEM;
        gpu::GpuInformation g;
        StdoutCapture out;
        QCOMPARE(refresh(g), 1);
        // Identity: the last Intel graphics adapter; driver: the last graphics
        // adapter; a reading as the type it declares.
        QCOMPARE(info["AdapterName"].toString(), QStringLiteral("Intel(R) UHD Graphics 770"));
        QCOMPARE(info["RevID"], QVariant(uint(0x0C)));
        QCOMPARE(info["DriverVersion"].toString(), QStringLiteral("31.0.5798.6795"));
        QCOMPARE(info["GpuCurrentTemperature"], QVariant(64.0));
        const QByteArray printed = out.text();
        QVERIFY(printed.startsWith("EnumerateDevices returned 4 adapters\n"));
        QVERIFY(printed.endsWith("This is not a Graphics device \n"));
        QVERIFY(g_log.contains(QStringLiteral("Fan 0 Speed: 1450 (Angular Speed in RPM)")));
        // The records handed over, which the real library checks.
        QCOMPARE((std::vector<uint32_t>{s->initArgs.Size, s->propertiesSize, s->deviceIdSize, s->telemetrySize,
                                        s->pciPropertiesSize, s->pciStateSize, s->initArgs.AppVersion}),
                 (std::vector<uint32_t>{36, 320, 8, 1024, 64, 32, 0x00010001}));
    }

    // Board power over cycles of the card's timestamp and energy counter.
    void rates()
    {
        struct Cycle { double t, energy; bool readFails; double power; }; // power NaN: none yet
        const double na = std::nan("");
        const std::vector<Cycle> rows[] = {
            // A failed read is no baseline.
            {{100, 1000, false, na}, {101, 1150, false, 150}, {102, 0, true, 150}, {103, 1450, false, 150}},
            // The same instant again keeps the older baseline.
            {{10, 100, false, na}, {11, 250, false, 150}, {11, 400, false, 150}, {12, 500, false, 250}},
            // The counters restarted.
            {{10, 100, false, na}, {11, 250, false, 150}, {5, 20, false, 150}, {6, 140, false, 120}}};
        for (const auto &cycles : rows) {
            init();
            FakeAdapter &a = add();
            gpu::GpuInformation g;
            for (size_t i = 0; i < cycles.size(); ++i) {
                const Cycle &c = cycles[i];
                setItem(a.telemetry.timeStamp, c.t);
                setItem(a.telemetry.totalCardEnergyCounter, c.energy);
                s->telemetryResults[2 * i + 1] = c.readFails ? CTL_RESULT_ERROR_DEVICE_LOST : CTL_RESULT_SUCCESS;
                StdoutCapture out;
                refresh(g);
                QCOMPARE(out.text().contains("OverclockPowerTelemetry => ctlPowerTelemetryGet Result Error: "
                                             "[CTL_RESULT_ERROR_DEVICE_LOST], ErrorCode: 0x40000003 \n \n\n"),
                         c.readFails);
                const double power = g.rates().boardPower;
                QVERIFY2(std::isnan(c.power) ? std::isnan(power) : power == c.power,
                         qPrintable(QString("t %1: %2 W, expected %3 W").arg(c.t).arg(power).arg(c.power)));
            }
        }
    }

    // Failures along the cycle: what is still written, where the scan stops. The library is closed once
    // whatever happened; keys are left as they were exactly when "GPU_count" is not written. Adapters:
    // C the card, o another board, n one with a null handle, p one whose properties fail.
    void libraryFailures()
    {
        const ctl_result_t ok = CTL_RESULT_SUCCESS;
        const struct {
            const char *adapters;
            int initFailures;
            uint32_t firstCount, secondCount; // what the enumerations report; 0: the truth
            ctl_result_t pci, telemetry;
            int matched, gpuCount, checkCtl, propertiesCalls;
            const char *pcie, *logged;
        } rows[] = {{"C", 1, 0, 0, ok, ok, 1, 1, 1, 1, "PCIE 4.0 X8 ", "Initial error, Re ctlInit ..."},
                    {"C", 2, 0, 0, ok, ok, 0, 7, 1, 0, "before", "Initial error, Re ctlInit ..."},
                    {"", 0, 0, 0, ok, ok, 0, 0, 1, 0, "before", nullptr},
                    {"C", 0, 0, 1000, ok, ok, 1, 1, 1, 1, "PCIE 4.0 X8 ", nullptr},
                    {"C", 0, 100000, 0, ok, ok, 0, 7, 1, 0, "before", nullptr},
                    {"nCpo", 0, 0, 0, ok, ok, 1, 1, 1, 2, "PCIE 4.0 X8 ", "hDevices[0] = NULL"},
                    {"C", 0, 0, 0, CTL_RESULT_ERROR_DATA_READ, ok, 1, 1, 1, 1, "before", nullptr},
                    {"Co", 0, 0, 0, ok, CTL_RESULT_ERROR_DEVICE_LOST, 1, 1, 0, 1, "before", nullptr}};
        for (const auto &row : rows) {
            init();
            for (const char *a = row.adapters; *a; ++a) {
                FakeAdapter &adapter = add(0x8086, *a == 'C' ? known_card::kPciDeviceId : 0xA780);
                adapter.nullHandle = *a == 'n';
                adapter.propertiesResult = *a == 'p' ? CTL_RESULT_ERROR_INVALID_SIZE : ok;
                adapter.pciResult = row.pci;
            }
            for (int i = 0; i < row.initFailures; ++i)
                s->initResults[i] = CTL_RESULT_ERROR_NOT_AVAILABLE;
            s->adapterCount = row.firstCount ? row.firstCount : s->adapterCount;
            s->secondCount = row.secondCount;
            s->telemetryResults[0] = row.telemetry;
            info["deviceName"] = info["PCIE"] = QStringLiteral("before");
            reply["GPU_count"] = 7;
            gpu::GpuInformation g;
            const QByteArray what = "row " + QByteArray::number(int(&row - rows));
            QVERIFY2(refresh(g) == row.matched && reply["GPU_count"] == row.gpuCount, what);
            QVERIFY2(info["CheckCTL"] == row.checkCtl && info["PCIE"].toString() == row.pcie, what);
            QVERIFY2((info["deviceName"] == QStringLiteral("before")) == (row.gpuCount == 7), what);
            QVERIFY2(s->propertiesCalls == row.propertiesCalls && s->closeCalls == 1, what);
            QVERIFY2(!row.logged || g_log.contains(QString::fromLatin1(row.logged)), what);
        }
    }
};

QTEST_GUILESS_MAIN(GpuInformationTest)
#include "tst_gpu_information.moc"
