#include "window/win32_dialogs.h"

#include <commdlg.h>

#include <vector>

namespace window {

int Win32Dialogs::Box(const std::string& text, const std::string& title, UINT style) {
  return ::MessageBoxA(owner_(), text.c_str(), title.c_str(), style | MB_TASKMODAL);
}

bool Win32Dialogs::Confirm(const std::string& text) {
  return Box(text, "Confirm", MB_YESNO | MB_ICONQUESTION) == IDYES;
}

bool Win32Dialogs::Warning(const std::string& text) {
  return Box(text, "Warning", MB_YESNO | MB_ICONWARNING) == IDYES;
}

bool Win32Dialogs::RiskWarning(const std::string& text) {
  return Box(text, "Warning", MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

void Win32Dialogs::Message(const std::string& text) {
  Box(text, title_(), MB_OK);
}

void Win32Dialogs::WarningMessage(const std::string& text) {
  Box(text, "Warning", MB_OK | MB_ICONWARNING);
}

void Win32Dialogs::ErrorReport(const std::string& text) {
  Box(text, title_(), MB_OK | MB_ICONERROR);
}

std::optional<std::string> Win32Dialogs::OpenFile(const std::string& title,
                                                  const std::string& filter,
                                                  const std::string& lastName) {
  const std::string filterText = Win32FilterFromClassic(filter);
  std::vector<char> file(32768, '\0');
  lastName.copy(file.data(), file.size() - 1);
  OPENFILENAMEA dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner_();
  dialog.lpstrFilter = filterText.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = static_cast<DWORD>(file.size());
  dialog.lpstrTitle = title.c_str();
  // The chosen file need not exist: READ may name a new one.
  dialog.Flags = OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_EXPLORER;
  if (!::GetOpenFileNameA(&dialog)) return std::nullopt;
  return std::string(file.data());
}

std::string Win32FilterFromClassic(const std::string& classic) {
  std::string filter;
  size_t start = 0;
  std::vector<std::string> parts;
  for (size_t bar; (bar = classic.find('|', start)) != std::string::npos; start = bar + 1)
    parts.push_back(classic.substr(start, bar - start));
  parts.push_back(classic.substr(start));
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    filter += parts[i] + '\0';
    filter += parts[i + 1] + '\0';
  }
  return filter + '\0';
}

}  // namespace window
