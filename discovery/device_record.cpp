#include "discovery/device_record.h"

#include "discovery/discovery_answer.h"
#include "platform/clock.h"

DeviceRecord::DeviceRecord(const uint8_t* answer, uint32_t address)
    : name(AnswerText(answer, kAnswerNameOffset)),
      macText(AnswerText(answer, kAnswerMacOffset)),
      extraText(AnswerText(answer, kAnswerExtraOffset)),
      address(address),
      port(AnswerPort(answer)),
      type(answer[kAnswerTypeOffset]),
      subtype(answer[kAnswerSubtypeOffset]),
      lastHeard(platform::GetTickCount()) {}

DeviceRecord::DeviceRecord(const DeviceRecord& other)
    : name(other.name),
      macText(other.macText),
      extraText(other.extraText),
      address(other.address),
      port(other.port),
      type(other.type),
      subtype(other.subtype),
      lastHeard(platform::GetTickCount()) {}

int DeviceRecord::IsFullController() const {
  switch (type) {
    case 1:
    case 6:
    case 7:
    case 8:
    case 9:
    case 100:
      return 1;
    default:
      return 0;
  }
}

int DeviceRecord::IsWinCE() const { return type == 6 || type == 7; }

int DeviceRecord::IsLinux() const { return type == 8 || type == 9; }
