#pragma once
// Control codes of the peripheral driver: device type 0x0400, functions from
// 0x700, buffered, any access.

#include <cstdint>

namespace platform {

constexpr std::uint32_t controlCode(std::uint32_t function)
{
    return (0x0400u << 16) | (0u << 14) | (function << 2) | 0u;
}

constexpr std::uint32_t kIoctlOpenTarget = controlCode(0x700);
constexpr std::uint32_t kIoctlCloseTarget = controlCode(0x701);
constexpr std::uint32_t kIoctlLockBus = controlCode(0x702);
constexpr std::uint32_t kIoctlUnlockBus = controlCode(0x703);
constexpr std::uint32_t kIoctlWriteRead = controlCode(0x704);
constexpr std::uint32_t kIoctlLockConnection = controlCode(0x705);
constexpr std::uint32_t kIoctlUnlockConnection = controlCode(0x706);
constexpr std::uint32_t kIoctlSignalInterrupt = controlCode(0x707);
constexpr std::uint32_t kIoctlSequence = controlCode(0x709);
constexpr std::uint32_t kIoctlGpio = controlCode(0x710);
constexpr std::uint32_t kIoctlEnableInterrupt = controlCode(0x711);
constexpr std::uint32_t kIoctlDisableInterrupt = controlCode(0x712);
constexpr std::uint32_t kIoctlPdInterrupt = controlCode(0x717);

static_assert(kIoctlOpenTarget == 0x04001C00u, "open target");
static_assert(kIoctlSequence == 0x04001C24u, "transfer sequence");
static_assert(kIoctlGpio == 0x04001C40u, "GPIO line");
static_assert(kIoctlDisableInterrupt == 0x04001C48u, "disable interrupt");
static_assert(kIoctlPdInterrupt == 0x04001C5Cu, "peripheral-driver interrupt");

// GPIO block, sent and received in one 8-byte buffer.
constexpr std::uint32_t kGpioBlockSize = 8;
constexpr std::uint32_t kGpioModeOffset = 4;
constexpr std::uint32_t kGpioLevelOffset = 5;
constexpr std::uint8_t kGpioModeSet = 0;
constexpr std::uint8_t kGpioModeRead = 1;

} // namespace platform
