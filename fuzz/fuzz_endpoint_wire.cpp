// Fuzzes the endpoint's byte stream from both ends: whatever a peer sends is
// split into frames, and every frame read is exactly the bytes it was read
// from.

#include "fuzz_check.h"
#include "platform/endpoint_wire.h"

#include <cstdint>
#include <cstring>

namespace {

template <typename Frame, typename Decode>
void stream(const std::uint8_t *data, std::size_t size, Decode decode)
{
    std::size_t at = 0;
    while (at < size) {
        std::size_t consumed = 99;
        bool bad = false;
        const std::optional<Frame> frame = decode(data + at, size - at, &consumed, &bad);
        if (!frame) {
            fuzz::check(consumed == 0, "no frame, yet bytes consumed");
            // More bytes could only follow a frame that is short of them.
            if (!bad)
                fuzz::check(size - at < platform::wire::kHeaderSize + platform::wire::kMaxPayload,
                            "waiting for more than the largest frame");
            return;
        }
        fuzz::check(!bad, "a frame reported bad");
        fuzz::check(consumed >= platform::wire::kHeaderSize && consumed <= size - at, "consumed out of bounds");
        const std::vector<std::uint8_t> again = platform::wire::encode(*frame);
        fuzz::check(again.size() == consumed && std::memcmp(again.data(), data + at, consumed) == 0,
                    "a frame does not encode to its bytes");
        at += consumed;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    stream<platform::wire::Request>(data, size, platform::wire::decodeRequest);
    stream<platform::wire::Reply>(data, size, platform::wire::decodeReply);
    return 0;
}
