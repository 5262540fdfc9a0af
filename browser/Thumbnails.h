// Small pictures of entries for the icon views: made on a worker only for the entries a view
// asks about (those in sight), kept until the tree changes, the kind's icon meanwhile. A map's
// is the view from its start, drawn by the software renderer.
#pragma once

#include <QIcon>
#include <QObject>
#include <QPixmap>
#include <QThreadPool>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class QTimer;

namespace tarn {
class CPackObject;
struct BspMap;
}  // namespace tarn

namespace tarn::browser {

class CThumbnails : public QObject {
  Q_OBJECT
 public:
  explicit CThumbnails(QObject* parent = nullptr);
  ~CThumbnails() override;

  // The side of the square thumbnails are made at; 0 makes none.
  void SetSide(int side);
  int Side() const { return m_side; }
  // The entry's thumbnail when it is made; a null pixmap otherwise, and it is asked for (once:
  // an entry that has none, as a sound, stays without).
  QPixmap Find(const CPackObject* entry);
  // An icon drawn at its size in the middle of a thumbnail's square: every icon of a view the
  // same size, so that the names below them stay in the rows the view has measured.
  QPixmap Framed(const QIcon& icon);
  // Whether the entry's thumbnail is made, without asking for it.
  bool Made(const CPackObject* entry) const;
  // Forgets every thumbnail and every one asked for: the entries may be gone or changed.
  void Clear();
  // Waits for the thumbnails on their way (for tests and benchmarks).
  void WaitForPending();

 signals:
  void ready(const tarn::CPackObject* entry);

 private:
  struct Item {
    QPixmap pixmap;
    bool asked = false;
  };
  using Files = std::unordered_map<std::string, std::shared_ptr<const std::vector<std::uint8_t>>>;
  void ReadAsked();
  void StartMap(CPackObject* entry, std::shared_ptr<std::vector<std::uint8_t>> bytes);
  void GatherMapFiles(std::uint64_t generation, const CPackObject* entry, std::shared_ptr<const BspMap> map,
                      const std::vector<std::string>& wanted);
  // On the worker, at the side the thumbnails were asked at.
  void DrawMap(std::uint64_t generation, int side, const CPackObject* entry, std::shared_ptr<const BspMap> map,
               std::shared_ptr<const Files> files);
  void Deliver(std::uint64_t generation, const CPackObject* entry, const QImage& image);

  int m_side = 0;
  std::uint64_t m_generation = 0;
  std::unordered_map<const CPackObject*, Item> m_items;
  std::unordered_map<qint64, QPixmap> m_framed;  // by the icon's cache key, at m_side
  std::vector<CPackObject*> m_asked;             // waiting for their bytes to be read
  Files m_mapFiles;                              // WALs and WADs read for maps, by path, until Clear
  QTimer* m_reader;
  QThreadPool m_pool;
  std::shared_ptr<bool> m_alive;
};

}  // namespace tarn::browser
