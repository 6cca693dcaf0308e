#include "platform/endpoint_wire.h"

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace platform::wire {

namespace {

void put32(std::vector<std::uint8_t> &out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::uint32_t get32(const std::uint8_t *p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

std::vector<std::uint8_t> frame(std::uint32_t magic, std::uint32_t a, std::uint32_t b,
                                std::uint32_t c, std::uint32_t d,
                                const std::vector<std::uint8_t> &payload)
{
    std::vector<std::uint8_t> out;
    out.reserve(kHeaderSize + payload.size());
    put32(out, magic);
    put32(out, a);
    put32(out, b);
    put32(out, c);
    put32(out, d);
    put32(out, static_cast<std::uint32_t>(payload.size()));
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

// Checks the fixed header and that the whole frame is present.
bool frameReady(const std::uint8_t *p, std::size_t n, std::uint32_t magic, std::size_t *consumed,
                bool *bad, std::uint32_t *payloadLength)
{
    *consumed = 0;
    *bad = false;
    if (n < 4)
        return false;
    if (get32(p) != magic) {
        *bad = true;
        return false;
    }
    if (n < kHeaderSize)
        return false;
    *payloadLength = get32(p + 20);
    if (*payloadLength > kMaxPayload) {
        *bad = true;
        return false;
    }
    if (n < kHeaderSize + *payloadLength)
        return false;
    *consumed = kHeaderSize + *payloadLength;
    return true;
}

// A whole frame whose fields make no sense: nothing of it is taken, and the
// stream is not to be trusted after it.
template <typename Frame>
std::optional<Frame> badFrame(std::size_t *consumed, bool *bad)
{
    *consumed = 0;
    *bad = true;
    return std::nullopt;
}

} // namespace

std::vector<std::uint8_t> encode(const Request &r)
{
    return frame(kRequestMagic, r.id, static_cast<std::uint32_t>(r.op), r.code, r.outLength,
                 r.input);
}

std::vector<std::uint8_t> encode(const Reply &r)
{
    return frame(kReplyMagic, r.id, static_cast<std::uint32_t>(r.kind), r.status, r.information,
                 r.data);
}

std::optional<Request> decodeRequest(const std::uint8_t *p, std::size_t n, std::size_t *consumed,
                                     bool *bad)
{
    std::uint32_t length = 0;
    if (!frameReady(p, n, kRequestMagic, consumed, bad, &length))
        return std::nullopt;
    const std::uint32_t op = get32(p + 8);
    const std::uint32_t outLength = get32(p + 16);
    if (op < 1 || op > 4 || outLength > kMaxPayload)
        return badFrame<Request>(consumed, bad);
    Request r;
    r.id = get32(p + 4);
    r.op = static_cast<Op>(op);
    r.code = get32(p + 12);
    r.outLength = outLength;
    r.input.assign(p + kHeaderSize, p + kHeaderSize + length);
    return r;
}

std::optional<Reply> decodeReply(const std::uint8_t *p, std::size_t n, std::size_t *consumed,
                                 bool *bad)
{
    std::uint32_t length = 0;
    if (!frameReady(p, n, kReplyMagic, consumed, bad, &length))
        return std::nullopt;
    const std::uint32_t kind = get32(p + 8);
    if (kind < 1 || kind > 3)
        return badFrame<Reply>(consumed, bad);
    Reply r;
    r.id = get32(p + 4);
    r.kind = static_cast<Kind>(kind);
    r.status = get32(p + 12);
    r.information = get32(p + 16);
    r.data.assign(p + kHeaderSize, p + kHeaderSize + length);
    return r;
}

int writeAll(int fd, const void *data, std::size_t length)
{
    const auto *p = static_cast<const std::uint8_t *>(data);
    while (length > 0) {
        const ssize_t n = ::send(fd, p, length, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        p += n;
        length -= static_cast<std::size_t>(n);
    }
    return 0;
}

int readAll(int fd, void *data, std::size_t length)
{
    auto *p = static_cast<std::uint8_t *>(data);
    while (length > 0) {
        const ssize_t n = ::recv(fd, p, length, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return ECONNRESET;
        p += n;
        length -= static_cast<std::size_t>(n);
    }
    return 0;
}

} // namespace platform::wire
