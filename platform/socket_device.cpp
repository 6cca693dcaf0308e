#include "platform/socket_device.h"

#include "platform/device_base.h"
#include "platform/endpoint_wire.h"
#include "platform/unique_fd.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long an endpoint may take to greet a new client before it is taken for
// broken; a live endpoint answers at once.
constexpr int kGreetingTimeoutMs = 1000;
// How long a request waits for the endpoint's first answer (finished, or
// pending) before it counts as pending. A write goes pending early, so that
// its caller's 500 ms limit runs from the start; an answer that comes later
// still finishes it.
constexpr milliseconds kWriteAnswerWait{50};
constexpr milliseconds kAnswerWait{500};
// How long a request may stay unfinished before this side cancels it, and
// how long a cancelled one may wait for the endpoint to confirm. An endpoint
// that misses either, or never answered at all, is taken for hung: its
// requests fail here and the connection takes no more.
constexpr milliseconds kRequestLimit{600};
constexpr milliseconds kCancelGrace{100};

class SocketDevice final : public AsynchronousDevice {
public:
    explicit SocketDevice(int fd) : fd_(fd) { reader_ = std::thread([this] { readLoop(); }); }

    ~SocketDevice() override
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closing_ = true;
        }
        ::shutdown(fd_.get(), SHUT_RDWR);
        reader_.join();
    }

    bool write(const void *data, std::uint32_t length, std::uint32_t *transferred,
               Overlapped &ov) override
    {
        return start(wire::Op::Write, 0, data, length, nullptr, 0, transferred, ov);
    }

    bool read(void *buffer, std::uint32_t length, std::uint32_t *transferred,
              Overlapped &ov) override
    {
        return start(wire::Op::Read, 0, nullptr, 0, buffer, length, transferred, ov);
    }

    bool ioControl(std::uint32_t code, const void *in, std::uint32_t inLength, void *out,
                   std::uint32_t outLength, std::uint32_t *transferred, Overlapped &ov) override
    {
        return start(wire::Op::IoControl, code, in, inLength, out, outLength, transferred, ov);
    }

    bool cancelIo() override
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (slots_.empty())
            return true;
        const auto graceEnds = Clock::now() + kCancelGrace;
        std::vector<std::uint32_t> silent;
        for (auto &entry : slots_) {
            if (!entry.second->answered)
                silent.push_back(entry.first);
            entry.second->cancelled = true;
            entry.second->deadline = std::min(entry.second->deadline, graceEnds);
        }
        // An endpoint that has not even taken a request up is not going to
        // confirm its cancel.
        if (!silent.empty())
            giveUp(silent);
        if (slots_.empty() || broken_) {
            failAll(kErrorOperationAborted);
            return true;
        }
        lock.unlock();
        if (sendCancel(0) != 0) {
            // The endpoint can no longer answer; finish the requests here.
            lock.lock();
            failAll(kErrorOperationAborted);
        }
        return true;
    }

private:
    bool awaitProgress(Overlapped &ov, std::unique_lock<std::mutex> &lock) override
    {
        const auto it = slotOf(ov);
        if (it == slots_.end())
            return false;
        const std::uint32_t id = it->first;
        const std::shared_ptr<Slot> slot = it->second;
        if (done_.wait_until(lock, slot->deadline) != std::cv_status::timeout ||
            slot->finished || Clock::now() < slot->deadline)
            return true;
        if (slot->cancelled || !slot->answered) {
            giveUp({id});
            return true;
        }
        // Past its limit: cancel it and give the endpoint a moment to say so.
        slot->cancelled = true;
        slot->deadline = Clock::now() + kCancelGrace;
        lock.unlock();
        const int sent = sendCancel(id);
        lock.lock();
        if (sent != 0)
            failAll(kErrorOperationAborted);
        return true;
    }

    struct Slot {
        Overlapped *ov = nullptr;
        std::uint8_t *out = nullptr;
        std::uint32_t outCapacity = 0;
        std::uint32_t inLength = 0;
        bool isWrite = false;
        bool answered = false; // Pending or Done arrived
        bool finished = false;
        bool cancelled = false;
        Clock::time_point deadline;
        std::uint32_t error = 0;
        std::uint32_t information = 0;
    };

    std::map<std::uint32_t, std::shared_ptr<Slot>>::iterator slotOf(const Overlapped &ov)
    {
        for (auto it = slots_.begin(); it != slots_.end(); ++it)
            if (it->second->ov == &ov)
                return it;
        return slots_.end();
    }

    // Called with mutex_ held: the endpoint is not answering. The requests
    // fail here as cancelled, and the connection takes no new ones, so that a
    // hung endpoint costs one limit and not one per request.
    void giveUp(const std::vector<std::uint32_t> &ids)
    {
        broken_ = true;
        for (std::uint32_t id : ids)
            finish(id, kErrorOperationAborted, 0, {});
        done_.notify_all();
    }

    int send(const wire::Request &request)
    {
        const std::vector<std::uint8_t> bytes = wire::encode(request);
        std::lock_guard<std::mutex> lock(sendMutex_);
        return wire::writeAll(fd_.get(), bytes.data(), bytes.size());
    }

    // id 0 cancels every request of the connection.
    int sendCancel(std::uint32_t id)
    {
        wire::Request cancel;
        cancel.op = wire::Op::Cancel;
        cancel.id = id;
        return send(cancel);
    }

    bool start(wire::Op op, std::uint32_t code, const void *in, std::uint32_t inLength, void *out,
               std::uint32_t outLength, std::uint32_t *transferred, Overlapped &ov)
    {
        if (transferred)
            *transferred = 0;
        if (inLength > wire::kMaxPayload || outLength > wire::kMaxPayload ||
            (inLength > 0 && !in) || (outLength > 0 && !out)) {
            setLastError(kErrorInvalidParameter);
            return false;
        }
        beginRequest(ov);

        auto slot = std::make_shared<Slot>();
        slot->ov = &ov;
        slot->out = static_cast<std::uint8_t *>(out);
        slot->outCapacity = outLength;
        slot->inLength = inLength;
        slot->isWrite = op == wire::Op::Write;

        wire::Request request;
        request.op = op;
        request.code = code;
        request.outLength = op == wire::Op::Write ? 0 : outLength;
        if (inLength > 0) {
            const auto *p = static_cast<const std::uint8_t *>(in);
            request.input.assign(p, p + inLength);
        }

        std::unique_lock<std::mutex> lock(mutex_);
        if (broken_) {
            ov.internal.store(hresultFromWin32(kErrorDeviceNotConnected));
            setLastError(kErrorDeviceNotConnected);
            return false;
        }
        if (++nextId_ == 0)
            nextId_ = 1;
        request.id = nextId_;
        slot->deadline = Clock::now() + kRequestLimit;
        slots_[request.id] = slot;
        lock.unlock();

        if (send(request) != 0) {
            lock.lock();
            // The reader may already have failed it when the stream broke.
            if (!slot->finished) {
                slots_.erase(request.id);
                ov.internal.store(hresultFromWin32(kErrorDeviceNotConnected));
            }
            setLastError(kErrorDeviceNotConnected);
            return false;
        }

        lock.lock();
        done_.wait_for(lock, slot->isWrite ? kWriteAnswerWait : kAnswerWait,
                       [&] { return slot->answered || slot->finished; });
        if (!slot->finished) {
            setLastError(kErrorIoPending);
            return false;
        }
        if (transferred)
            *transferred = slot->information;
        if (slot->error != 0) {
            setLastError(slot->error);
            return false;
        }
        return true;
    }

    // Called with mutex_ held.
    void finish(std::uint32_t id, std::uint32_t error, std::uint32_t information,
                const std::vector<std::uint8_t> &data)
    {
        auto it = slots_.find(id);
        if (it == slots_.end())
            return; // a late answer to something already finished
        Slot &slot = *it->second;
        // Never trust the endpoint with the size of the caller's buffers.
        std::uint32_t copied = 0;
        if (!slot.isWrite && slot.out) {
            copied = static_cast<std::uint32_t>(
                std::min<std::size_t>(data.size(), slot.outCapacity));
            if (copied > 0)
                std::memcpy(slot.out, data.data(), copied);
        }
        const std::uint32_t limit = slot.isWrite ? slot.inLength : copied;
        slot.information = std::min(information, limit);
        slot.error = error;
        slot.finished = true;
        slot.answered = true;
        finishRecord(*slot.ov, error, slot.information);
        slots_.erase(it);
    }

    // Called with mutex_ held.
    void failAll(std::uint32_t error)
    {
        while (!slots_.empty())
            finish(slots_.begin()->first, error, 0, {});
        done_.notify_all();
    }

    void readLoop()
    {
        std::vector<std::uint8_t> frame(wire::kHeaderSize);
        for (;;) {
            frame.resize(wire::kHeaderSize);
            if (wire::readAll(fd_.get(), frame.data(), wire::kHeaderSize) != 0)
                break;
            std::size_t consumed = 0;
            bool bad = false;
            wire::decodeReply(frame.data(), frame.size(), &consumed, &bad);
            if (bad)
                break;
            // The header is whole, so what is missing is the payload.
            const std::size_t payload = std::size_t(frame[20]) | std::size_t(frame[21]) << 8 |
                                        std::size_t(frame[22]) << 16 |
                                        std::size_t(frame[23]) << 24;
            frame.resize(wire::kHeaderSize + payload);
            if (payload > 0 &&
                wire::readAll(fd_.get(), frame.data() + wire::kHeaderSize, payload) != 0)
                break;
            const auto reply = wire::decodeReply(frame.data(), frame.size(), &consumed, &bad);
            if (!reply)
                break;

            std::lock_guard<std::mutex> lock(mutex_);
            if (reply->kind == wire::Kind::Pending) {
                auto it = slots_.find(reply->id);
                if (it != slots_.end())
                    it->second->answered = true;
            } else if (reply->kind == wire::Kind::Done) {
                finish(reply->id, reply->status, reply->information, reply->data);
            }
            done_.notify_all();
        }
        std::lock_guard<std::mutex> lock(mutex_);
        broken_ = true;
        // Closing the handle aborts what is outstanding; an endpoint that went
        // away leaves its requests failed with the device gone.
        failAll(closing_ ? kErrorOperationAborted : kErrorDeviceNotConnected);
    }

    UniqueFd fd_;
    std::thread reader_;
    std::mutex sendMutex_;
    std::condition_variable done_;
    std::map<std::uint32_t, std::shared_ptr<Slot>> slots_;
    std::uint32_t nextId_ = 0;
    bool broken_ = false;
    bool closing_ = false;
};

} // namespace

namespace {

// A connected socket, or -1 with *error and *served set: a refused connection
// or a missing or stale socket means nobody serves the name.
int connectSocket(const std::string &socketPath, std::uint32_t *error, bool *served)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof(address.sun_path))
        return -1;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);

    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        *error = win32FromErrno(errno);
        return -1;
    }
    int rc;
    do {
        rc = ::connect(fd.get(), reinterpret_cast<const sockaddr *>(&address), sizeof(address));
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int err = errno;
        if (err == ECONNREFUSED || err == ENOENT || err == ENOTSOCK)
            return -1;
        *served = true;
        *error = win32FromErrno(err);
        return -1;
    }
    return fd.release();
}

// The endpoint's greeting: 0 when it takes this client, else the error.
std::uint32_t awaitGreeting(int fd)
{
    pollfd p{fd, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&p, 1, kGreetingTimeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0)
        return kErrorGenFailure;
    std::uint8_t header[wire::kHeaderSize];
    // Closed without a word: the endpoint is going away.
    if (wire::readAll(fd, header, sizeof header) != 0)
        return kErrorFileNotFound;
    std::size_t consumed = 0;
    bool bad = false;
    const auto hello = wire::decodeReply(header, sizeof header, &consumed, &bad);
    if (!hello || hello->kind != wire::Kind::Hello)
        return kErrorGenFailure;
    return hello->status;
}

} // namespace

std::unique_ptr<Device> connectEndpoint(const std::string &socketPath, std::uint32_t *error,
                                        bool *served)
{
    *served = false;
    *error = kErrorFileNotFound;
    UniqueFd fd(connectSocket(socketPath, error, served));
    if (!fd.valid())
        return nullptr;
    *served = true;
    *error = awaitGreeting(fd.get());
    if (*error != 0)
        return nullptr;
    return std::make_unique<SocketDevice>(fd.release());
}

} // namespace platform
