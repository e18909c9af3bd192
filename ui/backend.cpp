#include "ui/backend.h"

namespace ui {
namespace {

Backend*& Installed() {
  static Backend* installed = nullptr;
  return installed;
}

}  // namespace

Backend* SetBackend(Backend* backend) {
  Backend* previous = Installed();
  Installed() = backend;
  return previous;
}

Backend* CurrentBackend() { return Installed(); }

int MessageBox(const std::string& text, uint32_t style) {
  Backend* backend = CurrentBackend();
  return backend ? backend->ShowMessageBox(text, style) : 0;
}

}  // namespace ui
