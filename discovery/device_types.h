#pragma once
// What the system type and subtype codes of a controller are called, which of them the device list
// never shows, what each "Show Only:" entry lets through, and how one line of the list is written.
#include <cstdint>
#include <string>

// The "Show Only:" entries, in the order of their indexes.
inline constexpr const char* kFilterEntries[] = {"ALL", "R5", "VARDO ZRT", "PD10", "PD2", "SONMARK ZRT"};
inline constexpr int kNoFilter = -1;

// The model shown in the last column of a device line ("PD2 (Extender)", "R5", "Unknown").
std::string GetModelName(uint8_t type, uint8_t subtype);

// The name the upgrade dialog logs as the system type ("Full Gateway (Corvane)").
std::string GetSystemTypeName(uint8_t type, uint8_t subtype);

// 1 for the subtypes that are never listed, whatever the type: 4, 6, 8, 12 and those plus 16.
int IsHiddenSubtype(uint8_t subtype);

// 1 when an answer of this type and subtype passes the filter entry at `filterIndex`
// (kNoFilter: none selected, which lets everything through).
int PassesFilter(int filterIndex, uint8_t type, uint8_t subtype);

// The device-list line of a 180-byte answer: MAC, address and model separated by tabs, with the
// type and subtype codes in front in the diagnostic view.
std::string FormatDeviceLine(const uint8_t* answer, int diagnosticView);
