#pragma once
// Command line of tarvell-card-sim.

#include "platform/known_card.h"
#include "sim/card/card_endpoint.h"

#include <string>
#include <vector>

namespace cardsim {

constexpr const char *kEndpointName = known_card::kDeviceName;

struct Options {
    std::string runtimeDir; // empty: the transport's runtime directory
    std::string sysfsDir;   // empty: no simulated sysfs tree
    std::string sysfsKernel; // empty: the newest layout; else e.g. "6.14"
    int sysfsFanChannel = 1; // the hwmon fan channel carrying the tach reading
    std::string logFile;
    std::string gpuTempFile; // empty: the temperatures follow the simulated load
    bool logTimes = false; // each log line starts with the wall-clock time
    Faults faults;
    bool help = false;
};

const char *usage();

// Accepts "--name value" and "--name=value". False with *error for anything
// it does not understand.
bool parseOptions(const std::vector<std::string> &args, Options *options, std::string *error);

} // namespace cardsim
