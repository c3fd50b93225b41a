#include "window/dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace window {

bool QtDialogs::Confirm(const QString& text) {
  return QMessageBox::question(parent_, "Confirm", text, QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::Yes) == QMessageBox::Yes;
}

bool QtDialogs::Warning(const QString& text) {
  return QMessageBox::warning(parent_, "Warning", text, QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::Yes) == QMessageBox::Yes;
}

void QtDialogs::Message(const QString& text) {
  // A plain message: its text and OK, no icon.
  QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(), text,
                  QMessageBox::Ok, parent_);
  box.exec();
}

void QtDialogs::WarningMessage(const QString& text) {
  QMessageBox::warning(parent_, "Warning", text);
}

void QtDialogs::ErrorReport(const QString& text) {
  QMessageBox::critical(parent_, QApplication::applicationDisplayName(), text);
}

std::optional<QString> QtDialogs::OpenFile(const QString& title, const QString& filter,
                                           const QString& lastName) {
  // The chosen file need not exist: READ may name a new one.
  QFileDialog dialog(parent_, title, QString(), filter);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  if (!lastName.isEmpty()) dialog.selectFile(lastName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().first();
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
