// tarvell-card-sim: serves the card's peripheral endpoint with an emulated
// MCU until SIGINT or SIGTERM.

#include "platform/endpoint_server.h"
#include "platform/overlapped.h"
#include "sim/card/card_endpoint.h"
#include "sim/card/options.h"
#include "sim/sysfs/sysfs_sim.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_stopWrite = -1;

void onStopSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    // Nothing more can be done from a signal handler if the pipe is full:
    // a stop is already on its way then.
    [[maybe_unused]] const ssize_t n = ::write(g_stopWrite, &byte, 1);
    errno = saved;
}

} // namespace

int main(int argc, char **argv)
{
    cardsim::Options options;
    std::string error;
    if (!cardsim::parseOptions(std::vector<std::string>(argv + 1, argv + argc), &options, &error)) {
        std::fprintf(stderr, "tarvell-card-sim: %s\n%s", error.c_str(), cardsim::usage());
        return 2;
    }
    if (options.help) {
        std::fputs(cardsim::usage(), stdout);
        return 0;
    }

    if (!options.gpuTempFile.empty() && options.sysfsDir.empty()) {
        std::fprintf(stderr, "tarvell-card-sim: --gpu-temp-from needs --sysfs\n%s", cardsim::usage());
        return 2;
    }
    const std::string dir =
        options.runtimeDir.empty() ? platform::runtimeDirectory() : options.runtimeDir;
    if (dir.empty()) {
        std::fprintf(stderr, "tarvell-card-sim: no usable runtime directory\n");
        return 1;
    }

    cardsim::CardEndpoint card(options.faults);
    if (!options.logFile.empty() && !card.openLog(options.logFile, options.logTimes)) {
        std::fprintf(stderr, "tarvell-card-sim: cannot open log %s\n", options.logFile.c_str());
        return 1;
    }
    // The GPU's side of the card: a sysfs tree whose fan follows what the MCU
    // was told, kept moving by a ticker until the simulator stops.
    std::unique_ptr<sim::SysfsSim> sysfs;
    if (!options.sysfsDir.empty()) {
        sysfs = std::make_unique<sim::SysfsSim>(QString::fromStdString(options.sysfsDir));
        sim::SysfsSim::Layout layout;
        layout.fanChannel = options.sysfsFanChannel;
        if (!options.sysfsKernel.empty()
            && !sim::SysfsSim::parseKernel(QString::fromStdString(options.sysfsKernel), &layout.kernel)) {
            std::fprintf(stderr, "tarvell-card-sim: --sysfs-kernel takes a release such as 6.14\n%s",
                         cardsim::usage());
            return 2;
        }
        sysfs->setLayout(layout);
        if (!options.gpuTempFile.empty())
            sysfs->setTemperatureFile(QString::fromStdString(options.gpuTempFile));
        if (!sysfs->publish()) {
            std::fprintf(stderr, "tarvell-card-sim: cannot publish sysfs tree in %s\n",
                         options.sysfsDir.c_str());
            return 1;
        }
        sim::SysfsSim *tree = sysfs.get();
        card.mcu().setFanListener([tree](const cardsim::SimulatedMcu::FanState &fan) {
            if (fan.cardDrivesFan)
                tree->setFanDrivenByMcu(fan.duty);
            else
                tree->setFanDrivenByGpu();
        });
    }
    int stopPipe[2];
    if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("tarvell-card-sim: pipe");
        return 1;
    }
    g_stopWrite = stopPipe[1];
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::mutex tickMutex;
    std::condition_variable tickWake;
    bool stopTicking = false;
    std::thread ticker;
    if (sysfs) {
        ticker = std::thread([&] {
            constexpr auto kTickInterval = std::chrono::milliseconds(100);
            std::unique_lock<std::mutex> lock(tickMutex);
            while (!tickWake.wait_for(lock, kTickInterval, [&] { return stopTicking; }))
                sysfs->tick();
        });
    }

    int status = 0;
    {
        platform::EndpointServer server(card);
        const std::string path = dir + "/" + cardsim::kEndpointName;
        if (!server.listen(path, &error)) {
            std::fprintf(stderr, "tarvell-card-sim: %s\n", error.c_str());
            status = 1;
        } else {
            std::printf("tarvell-card-sim: serving %s\n", path.c_str());
            std::fflush(stdout);
            server.run(stopPipe[0]);
        }
    }
    if (ticker.joinable()) {
        {
            std::lock_guard<std::mutex> lock(tickMutex);
            stopTicking = true;
        }
        tickWake.notify_all();
        ticker.join();
    }
    ::close(stopPipe[0]);
    ::close(stopPipe[1]);
    return status;
}
