// Scripted message boxes and file dialog: they record what was asked and answer from a script
// (the box's default when it has run out: Yes, but No for a risk warning), so that window tests need no one to click.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "window/dialogs.h"

namespace testing_support {

class FakeDialogs : public window::Dialogs {
 public:
  struct Asked {
    std::string kind;  // "Confirm", "Warning", "RiskWarning", "Message", "WarningMessage", "Error"
    std::string text;
    bool operator==(const Asked&) const = default;
  };

  std::vector<Asked> asked;
  std::deque<bool> answers;
  std::optional<std::string> chosenFile;
  std::string fileTitle, fileFilter, fileLast;
  int filePickerOpened = 0;

  std::vector<std::string> AskedTexts() const;

  bool Confirm(const std::string& text) override;
  bool Warning(const std::string& text) override;
  bool RiskWarning(const std::string& text) override;
  void Message(const std::string& text) override;
  void WarningMessage(const std::string& text) override;
  void ErrorReport(const std::string& text) override;
  std::optional<std::string> OpenFile(const std::string& title, const std::string& filter,
                                      const std::string& lastName) override;

 protected:
  // Each box or dialog as it opens ("Ask Confirm", "OpenFile").
  virtual void Opened(const std::string&) {}

 private:
  bool Ask(const std::string& kind, const std::string& text, bool byDefault = true);
};

}  // namespace testing_support
