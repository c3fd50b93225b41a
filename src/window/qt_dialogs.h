// The Qt view's message boxes and file dialog.
#pragma once

#include <QString>

#include "window/dialogs.h"

class QWidget;

namespace window {

class QtDialogs : public Dialogs {
 public:
  explicit QtDialogs(QWidget* parent) : parent_(parent) {}
  bool Confirm(const std::string& text) override;
  bool Warning(const std::string& text) override;
  bool RiskWarning(const std::string& text) override;
  void Message(const std::string& text) override;
  void WarningMessage(const std::string& text) override;
  void ErrorReport(const std::string& text) override;
  std::optional<std::string> OpenFile(const std::string& title, const std::string& filter,
                                      const std::string& lastName) override;

 private:
  QWidget* parent_;
};

// "Binary files (*.bin)|*.bin;*.BIN;" (description|patterns separated by ";") as a Qt filter.
QString QtFilterFromClassic(const QString& classic);

}  // namespace window
