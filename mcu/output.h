#pragma once
// Where the command interpreter's messages go. They are part of the program's
// diagnostic output on standard output; tests swap the sink to read them.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace mcu {

using OutputSink = std::function<void(const std::string &text)>;

// printf-style; the text goes to the current sink as one piece.
void Print(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Bytes as lines of 16: two blanks, then "%02x " per byte, and three blanks for
// every missing position of the last line.
void PrintDump(const std::uint8_t *data, std::size_t length);

// Replaces the sink and returns the previous one; an empty sink means
// standard output.
OutputSink SetOutputSink(OutputSink sink);

} // namespace mcu
