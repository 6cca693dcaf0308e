// Status words, the errno table and the per-thread last error.

#include "platform/overlapped.h"

#include <cerrno>
#include <chrono>
#include <thread>

namespace platform {

namespace {
thread_local std::uint32_t t_lastError = 0;

// NTSTATUS values a driver may leave in a status word.
constexpr std::uint32_t kNtStatusCancelled = 0xC0000120u;
constexpr std::uint32_t kNtStatusInvalidDeviceRequest = 0xC0000010u;
constexpr std::uint32_t kNtStatusNoSuchDevice = 0xC000000Eu;
} // namespace

std::uint32_t win32FromStatus(std::uint32_t status)
{
    if (status == 0)
        return 0;
    if ((status & 0xFFFF0000u) == 0x80070000u)
        return status & 0xFFFFu;
    switch (status) {
    case kStatusPending: return kErrorIoPending;
    case kNtStatusCancelled: return kErrorOperationAborted;
    case kNtStatusInvalidDeviceRequest: return kErrorNotSupported;
    case kNtStatusNoSuchDevice: return kErrorDeviceNotConnected;
    default: break;
    }
    // Any other failure status that is not a plain code says no more than
    // "the device failed".
    if (status & 0x80000000u)
        return kErrorGenFailure;
    return status;
}

std::uint32_t win32FromErrno(int err)
{
    switch (err) {
    case 0: return kErrorSuccess;
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR:
    case ELOOP: return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS: return kErrorAccessDenied;
    case EBADF: return kErrorInvalidHandle;
    case ENOMEM: return kErrorNotEnoughMemory;
    case EIO:
    case EREMOTEIO:
    case EPROTO: return kErrorGenFailure;
    case EWOULDBLOCK: // same value as EAGAIN
    case EBUSY: return kErrorBusy;
    case ETXTBSY: return kErrorSharingViolation;
    case EINVAL:
    case EFAULT:
    case ERANGE: return kErrorInvalidParameter;
    case ENOTTY:
    case ENOSYS:
    case EOPNOTSUPP: return kErrorNotSupported;
    case ETIMEDOUT: return kErrorSemTimeout;
    case EMSGSIZE:
    case EOVERFLOW:
    case ENOBUFS: return kErrorInsufficientBuffer;
    case ECANCELED:
    case EINTR: return kErrorOperationAborted;
    case ENXIO:
    case ENODEV:
    case EPIPE:
    case ECONNRESET:
    case ENOTCONN:
    case ESHUTDOWN: return kErrorDeviceNotConnected;
    case ECONNREFUSED: return kErrorFileNotFound;
    case ENAMETOOLONG: return 206; // ERROR_FILENAME_EXCED_RANGE
    default: return kErrorGenFailure;
    }
}

std::uint32_t lastError() { return t_lastError; }

void setLastError(std::uint32_t error) { t_lastError = error; }

void sleepMs(unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

} // namespace platform
