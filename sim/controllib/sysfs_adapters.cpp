#include "sim/controllib/sysfs_adapters.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <system_error>
#include <tuple>

namespace ctlsim {

namespace {

constexpr std::uint32_t kIntel = 0x8086;

// "card12" -> 12; connectors ("card1-DP-2") and render nodes are not cards.
bool cardNumber(const std::string &name, unsigned &out)
{
    if (name.size() <= 4 || name.compare(0, 4, "card") != 0)
        return false;
    unsigned n = 0;
    for (std::size_t i = 4; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i])) || n > 100000)
            return false;
        n = n * 10 + static_cast<unsigned>(name[i] - '0');
    }
    out = n;
    return true;
}

// The value of KEY= in the device's uevent file; empty when absent.
std::string ueventValue(const fs::path &deviceDir, const std::string &key)
{
    const auto uevent = readText(deviceDir / "uevent");
    if (!uevent)
        return {};
    const std::string prefix = key + '=';
    std::size_t pos = 0;
    while (pos < uevent->size()) {
        std::size_t end = uevent->find('\n', pos);
        if (end == std::string::npos)
            end = uevent->size();
        if (uevent->compare(pos, prefix.size(), prefix) == 0)
            return uevent->substr(pos + prefix.size(), end - pos - prefix.size());
        pos = end + 1;
    }
    return {};
}

// The bound driver: the name the driver link points to, or, in a tree whose
// links were flattened into files, what the uevent file says.
std::string driverOf(const fs::path &deviceDir)
{
    std::error_code ec;
    const fs::path target = fs::read_symlink(deviceDir / "driver", ec);
    if (!ec)
        return target.filename().string();
    return ueventValue(deviceDir, "DRIVER");
}

} // namespace

// Exactly "DDDD:BB:DD.F" in hexadecimal. sscanf would skip leading blanks
// and take a sign or a "0x" inside a field.
bool parsePciAddress(const std::string &name, PciAddress &out)
{
    if (name.size() != 12 || name[4] != ':' || name[7] != ':' || name[10] != '.')
        return false;
    const auto field = [&name](std::size_t pos, std::size_t length) -> std::optional<std::uint64_t> {
        for (std::size_t i = pos; i < pos + length; ++i) {
            if (!std::isxdigit(static_cast<unsigned char>(name[i])))
                return std::nullopt;
        }
        return parseUnsigned("0x" + name.substr(pos, length));
    };
    const auto d = field(0, 4), b = field(5, 2), s = field(8, 2), f = field(11, 1);
    if (!d || !b || !s || !f || *s > 31 || *f > 7)
        return false;
    out = PciAddress{std::uint32_t(*d), std::uint32_t(*b), std::uint32_t(*s), std::uint32_t(*f)};
    return true;
}

std::vector<AdapterInfo> scanAdapters(const fs::path &root)
{
    std::vector<std::pair<unsigned, AdapterInfo>> found;
    std::error_code ec;
    for (fs::directory_iterator it(root / "class" / "drm", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        unsigned number = 0;
        if (!cardNumber(name, number))
            continue;
        std::error_code canonicalError;
        const fs::path deviceDir = fs::canonical(it->path() / "device", canonicalError);
        if (canonicalError)
            continue;

        AdapterInfo a;
        a.deviceDir = deviceDir;
        a.card = name;
        const auto cls = readUnsigned(deviceDir / "class");
        const auto vendor = readUnsigned(deviceDir / "vendor");
        const auto device = readUnsigned(deviceDir / "device");
        if (!cls || !vendor || !device)
            continue;
        // Display controllers only (VGA, XGA, 3D, other display); Intel only.
        if ((*cls >> 16) != 0x03 || *vendor != kIntel)
            continue;
        a.driver = driverOf(deviceDir);
        if (a.driver != "xe" && a.driver != "i915")
            continue;
        a.vendorId = static_cast<std::uint32_t>(*vendor);
        a.deviceId = static_cast<std::uint32_t>(*device & 0xFFFF);
        a.revisionId = static_cast<std::uint32_t>(readUnsigned(deviceDir / "revision").value_or(0) & 0xFF);
        a.subsystemVendorId = static_cast<std::uint16_t>(readUnsigned(deviceDir / "subsystem_vendor").value_or(0));
        a.subsystemId = static_cast<std::uint16_t>(readUnsigned(deviceDir / "subsystem_device").value_or(0));
        a.hasAddress = parsePciAddress(deviceDir.filename().string(), a.address)
                       || parsePciAddress(ueventValue(deviceDir, "PCI_SLOT_NAME"), a.address);
        found.emplace_back(number, std::move(a));
    }
    // Card numbers follow the order the drivers probed in, which can change
    // from one boot to the next; the PCI address of a slot does not.
    std::sort(found.begin(), found.end(), [](const auto &l, const auto &r) {
        const AdapterInfo &a = l.second, &b = r.second;
        if (a.hasAddress != b.hasAddress)
            return a.hasAddress;
        if (a.hasAddress) {
            const auto ka = std::tie(a.address.domain, a.address.bus, a.address.device, a.address.function);
            const auto kb = std::tie(b.address.domain, b.address.bus, b.address.device, b.address.function);
            if (ka != kb)
                return ka < kb;
        }
        return l.first < r.first;
    });
    std::vector<AdapterInfo> adapters;
    adapters.reserve(found.size());
    for (auto &f : found)
        adapters.push_back(std::move(f.second));
    return adapters;
}

std::string adapterName(std::uint32_t deviceId)
{
    struct Row {
        std::uint32_t id;
        const char *name;
    };
    static const Row rows[] = {
        {0xE20B, "Intel(R) Arc(TM) B580 Graphics"}, {0xE20C, "Intel(R) Arc(TM) B570 Graphics"},
        {0x56A0, "Intel(R) Arc(TM) A770 Graphics"}, {0x56A1, "Intel(R) Arc(TM) A750 Graphics"},
        {0x56A2, "Intel(R) Arc(TM) A580 Graphics"}, {0x56A5, "Intel(R) Arc(TM) A380 Graphics"},
        {0x56A6, "Intel(R) Arc(TM) A310 Graphics"},
    };
    for (const Row &r : rows)
        if (r.id == deviceId)
            return r.name;
    return "Intel(R) Graphics";
}

} // namespace ctlsim
