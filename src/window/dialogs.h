// The window's message boxes and file dialog behind one small interface, so that each view
// supplies its own and tests script the answers and read the texts.
#pragma once

#include <optional>
#include <string>

namespace window {

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // Title "Confirm", question icon, Yes and No; true for Yes.
  virtual bool Confirm(const std::string& text) = 0;
  // Title "Warning", warning icon, Yes and No; true for Yes.
  virtual bool Warning(const std::string& text) = 0;
  // Title "Warning", warning icon, Yes and No, No the default: for a step that may cost the
  // deco, where Enter must not say Yes.
  virtual bool RiskWarning(const std::string& text) = 0;
  // A plain message with an OK button.
  virtual void Message(const std::string& text) = 0;
  // Title "Warning", warning icon, an OK button.
  virtual void WarningMessage(const std::string& text) = 0;
  // The application's standard error report for an error that escaped a handler.
  virtual void ErrorReport(const std::string& text) = 0;
  // The file-open dialog; the chosen file's full path, or nothing when cancelled. filter is in
  // the classic form "description|pattern;pattern;" (more pairs follow after "|").
  virtual std::optional<std::string> OpenFile(const std::string& title, const std::string& filter,
                                              const std::string& lastName) = 0;
};

}  // namespace window
