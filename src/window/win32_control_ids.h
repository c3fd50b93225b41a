// The child-window ids of the Win32 view's controls: the controls the behaviour names, in the
// order of their enum, the log pane and the
// progress bar. Tests find the controls by them.
#pragma once

#include "window/main_window_view.h"

namespace window {

// After the ids that a dialog manager gives a meaning to (IDOK, IDCANCEL, ...).
inline constexpr int FirstControlId = 100;
inline constexpr int Memo1Id = 99;
inline constexpr int ProgressBar1Id = 98;

constexpr int ControlId(Control control) {
  return FirstControlId + static_cast<int>(control);
}

}  // namespace window
