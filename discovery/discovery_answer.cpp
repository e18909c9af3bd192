#include "discovery/discovery_answer.h"

#include <cstring>

std::string AnswerText(const uint8_t* answer, int offset) {
  const char* start = reinterpret_cast<const char*>(answer + offset);
  return std::string(start, strnlen(start, size_t(kAnswerBytes - offset)));
}

uint32_t AnswerAddress(const uint8_t* answer) {
  uint32_t address;
  std::memcpy(&address, answer + kAnswerAddressOffset, sizeof address);
  return address;
}

uint16_t AnswerPort(const uint8_t* answer) {
  return uint16_t(answer[kAnswerPortOffset] | answer[kAnswerPortOffset + 1] << 8);
}
