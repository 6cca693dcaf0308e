// tarvell-sysfs-sim --root DIR [--interval-ms N] [--fan-duty P] [--load F] [--ticks N]
//
// Publishes the simulated card's sysfs tree under DIR and keeps it moving
// until interrupted (or for N ticks). --fan-duty drives the fan as the MCU
// would at P percent; --load holds the GPU load at a fraction instead of
// letting it wander.
#include "sim/sysfs/sysfs_sim.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <thread>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void onSignal(int) { g_stop = 1; }

int usage()
{
    std::fprintf(stderr,
                 "usage: tarvell-sysfs-sim --root DIR [--interval-ms N] [--fan-duty P] [--load F] [--ticks N]\n");
    return 2;
}

bool toInt(const char *text, long lo, long hi, long &out)
{
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno || end == text || *end || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QString root;
    long intervalMs = 100, duty = -1, ticks = -1;
    double load = -1.0;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (!std::strcmp(argv[i], "--root") && hasValue) {
            root = QString::fromLocal8Bit(argv[++i]);
        } else if (!std::strcmp(argv[i], "--interval-ms") && hasValue) {
            if (!toInt(argv[++i], 10, 250, intervalMs))
                return usage();
        } else if (!std::strcmp(argv[i], "--fan-duty") && hasValue) {
            if (!toInt(argv[++i], 0, 100, duty))
                return usage();
        } else if (!std::strcmp(argv[i], "--ticks") && hasValue) {
            if (!toInt(argv[++i], 0, 1000000000L, ticks))
                return usage();
        } else if (!std::strcmp(argv[i], "--load") && hasValue) {
            char *end = nullptr;
            load = std::strtod(argv[++i], &end);
            if (end == argv[i] || *end || !(load >= 0.0 && load <= 1.0))
                return usage();
        } else {
            return usage();
        }
    }
    if (root.isEmpty())
        return usage();

    sim::SysfsSim card(root);
    if (duty >= 0)
        card.setFanDrivenByMcu(static_cast<int>(duty));
    if (load >= 0.0)
        card.holdLoad(load);
    if (!card.publish()) {
        std::fprintf(stderr, "tarvell-sysfs-sim: cannot write the tree under %s\n", qPrintable(root));
        return 1;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    for (long n = 0; !g_stop && (ticks < 0 || n < ticks); ++n) {
        std::this_thread::sleep_for(std::chrono::milliseconds(intervalMs));
        if (!card.tick()) {
            std::fprintf(stderr, "tarvell-sysfs-sim: cannot update the tree\n");
            return 1;
        }
    }
    return 0;
}
