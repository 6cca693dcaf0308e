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
    return !tokens.empty() && tokens.front() == "{" ? platform::kSequenceDirectionWrite
                                                    : platform::kSequenceDirectionRead;
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

SequenceRequest BuildSequenceRequest(const std::vector<SequenceEntry> &entries)
{
    std::uint32_t entryCount = 0;
    std::uint32_t bufferListCount = 0;
    std::uint32_t mdlCount = 0;
    std::uint32_t mdlElements = 0;
    std::uint32_t listElements = 0;
    for (const SequenceEntry &entry : entries) {
        const auto elements = static_cast<std::uint32_t>(entry.elements.size());
        switch (entry.format) {
        case platform::kSequenceFormatSimple:
            break;
        case platform::kSequenceFormatBufferList:
            ++bufferListCount;
            listElements += elements;
            break;
        case platform::kSequenceFormatMdl:
            ++mdlCount;
            mdlElements += elements;
            listElements += elements;
            break;
        default:
            Print("Warning: cannot determine the transfer format: %x", entry.format);
            continue;
        }
        ++entryCount;
    }

    SequenceRequest request;
    ByteBuffer &out = request.input;
    appendWord(out, platform::kSequenceHeaderSize + platform::kSequenceEntrySize * entryCount
                         + platform::kSequenceElementSize * listElements);
    appendWord(out, entryCount);
    appendWord(out, bufferListCount);
    appendWord(out, mdlCount);
    appendWord(out, mdlElements);

    ByteBuffer writeData;
    for (const SequenceEntry &entry : entries) {
        if (entry.format != platform::kSequenceFormatSimple && entry.format != platform::kSequenceFormatBufferList
            && entry.format != platform::kSequenceFormatMdl)
            continue;
        appendWord(out, entry.format);
        appendWord(out, entry.direction);
        appendWord(out, entry.delay);
        if (entry.format == platform::kSequenceFormatSimple) {
            appendWord(out, entry.elements.empty() ? 0 : entry.elements.front().length);
        } else {
            appendWord(out, static_cast<std::uint32_t>(entry.elements.size()));
            for (const SequenceElement &element : entry.elements)
                appendWord(out, element.length);
        }
        // A simple entry moves exactly the one element its record describes.
        const std::size_t used = entry.format == platform::kSequenceFormatSimple
                                     ? std::min<std::size_t>(1, entry.elements.size())
                                     : entry.elements.size();
        for (std::size_t i = 0; i < used; ++i) {
            const SequenceElement &element = entry.elements[i];
            if (entry.direction == platform::kSequenceDirectionWrite)
                writeData.insert(writeData.end(), element.bytes.begin(), element.bytes.end());
            else
                request.outputLength += element.length;
        }
    }
    out.insert(out.end(), writeData.begin(), writeData.end());
    return request;
}

} // namespace mcu
