#include "dialogs/SkinsDialog.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarn::dialogs {

namespace {
// Marks the items that are disk files rather than archive paths.
constexpr int kDiskRole = Qt::UserRole + 1;
}  // namespace

CSkinsDialog::CSkinsDialog(const QStringList& entries, QWidget* parent) : QDialog(parent) {
  setObjectName("skinsDialog");
  setWindowTitle("Load Textures");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Pictures of the archive to use as skins:", this));
  m_list = new QListWidget(this);
  m_list->setObjectName("skinsList");
  m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  m_list->addItems(entries);
  layout->addWidget(m_list, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  QPushButton* disk = buttons->addButton("From &Disk...", QDialogButtonBox::ActionRole);
  disk->setObjectName("skinsFromDisk");
  connect(disk, &QPushButton::clicked, this, [this] {
    AddFiles(QFileDialog::getOpenFileNames(this, "Open", QString(), "PCX Files (*.pcx);;All Files (*.*) (*)"));
  });
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  resize(420, 320);
}

void CSkinsDialog::AddFiles(const QStringList& files) {
  for (const QString& f : files) {
    auto* item = new QListWidgetItem(QDir::toNativeSeparators(f), m_list);
    item->setData(kDiskRole, f);
    item->setSelected(true);
  }
}

QStringList CSkinsDialog::Selected(bool files) const {
  QStringList out;
  for (int i = 0; i < m_list->count(); ++i) {
    const QListWidgetItem* item = m_list->item(i);
    const QString disk = item->data(kDiskRole).toString();
    if (item->isSelected() && disk.isEmpty() != files) out << (files ? disk : item->text());
  }
  return out;
}

QStringList CSkinsDialog::Entries() const { return Selected(false); }
QStringList CSkinsDialog::Files() const { return Selected(true); }

}  // namespace tarn::dialogs
