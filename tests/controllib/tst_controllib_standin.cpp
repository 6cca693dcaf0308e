// libControlLib.so, the stand-in control library, read against real sysfs
// captures of Arc cards and against trees made here.
#include "standin.h"

#include "gpu/known_card.h"
#include "sim/controllib/sysfs_fdinfo.h"
#include "sim/controllib/sysfs_kernel.h"
#include "sim/controllib/sysfs_pci.h"

#include <QTemporaryDir>

#include <sys/utsname.h>

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
const QList<PciFn> kB580InX16Slot{kAmdRootPort, kSwitchUp16, kSwitchDown, kB580};

QByteArray hex4(quint16 v) { return "0x" + QByteArray::number(v, 16).rightJustified(4, '0') + '\n'; }

// A card laid out as sysfs lays it out: the chain of PCI functions from the
// root port down to the GPU (last), the driver link and class/drm/<card>.
// Returns the GPU's folder, empty when something could not be made.
QString makeCard(const QString &root, const QString &card, const QList<PciFn> &chain, const QByteArray &driver = "xe")
{
    QString dir = root + "/devices/pci0000:00";
    for (const PciFn &f : chain) {
        dir += '/' + f.address;
        if (!writeFile(dir + "/vendor", hex4(f.vendor)) || !writeFile(dir + "/device", hex4(f.device))
            || !writeFile(dir + "/class", f.cls + '\n') || !writeFile(dir + "/current_link_speed", f.speed + '\n')
            || !writeFile(dir + "/current_link_width", QByteArray::number(f.width) + '\n')
            || !writeFile(dir + "/max_link_speed", (f.maxSpeed.isEmpty() ? f.speed : f.maxSpeed) + '\n')
            || !writeFile(dir + "/max_link_width", QByteArray::number(f.maxWidth ? f.maxWidth : f.width) + '\n'))
            return {};
    }
    const QString drv = root + "/bus/pci/drivers/" + driver;
    const QString drm = dir + "/drm/" + card;
    if (!QDir().mkpath(drv) || !writeFile(dir + "/subsystem_vendor", hex4(0x1f2e))
        || !writeFile(dir + "/subsystem_device", hex4(0x4158)) || !writeFile(dir + "/revision", "0x00\n")
        || !QFile::link(QDir(dir).relativeFilePath(drv), dir + "/driver") || !QDir().mkpath(drm)
        || !QFile::link("../../../" + chain.last().address, drm + "/device") || !QDir().mkpath(root + "/class/drm")
        || !QFile::link(QDir(root + "/class/drm").relativeFilePath(drm), root + "/class/drm/" + card))
        return {};
    return dir;
}

QByteArray resourceWithBar2(quint64 size)
{
    auto line = [](quint64 s, quint64 e, quint64 f) {
        auto h = [](quint64 v) { return "0x" + QByteArray::number(v, 16).rightJustified(16, '0'); };
        return h(s) + ' ' + h(e) + ' ' + h(f) + '\n';
    };
    const quint64 base = 0x7800000000ull;
    QByteArray r = line(0xf5000000ull, 0xf5ffffffull, 0x40200) + line(0, 0, 0)
                   + (size ? line(base, base + size - 1, 0x14220c) : line(0, 0, 0));
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
    QTemporaryDir noProcesses;

private slots:
    void initTestCase()
    {
        QVERIFY2(lib.loaded(), dlerror());
        QVERIFY2(QFileInfo(capture("arc-a380-xe")).isDir(), "the sysfs captures are missing; set TARVELL_SYSFS_CAPTURES");
        qputenv("CTL_PROC_ROOT", QFile::encodeName(noProcesses.path())); // never the real /proc
    }

    // Only Intel display functions on xe or i915 are adapters.
    void adapterFilter()
    {
        QTemporaryDir tmp;
        const QString r = tmp.path();
        QVERIFY(!makeCard(r, "card0", {kAmdRootPort, {"0000:05:00.0", 0x1002, 0x744c, "0x030000", "16.0 GT/s PCIe", 16}}, "amdgpu").isEmpty());
        QVERIFY(!makeCard(r, "card1", {kIntelRootPort, {"0000:06:00.0", 0x8086, 0x56a0, "0x030000", "2.5 GT/s PCIe", 1}}, "vfio-pci").isEmpty());
        // Probed before the iGPU, the card still comes second: the list is in slot order.
        QVERIFY(!makeCard(r, "card2", kB580InX16Slot).isEmpty());
        QVERIFY(!makeCard(r, "card5", {{"0000:00:02.0", 0x8086, 0xa780, "0x030000", "Unknown", 0}}, "i915").isEmpty());
        QVERIFY(QDir().mkpath(r + "/class/drm/card2-DP-1")); // a connector
        QVERIFY(QFile::link("card2", r + "/class/drm/renderD128"));

        SysfsRoot root(r);
        Session s(lib);
        QVERIFY(s.has(2));
        ctl_device_adapter_properties_t p;
        QCOMPARE(lib.query("ctlGetDeviceProperties", s[0], p, 2), CTL_RESULT_SUCCESS);
        QCOMPARE(p.pci_device_id, 0xA780u);
        QCOMPARE(QString(p.name), QString("Intel(R) Graphics"));
        QCOMPARE(lib.query("ctlGetDeviceProperties", s[1], p, 2), CTL_RESULT_SUCCESS);
        QVERIFY(matchesKnownCard(p));
        QCOMPARE(p.adapter_bdf_bus, 3u);
    }

    void slotLink_data()
    {
        QTest::addColumn<QList<PciFn>>("chain");
        QTest::addColumn<int>("maxGen");
        QTest::addColumn<int>("maxWidth");
        QTest::addColumn<int>("curGen");
        QTest::addColumn<int>("curWidth");
        QTest::newRow("PCIe 4.0 X16 through the card switch") << kB580InX16Slot << 4 << 16 << 4 << 16;
        PciFn slow = kSwitchUp16;
        slow.speed = "8.0 GT/s PCIe";
        slow.width = 8;
        slow.maxSpeed = "16.0 GT/s PCIe";
        slow.maxWidth = 16;
        QTest::newRow("in a 3.0 x8 slot") << QList<PciFn>{kAmdRootPort, slow, kSwitchDown, kB580} << 4 << 16 << 3 << 8;
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
        PciFn down = kSwitchUp16;
        down.speed = down.maxSpeed = "Unknown";
        QTest::newRow("link down") << QList<PciFn>{kAmdRootPort, down, kSwitchDown, kB580} << -1 << 16 << -1 << 16;
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
        Session s(lib);
        QVERIFY(s.has(1));
        ctl_pci_properties_t p;
        QCOMPARE(lib.query("ctlPciGetProperties", s[0], p), CTL_RESULT_SUCCESS);
        QCOMPARE(p.maxSpeed.gen, maxGen);
        QCOMPARE(p.maxSpeed.width, maxWidth);
        ctl_pci_state_t st;
        QCOMPARE(lib.query("ctlPciGetState", s[0], st), CTL_RESULT_SUCCESS);
        QCOMPARE(st.speed.gen, curGen);
        QCOMPARE(st.speed.width, curWidth);
        // 128b/130b coding from 8 GT/s on; unknown stays unknown.
        QCOMPARE(ctlsim::linkBandwidth(4, 16), std::int64_t(16e9 * 128 / 130 / 8 * 16));
        QCOMPARE(p.maxSpeed.maxBandwidth, maxGen < 0 ? -1 : ctlsim::linkBandwidth(maxGen, maxWidth));
    }

    void resizableBar_data()
    {
        QTest::addColumn<quint64>("bar2");
        QTest::addColumn<quint64>("vram"); // 0: no VRAM size file
        QTest::addColumn<bool>("enabled");
        QTest::newRow("16 GiB window over 12 GiB") << 16 * GiB << 12 * GiB << true;
        QTest::newRow("exactly the VRAM") << 12 * GiB << 12 * GiB << true;
        QTest::newRow("8 GiB window over 12 GiB") << 8 * GiB << 12 * GiB << false;
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
        const QString gpu = makeCard(tmp.path(), "card0", kB580InX16Slot);
        QVERIFY(!gpu.isEmpty());
        QVERIFY(writeFile(gpu + "/resource", resourceWithBar2(bar2)));
        if (vram)
            QVERIFY(writeFile(gpu + "/tile0/physical_vram_size_bytes", "0x" + QByteArray::number(vram, 16) + '\n'));
        SysfsRoot root(tmp.path());
        Session s(lib);
        QVERIFY(s.has(1));
        ctl_pci_properties_t p;
        QCOMPARE(lib.query("ctlPciGetProperties", s[0], p), CTL_RESULT_SUCCESS);
        QCOMPARE(bool(p.resizable_bar_enabled), enabled);
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

    void driverVersionFields_data()
    {
        QTest::addColumn<QString>("release");
        QTest::addColumn<quint64>("version");
        auto v = [](quint64 a, quint64 b, quint64 c, quint64 d) { return a << 48 | b << 32 | c << 16 | d; };
        QTest::newRow("debian") << "6.1.0-28-amd64" << v(6, 1, 0, 28);
        QTest::newRow("plus") << "6.17.0+deb13-amd64" << v(6, 17, 0, 0);
        QTest::newRow("too large for 16 bits") << "6.123456.1" << v(6, 65535, 1, 0);
        QTest::newRow("nonsense") << "abc" << v(0, 0, 0, 0);
    }
    void driverVersionFields()
    {
        QFETCH(QString, release);
        QFETCH(quint64, version);
        QCOMPARE(quint64(ctlsim::driverVersionFromRelease(release.toStdString())), version);
    }

    // The driver version is the running kernel's; nothing in a bare card's
    // tree answers voltage, VRAM clock or any sensor, and the stand-in leaves
    // no stale bytes behind in those items.
    void bareCardTree()
    {
        QTemporaryDir tmp;
        QVERIFY(!makeCard(tmp.path(), "card0", kB580InX16Slot).isEmpty());
        SysfsRoot root(tmp.path());
        Session s(lib);
        QVERIFY(s.has(1));
        ctl_device_adapter_properties_t p;
        QCOMPARE(lib.query("ctlGetDeviceProperties", s[0], p, 2), CTL_RESULT_SUCCESS);
        utsname u{};
        QCOMPARE(uname(&u), 0);
        const QStringList parts = QString(u.release).split('.');
        QVERIFY(parts.size() >= 2);
        QCOMPARE(quint64(p.driver_version >> 48), parts[0].toULongLong());
        QCOMPARE(quint64(p.driver_version >> 32 & 0xFFFF), parts[1].toULongLong());

        ctl_power_telemetry_t t;
        std::memset(static_cast<void *>(&t), 0xA5, sizeof t);
        t.Size = sizeof t;
        QCOMPARE(lib.fn<pfn_ctlPowerTelemetryGet>("ctlPowerTelemetryGet")(s[0], &t), CTL_RESULT_SUCCESS);
        QVERIFY(t.timeStamp.bSupported);
        for (const ctl_oc_telemetry_item_t *item :
             {&t.gpuVoltage, &t.vramCurrentClockFrequency, &t.gpuCurrentClockFrequency, &t.gpuCurrentTemperature,
              &t.vramCurrentTemperature, &t.totalCardEnergyCounter, &t.gpuEnergyCounter, &t.globalActivityCounter,
              &t.gpuOverVoltagePercent, &t.gpuPowerPercent, &t.gpuTemperaturePercent, &t.fanSpeed[0]}) {
            QVERIFY(!item->bSupported);
            QCOMPARE(item->value.datadouble, 0.0);
        }
        QVERIFY(!t.psu[0].bSupported);
    }

    // Every entry point the stand-in does not serve answers not implemented.
    void otherEntryPointsNotImplemented()
    {
        const QSet<QString> served{"ctlEnumerateDevices", "ctlGetDeviceProperties", "ctlPowerTelemetryGet",
                                   "ctlPciGetProperties", "ctlPciGetState"};
        int checked = 0;
#define CHECK_ENTRY(name, ...)                                               \
    {                                                                        \
        const auto f = lib.fn<pfn_##name>(#name);                            \
        QVERIFY2(f, #name " is not exported");                               \
        if (!served.contains(#name)) {                                       \
            QCOMPARE(callWithDefaults(f), CTL_RESULT_ERROR_NOT_IMPLEMENTED); \
            ++checked;                                                       \
        }                                                                    \
    }
        CTL_FORWARDED_ENTRY_POINTS(CHECK_ENTRY, CHECK_ENTRY, CHECK_ENTRY, CHECK_ENTRY, CHECK_ENTRY)
#undef CHECK_ENTRY
        QCOMPARE(checked, CTL_FORWARDED_ENTRY_POINT_COUNT - served.size());
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
        const QString gpu = makeCard(tmp.path(), "card0", kB580InX16Slot);
        QVERIFY(!gpu.isEmpty());
        SysfsRoot root(tmp.path());

        ctl_api_handle_t api = nullptr;
        QCOMPARE(lib.fn<pfn_ctlInit>("ctlInit")(nullptr, &api), CTL_RESULT_ERROR_INVALID_NULL_POINTER);
        QCOMPARE(lib.init(&api, ctlMakeVersion(2, 0)), CTL_RESULT_ERROR_UNSUPPORTED_VERSION);
        QVERIFY(!api);
        QCOMPARE(lib.init(&api), CTL_RESULT_SUCCESS);
        const auto adapters = lib.adapters(api);
        QCOMPARE(adapters.size(), size_t(1));

        // The card goes away between the scan and the read.
        QVERIFY(QDir().rename(gpu, tmp.path() + "/gone"));
        ctl_power_telemetry_t t;
        QCOMPARE(lib.query("ctlPowerTelemetryGet", adapters[0], t, 1), CTL_RESULT_ERROR_DEVICE_LOST);
        QVERIFY(QDir().rename(tmp.path() + "/gone", gpu));

        ctl_power_telemetry_t small{};
        small.Size = 64;
        QCOMPARE(lib.fn<pfn_ctlPowerTelemetryGet>("ctlPowerTelemetryGet")(adapters[0], &small),
                 CTL_RESULT_ERROR_INVALID_SIZE);
        ctl_device_adapter_properties_t p{};
        char shortId[4];
        p.Size = sizeof p;
        p.pDeviceID = shortId;
        p.device_id_size = sizeof shortId;
        QCOMPARE(lib.fn<pfn_ctlGetDeviceProperties>("ctlGetDeviceProperties")(adapters[0], &p),
                 CTL_RESULT_ERROR_INVALID_SIZE);

        // Once closed, the handles are refused, not followed.
        QCOMPARE(lib.close(api), CTL_RESULT_SUCCESS);
        QCOMPARE(lib.close(api), CTL_RESULT_ERROR_INVALID_ARGUMENT);
        QCOMPARE(lib.query("ctlPowerTelemetryGet", adapters[0], t, 1), CTL_RESULT_ERROR_INVALID_ARGUMENT);
        uint32_t count = 0;
        QCOMPARE(lib.fn<pfn_ctlEnumerateDevices>("ctlEnumerateDevices")(api, &count, nullptr),
                 CTL_RESULT_ERROR_INVALID_ARGUMENT);

        // No cards at all is an empty list, not an error.
        QTemporaryDir empty;
        SysfsRoot none(empty.path());
        Session s(lib);
        QVERIFY(s.has(0));
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
