// Fuzzes the readers of kernel text: sysfs numbers (against a plain reference
// parse) and PCI addresses, DRM fdinfo, and PCI resource tables and config space.

#include "fuzz_check.h"
#include "sim/controllib/sysfs_fdinfo.h"
#include "sim/controllib/sysfs_pci.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <string>

namespace {

// std::from_chars takes no blank, no base prefix and no sign on an unsigned
// type: exactly the digits the kernel writes.
template <typename T>
std::optional<T> reference(const std::string &digits, int base)
{
    T value{};
    const auto [stop, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    return error != std::errc() || stop != digits.data() + digits.size() ? std::nullopt : std::optional<T>(value);
}

void numbers(const std::string &text)
{
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    fuzz::check(ctlsim::parseUnsigned(text) == (hex ? reference<std::uint64_t>(text.substr(2), 16)
                                                    : reference<std::uint64_t>(text, 10)),
                "unsigned number differs from the reference");
    fuzz::check(ctlsim::parseSigned(text) == reference<std::int64_t>(text, 10), "signed number differs from the reference");
    // An address read is one the kernel could have written: printed back, it is the text again.
    ctlsim::PciAddress a;
    char printed[32] = "";
    if (ctlsim::parsePciAddress(text, a) && a.device <= 31 && a.function <= 7)
        std::snprintf(printed, sizeof printed, "%04x:%02x:%02x.%x", a.domain, a.bus, a.device, a.function);
    const bool same = printed[0] && text.size() == std::strlen(printed) && strncasecmp(printed, text.data(), text.size()) == 0;
    fuzz::check(ctlsim::parsePciAddress(text, a) == same, "an address that is not its own text");
}

void fdinfo(const std::string &text)
{
    const ctlsim::ClientFile f = ctlsim::parseFdinfo(text);
    for (const auto &[engine, counters] : f.engines)
        fuzz::check(counters.capacity >= 1, "an engine class of no engines");
    if (f.id && !f.engines.empty()) { // a reading against itself has no busy interval
        const ctlsim::DrmClients once{{*f.id, f.engines}};
        fuzz::check(ctlsim::busyFraction(once, once) == 0.0, "a share without an interval");
    }
}

void resources(const std::string &text)
{
    for (int bar = 0; bar < 7; ++bar) {
        fuzz::check(ctlsim::resourceBarSize(text, bar).value_or(1) > 0, "a BAR of no size");
        const ctlsim::RebarCapability cap = ctlsim::rebarFromConfig(text, bar);
        fuzz::check(!cap.currentSize || (cap.listsBar && *cap.currentSize >= (1u << 20)), "a resizable BAR below 1 MiB");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0 || size > 64 * 1024)
        return 0;
    // The first byte picks the reader, as a file's name would.
    const std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);
    const int reader = data[0] % 3;
    reader == 0 ? numbers(text) : reader == 1 ? fdinfo(text) : resources(text);
    return 0;
}
