// The window backend: each dialog of the framework mirrored by a wxDialog laid out from its
// template, with the person's clicks and keys turned into the framework's messages. The framework
// keeps the model, the queue and the timers; this file only shows and listens.
//
// Lists and bars are drawn here rather than by GTK widgets: GTK lays out and paints native ones on
// its frame cycle only, so a line added or a bar moved while a step holds the thread would not show
// until the step returned. Self-drawn windows repaint as soon as they are told to.
#include <gtk/gtk.h>
#include <wx/evtloop.h>
#include <wx/msgdlg.h>
#include <wx/settings.h>
#include <wx/timer.h>
#include <wx/vlbox.h>
#include <wx/wx.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "ui/backend.h"
#include "ui/backend_trace.h"
#include "ui/dialog.h"
#include "ui/dialog_units.h"
#include "ui/wx/wx_windows.h"

namespace ui::wx {
namespace {

// The caption of message boxes, as a program's own boxes carry its name.
constexpr const char* kMessageBoxCaption = "bsplift";
// The font every template names: the platform's own dialog font stands for it.
constexpr const char* kShellDialogFont = "MS Shell Dlg";
// Longest wait for input when no timer is due: the loop looks again after it regardless.
constexpr unsigned long kIdleWaitMs = 1000;

// Texts from the LAN are bytes in whatever the controller used; what is not UTF-8 is shown as
// Latin-1 rather than as nothing.
wxString ToWx(const std::string& text) {
  wxString converted = wxString::FromUTF8(text.data(), text.size());
  if (converted.empty() && !text.empty()) converted = wxString(text.data(), wxConvISO8859_1, text.size());
  return converted;
}

// ---- keys ---------------------------------------------------------------------------------------

// The virtual-key code of a key, 0 for keys that have none here.
uint32_t VirtualKey(int code) {
  if (code >= WXK_F1 && code <= WXK_F12) return VK_F1 + uint32_t(code - WXK_F1);
  if (code >= 'a' && code <= 'z') return uint32_t(code - 'a' + 'A');
  if ((code >= 'A' && code <= 'Z') || (code >= '0' && code <= '9') || code == ' ') return uint32_t(code);
  switch (code) {
    case WXK_RETURN:
    case WXK_NUMPAD_ENTER:
      return VK_RETURN;
    case WXK_ESCAPE:
      return VK_ESCAPE;
    case WXK_TAB:
      return 0x09;
    case WXK_BACK:
      return 0x08;
    case WXK_PAGEUP:
      return 0x21;
    case WXK_PAGEDOWN:
      return 0x22;
    case WXK_END:
      return 0x23;
    case WXK_HOME:
      return 0x24;
    case WXK_LEFT:
      return 0x25;
    case WXK_UP:
      return 0x26;
    case WXK_RIGHT:
      return 0x27;
    case WXK_DOWN:
      return 0x28;
    case WXK_DELETE:
      return 0x2E;
    default:
      return 0;
  }
}

// ---- the self-drawn controls --------------------------------------------------------------------

// A list box: the model's lines, tabs expanded to stops, one selected line.
class LineList : public wxVListBox {
 public:
  LineList(wxWindow* parent, const wxPoint& at, const wxSize& size, int tabStopPx)
      : wxVListBox(parent, wxID_ANY, at, size, wxBORDER_NONE), tabStopPx(tabStopPx) {
    SetBackgroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_LISTBOX));
  }

  void Insert(int index, const std::string& text) {
    index = std::clamp(index, 0, int(lines.size()));
    lines.insert(lines.begin() + index, ToWx(text));
    SetItemCount(lines.size());
    RefreshAll();
  }
  void Delete(int index) {
    if (index < 0 || index >= int(lines.size())) return;
    lines.erase(lines.begin() + index);
    SetItemCount(lines.size());
    RefreshAll();
  }
  void Clear() {
    lines.clear();
    SetItemCount(0);
    RefreshAll();
  }
  int RowHeight() const { return GetCharHeight() + 1; }
  // Marks the line selected, or none for -1, as the model has it. With `scroll` it is also brought
  // into view, as a list box does when the program selects a line; a line added or removed
  // elsewhere leaves the view where the person scrolled it.
  void Select(int index, bool scroll) {
    if (index >= int(lines.size())) index = -1;
    if (GetSelection() != index) {
      int top = int(GetVisibleRowsBegin());
      SetSelection(index);
      if (!scroll) ScrollToRow(size_t(std::max(0, std::min(top, int(lines.size()) - 1))));
    }
    if (scroll && index >= 0 && !IsVisible(size_t(index))) ScrollToRow(size_t(index));
    Refresh();
  }

 protected:
  void OnDrawItem(wxDC& dc, const wxRect& rect, size_t n) const override {
    dc.SetFont(GetFont());
    dc.SetTextForeground(wxSystemSettings::GetColour(IsSelected(n) ? wxSYS_COLOUR_HIGHLIGHTTEXT
                                                                   : wxSYS_COLOUR_LISTBOXTEXT));
    const wxString& line = lines[n];
    int x = kMarginPx;
    bool first = true;
    for (const wxString& piece : wxSplit(line, '\t', '\0')) {
      if (!first) x = kMarginPx + NextTabStop(x - kMarginPx, tabStopPx);
      first = false;
      dc.DrawText(piece, rect.x + x, rect.y);
      x += dc.GetTextExtent(piece).x;
    }
  }
  wxCoord OnMeasureItem(size_t) const override { return RowHeight(); }

 private:
  static constexpr int kMarginPx = 2;
  int tabStopPx;
  std::vector<wxString> lines;
};

// A list's frame: a border and nothing else, never a tab stop.
class Frame : public wxWindow {
 public:
  Frame(wxWindow* parent, const wxPoint& at, const wxSize& size) : wxWindow(parent, wxID_ANY, at, size, wxBORDER_SUNKEN) {
    SetCanFocus(false);
  }
  bool AcceptsFocus() const override { return false; }
};

// A progress bar: the part of the range up to the position, filled. Like a Windows progress bar it
// takes no focus, so Tab passes it by.
class Bar : public wxWindow {
 public:
  bool AcceptsFocus() const override { return false; }
  Bar(wxWindow* parent, const wxPoint& at, const wxSize& size)
      : wxWindow(parent, wxID_ANY, at, size, wxBORDER_SUNKEN | wxFULL_REPAINT_ON_RESIZE) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    SetCanFocus(false);
    Bind(wxEVT_PAINT, &Bar::OnPaint, this);
  }

  void Set(int newLow, int newHigh, int newPos) {
    if (newLow == low && newHigh == high && newPos == pos) return;
    low = newLow;
    high = newHigh;
    pos = newPos;
    Refresh();
  }

 private:
  void OnPaint(wxPaintEvent&) {
    wxPaintDC dc(this);
    wxSize size = GetClientSize();
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW)));
    dc.DrawRectangle(0, 0, size.x, size.y);
    int span = high - low;
    int filled = span > 0 ? int(int64_t(pos - low) * size.x / span) : 0;
    if (filled > 0) {
      dc.SetBrush(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHT)));
      dc.DrawRectangle(0, 0, filled, size.y);
    }
  }

  int low = 0;
  int high = 100;
  int pos = 0;
};

// ---- a dialog's window --------------------------------------------------------------------------

class Window;

// What the backend does for windows; the windows call back into it for the person's input.
class WxBackend : public Backend {
 public:
  WxBackend() : loop(new wxGUIEventLoop) { wxEventLoopBase::SetActive(loop.get()); }
  ~WxBackend() override { wxEventLoopBase::SetActive(nullptr); }

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
  Window* Active() const { return windows.empty() ? nullptr : windows.back(); }
  void SyncFocus();

  std::unique_ptr<wxGUIEventLoop> loop;
  std::vector<Window*> windows;  // the first opened first; the last is the active one
};

class Window : public wxDialog {
 public:
  Window(wxWindow* parent, Dialog& dialog);

  Dialog& Model() { return model; }
  int Template() const { return templateId; }
  // The dialog's run is over: from now on the window only waits to be deleted, and input that was
  // still on its way to it must not reach the dialog object, which may be gone.
  void Detach() { detached = true; }
  void ShowControl(Control& control);
  void ShowList(ListBox& list, ListChange change, int index);
  void ShowCaption();
  // Moves the keyboard focus to the control the model has it on, when the two differ.
  void SyncFocus();
  void TraceLayout();
  // Makes every control paint what is out of date, now.
  void PaintNow();

 private:
  wxFont DialogFont() const;
  void Post(MessageKind kind, int id, uint32_t key = 0);
  void OnKey(wxKeyEvent& event);
  void OnClose(wxCloseEvent& event);
  wxWindow* ControlWindow(const Control& control) const;

  Dialog& model;
  const int templateId;
  bool detached = false;
  DialogBaseUnits base;
  std::map<const Control*, wxWindow*> shown;
  int nativeFocus = 0;
};

wxFont Window::DialogFont() const {
  const DialogTemplate& layout = model.Layout();
  wxFont standard = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);
  if (layout.font.empty() || layout.font == kShellDialogFont) return standard;
  wxFont named = standard;
  named.SetFaceName(ToWx(layout.font));
  if (layout.pointSize > 0) named.SetPointSize(layout.pointSize);
  return named.IsOk() ? named : standard;
}

Window::Window(wxWindow* parent, Dialog& dialog)
    : wxDialog(parent, wxID_ANY, ToWx(dialog.GetWindowText()), wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX),
      model(dialog),
      templateId(dialog.Layout().id) {
  SetFont(DialogFont());
  wxSize letters = GetTextExtent("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  base = BaseUnitsOfFont(letters.x, GetCharHeight());
  const DialogTemplate& layout = model.Layout();
  SetClientSize(DialogXToPixels(layout.width, base), DialogYToPixels(layout.height, base));

  for (const auto& owned : model.Controls()) {
    Control& control = *owned;
    PixelRect r = ControlPixels(control.Layout(), base);
    wxPoint at(r.x, r.y);
    wxSize size(r.width, r.height);
    wxWindow* made = nullptr;
    switch (control.Kind()) {
      case ControlKind::GroupBox:
        made = new wxStaticBox(this, wxID_ANY, ToWx(control.GetWindowText()), at, size);
        break;
      case ControlKind::Static:
        made = new wxStaticText(this, wxID_ANY, ToWx(control.GetWindowText()), at, size, wxST_NO_AUTORESIZE);
        break;
      case ControlKind::PushButton: {
        auto* button = new wxButton(this, wxID_ANY, ToWx(control.GetWindowText()), at, size);
        int id = control.GetDlgCtrlID();
        button->Bind(wxEVT_BUTTON, [this, id](wxCommandEvent&) {
          if (detached) return;
          model.SetFocusId(id);
          Post(MessageKind::Command, id);
        });
        if (control.HasStyle(kDefaultButton)) button->SetDefault();
        made = button;
        break;
      }
      case ControlKind::ListBox: {
        int stops = control.HasStyle(kUseTabStops) ? DialogXToPixels(kListTabStopUnits, base) : 8 * base.cx;
        // A frame behind the list draws its border (GTK draws none around a scrolled window); the
        // list stays a direct child of the dialog, so that Tab reaches it.
        auto* frame = new Frame(this, at, size);
        wxSize border = (frame->GetSize() - frame->GetClientSize()) / 2;
        auto* list = new LineList(this, at + wxPoint(border.x, border.y), frame->GetClientSize(), stops);
        int id = control.GetDlgCtrlID();
        list->Bind(wxEVT_LISTBOX, [this, id, list](wxCommandEvent&) {
          if (detached) return;
          ListBox* listModel = model.GetListBox(id);
          if (!listModel) return;
          listModel->SetCurSel(list->GetSelection());
          model.SetFocusId(id);
          if (listModel->HasStyle(kNotify)) Post(MessageKind::SelChange, id);
        });
        made = list;
        break;
      }
      case ControlKind::ProgressBar:
        made = new Bar(this, at, size);
        break;
    }
    made->SetFont(GetFont());
    if (control.Kind() == ControlKind::PushButton || control.Kind() == ControlKind::ListBox) {
      int id = control.GetDlgCtrlID();
      made->Bind(wxEVT_SET_FOCUS, [this, id](wxFocusEvent& event) {
        event.Skip();
        if (detached) return;
        nativeFocus = id;
        model.SetFocusId(id);
      });
    }
    shown[&control] = made;
    ShowControl(control);
    if (auto* list = dynamic_cast<ListBox*>(&control)) {
      for (int i = 0; i < list->GetCount(); ++i) static_cast<LineList*>(made)->Insert(i, list->GetText(i));
      static_cast<LineList*>(made)->Select(list->GetCurSel(), true);
    }
  }
  Bind(wxEVT_CHAR_HOOK, &Window::OnKey, this);
  Bind(wxEVT_CLOSE_WINDOW, &Window::OnClose, this);
}

wxWindow* Window::ControlWindow(const Control& control) const {
  auto found = shown.find(&control);
  return found == shown.end() ? nullptr : found->second;
}

void Window::Post(MessageKind kind, int id, uint32_t key) {
  if (!detached) PostMessage(Message{kind, &model, id, key});
}

// Every key-down goes to the dialog as a message, as a Windows dialog's message loop sees it.
// Enter and Escape are the dialog's alone; the others go on to the focused control too (Tab moves
// the focus, arrows move in a list), which is what the dialog keys leave them to on Windows.
void Window::OnKey(wxKeyEvent& event) {
  if (detached) return event.Skip();
  uint32_t key = VirtualKey(event.GetKeyCode());
  if (key != 0) Post(MessageKind::KeyDown, 0, key);
  if (key != VK_RETURN && key != VK_ESCAPE) event.Skip();
}

// The close box asks for Cancel, unless the Cancel button is there and disabled.
void Window::OnClose(wxCloseEvent& event) {
  if (event.CanVeto()) event.Veto();
  if (detached) return;
  Button* cancel = model.GetButton(IDCANCEL);
  if (!cancel || cancel->IsWindowEnabled()) Post(MessageKind::Command, IDCANCEL);
}

void Window::ShowControl(Control& control) {
  wxWindow* native = ControlWindow(control);
  if (!native) return;
  if (native->IsEnabled() != control.IsWindowEnabled()) native->Enable(control.IsWindowEnabled());
  switch (control.Kind()) {
    case ControlKind::PushButton:
    case ControlKind::Static:
    case ControlKind::GroupBox: {
      wxString text = ToWx(control.GetWindowText());
      if (native->GetLabel() != text) native->SetLabel(text);
      if (control.Kind() == ControlKind::PushButton) {
        std::string text8 = control.GetWindowText();
        TheTrace().Line(Fields({Template(), control.GetDlgCtrlID(), control.IsWindowEnabled() ? 1 : 0}, "button"),
                        &text8);
      }
      break;
    }
    case ControlKind::ProgressBar: {
      auto& bar = static_cast<ProgressBar&>(control);
      static_cast<Bar*>(native)->Set(bar.GetRangeLow(), bar.GetRangeHigh(), bar.GetPos());
      TheTrace().Line(
          Fields({Template(), control.GetDlgCtrlID(), bar.GetRangeLow(), bar.GetRangeHigh(), bar.GetPos()}, "bar"));
      break;
    }
    case ControlKind::ListBox:
      break;
  }
  native->Refresh();
}

void Window::ShowList(ListBox& list, ListChange change, int index) {
  auto* native = static_cast<LineList*>(ControlWindow(list));
  if (!native) return;
  const long id = list.GetDlgCtrlID();
  switch (change) {
    case ListChange::Inserted: {
      std::string text = list.GetText(index);
      native->Insert(index, text);
      TheTrace().Line(Fields({Template(), id, index}, "insert"), &text);
      break;
    }
    case ListChange::Deleted:
      native->Delete(index);
      TheTrace().Line(Fields({Template(), id, index}, "delete"));
      break;
    case ListChange::Reset:
      native->Clear();
      TheTrace().Line(Fields({Template(), id}, "reset"));
      break;
    case ListChange::Selection:
      TheTrace().Line(Fields({Template(), id, index}, "select"));
      break;
  }
  // An insertion or deletion may have moved the selection with its line: follow the model.
  native->Select(list.GetCurSel(), change == ListChange::Selection);
}

void Window::ShowCaption() {
  std::string caption = model.GetWindowText();
  SetTitle(ToWx(caption));
  TheTrace().Line(Fields({Template()}, "caption"), &caption);
}

void Window::SyncFocus() {
  int wanted = model.GetFocusId();
  if (wanted == 0 || wanted == nativeFocus) return;
  Control* control = model.GetControl(wanted);
  wxWindow* native = control ? ControlWindow(*control) : nullptr;
  if (!native || !native->IsEnabled()) return;
  nativeFocus = wanted;
  native->SetFocus();
}

void Window::TraceLayout() {
  if (!TheTrace().On()) return;
  wxPoint client = ClientToScreen(wxPoint(0, 0));
  wxSize size = GetClientSize();
  std::string caption = model.GetWindowText();
  TheTrace().Line(Fields({Template(), client.x, client.y, size.x, size.y}, "open"), &caption);
  long index = 0;
  for (const auto& control : model.Controls()) {
    wxWindow* native = ControlWindow(*control);
    wxPoint at = native->GetScreenPosition();
    wxSize extent = native->GetSize();
    TheTrace().Line(
        Fields({Template(), index++, control->GetDlgCtrlID(), at.x, at.y, extent.x, extent.y}, "control"));
    if (auto* list = dynamic_cast<LineList*>(native)) {
      TheTrace().Line(Fields({Template(), control->GetDlgCtrlID(), list->RowHeight()}, "rows"));
    }
  }
}

void Window::PaintNow() {
  Update();
  for (auto& [control, native] : shown) native->Update();
}

// ---- the backend --------------------------------------------------------------------------------

Window* WxBackend::WindowOf(const Dialog& dialog) const {
  for (Window* window : windows) {
    if (&window->Model() == &dialog) return window;
  }
  return nullptr;
}

int WxBackend::DialogCreated(Dialog& dialog) {
  Window* parentWindow = dialog.GetParent() ? WindowOf(*dialog.GetParent()) : nullptr;
  if (!parentWindow && !dialog.Layout().appWindow) parentWindow = Active();
  auto* window = new Window(parentWindow, dialog);
  window->CentreOnParent();
  windows.push_back(window);
  window->Show();
  // The dialog is modal: while it is up, the others take no input (they still paint).
  if (windows.size() > 1) gtk_window_set_modal(GTK_WINDOW(window->GetHandle()), TRUE);
  window->TraceLayout();
  return 1;
}

void WxBackend::DialogDestroyed(Dialog& dialog) {
  Window* window = WindowOf(dialog);
  if (!window) return;
  std::erase(windows, window);
  TheTrace().Line(Fields({window->Template()}, "close"));
  window->Detach();
  window->Hide();
  window->Destroy();
  if (Window* active = Active()) active->Raise();
}

void WxBackend::ControlChanged(Dialog& dialog, Control& control) {
  if (Window* window = WindowOf(dialog)) window->ShowControl(control);
}

void WxBackend::ListChanged(Dialog& dialog, ListBox& list, ListChange change, int index) {
  if (Window* window = WindowOf(dialog)) window->ShowList(list, change, index);
}

void WxBackend::CaptionChanged(Dialog& dialog) {
  if (Window* window = WindowOf(dialog)) window->ShowCaption();
}

void WxBackend::Repaint(Dialog& dialog) {
  if (WindowOf(dialog)) PaintOnly();
}

bool IsPaintEvent(GdkEventType type) {
  switch (type) {
    case GDK_EXPOSE:
    case GDK_CONFIGURE:
    case GDK_MAP:
    case GDK_UNMAP:
    case GDK_VISIBILITY_NOTIFY:
    case GDK_WINDOW_STATE:
    case GDK_PROPERTY_NOTIFY:
    case GDK_DAMAGE:
    case GDK_SETTING:
      return true;
    default:
      return false;
  }
}

void WxBackend::PaintOnly() {
  GdkDisplay* display = gdk_display_get_default();
  if (!display) return;
  // Reading the display also answers the window manager's pings. Input stays queued, in order,
  // for the loop to dispatch once the step is over.
  std::vector<GdkEvent*> later;
  while (GdkEvent* event = gdk_display_get_event(display)) {
    if (IsPaintEvent(event->type)) {
      gtk_main_do_event(event);
      gdk_event_free(event);
    } else {
      later.push_back(event);
    }
  }
  for (GdkEvent* event : later) {
    gdk_display_put_event(display, event);
    gdk_event_free(event);
  }
  for (Window* window : windows) {
    if (!window->IsShown()) continue;
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_container_check_resize(GTK_CONTAINER(window->GetHandle()));
    G_GNUC_END_IGNORE_DEPRECATIONS
    window->PaintNow();
  }
  gdk_display_flush(display);
}

// Keeps the framework's timers firing while the toolkit's own loop runs a message box.
class FrameworkTimers : public wxTimer {
 public:
  FrameworkTimers() { Schedule(); }
  void Notify() override {
    DispatchOne();
    Schedule();
  }

 private:
  // Queued messages first, then the next timer; never idle for long, in case a handler posts.
  void Schedule() {
    uint32_t wait = QueuedMessages() > 0 ? 1 : std::min<uint32_t>(MsUntilNextTimer(), 100);
    StartOnce(int(std::max<uint32_t>(wait, 1)));
  }
};

int WxBackend::ShowMessageBox(const std::string& text, uint32_t style) {
  const bool yesNo = (style & MB_TYPEMASK) == MB_YESNO;
  long boxStyle = yesNo ? wxYES_NO : wxOK;
  if ((style & 0xF0) == MB_ICONHAND) boxStyle |= wxICON_STOP;
  TheTrace().Line(Fields({long(style)}, "box"), &text);
  Window* owner = Active();
  wxMessageDialog box(owner, ToWx(text), kMessageBoxCaption, boxStyle);
  int answer;
  {
    FrameworkTimers timers;
    int chosen = box.ShowModal();
    // Escape or the close box give Cancel, which a Yes/No box can only mean as No.
    if (yesNo) {
      answer = chosen == wxID_YES ? IDYES : IDNO;
    } else {
      answer = IDOK;
    }
  }
  TheTrace().Line(Fields({answer}, "answer"));
  if (owner && std::find(windows.begin(), windows.end(), owner) != windows.end()) owner->Raise();
  return answer;
}

void WxBackend::SyncFocus() {
  if (Window* active = Active()) active->SyncFocus();
}

void WxBackend::PollInput() {
  SyncFocus();
  // One toolkit event a call: a handler that pumps gets the rest on its next turn, in order.
  if (loop->Pending()) loop->Dispatch();
}

void WxBackend::WaitForInput(uint32_t maxMs) {
  SyncFocus();
  if (wxTheApp) wxTheApp->ProcessPendingEvents();
  if (!loop->Pending()) loop->ProcessIdle();
  if (maxMs == 0) return;
  loop->DispatchTimeout(maxMs == kWaitForever ? kIdleWaitMs : std::min<unsigned long>(maxMs, kIdleWaitMs));
}

WxBackend* installedBackend = nullptr;

void PaintWhileWaiting() {
  if (installedBackend) installedBackend->PaintOnly();
}

// Installs the wait hook for the backend's lifetime, and takes it away however the run ends.
class PaintingWhileWaiting {
 public:
  explicit PaintingWhileWaiting(WxBackend& backend) { installedBackend = &backend; }
  ~PaintingWhileWaiting() { installedBackend = nullptr; }

 private:
  platform::ScopedWaitHook hook{PaintWhileWaiting};
};

// Toolkit complaints go to stderr: a box of its own would take input in the middle of a step.
void AssertToStderr(const wxString& file, int line, const wxString& func, const wxString& cond, const wxString& msg) {
  std::fprintf(stderr, "bsplift: toolkit: %s:%d %s: %s %s\n", file.utf8_str().data(), line, func.utf8_str().data(),
               cond.utf8_str().data(), msg.utf8_str().data());
}

}  // namespace

int RunWithWindows(int argc, char** argv, int (*body)()) {
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((!display || !*display) && (!wayland || !*wayland)) return -1;
  wxApp::SetInstance(new wxApp);
  int wxArgc = argc;
  // When the display cannot be opened the toolkit is left half set up, and its own clean-up trips
  // over that: leave it as it is, the program ends soon after.
  if (!wxEntryStart(wxArgc, argv)) return -1;
  wxSetAssertHandler(AssertToStderr);
  delete wxLog::SetActiveTarget(new wxLogStderr);
  TheTrace().Open(std::getenv("BSPLIFT_UI_TRACE"));
  int result;
  {
    WxBackend backend;
    ScopedBackend installed(backend);
    PaintingWhileWaiting painting(backend);
    result = body();
    wxTheApp->ProcessPendingEvents();
    wxTheApp->ProcessIdle();
  }
  TheTrace().Close();
  wxEntryCleanup();
  return result;
}

}  // namespace ui::wx
