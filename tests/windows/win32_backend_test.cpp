// The native window backend in-process, on the desktop the test runs on: dialogs really appear
// with the controls their templates name, follow the model, and turn a person's input into the
// framework's messages (each exactly once, and only through the framework's queue); message boxes
// keep the framework's timers running; waiting inside a step paints and does nothing else.
//
// Input is given the way the desktop delivers it to the thread: mouse and key messages posted to
// the window under the pointer or with the focus, so that the backend's own loop has to take them.
#include "platform/win32/windows_api.h"
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "ui/dialog.h"
#include "ui/message.h"
#include "ui/win32/win32_windows.h"

namespace {

using ui::ControlKind;

constexpr int kList = 9;
constexpr int kPlainList = 11;
constexpr int kBar = 7;
constexpr int kFive = 5;

// Each dialog steps through its script on a timer; a dialog that nobody ends would hang the test,
// so a watchdog timer ends it after a while.
constexpr int kStepTimer = 1;
constexpr uint32_t kStepMs = 30;
constexpr int kWatchdogTimer = 99;
constexpr uint32_t kWatchdogMs = 15000;
constexpr int kWatchdogResult = -99;

std::string tracePath;

// The framework's texts are UTF-8.
std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
  std::wstring out(size_t(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), out.data(), length);
  return out;
}

std::wstring TextOf(HWND window) {
  wchar_t text[512] = {};
  ::GetWindowTextW(window, text, 512);
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[128] = {};
  ::GetClassNameW(window, name, 128);
  return name;
}

std::vector<std::wstring> NativeLines(HWND list) {
  std::vector<std::wstring> lines;
  int count = int(::SendMessageW(list, LB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    std::wstring line(size_t(::SendMessageW(list, LB_GETTEXTLEN, WPARAM(i), 0)) + 1, L'\0');
    line.resize(size_t(::SendMessageW(list, LB_GETTEXT, WPARAM(i), LPARAM(line.data()))));
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::wstring> ModelLines(const ui::ListBox& list) {
  std::vector<std::wstring> lines;
  for (int i = 0; i < list.GetCount(); ++i) lines.push_back(Wide(list.GetText(i)));
  return lines;
}

HWND DialogWindow(const std::string& caption) { return ::FindWindowW(L"#32770", Wide(caption).c_str()); }

// A rectangle of a child in its dialog's client coordinates.
RECT ClientRectOf(HWND child) {
  RECT r;
  ::GetWindowRect(child, &r);
  ::MapWindowPoints(nullptr, ::GetParent(child), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

POINT CentreOf(HWND window) {
  RECT r;
  ::GetWindowRect(window, &r);
  return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

// A person's click: the button goes down and up over the point, in client coordinates.
void PostClick(HWND window, int x, int y) {
  ::PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
  ::PostMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

// A person's key press, to the window with the focus.
void PostKey(uint32_t key) {
  HWND focus = ::GetFocus();
  ::PostMessageW(focus, WM_KEYDOWN, WPARAM(key), 1);
  ::PostMessageW(focus, WM_KEYUP, WPARAM(key), LPARAM(0xC0000001u));
}

// Lists first, then the buttons (OK is the default one), then a bar and a label; Tab order is
// template order.
ui::DialogTemplate InputLayout(const char* caption) {
  ui::DialogTemplate layout;
  layout.id = 700;
  layout.caption = caption;
  layout.font = "MS Shell Dlg";
  layout.pointSize = 8;
  layout.width = 220;
  layout.height = 120;
  layout.appWindow = true;
  layout.controls = {
      {kList, ControlKind::ListBox, "", 7, 7, 100, 60, ui::kSorted | ui::kNotify | ui::kVScroll},
      {kPlainList, ControlKind::ListBox, "", 113, 7, 100, 60, 0},
      {ui::IDOK, ControlKind::PushButton, "OK", 163, 98, 50, 14, ui::kDefaultButton},
      {kFive, ControlKind::PushButton, "Five", 107, 98, 50, 14, 0},
      {ui::IDCANCEL, ControlKind::PushButton, "Cancel", 51, 98, 50, 14, 0},
      {kBar, ControlKind::ProgressBar, "", 7, 74, 206, 10, 0},
      {ui::kStaticId, ControlKind::Static, "Label", 7, 88, 40, 8, 0},
  };
  return layout;
}

// A dialog that runs `step` on each tick of its step timer and records what reaches it. Commands
// end nothing: the script ends the dialog.
class ScriptedDialog : public ui::Dialog {
 public:
  explicit ScriptedDialog(const ui::DialogTemplate& layout, ui::Dialog* parent = nullptr)
      : ui::Dialog(layout, parent) {}

  int OnInitDialog() override {
    SetTimer(kStepTimer, kStepMs);
    SetTimer(kWatchdogTimer, kWatchdogMs);
    return 1;
  }
  void OnTimer(int id) override {
    if (id == kWatchdogTimer) {
      ADD_FAILURE() << "the dialog \"" << GetWindowText() << "\" was ended by the watchdog";
      return EndDialog(kWatchdogResult);
    }
    ++ticks;
    if (step) step(ticks);
  }
  int PreTranslateMessage(const ui::Message& message) override {
    if (message.kind == ui::MessageKind::KeyDown) {
      keys.push_back(message.key);
      focusAtKey.push_back(GetFocusId());
    }
    return ui::Dialog::PreTranslateMessage(message);
  }
  void OnCommand(int id) override {
    commands.push_back(id);
    if (onCommand) onCommand(id);
  }
  void OnSelChange(int id) override { selChanges.push_back(id); }

  HWND Window() const { return DialogWindow(GetWindowText()); }

  std::function<void(int tick)> step;
  std::function<void(int id)> onCommand;
  int ticks = 0;
  std::vector<int> commands;
  std::vector<int> selChanges;
  std::vector<uint32_t> keys;
  std::vector<int> focusAtKey;  // the model's focus when each key-down was dispatched
};

// ---- what the windows show ----------------------------------------------------------------------

ui::DialogTemplate ShownLayout() {
  ui::DialogTemplate layout;
  layout.id = 701;
  layout.caption = "shown";
  layout.font = "MS Shell Dlg";
  layout.pointSize = 8;
  layout.width = 200;
  layout.height = 110;
  layout.appWindow = true;
  layout.controls = {
      {ui::kStaticId, ControlKind::GroupBox, "Devices", 4, 2, 192, 70, 0},
      {kList, ControlKind::ListBox, "", 8, 12, 184, 56, ui::kSorted | ui::kNotify | ui::kVScroll | ui::kUseTabStops},
      {ui::kStaticId, ControlKind::Static, "Progress", 8, 77, 40, 8, 0},
      {kBar, ControlKind::ProgressBar, "", 50, 76, 146, 10, 0},
      {ui::IDOK, ControlKind::PushButton, "OK", 146, 92, 50, 14, ui::kDefaultButton},
      {kFive, ControlKind::PushButton, "Five", 90, 92, 50, 14, ui::kDisabled},
  };
  return layout;
}

struct ExpectedControl {
  const wchar_t* className;
  DWORD styleType;  // the low style bits that name the kind of button or static
  DWORD styleMask;
  DWORD present;    // bits that must be set
  DWORD absent;     // bits that must be clear
  const wchar_t* text;
  bool enabled;
};

TEST(Win32Backend, ADialogAppearsWithTheTemplatesControlsInDialogUnitsAndTheModelsState) {
  ScriptedDialog dialog(ShownLayout());
  // The model before the window exists: the window starts from it, not from the template.
  dialog.GetListBox(kList)->AddString("beta");
  dialog.GetListBox(kList)->AddString("Alpha");
  dialog.GetListBox(kList)->SetCurSel(1);
  dialog.GetProgressBar(kBar)->SetRange(10, 50);
  dialog.GetProgressBar(kBar)->SetPos(30);
  dialog.GetButton(ui::IDOK)->SetWindowText("Start");

  const std::vector<ExpectedControl> expected = {
      {L"Button", BS_GROUPBOX, BS_TYPEMASK, 0, 0, L"Devices", true},
      {L"ListBox", 0, 0, LBS_NOTIFY | LBS_USETABSTOPS | WS_TABSTOP, LBS_SORT, L"", true},
      {L"Static", SS_LEFT, SS_TYPEMASK, 0, 0, L"Progress", true},
      {L"msctls_progress32", 0, 0, 0, 0, L"", true},
      {L"Button", BS_DEFPUSHBUTTON, BS_TYPEMASK, WS_TABSTOP, 0, L"Start", true},
      {L"Button", BS_PUSHBUTTON, BS_TYPEMASK, WS_TABSTOP, 0, L"Five", false},
  };
  HWND shown = nullptr;
  dialog.step = [&](int) {
    shown = dialog.Window();
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(TextOf(shown), L"shown");
    LONG_PTR style = ::GetWindowLongPtrW(shown, GWL_STYLE);
    EXPECT_EQ(style & (WS_POPUP | WS_CAPTION | WS_SYSMENU), WS_POPUP | WS_CAPTION | WS_SYSMENU);
    EXPECT_TRUE(::GetWindowLongPtrW(shown, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    EXPECT_TRUE(::IsWindowVisible(shown));

    // The template's font, at its point size.
    LOGFONTW font{};
    ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(shown, WM_GETFONT, 0, 0)), sizeof(font), &font);
    EXPECT_EQ(std::wstring(font.lfFaceName), L"MS Shell Dlg");
    HDC screen = ::GetDC(nullptr);
    EXPECT_EQ(font.lfHeight, -::MulDiv(8, ::GetDeviceCaps(screen, LOGPIXELSY), 72));
    ::ReleaseDC(nullptr, screen);

    // Alone, an application window sits in the middle of the work area.
    RECT area;
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    POINT centre = CentreOf(shown);
    EXPECT_NEAR(centre.x, (area.left + area.right) / 2, 1);
    EXPECT_NEAR(centre.y, (area.top + area.bottom) / 2, 1);

    // The controls in template order, each where the template puts it in dialog units.
    HWND child = ::GetWindow(shown, GW_CHILD);
    for (size_t i = 0; i < expected.size(); ++i, child = ::GetWindow(child, GW_HWNDNEXT)) {
      SCOPED_TRACE("control " + std::to_string(i));
      ASSERT_NE(child, nullptr);
      const ui::ControlTemplate& item = dialog.Layout().controls[i];
      EXPECT_EQ(WORD(::GetDlgCtrlID(child)), WORD(item.id));
      EXPECT_EQ(::lstrcmpiW(ClassOf(child).c_str(), expected[i].className), 0) << "class " << ClassOf(child).size();
      DWORD childStyle = DWORD(::GetWindowLongPtrW(child, GWL_STYLE));
      EXPECT_EQ(childStyle & expected[i].styleMask, expected[i].styleType);
      EXPECT_EQ(childStyle & expected[i].present, expected[i].present);
      EXPECT_EQ(childStyle & expected[i].absent, 0u);
      EXPECT_TRUE(TextOf(child) == expected[i].text);
      EXPECT_EQ(bool(::IsWindowEnabled(child)), expected[i].enabled);
      // Position and size convert separately, each rounded, as the dialog manager does it.
      RECT at{item.x, item.y, 0, 0};
      RECT size{0, 0, item.width, item.height};
      ::MapDialogRect(shown, &at);
      ::MapDialogRect(shown, &size);
      RECT got = ClientRectOf(child);
      EXPECT_EQ(got.left, at.left);
      EXPECT_EQ(got.top, at.top);
      EXPECT_EQ(got.right - got.left, size.right);
      if (item.kind == ControlKind::ListBox) {
        // A list box shows whole lines only: it is cut to the last line that fits.
        int row = int(::SendMessageW(child, LB_GETITEMHEIGHT, 0, 0));
        EXPECT_LE(got.bottom - got.top, size.bottom);
        EXPECT_GT(got.bottom - got.top, size.bottom - row);
      } else {
        EXPECT_EQ(got.bottom - got.top, size.bottom);
      }
    }
    EXPECT_EQ(child, nullptr) << "more children than controls";

    HWND list = ::GetDlgItem(shown, kList);
    EXPECT_EQ(NativeLines(list), (std::vector<std::wstring>{L"Alpha", L"beta"}));
    EXPECT_EQ(::SendMessageW(list, LB_GETCURSEL, 0, 0), 1);
    HWND bar = ::GetDlgItem(shown, kBar);
    EXPECT_EQ(::SendMessageW(bar, PBM_GETRANGE, TRUE, 0), 10);
    EXPECT_EQ(::SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 50);
    EXPECT_EQ(::SendMessageW(bar, PBM_GETPOS, 0, 0), 30);
    // The scroll bar the template asks for shows once the lines outgrow the list.
    for (int i = 0; i < 30; ++i) dialog.GetListBox(kList)->AddString("line " + std::to_string(i));
    EXPECT_TRUE(::GetWindowLongPtrW(list, GWL_STYLE) & WS_VSCROLL);
    dialog.EndDialog(ui::IDOK);
  };
  EXPECT_EQ(dialog.DoModal(), ui::IDOK);
  EXPECT_FALSE(::IsWindow(shown)) << "the window outlived its dialog's run";
}

TEST(Win32Backend, TheWindowFollowsTheModelLineByLineAndTextsArriveAsUnicode) {
  ScriptedDialog dialog(ShownLayout());
  dialog.GetListBox(kList)->AddString("beta");
  dialog.GetListBox(kList)->AddString("delta");
  dialog.GetListBox(kList)->SetCurSel(1);

  struct ListStep {
    const char* what;
    std::function<void(ui::ListBox&)> change;
  };
  const std::vector<ListStep> listSteps = {
      {"a line sorted in before the selection", [](ui::ListBox& l) { l.AddString("Alpha"); }},
      {"a line sorted in after it", [](ui::ListBox& l) { l.AddString("Gamma"); }},
      {"a line with a tab and non-ASCII", [](ui::ListBox& l) { l.AddString("caf\xC3\xA9\t00:11"); }},
      {"a line before the selection deleted", [](ui::ListBox& l) { l.DeleteString(0); }},
      {"the program selects", [](ui::ListBox& l) { l.SetCurSel(3); }},
      {"the selected line deleted", [](ui::ListBox& l) { l.DeleteString(3); }},
      {"the program selects again", [](ui::ListBox& l) { l.SetCurSel(0); }},
      {"the selection cleared", [](ui::ListBox& l) { l.SetCurSel(-1); }},
      {"every line removed", [](ui::ListBox& l) { l.ResetContent(); }},
      {"lines after the reset", [](ui::ListBox& l) {
         l.AddString("one");
         l.AddString("Two");
         l.SetCurSel(1);
       }},
  };
  struct BarStep {
    int low, high, pos;  // set in this order; the model clamps
    int wantLow, wantHigh, wantPos;
  };
  const std::vector<BarStep> barSteps = {
      {0, 200, 150, 0, 200, 150},
      {0, 100, 150, 0, 100, 100},
      {20, 40, 0, 20, 40, 20},
  };
  struct TextStep {
    const char* what;
    std::string text;
    std::wstring shown;
  };
  const std::vector<TextStep> textSteps = {
      {"ASCII", "Upgrade", L"Upgrade"},
      {"UTF-8", "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC", L"Gr\u00FC\u00DFe \u20AC"},
      {"not UTF-8, taken as Latin-1", "\xE9t\xE9", L"\u00E9t\u00E9"},
  };

  dialog.step = [&](int) {
    HWND shown = dialog.Window();
    ASSERT_NE(shown, nullptr);
    ui::ListBox& list = *dialog.GetListBox(kList);
    HWND nativeList = ::GetDlgItem(shown, kList);
    for (const ListStep& step : listSteps) {
      SCOPED_TRACE(step.what);
      step.change(list);
      EXPECT_EQ(NativeLines(nativeList), ModelLines(list));
      EXPECT_EQ(int(::SendMessageW(nativeList, LB_GETCURSEL, 0, 0)), list.GetCurSel());
    }
    HWND bar = ::GetDlgItem(shown, kBar);
    for (const BarStep& step : barSteps) {
      SCOPED_TRACE("bar " + std::to_string(step.low) + ".." + std::to_string(step.high) + " at " + std::to_string(step.pos));
      dialog.GetProgressBar(kBar)->SetRange(step.low, step.high);
      dialog.GetProgressBar(kBar)->SetPos(step.pos);
      EXPECT_EQ(::SendMessageW(bar, PBM_GETRANGE, TRUE, 0), step.wantLow);
      EXPECT_EQ(::SendMessageW(bar, PBM_GETRANGE, FALSE, 0), step.wantHigh);
      EXPECT_EQ(::SendMessageW(bar, PBM_GETPOS, 0, 0), step.wantPos);
    }
    HWND ok = ::GetDlgItem(shown, ui::IDOK);
    HWND group = ::GetWindow(shown, GW_CHILD);  // statics share one id: the group box is the first child
    for (const TextStep& step : textSteps) {
      SCOPED_TRACE(step.what);
      dialog.GetButton(ui::IDOK)->SetWindowText(step.text);
      dialog.Controls()[0]->SetWindowText(step.text);
      EXPECT_TRUE(TextOf(ok) == step.shown);
      EXPECT_TRUE(TextOf(group) == step.shown);
    }
    dialog.GetButton(kFive)->EnableWindow(true);
    dialog.GetButton(ui::IDOK)->EnableWindow(false);
    EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(shown, kFive)));
    EXPECT_FALSE(::IsWindowEnabled(ok));
    // The caption last: the window is found by it.
    dialog.SetWindowText("\xC3\x9C" "bersicht");
    EXPECT_TRUE(TextOf(shown) == L"\u00DCbersicht");
    dialog.EndDialog(ui::IDOK);
  };
  EXPECT_EQ(dialog.DoModal(), ui::IDOK);
}

// A dialog opened over another is owned by it (its parent, else the active dialog) and keeps it
// disabled while it is up; an application window stands alone. The owner comes back afterwards.
TEST(Win32Backend, AChildDialogIsOwnedCentredAndModalOverItsOwnerWhichComesBackAfterwards) {
  struct Case {
    const char* what;
    bool withParent;
    bool appWindow;
    bool owned;
  };
  const std::vector<Case> cases = {
      {"over its parent", true, false, true},
      {"over the active dialog, without a parent", false, false, true},
      {"an application window stands alone", false, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ui::DialogTemplate parentLayout = InputLayout("owner");
    ScriptedDialog parent(parentLayout);
    HWND parentWindow = nullptr, childWindow = nullptr, ownerOfChild = nullptr;
    bool parentEnabledDuring = true, parentEnabledAfter = false, childAppWindow = false;
    POINT parentCentre{}, childCentre{};
    parent.step = [&](int tick) {
      if (tick != 1) return;
      parentWindow = parent.Window();
      ui::DialogTemplate childLayout = InputLayout("owned");
      childLayout.width = 120;
      childLayout.height = 80;
      childLayout.controls.resize(1);
      childLayout.appWindow = c.appWindow;
      ScriptedDialog child(childLayout, c.withParent ? &parent : nullptr);
      child.step = [&](int) {
        childWindow = child.Window();
        ownerOfChild = ::GetWindow(childWindow, GW_OWNER);
        parentEnabledDuring = ::IsWindowEnabled(parentWindow);
        childAppWindow = ::GetWindowLongPtrW(childWindow, GWL_EXSTYLE) & WS_EX_APPWINDOW;
        parentCentre = CentreOf(parentWindow);
        childCentre = CentreOf(childWindow);
        child.EndDialog(ui::IDOK);
      };
      EXPECT_EQ(child.DoModal(), ui::IDOK);
      parentEnabledAfter = ::IsWindowEnabled(parentWindow);
      parent.EndDialog(ui::IDOK);
    };
    EXPECT_EQ(parent.DoModal(), ui::IDOK);
    ASSERT_NE(childWindow, nullptr);
    EXPECT_EQ(ownerOfChild, c.owned ? parentWindow : nullptr);
    EXPECT_EQ(parentEnabledDuring, !c.owned);
    EXPECT_TRUE(parentEnabledAfter);
    EXPECT_EQ(childAppWindow, c.appWindow);
    EXPECT_FALSE(::IsWindow(childWindow));
    if (c.owned) {
      EXPECT_NEAR(childCentre.x, parentCentre.x, 1);
      EXPECT_NEAR(childCentre.y, parentCentre.y, 1);
    }
  }
}

// ---- input --------------------------------------------------------------------------------------

TEST(Win32Backend, ClicksAndSelectionsBecomeTheFrameworksMessagesOnceAndOnlyThroughItsQueue) {
  struct Case {
    const char* what;
    std::function<void(ScriptedDialog&, HWND)> act;
    std::vector<int> commands;
    std::vector<int> selChanges;
    int listSelection;  // of the list the case clicks in (kList unless it says kPlainList)
    int listId;
    int focus;  // the model's, after the input (0: as it was)
  };
  auto clickLine = [](int listId, int line) {
    return [listId, line](ScriptedDialog&, HWND shown) {
      HWND list = ::GetDlgItem(shown, listId);
      int height = int(::SendMessageW(list, LB_GETITEMHEIGHT, 0, 0));
      PostClick(list, 10, height * line + height / 2);
    };
  };
  const std::vector<Case> cases = {
      {"a click on a button gives its command and the focus",
       [](ScriptedDialog&, HWND shown) { PostClick(::GetDlgItem(shown, kFive), 5, 5); }, {kFive}, {}, -1, kList, kFive},
      {"a button pressed by its message gives its command",
       [](ScriptedDialog&, HWND shown) { ::SendMessageW(::GetDlgItem(shown, kFive), BM_CLICK, 0, 0); }, {kFive}, {}, -1,
       kList, kFive},
      {"a click that raced the button's disabling gives nothing",
       [](ScriptedDialog& dialog, HWND shown) {
         dialog.GetButton(kFive)->EnableWindow(false);
         ::PostMessageW(shown, WM_COMMAND, MAKEWPARAM(kFive, BN_CLICKED), LPARAM(::GetDlgItem(shown, kFive)));
       },
       {}, {}, -1, kList, 0},
      {"a person's selection in a notifying list", clickLine(kList, 1), {}, {kList}, 1, kList, kList},
      {"a person's selection in a quiet list changes the model only", clickLine(kPlainList, 2), {}, {}, 2, kPlainList,
       kPlainList},
      {"the close box asks for Cancel",
       [](ScriptedDialog&, HWND shown) { ::PostMessageW(shown, WM_SYSCOMMAND, SC_CLOSE, 0); }, {ui::IDCANCEL}, {}, -1,
       kList, 0},
      {"the close box does nothing while Cancel is disabled",
       [](ScriptedDialog& dialog, HWND shown) {
         dialog.GetButton(ui::IDCANCEL)->EnableWindow(false);
         ::PostMessageW(shown, WM_SYSCOMMAND, SC_CLOSE, 0);
       },
       {}, {}, -1, kList, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedDialog dialog(InputLayout("input"));
    for (const char* line : {"a0", "a1", "a2"}) {
      dialog.GetListBox(kList)->AddString(line);
      dialog.GetListBox(kPlainList)->AddString(line);
    }
    size_t arrivedInside = 0;
    int focusBefore = 0;
    dialog.step = [&](int tick) {
      if (tick == 1) {
        focusBefore = dialog.GetFocusId();
        c.act(dialog, dialog.Window());
        arrivedInside = dialog.commands.size() + dialog.selChanges.size();
      } else {
        dialog.EndDialog(ui::IDOK);
      }
    };
    EXPECT_EQ(dialog.DoModal(), ui::IDOK);
    EXPECT_EQ(arrivedInside, 0u) << "a handler ran inside the native input";
    EXPECT_EQ(dialog.commands, c.commands);
    EXPECT_EQ(dialog.selChanges, c.selChanges);
    EXPECT_EQ(dialog.GetListBox(c.listId)->GetCurSel(), c.listSelection);
    EXPECT_EQ(dialog.GetFocusId(), c.focus ? c.focus : focusBefore);
  }
}

// Enter and Escape belong to the dialog: they reach it once, as key-downs, and give their command
// once (the dialog manager must not send it a second time). Other keys are key-downs too and go on
// to the controls: Tab moves the focus, and the model follows before the key is dispatched.
TEST(Win32Backend, EveryKeyReachesTheDialogOnceAndEnterAndEscapeGiveTheirCommandOnce) {
  struct Case {
    const char* what;
    int focus;
    std::vector<uint32_t> keys;
    std::vector<int> commands;
    std::vector<int> focusAtKey;
  };
  const std::vector<Case> cases = {
      {"Enter on a list gives the default button", kList, {ui::VK_RETURN}, {ui::IDOK}, {kList}},
      {"Enter on another button gives that button", kFive, {ui::VK_RETURN}, {kFive}, {kFive}},
      {"Escape gives Cancel", kFive, {ui::VK_ESCAPE}, {ui::IDCANCEL}, {kFive}},
      {"other keys give key-downs only", ui::IDOK, {ui::VK_F7, 'A', ui::VK_F8}, {}, {ui::IDOK, ui::IDOK, ui::IDOK}},
      {"Tab moves the focus on, Enter then gives that button", ui::IDOK, {VK_TAB, ui::VK_RETURN}, {kFive},
       {kFive, kFive}},
      {"Tab from a list goes on to the next control", kPlainList, {VK_TAB, VK_TAB, ui::VK_RETURN}, {kFive},
       {ui::IDOK, kFive, kFive}},
      {"Tab from the last control wraps round to the first", ui::IDCANCEL, {VK_TAB, ui::VK_RETURN}, {ui::IDOK},
       {kList, kList}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedDialog dialog(InputLayout("keys"));
    HWND focusBeforeKeys = nullptr, wantedFocus = nullptr;
    dialog.step = [&](int tick) {
      if (tick == 1) {
        EXPECT_TRUE(dialog.SetFocusId(c.focus));
      } else if (tick == 2) {
        // The program's focus reached the native window before the keys.
        focusBeforeKeys = ::GetFocus();
        wantedFocus = ::GetDlgItem(dialog.Window(), c.focus);
        for (uint32_t key : c.keys) PostKey(key);
      } else {
        dialog.EndDialog(ui::IDOK);
      }
    };
    EXPECT_EQ(dialog.DoModal(), ui::IDOK);
    EXPECT_EQ(focusBeforeKeys, wantedFocus);
    EXPECT_EQ(dialog.keys, c.keys);
    EXPECT_EQ(dialog.commands, c.commands);
    EXPECT_EQ(dialog.focusAtKey, c.focusAtKey);
  }
}

// ---- message boxes ------------------------------------------------------------------------------

// Should the framework's timers stop inside a box, nothing in the script would close it: a native
// timer, which the box's own loop runs, closes it instead, so that the test fails rather than hangs.
constexpr UINT kStuckBoxMs = 5000;
void CALLBACK CloseStuckBox(HWND, UINT, UINT_PTR, DWORD) {
  HWND box = ::FindWindowW(L"#32770", L"bsplift");
  if (!box) return;
  ADD_FAILURE() << "the box was still open after " << kStuckBoxMs << " ms: the framework's timers stopped";
  HWND button = ::GetDlgItem(box, ui::IDNO) ? ::GetDlgItem(box, ui::IDNO) : ::GetDlgItem(box, ui::IDOK);
  ::PostMessageW(button, BM_CLICK, 0, 0);
}

TEST(Win32Backend, AMessageBoxIsOwnedByTheDialogKeepsTheTimersRunningAndAnswersTheButtonPressed) {
  struct Case {
    uint32_t style;
    int press;
    int answer;
  };
  const std::vector<Case> cases = {
      {ui::MB_YESNO | ui::MB_ICONHAND, ui::IDYES, ui::IDYES},
      {ui::MB_YESNO, ui::IDNO, ui::IDNO},
      {ui::MB_OK, ui::IDOK, ui::IDOK},
  };
  constexpr int kAskCommand = 100;
  constexpr int kTicksBeforeAnswer = 5;
  ScriptedDialog dialog(InputLayout("asking"));
  std::vector<int> answers;
  std::vector<int> ticksWhileOpen;
  std::vector<bool> ownedByDialog, dialogDisabled, textShown;
  bool boxOpen = false;
  int ticksAtOpen = 0;
  HWND shown = nullptr;
  size_t current = 0;
  dialog.step = [&](int tick) {
    if (tick == 1) {
      shown = dialog.Window();
      ui::PostMessage(ui::Message{ui::MessageKind::Command, &dialog, kAskCommand, 0});
      return;
    }
    if (!boxOpen || tick < ticksAtOpen + kTicksBeforeAnswer) return;
    HWND box = ::FindWindowW(L"#32770", L"bsplift");
    if (!box) return;  // not up yet: the next tick looks again
    boxOpen = false;
    ownedByDialog.push_back(::GetWindow(box, GW_OWNER) == shown);
    dialogDisabled.push_back(!::IsWindowEnabled(shown));
    bool found = false;
    for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
      if (TextOf(child) == L"Go on?") found = true;
    }
    textShown.push_back(found);
    ::PostMessageW(::GetDlgItem(box, cases[current].press), BM_CLICK, 0, 0);
  };
  dialog.onCommand = [&](int id) {
    if (id != kAskCommand) return;
    UINT_PTR rescue = ::SetTimer(nullptr, 0, kStuckBoxMs, CloseStuckBox);
    for (current = 0; current < cases.size(); ++current) {
      boxOpen = true;
      ticksAtOpen = dialog.ticks;
      answers.push_back(ui::MessageBox("Go on?", cases[current].style));
      ticksWhileOpen.push_back(dialog.ticks - ticksAtOpen);
    }
    ::KillTimer(nullptr, rescue);
    dialog.EndDialog(ui::IDOK);
  };
  EXPECT_EQ(dialog.DoModal(), ui::IDOK);
  ASSERT_EQ(answers.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE("box " + std::to_string(i));
    EXPECT_EQ(answers[i], cases[i].answer);
    EXPECT_GE(ticksWhileOpen[i], kTicksBeforeAnswer);
    ASSERT_LT(i, ownedByDialog.size());
    EXPECT_TRUE(ownedByDialog[i]);
    EXPECT_TRUE(dialogDisabled[i]);
    EXPECT_TRUE(textShown[i]);
  }
}

// ---- waiting inside a step ----------------------------------------------------------------------

int nativeTimerCalls = 0;
void CALLBACK CountNativeTimer(HWND, UINT, UINT_PTR, DWORD) { ++nativeTimerCalls; }

// A step that sleeps (the wait hook) or asks for a repaint gets its windows painted, and nothing
// else: input given meanwhile and native timers wait until the step is over, then arrive in order.
TEST(Win32Backend, WaitingInsideAStepPaintsTheWindowsAndLeavesInputAndTimersQueued) {
  struct Case {
    const char* what;
    std::function<void(ScriptedDialog&)> wait;
  };
  const std::vector<Case> cases = {
      {"a sleep, through the wait hook", [](ScriptedDialog&) { platform::Sleep(200); }},
      {"UpdateWindow", [](ScriptedDialog& dialog) {
         ::Sleep(50);
         dialog.UpdateWindow();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedDialog dialog(InputLayout("waiting"));
    bool invalidBefore = false, invalidAfter = true, inputStillQueued = false;
    size_t arrivedDuring = 99;
    int timerCallsDuring = -1;
    dialog.step = [&](int tick) {
      if (tick == 1) {
        HWND shown = dialog.Window();
        HWND list = ::GetDlgItem(shown, kList);
        PostClick(::GetDlgItem(shown, kFive), 5, 5);
        PostKey('A');
        nativeTimerCalls = 0;
        UINT_PTR timer = ::SetTimer(nullptr, 0, USER_TIMER_MINIMUM, CountNativeTimer);
        ::InvalidateRect(list, nullptr, TRUE);
        invalidBefore = ::GetUpdateRect(list, nullptr, FALSE);
        c.wait(dialog);
        invalidAfter = ::GetUpdateRect(list, nullptr, FALSE);
        timerCallsDuring = nativeTimerCalls;
        ::KillTimer(nullptr, timer);
        arrivedDuring = dialog.commands.size() + dialog.keys.size() + ui::QueuedMessages();
        MSG waiting;
        inputStillQueued = ::PeekMessageW(&waiting, nullptr, WM_KEYFIRST, WM_MOUSELAST, PM_NOREMOVE);
      } else {
        dialog.EndDialog(ui::IDOK);
      }
    };
    EXPECT_EQ(dialog.DoModal(), ui::IDOK);
    EXPECT_TRUE(invalidBefore);
    EXPECT_FALSE(invalidAfter) << "the list was not painted while the step waited";
    EXPECT_EQ(timerCallsDuring, 0) << "a native timer ran inside the step";
    EXPECT_EQ(arrivedDuring, 0u) << "input reached the framework inside the step";
    EXPECT_TRUE(inputStillQueued);
    // After the step, the click and the key arrive, in the order they were given.
    EXPECT_EQ(dialog.commands, std::vector<int>{kFive});
    EXPECT_EQ(dialog.keys, std::vector<uint32_t>{'A'});
  }
}

// ---- the trace ----------------------------------------------------------------------------------

std::vector<std::string> TraceLines(const std::string& head, int templateId) {
  std::vector<std::string> lines;
  std::ifstream in(tracePath);
  std::string line;
  std::string prefix = head + " " + std::to_string(templateId);
  while (std::getline(in, line)) {
    if (line.compare(0, prefix.size() + 1, prefix + " ") == 0 || line == prefix) lines.push_back(line);
  }
  return lines;
}

// A driver outside the process finds the controls on the screen and what they show from the
// trace: the same lines as the other window backend writes.
TEST(Win32Backend, TheTraceGivesTheScreenRectanglesOfTheControlsAndWhatTheyShow) {
  ui::DialogTemplate layout = InputLayout("traced");
  layout.id = 777;
  ScriptedDialog dialog(layout);
  std::vector<std::string> wantControls;
  std::string wantOpen;
  std::vector<std::string> wantRows;
  dialog.step = [&](int) {
    HWND shown = dialog.Window();
    POINT client{0, 0};
    ::ClientToScreen(shown, &client);
    RECT size;
    ::GetClientRect(shown, &size);
    wantOpen = "open 777 " + std::to_string(client.x) + " " + std::to_string(client.y) + " " +
               std::to_string(size.right) + " " + std::to_string(size.bottom) + " traced";
    HWND child = ::GetWindow(shown, GW_CHILD);
    for (size_t i = 0; i < layout.controls.size(); ++i, child = ::GetWindow(child, GW_HWNDNEXT)) {
      RECT r;
      ::GetWindowRect(child, &r);
      wantControls.push_back("control 777 " + std::to_string(i) + " " + std::to_string(layout.controls[i].id) + " " +
                             std::to_string(r.left) + " " + std::to_string(r.top) + " " +
                             std::to_string(r.right - r.left) + " " + std::to_string(r.bottom - r.top));
    }
    for (int list : {kList, kPlainList}) {
      wantRows.push_back("rows 777 " + std::to_string(list) + " " +
                         std::to_string(::SendMessageW(::GetDlgItem(shown, list), LB_GETITEMHEIGHT, 0, 0)));
    }
    dialog.GetListBox(kList)->AddString("b\tc");
    dialog.GetListBox(kList)->AddString("a");
    dialog.GetListBox(kList)->SetCurSel(1);
    dialog.GetProgressBar(kBar)->SetPos(40);
    dialog.GetButton(kFive)->EnableWindow(false);
    dialog.EndDialog(ui::IDOK);
  };
  EXPECT_EQ(dialog.DoModal(), ui::IDOK);
  EXPECT_EQ(TraceLines("open", 777), std::vector<std::string>{wantOpen});
  EXPECT_EQ(TraceLines("control", 777), wantControls);
  EXPECT_EQ(TraceLines("rows", 777), wantRows);
  EXPECT_EQ(TraceLines("insert", 777), (std::vector<std::string>{"insert 777 9 0 b\\tc", "insert 777 9 0 a"}));
  EXPECT_EQ(TraceLines("select", 777), std::vector<std::string>{"select 777 9 1"});
  std::vector<std::string> bars = TraceLines("bar", 777);
  ASSERT_FALSE(bars.empty());
  EXPECT_EQ(bars.back(), "bar 777 7 0 100 40");
  std::vector<std::string> buttons = TraceLines("button", 777);
  ASSERT_FALSE(buttons.empty());
  EXPECT_EQ(buttons.back(), "button 777 5 0 Five");
  EXPECT_EQ(TraceLines("close", 777), std::vector<std::string>{"close 777"});
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  tracePath = (std::filesystem::temp_directory_path() /
               ("bsplift-win32-trace-" + std::to_string(::GetCurrentProcessId()) + ".txt"))
                  .string();
  std::remove(tracePath.c_str());
  _putenv(("BSPLIFT_UI_TRACE=" + tracePath).c_str());
  static int result = 0;
  ui::win32::RunWithWindows([] {
    result = RUN_ALL_TESTS();
    return 0;
  });
  std::remove(tracePath.c_str());
  return result;
}
