#pragma once
// Command codes of the remote protocol and the waits that go with them. An answer carries the
// request's code plus one and the request's sink id.
#include <cstdint>

// The sink id that addresses every registered sink; never handed out to a sink.
inline constexpr int16_t kAllSinks = 0x7FFF;

inline constexpr int16_t kCodeGetChallenge = 14;
inline constexpr int16_t kCodeLogin = 27;
inline constexpr int16_t kCodeSystemInfo = 8120;
inline constexpr int16_t kCodeShellCommand = 8376;
inline constexpr int16_t kCodeFileChunk = 14000;
inline constexpr int16_t kCodeFileCompare = 14030;
inline constexpr int16_t kCodeFileAnnounce = 14032;

inline constexpr uint32_t kDefaultQueryTimeoutMs = 30000;
inline constexpr uint32_t kLoginTimeoutMs = 10000;
