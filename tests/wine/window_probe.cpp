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
// CONTROL is a name of the layout table (Memo1, Button4, ComboBox1, ...). Exit 2: no window, or
// no such control.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "window/win32_control_ids.h"

namespace {

using window::Control;

struct Named {
  const char* name;
  int id;
};
const Named Controls[] = {
    {"Memo1", window::Memo1Id},
    {"ComboBox1", window::ControlId(Control::ComboBox1)},
    {"ComboBox2", window::ControlId(Control::ComboBox2)},
    {"CheckBox1", window::ControlId(Control::CheckBox1)},
    {"CheckBox2", window::ControlId(Control::CheckBox2)},
    {"CheckBox3", window::ControlId(Control::CheckBox3)},
    {"Edit1", window::ControlId(Control::Edit1)},
    {"Edit2", window::ControlId(Control::Edit2)},
    {"Edit3", window::ControlId(Control::Edit3)},
    {"Button1", window::ControlId(Control::Button1)},
    {"Button4", window::ControlId(Control::Button4)},
    {"Button5", window::ControlId(Control::Button5)},
    {"Button6", window::ControlId(Control::Button6)},
    {"RadioButton1", window::ControlId(Control::RadioButton1)},
    {"RadioButton2", window::ControlId(Control::RadioButton2)},
    {"RadioButton3", window::ControlId(Control::RadioButton3)},
    {"RadioButton4", window::ControlId(Control::RadioButton4)},
    {"RadioButton5", window::ControlId(Control::RadioButton5)},
    {"Label4", window::ControlId(Control::Label4)},
    {"ProgressBar1", window::ProgressBar1Id},
};

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
  if (!form || argc < 3) return 2;
  HWND control = nullptr;
  for (const Named& named : Controls)
    if (std::strcmp(named.name, argv[2]) == 0) control = FindControl(form, named.id);
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
