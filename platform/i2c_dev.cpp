#include "platform/i2c_dev.h"

#include "platform/control_codes.h"
#include "platform/device_base.h"
#include "platform/sequence_descriptor.h"

#include <linux/i2c-dev.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace platform {

const char kCardAdapterName[] = "Synopsys DesignWare I2C adapter";

namespace {

constexpr std::uint32_t kErrorInvalidFunction = 1;
// Parents to climb from an adapter before giving up on finding its PCI device.
constexpr int kMaxClimb = 16;

class RealI2cSystem final : public I2cSystem {
public:
    std::string sysfsRoot() const override { return "/sys"; }
    std::string devRoot() const override { return "/dev"; }
    int open(const std::string &path) override
    {
        const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        return fd >= 0 ? fd : -errno;
    }
    int lock(int fd) override { return ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : -errno; }
    int transfer(int fd, i2c_msg *messages, unsigned count) override
    {
        i2c_rdwr_ioctl_data data{messages, count};
        int rc;
        do {
            rc = ::ioctl(fd, I2C_RDWR, &data);
        } while (rc < 0 && errno == EINTR);
        if (rc < 0)
            return -errno;
        return rc == static_cast<int>(count) ? 0 : -EIO;
    }
    void close(int fd) override { ::close(fd); }
};

std::string readTrimmed(const fs::path &file)
{
    std::ifstream in(file);
    std::string text;
    if (!in || !std::getline(in, text))
        return {};
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.pop_back();
    return text;
}

bool readHex(const fs::path &file, std::uint32_t *value)
{
    const std::string text = readTrimmed(file);
    if (text.empty())
        return false;
    char *end = nullptr;
    const unsigned long v = std::strtoul(text.c_str(), &end, 16);
    if (*end != '\0' || v > 0xFFFFFFFFul)
        return false;
    *value = static_cast<std::uint32_t>(v);
    return true;
}

bool adapterNumber(const std::string &entry, unsigned *number)
{
    if (entry.size() < 5 || entry.compare(0, 4, "i2c-") != 0)
        return false;
    unsigned n = 0;
    for (std::size_t i = 4; i < entry.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(entry[i])) || n > 100000)
            return false;
        n = n * 10 + unsigned(entry[i] - '0');
    }
    *number = n;
    return true;
}

// True when the nearest PCI function above the adapter is the known card.
bool belongsToCard(const fs::path &adapter, const fs::path &root)
{
    fs::path p = adapter.parent_path();
    for (int i = 0; i < kMaxClimb && !p.empty(); ++i) {
        const auto rel = p.lexically_relative(root);
        if (rel.empty() || *rel.begin() == "..")
            return false;
        std::error_code ec;
        if (fs::is_regular_file(p / "vendor", ec) && fs::is_regular_file(p / "device", ec)) {
            std::uint32_t vendor = 0, device = 0;
            return readHex(p / "vendor", &vendor) && readHex(p / "device", &device) &&
                   vendor == kCardPciVendor && device == kCardPciDevice;
        }
        if (p == p.parent_path())
            break;
        p = p.parent_path();
    }
    return false;
}

class I2cDevDevice final : public SynchronousDevice {
public:
    I2cDevDevice(std::shared_ptr<I2cSystem> system, int fd, unsigned address)
        : system_(std::move(system)), fd_(fd), address_(static_cast<std::uint16_t>(address))
    {
    }
    ~I2cDevDevice() override { system_->close(fd_); }

protected:
    std::uint32_t doWrite(const std::uint8_t *data, std::uint32_t length,
                          std::uint32_t *done) override
    {
        if (length > 0xFFFF || (length > 0 && !data))
            return kErrorInvalidParameter;
        i2c_msg message{address_, 0, static_cast<std::uint16_t>(length),
                        const_cast<std::uint8_t *>(data)};
        return run(&message, 1, length, done);
    }

    std::uint32_t doRead(std::uint8_t *buffer, std::uint32_t length, std::uint32_t *done) override
    {
        if (length > 0xFFFF || (length > 0 && !buffer))
            return kErrorInvalidParameter;
        i2c_msg message{address_, I2C_M_RD, static_cast<std::uint16_t>(length), buffer};
        return run(&message, 1, length, done);
    }

    std::uint32_t doIoControl(std::uint32_t code, const std::uint8_t *in, std::uint32_t inLength,
                              std::uint8_t *out, std::uint32_t outLength,
                              std::uint32_t *done) override
    {
        switch (code) {
        case kIoctlOpenTarget: {
            if (inLength < 4 || !in)
                return kErrorInvalidParameter;
            const std::uint32_t index = std::uint32_t(in[0]) | std::uint32_t(in[1]) << 8 |
                                        std::uint32_t(in[2]) << 16 | std::uint32_t(in[3]) << 24;
            // This handle reaches one target: the address in its name.
            if (index != 0)
                return kErrorInvalidParameter;
            targetOpen_ = true;
            return 0;
        }
        case kIoctlCloseTarget:
            targetOpen_ = false;
            return 0;
        case kIoctlLockBus:
        case kIoctlLockConnection:
        case kIoctlUnlockBus:
        case kIoctlUnlockConnection:
            // The adapter is already held exclusively by this handle.
            return 0;
        case kIoctlWriteRead:
            return writeRead(in, inLength, out, outLength, done);
        case kIoctlSequence:
            return sequence(in, inLength, out, outLength, done);
        case kIoctlGpio:
        case kIoctlEnableInterrupt:
        case kIoctlDisableInterrupt:
        case kIoctlSignalInterrupt:
        case kIoctlPdInterrupt:
            return kErrorNotSupported;
        default:
            return kErrorInvalidFunction;
        }
    }

private:
    std::uint32_t run(i2c_msg *messages, unsigned count, std::uint32_t bytes, std::uint32_t *done)
    {
        const int rc = system_->transfer(fd_, messages, count);
        if (rc < 0)
            return win32FromErrno(-rc);
        *done = bytes;
        return 0;
    }

    std::uint32_t writeRead(const std::uint8_t *in, std::uint32_t inLength, std::uint8_t *out,
                            std::uint32_t outLength, std::uint32_t *done)
    {
        if (inLength == 0 || !in || inLength > 0xFFFF || outLength > 0xFFFF ||
            (outLength > 0 && !out))
            return kErrorInvalidParameter;
        i2c_msg messages[2] = {
            {address_, 0, static_cast<std::uint16_t>(inLength), const_cast<std::uint8_t *>(in)},
            {address_, I2C_M_RD, static_cast<std::uint16_t>(outLength), out},
        };
        return run(messages, outLength > 0 ? 2 : 1, outLength, done);
    }

    std::uint32_t sequence(const std::uint8_t *in, std::uint32_t inLength, std::uint8_t *out,
                           std::uint32_t outLength, std::uint32_t *done)
    {
        auto plan = decodeSequence(in, inLength);
        if (!plan)
            return kErrorInvalidParameter;
        if (plan->totalRead > outLength || (plan->totalRead > 0 && !out))
            return kErrorInsufficientBuffer;
        if (plan->elementCount > I2C_RDWR_IOCTL_MAX_MSGS)
            return kErrorInvalidParameter;
        std::vector<i2c_msg> messages;
        std::uint32_t readOffset = 0;
        for (const SequenceEntry &entry : plan->entries) {
            // One combined transfer cannot pause between its messages.
            if (entry.delayUs != 0)
                return kErrorNotSupported;
            for (const SequenceElement &e : entry.elements) {
                if (e.length > 0xFFFF)
                    return kErrorInvalidParameter;
                i2c_msg m{address_, 0, static_cast<std::uint16_t>(e.length), nullptr};
                if (e.read) {
                    m.flags = I2C_M_RD;
                    m.buf = out + readOffset;
                    readOffset += e.length;
                } else {
                    m.buf = plan->writeData.data() + e.dataOffset;
                }
                messages.push_back(m);
            }
        }
        return run(messages.data(), static_cast<unsigned>(messages.size()), plan->totalRead,
                   done);
    }

    std::shared_ptr<I2cSystem> system_;
    int fd_;
    std::uint16_t address_;
    bool targetOpen_ = false;
};

} // namespace

std::shared_ptr<I2cSystem> realI2cSystem() { return std::make_shared<RealI2cSystem>(); }

std::optional<I2cDeviceName> parseI2cDeviceName(const std::string &name)
{
    static const std::string prefix = "NF_I2C_BUS_";
    auto upper = name;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (upper.compare(0, prefix.size(), prefix) != 0)
        return std::nullopt;
    std::size_t i = prefix.size();
    I2cDeviceName result;
    const std::size_t busStart = i;
    while (i < upper.size() && std::isdigit(static_cast<unsigned char>(upper[i])) &&
           i - busStart < 3)
        result.bus = result.bus * 10 + unsigned(upper[i++] - '0');
    if (i == busStart || upper.compare(i, 3, "_0X") != 0)
        return std::nullopt;
    i += 3;
    const std::size_t addressStart = i;
    while (i < upper.size() && std::isxdigit(static_cast<unsigned char>(upper[i])) &&
           i - addressStart < 4) {
        const char c = upper[i++];
        result.address = result.address * 16 + unsigned(std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : c - 'A' + 10);
    }
    if (i == addressStart || i != upper.size() || result.address > 0x7F)
        return std::nullopt;
    return result;
}

std::string findCardAdapter(const std::string &sysfsRoot, unsigned index)
{
    std::error_code ec;
    const fs::path root = fs::canonical(sysfsRoot, ec);
    if (ec)
        return {};
    std::vector<std::pair<unsigned, std::string>> found;
    for (const char *folder : {"class/i2c-adapter", "bus/i2c/devices"}) {
        fs::directory_iterator it(root / folder, ec);
        if (ec)
            continue;
        for (const auto &entry : it) {
            const std::string name = entry.path().filename().string();
            unsigned number = 0;
            if (!adapterNumber(name, &number))
                continue;
            const fs::path adapter = fs::canonical(entry.path(), ec);
            if (ec)
                continue;
            if (readTrimmed(adapter / "name") != kCardAdapterName || !belongsToCard(adapter, root))
                continue;
            if (std::none_of(found.begin(), found.end(),
                             [&](const auto &f) { return f.first == number; }))
                found.emplace_back(number, name);
        }
        if (!found.empty())
            break;
    }
    std::sort(found.begin(), found.end());
    return index < found.size() ? found[index].second : std::string();
}

std::unique_ptr<Device> openI2cCard(const std::string &name, std::shared_ptr<I2cSystem> system,
                                    std::uint32_t *error)
{
    *error = kErrorFileNotFound;
    const auto parsed = parseI2cDeviceName(name);
    if (!parsed || !system)
        return nullptr;
    const std::string adapter = findCardAdapter(system->sysfsRoot(), parsed->bus);
    if (adapter.empty())
        return nullptr;
    const int fd = system->open(system->devRoot() + "/" + adapter);
    if (fd < 0) {
        *error = win32FromErrno(-fd);
        return nullptr;
    }
    const int locked = system->lock(fd);
    if (locked < 0) {
        system->close(fd);
        *error = (locked == -EWOULDBLOCK) ? kErrorSharingViolation : win32FromErrno(-locked);
        return nullptr;
    }
    *error = 0;
    return std::make_unique<I2cDevDevice>(std::move(system), fd, parsed->address);
}

} // namespace platform
