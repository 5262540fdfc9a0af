#include "dialogs/RenameDialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace tarn::dialogs {

void SelectBaseName(QLineEdit& edit) {
  const QString text = edit.text();
  const qsizetype dot = text.lastIndexOf('.');
  if (dot > 0) edit.setSelection(0, static_cast<int>(dot));
  else edit.selectAll();
}

CRenameDialog::CRenameDialog(const QString& name, QWidget* parent) : QDialog(parent) {
  setObjectName("renameDialog");
  setWindowTitle("Rename");
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel("Rename ", this));
  m_edit = new QLineEdit(name, this);
  m_edit->setObjectName("renameEdit");
  SelectBaseName(*m_edit);
  row->addWidget(m_edit, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->setObjectName("renameButtons");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(buttons);
  resize(320, sizeHint().height());
}

QString CRenameDialog::Name() const { return m_edit->text(); }

}  // namespace tarn::dialogs
