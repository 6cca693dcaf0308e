#include "mcu/commands.h"

#include "mcu/connection.h"
#include "platform/control_codes.h"
#include "mcu/output.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <utility>

namespace mcu {
namespace {

using platform::lastError;
using platform::setLastError;


int asInt(std::uint32_t value)
{
    return static_cast<int>(value);
}

// The bytes the driver returned: never more than the buffer holds, whatever
// count it reports.
std::size_t returnedBytes(const ByteBuffer &buffer, std::uint32_t information)
{
    return std::min<std::size_t>(buffer.size(), information);
}

// A request that failed without an error code must still read as a failure.
std::uint32_t failureCode(std::uint32_t error)
{
    return error == platform::kErrorSuccess ? platform::kErrorGenFailure : error;
}

std::string lowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

} // namespace

// ---------------------------------------------------------------- CCommand

CCommand::CCommand(std::string name_, TokenList parameters_)
    : name(std::move(name_)), parameters(std::move(parameters_))
{
}

CCommand::~CCommand() = default;

bool CCommand::Parse()
{
    BindDevice();
    return true;
}

void CCommand::Complete(std::uint32_t status, std::uint32_t information)
{
    Print("%s completed with status %d, information %d\n", name.c_str(), asInt(status),
          asInt(information));
}

bool CCommand::PrintedFailure(std::uint32_t status) const
{
    if (status == 0)
        return false;
    Print("Error %d\n", asInt(lastError()));
    return true;
}

bool CCommand::Cancel()
{
    if (!device) {
        setLastError(platform::kErrorInvalidHandle);
        return false;
    }
    return device->cancelIo();
}

void CCommand::BindDevice()
{
    device = ConnectionDevice();
}

bool CCommand::BeginRequest()
{
    if (!device) {
        setLastError(platform::kErrorInvalidHandle);
        return false;
    }
    // The event is shared by every command of the connection; a new request
    // starts it unsignalled, as the I/O manager would.
    if (overlapped.event)
        overlapped.event->reset();
    return true;
}

bool CCommand::StartIoControl(std::uint32_t code, const void *in, std::uint32_t inLength,
                              void *out, std::uint32_t outLength)
{
    if (!BeginRequest())
        return false;
    std::uint32_t transferred = 0;
    const bool finished =
        device->ioControl(code, in, inLength, out, outLength, &transferred, overlapped);
    return RecordStarted(finished, transferred);
}

bool CCommand::StartIoControl(std::uint32_t code, const ByteBuffer &in, ByteBuffer &out)
{
    return StartIoControl(code, in.data(), static_cast<std::uint32_t>(in.size()), out.data(),
                          static_cast<std::uint32_t>(out.size()));
}

bool CCommand::RecordStarted(bool finished, std::uint32_t transferred)
{
    if (finished) {
        RecordStatus(platform::kErrorSuccess, transferred);
        return true;
    }
    const std::uint32_t error = lastError();
    if (error == platform::kErrorIoPending)
        return true;
    RecordStatus(platform::hresultFromWin32(failureCode(error)), transferred);
    return true;
}

void CCommand::RecordStatus(std::uint32_t status, std::uint32_t information)
{
    overlapped.internal = status;
    overlapped.internalHigh = information;
    if (overlapped.event)
        overlapped.event->set();
}

// ---------------------------------------------------------- no-data commands

CNoDataCommand::CNoDataCommand(std::string name_, TokenList parameters_, std::uint32_t code,
                               const char *doneText)
    : CCommand(std::move(name_), std::move(parameters_)), code_(code), doneText_(doneText)
{
}

bool CNoDataCommand::Execute()
{
    return StartIoControl(code_, nullptr, 0, nullptr, 0);
}

void CNoDataCommand::Complete(std::uint32_t status, std::uint32_t)
{
    if (!PrintedFailure(status))
        Print("%s\n", doneText_);
}

// ----------------------------------------------------------- index commands

CIndexCommand::CIndexCommand(std::string name_, TokenList parameters_, std::uint32_t code)
    : CCommand(std::move(name_), std::move(parameters_)), code_(code)
{
}

bool CIndexCommand::Parse()
{
    BindDevice();
    std::uint32_t value = 0;
    if (!parameters.empty() && PopNumberParameter(parameters, &value))
        index = value;
    return true;
}

bool CIndexCommand::Execute()
{
    return StartIoControl(code_, &index, sizeof index, nullptr, 0);
}

COpenCommand::COpenCommand(std::string name_, TokenList parameters_)
    : CIndexCommand(std::move(name_), std::move(parameters_), platform::kIoctlOpenTarget)
{
}

void COpenCommand::Complete(std::uint32_t status, std::uint32_t)
{
    if (status == 0)
        Print("Peripheral target %d opened\n", asInt(index));
    else
        Print("Error opening peripheral %d - status %d\n", asInt(index), asInt(lastError()));
}

CInterruptCommand::CInterruptCommand(std::string name_, TokenList parameters_, bool enable)
    : CIndexCommand(std::move(name_), std::move(parameters_),
                    enable ? platform::kIoctlEnableInterrupt : platform::kIoctlDisableInterrupt),
      enable_(enable)
{
}

void CInterruptCommand::Complete(std::uint32_t status, std::uint32_t)
{
    if (status != 0) {
        Print(enable_ ? "Error enabling Interrupt %d - status %d\n"
                      : "Error disabling Interrupt %d - status %d\n",
              asInt(index), asInt(lastError()));
    } else if (enable_) {
        Print("Interrupt %d enabled\n", asInt(index));
        EnabledInterrupts().insert(index);
    } else {
        Print("Interrupt %d Disabled\n", asInt(index));
        EnabledInterrupts().erase(index);
    }
}

// -------------------------------------------------------------------- read

bool CReadCommand::Parse()
{
    BindDevice();
    std::uint32_t length = 0;
    if (!PopLengthParameter(parameters, &length)) {
        Print("Length required\n");
        return false;
    }
    data.assign(length, 0);
    return true;
}

bool CReadCommand::Execute()
{
    if (!BeginRequest())
        return false;
    std::uint32_t transferred = 0;
    const bool finished = device->read(data.data(), static_cast<std::uint32_t>(data.size()),
                                       &transferred, overlapped);
    return RecordStarted(finished, transferred);
}

void CReadCommand::Complete(std::uint32_t status, std::uint32_t information)
{
    if (status != 0) {
        Print("Error %d\n", asInt(status));
        return;
    }
    Print("%d bytes read\n", asInt(information));
    PrintDump(data.data(), returnedBytes(data, information));
}

// ------------------------------------------------------------------- write

bool CWriteCommand::Parse()
{
    BindDevice();
    if (!PopBufferParameter(parameters, &data)) {
        Print("Buffer required\n");
        return false;
    }
    return true;
}

bool CWriteCommand::Execute()
{
    if (!BeginRequest())
        return false;
    if (!overlapped.event) {
        ownEvent_ = std::make_unique<platform::Event>(true);
        overlapped.event = ownEvent_.get();
    }

    std::uint32_t written = 0;
    if (device->write(data.data(), static_cast<std::uint32_t>(data.size()), &written,
                      overlapped)) {
        RecordStatus(platform::kErrorSuccess, written);
        return true;
    }
    const std::uint32_t startError = lastError();
    if (startError != platform::kErrorIoPending) {
        RecordStatus(platform::hresultFromWin32(failureCode(startError)), written);
        return true;
    }

    const std::uint32_t waitResult = overlapped.event->wait(kTimeoutMs);
    if (waitResult == platform::kWaitObject0) {
        if (device->overlappedResult(overlapped, &written, false)) {
            RecordStatus(platform::kErrorSuccess, written);
            return true;
        }
        const std::uint32_t error = failureCode(lastError());
        RecordStatus(platform::hresultFromWin32(error), written);
        setLastError(error);
        return false;
    }
    if (waitResult == platform::kWaitTimeout) {
        Print("timeout ..........................................................");
        // The buffer must outlive the request, so wait for the cancel to land;
        // the caller reports the pending code the write left behind.
        device->cancelIo();
        std::uint32_t ignored = 0;
        device->overlappedResult(overlapped, &ignored, true);
        setLastError(startError);
        return false;
    }
    RecordStatus(platform::hresultFromWin32(waitResult), 0);
    setLastError(waitResult);
    return false;
}

void CWriteCommand::Complete(std::uint32_t status, std::uint32_t information)
{
    if (status == 0)
        Print("%d bytes written\n", asInt(information));
    else
        Print("Error %d\n", asInt(status));
}

// --------------------------------------------------------------- writeread

bool CWriteReadCommand::Parse()
{
    BindDevice();
    if (!PopBufferParameter(parameters, &writeBuffer)) {
        Print("Buffer required\n");
        return false;
    }
    std::uint32_t length = 0;
    if (!PopLengthParameter(parameters, &length)) {
        Print("Length required\n");
        return false;
    }
    data.assign(length, 0);
    return true;
}

bool CWriteReadCommand::Execute()
{
    return StartIoControl(platform::kIoctlWriteRead, writeBuffer, data);
}

void CWriteReadCommand::Complete(std::uint32_t status, std::uint32_t information)
{
    if (PrintedFailure(status))
        return;
    Print("%d bytes returned\n", asInt(information));
    PrintDump(data.data(), returnedBytes(data, information));
}

// ---------------------------------------------------------------- sequence

bool CSequenceCommand::Parse()
{
    BindDevice();
    entries.clear();
    std::uint64_t writeBytes = 0;
    std::uint64_t readBytes = 0;
    while (!parameters.empty()) {
        const std::string flag = parameters.front();
        std::unique_ptr<CSequenceParser> inner;
        if (flag == "-s")
            inner = std::make_unique<CSimpleSequenceParser>();
        else if (flag == "-b")
            inner = std::make_unique<CBufferListSequenceParser>();
        else if (flag == "-m")
            inner = std::make_unique<CMdlSequenceParser>();
        else {
            Print("Cannot determine parser. Start each sequence entry with -s or -b\n");
            return false;
        }
        parameters.pop_front();
        CDelaySequenceParser parser(std::move(inner));
        SequenceEntry entry;
        if (!parser.Parse(parameters, entry)) {
            Print("Parser failed. Expected: %s\n", parser.Describe().c_str());
            return false;
        }
        (entry.direction == platform::kSequenceDirectionWrite ? writeBytes : readBytes) += EntryBytes(entry);
        if (writeBytes > kMaxSequenceBytes || readBytes > kMaxSequenceBytes) {
            Print("Sequence too long - at most %u bytes each way\n",
                  static_cast<unsigned>(kMaxSequenceBytes));
            return false;
        }
        entries.push_back(std::move(entry));
    }
    if (entries.empty()) {
        Print("Sequence parsed, but no read/write data found\n");
        return false;
    }
    SequenceRequest request = BuildSequenceRequest(entries);
    inputBuffer = std::move(request.input);
    data.assign(request.outputLength, 0);
    return true;
}

bool CSequenceCommand::Execute()
{
    return StartIoControl(platform::kIoctlSequence, inputBuffer, data);
}

void CSequenceCommand::Complete(std::uint32_t status, std::uint32_t information)
{
    if (PrintedFailure(status))
        return;
    Print("%d total bytes returned\n", asInt(information));
    const std::size_t available = returnedBytes(data, information);
    std::size_t offset = 0;
    // Read data comes back in entry and element order.
    auto dumpNext = [&](std::uint32_t length) {
        const std::size_t begin = std::min(offset, available);
        const std::size_t end = std::min<std::size_t>(available, offset + length);
        PrintDump(data.data() + begin, end - begin);
        offset += length;
    };
    for (std::size_t number = 0; number < entries.size(); ++number) {
        const SequenceEntry &entry = entries[number];
        if (entry.format != platform::kSequenceFormatSimple && entry.format != platform::kSequenceFormatBufferList
            && entry.format != platform::kSequenceFormatMdl) {
            Print("Error: Cannot determine fromat of the entry #%lu, (format = %lx)\n",
                  static_cast<unsigned long>(number), static_cast<unsigned long>(entry.format));
            return;
        }
        if (entry.direction != platform::kSequenceDirectionRead)
            continue;
        if (entry.format == platform::kSequenceFormatSimple) {
            Print("Simple %d [%d]:\n", asInt(static_cast<std::uint32_t>(number)),
                  asInt(entry.delay));
            dumpNext(entry.elements.empty() ? 0 : entry.elements.front().length);
            continue;
        }
        Print("%s %d [%d]: <%zu %s>\n", entry.format == platform::kSequenceFormatMdl ? "MDL" : "Buffer List",
              asInt(static_cast<std::uint32_t>(number)), asInt(entry.delay),
              entry.elements.size(), entry.elements.size() == 1 ? "Entry" : "Entries");
        for (std::size_t element = 0; element < entry.elements.size(); ++element) {
            Print(" Entry  %d.%d: \n", asInt(static_cast<std::uint32_t>(number)),
                  asInt(static_cast<std::uint32_t>(element)));
            dumpNext(entry.elements[element].length);
        }
    }
}

// -------------------------------------------------------------------- gpio

bool CGpioCommand::Parse()
{
    BindDevice();
    if (!PopNumberParameter(parameters, &index)) {
        Print("GPIO Idx required\n");
        return false;
    }
    std::uint32_t level = 0;
    if (!parameters.empty() && PopNumberParameter(parameters, &level)) {
        setsLine = true;
        value = level;
    }
    data.assign(platform::kGpioBlockSize, 0);
    for (int i = 0; i < 4; ++i)
        data[i] = static_cast<std::uint8_t>(index >> (8 * i));
    data[platform::kGpioModeOffset] = setsLine ? platform::kGpioModeSet : platform::kGpioModeRead;
    data[platform::kGpioLevelOffset] = setsLine && value != 0 ? 1 : 0;
    return true;
}

bool CGpioCommand::Execute()
{
    return StartIoControl(platform::kIoctlGpio, data.data(), platform::kGpioBlockSize, data.data(), platform::kGpioBlockSize);
}

void CGpioCommand::Complete(std::uint32_t status, std::uint32_t)
{
    if (status != 0) {
        Print(setsLine ? "Error writing to GPIO peripheral %d - status %d\n"
                       : "Error reading from GPIO peripheral %d - status %d\n",
              asInt(index), asInt(lastError()));
        return;
    }
    Print(setsLine ? "GPIO preipheral %d line changed to = %d\n"
                   : "GPIO preipheral %d line read state = %d\n",
          asInt(index), data[platform::kGpioLevelOffset]);
}

// --------------------------------------------------------------------- pdi

bool COnPdInterruptCommand::Parse()
{
    BindDevice();
    std::uint32_t number = 0;
    if (parameters.empty() || !PopNumberParameter(parameters, &number)) {
        Print("Enter Pending PDI mode:\n");
        Print("Buffer length is required if you want to query PDI status!\n");
        Print("For example: pdi 1\n");
        data.clear();
    } else if (number == 0) {
        Print("Enter Pending PDI mode:\n");
        data.clear();
    } else {
        Print("Enter Querying PDI mode:\n");
        Print("Only one byte will be returned as interrupt status!\n");
        data.assign(1, 0);
    }
    return true;
}

bool COnPdInterruptCommand::Execute()
{
    return StartIoControl(platform::kIoctlPdInterrupt, nullptr, 0, data.data(),
                          static_cast<std::uint32_t>(data.size()));
}

void COnPdInterruptCommand::Complete(std::uint32_t status, std::uint32_t information)
{
    if (status != 0) {
        Print("error %d\n", asInt(status));
        return;
    }
    if (data.empty()) {
        Print("Received PD interrupt without data returned\n");
        return;
    }
    Print("PD interrupt status value:\n");
    PrintDump(data.data(), returnedBytes(data, information));
}

// ------------------------------------------------------------ ParseCommand

namespace {

using Factory = std::function<std::unique_ptr<CCommand>(std::string, TokenList)>;

// The keyword's command, built with these extra constructor arguments.
template <typename T, typename... Args>
Factory make(Args... args)
{
    return [args...](std::string name, TokenList tokens) {
        return std::unique_ptr<CCommand>(new T(std::move(name), std::move(tokens), args...));
    };
}

struct Keyword {
    const char *name;
    Factory create;
};

const std::vector<Keyword> &keywordTable()
{
    static const std::vector<Keyword> table = {
        {"open", make<COpenCommand>()},
        {"close", make<CNoDataCommand>(platform::kIoctlCloseTarget, "Peripheral target closed")},
        {"lock", make<CNoDataCommand>(platform::kIoctlLockBus, "Peripheral target locked")},
        {"unlock", make<CNoDataCommand>(platform::kIoctlUnlockBus, "Peripheral target unlocked")},
        {"lockconn", make<CNoDataCommand>(platform::kIoctlLockConnection, "Peripheral target locked")},
        {"unlockconn", make<CNoDataCommand>(platform::kIoctlUnlockConnection, "Peripheral target unlocked")},
        {"read", make<CReadCommand>()},
        {"write", make<CWriteCommand>()},
        {"writeread", make<CWriteReadCommand>()},
        {"signal", make<CNoDataCommand>(platform::kIoctlSignalInterrupt, "Interrupt signalled")},
        {"sequence", make<CSequenceCommand>()},
        {"gpio", make<CGpioCommand>()},
        {"intenable", make<CInterruptCommand>(true)},
        {"intdisable", make<CInterruptCommand>(false)},
        {"pdi", make<COnPdInterruptCommand>()},
    };
    return table;
}

} // namespace

std::unique_ptr<CCommand> ParseCommand(TokenList tokens)
{
    if (!tokens.empty() && tokens.front().front() == '@') {
        if (tokens.size() == 1) {
            Print("Missing required parameter\n");
            Print("Error - could not pop tag\n");
            return nullptr;
        }
        tokens.pop_front();
    }
    if (tokens.empty()) {
        Print("Missing required parameter\n");
        return nullptr;
    }
    const std::string keyword = tokens.front();
    const std::string lower = lowerCase(keyword);
    tokens.pop_front();

    for (const Keyword &entry : keywordTable()) {
        if (lower == entry.name) {
            std::unique_ptr<CCommand> command = entry.create(entry.name, std::move(tokens));
            if (!command->Parse())
                return nullptr;
            return command;
        }
    }
    if (lower == "help") {
        Print("%s", HelpText().c_str());
    } else if (lower == "wait") {
        Print(".............................................\n");
        platform::sleepMs(1000);
    } else if (lower == "prt") {
        Print(".....\n");
    } else {
        Print("unrecognized command %s\n", keyword.c_str());
        Print("%s", HelpText().c_str());
    }
    return nullptr;
}

std::string CommandKeyword(const TokenList &tokens)
{
    std::size_t at = 0;
    if (!tokens.empty() && tokens.front().front() == '@')
        at = 1;
    return at < tokens.size() ? lowerCase(tokens[at]) : std::string();
}

const std::string &HelpText()
{
    static const std::string text =
        "\n"
        "Commands:\n"
        "  open <idx>               open handle to SPB controller\n"
        "  close                    close handle to SPB controller\n"
        "  lock                     lock the bus for exclusive access\n"
        "  unlock                   unlock the bus\n"
        "  lockconn                 lock the shared connection for exclusive access -\n"
        "                           this primitive is used to synchronize with op-region\n"
        "                           accesses by firmware\n"
        "  unlockconn               unlock the shared connection\n"
        "  write {}                 write byte array to peripheral\n"
        "                            > write {01, 02, 03}\n"
        "  read <numBytes>          read <numBytes> from peripheral\n"
        "                            > read 5\n"
        "  writeread {} <numBytes>  atomically write byte array to peripheral\n"
        "                           and read <numBytes> back\n"
        "                            > writeread {01, 02, 03} 5\n"
        "  signal                   inform the SPB peripheral driver that the\n"
        "                           interrupt has been handled\n"
        "  sequence [-s [delay] <sseq> | -b [delay] <lseq> | -m  [delay] <lseq>]\n"
        "     where: [delay] is a delay in us to be applied before <sseq>/<bseq>\n"
        "                    default is 0 (no delay)\n"
        "            <sseq>  is a either {}-byte array or <numBytes>\n"
        "            <lseq>  is a either any number of {}-byte arrays\n"
        "                    or any number of <numBytes>\n"
        "                           automatically write all given byte arrays to\n"
        "                           peripheral and read all the given <numBytes> back\n"
        "                           -s triggers SIMPLE transfers\n"
        "                           -b triggers BUFFER_LIST transfers\n"
        "                           -m triggers MDL transfers\n"
        "                            > sequence -s { 00 01 } -m [100] 2 -s [200] 3 -b 5 6 \\\n"
        "                              -b [11] { 08 09 } { 10 11 } -s 12 -m { 13 } { 14 15 }\n"
        "  intenable <idx>          enable interrupt resource\n"
        "  intdisable <idx>         disable interrupt resource\n"
        "  gpio <idx> [value]       set/get GPIO line level\n"
        "  gpioinv <idx> [value]\t   set/get GPIO line inversion for IOxAPIC\n"
        "  help                     print command list\n"
        "  wait                     wait one second\n"
        "  pdi <numBytes>           pdi 0 --- Pending Interrupt\n"
        "                           pdi 1 --- Query interrupt\n"
        "                           pdi --- Pending Interrupt\n"
        "\n";
    return text;
}

} // namespace mcu
