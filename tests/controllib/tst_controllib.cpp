// The stand-in control library, libControlLib.so: real sysfs captures of
// Arc cards and variants of them for the kernels the program meets, replayed
// through it, the program's own GPU cycle and the Monitor page's reading of
// the dictionary; its engine shares and checks of handles and records; and
// the simulated card's tree it reads. Its number and address parsers are held
// to a reference over the sysfs fuzz corpus. Each replay case is a recipe in
// replay/: how to build the tree from a capture, what changes between the two
// cycles, and what the dictionary and the page must hold.
#include "gpu/ctl_api.h"
#include "gpu/gpu_information.h"
#include "sim/controllib/sysfs_fdinfo.h"
#include "sim/controllib/sysfs_pci.h"
#include "sim/sysfs/sysfs_sim.h"
#include "tests/common/files.h"

#include <QJSEngine>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <cstring>

#include <dlfcn.h>

namespace {

// Points the stand-in at a tree for the lifetime of the object.
struct SysfsRoot {
    explicit SysfsRoot(const QString &root) { qputenv("CTL_SYSFS_ROOT", QFile::encodeName(root)); }
    ~SysfsRoot() { qunsetenv("CTL_SYSFS_ROOT"); }
};

// Copies a folder tree; files come out writable whatever the source's mode.
inline bool copyTree(const QString &from, const QString &to)
{
    bool ok = QDir().mkpath(to);
    for (const QFileInfo &fi : QDir(from).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
        ok = ok && (fi.isDir() ? copyTree(fi.filePath(), to + '/' + fi.fileName())
                               : writeFile(to + '/' + fi.fileName(), readFile(fi.filePath())));
    return ok;
}

inline QString capture(const char *name) { return QStringLiteral(TV_SYSFS_CAPTURES "/") + name; }

// libControlLib.so opened privately, so its entry points never mix with any
// other definition of the same names in the test program.
struct StandIn {
    void *handle = dlopen(TV_STANDIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ~StandIn()
    {
        if (handle)
            dlclose(handle);
    }
    template <typename Fn>
    Fn fn(const char *name) const { return reinterpret_cast<Fn>(handle ? dlsym(handle, name) : nullptr); }
    ctl_result_t close(ctl_api_handle_t api) const { return fn<pfn_ctlClose>("ctlClose")(api); }
    // A fresh record whose size and version are set.
    ctl_result_t telemetry(ctl_device_adapter_handle_t a, ctl_power_telemetry_t &t) const
    {
        t = {};
        t.Size = sizeof t;
        t.Version = 1;
        return fn<pfn_ctlPowerTelemetryGet>("ctlPowerTelemetryGet")(a, &t);
    }
};

// One initialised library handle over the tree in CTL_SYSFS_ROOT and its adapters, closed when it goes.
struct Session {
    explicit Session(const StandIn &lib) : lib(lib)
    {
        ctl_init_args_t args{};
        args.Size = sizeof args;
        args.AppVersion = ctlMakeVersion(1, 1);
        const auto enumerate = lib.fn<pfn_ctlEnumerateDevices>("ctlEnumerateDevices");
        uint32_t count = 0;
        if (lib.fn<pfn_ctlInit>("ctlInit")(&args, &api) == CTL_RESULT_SUCCESS && !enumerate(api, &count, nullptr)) {
            adapters.resize(count);
            if (count && enumerate(api, &count, adapters.data()) != CTL_RESULT_SUCCESS)
                adapters.clear();
        }
    }
    ~Session()
    {
        if (api)
            lib.close(api);
    }

    const StandIn &lib;
    ctl_api_handle_t api = nullptr;
    std::vector<ctl_device_adapter_handle_t> adapters;
};

struct Recipe {
    QStringList setup, later; // tree directives before the first cycle, before the second
    QList<QPair<QString, QString>> expect, page;
};

Recipe parseRecipe(const QString &path)
{
    Recipe r;
    QStringList *steps = &r.setup;
    for (QString line : QString::fromUtf8(readFile(path)).split('\n')) {
        line = line.trimmed();
        const QString word = line.section(' ', 0, 0), rest = line.section(' ', 1);
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (word == "then") { // the second stage works in the same folder
            const QStringList bases = r.setup.filter(QRegularExpression("^base "));
            r.later = bases.mid(bases.size() - 1);
            steps = &r.later;
        } else if (word == "expect" || word == "page")
            (word == "expect" ? r.expect : r.page) << qMakePair(rest.section(' ', 0, 0), rest.section(' ', 1));
        else
            *steps << line;
    }
    return r;
}

// Paths are under the tree's root, or under the folder "base" named last.
// Counters "advance" at a rate per second of the time since the first cycle.
bool apply(const QStringList &steps, const QString &root, double elapsed)
{
    QString base = root;
    for (const QString &step : steps) {
        const QStringList w = step.split(' ');
        const QString path = base + '/' + w.value(1), text = step.section(' ', 2).replace("\\n", "\n");
        bool ok = w.size() >= 2;
        if (w[0] == "capture")
            ok = copyTree(capture(qPrintable(w[1])), root);
        else if (w[0] == "base")
            base = root + '/' + w[1];
        else if (w[0] == "remove")
            ok = QFileInfo(path).isDir() ? QDir(path).removeRecursively() : QFile::remove(path);
        else if (w[0] == "move")
            ok = QDir().rename(path, base + '/' + w.value(2));
        else if (w[0] == "write")
            ok = writeFile(path, text.toUtf8() + '\n');
        else if (w[0] == "link")
            ok = QDir().mkpath(QFileInfo(path).absolutePath()) && QFile::link(w.value(2), path);
        else if (w[0] == "advance") // the counter grows at a rate per second
            ok = writeFile(path, QByteArray::number(qint64(readFile(path).trimmed().toDouble()
                                                           + w.value(2).toDouble() * elapsed)) + '\n');
        else if (w[0] == "fdinfo") { // fdinfo PID FD TEXT: a process holding a DRM node
            const QString proc = root + "/proc/" + w.value(1);
            QFile::remove(proc + "/fd/" + w.value(2));
            ok = QDir().mkpath(proc + "/fd") && QFile::link("/dev/dri/renderD128", proc + "/fd/" + w.value(2))
                 && writeFile(proc + "/fdinfo/" + w.value(2), step.section(' ', 3).replace("\\n", "\n").toUtf8());
        } else
            ok = false;
        if (!ok) {
            qWarning() << "cannot apply" << step;
            return false;
        }
    }
    return true;
}

// "--" is a reading the card does not report; "~N" a rate within 8 %; text
// in quotes is taken as it stands, trailing spaces and all.
bool matches(const QVariant &v, const QString &expected)
{
    if (expected == "--")
        return v.userType() == QMetaType::Nullptr;
    if (expected.startsWith('~')) {
        const double want = expected.mid(1).toDouble();
        return v.isValid() && !v.isNull() && std::abs(v.toDouble() - want) <= 0.08 * want + 0.5;
    }
    if (v.userType() == QMetaType::Double)
        return v.toDouble() == expected.toDouble();
    const bool quoted = expected.size() >= 2 && expected.startsWith('"') && expected.endsWith('"');
    return v.toString() == (quoted ? expected.mid(1, expected.size() - 2) : expected);
}

// What the Monitor page shows for one monitoring reply: its own reading of
// the dictionary (Telemetry.js) applied to a fresh page's fields.
QVariantMap pageShows(const QVariantMap &facts)
{
    QJSEngine js;
    QString source = QString::fromUtf8(readFile(TV_TELEMETRY_JS));
    source.replace(".pragma library", "");
    js.evaluate(source, TV_TELEMETRY_JS);
    QVariantMap fields{{"fanSpeed", 0}, {"fanSpeedKnown", true}, {"board_Power", 0}, {"boardPowerKnown", true}};
    const QJSValue updates = js.globalObject().property("read").call({js.toScriptValue(facts), "deviceName"});
    for (int i = 0; i < updates.property("length").toInt(); ++i)
        fields[updates.property(i).property("field").toString()] = updates.property(i).property("value").toVariant();
    // The two number fields say "--" through the flag beside them.
    for (const auto &[field, flag] : {std::pair{"fanSpeed", "fanSpeedKnown"}, {"board_Power", "boardPowerKnown"}})
        if (!fields[flag].toBool())
            fields[field] = js.globalObject().property("NotAvailable").toString();
    return fields;
}

// The binding forgets the runtime path at every close.
struct RuntimePath {
    std::wstring path = QString::fromUtf8(TV_STANDIN_PATH).toStdWString();
    ctl_runtime_path_args_t args{sizeof(ctl_runtime_path_args_t), 0, {}, path.data()};
    void set() { ctlSetRuntimePath(&args); }
};

} // namespace

class TestControlLib : public QObject {
    Q_OBJECT

    StandIn lib;
    QTemporaryDir noProcesses;

    ctl_power_telemetry_t read(const QString &rootDir)
    {
        SysfsRoot root(rootDir);
        Session s(lib);
        ctl_power_telemetry_t t{};
        if (s.adapters.size() == 1)
            lib.telemetry(s.adapters[0], t);
        return t;
    }

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules("*.debug=false");
        QVERIFY2(lib.handle, dlerror());
        QVERIFY2(QFileInfo(capture("arc-a380-xe")).isDir(), "the sysfs captures are missing from tests/data/sysfs");
        qputenv("CTL_PROC_ROOT", QFile::encodeName(noProcesses.path())); // never the real /proc
    }

    void recipes_data()
    {
        QTest::addColumn<QString>("recipe");
        const QFileInfoList files = QDir(TV_REPLAY_DIR).entryInfoList({"*.txt"}, QDir::Files, QDir::Name);
        QVERIFY(files.size() >= 8);
        for (const QFileInfo &f : files)
            QTest::newRow(qPrintable(f.completeBaseName())) << f.filePath();
    }
    void recipes()
    {
        QFETCH(QString, recipe);
        const Recipe r = parseRecipe(recipe);
        QTemporaryDir tmp;
        QVERIFY(QDir().mkpath(tmp.path() + "/proc")); // never the real /proc
        QVERIFY(apply(r.setup, tmp.path(), 0));
        SysfsRoot root(tmp.path());
        qputenv("CTL_PROC_ROOT", QFile::encodeName(tmp.path() + "/proc"));

        // The library's clock is the replay's: the second cycle comes 0.6 s
        // after the first however long either takes.
        constexpr double kFirstCycle = 1000.0, kBetweenCycles = 0.6;
        const QString clockFile = tmp.filePath("clock");
        qputenv("CTL_CLOCK_FILE", QFile::encodeName(clockFile));
        const auto unsetClock = qScopeGuard([] { qunsetenv("CTL_CLOCK_FILE"); });
        gpu::GpuInformation info;
        QVariantMap facts, reply;
        RuntimePath runtime;
        QVERIFY(writeFile(clockFile, QByteArray::number(kFirstCycle)));
        runtime.set();
        info.refresh(facts, reply);
        QVERIFY(apply(r.later, tmp.path(), kBetweenCycles));
        QVERIFY(writeFile(clockFile, QByteArray::number(kFirstCycle + kBetweenCycles, 'f', 3)));
        runtime.set();
        info.refresh(facts, reply);
        qputenv("CTL_PROC_ROOT", QFile::encodeName(noProcesses.path()));
        // As the worker publishes them.
        facts["PsysPower"] = gpu::reading(info.rates().boardPower);
        facts["gpuChipPower"] = gpu::reading(info.rates().chipPower);
        facts["GPU_Utilization"] = gpu::reading(info.rates().utilisation * 100.0);
        facts["GPU_count"] = reply.value("GPU_count");
        runtime.set(); // the fan curve's cheap read, under names of its own
        const auto cheap = info.hottestTemperature(true);
        facts["curveHottest"] = cheap ? QVariant(cheap->hottestC) : gpu::notAvailable();
        facts["curveCritical"] = cheap && cheap->criticalC ? QVariant(*cheap->criticalC) : gpu::notAvailable();

        for (const auto &e : r.expect)
            QVERIFY2(matches(facts.value(e.first), e.second),
                     qPrintable(e.first + ": " + facts.value(e.first).toString() + ", expected " + e.second));
        const QVariantMap shown = pageShows(facts);
        for (const auto &p : r.page) {
            const QVariant v = shown.value(p.first);
            QVERIFY2(p.second.startsWith('~') ? matches(v.toDouble(), p.second) : v.toString() == p.second,
                     qPrintable(p.first + " shows " + v.toString() + ", expected " + p.second));
        }
    }

    // A chain whose next pointer leads back to itself must end; the A380's
    // real config space lists BAR2 at 8 GiB.
    void rebarCapabilityChain()
    {
        std::string config(4096, '\0');
        config[0x100] = 0x0e;
        config[0x102] = 0x01;
        config[0x103] = 0x10;
        QVERIFY(!ctlsim::rebarFromConfig(config, 2).listsBar);
        QVERIFY(!ctlsim::rebarFromConfig(std::string(64, '\0'), 2).currentSize); // no extended space
        const auto a380 = readFile(capture("arc-a380-xe") + "/class/drm/card0/device/config").toStdString();
        QCOMPARE(ctlsim::rebarFromConfig(a380, 2).currentSize.value_or(0), quint64(8) << 30);
        QVERIFY(!ctlsim::rebarFromConfig(a380, 0).listsBar);
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
        QCOMPARE(session.adapters.size(), size_t(1));
        const auto adapters = session.adapters;

        // The card goes away between the scan and the read.
        QVERIFY(QDir().rename(gpu, tmp.path() + "/gone"));
        ctl_power_telemetry_t t;
        QCOMPARE(lib.telemetry(adapters[0], t), CTL_RESULT_ERROR_DEVICE_LOST);
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
        QCOMPARE(lib.telemetry(adapters[0], t), CTL_RESULT_ERROR_INVALID_ARGUMENT);

        // Nothing in a bare card's tree answers voltage, VRAM clock or any
        // sensor, and no stale bytes are left behind in those items.
        Session bare(lib);
        std::memset(static_cast<void *>(&t), 0xA5, sizeof t);
        t.Size = sizeof t;
        QCOMPARE(lib.fn<pfn_ctlPowerTelemetryGet>("ctlPowerTelemetryGet")(bare.adapters.at(0), &t), CTL_RESULT_SUCCESS);
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

            // The temperature sensors alone, the fan curve's cheap read: the
            // GPU and the VRAM where the telemetry has them, here set through
            // the simulator's temperature file.
            QVERIFY(writeFile(tmp.path() + "/gpu-temp", "70\n"));
            card.setTemperatureFile(tmp.path() + "/gpu-temp");
            QVERIFY(card.advance(0.1));
            SysfsRoot root(tmp.path());
            Session session(lib);
            const auto sensors = lib.fn<pfn_ctlEnumTemperatureSensors>("ctlEnumTemperatureSensors");
            uint32_t n = 0;
            QCOMPARE(sensors(session.adapters.at(0), &n, nullptr), CTL_RESULT_SUCCESS);
            QCOMPARE(n, row.temps ? 2u : 0u);
            std::vector<ctl_temp_handle_t> handles(n);
            QVERIFY(n == 0 || sensors(session.adapters.at(0), &n, handles.data()) == CTL_RESULT_SUCCESS);
            QList<double> read;
            for (ctl_temp_handle_t h : handles) {
                double c = 0;
                ctl_temp_properties_t p{sizeof p, 0, CTL_TEMP_SENSORS_GLOBAL, -1};
                QCOMPARE(lib.fn<pfn_ctlTemperatureGetState>("ctlTemperatureGetState")(h, &c), CTL_RESULT_SUCCESS);
                QCOMPARE(lib.fn<pfn_ctlTemperatureGetProperties>("ctlTemperatureGetProperties")(h, &p), CTL_RESULT_SUCCESS);
                read << c << p.type << p.maxTemperature;
            }
            // The simulated card publishes critical limits from 6.17 on.
            const double pkgLimit = layout.kernel >= 617 ? 100 : 0, vramLimit = pkgLimit ? 85 : 0;
            QCOMPARE(read, row.temps ? QList<double>({70.0, CTL_TEMP_SENSORS_GPU, pkgLimit, 72.0,
                                                      CTL_TEMP_SENSORS_MEMORY, vramLimit})
                                     : QList<double>());
        }
    }
};

QTEST_GUILESS_MAIN(TestControlLib)
#include "tst_controllib.moc"
