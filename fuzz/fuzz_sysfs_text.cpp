// Fuzzes the readers of kernel text: sysfs numbers and PCI addresses, the
// fdinfo of DRM clients, PCI resource tables and config space, and
// /proc/meminfo. Numbers are checked against a plain reference parse.

#include "fuzz_check.h"
#include "sim/controllib/sysfs_fdinfo.h"
#include "sim/controllib/sysfs_pci.h"
#include "sysinfo/memory_info.h"

#include <QByteArray>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

// std::from_chars takes no blanks, no sign on an unsigned type and no base
// prefix: exactly the digits the kernel writes.
template <typename T>
std::optional<T> reference(const std::string &digits, int base)
{
    T value{};
    const char *end = digits.data() + digits.size();
    const auto [stop, error] = std::from_chars(digits.data(), end, value, base);
    if (digits.empty() || error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

void numbers(const std::string &text)
{
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const auto u = ctlsim::parseUnsigned(text);
    const auto expectedU = hex ? reference<std::uint64_t>(text.substr(2), 16) : reference<std::uint64_t>(text, 10);
    // from_chars would take a '-' after "0x" for a signed type only; unsigned has none.
    fuzz::check(u == expectedU, "unsigned number differs from the reference");
    fuzz::check(ctlsim::parseSigned(text) == reference<std::int64_t>(text, 10), "signed number differs from the reference");
}

void address(const std::string &text)
{
    ctlsim::PciAddress a;
    if (!ctlsim::parsePciAddress(text, a))
        return;
    // An address read is one the kernel could have written: printing it back
    // gives the text again, whatever the case of its letters.
    char printed[32];
    std::snprintf(printed, sizeof printed, "%04x:%02x:%02x.%x", a.domain, a.bus, a.device, a.function);
    std::string lower = text;
    for (char &c : lower)
        c = (c >= 'A' && c <= 'F') ? char(c - 'A' + 'a') : c;
    fuzz::check(lower == printed, "address is not the text it was read from");
    fuzz::check(a.device <= 31 && a.function <= 7, "slot or function out of range");
}

void fdinfo(const std::string &text)
{
    const ctlsim::ClientFile f = ctlsim::parseFdinfo(text);
    for (const auto &[engine, counters] : f.engines)
        fuzz::check(counters.capacity >= 1, "an engine class of no engines");
    // A reading against itself has no interval: nothing, or an idle share.
    if (f.id && !f.engines.empty()) {
        const ctlsim::DrmClients once{{*f.id, f.engines}};
        const auto share = ctlsim::busyFraction(once, once);
        fuzz::check(share && *share == 0.0, "a share without an interval");
    }
}

void resources(const std::string &text)
{
    for (int bar = 0; bar < 7; ++bar) {
        if (const auto size = ctlsim::resourceBarSize(text, bar))
            fuzz::check(*size > 0, "a BAR of no size");
        const ctlsim::RebarCapability cap = ctlsim::rebarFromConfig(text, bar);
        if (cap.currentSize)
            fuzz::check(cap.listsBar && *cap.currentSize >= (std::uint64_t(1) << 20), "a resizable BAR below 1 MiB");
    }
}

void meminfo(const std::string &text)
{
    const auto status = sysinfo::parseMeminfo(QByteArray::fromStdString(text));
    if (status)
        fuzz::check(sysinfo::wholeGib(status->totalBytes) >= 0, "a negative memory size");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0 || size > 64 * 1024)
        return 0;
    // The first byte picks the reader, as a file's name would.
    const std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);
    switch (data[0] % 5) {
    case 0:
        numbers(text);
        break;
    case 1:
        address(text);
        break;
    case 2:
        fdinfo(text);
        break;
    case 3:
        resources(text);
        break;
    default:
        meminfo(text);
        break;
    }
    return 0;
}
