#include "sim/card/options.h"

namespace cardsim {

const char *usage()
{
    return "usage: tarvell-card-sim [--runtime-dir DIR] [--sysfs DIR] [--sysfs-kernel X.Y] "
           "[--sysfs-fan-channel 1|2|3] [--log FILE] [--log-times] [--gpu-temp-from FILE] [--fault FAULT]...\n"
           "  --sysfs-kernel: publish the hwmon files the xe driver of that kernel has\n"
           "  --log-times: each log line starts with the wall-clock time in seconds\n"
           "  --gpu-temp-from: while FILE holds a number, the GPU is that many degC, the VRAM 2 more\n"
           "  faults: error=N  pending-write-ms=N  short-reply  long-reply  vanish-after=N\n";
}

bool parseOptions(const std::vector<std::string> &args, Options *options, std::string *error)
{
    std::string fanChannel;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool hasValue = false;
        const auto eq = name.find('=');
        if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            hasValue = true;
        }
        if (name == "--help" || name == "-h") {
            options->help = true;
            continue;
        }
        if (name == "--log-times" && !hasValue) {
            options->logTimes = true;
            continue;
        }
        std::string *target = nullptr;
        if (name == "--runtime-dir")
            target = &options->runtimeDir;
        else if (name == "--sysfs")
            target = &options->sysfsDir;
        else if (name == "--log")
            target = &options->logFile;
        else if (name == "--sysfs-kernel")
            target = &options->sysfsKernel;
        else if (name == "--sysfs-fan-channel")
            target = &fanChannel;
        else if (name == "--gpu-temp-from")
            target = &options->gpuTempFile;
        else if (name != "--fault") {
            *error = "unknown option " + args[i];
            return false;
        }
        if (!hasValue) {
            if (i + 1 >= args.size()) {
                *error = name + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (value.empty()) {
            *error = name + " needs a value";
            return false;
        }
        if (target) {
            *target = value;
        } else if (!options->faults.add(value)) {
            *error = "unknown fault " + value;
            return false;
        }
    }
    if (!fanChannel.empty()) {
        if (fanChannel.size() != 1 || fanChannel[0] < '1' || fanChannel[0] > '3') {
            *error = "--sysfs-fan-channel takes 1, 2 or 3";
            return false;
        }
        options->sysfsFanChannel = fanChannel[0] - '0';
    }
    return true;
}

} // namespace cardsim
