#pragma once
// The real card through Linux i2c-dev: the card MCU sits on the I2C
// controller that the GPU driver registers under the GPU's PCI function.
// Only that controller of a board with all four known PCI ids is ever opened,
// and only the card MCU's address is ever addressed: another maker's B580
// carries something else at that address, and the display's DDC and AUX
// buses under the same GPU reach the monitor's EDID memory.

#include "platform/overlapped.h"

#include <linux/i2c.h>

#include <memory>
#include <optional>
#include <string>

namespace platform {

// The name the GPU driver gives the I2C controller of the card MCU.
extern const char kCardAdapterName[];
// The card MCU's 7-bit address, the only one this backend talks to.
constexpr unsigned kCardMcuAddress = 0x60;
// The adapter's own time-out for one transfer. A retry after lost
// arbitration may take a second period, so two of them fit in the 500 ms a
// write may stay pending.
constexpr unsigned kAdapterTimeoutMs = 240;

// Everything the backend asks of the system, so tests can stand in for it.
class I2cSystem {
public:
    virtual ~I2cSystem() = default;
    virtual std::string sysfsRoot() const = 0; // "/sys"
    virtual std::string devRoot() const = 0;   // "/dev"
    // The calls return a descriptor or 0 on success, -errno on failure.
    virtual int open(const std::string &path) = 0;
    // An exclusive, non-blocking claim of the adapter by this handle.
    virtual int lock(int fd) = 0;
    // I2C_TIMEOUT: how long the adapter waits for one transfer.
    virtual int setTimeout(int fd, unsigned milliseconds) = 0;
    // One I2C_RDWR: the messages go out as one combined transfer.
    virtual int transfer(int fd, i2c_msg *messages, unsigned count) = 0;
    virtual void close(int fd) = 0;
};

std::shared_ptr<I2cSystem> realI2cSystem();

// NF_I2C_BUS_<bus>_0X<address>: bus is the index among the known cards' I2C
// controllers, address a 7-bit target address (hexadecimal).
struct I2cDeviceName {
    unsigned bus = 0;
    unsigned address = 0;
};
std::optional<I2cDeviceName> parseI2cDeviceName(const std::string &name);

// The adapter node name ("i2c-N") of controller number `index` among those
// named kCardAdapterName whose nearest PCI function is a known card, counted
// in PCI address order of the cards, then adapter number; empty when there is
// none. Reads sysfs only.
std::string findCardAdapter(const std::string &sysfsRoot, unsigned index);

// The kernel driver bound to the client at `address` on adapter "i2c-N"
// (sysfs bus/i2c/devices/N-00AA/driver), "unknown" when the link exists but
// cannot be read, empty when no driver is bound.
std::string kernelDriverAt(const std::string &sysfsRoot, const std::string &adapter, unsigned address);

// Opens the card named by `name` through `system`. Errors: 2 when no such
// card, node or address, 170 (busy) when a kernel driver is bound at the card
// MCU's address, 32 when another handle holds the adapter, else the
// mapped errno of the open or of setting the adapter time-out.
//
// A transfer the adapter gives up on with a time-out is reported like a
// request the driver never finished: a write stays pending until it is
// cancelled, other requests fail with 121.
std::unique_ptr<Device> openI2cCard(const std::string &name, std::shared_ptr<I2cSystem> system,
                                    std::uint32_t *error);

} // namespace platform
