#pragma once
// What commands see of the process-wide driver connection.

#include "platform/overlapped.h"

#include <cstdint>
#include <set>

namespace mcu {

// The open connection's device, or null; commands copy it when parsed.
platform::Device *ConnectionDevice();
// The connection's manual-reset I/O event, or null.
platform::Event *ConnectionIoEvent();
// Interrupts turned on by "intenable" and not yet off again. It outlives
// connections; closing a connection turns each off on the device.
std::set<std::uint32_t> &EnabledInterrupts();

} // namespace mcu
