#pragma once
// Overlapped device I/O with Windows semantics, as the card link expects it:
// requests either finish at once or go pending (last error 997) and finish
// later through their completion record; statuses use the Windows error
// vocabulary. Device names of the form \\.\NAME resolve to a user-space
// endpoint socket NAME in the runtime directory, else to the card's I2C
// adapter through i2c-dev, else to error 2.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

// Windows error codes used across the card link.
enum WinError : std::uint32_t {
    kErrorSuccess = 0,
    kErrorFileNotFound = 2,
    kErrorPathNotFound = 3,
    kErrorAccessDenied = 5,
    kErrorInvalidHandle = 6,
    kErrorNotEnoughMemory = 8,
    kErrorGenFailure = 31,
    kErrorSharingViolation = 32,
    kErrorNotSupported = 50,
    kErrorInvalidParameter = 87,
    kErrorSemTimeout = 121,
    kErrorInsufficientBuffer = 122,
    kErrorBusy = 170,
    kWaitTimeout = 258,
    kErrorOperationAborted = 995,
    kErrorIoPending = 997,
    kErrorDeviceNotConnected = 1167,
};

constexpr std::uint32_t kWaitObject0 = 0;
// Status word of a request that has not finished yet.
constexpr std::uint32_t kStatusPending = 0x103;

constexpr std::uint32_t hresultFromWin32(std::uint32_t error)
{
    return error == 0 ? 0u : (0x80070000u | (error & 0xFFFFu));
}
// Maps a recorded status (0, an HRESULT 0x8007xxxx or a plain code) back to
// the plain Windows error code.
std::uint32_t win32FromStatus(std::uint32_t status);
// The one errno -> Windows error table.
std::uint32_t win32FromErrno(int err);

// Per-thread last error, like GetLastError/SetLastError.
std::uint32_t lastError();
void setLastError(std::uint32_t error);

void sleepMs(unsigned ms);

class Event {
public:
    explicit Event(bool manualReset, bool initiallySet = false);
    ~Event();
    Event(const Event &) = delete;
    Event &operator=(const Event &) = delete;

    void set();
    void reset();
    // kWaitObject0 when signalled, kWaitTimeout after timeoutMs; a negative
    // time-out waits for ever. An auto-reset event is reset by a successful wait.
    std::uint32_t wait(int timeoutMs);

private:
    struct State;
    std::unique_ptr<State> d;
};

// The completion record of one request (OVERLAPPED). The caller owns it and
// the buffers of its request until the request has finished.
struct Overlapped {
    std::atomic<std::uint32_t> internal{0};      // status word
    std::atomic<std::uint64_t> internalHigh{0};  // information word: bytes transferred
    Event *event = nullptr;                      // completion event, not owned; may be null

    Overlapped() = default;
    Overlapped(const Overlapped &) = delete;
    Overlapped &operator=(const Overlapped &) = delete;
};

class Device {
public:
    virtual ~Device() = default;

    // Each start call returns true when the request finished at once (the
    // record is filled and *transferred set), or false with lastError():
    // kErrorIoPending when it finishes later through the record, anything
    // else when it failed at once.
    virtual bool write(const void *data, std::uint32_t length, std::uint32_t *transferred,
                       Overlapped &ov) = 0;
    virtual bool read(void *buffer, std::uint32_t length, std::uint32_t *transferred,
                      Overlapped &ov) = 0;
    virtual bool ioControl(std::uint32_t code, const void *in, std::uint32_t inLength, void *out,
                           std::uint32_t outLength, std::uint32_t *transferred,
                           Overlapped &ov) = 0;
    // Cancels every request of this device that has not finished; each then
    // finishes with kErrorOperationAborted.
    virtual bool cancelIo() = 0;

    // GetOverlappedResult: with wait, blocks until the request finished.
    // Returns false with lastError() = the request's plain error code, or
    // kErrorIoPending when not waiting and it has not finished.
    virtual bool overlappedResult(Overlapped &ov, std::uint32_t *transferred, bool wait) = 0;
};

// Opens a device by name (\\.\NAME). On failure returns null and stores the
// Windows error code in *error and in lastError().
std::unique_ptr<Device> openDevice(const std::string &path, std::uint32_t *error);

// Tests replace name resolution with an in-process device; pass an empty
// function to restore the real one.
using DeviceFactory = std::function<std::unique_ptr<Device>(const std::string &path,
                                                            std::uint32_t *error)>;
void setDeviceFactoryForTesting(DeviceFactory factory);

// The runtime directory endpoints live in: $XDG_RUNTIME_DIR, else a 0700
// folder under /tmp owned by this user.
std::string runtimeDirectory();

} // namespace platform
