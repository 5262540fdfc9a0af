#include "viewers/maps/MapFrame.h"

#include <QActionGroup>
#include <QCloseEvent>
#include <QDockWidget>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cstdio>
#include <functional>
#include <new>

#include "dialogs/Prompter.h"
#include "dialogs/Text.h"
#include "dialogs/WaitCursor.h"
#include "maps/MapEntities.h"
#include "maps/MapModels.h"
#include "maps/MapTextures.h"

namespace tarn::viewers {

using dialogs::Q;

namespace {

constexpr int kViewWidth = 800, kViewHeight = 500, kDockWidth = 320;
constexpr int kCentreRole = Qt::UserRole, kHalfRole = Qt::UserRole + 1, kLineRole = Qt::UserRole + 2;
constexpr int kModelRole = Qt::UserRole + 3, kYawRole = Qt::UserRole + 4;
constexpr int kSavedMs = 5000;
constexpr int kFrameTimeHeldMs = 3000;
// A point entity's box: Quake's player is 32 units wide and 56 high.
const QVector3D kPointHalf(16, 16, 24);

bool ReadVector(const std::string* text, QVector3D& out) {
  float v[3];
  if (!text || std::sscanf(text->c_str(), "%f %f %f", &v[0], &v[1], &v[2]) != 3) return false;
  out = QVector3D(v[0], v[1], v[2]);
  return true;
}

}  // namespace

CMapFrame::CMapFrame(const QString& title, std::span<const std::uint8_t> bytes, const std::string& path,
                     const MapFileLookup& lookup, QWidget* mainWindow)
    : CViewerFrame("Map", mainWindow),
      m_bytes(bytes.begin(), bytes.end()),
      m_path(path),
      m_lookup(lookup),
      m_title(title) {
  setObjectName("mapViewer");
  setWindowTitle(title);
  m_view = new CMapView(this);
  setCentralWidget(m_view);

  auto* view = menuBar()->addMenu("&View");
  auto* modes = new QActionGroup(this);
  struct ModeCommand {
    const char* name;
    const char* text;
    CMapView::Mode mode;
    Qt::Key key;
  };
  for (const ModeCommand& c : {ModeCommand{"actionMapTextures", "&Textures", CMapView::Mode::Textures, Qt::Key_1},
                               {"actionMapLightmaps", "&Lightmaps", CMapView::Mode::Lightmaps, Qt::Key_2},
                               {"actionMapBoth", "Textures &and Lightmaps", CMapView::Mode::Both, Qt::Key_3},
                               {"actionMapWireframe", "&Wireframe", CMapView::Mode::Wireframe, Qt::Key_4}}) {
    QAction* a = view->addAction(c.text);
    a->setObjectName(c.name);
    a->setCheckable(true);
    a->setShortcut(QKeySequence(c.key));
    a->setChecked(c.mode == m_view->CurrentMode());
    modes->addAction(a);
    const CMapView::Mode mode = c.mode;
    connect(a, &QAction::triggered, this, [this, mode] { m_view->SetMode(mode); });
  }
  // Quakespasm's look by default, as convert draws it; the plain one is convert's --look plain.
  view->addSeparator();
  auto* plain = view->addAction("&Plain Look");
  plain->setObjectName("actionMapPlainLook");
  plain->setCheckable(true);
  connect(plain, &QAction::toggled, this, [this](bool on) {
    MapLook look = m_view->Look();
    look.engine = !on;
    m_view->SetLook(look);
    ShowMap(true);
  });

  auto* save = new QAction("Save View as &PNG...", this);
  save->setObjectName("actionSaveViewPng");
  connect(save, &QAction::triggered, this, [this] {
    const QString file =
        QFileDialog::getSaveFileName(this, "Save View as PNG", windowTitle() + ".png", "PNG pictures (*.png)");
    if (!file.isEmpty()) m_view->grabFramebuffer().save(file, "PNG");
  });
  AddFileAction(save);

  // The entity commands stay disabled until EnableEditing: a map that may not change has none.
  auto* entities = menuBar()->addMenu("&Entities");
  m_saveAction = entities->addAction("&Save to Archive");
  m_saveAction->setObjectName("actionSaveEntities");
  m_saveAction->setShortcut(QKeySequence::Save);
  m_exportAction = entities->addAction("&Export .ent");
  m_exportAction->setObjectName("actionExportEnt");
  m_importAction = entities->addAction("&Import .ent...");
  m_importAction->setObjectName("actionImportEnt");
  for (QAction* a : {m_saveAction, m_exportAction, m_importAction}) a->setEnabled(false);

  auto* textures = menuBar()->addMenu("&Textures");
  struct TextureCommand {
    const char* name;
    const char* text;
    std::function<void()> run;
  };
  for (const TextureCommand& c :
       {TextureCommand{"actionReplaceTexturesWad", "Replace from &WAD...", [this] { ReplaceTextures({}, false); }},
        TextureCommand{"actionReplaceTexturesFolder", "Replace from &Folder...", [this] { ReplaceTextures({}, true); }},
        TextureCommand{"actionEmbedTextures", "&Embed from the Map's WADs", [this] { MoveTextures(true); }},
        TextureCommand{"actionUnembedTextures", "&Leave to the Map's WADs", [this] { MoveTextures(false); }}}) {
    QAction* a = textures->addAction(c.text);
    a->setObjectName(c.name);
    a->setEnabled(false);
    connect(a, &QAction::triggered, this, c.run);
    m_textureActions << a;
  }
  connect(m_saveAction, &QAction::triggered, this, &CMapFrame::SaveEntities);
  connect(m_exportAction, &QAction::triggered, this, &CMapFrame::ExportEnt);
  connect(m_importAction, &QAction::triggered, this, &CMapFrame::ImportEnt);

  m_frameTime = new QLabel(this);
  m_frameTime->setObjectName("frameTime");
  statusBar()->addPermanentWidget(m_frameTime);
  // The figure stays a moment after the camera stops, long enough to be read.
  auto* hold = new QTimer(this);
  hold->setObjectName("frameTimeHold");
  hold->setSingleShot(true);
  hold->setInterval(kFrameTimeHeldMs);
  connect(hold, &QTimer::timeout, m_frameTime, &QLabel::clear);
  connect(m_view, &CMapView::frameTime, this, [this, hold](double ms) {
    if (ms < 0) {
      hold->start();
      return;
    }
    hold->stop();
    m_frameTime->setText(QString("%1 ms a frame").arg(ms, 0, 'f', 1));
  });

  auto* panel = new QWidget;
  auto* layout = new QVBoxLayout(panel);
  layout->setContentsMargins(4, 4, 4, 4);
  m_info = new QLabel(panel);
  m_info->setObjectName("mapInfo");
  m_info->setWordWrap(true);
  m_info->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(m_info);
  m_entities = new QTreeWidget(panel);
  m_entities->setObjectName("entityList");
  m_entities->setHeaderLabels({"Class", "Origin", "Target name"});
  m_entities->setRootIsDecorated(false);
  m_entities->setUniformRowHeights(true);
  m_entities->setFocusPolicy(Qt::ClickFocus);  // the keys belong to the camera
  layout->addWidget(m_entities, 1);

  std::string text, why;
  m_textRead = ReadEntityText(m_bytes, text, &why);
  auto* textPage = new QWidget;
  auto* textLayout = new QVBoxLayout(textPage);
  textLayout->setContentsMargins(0, 0, 0, 0);
  textLayout->setSpacing(2);
  auto* buttons = new QHBoxLayout;
  buttons->setContentsMargins(4, 4, 4, 0);
  for (QAction* a : {m_saveAction, m_exportAction, m_importAction}) {
    auto* b = new QToolButton(textPage);
    b->setDefaultAction(a);
    b->setToolButtonStyle(Qt::ToolButtonTextOnly);
    buttons->addWidget(b);
  }
  buttons->addStretch(1);
  textLayout->addLayout(buttons);
  const auto* raw = reinterpret_cast<const std::uint8_t*>(text.data());
  m_text = new CTextViewerView(TextForDisplay({raw, text.size()}, &m_encoding), textPage, "entities.ent");
  m_text->Text()->setObjectName("entityText");
  textLayout->addWidget(m_text, 1);

  m_tabs = new QTabWidget;
  m_tabs->setObjectName("entityTabs");
  m_tabs->addTab(panel, "&List");
  m_tabs->addTab(textPage, "Te&xt");
  m_dock = new QDockWidget("Entities", this);
  m_dock->setObjectName("mapEntities");
  m_dock->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
  m_dock->setWidget(m_tabs);
  addDockWidget(Qt::RightDockWidgetArea, m_dock);
  connect(m_entities, &QTreeWidget::currentItemChanged, this, &CMapFrame::EntityChosen);
  connect(m_text->Text()->document(), &QTextDocument::modificationChanged, this, &CMapFrame::UpdateTitle);

  PlaceBesideMainWindow(QSize(kViewWidth + kDockWidth, kViewHeight + statusBar()->sizeHint().height()));
  // The text asks room for long lines; the view comes first, the dock widens by hand.
  resizeDocks({m_dock}, {kDockWidth}, Qt::Horizontal);

  ShowMap(false);
  if (!m_textRead) m_text->Text()->setPlainText("The entities cannot be read: " + Q(why));
  m_view->setFocus();
}

void CMapFrame::ShowMap(bool keepCamera) {
  const QVector3D position = m_view->Position();
  const float yaw = m_view->Yaw(), pitch = m_view->Pitch();
  BspMap map;
  std::string error;
  {
    dialogs::CWaitCursor wait;
    try {
      m_loaded = LoadBsp(m_bytes, map, &error);
      // The coloured light of a .lit beside the map, when there is one that fits.
      std::vector<std::uint8_t> lit;
      if (m_loaded && ExpectedLitSize(map.header) > 0 && m_lookup && m_path.size() > 4 &&
          m_lookup(m_path.substr(0, m_path.size() - 4) + ".lit", lit))
        ApplyLit(map, lit, nullptr);
    } catch (const std::bad_alloc&) {
      map = BspMap();
      m_loaded = false;
    }
    if (!m_view->SetMap(std::move(map), m_lookup)) m_loaded = false;
    if (!m_loaded && error.empty()) error = kNoMemoryForMap;
  }
  if (keepCamera) m_view->SetCamera(position, yaw, pitch);
  m_entities->clear();
  if (!m_loaded) {
    statusBar()->showMessage("The map cannot be shown: " + Q(error));
    m_info->setText("The map cannot be shown: " + Q(error));
  } else {
    m_info->setText(InfoText());
    FillEntities();
    if (!m_view->MissingTextures().empty())
      statusBar()->showMessage(QString("%1 texture(s) not found").arg(m_view->MissingTextures().size()));
  }
}

CMapFrame::~CMapFrame() = default;

QString CMapFrame::InfoText() const {
  const BspMap& map = m_view->Map();
  const MapMesh& mesh = m_view->Mesh();
  QString text = QString("%1 map (%2): %3 faces drawn of %4, %5 textures, %6 lightmap page(s)%7.")
                     .arg(BspGameName(map.header.format), BspFormatName(map.header.format))
                     .arg(mesh.drawnFaces)
                     .arg(map.faces.size())
                     .arg(map.textures.size())
                     .arg(mesh.pages.size())
                     .arg(map.coloredByLit ? ", coloured by its .lit" : "");
  const auto& missing = m_view->MissingTextures();
  if (!missing.empty()) {
    QStringList names;
    for (const auto& n : missing) names << Q(n);
    text += "\nNot found (checkerboard): " + names.join(", ");
  }
  for (const auto& p : map.problems) text += "\n" + Q(p);
  if (mesh.oversizedLight)
    text +=
        QString("\n%1 face(s) drawn unlit: their lightmaps are wider than the engines draw").arg(mesh.oversizedLight);
  if (mesh.excessLight)
    text += QString("\n%1 face(s) drawn unlit: their lightmaps repeat what the lighting lump holds for other faces")
                .arg(mesh.excessLight);
  return text;
}

void CMapFrame::FillEntities() {
  std::vector<MapEntity> entities;
  std::string error;
  const BspMap& map = m_view->Map();
  if (!ParseEntities(map.entities, entities, &error)) m_info->setText(m_info->text() + "\nEntities: " + Q(error));
  QList<QTreeWidgetItem*> items;
  for (const MapEntity& e : entities) {
    const std::string* classname = e.Find("classname");
    const std::string* origin = e.Find("origin");
    const std::string* target = e.Find("targetname");
    auto* item = new QTreeWidgetItem(
        {classname ? Q(*classname) : QString(), origin ? Q(*origin) : QString(), target ? Q(*target) : QString()});
    QVector3D centre, half = kPointHalf;
    bool placed = ReadVector(origin, centre);
    // A brush entity is where its model is, moved by its origin when it has one.
    const std::string* model = e.Find("model");
    int index = 0;
    if (model && model->size() > 1 && model->front() == '*' && std::sscanf(model->c_str() + 1, "%d", &index) == 1 &&
        index > 0 && static_cast<std::size_t>(index) < map.models.size()) {
      const BspModel& m = map.models[static_cast<std::size_t>(index)];
      const QVector3D mins(m.mins[0], m.mins[1], m.mins[2]), maxs(m.maxs[0], m.maxs[1], m.maxs[2]);
      centre = (mins + maxs) / 2 + (placed ? centre : QVector3D());
      half = (maxs - mins) / 2;
      placed = true;
    }
    item->setData(0, kLineRole, e.line);
    // Read only when chosen: a map has hundreds of entities, and most are never looked at.
    QVector3D at;
    if (const std::string path = EntityModelPath(e); !path.empty() && ReadVector(origin, at)) {
      item->setData(0, kModelRole, Q(path));
      item->setData(0, kYawRole, EntityYaw(e));
    }
    if (placed) {
      item->setData(0, kCentreRole, centre);
      item->setData(0, kHalfRole, half);
    }
    items << item;
  }
  m_entities->addTopLevelItems(items);
  m_entities->resizeColumnToContents(0);
}

void CMapFrame::EntityChosen() {
  QTreeWidgetItem* item = m_entities->currentItem();
  if (!item) return;
  if (m_textRead) {
    // The entity's block in the text as it is now, edits not yet saved included; the line the
    // lump had when the text no longer reads that far.
    std::vector<MapEntity> now;
    ParseEntities(m_text->Text()->toPlainText().toStdString(), now, nullptr);
    const auto index = static_cast<std::size_t>(m_entities->indexOfTopLevelItem(item));
    GoToLine(index < now.size() ? now[index].line : item->data(0, kLineRole).toInt());
  }
  if (!item->data(0, kCentreRole).isValid()) return;
  const QVector3D centre = item->data(0, kCentreRole).value<QVector3D>();
  MapModelMesh model;
  if (const QString path = item->data(0, kModelRole).toString(); !path.isEmpty()) {
    const float origin[3] = {centre.x(), centre.y(), centre.z()};
    std::string why;
    // Without its model the entity keeps its box.
    if (!BuildMapModel(path.toStdString(), m_lookup, origin, item->data(0, kYawRole).toFloat(), model, &why))
      statusBar()->showMessage(Q(why), kSavedMs);
  }
  m_view->LookAt(centre, item->data(0, kHalfRole).value<QVector3D>(), std::move(model));
}

QPlainTextEdit* CMapFrame::EntityText() const { return m_text->Text(); }

void CMapFrame::GoToLine(int line) {
  QPlainTextEdit* edit = m_text->Text();
  const QTextBlock block = edit->document()->findBlockByNumber(std::max(line, 1) - 1);
  if (!block.isValid()) return;
  edit->setTextCursor(QTextCursor(block));
  // Unwrapped, the scroll bar counts lines: the entity's opening brace goes to the top.
  edit->verticalScrollBar()->setValue(block.blockNumber());
}

void CMapFrame::EnableEditing(TextSaver save, BesideWriter writeBeside, dialogs::CPrompter* prompter) {
  if (!save || !m_textRead) return;
  m_save = std::move(save);
  m_writeBeside = std::move(writeBeside);
  m_prompter = prompter;
  m_text->SetEditable(true);
  m_saveAction->setEnabled(true);
  m_importAction->setEnabled(true);
  m_exportAction->setEnabled(static_cast<bool>(m_writeBeside));
  // Quake II's textures are WALs beside the map, never in it; only Half-Life's may be left to WADs.
  const BspFormat format = m_view->Map().header.format;
  for (int i = 0; i < m_textureActions.size(); ++i)
    m_textureActions[i]->setEnabled(m_loaded && (i < 2 ? !BspIsQuake2(format) : format == BspFormat::HalfLife));
}

namespace {

QString TextureReport(const MapTextureReport& r, const char* done) {
  QString text = QString("%1 texture(s) %2").arg(r.replaced.size()).arg(done);
  if (!r.same.empty()) text += QString(", %1 the same").arg(r.same.size());
  if (!r.notFound.empty()) text += QString(", %1 not found").arg(r.notFound.size());
  text += ".";
  for (const std::string& n : r.refused) text += "\nNot taken: " + Q(n);
  for (const std::string& n : r.notes) text += "\n" + Q(n);
  return text;
}

}  // namespace

bool CMapFrame::ReplaceTextures(const QString& given, bool folder) {
  if (!m_save) return false;
  QString from = given;
  if (from.isEmpty() && m_prompter)
    from = folder ? m_prompter->ExistingDirectory(this, "Replace Textures from Folder")
                  : m_prompter->OpenFileName(this, "Replace Textures from WAD", "WAD files (*.wad);;All files (*)");
  if (from.isEmpty()) return false;
  MapTextureFinder finder;
  std::vector<std::string> refused;
  std::string why;
  if (folder) {
    finder = FolderTextureFinder(from.toStdString(), &refused);
  } else {
    QFile file(from);
    if (!file.open(QIODevice::ReadOnly))
      return Refuse("Could not read " + from + ": " + file.errorString() + ".", 0, "Textures");
    const QByteArray read = file.readAll();
    if (!WadTextureFinder(std::vector<std::uint8_t>(read.begin(), read.end()), finder, &why))
      return Refuse("The textures were not replaced: " + from + " is " + Q(why) + ".", 0, "Textures");
  }
  MapTextureReport report;
  std::vector<std::uint8_t> map;
  if (!ReplaceMapTextures(m_bytes, finder, map, report, &why))
    return Refuse("The textures were not replaced: " + Q(why) + ".", 0, "Textures");
  report.refused.insert(report.refused.begin(), refused.begin(), refused.end());
  return SaveTextures(map, report, "replaced");
}

bool CMapFrame::MoveTextures(bool embed) {
  if (!m_save) return false;
  BspMap bsp;
  std::string why;
  if (!LoadBsp(m_bytes, bsp, &why)) return Refuse("The map cannot be read: " + Q(why) + ".", 0, "Textures");
  MapTextureReport report;
  std::vector<std::uint8_t> map;
  if (!EmbedMapTextures(m_bytes, embed, MapWadTextures(bsp, m_lookup), map, report, &why))
    return Refuse("The textures were not moved: " + Q(why) + ".", 0, "Textures");
  return SaveTextures(map, report, embed ? "embedded" : "left to the WADs");
}

bool CMapFrame::SaveTextures(std::vector<std::uint8_t>& map, const MapTextureReport& report, const char* done) {
  const QString text = TextureReport(report, done);
  if (report.replaced.empty()) return Refuse(text + " Nothing changed.", 0, "Textures");
  QString why;
  if (!m_save(map, &why)) return Refuse("The textures could not be saved: " + why + ".", 0, "Textures");
  m_bytes = std::move(map);
  ShowMap(true);
  statusBar()->showMessage(text + " Saved into the archive; Undo in the main window takes it back.", kSavedMs);
  if (m_prompter && (!report.refused.empty() || !report.notes.empty()))
    m_prompter->Message(this, text, "Textures", QMessageBox::Information);
  return true;
}

void CMapFrame::UpdateTitle() { setWindowTitle(m_text->Text()->document()->isModified() ? m_title + " *" : m_title); }

bool CMapFrame::Refuse(const QString& why, int line, const char* caption) {
  statusBar()->showMessage(why, kSavedMs);
  if (line > 0) {
    m_tabs->setCurrentIndex(1);
    GoToLine(line);
  }
  if (m_prompter) m_prompter->Message(this, why, caption, QMessageBox::Warning);
  return false;
}

bool CMapFrame::SaveEntities() {
  if (!m_save) return false;
  std::vector<std::uint8_t> text, map;
  QString why;
  if (!BytesOfText(m_text->Text()->toPlainText(), m_encoding, text, &why))
    return Refuse("The entities were not saved: " + why + ".", 0);
  std::string error;
  int line = 0;
  const std::string_view view(reinterpret_cast<const char*>(text.data()), text.size());
  if (!SetEntityText(m_bytes, view, map, &error, &line))
    return Refuse("The entities were not saved, " + Q(error) + ".", line);
  if (!m_save(map, &why)) return Refuse("The entities could not be saved: " + why + ".", 0);
  m_bytes = std::move(map);
  m_text->Text()->document()->setModified(false);
  ShowMap(true);
  statusBar()->showMessage("Saved into the archive; Undo in the main window takes it back.", kSavedMs);
  return true;
}

std::string CMapFrame::EntName() const {
  const auto slash = m_path.rfind('/');
  const std::string name = slash == std::string::npos ? m_path : m_path.substr(slash + 1);
  const auto dot = name.rfind('.');
  return (dot == std::string::npos || dot == 0 ? name : name.substr(0, dot)) + ".ent";
}

std::string CMapFrame::EntPath() const {
  const auto slash = m_path.rfind('/');
  return (slash == std::string::npos ? std::string() : m_path.substr(0, slash + 1)) + EntName();
}

bool CMapFrame::ExportEnt() {
  if (!m_writeBeside) return false;
  std::vector<std::uint8_t> text;
  QString why;
  if (!BytesOfText(m_text->Text()->toPlainText(), m_encoding, text, &why))
    return Refuse("The .ent was not written: " + why + ".", 0);
  // An engine takes a .ent in place of the lump: a broken one would lose the map its entities.
  std::vector<MapEntity> entities;
  std::string error;
  int line = 0;
  if (!ParseEntities(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()), entities, &error,
                     &line))
    return Refuse("The .ent was not written, " + Q(error) + ".", line);
  if (!m_writeBeside(EntName(), text, &why)) return Refuse("The .ent could not be written: " + why + ".", 0);
  statusBar()->showMessage("Wrote " + Q(EntPath()) + " into the archive; Undo in the main window takes it back.",
                           kSavedMs);
  return true;
}

void CMapFrame::ImportEnt() {
  if (!m_save) return;
  std::vector<std::uint8_t> bytes;
  QString from = Q(EntPath());
  if (!m_lookup || !m_lookup(EntPath(), bytes)) {
    from = m_prompter ? m_prompter->OpenFileName(this, "Import Entities", "Entity files (*.ent);;All files (*)")
                      : QString();
    if (from.isEmpty()) return;
    QFile file(from);
    if (!file.open(QIODevice::ReadOnly)) {
      Refuse("Could not read " + from + ": " + file.errorString() + ".", 0);
      return;
    }
    const QByteArray read = file.readAll();
    bytes.assign(read.begin(), read.end());
  }
  TextEncoding how;
  const QString text = TextForDisplay(bytes, &how);
  // Bytes that are not UTF-8 go back as they came, one a character.
  m_encoding.latin1 = m_encoding.latin1 || how.latin1;
  // One step of the editor's own undo, so that the import can be taken back before a save.
  QTextCursor all(m_text->Text()->document());
  all.select(QTextCursor::Document);
  all.insertText(text);
  m_tabs->setCurrentIndex(1);
  GoToLine(1);
  statusBar()->showMessage("Read " + from + "; Save to Archive puts it in the map.", kSavedMs);
}

void CMapFrame::closeEvent(QCloseEvent* e) {
  if (m_save && m_prompter && m_text->Text()->document()->isModified() &&
      !MayCloseWithChanges(*m_prompter, QString("Save the changed entities of %1 into the archive?").arg(m_title),
                           "Entities", [this] { return SaveEntities(); })) {
    e->ignore();
    return;
  }
  CViewerFrame::closeEvent(e);
}

}  // namespace tarn::viewers
