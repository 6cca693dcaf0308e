#pragma once
// Sequence entries of the "sequence" command, the parsers that read them and
// the descriptor the driver receives for them.

#include "mcu/parameters.h"
#include "platform/sequence_descriptor.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace mcu {

struct SequenceElement {
    std::uint32_t length = 0;
    ByteBuffer bytes; // the data of a write element
};

struct SequenceEntry {
    std::uint32_t format = 0;
    std::uint32_t direction = 0;
    std::uint32_t delay = 0; // microseconds before the entry
    std::vector<SequenceElement> elements;
};

class CSequenceParser {
public:
    CSequenceParser(std::string description, std::uint32_t format);
    virtual ~CSequenceParser();
    CSequenceParser(const CSequenceParser &) = delete;
    CSequenceParser &operator=(const CSequenceParser &) = delete;

    virtual bool Parse(TokenList &tokens, SequenceEntry &entry) = 0;
    virtual std::string Describe() const;

protected:
    std::string description_;
    std::uint32_t format_;
};

// An optional "[delay]" token in front of what its inner parser reads.
class CDelaySequenceParser : public CSequenceParser {
public:
    explicit CDelaySequenceParser(std::unique_ptr<CSequenceParser> inner);
    ~CDelaySequenceParser() override;

    bool Parse(TokenList &tokens, SequenceEntry &entry) override;
    std::string Describe() const override;

private:
    std::unique_ptr<CSequenceParser> inner_;
};

class CSimpleSequenceParser : public CSequenceParser {
public:
    CSimpleSequenceParser();
    bool Parse(TokenList &tokens, SequenceEntry &entry) override;
};

class CListSequenceParser : public CSequenceParser {
public:
    bool Parse(TokenList &tokens, SequenceEntry &entry) override;

protected:
    CListSequenceParser(std::string description, std::uint32_t format);
};

class CBufferListSequenceParser : public CListSequenceParser {
public:
    CBufferListSequenceParser();
};

class CMdlSequenceParser : public CListSequenceParser {
public:
    CMdlSequenceParser();
};

// The request of a whole sequence: the descriptor followed by the write data,
// and the size of the receive buffer (every read length, plus one).
struct SequenceRequest {
    ByteBuffer input;
    std::uint64_t outputLength = 1;
};

// Entries of an unknown format are warned about and left out everywhere.
SequenceRequest BuildSequenceRequest(const std::vector<SequenceEntry> &entries);

// Most bytes a sequence may write, and most it may read, in all its entries
// together. Keeps a long line from asking for gigabytes of buffers.
constexpr std::uint64_t kMaxSequenceBytes = 1u << 20;

// Bytes an entry moves: the sum of its element lengths.
std::uint64_t EntryBytes(const SequenceEntry &entry);

} // namespace mcu
