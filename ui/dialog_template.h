#pragma once
// The layout of a dialog, as its resource template describes it: positions and sizes in dialog units
// (a quarter of the font's average character width across, an eighth of its height down).
#include <cstdint>
#include <string>
#include <vector>

namespace ui {

enum class ControlKind { GroupBox, ListBox, PushButton, Static, ProgressBar };

// Style bits of a control; a backend shows them, the model honours the ones that change behaviour
// (kDefaultButton: Enter; kSorted: insertion order; kNotify: selection-change messages; kDisabled:
// the initial enabled state).
constexpr uint32_t kDefaultButton = 1u << 0;
constexpr uint32_t kSorted = 1u << 1;
constexpr uint32_t kUseTabStops = 1u << 2;
constexpr uint32_t kNotify = 1u << 3;
constexpr uint32_t kVScroll = 1u << 4;
constexpr uint32_t kDisabled = 1u << 5;

// The id of static texts and group boxes, which nobody addresses.
constexpr int kStaticId = -1;

struct ControlTemplate {
  int id = kStaticId;
  ControlKind kind = ControlKind::Static;
  std::string text;
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  uint32_t style = 0;
};

struct DialogTemplate {
  int id = 0;
  std::string caption;
  std::string font;
  int pointSize = 0;
  int width = 0;
  int height = 0;
  bool appWindow = false;  // shown in the task bar as an application's window
  std::vector<ControlTemplate> controls;  // in creation (and tab) order
};

}  // namespace ui
