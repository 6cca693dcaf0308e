#include "fake_device.h"

#include <algorithm>
#include <cstring>

class FakeDevice : public platform::Device {
public:
    explicit FakeDevice(FakeDriver *driver) : driver_(driver)
    {
        std::lock_guard<std::mutex> lock(driver_->mutex_);
        ++driver_->live_;
    }
    ~FakeDevice() override
    {
        std::lock_guard<std::mutex> lock(driver_->mutex_);
        --driver_->live_;
    }

    bool write(const void *data, std::uint32_t length, std::uint32_t *transferred,
               platform::Overlapped &ov) override
    {
        FakeRequest request;
        request.kind = FakeRequest::Write;
        request.input = QByteArray(static_cast<const char *>(data), int(length));
        return driver_->start(request, nullptr, transferred, ov);
    }
    bool read(void *buffer, std::uint32_t length, std::uint32_t *transferred,
              platform::Overlapped &ov) override
    {
        FakeRequest request;
        request.kind = FakeRequest::Read;
        request.outputLength = length;
        return driver_->start(request, buffer, transferred, ov);
    }
    bool ioControl(std::uint32_t code, const void *in, std::uint32_t inLength, void *out,
                   std::uint32_t outLength, std::uint32_t *transferred,
                   platform::Overlapped &ov) override
    {
        FakeRequest request;
        request.code = code;
        request.input = QByteArray(static_cast<const char *>(in), int(inLength));
        request.outputLength = outLength;
        return driver_->start(request, out, transferred, ov);
    }
    bool cancelIo() override { return driver_->cancelAll(); }
    bool overlappedResult(platform::Overlapped &ov, std::uint32_t *transferred, bool wait) override
    {
        return driver_->result(ov, transferred, wait);
    }

private:
    FakeDriver *driver_;
};

FakeDriver::FakeDriver()
{
    platform::setDeviceFactoryForTesting([this](const std::string &path, std::uint32_t *error) {
        std::unique_ptr<platform::Device> device;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            openedPaths_.push_back(path);
        }
        if (absent) {
            *error = platform::kErrorFileNotFound;
            platform::setLastError(*error);
            return device;
        }
        device = std::make_unique<FakeDevice>(this);
        return device;
    });
}

FakeDriver::~FakeDriver()
{
    platform::setDeviceFactoryForTesting({});
}

std::vector<FakeRequest> FakeDriver::requests() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

std::vector<std::string> FakeDriver::openedPaths() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return openedPaths_;
}

int FakeDriver::liveDevices() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return live_;
}

int FakeDriver::cancelCalls() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return cancels_;
}

int FakeDriver::pendingCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return int(pending_.size());
}

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
    std::uint32_t count = reply.transferred >= 0 ? std::uint32_t(reply.transferred)
                          : request.kind == FakeRequest::Write ? std::uint32_t(request.input.size())
                                                               : std::uint32_t(fits);
    requests_.push_back(request);

    switch (reply.mode) {
    case FakeReply::Finish:
        ov.internalHigh = count;
        ov.internal = 0;
        if (ov.event)
            ov.event->set();
        *transferred = count;
        return true;
    case FakeReply::Fail:
        platform::setLastError(reply.error);
        return false;
    case FakeReply::Pend:
        ov.internal = platform::kStatusPending;
        pending_.push_back(&ov);
        changed_.notify_all();
        platform::setLastError(platform::kErrorIoPending);
        return false;
    case FakeReply::PendFinished:
        ov.internalHigh = count;
        ov.internal = platform::hresultFromWin32(reply.error);
        if (ov.event)
            ov.event->set();
        platform::setLastError(platform::kErrorIoPending);
        return false;
    }
    return false;
}

void FakeDriver::completePending(std::uint32_t error, std::uint32_t transferred)
{
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !pending_.empty(); });
    for (platform::Overlapped *ov : pending_) {
        ov->internalHigh = transferred;
        ov->internal = platform::hresultFromWin32(error);
        if (ov->event)
            ov->event->set();
    }
    pending_.clear();
    changed_.notify_all();
}

bool FakeDriver::cancelAll()
{
    std::lock_guard<std::mutex> lock(mutex_);
    ++cancels_;
    for (platform::Overlapped *ov : pending_) {
        ov->internalHigh = 0;
        ov->internal = platform::hresultFromWin32(platform::kErrorOperationAborted);
        if (ov->event)
            ov->event->set();
    }
    pending_.clear();
    changed_.notify_all();
    return true;
}

bool FakeDriver::result(platform::Overlapped &ov, std::uint32_t *transferred, bool wait)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (wait)
        changed_.wait(lock, [&] { return ov.internal != platform::kStatusPending; });
    const std::uint32_t status = ov.internal;
    if (status == platform::kStatusPending) {
        platform::setLastError(platform::kErrorIoPending);
        return false;
    }
    *transferred = std::uint32_t(ov.internalHigh);
    if (status != 0) {
        platform::setLastError(platform::win32FromStatus(status));
        return false;
    }
    return true;
}
