#pragma once
// Decoding of the input buffer of a transfer-sequence request: a descriptor
// (20-byte header, one record per entry) followed by the write data.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace platform {

struct SequenceElement {
    bool read = false;
    std::uint32_t length = 0;
    std::size_t dataOffset = 0; // write elements: offset into the write data
};

struct SequenceEntry {
    std::uint32_t format = 0;    // 1 simple, 2 buffer list, 4 MDL
    std::uint32_t direction = 0; // 1 read, 2 write
    std::uint32_t delayUs = 0;
    std::vector<SequenceElement> elements;
};

struct SequencePlan {
    std::vector<SequenceEntry> entries;
    std::vector<std::uint8_t> writeData;
    std::uint32_t totalRead = 0;
    std::uint32_t elementCount = 0;
};

// The layout: a header of five words (descriptor size, entry count, list
// count, MDL count, MDL element count), then per entry four words (format,
// direction, delay in microseconds, length or element count) and, for a list
// or MDL entry, one word per element length. All words little-endian.
constexpr std::uint32_t kSequenceHeaderSize = 20;
constexpr std::uint32_t kSequenceEntrySize = 16;
constexpr std::uint32_t kSequenceElementSize = 4;

constexpr std::uint32_t kSequenceFormatSimple = 1;
constexpr std::uint32_t kSequenceFormatBufferList = 2;
constexpr std::uint32_t kSequenceFormatMdl = 4;

constexpr std::uint32_t kSequenceDirectionRead = 1;
constexpr std::uint32_t kSequenceDirectionWrite = 2;

// Nothing when the buffer is not a consistent descriptor: sizes that do not
// add up, unknown formats or directions, empty lists, absurd counts.
std::optional<SequencePlan> decodeSequence(const std::uint8_t *input, std::size_t length);

} // namespace platform
