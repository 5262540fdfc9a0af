#pragma once

#include <QDialog>

class QLineEdit;

namespace tarn::dialogs {

// Asks for an entry's new name, prefilled with the old one.
class CRenameDialog : public QDialog {
  Q_OBJECT
 public:
  CRenameDialog(const QString& name, QWidget* parent = nullptr);
  QString Name() const;

 private:
  QLineEdit* m_edit;
};

}  // namespace tarn::dialogs
