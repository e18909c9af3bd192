#include "ui/backend_trace.h"

namespace ui {

void BackendTrace::Open(const char* path) {
  if (path && *path) file = std::fopen(path, "ab");
}

void BackendTrace::Close() {
  if (file) std::fclose(file);
  file = nullptr;
}

void BackendTrace::Line(const std::string& fields, const std::string* text) {
  if (!file) return;
  std::string line = fields;
  if (text) {
    line += ' ';
    for (char c : *text) {
      if (c == '\\') {
        line += "\\\\";
      } else if (c == '\t') {
        line += "\\t";
      } else if (c == '\n') {
        line += "\\n";
      } else {
        line += c;
      }
    }
  }
  line += '\n';
  std::fputs(line.c_str(), file);
  std::fflush(file);
}

BackendTrace& TheTrace() {
  static BackendTrace trace;
  return trace;
}

std::string Fields(std::initializer_list<long> numbers, const char* head) {
  std::string out = head;
  for (long n : numbers) out += ' ' + std::to_string(n);
  return out;
}

}  // namespace ui
