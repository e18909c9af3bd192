// The window backend on Windows itself: each dialog of the framework becomes a native dialog built
// from an in-memory template, so the dialog manager lays it out in dialog units as it always did.
// The framework keeps the model, the queue and the timers; this file only shows and listens. The
// native dialogs are modeless: the framework's DoModal runs the one loop, and the input that loop
// asks for is turned into the framework's messages here, never dispatched to handlers directly.
//
// <windows.h> comes first and its clashing macros go before any of our headers: the framework
// names its constants (IDOK, MB_YESNO, VK_RETURN, LB_ERR) and methods (MessageBox, PostMessage,
// SetWindowText) as Windows does, with the same values, and the macros would rename them.
#include "platform/win32/windows_api.h"
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "ui/backend.h"
#include "ui/backend_trace.h"
#include "ui/dialog.h"
#include "ui/message.h"
#include "ui/win32/win32_windows.h"

namespace ui::win32 {
namespace {

// The caption of message boxes, as a program's own boxes carry its name.
constexpr const wchar_t* kMessageBoxCaption = L"bsplift";
// The font of a template that names none, at the size dialogs have always used.
constexpr const char* kShellDialogFont = "MS Shell Dlg";
constexpr int kShellDialogPointSize = 8;
// Longest idle wait when no timer is due: the loop looks again after it regardless.
constexpr DWORD kIdleWaitMs = 1000;
// Native messages one PollInput handles at most before it lets the framework run, so that a flood
// of input (or a window that keeps asking to be painted) cannot hold the framework's loop.
constexpr int kMaxNativeMessagesPerPoll = 256;
// Paint messages one paint-only pass dispatches at most, for the same reason.
constexpr int kMaxPaintsPerPass = 256;
// How often a message box looks at the framework's timers when none is due sooner.
constexpr uint32_t kBoxTimerCheckMs = 100;

// The predefined window classes of a dialog template, by atom.
constexpr WORD kButtonAtom = 0x0080;
constexpr WORD kStaticAtom = 0x0082;
constexpr WORD kListBoxAtom = 0x0083;

// Texts from the LAN are bytes in whatever the controller used; what is not UTF-8 is shown as
// Latin-1 rather than as nothing.
std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), int(text.size()), nullptr, 0);
  if (length > 0) {
    std::wstring converted(size_t(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), int(text.size()), converted.data(), length);
    return converted;
  }
  std::wstring latin1;
  for (unsigned char c : text) latin1 += wchar_t(c);
  return latin1;
}

std::wstring TextOf(HWND window) {
  int length = ::GetWindowTextLengthW(window);
  std::wstring text(size_t(length) + 1, L'\0');
  length = ::GetWindowTextW(window, text.data(), length + 1);
  text.resize(size_t(std::max(length, 0)));
  return text;
}

// ---- the in-memory dialog template ----------------------------------------------------------------

// A DLGTEMPLATE and its DLGITEMTEMPLATEs, built word by word: every field is a whole number of
// 16-bit words, items start on 32-bit boundaries, and texts are NUL-terminated UTF-16.
class TemplateWords {
 public:
  void Word(WORD value) { words.push_back(value); }
  void Dword(DWORD value) {
    Word(LOWORD(value));
    Word(HIWORD(value));
  }
  void Coordinate(int value) { Word(WORD(int16_t(std::clamp(value, -32768, 32767)))); }
  void Text(const std::wstring& text) {
    for (wchar_t c : text) Word(WORD(c));
    Word(0);
  }
  void AlignToDword() {
    if (words.size() % 2 != 0) Word(0);
  }
  const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words.data()); }

 private:
  std::vector<WORD> words;
};

DWORD NativeStyle(const Control& control) {
  DWORD style = WS_CHILD | WS_VISIBLE;
  if (!control.IsWindowEnabled()) style |= WS_DISABLED;
  switch (control.Kind()) {
    case ControlKind::PushButton:
      return style | WS_TABSTOP | DWORD(control.HasStyle(kDefaultButton) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    case ControlKind::GroupBox:
      return style | BS_GROUPBOX;
    case ControlKind::Static:
      return style | SS_LEFT;
    case ControlKind::ListBox:
      // The model sorts and reports where each line went, so the native list never sorts; it
      // always notifies, and the model decides whether a selection change becomes a message.
      return style | WS_BORDER | WS_TABSTOP | LBS_NOTIFY | LBS_USETABSTOPS |
             DWORD(control.HasStyle(kVScroll) ? WS_VSCROLL : 0);
    case ControlKind::ProgressBar:
      return style | WS_BORDER;
  }
  return style;
}

void WriteClass(TemplateWords& words, ControlKind kind) {
  switch (kind) {
    case ControlKind::PushButton:
    case ControlKind::GroupBox:
      words.Word(0xFFFF);
      words.Word(kButtonAtom);
      return;
    case ControlKind::Static:
      words.Word(0xFFFF);
      words.Word(kStaticAtom);
      return;
    case ControlKind::ListBox:
      words.Word(0xFFFF);
      words.Word(kListBoxAtom);
      return;
    case ControlKind::ProgressBar:
      words.Text(PROGRESS_CLASSW);
      return;
  }
}

// The dialog as it is now: caption, texts and enabled states from the model, the rest from its
// template. Not visible yet: it is filled and centred first.
TemplateWords BuildTemplate(const Dialog& dialog) {
  const DialogTemplate& layout = dialog.Layout();
  TemplateWords words;
  words.Dword(DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU);
  words.Dword(0);
  words.Word(WORD(dialog.Controls().size()));
  words.Coordinate(0);
  words.Coordinate(0);
  words.Coordinate(layout.width);
  words.Coordinate(layout.height);
  words.Word(0);  // no menu
  words.Word(0);  // the dialog class
  words.Text(Wide(dialog.GetWindowText()));
  words.Word(WORD(layout.pointSize > 0 ? layout.pointSize : kShellDialogPointSize));
  words.Text(Wide(layout.font.empty() ? kShellDialogFont : layout.font));
  for (const auto& control : dialog.Controls()) {
    const ControlTemplate& item = control->Layout();
    words.AlignToDword();
    words.Dword(NativeStyle(*control));
    words.Dword(0);
    words.Coordinate(item.x);
    words.Coordinate(item.y);
    words.Coordinate(item.width);
    words.Coordinate(item.height);
    words.Word(WORD(item.id));  // kStaticId (-1) becomes 0xFFFF, as resource compilers write it
    WriteClass(words, control->Kind());
    words.Text(Wide(control->GetWindowText()));
    words.Word(0);  // no creation data
  }
  return words;
}

// ---- a dialog's window --------------------------------------------------------------------------

INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

class Window {
 public:
  explicit Window(Dialog& dialog) : model(dialog), templateId(dialog.Layout().id) {}

  Dialog& Model() { return model; }
  HWND Handle() const { return hwnd; }
  int Template() const { return templateId; }

  // Makes the native dialog (hidden), owned by `owner`; false when Windows refuses.
  bool Create(HWND owner, bool appWindow);
  // Shows it, with the owner disabled until Destroy, as a modal dialog has it.
  void Show();
  void Destroy();

  void ShowControl(Control& control);
  void ShowList(ListBox& list, ListChange change, int index);
  void ShowCaption();
  void TraceLayout();

  // The model's focus to the native one, when the program moved it.
  void FocusFromModel();
  // The native focus to the model, when a person (or the dialog manager) moved it.
  void FocusFromNative(HWND focus);

  // Input from the dialog procedure.
  void OnCommand(int code, HWND control);
  void OnClose();

 private:
  HWND NativeOf(const Control& control) const;
  bool MatchControls();
  void FillList(ListBox& list);
  void FollowSelection(ListBox& list, bool scroll);
  void Centre();
  void Post(MessageKind kind, int id, uint32_t key = 0);

  friend INT_PTR CALLBACK DialogProc(HWND, UINT, WPARAM, LPARAM);

  Dialog& model;
  const int templateId;
  HWND hwnd = nullptr;
  HWND owner = nullptr;
  bool ownerDisabled = false;  // this dialog disabled its owner and enables it again when it goes
  std::vector<std::pair<const Control*, HWND>> natives;  // in template order
  int nativeFocus = 0;
};

INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* window = reinterpret_cast<Window*>(lParam);
    window->hwnd = hwnd;
    ::SetWindowLongPtrW(hwnd, DWLP_USER, LONG_PTR(window));
    return TRUE;
  }
  auto* window = reinterpret_cast<Window*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
  if (!window) return FALSE;
  switch (message) {
    case WM_COMMAND:
      window->OnCommand(HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      return TRUE;
    case WM_CLOSE:
      window->OnClose();
      return TRUE;
    default:
      return FALSE;
  }
}

bool Window::Create(HWND ownerWindow, bool appWindow) {
  TemplateWords words = BuildTemplate(model);
  HWND made = ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr), words.Get(), ownerWindow, DialogProc,
                                           reinterpret_cast<LPARAM>(this));
  if (!made) return false;
  hwnd = made;
  owner = ownerWindow;
  if (!MatchControls()) {
    ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
    ::DestroyWindow(hwnd);
    hwnd = nullptr;
    return false;
  }
  if (appWindow) ::SetWindowLongPtrW(hwnd, GWL_EXSTYLE, ::GetWindowLongPtrW(hwnd, GWL_EXSTYLE) | WS_EX_APPWINDOW);
  for (const auto& control : model.Controls()) {
    ShowControl(*control);
    if (control->Kind() == ControlKind::ListBox) FillList(static_cast<ListBox&>(*control));
  }
  Centre();
  return true;
}

// The dialog manager creates the controls in template order, which is also their order among the
// dialog's children; statics all share one id, so they are told apart by that order.
bool Window::MatchControls() {
  HWND child = ::GetWindow(hwnd, GW_CHILD);
  for (const auto& control : model.Controls()) {
    if (!child || WORD(::GetDlgCtrlID(child)) != WORD(control->GetDlgCtrlID())) return false;
    natives.emplace_back(control.get(), child);
    child = ::GetWindow(child, GW_HWNDNEXT);
  }
  return true;
}

HWND Window::NativeOf(const Control& control) const {
  for (const auto& [shown, native] : natives) {
    if (shown == &control) return native;
  }
  return nullptr;
}

void Window::FillList(ListBox& list) {
  HWND native = NativeOf(list);
  ::SendMessageW(native, LB_RESETCONTENT, 0, 0);
  for (int i = 0; i < list.GetCount(); ++i) {
    ::SendMessageW(native, LB_INSERTSTRING, WPARAM(i), LPARAM(Wide(list.GetText(i)).c_str()));
  }
  FollowSelection(list, true);
}

// Over the owner, or in the middle of the work area without one.
void Window::Centre() {
  RECT own;
  ::GetWindowRect(hwnd, &own);
  RECT area;
  if (owner && ::IsWindowVisible(owner) && !::IsIconic(owner)) {
    ::GetWindowRect(owner, &area);
  } else {
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  }
  const int width = own.right - own.left;
  const int height = own.bottom - own.top;
  int x = area.left + (area.right - area.left - width) / 2;
  int y = area.top + (area.bottom - area.top - height) / 2;
  // Never with the caption off the screen, where nobody could move it back.
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  if (::GetMonitorInfoW(::MonitorFromRect(&area, MONITOR_DEFAULTTONEAREST), &monitor)) {
    const RECT& work = monitor.rcWork;
    x = std::max(LONG(work.left), std::min(LONG(x), work.right - width));
    y = std::max(LONG(work.top), std::min(LONG(y), work.bottom - height));
  }
  ::SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Window::Show() {
  if (owner && ::IsWindowEnabled(owner)) {
    ::EnableWindow(owner, FALSE);
    ownerDisabled = true;
  }
  ::ShowWindow(hwnd, SW_SHOW);
  ::SetForegroundWindow(hwnd);
  ::UpdateWindow(hwnd);
}

void Window::Destroy() {
  // Input that is still queued for the window must not reach the dialog object, which may go.
  ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
  // The owner first, so that the activation passes to it rather than to some other program.
  if (ownerDisabled && ::IsWindow(owner)) ::EnableWindow(owner, TRUE);
  ::DestroyWindow(hwnd);
  hwnd = nullptr;
}

void Window::Post(MessageKind kind, int id, uint32_t key) { ui::PostMessage(Message{kind, &model, id, key}); }

// A click gives the button's command; a person's selection in a list becomes the model's, and a
// message when the list notifies. The native list notifies of a person's changes only, never of
// the program's own LB_SETCURSEL.
void Window::OnCommand(int code, HWND control) {
  if (!control) return;
  for (const auto& [shown, native] : natives) {
    if (native != control) continue;
    const int modelId = shown->GetDlgCtrlID();
    if (shown->Kind() == ControlKind::PushButton && code == BN_CLICKED) {
      if (!shown->IsWindowEnabled()) return;
      model.SetFocusId(modelId);
      Post(MessageKind::Command, modelId);
    } else if (shown->Kind() == ControlKind::ListBox && code == LBN_SELCHANGE) {
      ListBox* list = model.GetListBox(modelId);
      if (!list) return;
      list->SetCurSel(int(::SendMessageW(native, LB_GETCURSEL, 0, 0)));
      model.SetFocusId(modelId);
      if (list->HasStyle(kNotify)) Post(MessageKind::SelChange, modelId);
    }
    return;
  }
}

// The close box asks for Cancel, unless the Cancel button is there and disabled.
void Window::OnClose() {
  Button* cancel = model.GetButton(IDCANCEL);
  if (!cancel || cancel->IsWindowEnabled()) Post(MessageKind::Command, IDCANCEL);
}

void Window::ShowControl(Control& control) {
  HWND native = NativeOf(control);
  if (!native) return;
  const bool enabled = control.IsWindowEnabled();
  if (bool(::IsWindowEnabled(native)) != enabled) ::EnableWindow(native, enabled ? TRUE : FALSE);
  switch (control.Kind()) {
    case ControlKind::PushButton:
    case ControlKind::Static:
    case ControlKind::GroupBox: {
      std::string text = control.GetWindowText();
      std::wstring wide = Wide(text);
      if (TextOf(native) != wide) ::SetWindowTextW(native, wide.c_str());
      if (control.Kind() == ControlKind::PushButton) {
        TheTrace().Line(Fields({Template(), control.GetDlgCtrlID(), enabled ? 1 : 0}, "button"), &text);
      }
      break;
    }
    case ControlKind::ProgressBar: {
      auto& bar = static_cast<ProgressBar&>(control);
      PBRANGE range{};
      ::SendMessageW(native, PBM_GETRANGE, FALSE, LPARAM(&range));
      if (range.iLow != bar.GetRangeLow() || range.iHigh != bar.GetRangeHigh()) {
        ::SendMessageW(native, PBM_SETRANGE32, WPARAM(bar.GetRangeLow()), LPARAM(bar.GetRangeHigh()));
      }
      if (int(::SendMessageW(native, PBM_GETPOS, 0, 0)) != bar.GetPos()) {
        ::SendMessageW(native, PBM_SETPOS, WPARAM(bar.GetPos()), 0);
      }
      TheTrace().Line(
          Fields({Template(), control.GetDlgCtrlID(), bar.GetRangeLow(), bar.GetRangeHigh(), bar.GetPos()}, "bar"));
      break;
    }
    case ControlKind::ListBox:
      break;
  }
}

// Marks the line the model has selected, or none. With `scroll` it is brought into view, as when
// the program selects a line; a line added or removed elsewhere leaves the view where it was.
void Window::FollowSelection(ListBox& list, bool scroll) {
  HWND native = NativeOf(list);
  const int wanted = list.GetCurSel();
  if (scroll) {
    ::SendMessageW(native, LB_SETCURSEL, WPARAM(wanted), 0);
    return;
  }
  if (int(::SendMessageW(native, LB_GETCURSEL, 0, 0)) == wanted) return;
  LRESULT top = ::SendMessageW(native, LB_GETTOPINDEX, 0, 0);
  ::SendMessageW(native, LB_SETCURSEL, WPARAM(wanted), 0);
  ::SendMessageW(native, LB_SETTOPINDEX, WPARAM(top), 0);
}

void Window::ShowList(ListBox& list, ListChange change, int index) {
  HWND native = NativeOf(list);
  if (!native) return;
  const long id = list.GetDlgCtrlID();
  switch (change) {
    case ListChange::Inserted: {
      std::string text = list.GetText(index);
      ::SendMessageW(native, LB_INSERTSTRING, WPARAM(index), LPARAM(Wide(text).c_str()));
      TheTrace().Line(Fields({Template(), id, index}, "insert"), &text);
      break;
    }
    case ListChange::Deleted:
      ::SendMessageW(native, LB_DELETESTRING, WPARAM(index), 0);
      TheTrace().Line(Fields({Template(), id, index}, "delete"));
      break;
    case ListChange::Reset:
      ::SendMessageW(native, LB_RESETCONTENT, 0, 0);
      TheTrace().Line(Fields({Template(), id}, "reset"));
      break;
    case ListChange::Selection:
      TheTrace().Line(Fields({Template(), id, index}, "select"));
      break;
  }
  // An insertion or deletion may have moved the selection with its line: follow the model.
  FollowSelection(list, change == ListChange::Selection);
}

void Window::ShowCaption() {
  std::string caption = model.GetWindowText();
  ::SetWindowTextW(hwnd, Wide(caption).c_str());
  TheTrace().Line(Fields({Template()}, "caption"), &caption);
}

void Window::TraceLayout() {
  if (!TheTrace().On()) return;
  POINT client{0, 0};
  ::ClientToScreen(hwnd, &client);
  RECT size;
  ::GetClientRect(hwnd, &size);
  std::string caption = model.GetWindowText();
  TheTrace().Line(Fields({Template(), client.x, client.y, size.right, size.bottom}, "open"), &caption);
  long index = 0;
  for (const auto& [control, native] : natives) {
    RECT at;
    ::GetWindowRect(native, &at);
    TheTrace().Line(Fields({Template(), index++, control->GetDlgCtrlID(), at.left, at.top, at.right - at.left,
                            at.bottom - at.top},
                           "control"));
    if (control->Kind() == ControlKind::ListBox) {
      TheTrace().Line(
          Fields({Template(), control->GetDlgCtrlID(), long(::SendMessageW(native, LB_GETITEMHEIGHT, 0, 0))}, "rows"));
    }
  }
}

void Window::FocusFromModel() {
  const int wanted = model.GetFocusId();
  if (wanted == 0 || wanted == nativeFocus) return;
  Control* control = model.GetControl(wanted);
  HWND native = control ? NativeOf(*control) : nullptr;
  if (!native || !::IsWindowEnabled(native)) return;
  nativeFocus = wanted;
  // Through the dialog manager, so that the default-button border moves along as it does on Tab.
  ::SendMessageW(hwnd, WM_NEXTDLGCTL, WPARAM(native), TRUE);
}

void Window::FocusFromNative(HWND focus) {
  for (const auto& [control, native] : natives) {
    if (native != focus) continue;
    const int id = control->GetDlgCtrlID();
    if (id == nativeFocus) return;
    nativeFocus = id;
    model.SetFocusId(id);
    return;
  }
}

// ---- the backend --------------------------------------------------------------------------------

class Win32Backend : public Backend {
 public:
  ~Win32Backend() override {
    while (!windows.empty()) DialogDestroyed(windows.back()->Model());
  }

  int DialogCreated(Dialog& dialog) override;
  void DialogDestroyed(Dialog& dialog) override;
  void ControlChanged(Dialog& dialog, Control& control) override;
  void ListChanged(Dialog& dialog, ListBox& list, ListChange change, int index) override;
  void CaptionChanged(Dialog& dialog) override;
  void Repaint(Dialog& dialog) override;
  int ShowMessageBox(const std::string& text, uint32_t style) override;
  void PollInput() override;
  void WaitForInput(uint32_t maxMs) override;

  // Paints what is out of date in every window, and nothing else: no input, no timers.
  void PaintOnly();

 private:
  Window* WindowOf(const Dialog& dialog) const;
  // The dialog a native window belongs to (the dialog itself or one of its controls), or null.
  Window* WindowOfNative(HWND native) const;
  Window* Active() const { return windows.empty() ? nullptr : windows.back().get(); }
  void Handle(MSG& message);
  void FocusFromNative();

  std::vector<std::unique_ptr<Window>> windows;  // the first opened first; the last is the active one
};

Window* Win32Backend::WindowOf(const Dialog& dialog) const {
  for (const auto& window : windows) {
    if (&window->Model() == &dialog) return window.get();
  }
  return nullptr;
}

Window* Win32Backend::WindowOfNative(HWND native) const {
  if (!native) return nullptr;
  HWND root = ::GetAncestor(native, GA_ROOT);
  for (const auto& window : windows) {
    if (window->Handle() == root) return window.get();
  }
  return nullptr;
}

int Win32Backend::DialogCreated(Dialog& dialog) {
  HWND owner = nullptr;
  if (Window* parent = dialog.GetParent() ? WindowOf(*dialog.GetParent()) : nullptr) owner = parent->Handle();
  if (!owner && !dialog.Layout().appWindow && Active()) owner = Active()->Handle();
  auto window = std::make_unique<Window>(dialog);
  if (!window->Create(owner, dialog.Layout().appWindow)) return 0;
  windows.push_back(std::move(window));
  Window& shown = *windows.back();
  shown.Show();
  shown.TraceLayout();
  return 1;
}

void Win32Backend::DialogDestroyed(Dialog& dialog) {
  auto found = std::find_if(windows.begin(), windows.end(), [&](const auto& w) { return &w->Model() == &dialog; });
  if (found == windows.end()) return;
  std::unique_ptr<Window> window = std::move(*found);
  windows.erase(found);
  TheTrace().Line(Fields({window->Template()}, "close"));
  window->Destroy();
  if (Window* active = Active()) ::SetForegroundWindow(active->Handle());
}

void Win32Backend::ControlChanged(Dialog& dialog, Control& control) {
  if (Window* window = WindowOf(dialog)) window->ShowControl(control);
}

void Win32Backend::ListChanged(Dialog& dialog, ListBox& list, ListChange change, int index) {
  if (Window* window = WindowOf(dialog)) window->ShowList(list, change, index);
}

void Win32Backend::CaptionChanged(Dialog& dialog) {
  if (Window* window = WindowOf(dialog)) window->ShowCaption();
}

void Win32Backend::Repaint(Dialog& dialog) {
  if (WindowOf(dialog)) PaintOnly();
}

void Win32Backend::PaintOnly() {
  // Looking at the queue also tells the desktop the program still answers. Only paint messages
  // leave it; input and timers stay queued, in order, for the loop once the step is over.
  MSG message;
  for (int i = 0; i < kMaxPaintsPerPass && ::PeekMessageW(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE); ++i) {
    ::DispatchMessageW(&message);
  }
  for (const auto& window : windows) {
    ::RedrawWindow(window->Handle(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  }
}

// Keeps the framework's timers firing while the message box runs its own loop, as a Windows message
// box dispatches a dialog's timers. One shot at a time, so that a handler that opens a box of its own
// is not entered again from the outer box's timer meanwhile.
class FrameworkTimers {
 public:
  FrameworkTimers() {
    Running().push_back(this);
    Schedule();
  }
  ~FrameworkTimers() {
    if (timer) ::KillTimer(nullptr, timer);
    std::erase(Running(), this);
  }
  FrameworkTimers(const FrameworkTimers&) = delete;
  FrameworkTimers& operator=(const FrameworkTimers&) = delete;

 private:
  static std::vector<FrameworkTimers*>& Running() {
    static std::vector<FrameworkTimers*> running;
    return running;
  }

  static void CALLBACK Fire(HWND, UINT, UINT_PTR id, DWORD) {
    for (FrameworkTimers* timers : Running()) {
      if (timers->timer != id) continue;
      ::KillTimer(nullptr, id);
      timers->timer = 0;
      DispatchOne();
      // Still there: the box that owns it is the loop that called this.
      timers->Schedule();
      return;
    }
  }

  // Queued messages first, then the next timer; never idle for long, in case a handler posts.
  void Schedule() {
    uint32_t wait = QueuedMessages() > 0 ? 1 : std::min(MsUntilNextTimer(), kBoxTimerCheckMs);
    timer = ::SetTimer(nullptr, 0, std::max<UINT>(wait, USER_TIMER_MINIMUM), Fire);
  }

  UINT_PTR timer = 0;
};

int Win32Backend::ShowMessageBox(const std::string& text, uint32_t style) {
  const bool yesNo = (style & MB_TYPEMASK) == MB_YESNO;
  TheTrace().Line(Fields({long(style)}, "box"), &text);
  Window* owner = Active();
  HWND ownerHandle = owner ? owner->Handle() : nullptr;
  int chosen;
  {
    FrameworkTimers timers;
    chosen = ::MessageBoxW(ownerHandle, Wide(text).c_str(), kMessageBoxCaption, UINT(style));
  }
  const int answer = yesNo ? (chosen == IDYES ? IDYES : IDNO) : IDOK;
  TheTrace().Line(Fields({answer}, "answer"));
  if (owner && WindowOfNative(ownerHandle) == owner) ::SetForegroundWindow(ownerHandle);
  return answer;
}

void Win32Backend::FocusFromNative() {
  HWND focus = ::GetFocus();
  if (Window* window = WindowOfNative(focus)) window->FocusFromNative(focus);
}

// Every key-down goes to the dialog as a message, as a Windows dialog's message loop sees it.
// Enter and Escape are the dialog's alone: the dialog manager would turn them into IDOK / IDCANCEL
// (or the default button's command) a second time. The others go on to the dialog manager (Tab
// moves the focus, arrows move in a list, the space bar presses a button).
void Win32Backend::Handle(MSG& message) {
  Window* window = WindowOfNative(message.hwnd);
  if (window && (message.message == WM_KEYDOWN || message.message == WM_SYSKEYDOWN)) {
    const auto key = uint32_t(message.wParam);
    ui::PostMessage(Message{MessageKind::KeyDown, &window->Model(), 0, key});
    if (key == VK_RETURN || key == VK_ESCAPE) return;
  }
  if (window && ::IsDialogMessageW(window->Handle(), &message)) return;
  ::TranslateMessage(&message);
  ::DispatchMessageW(&message);
}

void Win32Backend::PollInput() {
  if (Window* active = Active()) active->FocusFromModel();
  // Until the first native message that made a framework message: the framework dispatches that
  // one before the next native message is looked at, so the model changes in the order input came.
  const size_t queued = QueuedMessages();
  MSG message;
  for (int i = 0; i < kMaxNativeMessagesPerPoll && QueuedMessages() == queued &&
                  ::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);
       ++i) {
    Handle(message);
    FocusFromNative();
  }
}

void Win32Backend::WaitForInput(uint32_t maxMs) {
  if (Window* active = Active()) active->FocusFromModel();
  if (maxMs == 0) return;
  const DWORD waitMs = maxMs == kWaitForever ? kIdleWaitMs : std::min<DWORD>(maxMs, kIdleWaitMs);
  // Also wakes for input that is queued already but was left there by the last poll.
  ::MsgWaitForMultipleObjectsEx(0, nullptr, waitMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

Win32Backend* installedBackend = nullptr;

void PaintWhileWaiting() {
  if (installedBackend) installedBackend->PaintOnly();
}

// Installs the wait hook for the backend's lifetime, and takes it away however the run ends.
class PaintingWhileWaiting {
 public:
  explicit PaintingWhileWaiting(Win32Backend& backend) { installedBackend = &backend; }
  ~PaintingWhileWaiting() { installedBackend = nullptr; }

 private:
  platform::ScopedWaitHook hook{PaintWhileWaiting};
};

}  // namespace

int RunWithWindows(int (*body)()) {
  INITCOMMONCONTROLSEX classes{};
  classes.dwSize = sizeof(classes);
  classes.dwICC = ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
  ::InitCommonControlsEx(&classes);
  TheTrace().Open(std::getenv("BSPLIFT_UI_TRACE"));
  int result;
  {
    Win32Backend backend;
    ScopedBackend installed(backend);
    PaintingWhileWaiting painting(backend);
    result = body();
  }
  TheTrace().Close();
  return result;
}

}  // namespace ui::win32
