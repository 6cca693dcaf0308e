#include "fake_device.h"

#include <algorithm>
#include <cstring>

static void settle(platform::Overlapped &ov, std::uint32_t status, std::uint32_t count)
{
    ov.internalHigh = count;
    ov.internal = status;
    if (ov.event)
        ov.event->set();
}

class FakeDevice : public platform::Device {
public:
    explicit FakeDevice(FakeDriver *driver) : driver_(driver) { ++driver_->live_; }
    ~FakeDevice() override { --driver_->live_; }

    bool write(const void *data, std::uint32_t length, std::uint32_t *transferred,
               platform::Overlapped &ov) override
    {
        return driver_->start({FakeRequest::Write, 0, bytes(data, length), 0}, nullptr, transferred, ov);
    }
    bool read(void *buffer, std::uint32_t length, std::uint32_t *transferred,
              platform::Overlapped &ov) override
    {
        return driver_->start({FakeRequest::Read, 0, {}, length}, buffer, transferred, ov);
    }
    bool ioControl(std::uint32_t code, const void *in, std::uint32_t inLength, void *out,
                   std::uint32_t outLength, std::uint32_t *transferred,
                   platform::Overlapped &ov) override
    {
        return driver_->start({FakeRequest::IoControl, code, bytes(in, inLength), outLength}, out,
                              transferred, ov);
    }
    bool cancelIo() override
    {
        std::lock_guard<std::mutex> lock(driver_->mutex_);
        ++driver_->cancels_;
        driver_->finishPending(platform::kErrorOperationAborted, 0);
        return true;
    }
    bool overlappedResult(platform::Overlapped &ov, std::uint32_t *transferred, bool wait) override
    {
        std::unique_lock<std::mutex> lock(driver_->mutex_);
        if (wait)
            driver_->changed_.wait(lock, [&] { return ov.internal != platform::kStatusPending; });
        const std::uint32_t status = ov.internal;
        if (status == platform::kStatusPending) {
            platform::setLastError(platform::kErrorIoPending);
            return false;
        }
        *transferred = std::uint32_t(ov.internalHigh);
        if (status != 0)
            platform::setLastError(platform::win32FromStatus(status));
        return status == 0;
    }

private:
    static QByteArray bytes(const void *data, std::uint32_t length)
    {
        return QByteArray(static_cast<const char *>(data), int(length));
    }
    FakeDriver *driver_;
};

FakeDriver::FakeDriver()
{
    platform::setDeviceFactoryForTesting([this](const std::string &path, std::uint32_t *error) {
        std::lock_guard<std::mutex> lock(mutex_);
        openedPaths_.push_back(path);
        std::unique_ptr<platform::Device> device;
        if (absent)
            platform::setLastError(*error = platform::kErrorFileNotFound);
        else
            device = std::make_unique<FakeDevice>(this);
        return device;
    });
}

FakeDriver::~FakeDriver() { platform::setDeviceFactoryForTesting({}); }

bool FakeDriver::start(FakeRequest request, void *out, std::uint32_t *transferred,
                       platform::Overlapped &ov)
{
    std::lock_guard<std::mutex> lock(mutex_);
    FakeReply reply = defaultReply;
    if (!script.empty()) {
        reply = script.front();
        script.pop_front();
    }
    const int fits = std::min<int>(reply.output.size(), int(request.outputLength));
    if (out && fits > 0)
        std::memcpy(out, reply.output.constData(), std::size_t(fits));
    const std::uint32_t count = reply.transferred >= 0 ? std::uint32_t(reply.transferred)
                                : request.kind == FakeRequest::Write ? std::uint32_t(request.input.size())
                                                                     : std::uint32_t(fits);
    requests_.push_back(request);

    switch (reply.mode) {
    case FakeReply::Finish:
        settle(ov, 0, count);
        *transferred = count;
        return true;
    case FakeReply::Fail:
        platform::setLastError(reply.error);
        return false;
    case FakeReply::Pend:
        ov.internal = platform::kStatusPending;
        pending_.push_back(&ov);
        changed_.notify_all();
        break;
    case FakeReply::PendFinished:
        settle(ov, platform::hresultFromWin32(reply.error), count);
        break;
    }
    platform::setLastError(platform::kErrorIoPending);
    return false;
}

void FakeDriver::completePending(std::uint32_t error, std::uint32_t transferred)
{
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !pending_.empty(); });
    finishPending(error, transferred);
}

void FakeDriver::finishPending(std::uint32_t error, std::uint32_t transferred)
{
    for (platform::Overlapped *ov : pending_)
        settle(*ov, platform::hresultFromWin32(error), transferred);
    pending_.clear();
    changed_.notify_all();
}
