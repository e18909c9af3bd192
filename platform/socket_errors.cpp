#include <cerrno>

#include "platform/socket.h"

// The simulated LAN reports the same errno values as the real sockets, so one mapping serves both.
namespace platform {

bool IsAddressInUseError(int error) { return error == EADDRINUSE; }
bool IsPermissionError(int error) { return error == EACCES || error == EPERM; }

}  // namespace platform
