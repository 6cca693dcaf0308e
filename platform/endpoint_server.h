#pragma once
// Hosting side of a user-space device endpoint: a Unix-domain socket that
// serves one client at a time and answers its requests at once or later.
// A second client is greeted with status 32 (sharing violation) and dropped.

#include "platform/endpoint_wire.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace platform {

class EndpointHandler {
public:
    struct Answer {
        std::uint32_t status = 0; // plain Windows error code
        std::uint32_t information = 0;
        std::vector<std::uint8_t> data;
        // >= 0: the request stays pending that long, then finish() runs it.
        int pendingMs = -1;
        // The device goes away once this answer is out.
        bool withdraw = false;
    };
    virtual ~EndpointHandler() = default;
    virtual Answer handle(const wire::Request &request) = 0;
    virtual Answer finish(const wire::Request &request) = 0;
};

class EndpointServer {
public:
    explicit EndpointServer(EndpointHandler &handler);
    ~EndpointServer();
    EndpointServer(const EndpointServer &) = delete;
    EndpointServer &operator=(const EndpointServer &) = delete;

    // Makes the socket appear at `path` in one step (bound under a temporary
    // name, then renamed). Refuses to replace anything but a dead socket.
    bool listen(const std::string &path, std::string *error);
    // Serves until `stopFd` becomes readable.
    void run(int stopFd);
    bool listening() const { return listenFd_ >= 0; }

private:
    using Clock = std::chrono::steady_clock;
    struct Queued {
        wire::Request request;
        bool started = false;
        Clock::time_point due;
    };

    void accept();
    void readClient();
    void handleRequest(wire::Request request);
    void cancel(std::uint32_t id);
    void runDue();
    void startQueued();
    void send(const wire::Reply &reply);
    void answer(std::uint32_t id, const EndpointHandler::Answer &a);
    void dropClient();
    void withdraw();

    EndpointHandler &handler_;
    std::string path_;
    int listenFd_ = -1;
    int clientFd_ = -1;
    std::vector<std::uint8_t> inbox_;
    std::deque<Queued> queue_;
    bool withdrawPending_ = false;
};

} // namespace platform
