#pragma once
// The real operating system behind the platform seam, whichever this build runs on: `os::` names
// the POSIX layer or the Win32 one, with the same RealClock, RealNetwork, RealFiles and FileSystem.
#ifdef _WIN32
#include "platform/win32/real.h"
namespace platform {
namespace os = win32;
}
#else
#include "platform/posix/real.h"
namespace platform {
namespace os = posix;
}
#endif
