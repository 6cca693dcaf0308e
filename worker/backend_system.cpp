// System probes as the worker sees them: this machine's processor, /proc and
// the firmware's DMI board strings.
#include "worker/backends.h"

#include "sysinfo/cpu_info.h"
#include "sysinfo/memory_info.h"
#include "sysinfo/motherboard_info.h"

#include <iostream>

namespace worker {
namespace {
class LinuxSystem final : public SystemBackend {
public:
    QString cpuInfo() override { return sysinfo::GetCPUInfo(); }
    void memoryInfo(QVariantMap &facts) override
    {
        sysinfo::GetMemoryInfo(facts, QStringLiteral("/proc"), std::cout, std::cerr);
    }
    void motherboardInfo(QVariantMap &facts) override
    {
        sysinfo::GetMotherboardInfo(facts, QStringLiteral("/sys/class/dmi/id"), std::cout,
                                    std::cerr);
    }
};
} // namespace

std::unique_ptr<SystemBackend> makeSystemBackend() { return std::make_unique<LinuxSystem>(); }
} // namespace worker
