#pragma once
// Tokens of one command text and the two parameter readers every command
// and sequence parser builds on. Readers consume from the front of the list
// and print their own messages through the interpreter's sink.

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace mcu {

using TokenList = std::deque<std::string>;
using ByteBuffer = std::vector<std::uint8_t>;

// Longest single transfer a length may ask for: the most one I2C message can
// carry. Larger values would make the interpreter allocate whatever a typing
// slip asks for (4 GiB for "read 4294967295").
constexpr std::uint32_t kMaxTransferLength = 0xFFFF;

// Splits at whitespace; "{" and "}" stand alone outside a token, and a
// token's one trailing "}" is split off. Never fails.
TokenList TokenizeCommandLine(const std::string &text);

// One decimal number.
bool PopNumberParameter(TokenList &tokens, std::uint32_t *value);

// A decimal number that sizes a transfer: as PopNumberParameter, and no larger
// than kMaxTransferLength.
bool PopLengthParameter(TokenList &tokens, std::uint32_t *length);

// One byte array, braced "{01 02}" or counted "4 {01 02}" (the rest zero).
bool PopBufferParameter(TokenList &tokens, ByteBuffer *bytes);

// strtoul of a platform whose unsigned long is 32 bits wide: the whole token
// must convert; out-of-range values saturate and a leading "-" negates modulo
// 2^32, so "-1" is 0xFFFFFFFF on every platform.
bool ParseUnsigned32(const std::string &token, int base, std::uint32_t *value);

} // namespace mcu
