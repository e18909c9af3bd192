#pragma once
// <windows.h> for the Win32 layers (platform and windows), without the macros that would rename the platform's own
// functions (CopyFile, GetFileAttributes, ... become CopyFileA) or clash with std::min/max. Inside
// namespace platform an unqualified Sleep or ReadFile is the platform's: the API is always called
// with :: and its A or W name.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// WaitAny watches every socket a process has open (one per controller being upgraded, the
// listeners of a simulated site): more than Winsock's default of 64.
#define FD_SETSIZE 1024
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>

// The platform's and the dialog framework's own names, which Windows spells the same way (with the
// same values, for the constants).
#undef CopyFile
#undef GetFileAttributes
#undef SetFileAttributes
#undef GetCurrentDirectory
#undef SetCurrentDirectory
#undef MessageBox
#undef PostMessage
#undef SetWindowText
#undef GetWindowText
#undef IDOK
#undef IDCANCEL
#undef IDYES
#undef IDNO
#undef MB_OK
#undef MB_YESNO
#undef MB_TYPEMASK
#undef MB_ICONHAND
#undef VK_RETURN
#undef VK_ESCAPE
#undef VK_F1
#undef VK_F2
#undef VK_F3
#undef VK_F4
#undef VK_F5
#undef VK_F6
#undef VK_F7
#undef VK_F8
#undef VK_F9
#undef VK_F10
#undef VK_F11
#undef VK_F12
#undef LB_ERR
#undef LB_ERRSPACE
