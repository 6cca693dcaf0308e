#include "sim/sysfs/sysfs_sim.h"

#include "platform/known_card.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <mutex>
#include <optional>
#include <random>

namespace sim {

namespace {

// Where each PCI function of the card sits. The B580 reaches the slot through
// a PCIe switch on the card: its upstream port carries the real slot link, its
// downstream port and the GPU share an internal link that reads 2.5 GT/s x1.
const char kRootPort[] = "devices/pci0000:00/0000:00:01.1";
const char kSwitchUp[] = "0000:0a:00.0";
const char kSwitchDown[] = "0000:0b:01.0";
const char kGpu[] = "0000:0c:00.0";
const char kHwmon[] = "hwmon/hwmon2";

constexpr double kVramBytes = 12.0 * 1024 * 1024 * 1024;
constexpr int kMinFreq = 400;
constexpr int kMaxFreq = 2850;
constexpr double kAmbientC = 28.0;
constexpr double kStep = 0.1; // seconds; the dynamics are integrated in steps no longer than this

QByteArray hex4(std::uint32_t v) { return "0x" + QByteArray::number(v, 16).rightJustified(4, '0'); }

QByteArray upperHex4(std::uint32_t v) { return QByteArray::number(v, 16).rightJustified(4, '0').toUpper(); }

QByteArray resourceLine(std::uint64_t start, std::uint64_t end, std::uint64_t flags)
{
    auto f = [](std::uint64_t v) { return "0x" + QByteArray::number(qulonglong(v), 16).rightJustified(16, '0'); };
    return f(start) + ' ' + f(end) + ' ' + f(flags) + '\n';
}

// Fan speed the fan settles at when driven at a duty (0..1).
double rpmForDuty(double duty)
{
    if (duty <= 0.0)
        return 0.0;
    if (duty < 0.3)
        return 1000.0 * duty / 0.3;
    return 1000.0 + (std::min(duty, 1.0) - 0.3) / 0.7 * 2000.0;
}

} // namespace

// Temperatures the driver labels from 6.17 on, beyond pkg and vram.
const char *const kLaterTemps[][2] = {{"4", "mctrl"}, {"5", "pcie"}, {"6", "vram_ch_0"}};

struct SysfsSim::Impl {
    Layout layout;
    QString root;
    QString gpu;
    std::mt19937 rng;

    mutable std::mutex stateLock;
    State s;
    bool loadHeld = false;
    double loadTarget = 0.1;
    double targetLeft = 3.0; // seconds until the wandering load picks a new target
    int mcuDutyPercent = 0;
    bool gpuFanSpinning = false; // the GPU curve's fan-stop hysteresis
    std::chrono::steady_clock::time_point last = std::chrono::steady_clock::now();
    QString temperatureFile;

    std::mutex ioLock; // one writer at a time, so files never go back in time

    double uniform(double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); }
    double noise(double sigma) { return std::normal_distribution<double>(0.0, sigma)(rng); }

    void pickLoadTarget()
    {
        const double kind = uniform(0.0, 1.0);
        if (kind < 0.4)
            loadTarget = uniform(0.02, 0.15); // desktop
        else if (kind < 0.75)
            loadTarget = uniform(0.3, 0.7); // video, light games
        else
            loadTarget = uniform(0.8, 0.99); // games, compute
        targetLeft = uniform(2.0, 8.0);
    }

    // The duty the fan is driven at (0..1) and by whom.
    double fanDuty()
    {
        if (s.fanDrivenByMcu)
            return mcuDutyPercent / 100.0;
        // The GPU's own curve: fan stop while cool, 30 % from 50 °C up to full
        // at 85 °C; the gap between starting and stopping keeps it from
        // toggling at the edge.
        if (gpuFanSpinning && s.gpuTempC < 46.0)
            gpuFanSpinning = false;
        else if (!gpuFanSpinning && s.gpuTempC > 52.0)
            gpuFanSpinning = true;
        if (!gpuFanSpinning)
            return 0.0;
        return std::clamp(0.3 + (s.gpuTempC - 50.0) / 35.0 * 0.7, 0.3, 1.0);
    }

    void step(double dt)
    {
        if (!loadHeld) {
            targetLeft -= dt;
            if (targetLeft <= 0.0)
                pickLoadTarget();
            s.load += (loadTarget - s.load) * (1.0 - std::exp(-dt / 1.5)) + noise(0.01 * std::sqrt(dt));
            s.load = std::clamp(s.load, 0.0, 1.0);
        }

        const double duty = fanDuty();
        s.fanDutyPercent = duty * 100.0;
        s.fanRpm += (rpmForDuty(duty) - s.fanRpm) * (1.0 - std::exp(-dt / 1.2));
        if (s.fanRpm < 1.0 && duty <= 0.0)
            s.fanRpm = 0.0;

        s.packagePowerW = 14.0 + 150.0 * s.load;
        s.cardPowerW = s.packagePowerW + 16.0 + 8.0 * s.load + 6.0 * s.fanRpm / 3000.0;
        s.packageEnergyJ += s.packagePowerW * dt;
        s.cardEnergyJ += s.cardPowerW * dt;

        // Thermal resistance falls as the fan speeds up.
        const double airflow = std::min(s.fanRpm / 3000.0, 1.0);
        const double gpuTarget = std::min(kAmbientC + s.packagePowerW * (0.45 - 0.27 * airflow), 98.0);
        s.gpuTempC += (gpuTarget - s.gpuTempC) * (1.0 - std::exp(-dt / 6.0)) + noise(0.05 * std::sqrt(dt));
        const double vramTarget = s.gpuTempC + 2.0 + 6.0 * s.load;
        s.vramTempC += (vramTarget - s.vramTempC) * (1.0 - std::exp(-dt / 10.0));

        if (s.load < 0.05) {
            s.actFreqMhz = 0; // the GT sleeps (RC6) between the odd bits of work
            s.curFreqMhz = kMinFreq;
        } else {
            double f = kMinFreq + (kMaxFreq - kMinFreq) * std::min(1.0, (s.load - 0.05) / 0.7) + noise(15.0);
            if (s.gpuTempC > 95.0)
                f = std::min(f, 1800.0); // thermal throttling
            s.actFreqMhz = static_cast<int>(std::lround(std::clamp(f, double(kMinFreq), double(kMaxFreq))));
            s.curFreqMhz = std::min(kMaxFreq, (s.actFreqMhz + 49) / 50 * 50);
        }

        s.activeMs += dt * 1000.0;
        s.idleResidencyMs += dt * 1000.0 * (1.0 - s.load);
    }

    void advance(double seconds)
    {
        const std::optional<double> given = givenTemperature();
        std::lock_guard<std::mutex> g(stateLock);
        seconds = std::clamp(seconds, 0.0, 3600.0);
        while (seconds > 0.0) {
            const double dt = std::min(seconds, kStep);
            step(dt);
            seconds -= dt;
        }
        if (given) {
            s.gpuTempC = *given;
            s.vramTempC = *given + 2.0;
        }
    }

    std::optional<double> givenTemperature() const
    {
        QString path;
        {
            std::lock_guard<std::mutex> g(stateLock);
            path = temperatureFile;
        }
        if (path.isEmpty())
            return std::nullopt;
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return std::nullopt;
        bool ok = false;
        const double c = f.read(64).trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(c))
            return std::nullopt;
        return c;
    }

    QString path(const QString &rel) const { return root + QLatin1Char('/') + rel; }

    // Temporary file beside the target, then rename(2) over it: readers see
    // the old content or the new, never a partly written one. No fsync: the
    // numbers are stale a quarter of a second later anyway.
    static bool writeAtomically(const QString &file, const QByteArray &content)
    {
        const QFileInfo fi(file);
        const QByteArray target = QFile::encodeName(file);
        const QByteArray temp = QFile::encodeName(fi.absolutePath() + QLatin1String("/.") + fi.fileName()
                                                  + QLatin1String(".tmp"));
        const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0)
            return false;
        qsizetype done = 0;
        while (done < content.size()) {
            const ssize_t n = ::write(fd, content.constData() + done, static_cast<size_t>(content.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += n;
        }
        const bool written = done == content.size();
        if (::close(fd) != 0 || !written || ::rename(temp.constData(), target.constData()) != 0) {
            ::unlink(temp.constData());
            return false;
        }
        return true;
    }

    bool write(const QString &rel, const QByteArray &content) const
    {
        return writeAtomically(path(rel), content);
    }

    bool mkdir(const QString &rel) const { return QDir().mkpath(path(rel)); }

    // A relative link at rel pointing to target (both relative to the root),
    // so the tree can be moved or read through another mount point.
    bool link(const QString &rel, const QString &target) const
    {
        const QString at = path(rel);
        QFile::remove(at);
        const QString relTarget = QDir(QFileInfo(at).absolutePath()).relativeFilePath(path(target));
        return QFile::link(relTarget, at);
    }

    bool rawLink(const QString &rel, const QString &target) const
    {
        QFile::remove(path(rel));
        return QFile::link(target, path(rel));
    }

    bool writePciFunction(const QString &dir, std::uint32_t vendor, std::uint32_t device,
                          const QByteArray &cls, const QByteArray &speed, int width,
                          const QByteArray &maxSpeed, int maxWidth) const
    {
        return mkdir(dir) && write(dir + "/vendor", hex4(vendor) + '\n')
               && write(dir + "/device", hex4(device) + '\n') && write(dir + "/class", cls + '\n')
               && write(dir + "/current_link_speed", speed + '\n')
               && write(dir + "/current_link_width", QByteArray::number(width) + '\n')
               && write(dir + "/max_link_speed", maxSpeed + '\n')
               && write(dir + "/max_link_width", QByteArray::number(maxWidth) + '\n');
    }

    bool publishStatic()
    {
        const QString rootPort = kRootPort;
        const QString up = rootPort + '/' + kSwitchUp;
        const QString down = up + '/' + kSwitchDown;
        gpu = down + '/' + kGpu;
        using namespace known_card;

        bool ok = writePciFunction(rootPort, 0x1022, 0x14db, "0x060400", "16.0 GT/s PCIe", 8,
                                   "32.0 GT/s PCIe", 16)
                  && writePciFunction(up, 0x8086, 0xe2ff, "0x060400", "16.0 GT/s PCIe", 8,
                                      "16.0 GT/s PCIe", 8)
                  && writePciFunction(down, 0x8086, 0xe2f0, "0x060400", "2.5 GT/s PCIe", 1,
                                      "2.5 GT/s PCIe", 1)
                  && writePciFunction(gpu, kPciVendorId, kPciDeviceId, "0x030000", "2.5 GT/s PCIe", 1,
                                      "2.5 GT/s PCIe", 1);
        if (!ok)
            return false;

        const QByteArray slot = kGpu;
        const QByteArray pciId = upperHex4(kPciVendorId) + ':' + upperHex4(kPciDeviceId);
        const QByteArray subsysId = upperHex4(kPciSubsystemVendorId) + ':' + upperHex4(kPciSubsystemId);
        const QByteArray modalias = "pci:v0000" + upperHex4(kPciVendorId) + "d0000" + upperHex4(kPciDeviceId)
                                    + "sv0000" + upperHex4(kPciSubsystemVendorId) + "sd0000"
                                    + upperHex4(kPciSubsystemId) + "bc03sc00i00";
        ok = write(gpu + "/subsystem_vendor", hex4(kPciSubsystemVendorId) + '\n')
             && write(gpu + "/subsystem_device", hex4(kPciSubsystemId) + '\n')
             && write(gpu + "/revision", "0x00\n")
             && write(gpu + "/uevent", "DRIVER=xe\nPCI_CLASS=30000\nPCI_ID=" + pciId + "\nPCI_SUBSYS_ID="
                                           + subsysId + "\nPCI_SLOT_NAME=" + slot + "\nMODALIAS=" + modalias + '\n')
             && write(gpu + "/modalias", modalias + '\n') && write(gpu + "/boot_vga", "1\n")
             && write(gpu + "/power_state", "D0\n");
        if (!ok)
            return false;

        // BAR0 is the 16 MiB register window; BAR2, resized, covers all 12 GiB
        // of VRAM with a 16 GiB window.
        QByteArray resource = resourceLine(0xf5000000ull, 0xf5ffffffull, 0x40200)
                              + resourceLine(0, 0, 0)
                              + resourceLine(0x7800000000ull, 0x7bffffffffull, 0x14220c);
        for (int i = 3; i < 13; ++i)
            resource += resourceLine(0, 0, 0);
        ok = write(gpu + "/resource", resource)
             && mkdir(gpu + "/tile0")
             && write(gpu + "/tile0/physical_vram_size_bytes",
                      "0x" + QByteArray::number(qulonglong(kVramBytes), 16) + '\n');
        if (!ok)
            return false;

        const QString hw = gpu + '/' + kHwmon;
        ok = mkdir(hw) && write(hw + "/name", "xe\n") && write(hw + "/energy1_label", "card\n")
             && write(hw + "/energy2_label", "pkg\n") && write(hw + "/power1_label", "card\n")
             && write(hw + "/power1_max", "190000000\n") && write(hw + "/power1_crit", "380000000\n");
        if (ok && layout.kernel >= 615)
            ok = write(hw + "/temp2_label", "pkg\n") && write(hw + "/temp3_label", "vram\n");
        if (ok && layout.kernel >= 617) {
            // The sensors' own critical limits; the VRAM's is below the
            // 90 degC the fan curve would otherwise take as hot.
            ok = write(hw + "/power1_cap", "190000000\n") && write(hw + "/temp2_crit", "100000\n")
                 && write(hw + "/temp3_crit", "85000\n");
            for (const auto &t : kLaterTemps)
                ok = ok && write(hw + "/temp" + t[0] + "_label", QByteArray(t[1]) + '\n');
        }
        if (!ok)
            return false;

        const QString freq = gpu + "/tile0/gt0/freq0";
        ok = mkdir(freq) && write(freq + "/min_freq", QByteArray::number(kMinFreq) + '\n')
             && write(freq + "/max_freq", QByteArray::number(kMaxFreq) + '\n')
             && write(freq + "/rp0_freq", QByteArray::number(kMaxFreq) + '\n')
             && write(freq + "/rpn_freq", QByteArray::number(kMinFreq) + '\n')
             && mkdir(gpu + "/tile0/gt0/gtidle") && write(gpu + "/tile0/gt0/gtidle/name", "gt0-rc\n")
             && mkdir(gpu + "/power") && write(gpu + "/power/control", "auto\n")
             && write(gpu + "/power/runtime_enabled", "enabled\n")
             && write(gpu + "/power/runtime_status", "active\n");
        if (!ok)
            return false;

        ok = mkdir("bus/pci/drivers/xe") && link(gpu + "/driver", "bus/pci/drivers/xe")
             && mkdir(gpu + "/drm/card0") && write(gpu + "/drm/card0/dev", "226:0\n")
             && write(gpu + "/drm/card0/uevent", "MAJOR=226\nMINOR=0\nDEVNAME=dri/card0\nDEVTYPE=drm_minor\n")
             && rawLink(gpu + "/drm/card0/device", QStringLiteral("../../../") + kGpu) && mkdir("class/drm")
             && link("class/drm/card0", gpu + "/drm/card0");
        if (!ok)
            return false;

        return mkdir("class/dmi/id")
               && write("class/dmi/id/board_vendor", "Micro-Star International Co., Ltd.\n")
               && write("class/dmi/id/board_name", "MAG X870 TOMAHAWK WIFI (MS-7E51)\n")
               && write("class/dmi/id/sys_vendor", "Micro-Star International Co., Ltd.\n")
               && write("class/dmi/id/bios_vendor", "American Megatrends International, LLC.\n");
    }

    bool writeMoving()
    {
        State now;
        {
            std::lock_guard<std::mutex> g(stateLock);
            now = s;
        }
        auto micro = [](double joules) { return QByteArray::number(qulonglong(std::llround(joules * 1e6))) + '\n'; };
        auto milli = [](double c) { return QByteArray::number(qlonglong(std::llround(c * 1000.0))) + '\n'; };
        auto whole = [](double v) { return QByteArray::number(qlonglong(std::llround(v))) + '\n'; };
        const QString hw = gpu + '/' + kHwmon;

        std::lock_guard<std::mutex> g(ioLock);
        bool ok = true;
        if (layout.kernel >= 615)
            ok = write(hw + "/temp2_input", milli(now.gpuTempC)) && write(hw + "/temp3_input", milli(now.vramTempC));
        if (ok && layout.kernel >= 616)
            for (int fan = 1; fan <= 3; ++fan)
                ok = ok && write(hw + "/fan" + QString::number(fan) + "_input",
                                 whole(fan == layout.fanChannel ? now.fanRpm : 0.0));
        if (ok && layout.kernel >= 617)
            for (const auto &t : kLaterTemps)
                ok = ok && write(hw + "/temp" + t[0] + "_input", milli(now.vramTempC - 3.0));
        return ok && write(hw + "/energy1_input", micro(now.cardEnergyJ))
               && write(hw + "/energy2_input", micro(now.packageEnergyJ))
               && write(gpu + "/tile0/gt0/freq0/act_freq", QByteArray::number(now.actFreqMhz) + '\n')
               && write(gpu + "/tile0/gt0/freq0/cur_freq", QByteArray::number(now.curFreqMhz) + '\n')
               && write(gpu + "/tile0/gt0/gtidle/idle_residency_ms", whole(now.idleResidencyMs))
               && write(gpu + "/tile0/gt0/gtidle/idle_status", now.actFreqMhz == 0 ? "gt-c6\n" : "gt-c0\n")
               && write(gpu + "/power/runtime_active_time", whole(now.activeMs));
    }
};

SysfsSim::SysfsSim(const QString &root, std::uint32_t seed) : d(std::make_unique<Impl>())
{
    d->root = QDir::cleanPath(QFileInfo(root).absoluteFilePath());
    d->rng.seed(seed);
    State &s = d->s;
    s.load = 0.08;
    s.packageEnergyJ = 200000.0;
    s.cardEnergyJ = 260000.0;
    s.gpuTempC = 36.0;
    s.vramTempC = 39.0;
    s.curFreqMhz = kMinFreq;
    // Readers take busy time as monotonic time minus idle residency, so the
    // idle counter starts below the monotonic clock, as a real card's does: as
    // if the GT had been idle for 85 % of the time since boot.
    const double sinceBootMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
    s.activeMs = sinceBootMs;
    s.idleResidencyMs = 0.85 * sinceBootMs;
}

SysfsSim::~SysfsSim() = default;

bool SysfsSim::parseKernel(const QString &release, int *kernel)
{
    const QStringList parts = release.split(QLatin1Char('.'));
    bool majorOk = false, minorOk = false;
    const int major = parts.value(0).toInt(&majorOk);
    QString minorText = parts.value(1);
    int digits = 0;
    while (digits < minorText.size() && minorText.at(digits).isDigit())
        ++digits;
    const int minor = minorText.left(digits).toInt(&minorOk);
    if (parts.size() < 2 || !majorOk || !minorOk || major < 0 || minor < 0 || minor > 99)
        return false;
    *kernel = major * 100 + minor;
    return true;
}

void SysfsSim::setLayout(const Layout &layout)
{
    d->layout = layout;
    d->layout.fanChannel = std::clamp(layout.fanChannel, 1, 3);
}

bool SysfsSim::publish()
{
    if (!d->publishStatic())
        return false;
    {
        std::lock_guard<std::mutex> g(d->stateLock);
        d->last = std::chrono::steady_clock::now();
        d->step(kStep); // fills the derived values (power, clock, fan) once
    }
    return d->writeMoving();
}

bool SysfsSim::tick()
{
    double dt;
    {
        std::lock_guard<std::mutex> g(d->stateLock);
        const auto now = std::chrono::steady_clock::now();
        dt = std::chrono::duration<double>(now - d->last).count();
        d->last = now;
    }
    return advance(dt);
}

bool SysfsSim::advance(double seconds)
{
    if (d->gpu.isEmpty())
        return false; // nothing published yet
    d->advance(seconds);
    return d->writeMoving();
}

void SysfsSim::setFanDrivenByMcu(int dutyPercent)
{
    std::lock_guard<std::mutex> g(d->stateLock);
    d->mcuDutyPercent = std::clamp(dutyPercent, 0, 100);
    d->s.fanDrivenByMcu = true;
}

void SysfsSim::setFanDrivenByGpu()
{
    std::lock_guard<std::mutex> g(d->stateLock);
    d->s.fanDrivenByMcu = false;
}

void SysfsSim::setTemperatureFile(const QString &path)
{
    std::lock_guard<std::mutex> g(d->stateLock);
    d->temperatureFile = path;
}

void SysfsSim::holdLoad(double fraction)
{
    std::lock_guard<std::mutex> g(d->stateLock);
    d->loadHeld = true;
    d->s.load = std::clamp(fraction, 0.0, 1.0);
}

void SysfsSim::releaseLoad()
{
    std::lock_guard<std::mutex> g(d->stateLock);
    d->loadHeld = false;
    d->loadTarget = d->s.load;
}

SysfsSim::State SysfsSim::state() const
{
    std::lock_guard<std::mutex> g(d->stateLock);
    return d->s;
}

QString SysfsSim::root() const { return d->root; }

QString SysfsSim::gpuDir() const
{
    return d->root + QLatin1Char('/') + QLatin1String(kRootPort) + '/' + kSwitchUp + '/' + kSwitchDown + '/' + kGpu;
}

QString SysfsSim::hwmonDir() const { return gpuDir() + QLatin1Char('/') + QLatin1String(kHwmon); }

} // namespace sim
