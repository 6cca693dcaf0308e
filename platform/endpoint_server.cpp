#include "platform/endpoint_server.h"

#include "platform/overlapped.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {

namespace {

bool makeAddress(const std::string &path, sockaddr_un *address)
{
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address->sun_path))
        return false;
    std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
    return true;
}

bool someoneServes(const std::string &path)
{
    sockaddr_un address;
    if (!makeAddress(path, &address))
        return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool served =
        ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return served;
}

} // namespace

EndpointServer::EndpointServer(EndpointHandler &handler) : handler_(handler) {}

EndpointServer::~EndpointServer()
{
    dropClient();
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        ::unlink(path_.c_str());
    }
}

bool EndpointServer::listen(const std::string &path, std::string *error)
{
    const auto slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string temp = dir + "/." + base + "." + std::to_string(::getpid()) + ".tmp";
    sockaddr_un address;
    if (!makeAddress(path, &address) || !makeAddress(temp, &address)) {
        *error = "socket path too long: " + path;
        return false;
    }

    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            *error = path + " exists and is not a socket";
            return false;
        }
        if (someoneServes(path)) {
            *error = path + " is already served";
            return false;
        }
    }

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    ::unlink(temp.c_str());
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        ::chmod(temp.c_str(), 0600) != 0 || ::listen(fd, 4) != 0 ||
        ::rename(temp.c_str(), path.c_str()) != 0) {
        *error = path + ": " + std::strerror(errno);
        ::close(fd);
        ::unlink(temp.c_str());
        return false;
    }
    listenFd_ = fd;
    path_ = path;
    return true;
}

void EndpointServer::run(int stopFd)
{
    for (;;) {
        pollfd fds[3];
        nfds_t count = 0;
        fds[count++] = {stopFd, POLLIN, 0};
        const int listenIndex = listenFd_ >= 0 ? int(count) : -1;
        if (listenFd_ >= 0)
            fds[count++] = {listenFd_, POLLIN, 0};
        const int clientIndex = clientFd_ >= 0 ? int(count) : -1;
        if (clientFd_ >= 0)
            fds[count++] = {clientFd_, POLLIN, 0};

        int timeout = -1;
        if (!queue_.empty() && queue_.front().started) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  queue_.front().due - Clock::now())
                                  .count();
            timeout = left > 0 ? int(left) : 0;
        }
        const int ready = ::poll(fds, count, timeout);
        if (ready < 0 && errno != EINTR)
            return;
        if (ready > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
            return;
        if (ready > 0 && clientIndex >= 0 && fds[clientIndex].revents)
            readClient();
        if (ready > 0 && listenIndex >= 0 && listenFd_ >= 0 && fds[listenIndex].revents)
            accept();
        runDue();
        if (withdrawPending_)
            withdraw();
    }
}

void EndpointServer::accept()
{
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return;
    wire::Reply hello;
    hello.kind = wire::Kind::Hello;
    if (clientFd_ >= 0) {
        hello.status = kErrorSharingViolation;
        const auto bytes = wire::encode(hello);
        wire::writeAll(fd, bytes.data(), bytes.size());
        ::close(fd);
        return;
    }
    clientFd_ = fd;
    inbox_.clear();
    send(hello);
}

void EndpointServer::readClient()
{
    std::uint8_t chunk[4096];
    const ssize_t n = ::recv(clientFd_, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (n <= 0) {
        dropClient();
        return;
    }
    inbox_.insert(inbox_.end(), chunk, chunk + n);
    for (;;) {
        std::size_t consumed = 0;
        bool bad = false;
        auto request = wire::decodeRequest(inbox_.data(), inbox_.size(), &consumed, &bad);
        if (bad) {
            dropClient();
            return;
        }
        if (!request)
            return;
        inbox_.erase(inbox_.begin(), inbox_.begin() + std::ptrdiff_t(consumed));
        handleRequest(std::move(*request));
        if (clientFd_ < 0 || withdrawPending_)
            return;
    }
}

void EndpointServer::handleRequest(wire::Request request)
{
    if (request.op == wire::Op::Cancel) {
        cancel(request.id);
        return;
    }
    if (!queue_.empty()) {
        // The bus does one thing at a time: wait behind what is pending.
        queue_.push_back({std::move(request), false, {}});
        wire::Reply pending;
        pending.kind = wire::Kind::Pending;
        pending.id = queue_.back().request.id;
        send(pending);
        return;
    }
    const EndpointHandler::Answer a = handler_.handle(request);
    if (a.pendingMs >= 0) {
        queue_.push_back({std::move(request), true, Clock::now() + std::chrono::milliseconds(a.pendingMs)});
        wire::Reply pending;
        pending.kind = wire::Kind::Pending;
        pending.id = queue_.back().request.id;
        send(pending);
        return;
    }
    answer(request.id, a);
}

void EndpointServer::cancel(std::uint32_t id)
{
    bool headGone = false;
    for (auto it = queue_.begin(); it != queue_.end();) {
        if (id == 0 || it->request.id == id) {
            headGone = headGone || it == queue_.begin();
            wire::Reply done;
            done.id = it->request.id;
            done.status = kErrorOperationAborted;
            send(done);
            it = queue_.erase(it);
        } else {
            ++it;
        }
    }
    if (headGone)
        startQueued();
}

void EndpointServer::runDue()
{
    while (!queue_.empty() && queue_.front().started && queue_.front().due <= Clock::now()) {
        const wire::Request request = queue_.front().request;
        queue_.pop_front();
        answer(request.id, handler_.finish(request));
        if (withdrawPending_)
            return;
        startQueued();
    }
}

void EndpointServer::startQueued()
{
    while (!queue_.empty() && !queue_.front().started && !withdrawPending_) {
        Queued &head = queue_.front();
        const EndpointHandler::Answer a = handler_.handle(head.request);
        if (a.pendingMs >= 0) {
            head.started = true;
            head.due = Clock::now() + std::chrono::milliseconds(a.pendingMs);
            return;
        }
        const std::uint32_t id = head.request.id;
        queue_.pop_front();
        answer(id, a);
    }
}

void EndpointServer::answer(std::uint32_t id, const EndpointHandler::Answer &a)
{
    wire::Reply done;
    done.id = id;
    done.status = a.status;
    done.information = a.information;
    done.data = a.data;
    send(done);
    if (a.withdraw)
        withdrawPending_ = true;
}

void EndpointServer::send(const wire::Reply &reply)
{
    if (clientFd_ < 0)
        return;
    const auto bytes = wire::encode(reply);
    if (wire::writeAll(clientFd_, bytes.data(), bytes.size()) != 0)
        dropClient();
}

void EndpointServer::dropClient()
{
    if (clientFd_ >= 0)
        ::close(clientFd_);
    clientFd_ = -1;
    inbox_.clear();
    queue_.clear();
}

void EndpointServer::withdraw()
{
    withdrawPending_ = false;
    // The name goes first, so a client that sees its connection end cannot
    // find the device any more.
    if (listenFd_ >= 0) {
        ::unlink(path_.c_str());
        ::close(listenFd_);
        listenFd_ = -1;
    }
    dropClient();
}

} // namespace platform
