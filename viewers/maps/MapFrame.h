// The map viewer window: the map's OpenGL view, a View menu of drawing modes (1 to 4), the
// frame time in the status bar while the camera moves (and a moment after), and a panel listing the map's
// entities, where choosing one flies the camera to it. The panel's Text tab shows the entity
// lump; given a way to save, it is edited and put back into the map (Ctrl+S) once checked as
// `tarn-pak ents --set` checks it, and written or read as the .ent beside the map. The Textures
// menu replaces the map's textures from a WAD or a folder of pictures and embeds a Half-Life
// map's textures or leaves them to its WADs, as `tarn-pak maptex` does.
#pragma once

#include <span>

#include "maps/MapTextures.h"
#include "viewers/TextViewer.h"
#include "viewers/ViewerFrame.h"
#include "viewers/maps/MapView.h"

class QLabel;
class QTreeWidget;
class QDockWidget;
class QTabWidget;

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

  // Makes the entity text editable, the map saved through save; writeBeside puts the .ent
  // beside the map (none: no Export); prompter asks and tells.
  void EnableEditing(TextSaver save, BesideWriter writeBeside, dialogs::CPrompter* prompter);
  QPlainTextEdit* EntityText() const;
  // Puts the map with the edited entities back into the archive and shows it so, the camera
  // where it was; false, told, when the text is refused or the save fails (nothing changes).
  bool SaveEntities();
  // The text, checked, as the .ent beside the map; false, told, when refused.
  bool ExportEnt();
  // The .ent beside the map (or a file asked for when there is none) into the editor, to be
  // reviewed before it is saved.
  void ImportEnt();
  // The map's textures replaced from the WAD or folder at from (asked for when empty), or (embed
  // and unembed) moved between a Half-Life map and its WADs; saved into the archive and shown.
  // False, told, when nothing was changed.
  bool ReplaceTextures(const QString& from, bool folder);
  bool MoveTextures(bool embed);

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  // Reads the map from m_bytes into the view, the info and the entity list.
  void ShowMap(bool keepCamera);
  void FillEntities();
  void EntityChosen();
  void GoToLine(int line);
  bool Refuse(const QString& why, int line, const char* caption = "Entities");
  void UpdateTitle();
  bool SaveTextures(std::vector<std::uint8_t>& map, const MapTextureReport& report, const char* done);
  // The .ent's name beside the map, and its path in the archive.
  std::string EntName() const;
  std::string EntPath() const;

  std::vector<std::uint8_t> m_bytes;
  std::string m_path;
  MapFileLookup m_lookup;
  QString m_title;
  QTabWidget* m_tabs = nullptr;
  CTextViewerView* m_text = nullptr;
  bool m_textRead = false;  // the entity lump could be read, so may be edited
  TextEncoding m_encoding;
  TextSaver m_save;
  BesideWriter m_writeBeside;
  dialogs::CPrompter* m_prompter = nullptr;
  QAction* m_saveAction = nullptr;
  QAction* m_exportAction = nullptr;
  QAction* m_importAction = nullptr;
  QList<QAction*> m_textureActions;

  CMapView* m_view;
  QDockWidget* m_dock = nullptr;
  QLabel* m_info = nullptr;
  QTreeWidget* m_entities = nullptr;
  QLabel* m_frameTime = nullptr;
  bool m_loaded = false;
};

}  // namespace tarn::viewers
