#pragma once

#include <QDialog>

class QLineEdit;

namespace tarn::dialogs {

// Selects a file's name without its extension, as file managers do: a new name is typed over
// the base and the type stays ("conchars.lmp" gives "conchars"). A name with no extension, or
// one that is all extension (".cfg"), is selected whole.
void SelectBaseName(QLineEdit& edit);

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
