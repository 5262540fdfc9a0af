#include "browser/Prompter.h"

#include <QFileDialog>

#include "shell/RenameDialog.h"

namespace tarn::browser {

QString CPrompter::OpenFileName(QWidget* parent, const QString& title, const QString& filter) {
  return QFileDialog::getOpenFileName(parent, title, QString(), filter);
}

QStringList CPrompter::OpenFileNames(QWidget* parent, const QString& title, const QString& filter) {
  return QFileDialog::getOpenFileNames(parent, title, QString(), filter);
}

QString CPrompter::SaveFileName(QWidget* parent, const QString& title, const QString& filter, const QString& proposed,
                                const QString& defaultSuffix) {
  QFileDialog dialog(parent, title, QString(), filter);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  if (!defaultSuffix.isEmpty()) dialog.setDefaultSuffix(defaultSuffix);
  dialog.selectFile(proposed);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front();
}

QString CPrompter::ExistingDirectory(QWidget* parent, const QString& title) {
  return QFileDialog::getExistingDirectory(parent, title);
}

QMessageBox::StandardButton CPrompter::Message(QWidget* parent, const QString& text, const QString& caption,
                                               QMessageBox::Icon icon, QMessageBox::StandardButtons buttons) {
  QMessageBox box(icon, caption, text, buttons, parent);
  box.setObjectName("messageBox");
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

std::optional<QString> CPrompter::NewName(QWidget* parent, const QString& current) {
  shell::CRenameDialog dialog(current, parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Name();
}

}  // namespace tarn::browser
