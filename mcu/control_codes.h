#pragma once
// I/O control codes of the SPB peripheral driver: device type 0x0400,
// functions from 0x700, buffered, any access.

#include <cstdint>

namespace mcu {

constexpr std::uint32_t PeripheralControlCode(std::uint32_t function)
{
    constexpr std::uint32_t deviceType = 0x0400;
    constexpr std::uint32_t methodBuffered = 0;
    constexpr std::uint32_t fileAnyAccess = 0;
    return (deviceType << 16) | (fileAnyAccess << 14) | (function << 2) | methodBuffered;
}

constexpr std::uint32_t kIoctlOpen = PeripheralControlCode(0x700);
constexpr std::uint32_t kIoctlClose = PeripheralControlCode(0x701);
constexpr std::uint32_t kIoctlLock = PeripheralControlCode(0x702);
constexpr std::uint32_t kIoctlUnlock = PeripheralControlCode(0x703);
constexpr std::uint32_t kIoctlWriteRead = PeripheralControlCode(0x704);
constexpr std::uint32_t kIoctlLockConnection = PeripheralControlCode(0x705);
constexpr std::uint32_t kIoctlUnlockConnection = PeripheralControlCode(0x706);
constexpr std::uint32_t kIoctlSignalInterrupt = PeripheralControlCode(0x707);
constexpr std::uint32_t kIoctlSequence = PeripheralControlCode(0x709);
constexpr std::uint32_t kIoctlGpio = PeripheralControlCode(0x710);
constexpr std::uint32_t kIoctlInterruptEnable = PeripheralControlCode(0x711);
constexpr std::uint32_t kIoctlInterruptDisable = PeripheralControlCode(0x712);
constexpr std::uint32_t kIoctlPdInterrupt = PeripheralControlCode(0x717);

static_assert(kIoctlOpen == 0x04001C00, "open target");
static_assert(kIoctlSequence == 0x04001C24, "transfer sequence");
static_assert(kIoctlGpio == 0x04001C40, "GPIO line");
static_assert(kIoctlInterruptDisable == 0x04001C48, "disable interrupt");
static_assert(kIoctlPdInterrupt == 0x04001C5C, "peripheral-driver interrupt");

// GPIO block, sent and received in one 8-byte buffer.
constexpr std::uint32_t kGpioBlockSize = 8;
constexpr std::uint32_t kGpioModeOffset = 4;
constexpr std::uint32_t kGpioLevelOffset = 5;
constexpr std::uint8_t kGpioModeSet = 0;
constexpr std::uint8_t kGpioModeRead = 1;

} // namespace mcu
