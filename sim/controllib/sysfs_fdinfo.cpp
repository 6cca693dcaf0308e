#include "sim/controllib/sysfs_fdinfo.h"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <system_error>

namespace ctlsim {

namespace {

bool allDigits(const std::string &s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

// The leading number of a value ("8731 ns" -> 8731).
std::optional<std::uint64_t> leadingNumber(const std::string &value)
{
    std::size_t end = 0;
    while (end < value.size() && std::isdigit(static_cast<unsigned char>(value[end])))
        ++end;
    return end == 0 ? std::nullopt : parseUnsigned(value.substr(0, end));
}

bool startsWith(const std::string &s, const char *prefix, std::string *rest)
{
    const std::string p(prefix);
    if (s.compare(0, p.size(), p) != 0)
        return false;
    *rest = s.substr(p.size());
    return true;
}


bool sameFunction(const PciAddress &a, const PciAddress &b)
{
    return a.domain == b.domain && a.bus == b.bus && a.device == b.device && a.function == b.function;
}

} // namespace

ClientFile parseFdinfo(const std::string &text)
{
    ClientFile f;
    std::map<std::string, std::uint64_t> cycles, totals, capacities;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        const std::string key = line.substr(0, colon);
        std::size_t start = colon + 1;
        while (start < line.size() && (line[start] == ' ' || line[start] == '\t'))
            ++start;
        const std::string value = line.substr(start);
        std::string engine;
        if (key == "drm-pdev") {
            PciAddress a;
            if (parsePciAddress(value, a))
                f.pdev = a;
        } else if (key == "drm-client-id") {
            f.id = leadingNumber(value);
        } else if (startsWith(key, "drm-total-cycles-", &engine)) {
            if (const auto n = leadingNumber(value))
                totals[engine] = *n;
        } else if (startsWith(key, "drm-cycles-", &engine)) {
            if (const auto n = leadingNumber(value))
                cycles[engine] = *n;
        } else if (startsWith(key, "drm-engine-capacity-", &engine)) {
            if (const auto n = leadingNumber(value); n && *n > 0)
                capacities[engine] = *n;
        }
    }
    for (const auto &[engine, busy] : cycles) {
        const auto total = totals.find(engine);
        if (total == totals.end())
            continue; // a busy count without its clock says nothing about a share
        const auto capacity = capacities.find(engine);
        f.engines[engine] = EngineCounters{busy, total->second, capacity == capacities.end() ? 1 : capacity->second};
    }
    return f;
}

DrmClients readDrmClients(const fs::path &procRoot, const PciAddress &pdev)
{
    DrmClients clients;
    std::error_code ec;
    for (fs::directory_iterator p(procRoot, ec), end; !ec && p != end; p.increment(ec)) {
        if (!allDigits(p->path().filename().string()))
            continue;
        std::error_code fdError;
        for (fs::directory_iterator fd(p->path() / "fd", fdError); !fdError && fd != end; fd.increment(fdError)) {
            // Only DRM device nodes have engine counters; skipping the rest
            // keeps a browser's hundreds of sockets from being read.
            std::error_code linkError;
            const std::string target = fs::read_symlink(fd->path(), linkError).string();
            if (linkError || target.compare(0, 9, "/dev/dri/") != 0)
                continue;
            const auto text = readText(p->path() / "fdinfo" / fd->path().filename());
            if (!text)
                continue;
            ClientFile f = parseFdinfo(*text);
            if (!f.pdev || !f.id || f.engines.empty() || !sameFunction(*f.pdev, pdev))
                continue;
            clients.emplace(*f.id, std::move(f.engines));
        }
    }
    return clients;
}

std::optional<double> busyFraction(const DrmClients &before, const DrmClients &after)
{
    struct Engine {
        double share = 0.0;
        std::uint64_t capacity = 1;
    };
    std::map<std::string, Engine> engines;
    bool common = false;
    for (const auto &[id, now] : after) {
        const auto then = before.find(id);
        if (then == before.end())
            continue;
        for (const auto &[name, c] : now) {
            const auto old = then->second.find(name);
            if (old == then->second.end())
                continue;
            common = true;
            if (c.total <= old->second.total)
                continue;
            Engine &e = engines[name];
            e.capacity = std::max(e.capacity, c.capacity);
            // A count below the last one is the driver catching up later;
            // it adds nothing now.
            if (c.cycles > old->second.cycles)
                e.share += static_cast<double>(c.cycles - old->second.cycles)
                           / static_cast<double>(c.total - old->second.total);
        }
    }
    if (!common)
        return std::nullopt;
    double busiest = 0.0;
    for (const auto &[name, e] : engines)
        busiest = std::max(busiest, e.share / static_cast<double>(e.capacity));
    return std::min(busiest, 1.0);
}

} // namespace ctlsim
