#pragma once
// An in-process peripheral driver: records every request and answers it as
// scripted, finishing at once, failing at once, or going pending.

#include "platform/overlapped.h"

#include <QByteArray>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

struct FakeRequest {
    enum Kind { Write, Read, IoControl } kind = IoControl;
    std::uint32_t code = 0; // control code
    QByteArray input;
    std::uint32_t outputLength = 0;
};

struct FakeReply {
    enum Mode {
        Finish,       // succeeds inside the start call
        Fail,         // fails inside the start call with error, record untouched
        Pend,         // pending until completePending() or cancelIo()
        PendFinished, // reported pending, but already finished and signalled
    };
    FakeReply(Mode m = Finish, std::uint32_t e = 0, int t = -1, QByteArray o = {})
        : mode(m), error(e), transferred(t), output(std::move(o)) {}
    Mode mode;
    std::uint32_t error;
    int transferred;   // -1: the whole write, or the reply bytes that fit
    QByteArray output; // copied into the output buffer
};

class FakeDriver {
public:
    // Installs itself as the device factory until destroyed.
    FakeDriver();
    ~FakeDriver();

    bool absent = false;          // opening fails with error 2
    FakeReply defaultReply;
    std::deque<FakeReply> script; // used before defaultReply, one per request

    std::vector<FakeRequest> requests() const { return locked(requests_); }
    std::vector<std::string> openedPaths() const { return locked(openedPaths_); }
    int liveDevices() const { return live_; }
    int cancelCalls() const { return locked(cancels_); }
    // Blocks until a request is pending, then finishes every pending one.
    void completePending(std::uint32_t error, std::uint32_t transferred);

private:
    friend class FakeDevice;
    template <class T> T locked(const T &value) const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return value;
    }
    bool start(FakeRequest request, void *out, std::uint32_t *transferred, platform::Overlapped &ov);
    void finishPending(std::uint32_t error, std::uint32_t transferred); // mutex held

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<FakeRequest> requests_;
    std::vector<std::string> openedPaths_;
    std::vector<platform::Overlapped *> pending_;
    std::atomic<int> live_{0};
    int cancels_ = 0;
};
