#include "mcu/sequence.h"

#include "mcu/output.h"

#include <algorithm>
#include <utility>

namespace mcu {
namespace {

const char kListDescription[] =
    "either at least one <numBytes> to read or at least one {}-byte arrays to write";

// One element in the direction the entry was given: a byte array to write
// or a length to read.
bool popElement(TokenList &tokens, std::uint32_t direction, SequenceElement *element)
{
    if (direction == platform::kSequenceDirectionWrite) {
        if (!PopBufferParameter(tokens, &element->bytes)) {
            Print("Buffer required\n");
            return false;
        }
        element->length = static_cast<std::uint32_t>(element->bytes.size());
        return true;
    }
    if (!PopLengthParameter(tokens, &element->length)) {
        Print("Length required\n");
        return false;
    }
    return true;
}

std::uint32_t directionOf(const TokenList &tokens)
{
    return !tokens.empty() && tokens.front() == "{" ? platform::kSequenceDirectionWrite : platform::kSequenceDirectionRead;
}

void appendWord(ByteBuffer &out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

} // namespace

CSequenceParser::CSequenceParser(std::string description, std::uint32_t format)
    : description_(std::move(description)), format_(format)
{
}

CSequenceParser::~CSequenceParser() = default;

std::string CSequenceParser::Describe() const
{
    return description_;
}

CDelaySequenceParser::CDelaySequenceParser(std::unique_ptr<CSequenceParser> inner)
    : CSequenceParser("opitonal [delay] in us", 0), inner_(std::move(inner))
{
}

CDelaySequenceParser::~CDelaySequenceParser() = default;

bool CDelaySequenceParser::Parse(TokenList &tokens, SequenceEntry &entry)
{
    if (!tokens.empty()) {
        const std::string &token = tokens.front();
        if (token.size() >= 2 && token.front() == '[' && token.back() == ']') {
            tokens.front() = token.substr(1, token.size() - 2);
            if (!PopNumberParameter(tokens, &entry.delay))
                return false;
        }
    }
    return inner_->Parse(tokens, entry);
}

std::string CDelaySequenceParser::Describe() const
{
    return description_ + " followed by " + inner_->Describe();
}

CSimpleSequenceParser::CSimpleSequenceParser()
    : CSequenceParser("either <numBytes> to read or {}-byte array to write", platform::kSequenceFormatSimple)
{
}

bool CSimpleSequenceParser::Parse(TokenList &tokens, SequenceEntry &entry)
{
    entry.format = format_;
    entry.direction = directionOf(tokens);
    SequenceElement element;
    if (!popElement(tokens, entry.direction, &element))
        return false;
    entry.elements.clear();
    entry.elements.push_back(std::move(element));
    return true;
}

CListSequenceParser::CListSequenceParser(std::string description, std::uint32_t format)
    : CSequenceParser(std::move(description), format)
{
}

bool CListSequenceParser::Parse(TokenList &tokens, SequenceEntry &entry)
{
    entry.format = format_;
    entry.direction = directionOf(tokens);
    entry.elements.clear();
    do {
        SequenceElement element;
        if (!popElement(tokens, entry.direction, &element))
            return false;
        entry.elements.push_back(std::move(element));
        if (EntryBytes(entry) > kMaxSequenceBytes) {
            Print("Sequence too long - at most %u bytes each way\n",
                  static_cast<unsigned>(kMaxSequenceBytes));
            return false;
        }
    } while (!tokens.empty() && tokens.front().front() != '-');
    return true;
}

CBufferListSequenceParser::CBufferListSequenceParser()
    : CListSequenceParser(kListDescription, platform::kSequenceFormatBufferList)
{
}

CMdlSequenceParser::CMdlSequenceParser() : CListSequenceParser(kListDescription, platform::kSequenceFormatMdl)
{
}

std::uint64_t EntryBytes(const SequenceEntry &entry)
{
    std::uint64_t total = 0;
    for (const SequenceElement &element : entry.elements)
        total += element.length;
    return total;
}

namespace {

bool isKnownFormat(std::uint32_t format)
{
    return format == platform::kSequenceFormatSimple || format == platform::kSequenceFormatBufferList || format == platform::kSequenceFormatMdl;
}

// The header's counts over the entries of a known format.
struct DescriptorCounts {
    std::uint32_t entries = 0;
    std::uint32_t bufferLists = 0;
    std::uint32_t mdls = 0;
    std::uint32_t mdlElements = 0;
    std::uint32_t listElements = 0;
};

DescriptorCounts countEntries(const std::vector<SequenceEntry> &entries)
{
    DescriptorCounts counts;
    for (const SequenceEntry &entry : entries) {
        if (!isKnownFormat(entry.format)) {
            Print("Warning: cannot determine the transfer format: %x", entry.format);
            continue;
        }
        const auto elements = static_cast<std::uint32_t>(entry.elements.size());
        if (entry.format == platform::kSequenceFormatBufferList)
            ++counts.bufferLists;
        if (entry.format == platform::kSequenceFormatMdl) {
            ++counts.mdls;
            counts.mdlElements += elements;
        }
        if (entry.format != platform::kSequenceFormatSimple)
            counts.listElements += elements;
        ++counts.entries;
    }
    return counts;
}

void appendHeader(ByteBuffer &out, const DescriptorCounts &counts)
{
    appendWord(out, platform::kSequenceHeaderSize + platform::kSequenceEntrySize * counts.entries
                         + platform::kSequenceElementSize * counts.listElements);
    appendWord(out, counts.entries);
    appendWord(out, counts.bufferLists);
    appendWord(out, counts.mdls);
    appendWord(out, counts.mdlElements);
}

// A simple entry's record holds its one length; a list entry's record holds
// the count, then every length.
void appendEntryRecord(ByteBuffer &out, const SequenceEntry &entry)
{
    appendWord(out, entry.format);
    appendWord(out, entry.direction);
    appendWord(out, entry.delay);
    if (entry.format == platform::kSequenceFormatSimple) {
        appendWord(out, entry.elements.empty() ? 0 : entry.elements.front().length);
        return;
    }
    appendWord(out, static_cast<std::uint32_t>(entry.elements.size()));
    for (const SequenceElement &element : entry.elements)
        appendWord(out, element.length);
}

// A simple entry moves exactly the one element its record describes: its
// write bytes join the write data, its read length the receive buffer.
void addEntryTransfer(const SequenceEntry &entry, ByteBuffer &writeData, SequenceRequest &request)
{
    const std::size_t used = entry.format == platform::kSequenceFormatSimple ? std::min<std::size_t>(1, entry.elements.size())
                                                           : entry.elements.size();
    for (std::size_t i = 0; i < used; ++i) {
        const SequenceElement &element = entry.elements[i];
        if (entry.direction == platform::kSequenceDirectionWrite)
            writeData.insert(writeData.end(), element.bytes.begin(), element.bytes.end());
        else
            request.outputLength += element.length;
    }
}

} // namespace

SequenceRequest BuildSequenceRequest(const std::vector<SequenceEntry> &entries)
{
    SequenceRequest request;
    appendHeader(request.input, countEntries(entries));
    ByteBuffer writeData;
    for (const SequenceEntry &entry : entries) {
        if (!isKnownFormat(entry.format))
            continue;
        appendEntryRecord(request.input, entry);
        addEntryTransfer(entry, writeData, request);
    }
    request.input.insert(request.input.end(), writeData.begin(), writeData.end());
    return request;
}

} // namespace mcu
