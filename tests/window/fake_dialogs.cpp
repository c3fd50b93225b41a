#include "window/fake_dialogs.h"

namespace testing_support {

std::vector<std::string> FakeDialogs::AskedTexts() const {
  std::vector<std::string> texts;
  for (const Asked& box : asked) texts.push_back(box.text);
  return texts;
}

bool FakeDialogs::Ask(const std::string& kind, const std::string& text, bool byDefault) {
  Opened("Ask " + kind);
  asked.push_back({kind, text});
  bool answer = answers.empty() ? byDefault : answers.front();
  if (!answers.empty()) answers.pop_front();
  return answer;
}

bool FakeDialogs::Confirm(const std::string& text) {
  return Ask("Confirm", text);
}

bool FakeDialogs::Warning(const std::string& text) {
  return Ask("Warning", text);
}

bool FakeDialogs::RiskWarning(const std::string& text) {
  return Ask("RiskWarning", text, false);
}

void FakeDialogs::Message(const std::string& text) {
  Ask("Message", text);
}

void FakeDialogs::WarningMessage(const std::string& text) {
  Ask("WarningMessage", text);
}

void FakeDialogs::ErrorReport(const std::string& text) {
  Ask("Error", text);
}

std::optional<std::string> FakeDialogs::OpenFile(const std::string& title,
                                                 const std::string& filter,
                                                 const std::string& lastName) {
  Opened("OpenFile");
  ++filePickerOpened;
  fileTitle = title;
  fileFilter = filter;
  fileLast = lastName;
  return chosenFile;
}

}  // namespace testing_support
