#pragma once
// The real card through Linux i2c-dev: the card MCU sits on the I2C
// controller that the GPU driver registers under the GPU's PCI device.

#include "platform/overlapped.h"

#include <linux/i2c.h>

#include <memory>
#include <optional>
#include <string>

namespace platform {

// The known card: Arc B580.
constexpr std::uint32_t kCardPciVendor = 0x8086;
constexpr std::uint32_t kCardPciDevice = 0xE20B;
// The name the GPU driver gives its I2C controller.
extern const char kCardAdapterName[];

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
    // One I2C_RDWR: the messages go out as one combined transfer.
    virtual int transfer(int fd, i2c_msg *messages, unsigned count) = 0;
    virtual void close(int fd) = 0;
};

std::shared_ptr<I2cSystem> realI2cSystem();

// NF_I2C_BUS_<bus>_0X<address>: bus is the index among the card's I2C
// controllers, address a 7-bit target address (hexadecimal).
struct I2cDeviceName {
    unsigned bus = 0;
    unsigned address = 0;
};
std::optional<I2cDeviceName> parseI2cDeviceName(const std::string &name);

// The adapter node name ("i2c-N") of the card's I2C controller number
// `index`, counted in adapter-number order; empty when there is none.
std::string findCardAdapter(const std::string &sysfsRoot, unsigned index);

// Opens the card named by `name` through `system`. Errors: 2 when no such
// card or node, 32 when another handle holds the adapter, else the mapped
// errno of the open.
std::unique_ptr<Device> openI2cCard(const std::string &name, std::shared_ptr<I2cSystem> system,
                                    std::uint32_t *error);

} // namespace platform
