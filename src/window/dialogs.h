// The window's message boxes and file dialog behind one small interface, so that tests can
// script the answers and read the texts.
#pragma once

#include <QString>
#include <optional>

class QWidget;

namespace window {

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // Title "Confirm", question icon, Yes and No; true for Yes.
  virtual bool Confirm(const QString& text) = 0;
  // Title "Warning", warning icon, Yes and No; true for Yes.
  virtual bool Warning(const QString& text) = 0;
  // A plain message with an OK button.
  virtual void Message(const QString& text) = 0;
  // Title "Warning", warning icon, an OK button.
  virtual void WarningMessage(const QString& text) = 0;
  // The application's standard error report for an error that escaped a handler.
  virtual void ErrorReport(const QString& text) = 0;
  // The file-open dialog; the chosen file's full path, or nothing when cancelled.
  virtual std::optional<QString> OpenFile(const QString& title, const QString& filter,
                                          const QString& lastName) = 0;
};

class QtDialogs : public Dialogs {
 public:
  explicit QtDialogs(QWidget* parent) : parent_(parent) {}
  bool Confirm(const QString& text) override;
  bool Warning(const QString& text) override;
  void Message(const QString& text) override;
  void WarningMessage(const QString& text) override;
  void ErrorReport(const QString& text) override;
  std::optional<QString> OpenFile(const QString& title, const QString& filter,
                                  const QString& lastName) override;

 private:
  QWidget* parent_;
};

// "Binary files (*.bin)|*.bin;*.BIN;" (description|patterns separated by ";") as a Qt filter.
QString QtFilterFromClassic(const QString& classic);

}  // namespace window
