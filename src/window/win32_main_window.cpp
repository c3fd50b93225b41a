#include "window/win32_main_window.h"

#include <commctrl.h>
#include <uxtheme.h>

#include <algorithm>

#include "window/win32_controls.h"
#include "window/win32_dialogs.h"

namespace window {

namespace {

constexpr UINT WorkerPollMs = 10;
constexpr UINT_PTR WorkerWatchTimer = 1;

int IdOf(Control control) {
  return ControlId(LayoutRow(control));
}

std::string WindowText(HWND window) {
  std::string text(static_cast<size_t>(::GetWindowTextLengthA(window)) + 1, '\0');
  text.resize(
      static_cast<size_t>(::GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

bool IsUserInput(UINT message) {
  return (message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
         (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ||
         (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK);
}

}  // namespace

Win32MainWindow::Win32MainWindow(HINSTANCE instance)
    : instance_(instance),
      windowThread_(::GetCurrentThreadId()),
      silver_(::CreateSolidBrush(WindowColour)),
      activeBorder_(::CreateSolidBrush(::GetSysColor(COLOR_ACTIVEBORDER))),
      lime_(::CreateSolidBrush(ConnectedPortColour)) {
  // The program sets no title of its own: the executable's name without its extension.
  title_ = instance::ExecutableFileName();
  if (size_t dot = title_.find_last_of('.'); dot != std::string::npos) title_.resize(dot);
  dialogs_ = std::make_unique<Win32Dialogs>([this] { return window_; }, [this] { return title_; });

  // The progress bar and the hints are common controls.
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
  ::InitCommonControlsEx(&controls);

  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance_;
  windowClass.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  windowClass.hbrBackground = silver_;
  windowClass.hIcon = ::LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
  windowClass.lpszClassName = Win32WindowClass;
  ::RegisterClassExA(&windowClass);
  window_ = ::CreateWindowExA(
      0, Win32WindowClass, WindowCaption,
      WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN, FormBounds.Left,
      FormBounds.Top, FormBounds.Width, FormBounds.Height, nullptr, nullptr, instance_, this);
  font_ = PickFont(window_);
  ::SendMessageA(window_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  BuildControls();

  // Loading the layout creates the guard, which checks for a running copy before FormCreate.
  OneInstance1 = std::make_unique<instance::TOneInstance>(*this);
  OneInstance1->InformUser = false;
  OneInstance1->RaisePriorInstance = false;
  OneInstance1->Loaded();
  form_ = std::make_unique<TForm1>(*this, *dialogs_);
}

Win32MainWindow::~Win32MainWindow() {
  // A running job stops while the controls it reports to still exist.
  form_.reset();
  OneInstance1.reset();
  if (window_) ::DestroyWindow(window_);
  if (tips_) ::DestroyWindow(tips_);
  ::DeleteObject(font_);
  for (HBRUSH brush : {silver_, activeBorder_, lime_}) ::DeleteObject(brush);
}

void Win32MainWindow::BuildControls() {
  tips_ = ::CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr,
                            WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                            CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr, instance_, nullptr);
  for (size_t row = 0; row < MainWindowLayout().size(); ++row) {
    const ControlLayout& layout = MainWindowLayout()[row];
    HWND parent = layout.Parent.empty() ? window_ : controls_.at(LayoutRow(layout.Parent));
    HWND control = MakeControl(row, parent, instance_, font_);
    controls_.push_back(control);
    if (layout.Kind == ControlKind::Memo) memo_ = control;
    if (layout.Kind == ControlKind::ProgressBar) bar_ = control;
    if (!layout.Hint.empty()) Hint(control, layout.Hint);
    if (layout.Kind == ControlKind::Frame || layout.Kind == ControlKind::Edit ||
        layout.Cursor != Pointer::Arrow)
      Subclass(control);
  }
  StackInTabOrder(controls_);
}

void Win32MainWindow::Hint(HWND control, const std::string& text) {
  TTTOOLINFOA tool{};
  tool.cbSize = TTTOOLINFOA_V1_SIZE;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = window_;
  tool.uId = reinterpret_cast<UINT_PTR>(control);
  tool.lpszText = const_cast<char*>(text.c_str());
  ::SendMessageA(tips_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

void Win32MainWindow::Subclass(HWND control) {
  ::SetWindowSubclass(
      control,
      [](HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR self) {
        return reinterpret_cast<Win32MainWindow*>(self)->HandleControl(window, message, wParam,
                                                                       lParam);
      },
      0, reinterpret_cast<DWORD_PTR>(this));
}

HWND Win32MainWindow::Widget(Control control) const {
  return controls_.at(LayoutRow(control));
}

size_t Win32MainWindow::RowOf(HWND control) const {
  return static_cast<size_t>(std::find(controls_.begin(), controls_.end(), control) -
                             controls_.begin());
}

// ---- the view -------------------------------------------------------------------------------

bool Win32MainWindow::Checked(Control control) const {
  return ::SendMessageA(Widget(control), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

std::string Win32MainWindow::Text(Control control) const {
  HWND widget = Widget(control);
  if (control == Control::ComboBox1 || control == Control::ComboBox2) {
    LRESULT chosen = ::SendMessageA(widget, CB_GETCURSEL, 0, 0);
    if (chosen == CB_ERR) return "";
    std::string item(static_cast<size_t>(::SendMessageA(widget, CB_GETLBTEXTLEN, chosen, 0)) + 1,
                     '\0');
    item.resize(static_cast<size_t>(
        ::SendMessageA(widget, CB_GETLBTEXT, chosen, reinterpret_cast<LPARAM>(item.data()))));
    return item;
  }
  return WindowText(widget);
}

void Win32MainWindow::SetText(Control control, const std::string& text) {
  ::SetWindowTextA(Widget(control), text.c_str());
}

void Win32MainWindow::SetEnabled(Control control, bool enabled) {
  ::EnableWindow(Widget(control), enabled);
}

void Win32MainWindow::SetVisible(Control control, bool visible) {
  ::ShowWindow(Widget(control), visible ? SW_SHOWNA : SW_HIDE);
}

void Win32MainWindow::SetItems(Control control, const std::vector<std::string>& items) {
  HWND list = Widget(control);
  ::SendMessageA(list, CB_RESETCONTENT, 0, 0);
  for (const std::string& item : items)
    ::SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
  ::SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
}

void Win32MainWindow::ChooseLastItem(Control control) {
  HWND list = Widget(control);
  LRESULT count = ::SendMessageA(list, CB_GETCOUNT, 0, 0);
  if (count > 0) ::SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(count - 1), 0);
}

void Win32MainWindow::ShowPortConnected(bool connected) {
  portConnected_ = connected;
  ::InvalidateRect(Widget(Control::ComboBox1), nullptr, TRUE);
}

void Win32MainWindow::AddLogLine(const std::string& line) {
  int length = ::GetWindowTextLengthA(memo_);
  std::string added = (length > 0 ? "\r\n" : "") + line;
  ::SendMessageA(memo_, EM_SETSEL, length, length);
  ::SendMessageA(memo_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(added.c_str()));
  // During Connect the window's thread is busy: show each line as it comes.
  ::UpdateWindow(memo_);
}

void Win32MainWindow::SetProgress(int32_t position) {
  ::SendMessageA(bar_, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void Win32MainWindow::SetBarColour(uint32_t colour) {
  ::SendMessageA(bar_, PBM_SETBARCOLOR, 0, static_cast<LPARAM>(colour));
}

void Win32MainWindow::SetCaption(const std::string& caption) {
  ::SetWindowTextA(window_, caption.c_str());
}

void Win32MainWindow::Repaint() {
  ::RedrawWindow(window_, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void Win32MainWindow::RunOnWindowThread(const std::function<void()>& action) {
  if (::GetCurrentThreadId() == windowThread_) {
    action();
  } else {
    ::SendMessageA(window_, MsgStatusText, 0, reinterpret_cast<LPARAM>(&action));
  }
}

void Win32MainWindow::PostWorkerDone() {
  ::PostMessageA(window_, MsgWorkerDone, 0, 0);
}

// Serves sent messages, posted ones, timers and painting; the user's input stays queued.
void Win32MainWindow::ServeUntil(const std::function<bool()>& done) {
  bool quit = false;
  int quitCode = 0;
  while (!done()) {
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0,
                          PM_REMOVE | PM_QS_POSTMESSAGE | PM_QS_PAINT | PM_QS_SENDMESSAGE)) {
      if (message.message == WM_QUIT) {
        quit = true;
        quitCode = static_cast<int>(message.wParam);
        continue;
      }
      ::TranslateMessage(&message);
      ::DispatchMessageA(&message);
      if (done()) break;
    }
    if (done()) break;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, WorkerPollMs,
                                QS_POSTMESSAGE | QS_PAINT | QS_SENDMESSAGE | QS_TIMER);
  }
  if (quit) ::PostQuitMessage(quitCode);
}

void Win32MainWindow::WatchWorker(bool on) {
  if (on) {
    ::SetTimer(window_, WorkerWatchTimer, WorkerPollMs, nullptr);
  } else {
    ::KillTimer(window_, WorkerWatchTimer);
  }
}

void Win32MainWindow::RequestClose() {
  ::PostMessageA(window_, WM_CLOSE, 0, 0);
}

void Win32MainWindow::HoldInput(bool hold) {
  holdingInput_ = hold;
  if (hold) return;
  // What the user gave meanwhile is dropped.
  MSG message;
  while (::PeekMessageA(&message, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
  }
  while (::PeekMessageA(&message, nullptr, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE)) {
  }
  while (::PeekMessageA(&message, nullptr, WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK, PM_REMOVE)) {
  }
}

int Win32MainWindow::Run() {
  MSG message;
  while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (holdingInput_ && IsUserInput(message.message)) continue;
    // Tab and the arrow keys move between the controls as in a dialog.
    if (::IsDialogMessageA(window_, &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}

// ---- events ---------------------------------------------------------------------------------

LRESULT CALLBACK Win32MainWindow::WindowProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    reinterpret_cast<Win32MainWindow*>(create->lpCreateParams)->window_ = window;
  }
  auto* self = reinterpret_cast<Win32MainWindow*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
  if (!self) return ::DefWindowProcA(window, message, wParam, lParam);
  return self->Handle(message, wParam, lParam);
}

LRESULT Win32MainWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case MsgStatusText:
      (*reinterpret_cast<const std::function<void()>*>(lParam))();
      return 0;
    case MsgWorkerDone:
      if (form_) form_->WorkerDone();
      return 0;
    case WM_TIMER:
      if (wParam == WorkerWatchTimer && form_) form_->WorkerWatchTimer();
      return 0;
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) Command(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
      if (LRESULT brush =
              Colour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam), message))
        return brush;
      break;
    case WM_CLOSE:
      if (form_ && !form_->FormCloseQuery()) return 0;
      ::DestroyWindow(window_);
      return 0;
    case WM_DESTROY:
      window_ = nullptr;
      ::PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return ::DefWindowProcA(window_, message, wParam, lParam);
}

void Win32MainWindow::Command(int id, int) {
  if (!form_) return;
  if (id == IdOf(Control::Button4)) form_->Button4Click();
  if (id == IdOf(Control::Button5)) form_->Button5Click();
  if (id == IdOf(Control::Button6)) form_->Button6Click();
  if (id == IdOf(Control::Button1)) form_->Button1Click();
}

// The colours of the layout table: red text in the log pane, the lime port list while connected,
// the frames' active-border colour behind their captions and the controls standing on them.
LRESULT Win32MainWindow::Colour(HDC dc, HWND control, UINT message) {
  if (control == memo_) {
    ::SetTextColor(dc, LogTextColour);
    ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
    return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
  }
  // The control's row, or for a part of a list, the list's.
  size_t row = RowOf(control);
  if (row == controls_.size()) row = RowOf(::GetParent(control));
  const ControlLayout* layout = row < controls_.size() ? &MainWindowLayout()[row] : nullptr;
  if (layout && layout->Named == Control::ComboBox1) {
    if (!portConnected_) return 0;
    ::SetBkColor(dc, ConnectedPortColour);
    return reinterpret_cast<LRESULT>(lime_);
  }
  if (message != WM_CTLCOLORSTATIC) return 0;
  // Edit fields and lists keep their own colours, also while disabled.
  if (layout && (layout->Kind == ControlKind::Edit || layout->Kind == ControlKind::List)) return 0;
  ::SetBkColor(dc, ::GetSysColor(COLOR_ACTIVEBORDER));
  return reinterpret_cast<LRESULT>(activeBorder_);
}

LRESULT Win32MainWindow::HandleControl(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  // Only controls of the table are subclassed.
  const ControlLayout& layout = MainWindowLayout().at(RowOf(control));
  const bool frame = layout.Kind == ControlKind::Frame;
  const bool field = layout.Kind == ControlKind::Edit;
  switch (message) {
    case WM_ERASEBKGND:
      if (frame) {
        RECT area;
        ::GetClientRect(control, &area);
        ::FillRect(reinterpret_cast<HDC>(wParam), &area, activeBorder_);
        return 1;
      }
      break;
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
      // The frames that hold controls pass their notifications on to the window.
      if (frame) return ::SendMessageA(window_, message, wParam, lParam);
      break;
    case WM_NCHITTEST:
      // A frame lets the mouse through to what lies below it, unless it has a hint of its own.
      // The radio buttons standing on it lie above it and still take their clicks.
      if (frame && !layout.Hint.empty()) return HTCLIENT;
      break;
    case WM_LBUTTONDBLCLK:
      if (field && form_) {
        if (control == Widget(Control::Edit1)) form_->Edit1DblClick();
        if (control == Widget(Control::Edit2)) form_->Edit2DblClick();
        if (control == Widget(Control::Edit3)) form_->Edit3DblClick();
        return 0;
      }
      break;
    case WM_SETCURSOR:
      if (LOWORD(lParam) == HTCLIENT && layout.Cursor != Pointer::Arrow) {
        const bool hand = layout.Cursor == Pointer::Hand;
        ::SetCursor(::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(hand ? IDC_HAND : IDC_WAIT)));
        return TRUE;
      }
      break;
    default:
      break;
  }
  return ::DefSubclassProc(control, message, wParam, lParam);
}

// ---- instance host --------------------------------------------------------------------------

void Win32MainWindow::Terminate() {
  terminationRequested_ = true;
  ::PostQuitMessage(0);
}

void Win32MainWindow::ShowErrorReport(const std::string& text) {
  dialogs_->ErrorReport(text);
}

void Win32MainWindow::ShowWarning(const std::string& text) {
  dialogs_->WarningMessage(text);
}

bool Win32MainWindow::RaiseWindowTitled(const std::string& title) {
  return instance::RaiseTopLevelWindow(title);
}

}  // namespace window
