#pragma once
// The trace a window backend writes for tests that drive its windows from outside
// (BSPLIFT_UI_TRACE): one line for each thing shown, numbers first, a text last.
#include <cstdio>
#include <initializer_list>
#include <string>

namespace ui {

class BackendTrace {
 public:
  // Appends to the file at `path`; null or empty: no trace.
  void Open(const char* path);
  void Close();
  bool On() const { return file != nullptr; }
  // Fields are separated by spaces; a text goes last, with backslashes, tabs and newlines escaped.
  // Lines end in "\n" on every system, so that one reader serves all.
  void Line(const std::string& fields, const std::string* text = nullptr);

 private:
  std::FILE* file = nullptr;
};

// The one trace of the process.
BackendTrace& TheTrace();

// "head n1 n2 ...".
std::string Fields(std::initializer_list<long> numbers, const char* head);

}  // namespace ui
