// One GPU refresh against the scripted control library.
#include "gpu/ctl_result_text.h"
#include "gpu/gpu_information.h"
#include "gpu/known_card.h"
#include "tests/gpu/fake_ctl.h"
#include "tests/gpu/stdout_capture.h"

#include <QtTest>

#include <dlfcn.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

QStringList g_log;
void collect(QtMsgType, const QMessageLogContext &, const QString &text) { g_log << text; }

void setItem(ctl_oc_telemetry_item_t &item, double value)
{
    item.bSupported = true;
    item.type = CTL_DATA_TYPE_DOUBLE;
    item.value.datadouble = value;
}

const QStringList kTelemetryKeys{"GpuVoltage", "GpuCurrentFrequency", "GpuCurrentTemperature",
                                 "VRAM_Frequency", "VRAM_Temperature", "GPUOvervoltagePercentage",
                                 "GPU_PowerPercentage", "GPU_TemperaturePercentage", "FanSpeed"};
const QStringList kIdentityKeys{"AdapterName", "VendorID", "DeviceID", "SubSysID",
                                "SubSysVendorID", "RevID", "deviceName"};

} // namespace

class GpuInformationTest : public QObject {
    Q_OBJECT
    void *fakeHandle = nullptr;
    FakeCtlScenario *s = nullptr;
    std::vector<wchar_t> pathChars;
    ctl_runtime_path_args_t pathArgs{};
    QVariantMap info;
    QVariantMap reply;

    FakeAdapter &addAdapter(uint32_t vendor, uint32_t device, uint16_t subsys, uint16_t subsysVendor,
                            const char *name, uint64_t driver = 0)
    {
        FakeAdapter &a = s->adapters[s->adapterCount++];
        a.properties.device_type = CTL_DEVICE_TYPE_GRAPHICS;
        a.properties.pci_vendor_id = vendor;
        a.properties.pci_device_id = device;
        a.properties.pci_subsys_id = subsys;
        a.properties.pci_subsys_vendor_id = subsysVendor;
        a.properties.rev_id = 0x05;
        a.properties.driver_version = driver;
        std::strncpy(a.properties.name, name, sizeof a.properties.name - 1);
        return a;
    }

    FakeAdapter &addCard(double timestamp = 100.0, double boardEnergy = 1000.0)
    {
        FakeAdapter &a = addAdapter(known_card::kPciVendorId, known_card::kPciDeviceId,
                                    known_card::kPciSubsystemId, known_card::kPciSubsystemVendorId,
                                    "Intel(R) Arc(TM) B580 Graphics", 0x001F00001AA6ULL << 16);
        ctl_power_telemetry_t &t = a.telemetry;
        setItem(t.timeStamp, timestamp);
        setItem(t.totalCardEnergyCounter, boardEnergy);
        setItem(t.gpuEnergyCounter, 400.0);
        setItem(t.globalActivityCounter, 20.0);
        setItem(t.gpuVoltage, 0.95);
        setItem(t.gpuCurrentClockFrequency, 2850.0);
        setItem(t.gpuCurrentTemperature, 61.5);
        setItem(t.vramCurrentClockFrequency, 2375.0);
        setItem(t.vramCurrentTemperature, 70.0);
        setItem(t.gpuOverVoltagePercent, 0.0);
        setItem(t.gpuPowerPercent, 55.0);
        setItem(t.gpuTemperaturePercent, 65.0);
        setItem(t.fanSpeed[0], 1450.0);
        a.pciGen = 4;
        a.pciWidth = 8;
        a.resizableBar = true;
        return a;
    }

    // One cycle; the runtime path is recorded again because every close forgets it.
    int refresh(gpu::GpuInformation &g)
    {
        ctlSetRuntimePath(&pathArgs);
        return g.refresh(info, reply);
    }

    // Values a previous cycle left behind, to see what a cycle rewrites.
    void fillStale()
    {
        for (const QString &k : kTelemetryKeys + kIdentityKeys)
            info[k] = QStringLiteral("stale");
        reply["GPU_count"] = 7;
    }

private slots:
    void initTestCase()
    {
        fakeHandle = dlopen(FAKE_CTL_PATH, RTLD_NOW | RTLD_LOCAL);
        QVERIFY2(fakeHandle, dlerror());
        s = reinterpret_cast<FakeScenarioFn>(dlsym(fakeHandle, "fakectl_scenario"))();
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
    void cleanupTestCase()
    {
        qInstallMessageHandler(nullptr);
        dlclose(fakeHandle);
    }

    void recognisedCardAmongOtherAdapters()
    {
        addCard();
        addAdapter(0x8086, 0xA780, 0x7D1A, 0x1462, "Intel(R) UHD Graphics 770",
                   (31ULL << 48) | (101ULL << 16) | 5333).properties.rev_id = 0x0C;
        addAdapter(0x10DE, 0x2684, 0x16F1, 0x10DE, "NVIDIA GeForce RTX 4090", (32ULL << 48) | (15ULL << 32) | 6614);
        addAdapter(0x8086, 0x1234, 0, 0, "Intel system device").properties.device_type = CTL_DEVICE_TYPE_SYSTEM;
        gpu::GpuInformation g;
        StdoutCapture out;
        QCOMPARE(refresh(g), 1);
        const QByteArray printed = out.text();

        // Identity: the last Intel graphics adapter; driver: the last graphics adapter.
        QCOMPARE(info["AdapterName"].toString(), QStringLiteral("Intel(R) UHD Graphics 770"));
        QCOMPARE(info["VendorID"].toString(), QStringLiteral("8086"));
        QCOMPARE(info["DeviceID"].toString(), QStringLiteral("A780"));
        QCOMPARE(info["SubSysID"].toString(), QStringLiteral("7D1A"));
        QCOMPARE(info["SubSysVendorID"].toString(), QStringLiteral("1462"));
        QCOMPARE(info["RevID"], QVariant(uint(0x0C)));
        QCOMPARE(info["DriverVersion"].toString(), QStringLiteral("32.15.0.6614"));
        QCOMPARE(info["deviceName"].toString(), QString::fromLatin1(known_card::kDisplayName));
        QCOMPARE(reply["GPU_count"], QVariant(1));
        QCOMPARE(info["CheckCTL"], QVariant(1));
        // Telemetry of the card only.
        QCOMPARE(info["GpuCurrentFrequency"], QVariant(2850.0));
        QCOMPARE(info["FanSpeed"], QVariant(1450.0));
        QCOMPARE(info["VRAM_Temperature"], QVariant(70.0));
        QCOMPARE(s->telemetryCalls, 2);
        QCOMPARE(s->closeCalls, 1);
        QVERIFY(printed.contains("EnumerateDevices returned 4 adapters\n"));
        QVERIFY(printed.contains("This is not a Graphics device \n"));
        QVERIFY(g_log.contains(QStringLiteral("Matched device: ") + QString::fromLatin1(known_card::kDisplayName)));
        QVERIFY(g_log.contains(QStringLiteral("\nGpu Voltage: 0.95 (Voltage in Volts)")));
        QVERIFY(g_log.contains(QStringLiteral("Fan 0 Speed: 1450 (Angular Speed in RPM)")));
        QVERIFY(g_log.contains(QStringLiteral("Device Index: 1\nAdapterName: Intel(R) UHD Graphics 770")));
    }

    void cardWithOtherIdsIsNotRecognised_data()
    {
        QTest::addColumn<uint>("vendor");
        QTest::addColumn<uint>("device");
        QTest::addColumn<uint>("subsys");
        QTest::addColumn<uint>("subsysVendor");
        QTest::newRow("Intel reference board") << 0x8086u << 0xE20Bu << 0x1100u << 0x8086u;
        QTest::newRow("other subsystem id") << 0x8086u << 0xE20Bu << 0x4159u << 0x1F2Eu;
        QTest::newRow("other subsystem vendor") << 0x8086u << 0xE20Bu << 0x4158u << 0x1F2Fu;
        QTest::newRow("other device") << 0x8086u << 0xE20Cu << 0x4158u << 0x1F2Eu;
        QTest::newRow("other vendor") << 0x8087u << 0xE20Bu << 0x4158u << 0x1F2Eu;
    }
    void cardWithOtherIdsIsNotRecognised()
    {
        QFETCH(uint, vendor);
        QFETCH(uint, device);
        QFETCH(uint, subsys);
        QFETCH(uint, subsysVendor);
        FakeAdapter &a = addCard();
        a.properties.pci_vendor_id = vendor;
        a.properties.pci_device_id = device;
        a.properties.pci_subsys_id = uint16_t(subsys);
        a.properties.pci_subsys_vendor_id = uint16_t(subsysVendor);
        fillStale();
        gpu::GpuInformation g;
        QCOMPARE(refresh(g), 0);
        QCOMPARE(reply["GPU_count"], QVariant(0));
        QCOMPARE(s->telemetryCalls, 0);
        for (const QString &k : kTelemetryKeys)
            QCOMPARE(info[k], QVariant(0));
        QCOMPARE(info["deviceName"], QVariant(QString()));
        QCOMPARE(info["SubSysID"].toString(), vendor == 0x8086 ? QStringLiteral("%1").arg(subsys, 4, 16, QLatin1Char('0')).toUpper() : QString());
        QVERIFY(!info.contains("PCIE"));
    }

    void unsupportedItemsKeepTheirResetValue()
    {
        FakeAdapter &a = addCard();
        a.telemetry.fanSpeed[0].bSupported = false;
        a.telemetry.fanSpeed[0].value.datadouble = 999.0;
        a.telemetry.gpuVoltage.bSupported = false;
        fillStale();
        gpu::GpuInformation g;
        refresh(g);
        QCOMPARE(info["FanSpeed"], QVariant(0));
        QCOMPARE(info["FanSpeed"].type(), QVariant::Int);
        QCOMPARE(info["GpuVoltage"], QVariant(0));
        QCOMPARE(info["GpuCurrentTemperature"], QVariant(61.5));
    }

    void itemsAreReadAsTheTypeTheyDeclare()
    {
        FakeAdapter &a = addCard();
        a.telemetry.gpuCurrentTemperature.type = CTL_DATA_TYPE_INT32;
        a.telemetry.gpuCurrentTemperature.value.datau64 = 0;
        a.telemetry.gpuCurrentTemperature.value.data32 = 64;
        a.telemetry.fanSpeed[0].type = CTL_DATA_TYPE_UINT16;
        a.telemetry.fanSpeed[0].value.datau64 = 0;
        a.telemetry.fanSpeed[0].value.datau16 = 1325;
        gpu::GpuInformation g;
        refresh(g);
        QCOMPARE(info["GpuCurrentTemperature"], QVariant(64.0));
        QCOMPARE(info["FanSpeed"], QVariant(1325.0));
    }

    void driverVersionFields()
    {
        addCard().properties.driver_version = (31ULL << 48) | (0ULL << 32) | (5798ULL << 16) | 6795ULL;
        gpu::GpuInformation g;
        refresh(g);
        QCOMPARE(info["DriverVersion"].toString(), QStringLiteral("31.0.5798.6795"));

        ctl_device_adapter_properties_t p{};
        p.driver_version = 0xFFFF000100020003ULL;
        QVariantMap direct;
        gpu::GpuInformation::getAdapterDriverVersion(&p, direct);
        QCOMPARE(direct["DriverVersion"].toString(), QStringLiteral("65535.1.2.3"));
        gpu::GpuInformation::getAdapterDriverVersion(nullptr, direct);
        QCOMPARE(direct["DriverVersion"].toString(), QStringLiteral("65535.1.2.3"));
    }

    void pcieLink_data()
    {
        QTest::addColumn<int>("gen");
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("bar");
        QTest::addColumn<QString>("pcie");
        QTest::newRow("4.0 x16") << 4 << 16 << true << QStringLiteral("PCIE 4.0 X16 ");
        QTest::newRow("3.0 x8") << 3 << 8 << false << QStringLiteral("PCIE 3.0 X8 ");
        QTest::newRow("link not found") << -1 << -1 << true << QString();
    }
    void pcieLink()
    {
        QFETCH(int, gen);
        QFETCH(int, width);
        QFETCH(bool, bar);
        QFETCH(QString, pcie);
        FakeAdapter &a = addCard();
        a.pciGen = gen;
        a.pciWidth = width;
        a.resizableBar = bar;
        gpu::GpuInformation g;
        StdoutCapture out;
        refresh(g);
        const QByteArray printed = out.text();
        QCOMPARE(info["PCIE"].toString(), pcie);
        QCOMPARE(info["ResizableBar"].toString(), bar ? QStringLiteral("1") : QStringLiteral("0"));
        QVERIFY(printed.contains(QStringLiteral("\n[Pci] Gen [%1]\n[Pci] Width [%2]\n[Pci] Resizable Bar Enabled [%3]\n")
                                     .arg(gen).arg(width).arg(bar ? 1 : 0).toLatin1()));
        QCOMPARE(s->pciStateCalls, 1);
        QCOMPARE(s->pciStateSize, 32u);
    }

    void failedPciReadLeavesTheLinkKeys()
    {
        addCard().pciResult = CTL_RESULT_ERROR_DATA_READ;
        info["PCIE"] = QStringLiteral("PCIE 4.0 X8 ");
        info["ResizableBar"] = QStringLiteral("1");
        gpu::GpuInformation g;
        refresh(g);
        QCOMPARE(info["PCIE"].toString(), QStringLiteral("PCIE 4.0 X8 "));
        QCOMPARE(info["ResizableBar"].toString(), QStringLiteral("1"));
        QCOMPARE(s->pciStateCalls, 1);
    }

    void powerAndUtilisationFromTwoSamples()
    {
        FakeAdapter &a = addCard(100.0, 1000.0);
        gpu::GpuInformation g;
        refresh(g);
        // The first sample is set against zeros.
        QCOMPARE(g.rates().boardPower, 10.0);
        a.telemetry.timeStamp.value.datadouble = 101.0;
        a.telemetry.totalCardEnergyCounter.value.datadouble = 1150.0;
        a.telemetry.gpuEnergyCounter.value.datadouble = 490.0;
        a.telemetry.globalActivityCounter.value.datadouble = 20.75;
        refresh(g);
        QCOMPARE(g.rates().boardPower, 150.0);
        QCOMPARE(g.rates().chipPower, 90.0);
        QCOMPARE(g.rates().utilisation, 0.75);
    }

    void equalOrOlderTimestampsKeepTheRates()
    {
        FakeAdapter &a = addCard(10.0, 100.0);
        gpu::GpuInformation g;
        refresh(g);
        a.telemetry.timeStamp.value.datadouble = 11.0;
        a.telemetry.totalCardEnergyCounter.value.datadouble = 250.0;
        refresh(g);
        QCOMPARE(g.rates().boardPower, 150.0);

        a.telemetry.totalCardEnergyCounter.value.datadouble = 400.0; // same instant
        refresh(g);
        QCOMPARE(g.rates().boardPower, 150.0);
        QVERIFY(std::isfinite(g.rates().chipPower) && std::isfinite(g.rates().utilisation));

        // The energy gained at the repeated instant still counts next time.
        a.telemetry.timeStamp.value.datadouble = 12.0;
        a.telemetry.totalCardEnergyCounter.value.datadouble = 500.0;
        refresh(g);
        QCOMPARE(g.rates().boardPower, 250.0);

        a.telemetry.timeStamp.value.datadouble = 5.0; // older: counters restarted
        a.telemetry.totalCardEnergyCounter.value.datadouble = 20.0;
        refresh(g);
        QCOMPARE(g.rates().boardPower, 250.0);
        a.telemetry.timeStamp.value.datadouble = 6.0;
        a.telemetry.totalCardEnergyCounter.value.datadouble = 140.0;
        refresh(g);
        QCOMPARE(g.rates().boardPower, 120.0);
    }

    void failedCounterReadStartsOverFromZero()
    {
        FakeAdapter &a = addCard(100.0, 1000.0);
        gpu::GpuInformation g;
        refresh(g);
        a.telemetry.timeStamp.value.datadouble = 101.0;
        a.telemetry.totalCardEnergyCounter.value.datadouble = 1100.0;
        refresh(g);
        QCOMPARE(g.rates().boardPower, 100.0);
        s->telemetryCalls = 0;
        s->telemetryResults[1] = CTL_RESULT_ERROR_DEVICE_LOST; // the counter read of this cycle
        StdoutCapture out;
        refresh(g);
        QVERIFY(out.text().contains("\nOverclockPowerTelemetry => ctlPowerTelemetryGet Result Error: "
                                    "[CTL_RESULT_ERROR_DEVICE_LOST], ErrorCode: 0x40000003 \n \n\n"));
        QCOMPARE(info["CheckCTL"], QVariant(1));
        QCOMPARE(g.rates().boardPower, 100.0);
        a.telemetry.timeStamp.value.datadouble = 200.0;
        a.telemetry.totalCardEnergyCounter.value.datadouble = 3000.0;
        refresh(g);
        QCOMPARE(g.rates().boardPower, 15.0); // against the zeros of the failed read
    }

    void noAdaptersResetsTheScanKeys()
    {
        fillStale();
        gpu::GpuInformation g;
        QCOMPARE(refresh(g), 0);
        QCOMPARE(reply["GPU_count"], QVariant(0));
        for (const QString &k : kTelemetryKeys)
            QCOMPARE(info[k], QVariant(0));
        for (const QString &k : kIdentityKeys)
            QCOMPARE(info[k], QVariant(QString()));
        QCOMPARE(info["CheckCTL"], QVariant(1));
    }

    void telemetryFailureOfTheCardClosesAtOnce()
    {
        FakeAdapter &card = addCard();
        addAdapter(0x8086, 0xA780, 0x7D1A, 0x1462, "Intel(R) UHD Graphics 770");
        s->telemetryResults[0] = CTL_RESULT_ERROR_DEVICE_LOST;
        gpu::GpuInformation g;
        g.addSample({50.0, 500.0, 100.0, 5.0});
        const gpu::DerivedRates before = g.rates();
        StdoutCapture out;
        QCOMPARE(refresh(g), 1);
        QVERIFY(out.text().contains("\nCtlPowerTelemetryTest => ctlPowerTelemetryGet Result Error: "
                                    "[CTL_RESULT_ERROR_DEVICE_LOST], ErrorCode: 0x40000003 \n \n\n"));
        QCOMPARE(info["CheckCTL"], QVariant(0));
        QCOMPARE(reply["GPU_count"], QVariant(1));
        QCOMPARE(s->closeCalls, 1);
        QCOMPARE(s->propertiesCalls, 1); // the scan stopped at the card
        QCOMPARE(info["AdapterName"].toString(), QString::fromLatin1(card.properties.name));
        QCOMPARE(g.rates().boardPower, before.boardPower);
        QCOMPARE(info["GpuCurrentFrequency"], QVariant(0));
    }

    void initialisationIsRetriedOnce()
    {
        addCard();
        s->initResults[0] = CTL_RESULT_ERROR_NOT_AVAILABLE;
        gpu::GpuInformation g;
        QCOMPARE(refresh(g), 1);
        QCOMPARE(s->initCalls, 2);
        QVERIFY(g_log.contains(QStringLiteral("Initial error, Re ctlInit ...")));
        QCOMPARE(reply["GPU_count"], QVariant(1));
    }

    void initialisationFailingTwiceWritesOnlyCheckCtl()
    {
        addCard();
        s->initResults[0] = s->initResults[1] = CTL_RESULT_ERROR_NOT_AVAILABLE;
        fillStale();
        const QVariantMap staleInfo = info;
        gpu::GpuInformation g;
        QCOMPARE(refresh(g), 0);
        QCOMPARE(s->enumerateCalls, 0);
        QCOMPARE(s->closeCalls, 1); // the library was loaded, so it is closed
        QCOMPARE(info["CheckCTL"], QVariant(1));
        info.remove("CheckCTL");
        QCOMPARE(info, staleInfo);
        QCOMPARE(reply["GPU_count"], QVariant(7));
    }

    void enumerationFailure()
    {
        addCard();
        s->enumerateResults[1] = CTL_RESULT_ERROR_NOT_AVAILABLE;
        fillStale();
        gpu::GpuInformation g;
        StdoutCapture out;
        QCOMPARE(refresh(g), 0);
        QVERIFY(out.text().contains("[ERROR] ctlEnumerateDevices returned failure code: 0x40000007\n"));
        QCOMPARE(info["deviceName"].toString(), QStringLiteral("stale"));
        QCOMPARE(reply["GPU_count"], QVariant(7));
        QCOMPARE(s->closeCalls, 1);
    }

    void adapterListIsReadOnlyAsFarAsItWasAllocated()
    {
        addCard();
        s->overrideSecondCount = true;
        s->secondCount = 1000; // claims more than it was given room for
        gpu::GpuInformation g;
        QCOMPARE(refresh(g), 1);
        QCOMPARE(s->propertiesCalls, 1);

        init();
        s->adapterCount = 0;
        s->overrideSecondCount = false;
        addCard();
        s->adapterCount = 100000; // an absurd count is not allocated for
        fillStale();
        QCOMPARE(refresh(g), 0);
        QCOMPARE(s->enumerateCalls, 1);
        QCOMPARE(reply["GPU_count"], QVariant(7));
        QCOMPARE(s->closeCalls, 1);
    }

    void propertiesFailureStopsTheScan()
    {
        addCard();
        addAdapter(0x8086, 0xA780, 0x7D1A, 0x1462, "Intel(R) UHD Graphics 770").propertiesResult =
            CTL_RESULT_ERROR_INVALID_SIZE;
        addAdapter(0x8086, 0x56A0, 0x1020, 0x8086, "Intel(R) Arc(TM) A770 Graphics");
        gpu::GpuInformation g;
        StdoutCapture out;
        QCOMPARE(refresh(g), 1);
        QVERIFY(out.text().contains("ctlGetDeviceProperties returned failure code: 0x4000000F\n"));
        QCOMPARE(s->propertiesCalls, 2);
        QCOMPARE(reply["GPU_count"], QVariant(1));
        QCOMPARE(info["DeviceID"].toString(), QStringLiteral("E20B"));
    }

    void nullAdapterHandleIsSkipped()
    {
        addAdapter(0x8086, 0xA780, 0x7D1A, 0x1462, "Intel(R) UHD Graphics 770").nullHandle = true;
        addCard();
        gpu::GpuInformation g;
        QCOMPARE(refresh(g), 1);
        QVERIFY(g_log.contains(QStringLiteral("hDevices[0] = NULL")));
        QCOMPARE(s->propertiesCalls, 1);
    }

    void recordsHandedToTheLibrary()
    {
        addCard();
        gpu::GpuInformation g;
        refresh(g);
        QCOMPARE(s->initArgs.Size, 36u);
        QCOMPARE(s->initArgs.Version, uint8_t(0));
        QCOMPARE(s->initArgs.AppVersion, 0x00010001u);
        QCOMPARE(s->initArgs.flags, 1u);
        const ctl_application_id_t noId{};
        QVERIFY(std::memcmp(&s->initArgs.ApplicationUID, &noId, sizeof noId) == 0);
        QCOMPARE(s->propertiesSize, 320u);
        QCOMPARE(s->propertiesVersion, uint8_t(2));
        QCOMPARE(s->deviceIdSize, 8u);
        QVERIFY(s->deviceIdBufferGiven);
        QCOMPARE(s->telemetrySize, 1024u);
        QCOMPARE(s->telemetryVersion, uint8_t(1));
        QCOMPARE(s->pciPropertiesSize, 64u);
        QCOMPARE(s->closedHandle, fakeApiHandle(s));
    }

    void resultTexts()
    {
        // One row of each family, the edges of the table, and codes it lacks.
        QCOMPARE(CtlResultToString(0x00000000u), QStringLiteral("[CTL_RESULT_SUCCESS]"));
        QCOMPARE(CtlResultToString(0x40000001u), QStringLiteral("[CTL_RESULT_ERROR_NOT_INITIALIZED]"));
        QCOMPARE(CtlResultToString(0x4000001Au), QStringLiteral("[CTL_RESULT_ERROR_INVALID_OPERATION_TYPE]"));
        QCOMPARE(CtlResultToString(0x4000FFFFu), QStringLiteral("[CTL_RESULT_ERROR_UNKNOWN]"));
        QCOMPARE(CtlResultToString(0x44000009u), QStringLiteral("[CTL_RESULT_ERROR_CORE_OVERCLOCK_DEPRECATED_API]"));
        QCOMPARE(CtlResultToString(0x4400000Eu),
                 QStringLiteral("[CTL_RESULT_ERROR_CORE_OVERCLOCK_INVALID_CUSTOM_VF_CURVE]"));
        for (ctl_result_t unknown : {0x40000026u, 0x40000005u, 0x40000004u, 0x4400000Au, 0xFFFFFFFFu})
            QCOMPARE(CtlResultToString(unknown), QStringLiteral("[Unknown Error]"));
    }
};

QTEST_GUILESS_MAIN(GpuInformationTest)
#include "tst_gpu_information.moc"
