#include "sysinfo/memory_info.h"

#include <QFile>

#include <cmath>
#include <ostream>

namespace sysinfo {

namespace {

// "MemTotal:       16314668 kB" -> bytes. The kernel reports these two in
// kB (KiB); anything else is not a line we understand.
std::optional<std::uint64_t> fieldBytes(const QByteArray &rest)
{
    const QList<QByteArray> parts = rest.simplified().split(' ');
    if (parts.isEmpty() || parts.size() > 2)
        return std::nullopt;
    bool ok = false;
    const qulonglong value = parts.at(0).toULongLong(&ok);
    if (!ok)
        return std::nullopt;
    std::uint64_t factor = 1;
    if (parts.size() == 2) {
        if (parts.at(1) != "kB")
            return std::nullopt;
        factor = 1024;
    }
    if (value > UINT64_MAX / factor)
        return std::nullopt;
    return static_cast<std::uint64_t>(value) * factor;
}

} // namespace

std::optional<MemoryStatus> parseMeminfo(const QByteArray &meminfo)
{
    std::optional<std::uint64_t> total, available;
    const QList<QByteArray> lines = meminfo.split('\n');
    for (const QByteArray &line : lines) {
        const int colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray key = line.left(colon);
        if (key == "MemTotal")
            total = fieldBytes(line.mid(colon + 1));
        else if (key == "MemAvailable")
            available = fieldBytes(line.mid(colon + 1));
    }
    if (!total || !available)
        return std::nullopt;
    return MemoryStatus{*total, *available};
}

long long wholeGib(std::uint64_t bytes)
{
    // Scaling by a power of two only moves the exponent, so the quotient is
    // exact below 2^53 bytes and the ceiling never rounds a whole GiB up.
    return static_cast<long long>(std::ceil(static_cast<double>(bytes) * std::ldexp(1.0, -30)));
}

QString gibText(std::uint64_t bytes) { return QString::number(wholeGib(bytes)) + QLatin1String(" GB"); }

void GetMemoryInfo(QVariantMap &facts, const QString &procDir, std::ostream &out,
                   std::ostream &err)
{
    std::optional<MemoryStatus> status;
    QFile file(procDir + QLatin1String("/meminfo"));
    if (file.open(QIODevice::ReadOnly))
        status = parseMeminfo(file.readAll());
    if (!status) {
        err << "Failed to get memory info!" << std::endl;
        return;
    }
    facts.insert(QStringLiteral("TotalSysRAM"), gibText(status->totalBytes));
    facts.insert(QStringLiteral("AvailableSysRAM"), gibText(status->availableBytes));
    out << "Total RAM: " << wholeGib(status->totalBytes) << " GB" << std::endl;
}

} // namespace sysinfo
