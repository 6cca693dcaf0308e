#pragma once
// The simulated card behind the peripheral endpoint: turns driver requests
// into MCU transfers, writes the transfer log and injects the faults asked for.

#include "platform/endpoint_server.h"
#include "sim/card/simulated_mcu.h"

#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace cardsim {

struct Faults {
    std::optional<std::uint32_t> error;          // every request fails with it
    std::optional<unsigned> pendingWriteMs;      // writes finish only after this long
    bool shortReply = false;                     // write-reads return one byte fewer
    bool longReply = false;                      // write-reads return one byte more
    std::optional<unsigned> vanishAfter;         // the device goes after N transfers

    // Adds one "--fault" text; false when it is not understood.
    bool add(const std::string &text);
};

class CardEndpoint final : public platform::EndpointHandler {
public:
    explicit CardEndpoint(Faults faults) : faults_(std::move(faults)) {}

    // Appends one line per transfer to `path`; false when it cannot be opened.
    // With times, each line starts with the wall-clock time in seconds, so a
    // benchmark can set it against the moment it acted.
    bool openLog(const std::string &path, bool times = false);

    Answer handle(const platform::wire::Request &request) override;
    Answer finish(const platform::wire::Request &request) override;

    SimulatedMcu &mcu() { return mcu_; }

private:
    Answer transfer(const platform::wire::Request &request);
    Answer control(const platform::wire::Request &request);
    Answer counted(Answer answer);
    void log(const std::string &line);

    struct FileCloser {
        void operator()(std::FILE *f) const { std::fclose(f); }
    };

    Faults faults_;
    SimulatedMcu mcu_;
    std::unique_ptr<std::FILE, FileCloser> log_;
    bool logTimes_ = false;
    unsigned transfers_ = 0;
    std::map<std::uint32_t, std::uint8_t> gpioLevels_;
};

// Bytes as upper-case hexadecimal pairs separated by single blanks.
std::string hexBytes(const std::vector<std::uint8_t> &bytes);

} // namespace cardsim
