#include "browser/Thumbnails.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QThread>
#include <QTimer>
#include <new>

#include "archive/PackObject.h"
#include "fileio/Strings.h"
#include "maps/Bsp.h"
#include "maps/MapImages.h"
#include "maps/MapRender.h"
#include "pictures/EntryPictures.h"
#include "viewers/BitmapViewer.h"

namespace tarn::browser {

namespace {

// Larger files are left with their icon: a thumbnail is not worth reading megabytes for.
constexpr std::size_t kMostBytes = 4 << 20;
// The bytes are read on the window's thread (the tree is not the worker's to touch), a few
// milliseconds' worth at a time so that scrolling stays smooth.
constexpr int kReadingMs = 8;
// The WALs and WADs a map's thumbnail takes its textures from; a larger WAD is left out and
// its textures drawn as the checkerboard.
constexpr std::int64_t kMostMapFileBytes = 32 << 20;

bool IsMap(const std::string& name) { return EndsWith(ToLower(name), ".bsp"); }

// A model shows its skin; every other kind its own picture.
PictureKind KindOf(const std::string& name) {
  const PictureKind skin = PictureKindOf(name, true);
  return skin != PictureKind::None ? skin : PictureKindOf(name, false);
}

}  // namespace

CThumbnails::CThumbnails(QObject* parent) : QObject(parent), m_alive(std::make_shared<bool>(true)) {
  m_pool.setMaxThreadCount(std::max(1, QThread::idealThreadCount() - 1));
  m_reader = new QTimer(this);
  m_reader->setSingleShot(true);
  m_reader->setInterval(0);
  connect(m_reader, &QTimer::timeout, this, &CThumbnails::ReadAsked);
}

CThumbnails::~CThumbnails() {
  *m_alive = false;
  m_pool.clear();
  m_pool.waitForDone();
}

void CThumbnails::SetSide(int side) {
  if (side == m_side) return;
  m_side = side;
  m_framed.clear();
  Clear();
}

QPixmap CThumbnails::Framed(const QIcon& icon) {
  QPixmap& framed = m_framed[icon.cacheKey()];
  if (framed.isNull() && m_side > 0) {
    framed = QPixmap(m_side, m_side);
    framed.fill(Qt::transparent);
    const QPixmap small = icon.pixmap(std::min(m_side, 32));
    QPainter painter(&framed);
    painter.drawPixmap((m_side - small.width()) / 2, (m_side - small.height()) / 2, small);
  }
  return framed;
}

void CThumbnails::Clear() {
  ++m_generation;
  m_items.clear();
  m_asked.clear();
  m_mapFiles.clear();
  m_pool.clear();
}

void CThumbnails::WaitForPending() {
  // A map's thumbnail goes from the worker to this thread and back before it is made.
  for (int trip = 0; trip < 3; ++trip) {
    while (!m_asked.empty()) ReadAsked();
    m_pool.waitForDone();
    QCoreApplication::sendPostedEvents(this);
  }
}

QPixmap CThumbnails::Find(const CPackObject* entry) {
  if (m_side <= 0 || !entry || entry->IsDirectory()) return {};
  if (KindOf(entry->Name()) == PictureKind::None && !IsMap(entry->Name())) return {};
  Item& item = m_items[entry];
  if (!item.asked) {
    item.asked = true;
    m_asked.push_back(const_cast<CPackObject*>(entry));
    if (!m_reader->isActive()) m_reader->start();
  }
  return item.pixmap;
}

bool CThumbnails::Made(const CPackObject* entry) const {
  const auto it = m_items.find(entry);
  return it != m_items.end() && !it->second.pixmap.isNull();
}

void CThumbnails::ReadAsked() {
  QElapsedTimer clock;
  clock.start();
  // The newest first: what is in sight now, after a scroll.
  while (!m_asked.empty() && clock.elapsed() < kReadingMs) {
    CPackObject* entry = m_asked.back();
    m_asked.pop_back();
    auto bytes = std::make_shared<std::vector<std::uint8_t>>();
    std::string why;
    bool cut = false;
    if (!entry->CopyBytes(*bytes, &why, kMostBytes, &cut) || cut) continue;
    if (IsMap(entry->Name())) {
      StartMap(entry, std::move(bytes));
      continue;
    }
    const std::string name = entry->Name();
    const int side = m_side;
    const std::uint64_t generation = m_generation;
    std::weak_ptr<bool> alive = m_alive;
    m_pool.start([this, alive, bytes, name, side, generation, entry] {
      EntryPictures pictures = DecodeEntryBytes(name, *bytes, PictureKindOf(name, true) != PictureKind::None);
      if (!pictures.ok()) return;
      const QImage image =
          viewers::ToImages(pictures.set).front().scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
      if (alive.expired()) return;
      QMetaObject::invokeMethod(this, [this, alive, generation, entry, image] {
        if (!alive.expired()) Deliver(generation, entry, image);
      });
    });
  }
  if (!m_asked.empty()) m_reader->start();
}

// A map in three steps, so that only the window's thread reads the archive: the worker reads the
// map and says which files its textures are in; the window's thread reads those; the worker
// draws. A map that holds all its textures skips the middle.
void CThumbnails::StartMap(CPackObject* entry, std::shared_ptr<std::vector<std::uint8_t>> bytes) {
  const std::uint64_t generation = m_generation;
  const int side = m_side;
  std::weak_ptr<bool> alive = m_alive;
  m_pool.start([this, alive, bytes, generation, side, entry] {
    auto map = std::make_shared<BspMap>();
    try {
      if (!LoadBsp(*bytes, *map, nullptr)) return;
    } catch (const std::bad_alloc&) {
      return;  // the icon stays
    }
    std::vector<std::string> wanted = MapFilesWanted(*map);
    if (wanted.empty()) {
      DrawMap(generation, side, entry, map, std::make_shared<Files>());
      return;
    }
    if (alive.expired()) return;
    QMetaObject::invokeMethod(this, [this, alive, generation, entry, map, wanted] {
      if (!alive.expired()) GatherMapFiles(generation, entry, map, wanted);
    });
  });
}

void CThumbnails::GatherMapFiles(std::uint64_t generation, const CPackObject* entry, std::shared_ptr<const BspMap> map,
                                 const std::vector<std::string>& wanted) {
  // The entry is still in the tree only while the tree is the one it was asked for in.
  if (generation != m_generation || !m_items.count(entry)) return;
  auto files = std::make_shared<Files>();
  const CPackObject* root = entry->Root();
  for (const std::string& path : wanted) {
    auto cached = m_mapFiles.find(path);
    if (cached == m_mapFiles.end()) {
      std::shared_ptr<const std::vector<std::uint8_t>> bytes;
      const CPackObject* e = root->FindByPath(path);
      if (!e) e = root->FindByPath(ToLower(path));
      auto read = std::make_shared<std::vector<std::uint8_t>>();
      if (e && !e->IsDirectory() && e->Size() <= kMostMapFileBytes && e->CopyBytes(*read, nullptr)) bytes = read;
      cached = m_mapFiles.emplace(path, bytes).first;  // null: looked for, not there
    }
    if (cached->second) files->emplace(path, cached->second);
  }
  std::weak_ptr<bool> alive = m_alive;
  const int side = m_side;
  m_pool.start([this, alive, generation, side, entry, map, files] {
    if (!alive.expired()) DrawMap(generation, side, entry, map, files);
  });
}

// On the worker: the view from the start at twice the side, made smooth by scaling down.
void CThumbnails::DrawMap(std::uint64_t generation, int side, const CPackObject* entry,
                          std::shared_ptr<const BspMap> map, std::shared_ptr<const Files> files) {
  const MapFileLookup lookup = [files](const std::string& path, std::vector<std::uint8_t>& bytes) {
    const auto it = files->find(path);
    if (it == files->end()) return false;
    bytes = *it->second;
    return true;
  };
  const int width = 2 * side, height = std::max(1, 2 * side * 10 / 16);
  std::vector<std::uint8_t> rgb;
  // A map too large to build, or whose faces pile up past the renderer's budget, keeps its
  // icon: a picture cut short would show a map that is not there.
  try {
    const MapScene scene = BuildMapScene(*map, lookup);
    MapRenderWork work;
    if (!RenderMap(scene, MapStartCamera(*map), width, height, rgb, &work) || work.cutShort) return;
  } catch (const std::bad_alloc&) {
    return;
  }
  const QImage image = QImage(rgb.data(), width, height, width * 3, QImage::Format_RGB888)
                           .scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  std::weak_ptr<bool> alive = m_alive;
  if (alive.expired()) return;
  QMetaObject::invokeMethod(this, [this, alive, generation, entry, image] {
    if (!alive.expired()) Deliver(generation, entry, image);
  });
}

void CThumbnails::Deliver(std::uint64_t generation, const CPackObject* entry, const QImage& image) {
  if (generation != m_generation) return;  // made for a tree that has changed since
  auto it = m_items.find(entry);
  if (it == m_items.end()) return;
  // Centred on a square, so that every icon of the view has one size.
  QPixmap square(m_side, m_side);
  square.fill(Qt::transparent);
  {
    QPainter painter(&square);
    painter.drawImage((m_side - image.width()) / 2, (m_side - image.height()) / 2, image);
  }
  it->second.pixmap = square;
  emit ready(entry);
}

}  // namespace tarn::browser
