#include "mcu/transport.h"

#include "mcu/commands.h"
#include "mcu/connection.h"
#include "platform/control_codes.h"
#include "mcu/output.h"
#include "mcu/parameters.h"

#include <QDebug>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <thread>

namespace mcu {
namespace {

const char kFallbackDevicePath[] = "\\\\.\\SPB_";

// Status of a text that produced no command object: nothing was sent.
constexpr std::uint32_t kNoCommandStatus = platform::kErrorInvalidParameter;

struct DriverConnection {
    std::unique_ptr<platform::Device> device;
    std::unique_ptr<platform::Event> stopEvent;
    std::unique_ptr<platform::Event> ioEvent;
    std::thread listener;
};

DriverConnection &connection()
{
    static DriverConnection state;
    return state;
}

// Waits for no interrupt: it only proves an event can be made for one and
// ends, so the stop event only ever finds it finished.
void listenForInterrupts()
{
    platform::Event interruptEvent(false);
}

void disableInterrupt(platform::Device &device, std::uint32_t index)
{
    Print("disabling interrupt: %d\n", static_cast<int>(index));
    platform::Overlapped record;
    std::uint32_t transferred = 0;
    if (device.ioControl(platform::kIoctlDisableInterrupt, &index, sizeof index, nullptr, 0, &transferred,
                         record))
        return;
    if (platform::lastError() != platform::kErrorIoPending) {
        Print("failed to disable interrupt %d - %d\n", static_cast<int>(index),
              static_cast<int>(platform::lastError()));
        return;
    }
    device.overlappedResult(record, &transferred, true);
}

struct Outcome {
    std::unique_ptr<CCommand> command;
    std::uint32_t status = kNoCommandStatus;
    std::uint32_t transferred = 0;
    bool completed = false; // Complete ran
};

// Parse, start, wait, complete: the path every command text takes.
Outcome runText(const char *commandText)
{
    Outcome outcome;
    outcome.command = ParseCommand(TokenizeCommandLine(commandText ? commandText : ""));
    CCommand *command = outcome.command.get();
    if (!command)
        return outcome;
    command->overlapped.event = connection().ioEvent.get();
    if (!command->Execute()) {
        outcome.status = platform::lastError();
        return outcome;
    }
    if (command->device->overlappedResult(command->overlapped, &outcome.transferred, true))
        outcome.status = platform::kErrorSuccess;
    else
        outcome.status = platform::lastError();
    command->Complete(outcome.status, outcome.transferred);
    outcome.completed = true;
    return outcome;
}

} // namespace

platform::Device *ConnectionDevice()
{
    return connection().device.get();
}

platform::Event *ConnectionIoEvent()
{
    return connection().ioEvent.get();
}

std::set<std::uint32_t> &EnabledInterrupts()
{
    static std::set<std::uint32_t> enabled;
    return enabled;
}

OpenResult OpenDriverConnection(const char *devicePath)
{
    DriverConnection &state = connection();
    // One connection at a time: a second open replaces the first cleanly
    // instead of leaking its device and thread.
    if (state.device || state.listener.joinable())
        CloseDriverConnection();

    std::uint32_t error = 0;
    if (devicePath && *devicePath) {
        Print("Opening %s as peripheral driver path \n", devicePath);
        state.device = platform::openDevice(devicePath, &error);
    } else {
        state.device = platform::openDevice(kFallbackDevicePath, &error);
    }
    if (!state.device) {
        Print("Error opening peripheral driver - %d\n", static_cast<int>(error));
        return OpenResult::DeviceFailed;
    }

    std::fflush(stdout);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::setvbuf(stderr, nullptr, _IONBF, 0);

    state.stopEvent = std::make_unique<platform::Event>(true);
    state.ioEvent = std::make_unique<platform::Event>(true);
    state.listener = std::thread(listenForInterrupts);
    return OpenResult::Opened;
}

void CloseDriverConnection()
{
    DriverConnection &state = connection();
    if (state.device) {
        for (std::uint32_t index : EnabledInterrupts())
            disableInterrupt(*state.device, index);
    }
    if (state.stopEvent)
        state.stopEvent->set();
    if (state.listener.joinable())
        state.listener.join();
    state.listener = std::thread();
    state.device.reset();
    state.ioEvent.reset();
    state.stopEvent.reset();
}

std::uint32_t RunCommand(const char *commandText)
{
    const Outcome outcome = runText(commandText);
    qDebug("%s", outcome.status == 0 ? "RunCommand status: SUCCESS" : "RunCommand status: FAIL");
    return outcome.status;
}

QByteArray RunReadCommand(const char *commandText)
{
    const Outcome outcome = runText(commandText);
    QByteArray result;
    // A failed request's bytes are not data, whatever count came with them.
    if (!outcome.completed || outcome.status != 0)
        return result;
    const ByteBuffer &data = outcome.command->data;
    const std::size_t count = std::min<std::size_t>(data.size(), outcome.transferred);
    result = QByteArray(reinterpret_cast<const char *>(data.data()), static_cast<int>(count));
    PrintDump(data.data(), count);
    return result;
}

} // namespace mcu
