// The map viewer window: the map's OpenGL view, a View menu of drawing modes (1 to 4), the
// frame time in the status bar while the camera moves, and a panel listing the map's
// entities, where choosing one flies the camera to it.
#pragma once

#include <span>

#include "viewers/MapView.h"
#include "viewers/ViewerFrame.h"

class QLabel;
class QTreeWidget;
class QDockWidget;

namespace tarn::viewers {

class CMapFrame : public CViewerFrame {
  Q_OBJECT
 public:
  // Loads the map from bytes (read only here); path is its place in the archive, beside which
  // a .lit is looked for; lookup finds the archive's other files.
  CMapFrame(const QString& title, std::span<const std::uint8_t> bytes, const std::string& path,
            const MapFileLookup& lookup, QWidget* mainWindow);
  ~CMapFrame() override;

  CMapView* View() const { return m_view; }
  QTreeWidget* Entities() const { return m_entities; }
  bool Loaded() const { return m_loaded; }
  // What the panel says of the map: its format and size, what is missing, what was left out.
  QString InfoText() const;

 private:
  void FillEntities();
  void EntityChosen();

  CMapView* m_view;
  QDockWidget* m_dock = nullptr;
  QLabel* m_info = nullptr;
  QTreeWidget* m_entities = nullptr;
  QLabel* m_frameTime = nullptr;
  bool m_loaded = false;
};

}  // namespace tarn::viewers
