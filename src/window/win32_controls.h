// The layout table's controls as Win32 system controls: each row's window class, styles,
// caption, items and state, the siblings stacked in the tab order, and the window's font.
#pragma once

#include <windows.h>

#include <cstddef>
#include <vector>

namespace window {

// The classic face, or where it is only a stand-in whose captions outgrow the fixed control
// sizes, a narrow face of the system. The caller deletes it.
HFONT PickFont(HWND window);

// The control of the layout table's row, as a child of parent, in the font given.
HWND MakeControl(size_t row, HWND parent, HINSTANCE instance, HFONT font);

// Stacks the siblings, given by their rows in the layout table, in the tab order.
void StackInTabOrder(const std::vector<HWND>& controls);

}  // namespace window
