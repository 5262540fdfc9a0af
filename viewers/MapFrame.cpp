#include "viewers/MapFrame.h"

#include <QActionGroup>
#include <QDockWidget>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cstdio>

#include "formats/MapEntities.h"
#include "shell/Text.h"
#include "shell/WaitCursor.h"

namespace tarn::viewers {

using shell::Q;

namespace {

constexpr int kViewWidth = 800, kViewHeight = 500;
constexpr int kCentreRole = Qt::UserRole, kHalfRole = Qt::UserRole + 1;
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
    : CViewerFrame("Map", mainWindow) {
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

  auto* save = new QAction("Save View as &PNG...", this);
  save->setObjectName("actionSaveViewPng");
  connect(save, &QAction::triggered, this, [this] {
    const QString file =
        QFileDialog::getSaveFileName(this, "Save View as PNG", windowTitle() + ".png", "PNG pictures (*.png)");
    if (!file.isEmpty()) m_view->grabFramebuffer().save(file, "PNG");
  });
  AddFileAction(save);

  m_frameTime = new QLabel(this);
  m_frameTime->setObjectName("frameTime");
  statusBar()->addPermanentWidget(m_frameTime);
  connect(m_view, &CMapView::frameTime, this, [this](double ms) {
    m_frameTime->setText(ms < 0 ? QString() : QString("%1 ms a frame").arg(ms, 0, 'f', 1));
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
  m_dock = new QDockWidget("Entities", this);
  m_dock->setObjectName("mapEntities");
  m_dock->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
  m_dock->setWidget(panel);
  addDockWidget(Qt::RightDockWidgetArea, m_dock);
  connect(m_entities, &QTreeWidget::currentItemChanged, this, &CMapFrame::EntityChosen);

  PlaceBesideMainWindow(QSize(kViewWidth + 320, kViewHeight + statusBar()->sizeHint().height()));

  BspMap map;
  std::string error;
  {
    shell::CWaitCursor wait;
    m_loaded = LoadBsp(bytes, map, &error);
    // The coloured light of a .lit beside the map, when there is one that fits.
    std::vector<std::uint8_t> lit;
    if (m_loaded && ExpectedLitSize(map.header) > 0 && lookup && path.size() > 4 &&
        lookup(path.substr(0, path.size() - 4) + ".lit", lit))
      ApplyLit(map, lit, nullptr);
    m_view->SetMap(std::move(map), lookup);
  }
  if (!m_loaded) {
    statusBar()->showMessage("The map cannot be shown: " + Q(error));
    m_info->setText("The map cannot be shown: " + Q(error));
  } else {
    m_info->setText(InfoText());
    FillEntities();
    if (!m_view->MissingTextures().empty())
      statusBar()->showMessage(QString("%1 texture(s) not found").arg(m_view->MissingTextures().size()));
  }
  m_view->setFocus();
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
  if (!item || !item->data(0, kCentreRole).isValid()) return;
  m_view->LookAt(item->data(0, kCentreRole).value<QVector3D>(), item->data(0, kHalfRole).value<QVector3D>());
}

}  // namespace tarn::viewers
