#include "window/qt_dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace window {

namespace {
QString Q(const std::string& text) {
  return QString::fromStdString(text);
}
}  // namespace

bool QtDialogs::Confirm(const std::string& text) {
  return QMessageBox::question(parent_, "Confirm", Q(text), QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::Yes) == QMessageBox::Yes;
}

bool QtDialogs::Warning(const std::string& text) {
  return QMessageBox::warning(parent_, "Warning", Q(text), QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::Yes) == QMessageBox::Yes;
}

bool QtDialogs::RiskWarning(const std::string& text) {
  return QMessageBox::warning(parent_, "Warning", Q(text), QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::No) == QMessageBox::Yes;
}

void QtDialogs::Message(const std::string& text) {
  // A plain message: its text and OK, no icon.
  QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(), Q(text),
                  QMessageBox::Ok, parent_);
  box.exec();
}

void QtDialogs::WarningMessage(const std::string& text) {
  QMessageBox::warning(parent_, "Warning", Q(text));
}

void QtDialogs::ErrorReport(const std::string& text) {
  QMessageBox::critical(parent_, QApplication::applicationDisplayName(), Q(text));
}

std::optional<std::string> QtDialogs::OpenFile(const std::string& title, const std::string& filter,
                                               const std::string& lastName) {
  // The chosen file need not exist: READ may name a new one.
  QFileDialog dialog(parent_, Q(title), QString(), QtFilterFromClassic(Q(filter)));
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  if (!lastName.empty()) dialog.selectFile(Q(lastName));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().first().toStdString();
}

QString QtFilterFromClassic(const QString& classic) {
  QStringList parts = classic.split('|');
  QStringList filters;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns = parts[i + 1].split(';', Qt::SkipEmptyParts);
    filters << parts[i] + " (" + patterns.join(' ') + ")";
  }
  return filters.join(";;");
}

}  // namespace window
