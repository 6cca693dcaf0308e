#include "platform/device_base.h"

namespace platform {

void beginRequest(Overlapped &ov)
{
    ov.internalHigh.store(0, std::memory_order_relaxed);
    ov.internal.store(kStatusPending, std::memory_order_release);
    if (ov.event)
        ov.event->reset();
}

void finishRecord(Overlapped &ov, std::uint32_t error, std::uint64_t information)
{
    ov.internalHigh.store(information, std::memory_order_relaxed);
    ov.internal.store(hresultFromWin32(error), std::memory_order_release);
    if (ov.event)
        ov.event->set();
}

bool resultOfRecord(const Overlapped &ov, std::uint32_t *transferred)
{
    const std::uint32_t status = ov.internal.load(std::memory_order_acquire);
    if (status == kStatusPending) {
        setLastError(kErrorIoPending);
        return false;
    }
    if (transferred)
        *transferred = static_cast<std::uint32_t>(ov.internalHigh.load(std::memory_order_relaxed));
    const std::uint32_t error = win32FromStatus(status);
    if (error != 0) {
        setLastError(error);
        return false;
    }
    return true;
}

bool SynchronousDevice::complete(std::uint32_t error, std::uint32_t done,
                                 std::uint32_t *transferred, Overlapped &ov)
{
    finishRecord(ov, error, done);
    if (transferred)
        *transferred = done;
    if (error != 0) {
        setLastError(error);
        return false;
    }
    return true;
}

bool SynchronousDevice::write(const void *data, std::uint32_t length, std::uint32_t *transferred,
                              Overlapped &ov)
{
    beginRequest(ov);
    std::uint32_t done = 0;
    const std::uint32_t error = doWrite(static_cast<const std::uint8_t *>(data), length, &done);
    return complete(error, done, transferred, ov);
}

bool SynchronousDevice::read(void *buffer, std::uint32_t length, std::uint32_t *transferred,
                             Overlapped &ov)
{
    beginRequest(ov);
    std::uint32_t done = 0;
    const std::uint32_t error = doRead(static_cast<std::uint8_t *>(buffer), length, &done);
    return complete(error, done, transferred, ov);
}

bool SynchronousDevice::ioControl(std::uint32_t code, const void *in, std::uint32_t inLength,
                                  void *out, std::uint32_t outLength, std::uint32_t *transferred,
                                  Overlapped &ov)
{
    beginRequest(ov);
    std::uint32_t done = 0;
    const std::uint32_t error = doIoControl(code, static_cast<const std::uint8_t *>(in), inLength,
                                            static_cast<std::uint8_t *>(out), outLength, &done);
    return complete(error, done, transferred, ov);
}

bool SynchronousDevice::overlappedResult(Overlapped &ov, std::uint32_t *transferred, bool wait)
{
    if (resultOfRecord(ov, transferred))
        return true;
    if (lastError() == kErrorIoPending && wait) {
        // Nothing on this device is ever left pending, so this record was not
        // started here and waiting would never end.
        setLastError(kErrorInvalidParameter);
    }
    return false;
}

bool AsynchronousDevice::overlappedResult(Overlapped &ov, std::uint32_t *transferred, bool wait)
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (resultOfRecord(ov, transferred))
            return true;
        if (lastError() != kErrorIoPending || !wait)
            return false;
        if (!awaitProgress(ov, lock)) {
            setLastError(kErrorInvalidParameter);
            return false;
        }
    }
}

} // namespace platform
