#pragma once
// Small readers for sysfs attribute files: one value per file, ended by a
// line feed. Every reader reports a missing or malformed file as no value.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace ctlsim {

namespace fs = std::filesystem;

// The file's text without the trailing white space; nothing when it cannot be
// read. Attribute files are small; anything past 64 KiB is not read.
std::optional<std::string> readText(const fs::path &file);

// An unsigned decimal number, or hexadecimal after "0x"; a leading zero
// does not make it octal.
std::optional<std::uint64_t> readUnsigned(const fs::path &file);

// A signed decimal number.
std::optional<std::int64_t> readSigned(const fs::path &file);

// The whole file as bytes (for binary attributes such as PCI config space).
std::optional<std::string> readBytes(const fs::path &file, std::size_t limit);

// Parses text as above; exposed for the callers that read once and parse twice.
std::optional<std::uint64_t> parseUnsigned(const std::string &text);
std::optional<std::int64_t> parseSigned(const std::string &text);

} // namespace ctlsim
