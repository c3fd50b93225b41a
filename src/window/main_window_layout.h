// The layout table of the main window, free of any toolkit: each control's kind, the frame that
// holds it, its place and size, caption, hint, default items and state, and its place in the
// tab order. Both views build their controls from it, and the tests check what they built
// against it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "window/main_window_view.h"

namespace window {

// The name of the window in the layout, and its caption, the same on every system.
inline constexpr const char* FormName = "Form1";
inline constexpr const char* WindowCaption = "Pyrelink 607X  v1.0.0";

// A place and size in pixels, from the top left of what holds it.
struct Bounds {
  int Left;
  int Top;
  int Width;
  int Height;
  bool operator==(const Bounds&) const = default;
};

// The window's place and outer size, and what is left inside its frame and caption.
inline constexpr Bounds FormBounds = {185, 80, 591, 460};
inline constexpr int ClientWidth = 583;
inline constexpr int ClientHeight = 426;

// The classic face first; on systems without it, narrow faces that keep the captions inside
// the fixed control sizes.
inline constexpr const char* FontFaces[] = {"MS Sans Serif", "Nimbus Sans Narrow",
                                            "Liberation Sans Narrow", "DejaVu Sans Condensed"};
inline constexpr int FontPixels = 10;

// Colours as 0x00BBGGRR: the window's face, the log pane's text and the port list while
// connected. Frames, labels, check boxes and radio buttons show the system's active-border
// colour.
inline constexpr uint32_t WindowColour = 0xC0C0C0;         // silver
inline constexpr uint32_t LogTextColour = 0x0000FF;        // red
inline constexpr uint32_t ConnectedPortColour = 0x00FF00;  // lime green

enum class ControlKind {
  Memo,  // the log pane, read-only, its lines scrolled both ways
  Frame,
  List,   // a drop-down list that cannot be typed in
  Label,  // grows to its caption, from the position given
  CheckBox,
  Edit,
  Button,
  RadioButton,
  ProgressBar,  // 0 to 100
};

enum class Pointer { Arrow, Hand, Wait };

inline constexpr int NoTabOrder = -1;

struct ControlLayout {
  const char* Name;
  ControlKind Kind;
  Bounds Box;
  // The frame that holds it; none: the window itself.
  std::string_view Parent = {};
  // A frame's title, a button's, box's or label's caption, an edit field's text.
  std::string Caption = "";
  // Shown while the mouse rests on it.
  std::string Hint = "";
  // A list's items, the log pane's lines.
  std::vector<std::string> Items = {};
  bool Checked = false;
  bool Visible = true;
  Pointer Cursor = Pointer::Arrow;
  // Its place in the tab order of its parent's controls; a label takes no focus.
  int TabOrder = NoTabOrder;
  // The first of a group that the arrow keys move in.
  bool StartsGroup = false;
  // A radio button: the frame it stands on; the buttons of one frame exclude each other.
  std::string_view Group = {};
  bool Centred = false;
  // Its name for the window's behaviour, when the behaviour reads or changes it.
  std::optional<Control> Named = std::nullopt;
};

// Every control, in the order they are made: a frame before what it holds.
const std::vector<ControlLayout>& MainWindowLayout();

// A control's row in the table; an unknown name throws std::out_of_range.
size_t LayoutRow(std::string_view name);
size_t LayoutRow(Control control);
const ControlLayout& LayoutOf(Control control);

// A control's number among the window's children: its row's, after the numbers a dialog
// manager gives a meaning to (OK, Cancel, ...). Tests find the Win32 view's controls by it.
inline constexpr int FirstControlId = 100;
int ControlId(size_t row);

}  // namespace window
