#pragma once
// Which display adapters the stand-in offers: Intel graphics functions bound
// to the xe or i915 driver, found through <root>/class/drm/cardN.

#include "sim/controllib/sysfs_files.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ctlsim {

struct PciAddress {
    std::uint32_t domain = 0, bus = 0, device = 0, function = 0;
};

struct AdapterInfo {
    fs::path deviceDir;  // the PCI function's folder, links resolved
    std::string card;    // "card1"
    std::string driver;  // "xe" or "i915"
    std::uint32_t vendorId = 0, deviceId = 0, revisionId = 0;
    std::uint16_t subsystemId = 0, subsystemVendorId = 0;
    bool hasAddress = false;
    PciAddress address;
};

// "0000:0c:00.0"; false when the name is not a PCI function address.
bool parsePciAddress(const std::string &name, PciAddress &out);

// The adapters under root, in PCI address order.
std::vector<AdapterInfo> scanAdapters(const fs::path &root);

// The marketing name for an Intel device id, as the Windows driver names it.
std::string adapterName(std::uint32_t deviceId);

} // namespace ctlsim
