// The model window's Skins and Frames panels and a Quake model's properties: what the model
// holds, as ModelEdit reads it, and the edits made from them. Every edit reads the entry's bytes
// as the archive holds them now, so that an edit made after an undo in the main window starts
// from what the archive has, and each goes into the archive as one undoable change; the window
// shows the result when the archive tells it the entries changed.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QDoubleSpinBox>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QStatusBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <set>

#include "archive/PackObject.h"
#include "dialogs/Prompter.h"
#include "dialogs/Text.h"
#include "fileio/Strings.h"
#include "pictures/EntryPictures.h"
#include "pictures/ImageDecode.h"
#include "pictures/Palette.h"
#include "viewers/models/GLFrame.h"

namespace tarn::viewers {

using dialogs::Q;

namespace {

constexpr int kPanelWidth = 210;
constexpr int kIndexRole = Qt::UserRole, kMemberRole = Qt::UserRole + 1, kFlatRole = Qt::UserRole + 2;
// The interval a group made in the window gives each skin: id's tools' tenth of a second.
constexpr float kDefaultInterval = 0.1f;

QString IntervalText(float seconds) { return QString::number(static_cast<double>(seconds), 'g', 6); }

QPushButton* PanelButton(const QString& text, const char* name, const QString& tip, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(name);
  b->setToolTip(tip);
  b->setStatusTip(tip);
  return b;
}

// The frames, whose pieces (a frame, a group) a drag moves: the model's bytes change and the
// list is filled from them, so the drop itself moves no item.
class CFrameList : public QTreeWidget {
 public:
  CFrameList(std::function<void(int from, int to)> move, QWidget* parent)
      : QTreeWidget(parent), m_move(std::move(move)) {
    setDragDropMode(QAbstractItemView::InternalMove);
    setDragEnabled(true);
    viewport()->setAcceptDrops(true);
    setDropIndicatorShown(true);
  }

 protected:
  // Only the list's own items move: a drag of items from another widget is none of its frames.
  // (A drag whose source is not known, as one from another program, carries no items of a
  // model's list; the format says whether it does.)
  bool OwnItems(const QDropEvent* e) const {
    return (e->source() == this || !e->source()) && e->mimeData() && e->mimeData()->hasFormat(mimeTypes().value(0));
  }
  void dragEnterEvent(QDragEnterEvent* e) override {
    if (!OwnItems(e)) return e->ignore();
    e->setDropAction(Qt::MoveAction);
    e->accept();
  }
  void dragMoveEvent(QDragMoveEvent* e) override {
    QTreeWidget::dragMoveEvent(e);  // the drop indicator
    if (!OwnItems(e)) return e->ignore();
    e->setDropAction(Qt::MoveAction);
    e->accept();
  }
  void dropEvent(QDropEvent* e) override {
    e->setDropAction(Qt::IgnoreAction);
    e->accept();
    const QTreeWidgetItem* moving = currentItem();
    QTreeWidgetItem* target = itemAt(e->position().toPoint());
    if (!moving || moving->parent()) return;
    const int from = indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(moving));
    int to = topLevelItemCount();  // below the last: to the end
    if (target) {
      while (target->parent()) target = target->parent();
      const QRect r = visualItemRect(target);
      to = indexOfTopLevelItem(target) + (e->position().y() > r.center().y() ? 1 : 0);
    }
    // ModelEdit counts the place as if the piece were gone already.
    if (to > from) --to;
    if (to != from) m_move(from, to);
  }

 private:
  std::function<void(int, int)> m_move;
};

QTreeWidget* PanelList(const char* name, const QStringList& columns, QWidget* parent,
                       std::function<void(int, int)> move = {}) {
  QTreeWidget* list = move ? new CFrameList(std::move(move), parent) : new QTreeWidget(parent);
  list->setObjectName(name);
  list->setColumnCount(static_cast<int>(columns.size()));
  list->setHeaderLabels(columns);
  list->setRootIsDecorated(true);
  list->setUniformRowHeights(true);
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
  list->header()->setStretchLastSection(false);
  list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  for (int c = 1; c < static_cast<int>(columns.size()); ++c)
    list->header()->setSectionResizeMode(c, QHeaderView::ResizeToContents);
  return list;
}

QTreeWidgetItem* Item(const QStringList& texts, int index, int member, int flat, bool editable) {
  auto* item = new QTreeWidgetItem(texts);
  item->setData(0, kIndexRole, index);
  item->setData(0, kMemberRole, member);
  item->setData(0, kFlatRole, flat);
  if (editable) item->setFlags(item->flags() | Qt::ItemIsEditable);
  return item;
}

// A picture file read as pixels; false with the reason.
bool ReadPicture(const QString& path, RgbaImage& out, QString* why) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    *why = file.errorString();
    return false;
  }
  const QByteArray data = file.readAll();
  std::string error;
  if (!DecodeImage(std::span(reinterpret_cast<const std::uint8_t*>(data.constData()), data.size()),
                   QFileInfo(path).fileName().toStdString(), out, &error)) {
    *why = Q(error);
    return false;
  }
  return true;
}

// The glow mask made for a picture, as engines' replacement textures name it: "skin_glow.png"
// or "skin_luma.png" beside "skin.png". None (an empty path) when there is none.
QString GlowMaskBeside(const QString& picture) {
  const QFileInfo info(picture);
  for (const char* suffix : {"_glow", "_luma"}) {
    QStringList extensions = {info.suffix(), "png", "tga"};
    for (const QString& ext : extensions) {
      const QString candidate = info.path() + "/" + info.completeBaseName() + suffix + "." + ext;
      if (QFileInfo(candidate).isFile()) return candidate;
    }
  }
  return QString();
}

}  // namespace

bool CGLFrame::ShowModel(CPackObject& entry, CModelHost& host, bool keepCamera, std::string* error) {
  ModelData model;
  const bool loaded = LoadModel(entry, model, host, error);
  m_layoutRead = ReadModelLayout(m_bytes, m_layout, nullptr);
  if (loaded && m_layoutRead && m_layout.format == ModelData::kMdl) PutInGroupSkins(model);
  m_view->SetModel(std::move(model), loaded, keepCamera);
  FillCombos();
  FillPanels();
  return loaded;
}

void CGLFrame::PutInGroupSkins(ModelData& model) const {
  const std::size_t pixelCount = static_cast<std::size_t>(m_layout.skinWidth) * m_layout.skinHeight;
  if (pixelCount == 0) return;
  Palette quake;
  LoadPalette(kQuakePaletteId, quake);
  std::vector<ModelSkin> skins;
  std::size_t single = 0;
  for (std::size_t i = 0; i < m_layout.skins.size(); ++i) {
    const ModelLayout::Piece& p = m_layout.skins[i];
    if (!p.group) {
      if (single >= model.skins.size()) return;  // not the skins the loader read: left as they are
      skins.push_back(std::move(model.skins[single++]));
      skins.back().name = "Skin " + std::to_string(i + 1);
      continue;
    }
    for (std::size_t k = 0; k < p.members.size(); ++k) {
      ModelSkin skin = CheckerboardSkin(m_layout.skinWidth, m_layout.skinHeight);
      skin.placeholder = false;
      skin.name = "Skin " + std::to_string(i + 1) + "." + std::to_string(k + 1);
      const std::uint8_t* indices = m_bytes.data() + p.members[k];
      for (int y = 0; y < m_layout.skinHeight; ++y)
        for (int x = 0; x < m_layout.skinWidth; ++x) {
          const Rgb& c = quake.colors[indices[static_cast<std::size_t>(y) * m_layout.skinWidth + x]];
          std::uint8_t* px = &skin.pixels[(static_cast<std::size_t>(y) * skin.paddedWidth + x) * 3];
          px[0] = c.r, px[1] = c.g, px[2] = c.b;
        }
      skins.push_back(std::move(skin));
    }
  }
  model.skins = std::move(skins);
}

void CGLFrame::CreatePanels() {
  CreateSkinsPanel();
  CreateFramesPanel();
  CreatePropertiesPanel();
  auto* undo = new QAction("&Undo", this);
  undo->setObjectName("cmdUndo");
  undo->setShortcut(QKeySequence::Undo);
  undo->setStatusTip("Take back the archive's last change, as the main window's Undo does");
  auto* redo = new QAction("&Redo", this);
  redo->setObjectName("cmdRedo");
  redo->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
  redo->setStatusTip("Make the change taken back again");
  connect(undo, &QAction::triggered, this, [this] {
    if (m_editing) m_editing.stepHistory(true);
  });
  connect(redo, &QAction::triggered, this, [this] {
    if (m_editing) m_editing.stepHistory(false);
  });
  undo->setEnabled(static_cast<bool>(m_editing));
  redo->setEnabled(static_cast<bool>(m_editing));
  QMenu* edit = menuBar()->addMenu("&Edit");
  edit->addAction(undo);
  edit->addAction(redo);
  addAction(undo);
  addAction(redo);
}

void CGLFrame::CreateSkinsPanel() {
  auto* panel = new QWidget;
  auto* layout = new QVBoxLayout(panel);
  layout->setContentsMargins(4, 2, 4, 2);
  m_skinList = PanelList("skinList", {"Skin", "Interval"}, panel);
  layout->addWidget(m_skinList, 1);
  auto* buttons = new QGridLayout;
  buttons->setSpacing(3);
  QPushButton* replace = PanelButton("&Replace...", "btnReplaceSkin", "Replace the skin with a picture", panel);
  QPushButton* add =
      PanelButton("&Add...", "btnAddSkin", "Add a skin made from a picture (a path, in Quake II)", panel);
  QPushButton* remove = PanelButton("Remove", "btnRemoveSkin", "Remove the skin or the group", panel);
  QPushButton* group =
      PanelButton("&Group", "btnGroupSkins", "Make the chosen skins one group the engine animates", panel);
  QPushButton* ungroup = PanelButton("Ungroup", "btnUngroupSkins", "Make the group's skins single ones", panel);
  QPushButton* intervals =
      PanelButton("&Interval", "btnSkinInterval", "Edit how long the group shows the skin, in seconds", panel);
  QPushButton* path = PanelButton("Edit &Path", "btnSkinPath", "Edit the path of the picture the skin is", panel);
  buttons->addWidget(replace, 0, 0);
  buttons->addWidget(add, 0, 1);
  buttons->addWidget(remove, 0, 2);
  buttons->addWidget(group, 1, 0);
  buttons->addWidget(ungroup, 1, 1);
  buttons->addWidget(intervals, 1, 2);
  buttons->addWidget(path, 2, 0, 1, 2);
  layout->addLayout(buttons);
  connect(replace, &QPushButton::clicked, this, [this] { SkinFromPicture(true); });
  connect(add, &QPushButton::clicked, this, [this] { SkinFromPicture(false); });
  connect(remove, &QPushButton::clicked, this, &CGLFrame::RemoveChosenSkin);
  connect(group, &QPushButton::clicked, this, &CGLFrame::GroupChosenSkins);
  connect(ungroup, &QPushButton::clicked, this, &CGLFrame::UngroupChosenSkin);
  auto editChosen = [this](int column) {
    const QList<QTreeWidgetItem*> chosen = m_skinList->selectedItems();
    if (chosen.size() == 1 && (chosen.front()->flags() & Qt::ItemIsEditable))
      m_skinList->editItem(chosen.front(), column);
  };
  connect(intervals, &QPushButton::clicked, this, [editChosen] { editChosen(1); });
  connect(path, &QPushButton::clicked, this, [editChosen] { editChosen(0); });
  connect(m_skinList, &QTreeWidget::itemSelectionChanged, this, [this] {
    if (m_filling) return;
    ShowChosenSkin();
    UpdatePanelCommands();
  });
  connect(m_skinList, &QTreeWidget::itemChanged, this, &CGLFrame::SkinEdited);

  m_skinsPanel = new QDockWidget("Skins", this);
  m_skinsPanel->setObjectName("skinsPanel");
  m_skinsPanel->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
  m_skinsPanel->setWidget(panel);
  panel->setMinimumWidth(kPanelWidth);
  addDockWidget(Qt::LeftDockWidgetArea, m_skinsPanel);
}

void CGLFrame::CreateFramesPanel() {
  auto* panel = new QWidget;
  auto* layout = new QVBoxLayout(panel);
  layout->setContentsMargins(4, 2, 4, 2);
  m_frameList = PanelList("frameList", {"Frame"}, panel, [this](int from, int to) { MoveFrame(from, to); });
  m_frameList->setSelectionMode(QAbstractItemView::SingleSelection);
  layout->addWidget(m_frameList, 1);
  auto* buttons = new QGridLayout;
  buttons->setSpacing(3);
  QPushButton* rename = PanelButton("Re&name", "btnRenameFrame", "Rename the frame (F2)", panel);
  QPushButton* up = PanelButton("Move &Up", "btnFrameUp", "Move the frame or group before the one above it", panel);
  QPushButton* down =
      PanelButton("Move &Down", "btnFrameDown", "Move the frame or group after the one below it", panel);
  QPushButton* remove = PanelButton("Remove", "btnRemoveFrame", "Remove the frame or the group", panel);
  buttons->addWidget(rename, 0, 0);
  buttons->addWidget(remove, 0, 1);
  buttons->addWidget(up, 1, 0);
  buttons->addWidget(down, 1, 1);
  layout->addLayout(buttons);
  connect(rename, &QPushButton::clicked, this, [this] {
    if (QTreeWidgetItem* item = m_frameList->currentItem(); item && (item->flags() & Qt::ItemIsEditable))
      m_frameList->editItem(item, 0);
  });
  connect(up, &QPushButton::clicked, this, [this] { MoveChosenFrame(-1); });
  connect(down, &QPushButton::clicked, this, [this] { MoveChosenFrame(1); });
  connect(remove, &QPushButton::clicked, this, &CGLFrame::RemoveChosenFrame);
  connect(m_frameList, &QTreeWidget::itemSelectionChanged, this, [this] {
    if (m_filling) return;
    ShowChosenFrame();
    UpdatePanelCommands();
  });
  connect(m_frameList, &QTreeWidget::itemChanged, this, &CGLFrame::FrameEdited);

  m_framesPanel = new QDockWidget("Frames", this);
  m_framesPanel->setObjectName("framesPanel");
  m_framesPanel->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
  m_framesPanel->setWidget(panel);
  panel->setMinimumWidth(kPanelWidth);
  addDockWidget(Qt::LeftDockWidgetArea, m_framesPanel);
  // Models have a few skins and many frames.
  resizeDocks({m_skinsPanel, m_framesPanel}, {140, 320}, Qt::Vertical);
}

void CGLFrame::CreatePropertiesPanel() {
  auto* panel = new QWidget;
  auto* layout = new QVBoxLayout(panel);
  layout->setContentsMargins(4, 2, 4, 2);
  auto* flags = new QGridLayout;
  flags->setSpacing(2);
  int n = 0;
  for (const ModelFlagName& f : ModelFlagNames()) {
    auto* box = new QCheckBox(QString::fromLatin1(f.name), panel);
    box->setObjectName(QString("flag_") + f.name);
    box->setToolTip(QString("The engine's %1 effect (bit %2)").arg(f.name).arg(f.bit));
    box->setProperty("bit", f.bit);
    flags->addWidget(box, n / 2, n % 2);
    ++n;
    m_flagBoxes.push_back(box);
    connect(box, &QCheckBox::toggled, this, &CGLFrame::PropertiesEdited);
  }
  layout->addLayout(flags);
  auto* form = new QFormLayout;
  form->setContentsMargins(0, 0, 0, 0);
  form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
  m_sync = new QComboBox(panel);
  m_sync->setObjectName("syncCombo");
  m_sync->addItems({"sync", "rand"});
  m_sync->setToolTip("sync: every model of the kind animates together; rand: each from a frame of its own");
  m_sync->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  form->addRow("Sync:", m_sync);
  connect(m_sync, &QComboBox::currentIndexChanged, this, &CGLFrame::PropertiesEdited);
  auto* eyeRow = new QHBoxLayout;
  eyeRow->setSpacing(2);
  const char* eyeNames[] = {"eyeX", "eyeY", "eyeZ"};
  for (int k = 0; k < 3; ++k) {
    m_eye[k] = new QDoubleSpinBox(panel);
    m_eye[k]->setObjectName(eyeNames[k]);
    m_eye[k]->setRange(-100000, 100000);
    m_eye[k]->setDecimals(2);
    m_eye[k]->setButtonSymbols(QAbstractSpinBox::NoButtons);
    m_eye[k]->setKeyboardTracking(false);
    m_eye[k]->setMaximumWidth(64);
    eyeRow->addWidget(m_eye[k]);
    connect(m_eye[k], &QDoubleSpinBox::editingFinished, this, &CGLFrame::PropertiesEdited);
  }
  form->addRow("Eye:", eyeRow);
  layout->addLayout(form);
  layout->addStretch(1);

  m_propertiesPanel = new QDockWidget("Model", this);
  m_propertiesPanel->setObjectName("propertiesPanel");
  m_propertiesPanel->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
  m_propertiesPanel->setWidget(panel);
  addDockWidget(Qt::RightDockWidgetArea, m_propertiesPanel);
}

void CGLFrame::FillPanels() {
  if (!m_skinList) return;
  m_filling = true;
  const bool md2 = m_layoutRead && m_layout.format == ModelData::kMd2;
  // What was chosen stays chosen, by its place.
  int skinIndex = -1, skinMember = -1, frameIndex = -1, frameMember = -1;
  Chosen(m_skinList, skinIndex, skinMember);
  Chosen(m_frameList, frameIndex, frameMember);
  const bool editable = m_layoutRead && m_editing;
  m_skinList->clear();
  m_frameList->clear();
  if (m_layoutRead) {
    int flat = 0;
    for (std::size_t i = 0; i < m_layout.skins.size(); ++i) {
      const ModelLayout::Piece& p = m_layout.skins[i];
      const int index = static_cast<int>(i);
      const QString number = QString::number(i + 1);
      if (md2) {
        m_skinList->addTopLevelItem(Item({p.names.empty() ? number : Q(p.names.front())}, index, -1, flat++, editable));
      } else if (!p.group) {
        m_skinList->addTopLevelItem(Item({"Skin " + number}, index, -1, flat++, false));
      } else {
        QTreeWidgetItem* group =
            Item({QString("Group %1 (%2 skins)").arg(number).arg(p.members.size())}, index, -1, -1, false);
        for (std::size_t k = 0; k < p.members.size(); ++k)
          group->addChild(Item({QString("Skin %1.%2").arg(number).arg(k + 1),
                                k < p.intervals.size() ? IntervalText(p.intervals[k]) : QString()},
                               index, static_cast<int>(k), flat++, editable));
        m_skinList->addTopLevelItem(group);
        group->setExpanded(true);
      }
    }
    m_skinList->setColumnHidden(1, md2);
    flat = 0;
    for (std::size_t i = 0; i < m_layout.frames.size(); ++i) {
      const ModelLayout::Piece& p = m_layout.frames[i];
      const int index = static_cast<int>(i);
      if (!p.group) {
        m_frameList->addTopLevelItem(
            Item({p.names.empty() ? QString() : Q(p.names.front())}, index, -1, flat++, editable));
        continue;
      }
      QTreeWidgetItem* group = Item({QString("Group of %1").arg(p.members.size())}, index, -1, -1, false);
      for (std::size_t k = 0; k < p.members.size(); ++k)
        group->addChild(
            Item({k < p.names.size() ? Q(p.names[k]) : QString()}, index, static_cast<int>(k), flat++, editable));
      m_frameList->addTopLevelItem(group);
      group->setExpanded(true);
    }
  }
  auto choose = [](QTreeWidget* list, int index, int member) {
    if (index < 0 || index >= list->topLevelItemCount()) return;
    QTreeWidgetItem* item = list->topLevelItem(index);
    if (member >= 0 && member < item->childCount()) item = item->child(member);
    list->setCurrentItem(item);
  };
  choose(m_skinList, skinIndex, skinMember);
  choose(m_frameList, frameIndex, frameMember);

  // A model of another format (Half-Life's, MD3, MD5, IQM) is only looked at: nothing of it is
  // edited in place.
  m_skinsPanel->setVisible(m_layoutRead);
  m_framesPanel->setVisible(m_layoutRead);
  const bool mdl = m_layoutRead && m_layout.format == ModelData::kMdl;
  m_propertiesPanel->setVisible(mdl);
  if (mdl) {
    for (QCheckBox* box : m_flagBoxes) {
      const QSignalBlocker block(box);
      box->setChecked((m_layout.flags & box->property("bit").toInt()) != 0);
    }
    const QSignalBlocker block(m_sync);
    m_sync->setCurrentIndex(m_layout.syncType == 0 || m_layout.syncType == 1 ? m_layout.syncType : -1);
    for (int k = 0; k < 3; ++k) {
      const QSignalBlocker blockEye(m_eye[k]);
      m_eye[k]->setValue(static_cast<double>(m_layout.eye[k]));
    }
  }
  m_propertiesPanel->widget()->setEnabled(editable);
  m_filling = false;
  UpdatePanelCommands();
}

namespace {

// The current item when it is chosen, else the first chosen.
const QTreeWidgetItem* ChosenItem(const QTreeWidget* list) {
  const QTreeWidgetItem* item = list ? list->currentItem() : nullptr;
  if (item && !item->isSelected()) item = nullptr;
  if (!item && list && !list->selectedItems().isEmpty()) item = list->selectedItems().front();
  return item;
}

}  // namespace

bool CGLFrame::Chosen(const QTreeWidget* list, int& index, int& member) {
  const QTreeWidgetItem* item = ChosenItem(list);
  if (!item) return false;
  index = item->data(0, kIndexRole).toInt();
  member = item->data(0, kMemberRole).toInt();
  return true;
}

void CGLFrame::UpdatePanelCommands() {
  if (!m_skinList) return;
  const bool editable = m_layoutRead && m_editing;
  const bool md2 = m_layoutRead && m_layout.format == ModelData::kMd2;
  int index = -1, member = -1;
  const bool skin = Chosen(m_skinList, index, member);
  const bool inGroup = skin && m_layout.skins[static_cast<std::size_t>(index)].group;
  auto enable = [this](const char* name, bool on) {
    if (auto* b = findChild<QPushButton*>(name)) b->setEnabled(on);
  };
  enable("btnReplaceSkin", editable && skin && (!inGroup || member >= 0));
  enable("btnAddSkin", editable);
  enable("btnRemoveSkin", editable && skin && member < 0);
  bool singles = !m_skinList->selectedItems().isEmpty();
  for (const QTreeWidgetItem* item : m_skinList->selectedItems())
    singles = singles && !m_layout.skins[static_cast<std::size_t>(item->data(0, kIndexRole).toInt())].group;
  enable("btnGroupSkins", editable && !md2 && singles);
  enable("btnUngroupSkins", editable && !md2 && inGroup);
  enable("btnSkinInterval", editable && !md2 && inGroup && member >= 0);
  enable("btnSkinPath", editable && md2 && skin);
  findChild<QPushButton*>("btnSkinInterval")->setVisible(!md2);
  findChild<QPushButton*>("btnGroupSkins")->setVisible(!md2);
  findChild<QPushButton*>("btnUngroupSkins")->setVisible(!md2);
  findChild<QPushButton*>("btnSkinPath")->setVisible(md2);
  const bool frame = Chosen(m_frameList, index, member);
  const int frames = m_layoutRead ? static_cast<int>(m_layout.frames.size()) : 0;
  enable("btnRenameFrame",
         editable && frame && !(member < 0 && m_layout.frames[static_cast<std::size_t>(index)].group));
  enable("btnFrameUp", editable && frame && member < 0 && index > 0);
  enable("btnFrameDown", editable && frame && member < 0 && index + 1 < frames);
  enable("btnRemoveFrame", editable && frame && member < 0);
}

void CGLFrame::Reload() {
  m_reloadDue = false;
  CPackObject* entry = m_editing ? m_editing.current() : nullptr;
  if (!entry) {
    // Nothing more to edit: what is shown stays, but no longer stands for the archive's entry.
    if (m_editing) statusBar()->showMessage("The model is no longer in the archive.");
    m_editing = {};
    FillPanels();
    return;
  }
  std::vector<std::uint8_t> bytes;
  {
    CEntryBytes data(*entry);
    if (data.Ok()) bytes.assign(data.Bytes().begin(), data.Bytes().end());
  }
  // A Quake II model's skins are files of their own, which may have changed without it.
  if (bytes == m_bytes && !(m_layoutRead && m_layout.format == ModelData::kMd2)) return;
  m_bytes = std::move(bytes);
  const int skin = m_view->CurrentSkin(), animation = m_view->CurrentAnimation(), frame = m_view->CurrentFrame();
  // Nothing to ask: the skins were found or asked for when the window opened.
  CArchiveModelHost host(*entry);
  std::string error;
  const bool loaded = ShowModel(*entry, host, true, &error);
  if (!loaded) statusBar()->showMessage("The model cannot be shown: " + Q(error));
  if (animation < m_view->AnimationCount()) {
    m_view->SelectAnimation(animation);
    m_view->SetFrame(frame);
  }
  if (skin >= 0 && skin < static_cast<int>(m_view->Model().skins.size())) {
    if (m_skins) m_skins->setCurrentIndex(skin);
    else m_view->SelectSkin(skin, true);
  }
  ShowFrame();
}

void CGLFrame::Refuse(const QString& what, const QString& why) {
  const QString text = QString("Cannot %1: %2.\nNothing changed.").arg(what.toLower(), why);
  statusBar()->showMessage(QString(text).replace('\n', ' '), 8000);
  m_prompter.Message(this, text, "Tarn", QMessageBox::Warning);
  // The panels show the file again (a name typed, a box ticked), once the signal that asked
  // for the edit is done with their items.
  QMetaObject::invokeMethod(this, &CGLFrame::FillPanels, Qt::QueuedConnection);
}

bool CGLFrame::Apply(const ModelEdit& edit, const QString& what) {
  CPackObject* entry = m_editing ? m_editing.current() : nullptr;
  if (!entry) {
    Refuse(what, "the model is no longer in the archive");
    return false;
  }
  std::vector<std::uint8_t> bytes;
  {
    CEntryBytes data(*entry);
    if (!data.Ok()) {
      Refuse(what, "the model's bytes cannot be read");
      return false;
    }
    bytes.assign(data.Bytes().begin(), data.Bytes().end());
  }
  std::vector<std::uint8_t> edited;
  std::string why;
  if (!ApplyModelEdit(bytes, edit, edited, nullptr, &why)) {
    Refuse(what, Q(why));
    return false;
  }
  QString refused;
  if (!m_editing.put(edited, what.toStdString() + " of " + Quoted(entry->Name()), &refused)) {
    Refuse(what, refused);
    return false;
  }
  statusBar()->showMessage(what + ". Undo (Ctrl+Z) takes it back.", 8000);
  return true;
}

void CGLFrame::SkinFromPicture(bool replace) {
  if (!m_layoutRead || !m_editing) return;
  const bool md2 = m_layout.format == ModelData::kMd2;
  int index = -1, member = -1;
  if (replace && !Chosen(m_skinList, index, member)) return;
  if (md2 && !replace) {
    // A Quake II skin is a path; the picture is the file the path names.
    CPackObject* entry = m_editing.current();
    QString proposed = entry ? Q(entry->PathInArchive()) : QString();
    proposed = proposed.left(proposed.lastIndexOf('/') + 1) + QString("skin%1.pcx").arg(m_layout.skins.size() + 1);
    const std::optional<QString> path = m_prompter.NewName(this, proposed);
    if (!path || path->isEmpty()) return;
    ModelEdit e;
    e.kind = ModelEdit::Kind::InsertSkin;
    e.index = static_cast<int>(m_layout.skins.size());
    if (!SkinPathField(path->toStdString(), e.bytes)) {
      Refuse("Add skin path", "a skin's path is at most 63 characters");
      return;
    }
    Apply(e, "Add skin path");
    return;
  }
  const QString what = replace ? "Replace skin" : "Add skin";
  const QString file = m_prompter.OpenFileName(this, replace ? "Replace Skin with Picture" : "Add Skin from Picture",
                                               "Pictures (*.png *.tga *.bmp *.jpg *.jpeg *.pcx);;All Files (*)");
  if (file.isEmpty()) return;
  RgbaImage picture;
  QString why;
  if (!ReadPicture(file, picture, &why)) {
    Refuse(what, QFileInfo(file).fileName() + ": " + why);
    return;
  }
  if (md2) {
    ReplaceMd2Skin(index, picture);
    return;
  }
  EncodeOptions options;
  if (const QString glow = GlowMaskBeside(file); !glow.isEmpty() && !ReadPicture(glow, options.glow, &why)) {
    Refuse(what, QFileInfo(glow).fileName() + ": " + why);
    return;
  }
  std::vector<std::uint8_t> pixels;
  std::string error;
  if (!EncodeMdlSkin(picture, m_layout.skinWidth, m_layout.skinHeight, options, pixels, &error)) {
    Refuse(what, QFileInfo(file).fileName() + ": " + Q(error));
    return;
  }
  ModelEdit e;
  if (replace) {
    e.kind = ModelEdit::Kind::ReplaceSkin;
    e.index = index;
    e.member = member;
    e.bytes = std::move(pixels);
  } else {
    e.kind = ModelEdit::Kind::InsertSkin;
    e.index = static_cast<int>(m_layout.skins.size());
    e.bytes.assign(4, 0);  // a single skin's type
    e.bytes.insert(e.bytes.end(), pixels.begin(), pixels.end());
  }
  Apply(e, what);
}

void CGLFrame::ReplaceMd2Skin(int index, const RgbaImage& picture) {
  const QString what = "Replace skin";
  const ModelLayout::Piece& p = m_layout.skins[static_cast<std::size_t>(index)];
  const std::string skinPath = p.names.empty() ? std::string() : p.names.front();
  CPackObject* entry = m_editing.current();
  const std::string modelPath = entry ? entry->PathInArchive() : std::string();
  const auto dirOf = [](const std::string& path) {
    const auto slash = path.rfind('/');
    return ToLower(slash == std::string::npos ? std::string() : path.substr(0, slash));
  };
  const auto slash = skinPath.rfind('/');
  const std::string name = slash == std::string::npos ? skinPath : skinPath.substr(slash + 1);
  // The picture goes where the model names it; Tarn writes it only beside the model.
  if (!entry || !m_editing.putBeside || name.empty() || dirOf(skinPath) != dirOf(modelPath)) {
    Refuse(what, "the model names its picture " + Q(Quoted(skinPath)) +
                     ", which is not beside the model; edit the path to one there first");
    return;
  }
  std::vector<std::uint8_t> pcx;
  std::string error;
  if (!EncodeMd2Skin(picture, EncodeOptions{}, pcx, &error)) {
    Refuse(what, Q(error));
    return;
  }
  QString why;
  if (!m_editing.putBeside(name, pcx, &why)) {
    Refuse(what, why);
    return;
  }
  statusBar()->showMessage(what + ". Undo (Ctrl+Z) takes it back.", 8000);
}

void CGLFrame::RemoveChosenSkin() {
  int index = -1, member = -1;
  if (!Chosen(m_skinList, index, member) || member >= 0) return;
  ModelEdit e;
  e.kind = ModelEdit::Kind::RemoveSkin;
  e.index = index;
  Apply(e, m_layout.skins[static_cast<std::size_t>(index)].group ? "Remove skin group" : "Remove skin");
}

void CGLFrame::GroupChosenSkins() {
  std::set<int> chosen;
  for (const QTreeWidgetItem* item : m_skinList->selectedItems()) {
    if (item->data(0, kMemberRole).toInt() >= 0 || item->parent()) {
      Refuse("Group skins", "a group's skins are grouped already");
      return;
    }
    chosen.insert(item->data(0, kIndexRole).toInt());
  }
  if (chosen.empty()) return;
  const int first = *chosen.begin(), count = static_cast<int>(chosen.size());
  if (*chosen.rbegin() - first + 1 != count) {
    Refuse("Group skins", "only skins next to each other make a group");
    return;
  }
  ModelEdit e;
  e.kind = ModelEdit::Kind::GroupSkins;
  e.index = first;
  e.count = count;
  e.bytes = FloatBytes(std::vector<float>(static_cast<std::size_t>(count), kDefaultInterval));
  Apply(e, "Group skins");
}

void CGLFrame::UngroupChosenSkin() {
  int index = -1, member = -1;
  if (!Chosen(m_skinList, index, member)) return;
  ModelEdit e;
  e.kind = ModelEdit::Kind::UngroupSkins;
  e.index = index;
  Apply(e, "Ungroup skins");
}

void CGLFrame::SkinEdited(QTreeWidgetItem* item, int column) {
  if (m_filling || !m_layoutRead) return;
  const int index = item->data(0, kIndexRole).toInt(), member = item->data(0, kMemberRole).toInt();
  const ModelLayout::Piece& p = m_layout.skins[static_cast<std::size_t>(index)];
  ModelEdit e;
  e.index = index;
  if (m_layout.format == ModelData::kMd2 && column == 0) {
    const std::string path = item->text(0).trimmed().toStdString();
    if (!p.names.empty() && path == p.names.front()) return;
    e.kind = ModelEdit::Kind::ReplaceSkin;
    if (path.empty() || !SkinPathField(path, e.bytes)) {
      Refuse("Edit skin path", "a skin's path is 1 to 63 characters");
      return;
    }
    Apply(e, "Edit skin path");
    return;
  }
  if (column != 1 || member < 0 || static_cast<std::size_t>(member) >= p.intervals.size()) return;
  bool number = false;
  const float seconds = item->text(1).trimmed().toFloat(&number);
  if (number && seconds == p.intervals[static_cast<std::size_t>(member)]) return;
  if (!number || !std::isfinite(seconds) || seconds <= 0) {
    Refuse("Set interval", "the engines take only intervals above 0, in seconds");
    return;
  }
  std::vector<float> intervals = p.intervals;
  intervals[static_cast<std::size_t>(member)] = seconds;
  e.kind = ModelEdit::Kind::SetSkinIntervals;
  e.bytes = FloatBytes(intervals);
  Apply(e, "Set interval");
}

void CGLFrame::FrameEdited(QTreeWidgetItem* item, int column) {
  if (m_filling || !m_layoutRead || column != 0) return;
  const int index = item->data(0, kIndexRole).toInt(), member = item->data(0, kMemberRole).toInt();
  const ModelLayout::Piece& p = m_layout.frames[static_cast<std::size_t>(index)];
  const std::size_t k = member < 0 ? 0 : static_cast<std::size_t>(member);
  const std::string name = item->text(0).toStdString();
  if (k < p.names.size() && name == p.names[k]) return;
  ModelEdit e;
  e.kind = ModelEdit::Kind::RenameFrame;
  e.index = index;
  e.member = member;
  if (!FrameNameField(name, e.bytes)) {
    Refuse("Rename frame", "a frame's name is at most 15 characters");
    return;
  }
  Apply(e, "Rename frame");
}

void CGLFrame::MoveChosenFrame(int by) {
  int index = -1, member = -1;
  if (!Chosen(m_frameList, index, member) || member >= 0) return;
  MoveFrame(index, index + by);
}

void CGLFrame::MoveFrame(int from, int to) {
  ModelEdit e;
  e.kind = ModelEdit::Kind::MoveFrame;
  e.index = from;
  e.to = to;
  // Where it went is what stays chosen.
  if (Apply(e, to < from ? "Move frame up" : "Move frame down") && to >= 0 && to < m_frameList->topLevelItemCount())
    m_frameList->setCurrentItem(m_frameList->topLevelItem(to));
}

void CGLFrame::RemoveChosenFrame() {
  int index = -1, member = -1;
  if (!Chosen(m_frameList, index, member) || member >= 0) return;
  ModelEdit e;
  e.kind = ModelEdit::Kind::RemoveFrame;
  e.index = index;
  Apply(e, m_layout.frames[static_cast<std::size_t>(index)].group ? "Remove frame group" : "Remove frame");
}

void CGLFrame::PropertiesEdited() {
  if (m_filling || !m_layoutRead || m_layout.format != ModelData::kMdl) return;
  std::int32_t flags = m_layout.flags;
  for (const QCheckBox* box : m_flagBoxes) {
    const std::int32_t bit = box->property("bit").toInt();
    flags = box->isChecked() ? flags | bit : flags & ~bit;
  }
  ModelEdit e;
  if (flags != m_layout.flags) {
    e.kind = ModelEdit::Kind::SetFlags;
    e.value = flags;
    Apply(e, "Set flags");
    return;
  }
  if (m_sync->currentIndex() >= 0 && m_sync->currentIndex() != m_layout.syncType) {
    e.kind = ModelEdit::Kind::SetSyncType;
    e.value = m_sync->currentIndex();
    Apply(e, "Set sync type");
    return;
  }
  // The boxes show two decimals: a number left as it was keeps the file's own.
  float eye[3];
  bool changed = false;
  for (int k = 0; k < 3; ++k) {
    const double shown = std::round(static_cast<double>(m_layout.eye[k]) * 100) / 100;
    eye[k] = m_eye[k]->value() == shown ? m_layout.eye[k] : static_cast<float>(m_eye[k]->value());
    changed = changed || eye[k] != m_layout.eye[k];
  }
  if (!changed) return;
  e.kind = ModelEdit::Kind::SetEye;
  e.bytes = FloatBytes(eye);
  Apply(e, "Set eye position");
}

void CGLFrame::ShowChosenSkin() {
  int index = -1, member = -1;
  if (!Chosen(m_skinList, index, member)) return;
  const int flat = ChosenItem(m_skinList)->data(0, kFlatRole).toInt();
  if (flat < 0 || flat >= static_cast<int>(m_view->Model().skins.size())) return;
  if (m_skins) m_skins->setCurrentIndex(flat);
  else m_view->SelectSkin(flat, true);
}

void CGLFrame::ShowChosenFrame() {
  int index = -1, member = -1;
  if (!Chosen(m_frameList, index, member)) return;
  const int flat = ChosenItem(m_frameList)->data(0, kFlatRole).toInt();
  if (flat < 0) return;
  // The frames went into animations by name in the file's order: the file's frame `flat` is
  // the next one of the animation whose next frame has its name.
  const auto& animations = m_view->Model().animations;
  std::vector<std::size_t> next(animations.size(), 0);
  int seen = 0;
  for (const ModelLayout::Piece& p : m_layout.frames)
    for (const std::string& name : p.names) {
      for (std::size_t a = 0; a < animations.size(); ++a) {
        if (next[a] >= animations[a].frames.size() || animations[a].frames[next[a]].name != name) continue;
        if (seen == flat) {
          m_view->SelectAnimation(static_cast<int>(a));
          m_view->SetFrame(static_cast<int>(next[a]));
          return;
        }
        ++next[a];
        break;
      }
      ++seen;
    }
}

}  // namespace tarn::viewers
