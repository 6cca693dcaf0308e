// libControlLib.so, the stand-in control library, read against real sysfs
// captures of Arc cards and against trees made here.
#include "standin.h"

#include "gpu/known_card.h"
#include "sim/controllib/sysfs_kernel.h"
#include "sim/controllib/sysfs_pci.h"

#include <QTemporaryDir>

#include <sys/utsname.h>

#include <cmath>
#include <cstring>

using namespace testing;

namespace {

struct PciFn {
    QString address;
    quint16 vendor;
    quint16 device;
    QByteArray cls;
    QByteArray speed; // current and max alike unless maxSpeed is set
    int width;
    QByteArray maxSpeed = {};
    int maxWidth = 0;
};

const PciFn kAmdRootPort{"0000:00:01.1", 0x1022, 0x14db, "0x060400", "16.0 GT/s PCIe", 16};
const PciFn kIntelRootPort{"0000:00:1c.0", 0x8086, 0x7ab8, "0x060400", "8.0 GT/s PCIe", 4};
const PciFn kSwitchUp16{"0000:01:00.0", 0x8086, 0xe2ff, "0x060400", "16.0 GT/s PCIe", 16};
const PciFn kSwitchDown{"0000:02:01.0", 0x8086, 0xe2f0, "0x060400", "2.5 GT/s PCIe", 1};
const PciFn kB580{"0000:03:00.0", 0x8086, 0xe20b, "0x030000", "2.5 GT/s PCIe", 1};

bool writePciFn(const QString &dir, const PciFn &f)
{
    auto hex = [](quint16 v) { return "0x" + QByteArray::number(v, 16).rightJustified(4, '0') + '\n'; };
    return writeFile(dir + "/vendor", hex(f.vendor)) && writeFile(dir + "/device", hex(f.device))
           && writeFile(dir + "/class", f.cls + '\n') && writeFile(dir + "/current_link_speed", f.speed + '\n')
           && writeFile(dir + "/current_link_width", QByteArray::number(f.width) + '\n')
           && writeFile(dir + "/max_link_speed", (f.maxSpeed.isEmpty() ? f.speed : f.maxSpeed) + '\n')
           && writeFile(dir + "/max_link_width", QByteArray::number(f.maxWidth ? f.maxWidth : f.width) + '\n');
}

// A card laid out as sysfs lays it out: the chain of PCI functions from the
// root port down to the GPU (last), the driver link and class/drm/<card>.
// Returns the GPU's folder.
QString makeCard(const QString &root, const QString &card, const QList<PciFn> &chain,
                 const QByteArray &driver = "xe", quint16 subVendor = 0x1f2e, quint16 subDevice = 0x4158)
{
    QString dir = root + "/devices/pci0000:00";
    for (const PciFn &f : chain) {
        dir += '/' + f.address;
        if (!writePciFn(dir, f))
            return {};
    }
    auto hex = [](quint16 v) { return "0x" + QByteArray::number(v, 16).rightJustified(4, '0') + '\n'; };
    const QString drv = root + "/bus/pci/drivers/" + driver;
    if (!QDir().mkpath(drv) || !writeFile(dir + "/subsystem_vendor", hex(subVendor))
        || !writeFile(dir + "/subsystem_device", hex(subDevice)) || !writeFile(dir + "/revision", "0x00\n")
        || !QFile::link(QDir(dir).relativeFilePath(drv), dir + "/driver")
        || !QDir().mkpath(dir + "/drm/" + card)
        || !QFile::link("../../../" + chain.last().address, dir + "/drm/" + card + "/device")
        || !QDir().mkpath(root + "/class/drm")
        || !QFile::link(QDir(root + "/class/drm").relativeFilePath(dir + "/drm/" + card), root + "/class/drm/" + card))
        return {};
    return dir;
}

QByteArray resource(quint64 bar2Start, quint64 bar2Size)
{
    auto line = [](quint64 s, quint64 e, quint64 f) {
        auto h = [](quint64 v) { return "0x" + QByteArray::number(v, 16).rightJustified(16, '0'); };
        return h(s) + ' ' + h(e) + ' ' + h(f) + '\n';
    };
    QByteArray r = line(0xf5000000ull, 0xf5ffffffull, 0x40200) + line(0, 0, 0)
                   + (bar2Size ? line(bar2Start, bar2Start + bar2Size - 1, 0x14220c) : line(0, 0, 0));
    for (int i = 3; i < 13; ++i)
        r += line(0, 0, 0);
    return r;
}

bool matchesKnownCard(const ctl_device_adapter_properties_t &p)
{
    for (const auto &row : known_card::kRows)
        if (row.vendorId == p.pci_vendor_id && row.deviceId == p.pci_device_id
            && row.subsystemId == p.pci_subsys_id && row.subsystemVendorId == p.pci_subsys_vendor_id)
            return true;
    return false;
}

constexpr quint64 GiB = 1ull << 30;

} // namespace

Q_DECLARE_METATYPE(QList<PciFn>)

class TestControlLibStandIn : public QObject {
    Q_OBJECT

    StandIn lib;

private slots:
    void initTestCase()
    {
        QVERIFY2(lib.loaded(), dlerror());
        QVERIFY2(QFileInfo(capture("arc-b580-linux-6.16")).isDir(),
                 "the sysfs captures are missing; set TARVELL_SYSFS_CAPTURES");
    }

    // Intel's own B580 board on Linux 6.16, as captured.
    void b580CaptureIdentity()
    {
        SysfsRoot root(capture("arc-b580-linux-6.16"));
        ctl_api_handle_t api = nullptr;
        QCOMPARE(lib.init(&api), CTL_RESULT_SUCCESS);
        const auto adapters = lib.adapters(api);
        QCOMPARE(adapters.size(), size_t(1));

        ctl_device_adapter_properties_t p;
        uint64_t id = 0;
        p.pDeviceID = &id;
        QCOMPARE(lib.properties(adapters[0], p), CTL_RESULT_SUCCESS);
        QCOMPARE(p.device_type, uint32_t(CTL_DEVICE_TYPE_GRAPHICS));
        QCOMPARE(p.pci_vendor_id, 0x8086u);
        QCOMPARE(p.pci_device_id, 0xE20Bu);
        QCOMPARE(p.pci_subsys_vendor_id, uint16_t(0x8086));
        QCOMPARE(p.pci_subsys_id, uint16_t(0x1100));
        QCOMPARE(p.rev_id, 0u);
        QCOMPARE(QString(p.name), QString("Intel(R) Arc(TM) B580 Graphics"));
        QCOMPARE(p.Frequency, 2850u);
        // Not this maker's board, so not the known card.
        QVERIFY(!matchesKnownCard(p));
        QCOMPARE(lib.close(api), CTL_RESULT_SUCCESS);
    }

    void b580CaptureTelemetry()
    {
        SysfsRoot root(capture("arc-b580-linux-6.16"));
        ctl_api_handle_t api = nullptr;
        QCOMPARE(lib.init(&api), CTL_RESULT_SUCCESS);
        const auto adapters = lib.adapters(api);
        QCOMPARE(adapters.size(), size_t(1));
        ctl_power_telemetry_t t;
        QCOMPARE(lib.telemetry(adapters[0], t), CTL_RESULT_SUCCESS);
        QCOMPARE(t.Size, uint32_t(sizeof t));

        QVERIFY(t.gpuCurrentTemperature.bSupported);
        QCOMPARE(t.gpuCurrentTemperature.value.datadouble, 46.0); // temp2, "pkg"
        QVERIFY(t.vramCurrentTemperature.bSupported);
        QCOMPARE(t.vramCurrentTemperature.value.datadouble, 48.0); // temp3, "vram"
        QCOMPARE(t.gpuCurrentTemperature.units, CTL_UNITS_TEMPERATURE_CELSIUS);

        // energy1 ("card") reads 0 on this kernel: the board does not report
        // it, so the item is not there, rather than a card that never drew power.
        QVERIFY(!t.totalCardEnergyCounter.bSupported);
        QCOMPARE(t.totalCardEnergyCounter.value.datadouble, 0.0);
        QVERIFY(t.gpuEnergyCounter.bSupported);
        QCOMPARE(t.gpuEnergyCounter.value.datadouble, 29523.753173);
        QCOMPARE(t.gpuEnergyCounter.units, CTL_UNITS_ENERGY_JOULES);

        QVERIFY(t.gpuCurrentClockFrequency.bSupported);
        QCOMPARE(t.gpuCurrentClockFrequency.value.datadouble, 400.0); // act_freq, not a fixed guess
        QVERIFY(t.fanSpeed[0].bSupported);
        QCOMPARE(t.fanSpeed[0].value.datadouble, 0.0);
        QVERIFY(t.fanSpeed[1].bSupported);
        QCOMPARE(t.fanSpeed[1].value.datadouble, 418.0);
        QVERIFY(!t.fanSpeed[3].bSupported);

        QVERIFY(t.timeStamp.bSupported);
        QVERIFY(t.timeStamp.value.datadouble > 0.0);
        QVERIFY(t.globalActivityCounter.bSupported);
        QCOMPARE(t.globalActivityCounter.value.datadouble,
                 std::max(0.0, t.timeStamp.value.datadouble - 848.095));

        QVERIFY(!t.gpuVoltage.bSupported);
        QVERIFY(!t.vramCurrentClockFrequency.bSupported);
        QCOMPARE(lib.close(api), CTL_RESULT_SUCCESS);
    }

    // The GPU's own link (2.5 GT/s x1) is the card switch's; the capture holds
    // no port above it, so the slot link is unknown rather than that one.
    void b580CaptureLinkAndBar()
    {
        SysfsRoot root(capture("arc-b580-linux-6.16"));
        ctl_api_handle_t api = nullptr;
        QCOMPARE(lib.init(&api), CTL_RESULT_SUCCESS);
        const auto adapters = lib.adapters(api);
        QCOMPARE(adapters.size(), size_t(1));
        ctl_pci_properties_t p;
        QCOMPARE(lib.pciProperties(adapters[0], p), CTL_RESULT_SUCCESS);
        QCOMPARE(p.maxSpeed.gen, -1);
        QCOMPARE(p.maxSpeed.width, -1);
        QCOMPARE(p.address.bus, 0x0bu); // the flattened folder has no address; the uevent names it
        // Config space shows BAR2 resized to 16 GiB.
        QVERIFY(p.resizable_bar_supported);
        QVERIFY(p.resizable_bar_enabled);
        QCOMPARE(lib.close(api), CTL_RESULT_SUCCESS);
    }

    // Sensors are found by label: renumbered, they are still the same ones.
    void sensorsByLabelNotIndex()
    {
        QTemporaryDir tmp;
        QVERIFY(copyTree(capture("arc-b580-linux-6.16"), tmp.path()));
        const QString hw = tmp.path() + "/class/drm/card1/device/hwmon/hwmon4";
        for (const char *f : {"temp2_input", "temp2_label", "temp3_input", "temp3_label", "energy1_input",
                              "energy1_label", "energy2_input", "energy2_label"})
            QVERIFY(QFile::remove(hw + '/' + f));
        QVERIFY(writeFile(hw + "/temp1_input", "71000\n") && writeFile(hw + "/temp1_label", "vram\n"));
        QVERIFY(writeFile(hw + "/temp5_input", "64500\n") && writeFile(hw + "/temp5_label", "pkg\n"));
        QVERIFY(writeFile(hw + "/temp2_input", "99000\n") && writeFile(hw + "/temp2_label", "mctrl\n"));
        QVERIFY(writeFile(hw + "/energy3_input", "5000000\n") && writeFile(hw + "/energy3_label", "pkg\n"));
        QVERIFY(writeFile(hw + "/energy2_input", "9000000\n") && writeFile(hw + "/energy2_label", "card\n"));

        SysfsRoot root(tmp.path());
        ctl_api_handle_t api = nullptr;
        QCOMPARE(lib.init(&api), CTL_RESULT_SUCCESS);
        const auto adapters = lib.adapters(api);
        QCOMPARE(adapters.size(), size_t(1));
        ctl_power_telemetry_t t;
        QCOMPARE(lib.telemetry(adapters[0], t), CTL_RESULT_SUCCESS);
        QCOMPARE(t.gpuCurrentTemperature.value.datadouble, 64.5);
        QCOMPARE(t.vramCurrentTemperature.value.datadouble, 71.0);
        QCOMPARE(t.gpuEnergyCounter.value.datadouble, 5.0);
        QVERIFY(t.totalCardEnergyCounter.bSupported);
        QCOMPARE(t.totalCardEnergyCounter.value.datadouble, 9.0);
        QCOMPARE(lib.close(api), CTL_RESULT_SUCCESS);
    }

    // An A380 on xe: another Intel adapter, and a sleeping GT's 0 MHz.
    void a380Capture()
    {
        SysfsRoot root(capture("arc-a380-xe"));
        ctl_api_handle_t api = nullptr;
        QCOMPARE(lib.init(&api), CTL_RESULT_SUCCESS);
        const auto adapters = lib.adapters(api);
        QCOMPARE(adapters.size(), size_t(1));
        ctl_device_adapter_properties_t p;
        QCOMPARE(lib.properties(adapters[0], p), CTL_RESULT_SUCCESS);
        QCOMPARE(p.pci_vendor_id, 0x8086u);
        QCOMPARE(p.pci_device_id, 0x56A5u);
        QCOMPARE(p.pci_subsys_vendor_id, uint16_t(0x1849));
        QCOMPARE(p.pci_subsys_id, uint16_t(0x6004));
        QCOMPARE(p.rev_id, 5u);
        QCOMPARE(QString(p.name), QString("Intel(R) Arc(TM) A380 Graphics"));
        QVERIFY(!matchesKnownCard(p));

        ctl_power_telemetry_t t;
        QCOMPARE(lib.telemetry(adapters[0], t), CTL_RESULT_SUCCESS);
        QVERIFY(t.gpuCurrentClockFrequency.bSupported);
        QCOMPARE(t.gpuCurrentClockFrequency.value.datadouble, 0.0);
        QCOMPARE(t.gpuCurrentTemperature.value.datadouble, 56.0);
        QCOMPARE(t.vramCurrentTemperature.value.datadouble, 54.0);
        QVERIFY(!t.totalCardEnergyCounter.bSupported); // no card sensor at all
        QCOMPARE(t.gpuEnergyCounter.value.datadouble, 59540.97052);
        QCOMPARE(t.fanSpeed[0].value.datadouble, 945.0);
        QCOMPARE(lib.close(api), CTL_RESULT_SUCCESS);
    }

    // Both cards in one machine come in card-number order.
    void twoAdaptersInCardOrder()
    {
        QTemporaryDir tmp;
        QVERIFY(copyTree(capture("arc-b580-linux-6.16") + "/class/drm/card1", tmp.path() + "/class/drm/card3"));
        QVERIFY(copyTree(capture("arc-a380-xe") + "/class/drm/card0", tmp.path() + "/class/drm/card0"));
        SysfsRoot root(tmp.path());
        ctl_api_handle_t api = nullptr;
        QCOMPARE(lib.init(&api), CTL_RESULT_SUCCESS);
        const auto adapters = lib.adapters(api);
        QCOMPARE(adapters.size(), size_t(2));
        ctl_device_adapter_properties_t p;
        QCOMPARE(lib.properties(adapters[0], p), CTL_RESULT_SUCCESS);
        QCOMPARE(p.pci_device_id, 0x56A5u);
        QCOMPARE(lib.properties(adapters[1], p), CTL_RESULT_SUCCESS);
        QCOMPARE(p.pci_device_id, 0xE20Bu);

        // A count smaller than the list fills only that many.
        ctl_device_adapter_handle_t one[2] = {nullptr, reinterpret_cast<ctl_device_adapter_handle_t>(0x1)};
        uint32_t count = 1;
        QCOMPARE(lib.fn<pfn_ctlEnumerateDevices>("ctlEnumerateDevices")(api, &count, one), CTL_RESULT_SUCCESS);
        QCOMPARE(count, 1u);
        QCOMPARE(one[0], adapters[0]);
        QCOMPARE(one[1], reinterpret_cast<ctl_device_adapter_handle_t>(0x1));
        QCOMPARE(lib.close(api), CTL_RESULT_SUCCESS);
    }

    // Only Intel display functions on xe or i915 are adapters.
    void adapterFilter()
    {
        QTemporaryDir tmp;
        const QString r = tmp.path();
        QVERIFY(!makeCard(r, "card0", {kAmdRootPort, {"0000:05:00.0", 0x1002, 0x744c, "0x030000", "16.0 GT/s PCIe", 16}}, "amdgpu").isEmpty());
        QVERIFY(!makeCard(r, "card1", {kIntelRootPort, {"0000:06:00.0", 0x8086, 0x56a0, "0x030000", "2.5 GT/s PCIe", 1}}, "vfio-pci").isEmpty());
        QVERIFY(!makeCard(r, "card2", {{"0000:00:02.0", 0x8086, 0xa780, "0x030000", "Unknown", 0}}, "i915").isEmpty());
        QVERIFY(!makeCard(r, "card4", {kAmdRootPort, kSwitchUp16, kSwitchDown, kB580}).isEmpty());
        // A connector of card4 and a render node are not adapters.
        QVERIFY(QDir().mkpath(r + "/class/drm/card4-DP-1"));
        QVERIFY(QFile::link("card4", r + "/class/drm/renderD128"));

        SysfsRoot root(r);
        ctl_api_handle_t api = nullptr;
        QCOMPARE(lib.init(&api), CTL_RESULT_SUCCESS);
        const auto adapters = lib.adapters(api);
        QCOMPARE(adapters.size(), size_t(2));
        ctl_device_adapter_properties_t p;
        QCOMPARE(lib.properties(adapters[0], p), CTL_RESULT_SUCCESS);
        QCOMPARE(p.pci_device_id, 0xA780u);
        QCOMPARE(QString(p.name), QString("Intel(R) Graphics"));
        QCOMPARE(lib.properties(adapters[1], p), CTL_RESULT_SUCCESS);
        QCOMPARE(p.pci_device_id, 0xE20Bu);
        QVERIFY(matchesKnownCard(p));
        QCOMPARE(p.adapter_bdf_bus, 3u);
        QCOMPARE(lib.close(api), CTL_RESULT_SUCCESS);
    }

    void slotLink_data()
    {
        QTest::addColumn<QList<PciFn>>("chain");
        QTest::addColumn<int>("maxGen");
        QTest::addColumn<int>("maxWidth");
        QTest::addColumn<int>("curGen");
        QTest::addColumn<int>("curWidth");
        QTest::newRow("PCIe 4.0 X16 through the card switch")
            << QList<PciFn>{kAmdRootPort, kSwitchUp16, kSwitchDown, kB580} << 4 << 16 << 4 << 16;
        PciFn slow = kSwitchUp16;
        slow.speed = "8.0 GT/s PCIe";
        slow.width = 8;
        slow.maxSpeed = "16.0 GT/s PCIe";
        slow.maxWidth = 16;
        QTest::newRow("card in a 3.0 x8 slot") << QList<PciFn>{kAmdRootPort, slow, kSwitchDown, kB580} << 4 << 16 << 3 << 8;
        QTest::newRow("Intel root port is not the card's switch")
            << QList<PciFn>{kIntelRootPort, kSwitchUp16, kSwitchDown, kB580} << 4 << 16 << 4 << 16;
        PciFn direct = kB580;
        direct.speed = "5.0 GT/s PCIe";
        direct.width = 4;
        QTest::newRow("GPU straight in a root port") << QList<PciFn>{kIntelRootPort, direct} << 2 << 4 << 2 << 4;
        QTest::newRow("GPU behind a chipset switch")
            << QList<PciFn>{kAmdRootPort, {"0000:01:00.0", 0x1022, 0x43f4, "0x060400", "16.0 GT/s PCIe", 4},
                            {"0000:02:08.0", 0x1022, 0x43f5, "0x060400", "8.0 GT/s PCIe", 4}, direct}
            << 2 << 4 << 2 << 4;
        PciFn down = kSwitchDown;
        down.speed = "Unknown";
        PciFn up = kSwitchUp16;
        up.speed = "Unknown";
        up.maxSpeed = "Unknown";
        QTest::newRow("link down") << QList<PciFn>{kAmdRootPort, up, down, kB580} << -1 << 16 << -1 << 16;
    }
    void slotLink()
    {
        QFETCH(QList<PciFn>, chain);
        QFETCH(int, maxGen);
        QFETCH(int, maxWidth);
        QFETCH(int, curGen);
        QFETCH(int, curWidth);
        QTemporaryDir tmp;
        QVERIFY(!makeCard(tmp.path(), "card0", chain).isEmpty());
        SysfsRoot root(tmp.path());
        ctl_api_handle_t api = nullptr;
        QCOMPARE(lib.init(&api), CTL_RESULT_SUCCESS);
        const auto adapters = lib.adapters(api);
        QCOMPARE(adapters.size(), size_t(1));
        ctl_pci_properties_t p;
        QCOMPARE(lib.pciProperties(adapters[0], p), CTL_RESULT_SUCCESS);
        QCOMPARE(p.maxSpeed.gen, maxGen);
        QCOMPARE(p.maxSpeed.width, maxWidth);
        QCOMPARE(p.maxSpeed.maxBandwidth, ctlsim::linkBandwidth(maxGen, maxWidth));
        ctl_pci_state_t s;
        QCOMPARE(lib.pciState(adapters[0], s), CTL_RESULT_SUCCESS);
        QCOMPARE(s.speed.gen, curGen);
        QCOMPARE(s.speed.width, curWidth);
        QCOMPARE(lib.close(api), CTL_RESULT_SUCCESS);
    }

    void bandwidth()
    {
        // 16 GT/s, 128b/130b, 16 lanes: about 31.5 GB/s.
        QCOMPARE(ctlsim::linkBandwidth(4, 16), std::int64_t(16e9 * 128 / 130 / 8 * 16));
        QCOMPARE(ctlsim::linkBandwidth(1, 1), std::int64_t(250000000));
        QCOMPARE(ctlsim::linkBandwidth(-1, 16), std::int64_t(-1));
        QCOMPARE(ctlsim::linkBandwidth(4, -1), std::int64_t(-1));
        QCOMPARE(ctlsim::pcieGeneration("32.0 GT/s PCIe"), 5);
        QCOMPARE(ctlsim::pcieGeneration("Unknown"), -1);
    }

    void resizableBar_data()
    {
        QTest::addColumn<quint64>("bar2");
        QTest::addColumn<quint64>("vram"); // 0: no VRAM size file
        QTest::addColumn<bool>("enabled");
        QTest::newRow("16 GiB window over 12 GiB") << 16 * GiB << 12 * GiB << true;
        QTest::newRow("exactly the VRAM") << 12 * GiB << 12 * GiB << true;
        QTest::newRow("8 GiB window over 12 GiB") << 8 * GiB << 12 * GiB << false;
        QTest::newRow("256 MiB window") << 256ull * 1024 * 1024 << 12 * GiB << false;
        QTest::newRow("VRAM size unreadable, large window") << 16 * GiB << quint64(0) << true;
        QTest::newRow("VRAM size unreadable, 256 MiB window") << 256ull * 1024 * 1024 << quint64(0) << false;
        QTest::newRow("BAR2 unassigned") << quint64(0) << 12 * GiB << false;
    }
    void resizableBar()
    {
        QFETCH(quint64, bar2);
        QFETCH(quint64, vram);
        QFETCH(bool, enabled);
        QTemporaryDir tmp;
        const QString gpu = makeCard(tmp.path(), "card0", {kAmdRootPort, kSwitchUp16, kSwitchDown, kB580});
        QVERIFY(!gpu.isEmpty());
        QVERIFY(writeFile(gpu + "/resource", resource(0x7800000000ull, bar2)));
        if (vram)
            QVERIFY(writeFile(gpu + "/tile0/physical_vram_size_bytes", "0x" + QByteArray::number(vram, 16) + '\n'));
        SysfsRoot root(tmp.path());
        ctl_api_handle_t api = nullptr;
        QCOMPARE(lib.init(&api), CTL_RESULT_SUCCESS);
        const auto adapters = lib.adapters(api);
        QCOMPARE(adapters.size(), size_t(1));
        ctl_pci_properties_t p;
        QCOMPARE(lib.pciProperties(adapters[0], p), CTL_RESULT_SUCCESS);
        QCOMPARE(bool(p.resizable_bar_enabled), enabled);
        QCOMPARE(lib.close(api), CTL_RESULT_SUCCESS);
    }

    void rebarCapabilityChain()
    {
        // A broken chain pointing back at itself must end.
        std::string config(4096, '\0');
        config[0x100] = 0x0e;
        config[0x102] = 0x01;
        config[0x103] = 0x10; // next = 0x100: itself
        QVERIFY(!ctlsim::rebarFromConfig(config, 2).listsBar);
        // Too short to hold the extended space.
        QVERIFY(!ctlsim::rebarFromConfig(std::string(64, '\0'), 2).currentSize);

        const auto capture = readFile(testing::capture("arc-a380-xe") + "/class/drm/card0/device/config");
        const auto cap = ctlsim::rebarFromConfig(capture.toStdString(), 2);
        QVERIFY(cap.listsBar);
        QCOMPARE(cap.currentSize.value_or(0), quint64(8) * GiB);
        QVERIFY(!ctlsim::rebarFromConfig(capture.toStdString(), 0).listsBar);
    }

    void driverVersionFields_data()
    {
        QTest::addColumn<QString>("release");
        QTest::addColumn<quint64>("version");
        auto v = [](quint64 a, quint64 b, quint64 c, quint64 d) { return a << 48 | b << 32 | c << 16 | d; };
        QTest::newRow("debian") << "6.1.0-28-amd64" << v(6, 1, 0, 28);
        QTest::newRow("stable") << "6.16.3-amd64" << v(6, 16, 3, 0);
        QTest::newRow("plus") << "6.17.0+deb13-amd64" << v(6, 17, 0, 0);
        QTest::newRow("rc") << "6.18-rc4" << v(6, 18, 0, 0);
        QTest::newRow("huge") << "6.123456.1" << v(6, 65535, 1, 0);
        QTest::newRow("five parts") << "1.2.3.4.5" << v(1, 2, 3, 4);
        QTest::newRow("nonsense") << "abc" << v(0, 0, 0, 0);
        QTest::newRow("empty") << "" << v(0, 0, 0, 0);
    }
    void driverVersionFields()
    {
        QFETCH(QString, release);
        QFETCH(quint64, version);
        QCOMPARE(quint64(ctlsim::driverVersionFromRelease(release.toStdString())), version);
    }

    void driverVersionIsTheRunningKernel()
    {
        QTemporaryDir tmp;
        QVERIFY(!makeCard(tmp.path(), "card0", {kAmdRootPort, kSwitchUp16, kSwitchDown, kB580}).isEmpty());
        SysfsRoot root(tmp.path());
        ctl_api_handle_t api = nullptr;
        QCOMPARE(lib.init(&api), CTL_RESULT_SUCCESS);
        const auto adapters = lib.adapters(api);
        QCOMPARE(adapters.size(), size_t(1));
        ctl_device_adapter_properties_t p;
        QCOMPARE(lib.properties(adapters[0], p), CTL_RESULT_SUCCESS);
        utsname u{};
        QCOMPARE(uname(&u), 0);
        const QStringList parts = QString(u.release).split('.');
        QVERIFY(parts.size() >= 2);
        QCOMPARE(quint64(p.driver_version >> 48), parts[0].toULongLong());
        QCOMPARE(quint64(p.driver_version >> 32 & 0xFFFF), parts[1].toULongLong());
        QCOMPARE(lib.close(api), CTL_RESULT_SUCCESS);
    }

    // A made-up tree with only what a bare card has: no VRAM clock or voltage
    // anywhere, no fans, no sensors.
    void unsupportedItems()
    {
        QTemporaryDir tmp;
        QVERIFY(!makeCard(tmp.path(), "card0", {kAmdRootPort, kSwitchUp16, kSwitchDown, kB580}).isEmpty());
        SysfsRoot root(tmp.path());
        ctl_api_handle_t api = nullptr;
        QCOMPARE(lib.init(&api), CTL_RESULT_SUCCESS);
        const auto adapters = lib.adapters(api);
        QCOMPARE(adapters.size(), size_t(1));
        ctl_power_telemetry_t t;
        std::memset(static_cast<void *>(&t), 0xA5, sizeof t); // the stand-in must not leave stale bytes
        t.Size = sizeof t;
        t.Version = 1;
        QCOMPARE(lib.fn<pfn_ctlPowerTelemetryGet>("ctlPowerTelemetryGet")(adapters[0], &t), CTL_RESULT_SUCCESS);
        QVERIFY(t.timeStamp.bSupported);
        for (const ctl_oc_telemetry_item_t *item :
             {&t.gpuVoltage, &t.vramCurrentClockFrequency, &t.gpuCurrentClockFrequency, &t.gpuCurrentTemperature,
              &t.vramCurrentTemperature, &t.totalCardEnergyCounter, &t.gpuEnergyCounter, &t.globalActivityCounter,
              &t.gpuOverVoltagePercent, &t.gpuPowerPercent, &t.gpuTemperaturePercent, &t.fanSpeed[0]}) {
            QVERIFY(!item->bSupported);
            QCOMPARE(item->value.datadouble, 0.0);
        }
        QCOMPARE(t.psu[0].bSupported, false);
        QCOMPARE(lib.close(api), CTL_RESULT_SUCCESS);
    }

    // Every entry point the stand-in does not serve answers not implemented
    // and touches nothing.
    void otherEntryPointsNotImplemented()
    {
        const QSet<QString> served{"ctlEnumerateDevices", "ctlGetDeviceProperties", "ctlPowerTelemetryGet",
                                   "ctlPciGetProperties", "ctlPciGetState"};
        int checked = 0;
#define CHECK_ENTRY(name, ...)                                                              \
    {                                                                                       \
        const auto f = lib.fn<pfn_##name>(#name);                                           \
        QVERIFY2(f, #name " is not exported");                                              \
        if (!served.contains(#name)) {                                                      \
            QCOMPARE(callWithDefaults(f), CTL_RESULT_ERROR_NOT_IMPLEMENTED);                \
            ++checked;                                                                      \
        }                                                                                   \
    }
        CTL_FORWARDED_ENTRY_POINTS(CHECK_ENTRY, CHECK_ENTRY, CHECK_ENTRY, CHECK_ENTRY, CHECK_ENTRY)
#undef CHECK_ENTRY
        QCOMPARE(checked, CTL_FORWARDED_ENTRY_POINT_COUNT - served.size());
    }

    void handlesAreChecked()
    {
        QTemporaryDir tmp;
        const QString gpu = makeCard(tmp.path(), "card0", {kAmdRootPort, kSwitchUp16, kSwitchDown, kB580});
        QVERIFY(!gpu.isEmpty());
        SysfsRoot root(tmp.path());

        const auto init = lib.fn<pfn_ctlInit>("ctlInit");
        ctl_api_handle_t api = nullptr;
        QCOMPARE(init(nullptr, &api), CTL_RESULT_ERROR_INVALID_NULL_POINTER);
        QCOMPARE(lib.init(&api, ctlMakeVersion(2, 0)), CTL_RESULT_ERROR_UNSUPPORTED_VERSION);
        QVERIFY(!api);

        ctl_init_args_t args{};
        args.Size = sizeof args;
        args.AppVersion = ctlMakeVersion(1, 1);
        QCOMPARE(init(&args, &api), CTL_RESULT_SUCCESS);
        QCOMPARE(ctlMajorVersion(args.SupportedVersion), uint16_t(1));
        const auto adapters = lib.adapters(api);
        QCOMPARE(adapters.size(), size_t(1));

        // The card goes away between the scan and the read.
        const QString moved = tmp.path() + "/gone";
        QVERIFY(QDir().rename(gpu, moved));
        ctl_power_telemetry_t t;
        QCOMPARE(lib.telemetry(adapters[0], t), CTL_RESULT_ERROR_DEVICE_LOST);
        QVERIFY(QDir().rename(moved, gpu));

        ctl_power_telemetry_t small{};
        small.Size = 64;
        QCOMPARE(lib.fn<pfn_ctlPowerTelemetryGet>("ctlPowerTelemetryGet")(adapters[0], &small),
                 CTL_RESULT_ERROR_INVALID_SIZE);
        ctl_device_adapter_properties_t p;
        char shortId[4];
        p.pDeviceID = shortId;
        p.device_id_size = sizeof shortId;
        p.Size = sizeof p;
        QCOMPARE(lib.fn<pfn_ctlGetDeviceProperties>("ctlGetDeviceProperties")(adapters[0], &p),
                 CTL_RESULT_ERROR_INVALID_SIZE);

        QCOMPARE(lib.close(api), CTL_RESULT_SUCCESS);
        // Closed: the handles are gone, not dangling.
        QCOMPARE(lib.close(api), CTL_RESULT_ERROR_INVALID_ARGUMENT);
        QCOMPARE(lib.telemetry(adapters[0], t), CTL_RESULT_ERROR_INVALID_ARGUMENT);
        QCOMPARE(lib.properties(adapters[0], p), CTL_RESULT_ERROR_INVALID_ARGUMENT);
        uint32_t count = 0;
        QCOMPARE(lib.fn<pfn_ctlEnumerateDevices>("ctlEnumerateDevices")(api, &count, nullptr),
                 CTL_RESULT_ERROR_INVALID_ARGUMENT);
        QCOMPARE(lib.fn<pfn_ctlEnumerateDevices>("ctlEnumerateDevices")(nullptr, &count, nullptr),
                 CTL_RESULT_ERROR_INVALID_NULL_HANDLE);
    }

    void noCardsAtAll()
    {
        QTemporaryDir tmp;
        SysfsRoot root(tmp.path());
        ctl_api_handle_t api = nullptr;
        QCOMPARE(lib.init(&api), CTL_RESULT_SUCCESS);
        uint32_t count = 7;
        QCOMPARE(lib.fn<pfn_ctlEnumerateDevices>("ctlEnumerateDevices")(api, &count, nullptr), CTL_RESULT_SUCCESS);
        QCOMPARE(count, 0u);
        QCOMPARE(lib.close(api), CTL_RESULT_SUCCESS);
    }

private:
    template <typename... A>
    static ctl_result_t callWithDefaults(ctl_result_t (*f)(A...))
    {
        return f(A{}...);
    }
};

QTEST_GUILESS_MAIN(TestControlLibStandIn)
#include "tst_controllib_standin.moc"
