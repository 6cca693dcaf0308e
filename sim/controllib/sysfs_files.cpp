#include "sim/controllib/sysfs_files.h"

#include <cstdint>
#include <fstream>

namespace ctlsim {

std::optional<std::string> readBytes(const fs::path &file, std::size_t limit)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string bytes(limit, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(limit));
    if (in.bad())
        return std::nullopt;
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

std::optional<std::string> readText(const fs::path &file)
{
    auto text = readBytes(file, 64 * 1024);
    if (!text)
        return std::nullopt;
    while (!text->empty() && (text->back() == '\n' || text->back() == ' ' || text->back() == '\t'
                              || text->back() == '\r' || text->back() == '\0'))
        text->pop_back();
    return text;
}

namespace {

int digitValue(char c, unsigned base)
{
    int v = -1;
    if (c >= '0' && c <= '9')
        v = c - '0';
    else if (c >= 'a' && c <= 'f')
        v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        v = c - 'A' + 10;
    return v >= 0 && unsigned(v) < base ? v : -1;
}

// Digits only, from pos to the end; nothing on an empty run or an overflow.
std::optional<std::uint64_t> digitsFrom(const std::string &text, std::size_t pos, unsigned base)
{
    if (pos >= text.size())
        return std::nullopt;
    std::uint64_t v = 0;
    for (; pos < text.size(); ++pos) {
        const int d = digitValue(text[pos], base);
        if (d < 0 || v > (UINT64_MAX - unsigned(d)) / base)
            return std::nullopt;
        v = v * base + unsigned(d);
    }
    return v;
}

} // namespace

// strtoull would also take a sign, leading blanks and a leading zero as octal;
// the kernel writes none of these, and "010" from anything else means ten.
std::optional<std::uint64_t> parseUnsigned(const std::string &text)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return digitsFrom(text, 2, 16);
    return digitsFrom(text, 0, 10);
}

std::optional<std::int64_t> parseSigned(const std::string &text)
{
    const bool negative = !text.empty() && text[0] == '-';
    const auto magnitude = digitsFrom(text, negative ? 1 : 0, 10);
    if (!magnitude)
        return std::nullopt;
    if (!negative)
        return *magnitude <= std::uint64_t(INT64_MAX) ? std::optional<std::int64_t>(std::int64_t(*magnitude))
                                                       : std::nullopt;
    if (*magnitude > std::uint64_t(INT64_MAX) + 1)
        return std::nullopt;
    return std::int64_t(0 - *magnitude);
}

std::optional<std::uint64_t> readUnsigned(const fs::path &file)
{
    const auto text = readText(file);
    return text ? parseUnsigned(*text) : std::nullopt;
}

std::optional<std::int64_t> readSigned(const fs::path &file)
{
    const auto text = readText(file);
    return text ? parseSigned(*text) : std::nullopt;
}

} // namespace ctlsim
