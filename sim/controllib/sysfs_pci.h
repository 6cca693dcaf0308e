#pragma once
// The card's PCIe link and Resizable BAR state.

#include "sim/controllib/sysfs_files.h"

#include <cstdint>
#include <optional>
#include <string>

namespace ctlsim {

struct LinkSpeed {
    int gen = -1;     // -1 when unknown
    int width = -1;   // lanes, -1 when unknown
    std::int64_t bandwidth = -1; // bytes per second, -1 when unknown
};

struct SlotLink {
    LinkSpeed max;
    LinkSpeed current;
};

// "16.0 GT/s PCIe" -> 4; -1 for anything else.
int pcieGeneration(const std::string &speed);

// Bytes per second of a link of that generation and width; -1 when unknown.
std::int64_t linkBandwidth(int gen, int width);

// The folder whose link files describe the card's link to the slot.
// Arc cards put a PCIe switch of their own between the slot and the GPU; the
// GPU's link and the switch's internal one read 2.5 GT/s x1 whatever the slot
// runs at. The slot link is that of the first upstream port above the GPU
// whose link is not the card switch's: the switch's own upstream port, or the
// GPU itself when it sits straight in a root port or a foreign switch.
// Nothing when the tree shows no parent of the GPU at all (then the GPU's own
// link may well be the switch's, so it tells nothing).
std::optional<fs::path> slotLinkFolder(const fs::path &gpuDir);

SlotLink readSlotLink(const fs::path &gpuDir);

struct ResizableBar {
    bool supported = false;
    bool enabled = false;
};

// BAR2 is the VRAM aperture. It counts as resized when it covers all of the
// VRAM; where the VRAM size cannot be read, when it is larger than the
// 256 MiB a BAR gets without resizing.
ResizableBar readResizableBar(const fs::path &gpuDir);

// Size of BAR n from a sysfs "resource" text; nothing when absent or empty.
std::optional<std::uint64_t> resourceBarSize(const std::string &resource, int bar);

// From PCI config space bytes: the current size of BAR n per the Resizable BAR
// extended capability, and whether that capability lists BAR n at all.
struct RebarCapability {
    bool listsBar = false;
    std::optional<std::uint64_t> currentSize;
};
RebarCapability rebarFromConfig(const std::string &config, int bar);

} // namespace ctlsim
