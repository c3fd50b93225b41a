#include "window/win32_main_window.h"

#include <commctrl.h>
#include <uxtheme.h>

#include "window/win32_control_ids.h"
#include "window/win32_dialogs.h"

namespace window {

namespace {

constexpr int WindowLeft = 185;
constexpr int WindowTop = 80;
constexpr int WindowWidth = 591;
constexpr int WindowHeight = 460;
constexpr int FontPixels = 10;
constexpr UINT WorkerPollMs = 10;
constexpr UINT_PTR WorkerWatchTimer = 1;
// The drop-down lists' closed height in the layout table; the list opens below it.
constexpr int ListFieldHeight = 21;
constexpr int ListOpenHeight = 160;
constexpr COLORREF Silver = RGB(0xC0, 0xC0, 0xC0);
constexpr COLORREF LimeGreen = RGB(0, 255, 0);
constexpr COLORREF Red = RGB(255, 0, 0);

int IdOf(Control control) {
  return ControlId(control);
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
      silver_(::CreateSolidBrush(Silver)),
      activeBorder_(::CreateSolidBrush(::GetSysColor(COLOR_ACTIVEBORDER))),
      lime_(::CreateSolidBrush(LimeGreen)) {
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
      WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN, WindowLeft,
      WindowTop, WindowWidth, WindowHeight, nullptr, nullptr, instance_, this);
  font_ = PickFont();
  ::SendMessageA(window_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  BuildControls();
  SetTabOrder();

  // Loading the layout creates the guard, which checks for a running copy before FormCreate.
  OneInstance1 = std::make_unique<instance::TOneInstance>(*this);
  OneInstance1->InformUser = false;
  OneInstance1->RaisePriorInstance = false;
  OneInstance1->Loaded();
  form_ = std::make_unique<TForm1>(*this, *dialogs_);
}

// The classic face first. Where it is only a stand-in whose captions outgrow the fixed control
// sizes (Wine maps it to a wider face), narrow faces of the system keep them inside.
HFONT Win32MainWindow::PickFont() {
  const char* const faces[] = {"MS Sans Serif", "Nimbus Sans Narrow", "Liberation Sans Narrow",
                               "DejaVu Sans Condensed"};
  // The widest caption beside its button: the room a radio button leaves for its text.
  const std::string widest = "Safe (Write, Verify, Rewrite diff. blocks)";
  constexpr int Room = 209 - 18;
  HFONT first = nullptr;
  HDC dc = ::GetDC(window_);
  for (const char* face : faces) {
    HFONT font = ::CreateFontA(-FontPixels, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                               DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                               DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, face);
    HGDIOBJ old = ::SelectObject(dc, font);
    char chosen[LF_FACESIZE] = {0};
    ::GetTextFaceA(dc, sizeof chosen, chosen);
    SIZE extent{};
    ::GetTextExtentPoint32A(dc, widest.c_str(), static_cast<int>(widest.size()), &extent);
    ::SelectObject(dc, old);
    const bool present = _stricmp(chosen, face) == 0;
    if (!first) {
      first = font;
      if (extent.cx <= Room) break;
      continue;
    }
    if (present && extent.cx <= Room) {
      ::DeleteObject(first);
      first = font;
      break;
    }
    ::DeleteObject(font);
  }
  ::ReleaseDC(window_, dc);
  return first;
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

HWND Win32MainWindow::Make(HWND parent, const char* kind, const char* text, DWORD style, int left,
                           int top, int width, int height, int id) {
  DWORD extended = 0;
  if (std::string(kind) == WC_EDITA) extended = WS_EX_CLIENTEDGE;
  HWND control =
      ::CreateWindowExA(extended, kind, text, WS_CHILD | style, left, top, width, height, parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
  ::SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  return control;
}

void Win32MainWindow::BuildControls() {
  constexpr DWORD Shown = WS_VISIBLE;
  constexpr DWORD Frame = Shown | BS_GROUPBOX | WS_CLIPSIBLINGS | WS_GROUP;
  constexpr DWORD List = Shown | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
  constexpr DWORD Push = Shown | BS_PUSHBUTTON | WS_TABSTOP;
  constexpr DWORD Radio = Shown | BS_AUTORADIOBUTTON;
  constexpr DWORD Check = Shown | BS_AUTOCHECKBOX | WS_TABSTOP;
  constexpr DWORD Field = Shown | ES_AUTOHSCROLL | WS_TABSTOP;

  Memo1 = Make(window_, WC_EDITA, "",
               Shown | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL | WS_VSCROLL |
                   WS_HSCROLL | WS_TABSTOP,
               288, 248, 273, 145, Memo1Id);
  // Children's notifications reach the window through the frames that hold them.
  GroupBox1 = Make(window_, WC_BUTTONA, "COMMUNICATION", Frame | WS_CLIPCHILDREN, 24, 16, 537, 81);
  ::SetWindowLongPtrA(GroupBox1, GWL_EXSTYLE, WS_EX_CONTROLPARENT);
  ComboBox1 = Make(GroupBox1, WC_COMBOBOXA, "", List | WS_GROUP, 72, 32, 97, ListOpenHeight,
                   IdOf(Control::ComboBox1));
  ComboBox2 = Make(GroupBox1, WC_COMBOBOXA, "", List, 224, 32, 81, ListOpenHeight,
                   IdOf(Control::ComboBox2));
  for (const char* port : {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6"})
    ::SendMessageA(ComboBox1, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(port));
  for (const char* baud : {"9600", "38400", "115200"})
    ::SendMessageA(ComboBox2, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(baud));
  // The closed field as high as the layout table gives it: the selection area and its border.
  for (HWND list : {ComboBox1, ComboBox2})
    ::SendMessageA(list, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), ListFieldHeight - 6);
  Label1 = Make(GroupBox1, WC_STATICA, "Serial port", Shown, 16, 36, 47, 13);
  Label2 = Make(GroupBox1, WC_STATICA, "Baud", Shown, 192, 36, 25, 13);
  GroupBox2 = Make(window_, WC_BUTTONA, "FILES", Frame | WS_CLIPCHILDREN, 24, 104, 537, 129);
  ::SetWindowLongPtrA(GroupBox2, GWL_EXSTYLE, WS_EX_CONTROLPARENT);
  CheckBox1 = Make(GroupBox2, WC_BUTTONA, "Firmware 2MB", Check | WS_GROUP, 24, 24, 97, 17,
                   IdOf(Control::CheckBox1));
  CheckBox2 =
      Make(GroupBox2, WC_BUTTONA, "Eeprom 2KB", Check, 24, 56, 97, 17, IdOf(Control::CheckBox2));
  CheckBox3 =
      Make(GroupBox2, WC_BUTTONA, "Channel 512KB", Check, 24, 88, 97, 17, IdOf(Control::CheckBox3));
  Edit1 = Make(GroupBox2, WC_EDITA, "Fw.bin", Field, 128, 24, 393, 21, IdOf(Control::Edit1));
  Edit2 = Make(GroupBox2, WC_EDITA, "E.bin", Field, 128, 56, 393, 21, IdOf(Control::Edit2));
  Edit3 = Make(GroupBox2, WC_EDITA, "Ch.bin", Field, 128, 88, 393, 21, IdOf(Control::Edit3));
  Button4 = Make(GroupBox1, WC_BUTTONA, "Connect", Push, 440, 32, 81, 25, IdOf(Control::Button4));
  Button5 =
      Make(window_, WC_BUTTONA, "READ", Push | WS_GROUP, 24, 360, 73, 33, IdOf(Control::Button5));
  Button6 =
      Make(window_, WC_BUTTONA, "WRITE", Push | WS_GROUP, 168, 360, 73, 33, IdOf(Control::Button6));
  RadioGroup1 = Make(window_, WC_BUTTONA, "WRITE METHOD", Frame, 24, 248, 249, 97);
  RadioButton1 = Make(window_, WC_BUTTONA, "Normal (Write once)", Radio | WS_GROUP | WS_TABSTOP, 48,
                      272, 209, 17, IdOf(Control::RadioButton1));
  RadioButton2 = Make(window_, WC_BUTTONA, "Safe (Write, Verify, Rewrite diff. blocks)", Radio, 48,
                      296, 209, 17, IdOf(Control::RadioButton2));
  RadioButton3 = Make(window_, WC_BUTTONA, "Different blocks (Verify before Writing)", Radio, 48,
                      320, 209, 17, IdOf(Control::RadioButton3));
  ProgressBar1 =
      Make(window_, PROGRESS_CLASSA, "", Shown | WS_GROUP, 24, 400, 505, 17, ProgressBar1Id);
  // A themed bar is drawn in the theme's colour whatever it is told: the phases' colours need
  // the classic one.
  ::SetWindowTheme(ProgressBar1, L" ", L" ");
  ::SendMessageA(ProgressBar1, PBM_SETRANGE32, 0, 100);
  ::SendMessageA(ProgressBar1, PBM_SETPOS, 0, 0);
  // Hidden until a job runs.
  Button1 = Make(window_, WC_BUTTONA, "Abort", BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP, 104, 360, 57,
                 33, IdOf(Control::Button1));
  Label4 = Make(window_, WC_STATICA, " ", Shown | SS_CENTER | WS_GROUP, 528, 400, 33, 17,
                IdOf(Control::Label4));
  RadioGroup2 = Make(GroupBox1, WC_BUTTONA, "Status of deco", Frame, 320, 16, 105, 57);
  RadioButton4 = Make(GroupBox1, WC_BUTTONA, "Standby --:--", Radio | WS_GROUP | WS_TABSTOP, 328,
                      32, 89, 17, IdOf(Control::RadioButton4));
  RadioButton5 = Make(GroupBox1, WC_BUTTONA, "Service -SE-", Radio, 328, 48, 89, 17,
                      IdOf(Control::RadioButton5));
  ::SendMessageA(RadioButton1, BM_SETCHECK, BST_CHECKED, 0);
  ::SendMessageA(RadioButton4, BM_SETCHECK, BST_CHECKED, 0);

  // Labels size themselves to their caption, from the position given.
  for (HWND label : {Label1, Label2}) {
    HDC dc = ::GetDC(label);
    HGDIOBJ old = ::SelectObject(dc, font_);
    std::string caption = WindowText(label);
    SIZE extent{};
    ::GetTextExtentPoint32A(dc, caption.c_str(), static_cast<int>(caption.size()), &extent);
    ::SelectObject(dc, old);
    ::ReleaseDC(label, dc);
    RECT rect;
    ::GetWindowRect(label, &rect);
    if (extent.cx > rect.right - rect.left)
      ::SetWindowPos(label, nullptr, 0, 0, extent.cx, rect.bottom - rect.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  ::SendMessageA(Memo1, EM_SETLIMITTEXT, 0, 0);  // the log is never trimmed
  std::string opening;
  for (const char* line : OpeningLines)
    opening += (opening.empty() ? "" : "\r\n") + std::string(line);
  ::SetWindowTextA(Memo1, opening.c_str());

  for (HWND control :
       {GroupBox1, GroupBox2, RadioGroup1, RadioGroup2, Edit1, Edit2, Edit3, Button1})
    Subclass(control);

  tips_ = ::CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr,
                            WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                            CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr, instance_, nullptr);
  Hint(CheckBox2, "Don't forget to write Eeprom !");
  for (HWND edit : {Edit1, Edit2, Edit3}) Hint(edit, "Double click to select file");
  Hint(Button5, "Read data from deco and save to files");
  Hint(Button6, "Write files to deco");
  Hint(RadioButton3, "May be faster");
  for (HWND control : {RadioGroup2, RadioButton4, RadioButton5})
    Hint(control, "See display of deco before connecting");
}

// The tab order is the order of the siblings. Each frame lies below the radio buttons standing
// on it (it clips away what lies above it), which leaves the order of the tab stops as it is.
void Win32MainWindow::SetTabOrder() {
  const std::vector<std::vector<HWND>> orders = {
      {GroupBox1, Memo1, GroupBox2, Button5, Button6, RadioButton1, RadioButton2, RadioButton3,
       RadioGroup1, ProgressBar1, Button1, Label4},
      {ComboBox1, ComboBox2, Button4, RadioButton4, RadioButton5, RadioGroup2, Label1, Label2},
      {CheckBox1, CheckBox2, CheckBox3, Edit1, Edit2, Edit3},
  };
  for (const std::vector<HWND>& order : orders) {
    HWND previous = HWND_TOP;
    for (HWND control : order) {
      ::SetWindowPos(control, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      previous = control;
    }
  }
}

void Win32MainWindow::Hint(HWND control, const char* text) {
  TTTOOLINFOA tool{};
  tool.cbSize = TTTOOLINFOA_V1_SIZE;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = window_;
  tool.uId = reinterpret_cast<UINT_PTR>(control);
  tool.lpszText = const_cast<char*>(text);
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
  return NamedControl<HWND>(*this, control);
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
  ::InvalidateRect(ComboBox1, nullptr, TRUE);
}

void Win32MainWindow::AddLogLine(const std::string& line) {
  int length = ::GetWindowTextLengthA(Memo1);
  std::string added = (length > 0 ? "\r\n" : "") + line;
  ::SendMessageA(Memo1, EM_SETSEL, length, length);
  ::SendMessageA(Memo1, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(added.c_str()));
  // During Connect the window's thread is busy: show each line as it comes.
  ::UpdateWindow(Memo1);
}

void Win32MainWindow::SetProgress(int32_t position) {
  ::SendMessageA(ProgressBar1, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void Win32MainWindow::SetBarColour(uint32_t colour) {
  ::SendMessageA(ProgressBar1, PBM_SETBARCOLOR, 0, static_cast<LPARAM>(colour));
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
  if (control == Memo1) {
    ::SetTextColor(dc, Red);
    ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
    return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
  }
  if (control == ComboBox1 || ::GetParent(control) == ComboBox1) {
    if (!portConnected_) return 0;
    ::SetBkColor(dc, LimeGreen);
    return reinterpret_cast<LRESULT>(lime_);
  }
  if (message != WM_CTLCOLORSTATIC) return 0;
  for (HWND own : {Edit1, Edit2, Edit3, ComboBox2})
    if (control == own || ::GetParent(control) == own) return 0;
  ::SetBkColor(dc, ::GetSysColor(COLOR_ACTIVEBORDER));
  return reinterpret_cast<LRESULT>(activeBorder_);
}

LRESULT Win32MainWindow::HandleControl(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  const bool frame = control == GroupBox1 || control == GroupBox2 || control == RadioGroup1 ||
                     control == RadioGroup2;
  const bool field = control == Edit1 || control == Edit2 || control == Edit3;
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
      // A frame lets the mouse through to what lies below it; this one has a hint of its own.
      // The radio buttons standing on it lie above it and still take their clicks.
      if (control == RadioGroup2) return HTCLIENT;
      break;
    case WM_LBUTTONDBLCLK:
      if (field && form_) {
        if (control == Edit1) form_->Edit1DblClick();
        if (control == Edit2) form_->Edit2DblClick();
        if (control == Edit3) form_->Edit3DblClick();
        return 0;
      }
      break;
    case WM_SETCURSOR:
      if (LOWORD(lParam) == HTCLIENT && (field || control == Button1)) {
        ::SetCursor(::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(field ? IDC_HAND : IDC_WAIT)));
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
