// Everything the main window asks the user through a dialog: file and folder choices,
// message boxes and the new name of an entry. Tests put a scripted prompter in its place.
#pragma once

#include <QMessageBox>
#include <QStringList>
#include <optional>

namespace tarn::browser {

class CPrompter {
 public:
  virtual ~CPrompter() = default;
  virtual QString OpenFileName(QWidget* parent, const QString& title, const QString& filter);
  virtual QStringList OpenFileNames(QWidget* parent, const QString& title, const QString& filter);
  virtual QString SaveFileName(QWidget* parent, const QString& title, const QString& filter, const QString& proposed,
                               const QString& defaultSuffix);
  virtual QString ExistingDirectory(QWidget* parent, const QString& title);
  virtual QMessageBox::StandardButton Message(QWidget* parent, const QString& text, const QString& caption,
                                              QMessageBox::Icon icon,
                                              QMessageBox::StandardButtons buttons = QMessageBox::Ok);
  // The Rename dialog; nothing when cancelled.
  virtual std::optional<QString> NewName(QWidget* parent, const QString& current);
};

}  // namespace tarn::browser
