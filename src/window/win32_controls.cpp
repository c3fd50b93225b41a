#include "window/win32_controls.h"

#include <commctrl.h>
#include <uxtheme.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <string>
#include <string_view>

#include "window/main_window_layout.h"

namespace window {

namespace {

// A drop-down list's window reaches down to its open list; the table gives the closed field.
constexpr int ListOpenHeight = 160;
// The radio button with the widest caption, and the room its mark leaves for its text.
constexpr const char* WidestCaption = "RadioButton2";
constexpr int RadioMarkWidth = 18;

struct ClassAndStyle {
  const char* name;
  DWORD style;
};

// Each kind's window class and styles, in the order of ControlKind.
const ClassAndStyle Kinds[] = {
    {WC_EDITA, ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL | WS_VSCROLL |
                   WS_HSCROLL | WS_TABSTOP},
    {WC_BUTTONA, BS_GROUPBOX | WS_CLIPSIBLINGS},
    {WC_COMBOBOXA, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP},
    {WC_STATICA, 0},
    {WC_BUTTONA, BS_AUTOCHECKBOX | WS_TABSTOP},
    {WC_EDITA, ES_AUTOHSCROLL | WS_TABSTOP},
    {WC_BUTTONA, BS_PUSHBUTTON | WS_TABSTOP},
    {WC_BUTTONA, BS_AUTORADIOBUTTON},
    {PROGRESS_CLASSA, 0},
};
static_assert(std::size(Kinds) == static_cast<size_t>(ControlKind::ProgressBar) + 1);

DWORD StyleOf(const ControlLayout& row, bool holdsControls) {
  DWORD style = WS_CHILD | Kinds[static_cast<size_t>(row.Kind)].style;
  if (row.Visible) style |= WS_VISIBLE;
  if (row.StartsGroup) style |= WS_GROUP;
  // Tab reaches a group of radio buttons at its first.
  if (row.Kind == ControlKind::RadioButton && row.StartsGroup) style |= WS_TABSTOP;
  if (row.Centred) style |= SS_CENTER;
  if (holdsControls) style |= WS_CLIPCHILDREN;
  return style;
}

bool HoldsControls(const ControlLayout& frame) {
  const std::vector<ControlLayout>& layout = MainWindowLayout();
  return std::any_of(layout.begin(), layout.end(),
                     [&](const ControlLayout& row) { return row.Parent == frame.Name; });
}

SIZE TextExtent(HDC dc, const std::string& text) {
  SIZE extent{};
  ::GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &extent);
  return extent;
}

// A label grows to its caption, from the position given.
void GrowToCaption(HWND label, HFONT font, const std::string& caption) {
  HDC dc = ::GetDC(label);
  HGDIOBJ old = ::SelectObject(dc, font);
  const SIZE extent = TextExtent(dc, caption);
  ::SelectObject(dc, old);
  ::ReleaseDC(label, dc);
  RECT rect;
  ::GetWindowRect(label, &rect);
  if (extent.cx > rect.right - rect.left)
    ::SetWindowPos(label, nullptr, 0, 0, extent.cx, rect.bottom - rect.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

HFONT PickFont(HWND window) {
  const ControlLayout& radio = MainWindowLayout()[LayoutRow(WidestCaption)];
  const int room = radio.Box.Width - RadioMarkWidth;
  HFONT first = nullptr;
  HDC dc = ::GetDC(window);
  for (const char* face : FontFaces) {
    HFONT font = ::CreateFontA(-FontPixels, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                               DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                               DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, face);
    HGDIOBJ old = ::SelectObject(dc, font);
    char chosen[LF_FACESIZE] = {0};
    ::GetTextFaceA(dc, sizeof chosen, chosen);
    const SIZE extent = TextExtent(dc, radio.Caption);
    ::SelectObject(dc, old);
    const bool present = _stricmp(chosen, face) == 0;
    if (!first) {
      first = font;
      if (extent.cx <= room) break;
      continue;
    }
    if (present && extent.cx <= room) {
      ::DeleteObject(first);
      first = font;
      break;
    }
    ::DeleteObject(font);
  }
  ::ReleaseDC(window, dc);
  return first;
}

HWND MakeControl(size_t row, HWND parent, HINSTANCE instance, HFONT font) {
  const ControlLayout& layout = MainWindowLayout()[row];
  const bool holdsControls = layout.Kind == ControlKind::Frame && HoldsControls(layout);
  const bool edit = layout.Kind == ControlKind::Memo || layout.Kind == ControlKind::Edit;
  const Bounds& box = layout.Box;
  HWND control = ::CreateWindowExA(
      edit ? WS_EX_CLIENTEDGE : 0, Kinds[static_cast<size_t>(layout.Kind)].name,
      layout.Caption.c_str(), StyleOf(layout, holdsControls), box.Left, box.Top, box.Width,
      layout.Kind == ControlKind::List ? ListOpenHeight : box.Height, parent,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(row))), instance, nullptr);
  ::SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  // Children's notifications reach the window through the frames that hold them.
  if (holdsControls) ::SetWindowLongPtrA(control, GWL_EXSTYLE, WS_EX_CONTROLPARENT);
  if (layout.Checked) ::SendMessageA(control, BM_SETCHECK, BST_CHECKED, 0);
  switch (layout.Kind) {
    case ControlKind::List:
      for (const std::string& item : layout.Items)
        ::SendMessageA(control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
      // The closed field as high as the layout table gives it: the selection area and its border.
      ::SendMessageA(control, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), box.Height - 6);
      break;
    case ControlKind::Label:
      GrowToCaption(control, font, layout.Caption);
      break;
    case ControlKind::Memo: {
      ::SendMessageA(control, EM_SETLIMITTEXT, 0, 0);  // the log is never trimmed
      std::string lines;
      for (const std::string& line : layout.Items) lines += (lines.empty() ? "" : "\r\n") + line;
      ::SetWindowTextA(control, lines.c_str());
      break;
    }
    case ControlKind::ProgressBar:
      // A themed bar is drawn in the theme's colour whatever it is told: the phases' colours
      // need the classic one.
      ::SetWindowTheme(control, L" ", L" ");
      ::SendMessageA(control, PBM_SETRANGE32, 0, 100);
      ::SendMessageA(control, PBM_SETPOS, 0, 0);
      break;
    default:
      break;
  }
  return control;
}

// The tab order is the order of the siblings: the table's tab order, then what takes no focus.
// Each frame lies below the radio buttons standing on it (it clips away what lies above it),
// which leaves the order of the tab stops as it is.
void StackInTabOrder(const std::vector<HWND>& controls) {
  const std::vector<ControlLayout>& layout = MainWindowLayout();
  std::map<std::string_view, std::map<size_t, HWND>> siblings;  // by parent, by place
  for (size_t row = 0; row < layout.size(); ++row) {
    const int order = layout[row].TabOrder;
    size_t place = order == NoTabOrder ? 2 * layout.size() + row : 2 * static_cast<size_t>(order);
    for (const ControlLayout& button : layout)
      if (button.Group == layout[row].Name)
        place = std::max(place, 2 * static_cast<size_t>(button.TabOrder) + 1);
    siblings[layout[row].Parent][place] = controls[row];
  }
  for (const auto& [parent, order] : siblings) {
    HWND previous = HWND_TOP;
    for (const auto& [place, control] : order) {
      ::SetWindowPos(control, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      previous = control;
    }
  }
}

}  // namespace window
