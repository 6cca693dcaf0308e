#pragma once
// The byte stream between a device client and a user-space endpoint on a
// Unix-domain socket. All numbers are 32-bit little-endian.
//
// Client -> endpoint, one frame per request:
//   magic "TVRQ", id, op, control code, output length, input length, input bytes
// Endpoint -> client:
//   magic "TVRP", id, kind, status, information, data length, data bytes
//
// On connect the endpoint first sends a Hello (id 0): status 0 admits the
// client, any other status (32 when another client is connected) refuses it
// and the endpoint closes the connection. Each request then gets, in order,
// either Done at once, or Pending followed later by Done. A Cancel frame (id
// of the request, or 0 for all) makes the endpoint finish every matching
// request still pending with status 995; requests that already finished are
// not touched. Status values are plain Windows error codes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace platform::wire {

constexpr std::uint32_t kRequestMagic = 0x51525654u; // "TVRQ"
constexpr std::uint32_t kReplyMagic = 0x50525654u;   // "TVRP"
constexpr std::size_t kHeaderSize = 24;
// Largest input, output or reply payload either side accepts; anything larger
// is a broken peer.
constexpr std::uint32_t kMaxPayload = 64 * 1024;

enum class Op : std::uint32_t { Write = 1, Read = 2, IoControl = 3, Cancel = 4 };
enum class Kind : std::uint32_t { Hello = 1, Pending = 2, Done = 3 };

struct Request {
    std::uint32_t id = 0;
    Op op = Op::Write;
    std::uint32_t code = 0;
    std::uint32_t outLength = 0;
    std::vector<std::uint8_t> input;
};

struct Reply {
    std::uint32_t id = 0;
    Kind kind = Kind::Done;
    std::uint32_t status = 0;
    std::uint32_t information = 0;
    std::vector<std::uint8_t> data;
};

std::vector<std::uint8_t> encode(const Request &r);
std::vector<std::uint8_t> encode(const Reply &r);

// Decoders for a byte buffer that may hold a partial frame. They return the
// frame and set *consumed when a whole valid frame is at the front, nothing
// with *consumed = 0 when more bytes are needed, and nothing with *bad set
// when the front cannot be a frame (wrong magic, unknown op/kind, oversized).
std::optional<Request> decodeRequest(const std::uint8_t *p, std::size_t n, std::size_t *consumed,
                                     bool *bad);
std::optional<Reply> decodeReply(const std::uint8_t *p, std::size_t n, std::size_t *consumed,
                                 bool *bad);

// Whole-buffer socket I/O that retries on EINTR and never raises SIGPIPE.
// They return 0 or an errno value; readAll returns ECONNRESET at end of stream.
int writeAll(int fd, const void *data, std::size_t length);
int readAll(int fd, void *data, std::size_t length);

} // namespace platform::wire
