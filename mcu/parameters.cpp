#include "mcu/parameters.h"

#include "mcu/output.h"

#include <cerrno>
#include <cstdlib>
#include <limits>

namespace mcu {
namespace {

constexpr std::uint32_t kMax32 = std::numeric_limits<std::uint32_t>::max();

// The separators are the ASCII white-space characters only: the bytes of a
// UTF-8 character must never split a token, whatever the locale says.
bool isSeparator(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

void printMissing()
{
    Print("Missing required parameter\n");
}

// One hexadecimal byte token; values above 0xFF warn and keep the low bits.
bool popByte(TokenList &tokens, std::uint8_t *byte)
{
    const std::string token = tokens.front();
    tokens.pop_front();
    std::uint32_t value = 0;
    if (!ParseUnsigned32(token, 16, &value)) {
        Print("Value %s is not a number\n", token.c_str());
        Print("invalid byte value %s\n", token.c_str());
        return false;
    }
    if (value > 0xFF)
        Print("Value %s is out of bounds\n", token.c_str());
    *byte = static_cast<std::uint8_t>(value & 0xFF);
    return true;
}

bool popBraced(TokenList &tokens, ByteBuffer *bytes)
{
    tokens.pop_front(); // "{"
    std::size_t count = 0;
    while (count < tokens.size() && tokens[count] != "}")
        ++count;
    if (count == tokens.size()) {
        Print("output buffer must end with }\n");
        return false;
    }
    ByteBuffer result(count, 0);
    for (std::size_t i = 0; i < count; ++i) {
        if (!popByte(tokens, &result[i]))
            return false;
    }
    tokens.pop_front(); // "}"
    *bytes = std::move(result);
    return true;
}

bool popCounted(TokenList &tokens, ByteBuffer *bytes)
{
    std::uint32_t length = 0;
    if (!PopLengthParameter(tokens, &length)) {
        Print("Length expected\n");
        return false;
    }
    if (!tokens.empty() && tokens.front() == "{")
        tokens.pop_front();
    ByteBuffer result(length, 0);
    if (length == 0) {
        *bytes = std::move(result);
        return true;
    }
    for (std::uint32_t i = 0; i < length; ++i) {
        if (tokens.empty()) {
            printMissing();
            continue;
        }
        if (tokens.front() == "}") {
            // A short initializer list: the rest of the buffer stays zero.
            tokens.pop_front();
            *bytes = std::move(result);
            return true;
        }
        if (!popByte(tokens, &result[i]))
            return false;
    }
    if (tokens.empty()) {
        printMissing();
        Print("unclosed buffer\n");
        return false;
    }
    if (tokens.front() != "}") {
        Print("buffer has too many initializers\n");
        return false;
    }
    tokens.pop_front();
    *bytes = std::move(result);
    return true;
}

} // namespace

TokenList TokenizeCommandLine(const std::string &text)
{
    TokenList tokens;
    std::string current;
    bool inToken = false;
    auto close = [&] {
        if (!inToken)
            return;
        if (current.back() == '}') {
            current.pop_back();
            tokens.push_back(current);
            tokens.push_back("}");
        } else {
            tokens.push_back(current);
        }
        current.clear();
        inToken = false;
    };
    for (char c : text) {
        if (isSeparator(c)) {
            close();
        } else if (inToken) {
            current += c;
        } else if (c == '{' || c == '}') {
            tokens.push_back(std::string(1, c));
        } else {
            current = c;
            inToken = true;
        }
    }
    close();
    return tokens;
}

bool ParseUnsigned32(const std::string &token, int base, std::uint32_t *value)
{
    const char *begin = token.c_str();
    if (token.empty() || isSeparator(token[0]))
        return false;
    char *end = nullptr;
    errno = 0;
    const unsigned long long raw = std::strtoull(begin, &end, base);
    if (end == begin || *end != '\0')
        return false;
    const bool negative = token[0] == '-';
    if (errno == ERANGE) {
        *value = kMax32;
    } else if (negative) {
        // strtoull already negated modulo 2^64; undo it to see the magnitude.
        const unsigned long long magnitude = 0ULL - raw;
        *value = magnitude > kMax32 ? kMax32
                                    : static_cast<std::uint32_t>(0u - static_cast<std::uint32_t>(magnitude));
    } else {
        *value = raw > kMax32 ? kMax32 : static_cast<std::uint32_t>(raw);
    }
    return true;
}

bool PopNumberParameter(TokenList &tokens, std::uint32_t *value)
{
    if (tokens.empty()) {
        printMissing();
        return false;
    }
    const std::string token = tokens.front();
    tokens.pop_front();
    if (!ParseUnsigned32(token, 10, value)) {
        Print("Value %s is not a number\n", token.c_str());
        return false;
    }
    return true;
}

bool PopLengthParameter(TokenList &tokens, std::uint32_t *length)
{
    const std::string token = tokens.empty() ? std::string() : tokens.front();
    std::uint32_t value = 0;
    if (!PopNumberParameter(tokens, &value))
        return false;
    if (value > kMaxTransferLength) {
        Print("Value %s is out of bounds\n", token.c_str());
        return false;
    }
    *length = value;
    return true;
}

bool PopBufferParameter(TokenList &tokens, ByteBuffer *bytes)
{
    if (!tokens.empty() && tokens.front() == "{")
        return popBraced(tokens, bytes);
    return popCounted(tokens, bytes);
}

} // namespace mcu
