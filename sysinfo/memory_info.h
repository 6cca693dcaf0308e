#pragma once
// Installed and available system memory, rounded up to whole GiB.

#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <iosfwd>
#include <optional>

namespace sysinfo {

struct MemoryStatus {
    std::uint64_t totalBytes = 0;
    std::uint64_t availableBytes = 0;
};

// MemTotal and MemAvailable of a /proc/meminfo text; nothing when either is
// missing or not a number.
std::optional<MemoryStatus> parseMeminfo(const QByteArray &meminfo);

// Bytes in GiB, taken up to the next whole number.
long long wholeGib(std::uint64_t bytes);

// Bytes as whole GiB, taken up to the next whole number, then " GB".
QString gibText(std::uint64_t bytes);

// Writes "TotalSysRAM" and "AvailableSysRAM" from <procDir>/meminfo and
// prints the total to out; on failure prints the failure text to err and
// writes nothing.
void GetMemoryInfo(QVariantMap &facts, const QString &procDir, std::ostream &out,
                   std::ostream &err);

} // namespace sysinfo
