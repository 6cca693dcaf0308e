#pragma once
// How busy the card's engines are, from the per-client counters the DRM
// drivers publish in /proc/<pid>/fdinfo/<fd>: for each engine the busy cycles
// of that client (drm-cycles-<engine>) and the engine's running clock
// (drm-total-cycles-<engine>). Only the processes this user may inspect are
// visible, which on a desktop are the ones that draw on the card.

#include "sim/controllib/sysfs_adapters.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace ctlsim {

struct EngineCounters {
    std::uint64_t cycles = 0;
    std::uint64_t total = 0;
    std::uint64_t capacity = 1; // engines of the class behind the counters
};

// drm-client-id -> engine name -> counters. A client reached through several
// file descriptors (dup, fork) is one client.
using DrmClients = std::map<std::uint64_t, std::map<std::string, EngineCounters>>;

// What one fdinfo file says: the device, the client and each engine that
// has both its busy count and its clock.
struct ClientFile {
    std::optional<PciAddress> pdev;
    std::optional<std::uint64_t> id;
    std::map<std::string, EngineCounters> engines;
};
ClientFile parseFdinfo(const std::string &text);

// The clients of the PCI function at pdev whose fdinfo names engine counters.
DrmClients readDrmClients(const fs::path &procRoot, const PciAddress &pdev);

// The busiest engine's busy fraction (0..1) between two readings, summed over
// the clients present in both; nothing when no client is in both.
std::optional<double> busyFraction(const DrmClients &before, const DrmClients &after);

} // namespace ctlsim
