#include "dialogs/GameFolderDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialogs/Text.h"
#include "game/EngineProfile.h"
#include "game/GameFolder.h"

namespace tarn::dialogs {

CGameFolderDialog::CGameFolderDialog(const GameFolderChoice& start, QWidget* parent) : QDialog(parent) {
  setObjectName("gameFolderDialog");
  setWindowTitle("Open Game Folder");
  auto* intro =
      new QLabel("The base game first, then the mod: a folder lower in the list wins over those above it.", this);
  intro->setWordWrap(true);
  m_list = new QListWidget(this);
  m_list->setObjectName("gameFolderList");
  m_list->addItems(start.folders);
  auto button = [this](const char* name, const QString& text) {
    auto* b = new QPushButton(text, this);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
  };
  QPushButton* add = button("addFolderButton", "&Add...");
  m_remove = button("removeFolderButton", "&Remove");
  m_up = button("upFolderButton", "&Up");
  m_down = button("downFolderButton", "&Down");
  auto* side = new QVBoxLayout;
  for (QPushButton* b : {add, m_remove, m_up, m_down}) side->addWidget(b);
  side->addStretch(1);
  auto* row = new QHBoxLayout;
  row->addWidget(m_list, 1);
  row->addLayout(side);

  m_engine = new QComboBox(this);
  m_engine->setObjectName("engineCombo");
  for (const EngineProfile& p : EngineProfiles()) {
    m_engine->addItem(QString::fromUtf8(p.displayName.data(), static_cast<qsizetype>(p.displayName.size())),
                      QString::fromUtf8(p.name.data(), static_cast<qsizetype>(p.name.size())));
    m_engine->setItemData(m_engine->count() - 1,
                          QString::fromUtf8(p.engines.data(), static_cast<qsizetype>(p.engines.size())),
                          Qt::ToolTipRole);
  }
  const int at = m_engine->findData(start.engine);
  m_engine->setCurrentIndex(at >= 0 ? at : 0);
  // Once the user picks an engine, the folders added afterwards no longer change it.
  connect(m_engine, &QComboBox::activated, this, [this] { m_engineChosen = true; });
  auto* form = new QFormLayout;
  form->addRow("&Engine:", m_engine);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->setObjectName("gameFolderButtons");
  m_ok = buttons->button(QDialogButtonBox::Ok);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(add, &QPushButton::clicked, this, &CGameFolderDialog::Add);
  connect(m_remove, &QPushButton::clicked, this, [this] {
    delete m_list->takeItem(m_list->currentRow());
    UpdateButtons();
  });
  connect(m_up, &QPushButton::clicked, this, [this] { Move(-1); });
  connect(m_down, &QPushButton::clicked, this, [this] { Move(1); });
  connect(m_list, &QListWidget::currentRowChanged, this, &CGameFolderDialog::UpdateButtons);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(intro);
  layout->addLayout(row);
  layout->addLayout(form);
  layout->addWidget(buttons);
  m_chooser = [this] { return QFileDialog::getExistingDirectory(this, "Add Game Folder"); };
  UpdateButtons();
  resize(480, 300);
}

GameFolderChoice CGameFolderDialog::Choice() const {
  GameFolderChoice choice;
  for (int i = 0; i < m_list->count(); ++i) choice.folders << m_list->item(i)->text();
  choice.engine = m_engine->currentData().toString();
  return choice;
}

void CGameFolderDialog::Add() {
  const QString folder = m_chooser ? m_chooser() : QString();
  if (folder.isEmpty()) return;
  m_list->addItem(QDir::toNativeSeparators(folder));
  m_list->setCurrentRow(m_list->count() - 1);
  ProposeEngine();
  UpdateButtons();
}

void CGameFolderDialog::ProposeEngine() {
  if (m_engineChosen) return;
  std::vector<std::filesystem::path> folders;
  for (int i = 0; i < m_list->count(); ++i) folders.emplace_back(S(m_list->item(i)->text()));
  const EngineProfile* proposed = tarn::ProposeEngine(folders);
  const EngineProfile* current = FindEngineProfile(m_engine->currentData().toString().toStdString());
  // An engine of the right game stays (Yamagi for Quake II, say); one of the other game goes.
  if (!proposed || (current && current->quake2Data == proposed->quake2Data)) return;
  const int at =
      m_engine->findData(QString::fromUtf8(proposed->name.data(), static_cast<qsizetype>(proposed->name.size())));
  if (at >= 0) m_engine->setCurrentIndex(at);
}

void CGameFolderDialog::Move(int by) {
  const int row = m_list->currentRow();
  const int to = row + by;
  if (row < 0 || to < 0 || to >= m_list->count()) return;
  m_list->insertItem(to, m_list->takeItem(row));
  m_list->setCurrentRow(to);
}

void CGameFolderDialog::UpdateButtons() {
  const int row = m_list->currentRow();
  m_remove->setEnabled(row >= 0);
  m_up->setEnabled(row > 0);
  m_down->setEnabled(row >= 0 && row + 1 < m_list->count());
  m_ok->setEnabled(m_list->count() > 0);
}

}  // namespace tarn::dialogs
