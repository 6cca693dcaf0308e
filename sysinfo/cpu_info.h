#pragma once
// The processor's marketing name, as the Monitor page shows it.

#include <QByteArray>
#include <QString>

namespace sysinfo {

// The 48 bytes of the CPUID brand leaves 0x80000002..0x80000004 plus a NUL;
// empty when the processor does not implement those leaves.
QByteArray cpuidBrandString();

// The "model name" of the first processor listed in a /proc/cpuinfo text;
// empty when there is none.
QByteArray modelNameFromCpuinfo(const QByteArray &cpuinfo);

// Brand bytes (up to the first NUL, local 8-bit code page) cut before "CPU"
// and trimmed; a brand without "CPU" comes back whole and untrimmed.
QString cpuNameFromBrand(const QByteArray &brand);

// The CPUID brand when the processor has one, otherwise the model name from
// <procDir>/cpuinfo, cut as above. Empty when neither source has a name.
QString GetCPUInfo(const QByteArray &cpuidBrand, const QString &procDir);

// The same on this machine.
QString GetCPUInfo();

} // namespace sysinfo
