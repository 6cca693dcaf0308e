#pragma once
// The one card this program recognises, by its four PCI identifiers.
//
// Vendor and device are Intel's Arc B580 (8086:E20B). The subsystem pair is
// the board maker's own: Tarvell is a small maker without identifiers listed
// in the public PCI id registry, so the project fixes them here, once:
// subsystem id 0x4158 for the ZEPH MIRO OC ULTRA model and subsystem vendor id
// 0x1F2E for the maker. The simulated card publishes exactly these values, and
// a B580 of any other board maker (Intel's own reference board reports
// 8086:1100) is deliberately not recognised: its MCU, lighting and fan
// protocol are not this card's.

#include <cstdint>

namespace known_card {

constexpr uint32_t kPciVendorId = 0x8086;          // Intel
constexpr uint32_t kPciDeviceId = 0xE20B;          // Arc B580
constexpr uint32_t kPciSubsystemId = 0x4158;       // ZEPH MIRO OC ULTRA
constexpr uint32_t kPciSubsystemVendorId = 0x1F2E; // Tarvell
constexpr const char kDisplayName[] = "TARVELL Intel Arc B580 ZEPH MIRO OC ULTRA";

// The card's microcontroller as the program opens it: the peripheral driver's
// path of the first known card's I2C bus, address 0x60. The platform layer
// resolves it; the simulated card serves it under the bare name.
constexpr char kDevicePath[] = "\\\\.\\NF_I2C_BUS_00_0X0060";
constexpr const char *kDeviceName = kDevicePath + 4; // after the "\\.\" prefix

struct Row {
    uint32_t vendorId;
    uint32_t deviceId;
    uint32_t subsystemId;
    uint32_t subsystemVendorId;
    const char *name;
};

// The known-card list: a card matches a row only when all four ids are equal.
constexpr Row kRows[] = {
    {kPciVendorId, kPciDeviceId, kPciSubsystemId, kPciSubsystemVendorId, kDisplayName},
};

constexpr bool matches(const Row &row, uint32_t vendorId, uint32_t deviceId, uint32_t subsystemId,
                       uint32_t subsystemVendorId)
{
    return row.vendorId == vendorId && row.deviceId == deviceId && row.subsystemId == subsystemId
           && row.subsystemVendorId == subsystemVendorId;
}

} // namespace known_card
