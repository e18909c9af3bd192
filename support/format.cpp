#include "support/format.h"

#include <cstdarg>
#include <cstdio>

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list measure;
  va_copy(measure, args);
  int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  std::string text;
  if (length > 0) {
    text.resize(size_t(length));
    // The terminating zero goes into the string's own spare character.
    std::vsnprintf(text.data(), size_t(length) + 1, format, args);
  }
  va_end(args);
  return text;
}
