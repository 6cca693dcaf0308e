// Fuzzes the endpoint's byte stream from both ends: whatever a peer sends is
// split into frames, and every frame read is exactly the bytes it came from.

#include "fuzz_check.h"
#include "platform/endpoint_wire.h"

#include <cstring>

namespace {

template <typename Frame, typename Decode>
void stream(const std::uint8_t *data, std::size_t size, Decode decode)
{
    using namespace platform::wire;
    for (std::size_t at = 0; at < size;) {
        std::size_t consumed = 99;
        bool bad = false;
        const std::optional<Frame> frame = decode(data + at, size - at, &consumed, &bad);
        if (!frame) {
            // Only a frame short of bytes waits for more.
            fuzz::check(consumed == 0 && (bad || size - at < kHeaderSize + kMaxPayload), "no frame, yet bytes taken or awaited");
            return;
        }
        const std::vector<std::uint8_t> again = encode(*frame);
        fuzz::check(!bad && consumed <= size - at && again.size() == consumed && std::memcmp(again.data(), data + at, consumed) == 0,
                    "a frame does not encode to the bytes it was read from");
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
