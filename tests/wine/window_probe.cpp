// Looks into a running pyrelink.exe for the Windows window test: finds the window by its class
// and its controls by their ids, and prints what they show. Usage:
//   window_probe text CONTROL     the control's text (WM_GETTEXT), as it is
//   window_probe where CONTROL    the screen position of the control's centre: "x y"
//   window_probe state CONTROL    "shown" or "hidden", then "enabled" or "disabled"
//   window_probe checked CONTROL  1 for a ticked check box or chosen radio button, else 0
//   window_probe colours CONTROL  the colours drawn along the control's middle line, each once,
//                                 as RRGGBB
//   window_probe dropped CONTROL  1 while the combo box's list is open, else 0
//   window_probe windows          how many windows of the program exist
//   window_probe foreground       the class of the window that has the keyboard ("TForm1" for
//                                 the main window, "#32770" for a message box or file dialog)
//   window_probe boxes            each message box shown: "title|text" with CR LF as "\n"; a
//                                 file dialog: "title|its chosen file type"
//   window_probe layout           each control that stands otherwise than the layout table
//                                 gives it, with what differs; nothing when all stand as given.
//                                 Run before the first change: the port list's items and the
//                                 log pane's lines are the window's own from then on.
// CONTROL is a name of the layout table (Memo1, Button4, ComboBox1, ...). Exit 2: no window, or
// no such control.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "window/main_window_layout.h"

namespace {

std::string TextOf(HWND window) {
  LRESULT length = ::SendMessageA(window, WM_GETTEXTLENGTH, 0, 0);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  length = ::SendMessageA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<size_t>(length));
  return text;
}

struct Search {
  int id;
  HWND found;
};

HWND FindControl(HWND form, int id) {
  Search search{id, nullptr};
  ::EnumChildWindows(
      form,
      [](HWND child, LPARAM data) -> BOOL {
        auto* search = reinterpret_cast<Search*>(data);
        if (::GetDlgCtrlID(child) != search->id) return TRUE;
        search->found = child;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

int CountWindows() {
  int count = 0;
  ::EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        char name[64] = {0};
        ::GetClassNameA(window, name, sizeof name);
        if (std::strcmp(name, "TForm1") == 0) ++*reinterpret_cast<int*>(data);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&count));
  return count;
}

void PrintBoxes() {
  ::EnumWindows(
      [](HWND window, LPARAM) -> BOOL {
        char name[64] = {0};
        ::GetClassNameA(window, name, sizeof name);
        if (std::strcmp(name, "#32770") != 0 || !::IsWindowVisible(window)) return TRUE;
        // A message box shows its text in the static control of id 0xFFFF; for the file-open
        // dialog, its chosen file type (the list of id cmb1) stands there.
        constexpr int MessageText = 0xFFFF, FileTypes = 0x470;
        std::string text;
        if (HWND message = ::GetDlgItem(window, MessageText)) {
          text = TextOf(message);
        } else if (HWND types = ::GetDlgItem(window, FileTypes)) {
          text = TextOf(types);
        }
        std::string line = TextOf(window) + "|";
        for (char c : text) {
          if (c == '\r') continue;
          line += c == '\n' ? std::string("\\n") : std::string(1, c);
        }
        std::printf("%s\n", line.c_str());
        return TRUE;
      },
      0);
}

// A label grows to its caption; a drop-down list's window reaches down to its open list.
void PrintLayoutDifferences(HWND form) {
  using window::ControlKind;
  const std::vector<window::ControlLayout>& layout = window::MainWindowLayout();
  for (size_t row = 0; row < layout.size(); ++row) {
    const window::ControlLayout& expected = layout[row];
    auto differs = [&](const char* what, const std::string& seen) {
      std::printf("%s: %s %s\n", expected.Name, what, seen.c_str());
    };
    HWND control = FindControl(form, window::ControlId(row));
    if (!control) {
      differs("missing", "");
      continue;
    }
    HWND parent = expected.Parent.empty()
                      ? form
                      : FindControl(form, window::ControlId(window::LayoutRow(expected.Parent)));
    if (::GetParent(control) != parent) differs("in another parent", "");
    RECT rect;
    ::GetWindowRect(control, &rect);
    ::MapWindowPoints(HWND_DESKTOP, ::GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    const window::Bounds box = expected.Box;
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    const bool label = expected.Kind == ControlKind::Label;
    const bool list = expected.Kind == ControlKind::List;
    if (rect.left != box.Left || rect.top != box.Top ||
        (label ? width < box.Width : width != box.Width) || (!list && height != box.Height))
      differs("at", std::to_string(rect.left) + " " + std::to_string(rect.top) + " " +
                        std::to_string(width) + " " + std::to_string(height));
    const bool captioned =
        !list && expected.Kind != ControlKind::Memo && expected.Kind != ControlKind::ProgressBar;
    if (captioned && TextOf(control) != expected.Caption) differs("reads", TextOf(control));
    const bool checked = ::SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
    const bool checkable =
        expected.Kind == ControlKind::CheckBox || expected.Kind == ControlKind::RadioButton;
    if (checkable && checked != expected.Checked) differs("checked", checked ? "1" : "0");
    const bool shown = (::GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE) != 0;
    if (shown != expected.Visible) differs(shown ? "shown" : "hidden", "");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string command = argv[1];
  if (command == "windows") {
    std::printf("%d\n", CountWindows());
    return 0;
  }
  if (command == "boxes") {
    PrintBoxes();
    return 0;
  }
  if (command == "foreground") {
    char name[64] = {0};
    if (HWND foreground = ::GetForegroundWindow()) ::GetClassNameA(foreground, name, sizeof name);
    std::printf("%s\n", name);
    return 0;
  }
  HWND form = ::FindWindowA("TForm1", nullptr);
  if (form && command == "layout") {
    PrintLayoutDifferences(form);
    return 0;
  }
  // A close as the taskbar's Close sends it: posted, so it is asked even while the window's
  // thread is busy.
  if (form && command == "close") {
    ::PostMessageA(form, WM_SYSCOMMAND, SC_CLOSE, 0);
    return 0;
  }
  // 1 while the window's thread answers no message (Connect holds it).
  if (form && command == "busy") {
    DWORD_PTR answer = 0;
    std::printf("%d\n", ::SendMessageTimeoutA(form, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 300,
                                               &answer) == 0
                             ? 1
                             : 0);
    return 0;
  }
  if (!form || argc < 3) return 2;
  HWND control = nullptr;
  try {
    control = FindControl(form, window::ControlId(window::LayoutRow(argv[2])));
  } catch (const std::out_of_range&) {
  }
  if (!control) return 2;
  if (command == "text") {
    std::fputs(TextOf(control).c_str(), stdout);
  } else if (command == "where") {
    RECT rect;
    ::GetWindowRect(control, &rect);
    std::printf("%ld %ld\n", (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
  } else if (command == "state") {
    std::printf("%s %s\n", ::IsWindowVisible(control) ? "shown" : "hidden",
                ::IsWindowEnabled(control) ? "enabled" : "disabled");
  } else if (command == "checked") {
    std::printf("%d\n", ::SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0);
  } else if (command == "dropped") {
    std::printf("%d\n", ::SendMessageA(control, CB_GETDROPPEDSTATE, 0, 0) ? 1 : 0);
  } else if (command == "colours") {
    // A classic bar is drawn in blocks with gaps: every colour along its middle line.
    // Read from the screen: another program's window DC does not give back what it drew.
    RECT rect;
    ::GetWindowRect(control, &rect);
    HDC dc = ::GetDC(nullptr);
    std::string seen;
    for (int x = rect.left; x < rect.right; ++x) {
      COLORREF colour = ::GetPixel(dc, x, (rect.top + rect.bottom) / 2);
      char text[8];
      std::snprintf(text, sizeof text, "%02X%02X%02X", GetRValue(colour), GetGValue(colour),
                    GetBValue(colour));
      if (seen.find(text) == std::string::npos) seen += std::string(seen.empty() ? "" : " ") + text;
    }
    ::ReleaseDC(nullptr, dc);
    std::printf("%s\n", seen.c_str());
  } else {
    return 2;
  }
  return 0;
}
