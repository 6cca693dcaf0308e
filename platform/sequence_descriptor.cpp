#include "platform/sequence_descriptor.h"

namespace platform {

namespace {

// Far beyond what a command line can hold; keeps the arithmetic bounded.
constexpr std::uint32_t kMaxEntries = 256;
constexpr std::uint32_t kMaxElements = 1024;

class Cursor {
public:
    Cursor(const std::uint8_t *p, std::size_t n) : p_(p), n_(n) {}
    bool take(std::uint32_t *v)
    {
        if (n_ - pos_ < 4 || pos_ > n_)
            return false;
        const std::uint8_t *q = p_ + pos_;
        *v = std::uint32_t(q[0]) | std::uint32_t(q[1]) << 8 | std::uint32_t(q[2]) << 16 |
             std::uint32_t(q[3]) << 24;
        pos_ += 4;
        return true;
    }
    std::size_t position() const { return pos_; }

private:
    const std::uint8_t *p_;
    std::size_t n_;
    std::size_t pos_ = 0;
};

} // namespace

std::optional<SequencePlan> decodeSequence(const std::uint8_t *input, std::size_t length)
{
    if (!input || length < kSequenceHeaderSize)
        return std::nullopt;
    Cursor c(input, length);
    std::uint32_t descriptorSize = 0, entryCount = 0, listCount = 0, mdlCount = 0, mdlElements = 0;
    c.take(&descriptorSize);
    c.take(&entryCount);
    c.take(&listCount);
    c.take(&mdlCount);
    c.take(&mdlElements);
    if (entryCount == 0 || entryCount > kMaxEntries || descriptorSize > length)
        return std::nullopt;

    SequencePlan plan;
    std::uint64_t writeBytes = 0;
    for (std::uint32_t i = 0; i < entryCount; ++i) {
        SequenceEntry entry;
        std::uint32_t count = 0;
        if (!c.take(&entry.format) || !c.take(&entry.direction) || !c.take(&entry.delayUs) ||
            !c.take(&count))
            return std::nullopt;
        if (entry.direction != kSequenceDirectionRead && entry.direction != kSequenceDirectionWrite)
            return std::nullopt;
        std::vector<std::uint32_t> lengths;
        if (entry.format == kSequenceFormatSimple) {
            lengths.push_back(count);
        } else if (entry.format == kSequenceFormatBufferList ||
                   entry.format == kSequenceFormatMdl) {
            if (count == 0 || count > kMaxElements)
                return std::nullopt;
            for (std::uint32_t k = 0; k < count; ++k) {
                std::uint32_t len = 0;
                if (!c.take(&len))
                    return std::nullopt;
                lengths.push_back(len);
            }
        } else {
            return std::nullopt;
        }
        for (std::uint32_t len : lengths) {
            if (++plan.elementCount > kMaxElements)
                return std::nullopt;
            SequenceElement element;
            element.read = entry.direction == kSequenceDirectionRead;
            element.length = len;
            if (element.read) {
                plan.totalRead += len;
                if (plan.totalRead < len)
                    return std::nullopt;
            } else {
                element.dataOffset = static_cast<std::size_t>(writeBytes);
                writeBytes += len;
            }
            entry.elements.push_back(element);
        }
        plan.entries.push_back(std::move(entry));
    }
    if (c.position() != descriptorSize || length - descriptorSize != writeBytes)
        return std::nullopt;
    plan.writeData.assign(input + descriptorSize, input + length);
    return plan;
}

} // namespace platform
