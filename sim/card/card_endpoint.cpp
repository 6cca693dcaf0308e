#include "sim/card/card_endpoint.h"

#include "platform/control_codes.h"
#include "platform/overlapped.h"
#include "platform/sequence_descriptor.h"

#include <cstdlib>
#include <ctime>

namespace cardsim {

using platform::wire::Op;
using platform::wire::Request;

namespace {

constexpr std::uint32_t kErrorInvalidFunction = 1;
// A transfer the MCU does not acknowledge fails as the bus reports it.
constexpr std::uint32_t kErrorNoAcknowledge = platform::kErrorGenFailure;

bool parseNumber(const std::string &text, unsigned long max, unsigned long *value)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > 10)
        return false;
    *value = std::strtoul(text.c_str(), nullptr, 10);
    return *value <= max;
}

std::uint32_t le32(const std::vector<std::uint8_t> &b, std::size_t at)
{
    return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16 |
           std::uint32_t(b[at + 3]) << 24;
}

platform::EndpointHandler::Answer failed(std::uint32_t error)
{
    platform::EndpointHandler::Answer a;
    a.status = error;
    return a;
}

platform::EndpointHandler::Answer succeeded(std::vector<std::uint8_t> data = {})
{
    platform::EndpointHandler::Answer a;
    a.information = static_cast<std::uint32_t>(data.size());
    a.data = std::move(data);
    return a;
}

} // namespace

std::string hexBytes(const std::vector<std::uint8_t> &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (std::uint8_t b : bytes) {
        if (!out.empty())
            out += ' ';
        out += digits[b >> 4];
        out += digits[b & 0xF];
    }
    return out;
}

bool Faults::add(const std::string &text)
{
    const auto eq = text.find('=');
    const std::string key = text.substr(0, eq);
    const std::string value = eq == std::string::npos ? std::string() : text.substr(eq + 1);
    unsigned long n = 0;
    if (key == "short-reply" && eq == std::string::npos) {
        shortReply = true;
        return true;
    }
    if (key == "long-reply" && eq == std::string::npos) {
        longReply = true;
        return true;
    }
    if (key == "error" && parseNumber(value, 0xFFFF, &n) && n != 0) {
        error = static_cast<std::uint32_t>(n);
        return true;
    }
    if (key == "pending-write-ms" && parseNumber(value, 3600000, &n)) {
        pendingWriteMs = static_cast<unsigned>(n);
        return true;
    }
    if (key == "vanish-after" && parseNumber(value, 0xFFFFFFFFul, &n)) {
        vanishAfter = static_cast<unsigned>(n);
        return true;
    }
    return false;
}

bool CardEndpoint::openLog(const std::string &path, bool times)
{
    logTimes_ = times;
    log_.reset(std::fopen(path.c_str(), "a"));
    return log_ != nullptr;
}

void CardEndpoint::log(const std::string &line)
{
    if (!log_)
        return;
    if (logTimes_) {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        std::fprintf(log_.get(), "%lld.%06ld ", static_cast<long long>(now.tv_sec),
                     now.tv_nsec / 1000);
    }
    std::fputs(line.c_str(), log_.get());
    std::fputc('\n', log_.get());
    std::fflush(log_.get());
}

platform::EndpointHandler::Answer CardEndpoint::counted(Answer answer)
{
    ++transfers_;
    if (faults_.vanishAfter && transfers_ >= *faults_.vanishAfter)
        answer.withdraw = true;
    return answer;
}

platform::EndpointHandler::Answer CardEndpoint::handle(const Request &request)
{
    if (faults_.error) {
        Answer a = failed(*faults_.error);
        const bool isTransfer = request.op != Op::IoControl ||
                                request.code == platform::kIoctlWriteRead ||
                                request.code == platform::kIoctlSequence;
        return isTransfer ? counted(a) : a;
    }
    if (request.op == Op::Write && faults_.pendingWriteMs) {
        Answer a;
        a.pendingMs = static_cast<int>(*faults_.pendingWriteMs);
        return a;
    }
    return finish(request);
}

platform::EndpointHandler::Answer CardEndpoint::finish(const Request &request)
{
    if (request.op == Op::IoControl)
        return control(request);
    return transfer(request);
}

platform::EndpointHandler::Answer CardEndpoint::transfer(const Request &request)
{
    if (request.op == Op::Write) {
        if (!mcu_.write(request.input))
            return counted(failed(kErrorNoAcknowledge));
        log("W " + hexBytes(request.input));
        Answer a;
        a.information = static_cast<std::uint32_t>(request.input.size());
        return counted(a);
    }
    std::vector<std::uint8_t> reply = mcu_.read(request.outLength);
    log("R -> " + hexBytes(reply));
    return counted(succeeded(std::move(reply)));
}

platform::EndpointHandler::Answer CardEndpoint::control(const Request &request)
{
    const std::vector<std::uint8_t> &in = request.input;
    switch (request.code) {
    case platform::kIoctlOpenTarget:
        if (in.size() < 4)
            return failed(platform::kErrorInvalidParameter);
        log("OPEN " + std::to_string(le32(in, 0)));
        return succeeded();
    case platform::kIoctlCloseTarget: log("CLOSE"); return succeeded();
    case platform::kIoctlLockBus: log("LOCK"); return succeeded();
    case platform::kIoctlUnlockBus: log("UNLOCK"); return succeeded();
    case platform::kIoctlLockConnection: log("LOCKCONN"); return succeeded();
    case platform::kIoctlUnlockConnection: log("UNLOCKCONN"); return succeeded();
    case platform::kIoctlSignalInterrupt: log("SIGNAL"); return succeeded();
    case platform::kIoctlEnableInterrupt:
    case platform::kIoctlDisableInterrupt:
        if (in.size() < 4)
            return failed(platform::kErrorInvalidParameter);
        log(request.code == platform::kIoctlEnableInterrupt ? "INTENABLE" : "INTDISABLE");
        return succeeded();
    case platform::kIoctlPdInterrupt:
        log("PDI");
        return succeeded(std::vector<std::uint8_t>(request.outLength > 0 ? 1 : 0, 0x00));
    case platform::kIoctlGpio: {
        if (in.size() < 8 || request.outLength < 8)
            return failed(platform::kErrorInvalidParameter);
        std::vector<std::uint8_t> block(in.begin(), in.begin() + 8);
        const std::uint32_t line = le32(block, 0);
        if (block[4] == 1)
            block[5] = gpioLevels_[line];
        else
            gpioLevels_[line] = block[5] ? 1 : 0;
        log("GPIO");
        return succeeded(std::move(block));
    }
    case platform::kIoctlWriteRead: {
        if (in.empty())
            return counted(failed(platform::kErrorInvalidParameter));
        std::vector<std::uint8_t> reply = mcu_.writeRead(in, request.outLength);
        if (faults_.shortReply && !reply.empty())
            reply.pop_back();
        if (faults_.longReply)
            reply.push_back(0xEE);
        log("WR " + hexBytes(in) + " -> " + hexBytes(reply));
        return counted(succeeded(std::move(reply)));
    }
    case platform::kIoctlSequence: {
        const auto plan = platform::decodeSequence(in.data(), in.size());
        if (!plan)
            return counted(failed(platform::kErrorInvalidParameter));
        if (plan->totalRead > request.outLength)
            return counted(failed(platform::kErrorInsufficientBuffer));
        std::vector<std::uint8_t> out;
        for (const auto &entry : plan->entries) {
            for (const auto &element : entry.elements) {
                if (element.read) {
                    const auto bytes = mcu_.read(element.length);
                    out.insert(out.end(), bytes.begin(), bytes.end());
                } else {
                    const auto begin = plan->writeData.begin() + std::ptrdiff_t(element.dataOffset);
                    if (!mcu_.write(std::vector<std::uint8_t>(begin, begin + element.length)))
                        return counted(failed(kErrorNoAcknowledge));
                }
            }
        }
        log("SEQUENCE");
        return counted(succeeded(std::move(out)));
    }
    default:
        return failed(kErrorInvalidFunction);
    }
}

} // namespace cardsim
