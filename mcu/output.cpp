#include "mcu/output.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <utility>
#include <vector>

namespace mcu {
namespace {

// The listener thread may print while a command prints, so one lock keeps
// every message whole.
std::mutex &sinkMutex()
{
    static std::mutex m;
    return m;
}

OutputSink &currentSink()
{
    static OutputSink sink;
    return sink;
}

void emit(const std::string &text)
{
    std::lock_guard<std::mutex> lock(sinkMutex());
    if (currentSink()) {
        currentSink()(text);
    } else {
        std::fwrite(text.data(), 1, text.size(), stdout);
    }
}

} // namespace

void Print(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    va_list sized;
    va_copy(sized, args);
    const int length = std::vsnprintf(nullptr, 0, format, sized);
    va_end(sized);
    if (length > 0) {
        std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        emit(std::string(buffer.data(), static_cast<std::size_t>(length)));
    }
    va_end(args);
}

void PrintDump(const std::uint8_t *data, std::size_t length)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t line = 0; line < length; line += 16) {
        text += "  ";
        for (std::size_t i = line; i < line + 16; ++i) {
            if (i < length) {
                text += digits[data[i] >> 4];
                text += digits[data[i] & 0xF];
                text += ' ';
            } else {
                text += "   ";
            }
        }
        text += '\n';
    }
    if (!text.empty())
        emit(text);
}

OutputSink SetOutputSink(OutputSink sink)
{
    std::lock_guard<std::mutex> lock(sinkMutex());
    return std::exchange(currentSink(), std::move(sink));
}

} // namespace mcu
