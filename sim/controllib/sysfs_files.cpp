#include "sim/controllib/sysfs_files.h"

#include <cerrno>
#include <cstdlib>
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

std::optional<std::uint64_t> parseUnsigned(const std::string &text)
{
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ')
        return std::nullopt;
    errno = 0;
    char *end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || end == text.c_str() || *end != '\0')
        return std::nullopt;
    return static_cast<std::uint64_t>(v);
}

std::optional<std::int64_t> parseSigned(const std::string &text)
{
    if (text.empty() || text[0] == ' ')
        return std::nullopt;
    errno = 0;
    char *end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0')
        return std::nullopt;
    return static_cast<std::int64_t>(v);
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
