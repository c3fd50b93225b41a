// The Win32 view's message boxes and file dialog.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "window/dialogs.h"

namespace window {

class Win32Dialogs : public Dialogs {
 public:
  // owner: the window the boxes belong to; title: the application's title, which plain messages
  // and the error report carry.
  Win32Dialogs(std::function<HWND()> owner, std::function<std::string()> title)
      : owner_(std::move(owner)), title_(std::move(title)) {}
  bool Confirm(const std::string& text) override;
  bool Warning(const std::string& text) override;
  bool RiskWarning(const std::string& text) override;
  void Message(const std::string& text) override;
  void WarningMessage(const std::string& text) override;
  void ErrorReport(const std::string& text) override;
  std::optional<std::string> OpenFile(const std::string& title, const std::string& filter,
                                      const std::string& lastName) override;

 private:
  int Box(const std::string& text, const std::string& title, UINT style);
  std::function<HWND()> owner_;
  std::function<std::string()> title_;
};

// "Binary files (*.bin)|*.bin;*.BIN;" (description|patterns, more pairs after "|") as the
// file dialog's filter: each part ended by a NUL, the whole by a second one.
std::string Win32FilterFromClassic(const std::string& classic);

}  // namespace window
