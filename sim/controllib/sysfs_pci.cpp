#include "sim/controllib/sysfs_pci.h"

#include "sim/controllib/sysfs_adapters.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <sstream>
#include <system_error>
#include <vector>

namespace ctlsim {

namespace {

constexpr std::uint64_t kLegacyBarSize = 256ull << 20;

bool isPciFunction(const fs::path &dir)
{
    PciAddress unused;
    return parsePciAddress(dir.filename().string(), unused);
}

bool isIntelBridge(const fs::path &dir)
{
    const auto vendor = readUnsigned(dir / "vendor");
    const auto cls = readUnsigned(dir / "class");
    return vendor && cls && *vendor == 0x8086 && (*cls >> 8) == 0x0604;
}

LinkSpeed readSpeed(const fs::path &dir, const char *speedFile, const char *widthFile)
{
    LinkSpeed s;
    if (const auto speed = readText(dir / speedFile))
        s.gen = pcieGeneration(*speed);
    if (const auto width = readSigned(dir / widthFile); width && *width > 0 && *width <= 32)
        s.width = static_cast<int>(*width);
    s.bandwidth = linkBandwidth(s.gen, s.width);
    return s;
}

std::uint32_t le32(const std::string &b, std::size_t off)
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(b[off]))
           | static_cast<std::uint32_t>(static_cast<unsigned char>(b[off + 1])) << 8
           | static_cast<std::uint32_t>(static_cast<unsigned char>(b[off + 2])) << 16
           | static_cast<std::uint32_t>(static_cast<unsigned char>(b[off + 3])) << 24;
}

} // namespace

int pcieGeneration(const std::string &speed)
{
    struct Row {
        const char *prefix;
        int gen;
    };
    static const Row rows[] = {{"2.5 GT/s", 1}, {"5.0 GT/s", 2}, {"5 GT/s", 2}, {"8.0 GT/s", 3}, {"8 GT/s", 3},
                               {"16.0 GT/s", 4}, {"32.0 GT/s", 5}, {"64.0 GT/s", 6}};
    for (const Row &r : rows)
        if (speed.compare(0, std::strlen(r.prefix), r.prefix) == 0)
            return r.gen;
    return -1;
}

std::int64_t linkBandwidth(int gen, int width)
{
    // Usable bytes per second per lane: 8b/10b coding up to 5 GT/s, 128b/130b
    // from 8 GT/s on (6.0's FLIT mode is counted the same way).
    static const double perLane[] = {0.0, 2.5e9 * 8 / 10 / 8, 5.0e9 * 8 / 10 / 8, 8.0e9 * 128 / 130 / 8,
                                     16.0e9 * 128 / 130 / 8, 32.0e9 * 128 / 130 / 8, 64.0e9 * 128 / 130 / 8};
    if (gen < 1 || gen > 6 || width < 1)
        return -1;
    return static_cast<std::int64_t>(perLane[gen] * width);
}

std::optional<fs::path> slotLinkFolder(const fs::path &gpuDir)
{
    std::vector<fs::path> above;
    for (fs::path p = gpuDir.parent_path(); isPciFunction(p) && p != p.parent_path(); p = p.parent_path())
        above.push_back(p);
    if (above.empty())
        return std::nullopt;
    // The card's switch: the Intel bridges straight above the GPU. The last
    // function of the chain hangs off the host bridge: a root port, never part
    // of the card, whoever made it.
    std::size_t k = 0;
    while (k + 1 < above.size() && isIntelBridge(above[k]))
        ++k;
    if (k == 0)
        return gpuDir;
    return above[k - 1];
}

SlotLink readSlotLink(const fs::path &gpuDir)
{
    SlotLink link;
    const auto folder = slotLinkFolder(gpuDir);
    if (!folder)
        return link;
    link.max = readSpeed(*folder, "max_link_speed", "max_link_width");
    link.current = readSpeed(*folder, "current_link_speed", "current_link_width");
    return link;
}

std::optional<std::uint64_t> resourceBarSize(const std::string &resource, int bar)
{
    std::istringstream in(resource);
    std::string line;
    for (int i = 0; std::getline(in, line); ++i) {
        if (i != bar)
            continue;
        std::istringstream fields(line);
        std::string start, end;
        if (!(fields >> start >> end))
            return std::nullopt;
        const auto s = parseUnsigned(start);
        const auto e = parseUnsigned(end);
        // A window over the whole 64-bit range has a size no 64-bit number holds.
        if (!s || !e || *e <= *s || *e - *s == std::numeric_limits<std::uint64_t>::max())
            return std::nullopt;
        return *e - *s + 1;
    }
    return std::nullopt;
}

RebarCapability rebarFromConfig(const std::string &config, int bar)
{
    RebarCapability cap;
    std::size_t off = 0x100;
    // Extended capabilities form a chain from 0x100; a broken chain must not
    // loop for ever, and there cannot be more than fit into 4 KiB.
    for (int guard = 0; guard < 1024 && off >= 0x100 && off + 4 <= config.size(); ++guard) {
        const std::uint32_t header = le32(config, off);
        if (header == 0 || header == 0xFFFFFFFFu)
            break;
        if ((header & 0xFFFF) == 0x15 && off + 12 <= config.size()) {
            const unsigned count = (le32(config, off + 8) >> 5) & 7;
            for (unsigned i = 0; i < count && off + 12 + 8 * i <= config.size(); ++i) {
                const std::uint32_t control = le32(config, off + 8 + 8 * i);
                if (static_cast<int>(control & 7) != bar)
                    continue;
                cap.listsBar = true;
                const unsigned encoded = (control >> 8) & 0x3F;
                if (encoded <= 43) // 1 MiB << 43 is the last size that fits 64 bits
                    cap.currentSize = std::uint64_t(1) << (20 + encoded);
                return cap;
            }
        }
        const std::size_t next = (header >> 20) & 0xFFC;
        if (next <= off)
            break;
        off = next;
    }
    return cap;
}

ResizableBar readResizableBar(const fs::path &gpuDir)
{
    const auto config = readBytes(gpuDir / "config", 4096);
    const RebarCapability cap = config ? rebarFromConfig(*config, 2) : RebarCapability{};

    std::optional<std::uint64_t> bar2;
    if (const auto resource = readText(gpuDir / "resource"))
        bar2 = resourceBarSize(*resource, 2);
    if (!bar2)
        bar2 = cap.currentSize;

    ResizableBar rebar;
    if (bar2) {
        const auto vram = readUnsigned(gpuDir / "tile0/physical_vram_size_bytes");
        rebar.enabled = (vram && *vram > 0) ? *bar2 >= *vram : *bar2 > kLegacyBarSize;
    }
    rebar.supported = cap.listsBar || rebar.enabled;
    return rebar;
}

} // namespace ctlsim
