#include "sysinfo/cpu_info.h"

#include <QFile>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include <cstring>

namespace sysinfo {

QByteArray cpuidBrandString()
{
#if defined(__x86_64__) || defined(__i386__)
    if (__get_cpuid_max(0x80000000u, nullptr) < 0x80000004u)
        return {};
    char brand[49] = {};
    for (unsigned leaf = 0; leaf < 3; ++leaf) {
        unsigned regs[4] = {};
        __cpuid_count(0x80000002u + leaf, 0, regs[0], regs[1], regs[2], regs[3]);
        std::memcpy(brand + leaf * 16, regs, sizeof regs);
    }
    return QByteArray(brand, sizeof brand);
#else
    return {};
#endif
}

QByteArray modelNameFromCpuinfo(const QByteArray &cpuinfo)
{
    const QList<QByteArray> lines = cpuinfo.split('\n');
    for (const QByteArray &line : lines) {
        const int colon = line.indexOf(':');
        if (colon < 0)
            continue;
        if (line.left(colon).trimmed() != "model name")
            continue;
        return line.mid(colon + 1).trimmed();
    }
    return {};
}

QString cpuNameFromBrand(const QByteArray &brand)
{
    const int nul = brand.indexOf('\0');
    const QString text = QString::fromLocal8Bit(nul < 0 ? brand : brand.left(nul));
    const int p = text.indexOf(QLatin1String("CPU"), 0, Qt::CaseSensitive);
    if (p < 0)
        return text;
    return text.left(p).trimmed();
}

QString GetCPUInfo(const QByteArray &cpuidBrand, const QString &procDir)
{
    // A processor may implement the leaves yet leave them blank; only a brand
    // with some text in it is worth more than the kernel's model name.
    const int nul = cpuidBrand.indexOf('\0');
    if (!(nul < 0 ? cpuidBrand : cpuidBrand.left(nul)).trimmed().isEmpty())
        return cpuNameFromBrand(cpuidBrand);

    QFile file(procDir + QLatin1String("/cpuinfo"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return cpuNameFromBrand(modelNameFromCpuinfo(file.readAll()));
}

QString GetCPUInfo() { return GetCPUInfo(cpuidBrandString(), QStringLiteral("/proc")); }

} // namespace sysinfo
