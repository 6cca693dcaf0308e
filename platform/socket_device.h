#pragma once
// A device served by a user-space endpoint on a Unix-domain socket.

#include "platform/overlapped.h"

#include <memory>
#include <string>

namespace platform {

// Connects to the endpoint at socketPath and waits for its greeting.
// *served is false when nobody listens there (no socket, or a stale one left
// by a process that died), so that name resolution can go on. When the
// endpoint answers but refuses (another client is connected: 32), or talks
// nonsense (31), *served is true and the error is final.
std::unique_ptr<Device> connectEndpoint(const std::string &socketPath, std::uint32_t *error,
                                        bool *served);

} // namespace platform
