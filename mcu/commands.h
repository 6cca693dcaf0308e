#pragma once
// Command objects of the I2C command language. ParseCommand builds one from a
// token list; it starts one driver request (Execute), prints its outcome
// (Complete) and is destroyed with its tokens and buffers.

#include "mcu/parameters.h"
#include "mcu/sequence.h"
#include "platform/overlapped.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace mcu {

struct CCommand {
    CCommand(std::string name, TokenList parameters);
    virtual ~CCommand();
    CCommand(const CCommand &) = delete;
    CCommand &operator=(const CCommand &) = delete;

    // Reads the parameters and binds the device handle.
    virtual bool Parse();
    // Starts the driver request. True when the request was started: it then
    // finishes through the completion record, possibly already has.
    virtual bool Execute() = 0;
    // Prints the outcome of the finished request.
    virtual void Complete(std::uint32_t status, std::uint32_t information);
    // Cancels the pending request; false without a device handle.
    virtual bool Cancel();

    std::string name;          // keyword as the command table spells it
    TokenList parameters;      // tokens after the keyword, consumed by Parse
    platform::Device *device = nullptr; // the connection's, not owned
    platform::Overlapped overlapped;
    std::string tag;           // always empty
    ByteBuffer data;           // bytes to write, or the receive buffer

protected:
    void BindDevice();
    // False, with the invalid-handle error, without a device; otherwise
    // resets the completion event for the new request.
    bool BeginRequest();
    // The common start of a request: finished at once or pending.
    bool StartIoControl(std::uint32_t code, const void *in, std::uint32_t inLength, void *out,
                        std::uint32_t outLength);
    // The same with the whole of `in` sent and the whole of `out` to receive.
    bool StartIoControl(std::uint32_t code, const ByteBuffer &in, ByteBuffer &out);
    // Records a request that did not go pending and signals its event.
    bool RecordStarted(bool finished, std::uint32_t transferred);
    void RecordStatus(std::uint32_t status, std::uint32_t information);
    // Prints "Error <last error>" when the request failed; true when it did.
    bool PrintedFailure(std::uint32_t status) const;
};

// Commands whose request carries no data (close, the locks, signal): they
// differ only in the control code and the line printed when it succeeds.
struct CNoDataCommand : CCommand {
    CNoDataCommand(std::string name, TokenList parameters, std::uint32_t code,
                   const char *doneText);
    bool Execute() override;
    void Complete(std::uint32_t status, std::uint32_t information) override;

private:
    std::uint32_t code_;
    const char *doneText_;
};

// Commands that take one optional index; "open x" still means index 0.
struct CIndexCommand : CCommand {
    CIndexCommand(std::string name, TokenList parameters, std::uint32_t code);
    bool Parse() override;
    bool Execute() override;

    std::uint32_t index = 0;

private:
    std::uint32_t code_;
};

struct COpenCommand : CIndexCommand {
    COpenCommand(std::string name, TokenList parameters);
    void Complete(std::uint32_t status, std::uint32_t information) override;
};

// intenable and intdisable; the enabled set follows what succeeded.
struct CInterruptCommand : CIndexCommand {
    CInterruptCommand(std::string name, TokenList parameters, bool enable);
    void Complete(std::uint32_t status, std::uint32_t information) override;

private:
    bool enable_;
};

struct CReadCommand : CCommand {
    using CCommand::CCommand;
    bool Parse() override;
    bool Execute() override;
    void Complete(std::uint32_t status, std::uint32_t information) override;
};

// The only command with a time-out: a write still pending after 500 ms is
// cancelled and reported as failed.
struct CWriteCommand : CCommand {
    using CCommand::CCommand;
    bool Parse() override;
    bool Execute() override;
    void Complete(std::uint32_t status, std::uint32_t information) override;

    static constexpr int kTimeoutMs = 500;

private:
    std::unique_ptr<platform::Event> ownEvent_;
};

struct CWriteReadCommand : CCommand {
    using CCommand::CCommand;
    bool Parse() override;
    bool Execute() override;
    void Complete(std::uint32_t status, std::uint32_t information) override;

    ByteBuffer writeBuffer; // sent first; data receives
};

struct CSequenceCommand : CCommand {
    using CCommand::CCommand;
    bool Parse() override;
    bool Execute() override;
    void Complete(std::uint32_t status, std::uint32_t information) override;

    std::vector<SequenceEntry> entries;
    ByteBuffer inputBuffer; // descriptor, then write data; data receives
};

struct CGpioCommand : CCommand {
    using CCommand::CCommand;
    bool Parse() override;
    bool Execute() override;
    void Complete(std::uint32_t status, std::uint32_t information) override;

    std::uint32_t index = 0;
    std::uint32_t value = 0;
    bool setsLine = false; // else reads it; data holds the 8-byte block
};

struct COnPdInterruptCommand : CCommand {
    using CCommand::CCommand;
    bool Parse() override;
    bool Execute() override;
    void Complete(std::uint32_t status, std::uint32_t information) override;
};

// Builds the command a token list names, after its Parse succeeded; prints
// help, waits or reports the problem and returns null otherwise.
std::unique_ptr<CCommand> ParseCommand(TokenList tokens);

// The keyword a token list starts with, after any tag, in lower case; empty
// when there is none.
std::string CommandKeyword(const TokenList &tokens);

// The command list "help" prints.
const std::string &HelpText();

} // namespace mcu
