#pragma once
// Pieces every device kind shares.

#include "platform/overlapped.h"

#include <mutex>

namespace platform {

// ERROR_INVALID_NAME: a device path that can never name a device.
constexpr std::uint32_t kErrorInvalidName = 123;

// Prepares a record for a new request: pending status, no bytes, event reset.
void beginRequest(Overlapped &ov);

// Finishes a record: information, then status, then the event.
void finishRecord(Overlapped &ov, std::uint32_t error, std::uint64_t information);

// overlappedResult for a record that has finished (or was filled by its
// caller). Returns false with lastError = kErrorIoPending when it has not.
bool resultOfRecord(const Overlapped &ov, std::uint32_t *transferred);

// A device whose requests all finish inside the start call. Subclasses
// implement the transfer; this base fills records the Windows way.
class SynchronousDevice : public Device {
public:
    bool write(const void *data, std::uint32_t length, std::uint32_t *transferred,
               Overlapped &ov) override;
    bool read(void *buffer, std::uint32_t length, std::uint32_t *transferred,
              Overlapped &ov) override;
    bool ioControl(std::uint32_t code, const void *in, std::uint32_t inLength, void *out,
                   std::uint32_t outLength, std::uint32_t *transferred, Overlapped &ov) override;
    bool cancelIo() override { return true; }
    bool overlappedResult(Overlapped &ov, std::uint32_t *transferred, bool wait) override;

protected:
    // Each returns a Windows error (0 on success) and sets *done to the bytes
    // written, read or returned.
    virtual std::uint32_t doWrite(const std::uint8_t *data, std::uint32_t length,
                                  std::uint32_t *done) = 0;
    virtual std::uint32_t doRead(std::uint8_t *buffer, std::uint32_t length,
                                 std::uint32_t *done) = 0;
    virtual std::uint32_t doIoControl(std::uint32_t code, const std::uint8_t *in,
                                      std::uint32_t inLength, std::uint8_t *out,
                                      std::uint32_t outLength, std::uint32_t *done) = 0;

private:
    bool complete(std::uint32_t error, std::uint32_t done, std::uint32_t *transferred,
                  Overlapped &ov);
};

// A device whose requests may stay pending after the start call and finish on
// a thread of the device. It owns the one loop that waits for a result;
// subclasses say, for a record still pending, what waiting means for them.
class AsynchronousDevice : public Device {
public:
    bool overlappedResult(Overlapped &ov, std::uint32_t *transferred, bool wait) final;

protected:
    // Called with mutex_ held (through lock) while ov is pending and its
    // caller waits. Blocks until ov may have changed, or finishes it itself,
    // and returns true; false when this device is not running ov, so that
    // waiting would never end.
    virtual bool awaitProgress(Overlapped &ov, std::unique_lock<std::mutex> &lock) = 0;

    // Guards the requests in flight and whatever finishes their records.
    std::mutex mutex_;
};

} // namespace platform
