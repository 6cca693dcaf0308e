#include "platform/i2c_dev.h"

#include "platform/control_codes.h"
#include "platform/device_base.h"
#include "platform/known_card.h"
#include "platform/sequence_descriptor.h"

#include <linux/i2c-dev.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <tuple>
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
// Parents to climb from an adapter before giving up on finding its PCI function.
constexpr int kMaxClimb = 16;
// A transfer that takes longer than this goes pending, so that the caller's
// own limit on a pending write runs from the start of the transfer.
constexpr auto kAtOnce = std::chrono::milliseconds(50);

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
    int setTimeout(int fd, unsigned milliseconds) override
    {
        // The adapter counts in tens of milliseconds.
        const unsigned long ticks = (milliseconds + 9) / 10;
        return ::ioctl(fd, I2C_TIMEOUT, ticks) < 0 ? -errno : 0;
    }
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

// Hexadecimal digits, "0x" before them or not, and nothing else (strtoul
// would also skip leading blanks and take a sign).
std::optional<std::uint64_t> hexDigits(const std::string &text, std::size_t maxDigits, bool prefixAllowed = true)
{
    const std::size_t start =
        prefixAllowed && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') ? 2 : 0;
    if (text.size() == start || text.size() - start > maxDigits)
        return std::nullopt;
    std::uint64_t v = 0;
    for (std::size_t i = start; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (!std::isxdigit(c))
            return std::nullopt;
        v = v * 16 + unsigned(std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10);
    }
    return v;
}

bool readHex(const fs::path &file, std::uint32_t *value)
{
    const auto v = hexDigits(readTrimmed(file), 8);
    if (!v)
        return false;
    *value = static_cast<std::uint32_t>(*v);
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

// "DDDD:BB:DD.F" as one number that sorts like the address; nothing when the
// folder does not name a PCI function.
std::optional<std::uint64_t> pciAddress(const std::string &name)
{
    if (name.size() != 12 || name[4] != ':' || name[7] != ':' || name[10] != '.')
        return std::nullopt;
    const auto field = [&name](std::size_t pos, std::size_t length) {
        return hexDigits(name.substr(pos, length), length, false);
    };
    const auto domain = field(0, 4), bus = field(5, 2), slot = field(8, 2), function = field(11, 1);
    if (!domain || !bus || !slot || !function || *slot > 0x1F || *function > 7)
        return std::nullopt;
    return *domain << 16 | *bus << 8 | *slot << 3 | *function;
}

bool isKnownCard(const fs::path &function)
{
    std::uint32_t vendor = 0, device = 0, subsystemVendor = 0, subsystem = 0;
    if (!readHex(function / "vendor", &vendor) || !readHex(function / "device", &device) ||
        !readHex(function / "subsystem_vendor", &subsystemVendor) ||
        !readHex(function / "subsystem_device", &subsystem))
        return false;
    for (const known_card::Row &row : known_card::kRows) {
        if (vendor == row.vendorId && device == row.deviceId &&
            subsystemVendor == row.subsystemVendorId && subsystem == row.subsystemId)
            return true;
    }
    return false;
}

// The address of the nearest PCI function above the adapter when that
// function is a known card; nothing for any other board or none at all.
std::optional<std::uint64_t> knownCardAbove(const fs::path &adapter, const fs::path &root)
{
    fs::path p = adapter.parent_path();
    for (int i = 0; i < kMaxClimb && !p.empty(); ++i) {
        const auto rel = p.lexically_relative(root);
        if (rel.empty() || *rel.begin() == "..")
            return std::nullopt;
        std::error_code ec;
        const auto address = pciAddress(p.filename().string());
        if (address && fs::is_regular_file(p / "vendor", ec))
            return isKnownCard(p) ? address : std::nullopt;
        if (p == p.parent_path())
            break;
        p = p.parent_path();
    }
    return std::nullopt;
}

bool isTimeout(int rc) { return rc == -ETIMEDOUT; }

// Bus transfers run on a thread of the device, so that a slow one can go
// pending and be waited for, or cancelled, like any driver request. One runs
// at a time.
class I2cDevDevice final : public AsynchronousDevice {
public:
    I2cDevDevice(std::shared_ptr<I2cSystem> system, int fd)
        : system_(std::move(system)), fd_(fd), thread_([this] { serve(); })
    {
    }

    ~I2cDevDevice() override
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            quit_ = true;
            cond_.notify_all();
        }
        thread_.join();
        // Closing the handle aborts what is still outstanding.
        if (stalled_)
            finishRecord(*stalled_, kErrorOperationAborted, 0);
        system_->close(fd_);
    }

    bool write(const void *data, std::uint32_t length, std::uint32_t *transferred,
               Overlapped &ov) override
    {
        if (length > 0xFFFF || (length > 0 && !data))
            return failAtOnce(kErrorInvalidParameter, transferred, ov);
        auto job = std::make_shared<Transfer>();
        job->messages.push_back({kCardMcuAddress, 0, static_cast<std::uint16_t>(length),
                                 static_cast<std::uint8_t *>(const_cast<void *>(data))});
        job->bytes = length;
        job->isWrite = true;
        return start(std::move(job), transferred, ov);
    }

    bool read(void *buffer, std::uint32_t length, std::uint32_t *transferred,
              Overlapped &ov) override
    {
        if (length > 0xFFFF || (length > 0 && !buffer))
            return failAtOnce(kErrorInvalidParameter, transferred, ov);
        auto job = std::make_shared<Transfer>();
        job->messages.push_back({kCardMcuAddress, I2C_M_RD, static_cast<std::uint16_t>(length),
                                 static_cast<std::uint8_t *>(buffer)});
        job->bytes = length;
        return start(std::move(job), transferred, ov);
    }

    bool ioControl(std::uint32_t code, const void *inData, std::uint32_t inLength, void *outData,
                   std::uint32_t outLength, std::uint32_t *transferred, Overlapped &ov) override
    {
        const auto *in = static_cast<const std::uint8_t *>(inData);
        auto *out = static_cast<std::uint8_t *>(outData);
        switch (code) {
        case kIoctlOpenTarget: {
            if (inLength < 4 || !in)
                return failAtOnce(kErrorInvalidParameter, transferred, ov);
            const std::uint32_t index = std::uint32_t(in[0]) | std::uint32_t(in[1]) << 8 |
                                        std::uint32_t(in[2]) << 16 | std::uint32_t(in[3]) << 24;
            // This handle reaches one target: the card MCU.
            if (index != 0)
                return failAtOnce(kErrorInvalidParameter, transferred, ov);
            return failAtOnce(0, transferred, ov);
        }
        case kIoctlCloseTarget:
        case kIoctlLockBus:
        case kIoctlLockConnection:
        case kIoctlUnlockBus:
        case kIoctlUnlockConnection:
            // The adapter is already held exclusively by this handle.
            return failAtOnce(0, transferred, ov);
        case kIoctlWriteRead: {
            if (inLength == 0 || !in || inLength > 0xFFFF || outLength > 0xFFFF ||
                (outLength > 0 && !out))
                return failAtOnce(kErrorInvalidParameter, transferred, ov);
            auto job = std::make_shared<Transfer>();
            job->messages.push_back({kCardMcuAddress, 0, static_cast<std::uint16_t>(inLength),
                                     const_cast<std::uint8_t *>(in)});
            if (outLength > 0)
                job->messages.push_back(
                    {kCardMcuAddress, I2C_M_RD, static_cast<std::uint16_t>(outLength), out});
            job->bytes = outLength;
            return start(std::move(job), transferred, ov);
        }
        case kIoctlSequence:
            return sequence(in, inLength, out, outLength, transferred, ov);
        case kIoctlGpio:
        case kIoctlEnableInterrupt:
        case kIoctlDisableInterrupt:
        case kIoctlSignalInterrupt:
        case kIoctlPdInterrupt:
            return failAtOnce(kErrorNotSupported, transferred, ov);
        default:
            return failAtOnce(kErrorInvalidFunction, transferred, ov);
        }
    }

    bool cancelIo() override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (running_)
            cancelled_ = true;
        if (stalled_) {
            finishRecord(*stalled_, kErrorOperationAborted, 0);
            stalled_ = nullptr;
        }
        cond_.notify_all();
        return true;
    }

private:
    bool awaitProgress(Overlapped &ov, std::unique_lock<std::mutex> &lock) override
    {
        if (&ov == stalled_) {
            // The adapter gave up on it, so nothing would ever finish it.
            finishRecord(ov, kErrorSemTimeout, 0);
            stalled_ = nullptr;
            return true;
        }
        if (!running_ || running_->record != &ov)
            return false;
        cond_.wait(lock);
        return true;
    }

    struct Transfer {
        std::vector<i2c_msg> messages;
        std::optional<SequencePlan> plan; // owns the write data of a sequence
        std::uint32_t bytes = 0;          // reported on success
        bool isWrite = false;
        Overlapped *record = nullptr;
        bool done = false;
        bool callerWaiting = false;       // start() still decides the outcome
        int rc = 0;
    };

    bool failAtOnce(std::uint32_t error, std::uint32_t *transferred, Overlapped &ov)
    {
        beginRequest(ov);
        finishRecord(ov, error, 0);
        if (transferred)
            *transferred = 0;
        setLastError(error);
        return error == 0;
    }

    bool sequence(const std::uint8_t *in, std::uint32_t inLength, std::uint8_t *out,
                  std::uint32_t outLength, std::uint32_t *transferred, Overlapped &ov)
    {
        auto job = std::make_shared<Transfer>();
        job->plan = decodeSequence(in, inLength);
        if (!job->plan)
            return failAtOnce(kErrorInvalidParameter, transferred, ov);
        const SequencePlan &plan = *job->plan;
        if (plan.totalRead > outLength || (plan.totalRead > 0 && !out))
            return failAtOnce(kErrorInsufficientBuffer, transferred, ov);
        if (plan.elementCount > I2C_RDWR_IOCTL_MAX_MSGS)
            return failAtOnce(kErrorInvalidParameter, transferred, ov);
        std::uint32_t readOffset = 0;
        for (const SequenceEntry &entry : plan.entries) {
            // One combined transfer cannot pause between its messages.
            if (entry.delayUs != 0)
                return failAtOnce(kErrorNotSupported, transferred, ov);
            for (const SequenceElement &e : entry.elements) {
                if (e.length > 0xFFFF)
                    return failAtOnce(kErrorInvalidParameter, transferred, ov);
                i2c_msg m{kCardMcuAddress, 0, static_cast<std::uint16_t>(e.length), nullptr};
                if (e.read) {
                    m.flags = I2C_M_RD;
                    m.buf = out + readOffset;
                    readOffset += e.length;
                } else {
                    m.buf = job->plan->writeData.data() + e.dataOffset;
                }
                job->messages.push_back(m);
            }
        }
        job->bytes = plan.totalRead;
        return start(std::move(job), transferred, ov);
    }

    bool start(std::shared_ptr<Transfer> job, std::uint32_t *transferred, Overlapped &ov)
    {
        if (transferred)
            *transferred = 0;
        std::unique_lock<std::mutex> lock(mutex_);
        cond_.wait(lock, [this] { return !running_; });
        beginRequest(ov);
        job->record = &ov;
        job->callerWaiting = true;
        running_ = job;
        cancelled_ = false;
        cond_.notify_all();
        const bool done = cond_.wait_for(lock, kAtOnce, [&] { return job->done; });
        job->callerWaiting = false;
        if (!done) {
            setLastError(kErrorIoPending);
            return false;
        }
        settle(*job);
        const std::uint32_t status = win32FromStatus(ov.internal.load());
        if (status == kErrorIoPending) {
            setLastError(kErrorIoPending);
            return false;
        }
        if (transferred)
            *transferred = static_cast<std::uint32_t>(ov.internalHigh.load());
        setLastError(status);
        return status == 0;
    }

    // Called with mutex_ held once the transfer has ended.
    void settle(Transfer &job)
    {
        running_.reset();
        if (isTimeout(job.rc) && job.isWrite && !cancelled_) {
            // Left pending for the caller's limit to run out and cancel it,
            // as a write the driver never finishes.
            stalled_ = job.record;
        } else if (cancelled_ && job.rc != 0) {
            finishRecord(*job.record, kErrorOperationAborted, 0);
        } else {
            finishRecord(*job.record, job.rc == 0 ? 0 : win32FromErrno(-job.rc),
                         job.rc == 0 ? job.bytes : 0);
        }
        cond_.notify_all();
    }

    void serve()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            cond_.wait(lock, [this] { return quit_ || (running_ && !running_->done); });
            if (!running_ || running_->done)
                return;
            std::shared_ptr<Transfer> job = running_;
            lock.unlock();
            const int rc = system_->transfer(fd_, job->messages.data(),
                                             static_cast<unsigned>(job->messages.size()));
            lock.lock();
            job->rc = rc;
            job->done = true;
            if (!job->callerWaiting)
                settle(*job);
            cond_.notify_all();
        }
    }

    std::shared_ptr<I2cSystem> system_;
    int fd_;
    std::condition_variable cond_;
    std::shared_ptr<Transfer> running_;
    Overlapped *stalled_ = nullptr; // a timed-out write, pending until cancelled
    bool cancelled_ = false;
    bool quit_ = false;
    std::thread thread_;
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
    // (card address, adapter number, node name)
    std::vector<std::tuple<std::uint64_t, unsigned, std::string>> found;
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
            if (ec || readTrimmed(adapter / "name") != kCardAdapterName)
                continue;
            const auto card = knownCardAbove(adapter, root);
            if (!card)
                continue;
            if (std::none_of(found.begin(), found.end(),
                             [&](const auto &f) { return std::get<1>(f) == number; }))
                found.emplace_back(*card, number, name);
        }
        if (!found.empty())
            break;
    }
    std::sort(found.begin(), found.end());
    return index < found.size() ? std::get<2>(found[index]) : std::string();
}

std::string kernelDriverAt(const std::string &sysfsRoot, const std::string &adapter, unsigned address)
{
    unsigned number = 0;
    if (!adapterNumber(adapter, &number))
        return {};
    char client[32];
    std::snprintf(client, sizeof client, "%u-%04x", number, address);
    const fs::path link = fs::path(sysfsRoot) / "bus/i2c/devices" / client / "driver";
    std::error_code ec;
    // The link itself counts, whether or not its target can be read.
    if (!fs::exists(fs::symlink_status(link, ec)))
        return {};
    const fs::path target = fs::read_symlink(link, ec);
    const std::string name = ec ? std::string() : target.filename().string();
    return name.empty() ? std::string("unknown") : name;
}

std::unique_ptr<Device> openI2cCard(const std::string &name, std::shared_ptr<I2cSystem> system,
                                    std::uint32_t *error)
{
    *error = kErrorFileNotFound;
    const auto parsed = parseI2cDeviceName(name);
    if (!parsed || parsed->address != kCardMcuAddress || !system)
        return nullptr;
    const std::string adapter = findCardAdapter(system->sysfsRoot(), parsed->bus);
    if (adapter.empty())
        return nullptr;
    const std::string owner = kernelDriverAt(system->sysfsRoot(), adapter, kCardMcuAddress);
    if (!owner.empty()) {
        // Two masters addressing one target interleave their transfers; the
        // kernel's side is never forced out of the way.
        static std::atomic<bool> reported{false};
        if (!reported.exchange(true))
            std::fprintf(stderr,
                         "%s: address 0x%02x is busy, the kernel driver \"%s\" is bound to it; "
                         "the card's microcontroller is left alone\n",
                         adapter.c_str(), kCardMcuAddress, owner.c_str());
        *error = kErrorBusy;
        return nullptr;
    }
    const int fd = system->open(system->devRoot() + "/" + adapter);
    if (fd < 0) {
        *error = win32FromErrno(-fd);
        return nullptr;
    }
    int rc = system->lock(fd);
    if (rc < 0) {
        system->close(fd);
        *error = (rc == -EWOULDBLOCK) ? kErrorSharingViolation : win32FromErrno(-rc);
        return nullptr;
    }
    // Without its own time-out the adapter could hold a request for as long
    // as it likes; such a node is not used.
    rc = system->setTimeout(fd, kAdapterTimeoutMs);
    if (rc < 0) {
        system->close(fd);
        *error = win32FromErrno(-rc);
        return nullptr;
    }
    *error = 0;
    return std::make_unique<I2cDevDevice>(std::move(system), fd);
}

} // namespace platform
