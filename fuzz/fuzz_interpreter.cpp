// Fuzzes one command text through tokenizing, parsing and the sequence
// descriptor, checking what must hold for any input.

#include "fuzz_check.h"
#include "mcu/commands.h"
#include "mcu/output.h"
#include "mcu/parameters.h"
#include "mcu/sequence.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace {

using fuzz::check;

bool isSeparator(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

std::uint32_t wordAt(const mcu::ByteBuffer &bytes, std::size_t offset)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | bytes[offset + i];
    return value;
}

// The tokenizer neither loses nor invents a character, and no token is empty
// or holds a separator.
void checkTokens(const std::string &text, const mcu::TokenList &tokens)
{
    std::string visible;
    for (char c : text)
        if (!isSeparator(c))
            visible += c;
    std::string joined;
    for (const std::string &token : tokens) {
        check(!token.empty(), "empty token");
        for (char c : token)
            check(!isSeparator(c), "separator inside a token");
        joined += token;
    }
    check(joined == visible, "tokens do not add up to the text");
}

void checkSequence(const mcu::CSequenceCommand &command)
{
    std::uint64_t listElements = 0, writeBytes = 0, readBytes = 0;
    for (const mcu::SequenceEntry &entry : command.entries) {
        check(entry.format == platform::kSequenceFormatSimple || entry.format == platform::kSequenceFormatBufferList
                  || entry.format == platform::kSequenceFormatMdl,
              "parsed entry of unknown format");
        check(!entry.elements.empty(), "entry without elements");
        if (entry.format == platform::kSequenceFormatSimple)
            check(entry.elements.size() == 1, "simple entry with several elements");
        else
            listElements += entry.elements.size();
        for (const mcu::SequenceElement &element : entry.elements) {
            if (entry.direction == platform::kSequenceDirectionWrite) {
                check(element.bytes.size() == element.length, "write element length");
                writeBytes += element.length;
            } else {
                check(element.bytes.empty(), "read element carries bytes");
                readBytes += element.length;
            }
        }
    }
    const std::uint64_t descriptorSize = 20 + 16 * command.entries.size() + 4 * listElements;
    check(command.inputBuffer.size() == descriptorSize + writeBytes, "input length");
    check(command.data.size() == readBytes + 1, "receive buffer length");
    check(wordAt(command.inputBuffer, 0) == descriptorSize, "descriptor size field");
    check(wordAt(command.inputBuffer, 4) == command.entries.size(), "entry count field");
    const mcu::SequenceRequest again = mcu::BuildSequenceRequest(command.entries);
    check(again.input == command.inputBuffer, "descriptor is not reproducible");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    [[maybe_unused]] static const bool quiet = [] {
        mcu::SetOutputSink([](const std::string &) {});
        return true;
    }();
    // A command text is a C string: it ends at the first NUL.
    const char *chars = reinterpret_cast<const char *>(data);
    const std::string text(chars, strnlen(chars, size));

    mcu::TokenList tokens = mcu::TokenizeCommandLine(text);
    checkTokens(text, tokens);

    // "wait" sleeps a second: nothing to learn there, and it stalls the run.
    if (mcu::CommandKeyword(tokens) == "wait")
        return 0;

    std::unique_ptr<mcu::CCommand> command = mcu::ParseCommand(std::move(tokens));
    if (!command)
        return 0;
    check(command->device == nullptr, "bound a device without a connection");
    check(!command->Execute(), "started a request without a device");
    if (auto *sequence = dynamic_cast<mcu::CSequenceCommand *>(command.get()))
        checkSequence(*sequence);
    if (auto *write = dynamic_cast<mcu::CWriteCommand *>(command.get()))
        check(write->data.size() <= mcu::kMaxTransferLength, "write longer than one transfer");
    return 0;
}
