#pragma once
// The process-wide driver connection that card operations open, use and
// close, and the two entry points that run one command text on it.

#include <QByteArray>

#include <cstdint>

namespace mcu {

enum class OpenResult {
    Opened,          // commands can be sent
    DeviceFailed,    // "Error opening peripheral driver - %d" was printed
    EventsFailed,    // "error creating I/O event - %d" was printed
};

// devicePath null or empty opens the fallback "\\.\SPB_".
OpenResult OpenDriverConnection(const char *devicePath);
void CloseDriverConnection();

// Status of one command text: 0 on success, else a Windows error code.
std::uint32_t RunCommand(const char *commandText);
// The bytes the command transferred; empty when it produced no request.
QByteArray RunReadCommand(const char *commandText);

} // namespace mcu
