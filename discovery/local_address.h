#pragma once
// The choice of local addresses to discover from: at most one per adapter class, the first
// adapter of the class deciding.
#include <cstdint>

// Adapter classes: an adapter whose description begins with "ASIX" (case matters) is of class 1,
// every other one of class 0.
inline constexpr int kOtherAdapterClass = 0;
inline constexpr int kAsixAdapterClass = 1;

// The number of entries of the local IPv4 address table (loopback included), or 0 when it cannot
// be read.
int CountLocalAddresses();

// Picks an address of the first adapter of `adapterClass`: the first entry whose address is not
// 0.0.0.0 and lies outside the subnet of the value derived from the adapter's hardware address,
// or else its last entry. 1 with *mask and *address (network order) filled, and the adapter's six
// hardware-address bytes in hardwareAddress when that is not null; 0 when there is no adapter of
// the class, the first one lists no address, or the adapter list cannot be read.
int ChooseLocalAddress(int adapterClass, uint32_t* mask, uint32_t* address, uint8_t* hardwareAddress = nullptr);
