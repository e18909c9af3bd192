#include "discovery/device_types.h"

#include "discovery/discovery_answer.h"
#include "support/format.h"

namespace {

// Subtypes of types 1 and 8; an extender is its base model's subtype plus 16.
std::string PanelModelName(uint8_t subtype) {
  switch (subtype) {
    case 2:
      return "PD2";
    case 10:
      return "PD10";
    case 18:
      return "PD2 (Extender)";
    case 26:
      return "PD10 (Extender)";
    case 32:
      return "Vardo ZRT";
    case 48:
      return "Vardo ZRT (Extender)";
    case 64:
      return "Sonmark ZRT";
    case 80:
      return "Sonmark ZRT (Extender)";
    default:
      return "Unknown";
  }
}

std::string EdgeControllerName(uint8_t subtype) {
  switch (subtype) {
    case 1:
      return "Limbet - LIGHTING";
    case 4:
      return "Limbet - HVAC";
    case 7:
      return "Limbet - IRRIGATION";
    case 12:
      return "Limbet - POOL";
    default:
      return "Unknown";
  }
}

std::string WinCeX86Name(uint8_t subtype) {
  switch (subtype) {
    case 4:
      return "KX4 (WinCE X86C)";
    case 6:
      return "KX6 (WinCE X86C)";
    case 8:
      return "KX8 (WinCE X86C)";
    case 12:
      return "KX12 (WinCE X86C)";
    default:
      return "Unknown";
  }
}

std::string LinuxPanelName(uint8_t subtype) {
  switch (subtype) {
    case 2:
      return "PD2 (Linux i.MX53)";
    case 10:
      return "PD10 (Linux i.MX53)";
    case 32:
    case 64:
      return "ZRT (Linux i.MX53)";
    default:
      return "PDx (Linux i.MX53)";
  }
}

}  // namespace

std::string GetModelName(uint8_t type, uint8_t subtype) {
  switch (type) {
    case 1:
    case 8:
      return PanelModelName(subtype);
    case 9:
      return subtype == 16 ? "R5 (Extender)" : "R5";
    default:
      return "Unknown";
  }
}

std::string GetSystemTypeName(uint8_t type, uint8_t subtype) {
  switch (type) {
    case 1:
      return "Full Gateway (Corvane)";
    case 2:
    case 3:
      return EdgeControllerName(subtype);
    case 4:
      return "Thermora System Controller";
    case 5:
      return "Limbet - PASSTHROUGH";
    case 6:
      return WinCeX86Name(subtype);
    case 7:
      return "Plurock (WinCE ARMV4IA)";
    case 8:
      return LinuxPanelName(subtype);
    case 9:
      return "r5 i.MX6";
    case 100:
      return "LOCALMACHINE";
    default:
      return "Unknown";
  }
}

int IsHiddenSubtype(uint8_t subtype) {
  switch (subtype) {
    case 4:
    case 6:
    case 8:
    case 12:
    case 20:
    case 22:
    case 24:
    case 28:
      return 1;
    default:
      return 0;
  }
}

int PassesFilter(int filterIndex, uint8_t type, uint8_t subtype) {
  switch (filterIndex) {
    case 1:
      return type == 9;
    case 2:
      return subtype == 32 || subtype == 48;
    case 3:
      return subtype == 10 || subtype == 26;
    case 4:
      return subtype == 2 || subtype == 18;
    case 5:
      return subtype == 64 || subtype == 80;
    default:  // "ALL", or nothing selected
      return 1;
  }
}

std::string FormatDeviceLine(const uint8_t* answer, int diagnosticView) {
  const uint8_t* m = answer + kAnswerMacOffset;
  // Only the first 12 characters of the MAC text are shown, however far the text runs on.
  std::string mac = Format("%c%c:%c%c:%c%c:%c%c:%c%c:%c%c", m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8],
                           m[9], m[10], m[11]);
  const uint8_t* a = answer + kAnswerAddressOffset;
  std::string address = Format("%d.%d.%d.%d", a[0], a[1], a[2], a[3]);
  uint8_t type = answer[kAnswerTypeOffset];
  uint8_t subtype = answer[kAnswerSubtypeOffset];
  std::string model = GetModelName(type, subtype);
  if (!diagnosticView) return Format("%17s\t%15s\t%s", mac.c_str(), address.c_str(), model.c_str());
  std::string codes = Format("Type: 0x%02X SubType: 0x%02X", type, subtype);
  return Format("%s\t%17s\t%15s\t%s", codes.c_str(), mac.c_str(), address.c_str(), model.c_str());
}
