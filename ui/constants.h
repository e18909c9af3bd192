#pragma once
// The numbers the dialogs have always used, with their Windows names and values, so that results,
// message-box styles and keys read as they did in the original program.
#include <cstdint>

namespace ui {

// Dialog results and message-box answers.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Message-box styles: the low four bits choose the buttons, the next four the icon.
constexpr uint32_t MB_OK = 0x0;
constexpr uint32_t MB_YESNO = 0x4;
constexpr uint32_t MB_TYPEMASK = 0xF;
constexpr uint32_t MB_ICONHAND = 0x10;

// Virtual-key codes.
constexpr uint32_t VK_RETURN = 0x0D;
constexpr uint32_t VK_ESCAPE = 0x1B;
constexpr uint32_t VK_F1 = 0x70;
constexpr uint32_t VK_F2 = 0x71;
constexpr uint32_t VK_F3 = 0x72;
constexpr uint32_t VK_F4 = 0x73;
constexpr uint32_t VK_F5 = 0x74;
constexpr uint32_t VK_F6 = 0x75;
constexpr uint32_t VK_F7 = 0x76;
constexpr uint32_t VK_F8 = 0x77;
constexpr uint32_t VK_F9 = 0x78;
constexpr uint32_t VK_F10 = 0x79;
constexpr uint32_t VK_F11 = 0x7A;
constexpr uint32_t VK_F12 = 0x7B;

// List-box error results.
constexpr int LB_ERR = -1;
constexpr int LB_ERRSPACE = -2;

}  // namespace ui
