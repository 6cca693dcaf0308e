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

// The element lengths an entry record announces: a simple entry's count is
// its one length; a list entry's count says how many lengths follow.
bool readLengths(Cursor &c, std::uint32_t format, std::uint32_t count,
                 std::vector<std::uint32_t> *lengths)
{
    if (format == kSequenceFormatSimple) {
        lengths->push_back(count);
        return true;
    }
    if (format != kSequenceFormatBufferList && format != kSequenceFormatMdl)
        return false;
    if (count == 0 || count > kMaxElements)
        return false;
    for (std::uint32_t k = 0; k < count; ++k) {
        std::uint32_t length = 0;
        if (!c.take(&length))
            return false;
        lengths->push_back(length);
    }
    return true;
}

// Reads go to the caller's buffer one after another, writes take their bytes
// from the write data in order; the totals must stay within bounds.
bool addElement(SequencePlan &plan, SequenceEntry &entry, std::uint32_t length,
                std::uint64_t *writeBytes)
{
    if (++plan.elementCount > kMaxElements)
        return false;
    SequenceElement element;
    element.read = entry.direction == kSequenceDirectionRead;
    element.length = length;
    if (element.read) {
        plan.totalRead += length;
        if (plan.totalRead < length)
            return false;
    } else {
        element.dataOffset = static_cast<std::size_t>(*writeBytes);
        *writeBytes += length;
    }
    entry.elements.push_back(element);
    return true;
}

bool readEntry(Cursor &c, SequencePlan &plan, std::uint64_t *writeBytes)
{
    SequenceEntry entry;
    std::uint32_t count = 0;
    if (!c.take(&entry.format) || !c.take(&entry.direction) || !c.take(&entry.delayUs) ||
        !c.take(&count))
        return false;
    if (entry.direction != kSequenceDirectionRead && entry.direction != kSequenceDirectionWrite)
        return false;
    std::vector<std::uint32_t> lengths;
    if (!readLengths(c, entry.format, count, &lengths))
        return false;
    for (std::uint32_t length : lengths) {
        if (!addElement(plan, entry, length, writeBytes))
            return false;
    }
    plan.entries.push_back(std::move(entry));
    return true;
}

} // namespace

std::optional<SequencePlan> decodeSequence(const std::uint8_t *input, std::size_t length)
{
    if (!input || length < kSequenceHeaderSize)
        return std::nullopt;
    Cursor c(input, length);
    // The list and MDL counts of the header are not needed: the entries say it all.
    std::uint32_t descriptorSize = 0, entryCount = 0, unused = 0;
    c.take(&descriptorSize);
    c.take(&entryCount);
    for (int i = 0; i < 3; ++i)
        c.take(&unused);
    if (entryCount == 0 || entryCount > kMaxEntries || descriptorSize > length)
        return std::nullopt;

    SequencePlan plan;
    std::uint64_t writeBytes = 0;
    for (std::uint32_t i = 0; i < entryCount; ++i) {
        if (!readEntry(c, plan, &writeBytes))
            return std::nullopt;
    }
    // The descriptor ends where its size says, and the write data fills the rest exactly.
    if (c.position() != descriptorSize || length - descriptorSize != writeBytes)
        return std::nullopt;
    plan.writeData.assign(input + descriptorSize, input + length);
    return plan;
}

} // namespace platform
