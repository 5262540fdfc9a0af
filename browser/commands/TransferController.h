// The commands that move entries between the archive and the disk: import of files and
// folders (pictures encoded and models converted on the way when asked), export of files
// (pictures also as PNG, models also as glTF and OBJ) and directories, export for an engine,
// a map's textures into a WAD, and what dragged entries become outside the window.
#pragma once

#include <QList>
#include <QStringList>
#include <QUrl>
#include <memory>
#include <string>
#include <vector>

#include "archive/PackObject.h"
#include "browser/EntryDrag.h"

class QAction;
class QMimeData;
class QTemporaryDir;

namespace tarn {
class CTarnDoc;
}

namespace tarn::browser {

class CMainFrame;
struct CommandState;

class CTransferController : public CDragSource {
  Q_OBJECT
 public:
  explicit CTransferController(CMainFrame& frame);
  ~CTransferController() override;

  struct Commands {
    QAction *importFile, *importDirectory, *newSprite, *exportFile, *exportDirectory, *exportAsPng, *exportForEngine,
        *extractTextures;
  };
  const Commands& Cmd() const { return m_cmd; }
  void UpdateCommands(const CommandState& state);

  // Imports files (and folders, as directories) into dir, reporting failures once.
  void ImportPaths(CPackObject* dir, const QStringList& paths);
  QMimeData* DragData(const std::vector<CPackObject*>& entries);
  QList<QUrl> ExportForDrag(const QStringList& paths) override;
  QByteArray StreamForDrag(const QStringList& paths) override;

 private:
  void OnImportFile();
  void OnImportDirectory();
  void OnNewSprite();
  void OnExportFile();
  void OnExportDirectory();
  void OnExportAsPng();
  void OnExportForEngine();
  void OnExtractTextures();
  bool ExportAsPng(CPackObject& entry, const QString& path);
  // Exports the entries into folder, the directories between base and each made as folders (see
  // CPackObject::ExportInto).
  ExportReport ExportEntries(const std::vector<CPackObject*>& entries, const QString& folder, const CPackObject* base);
  // Moves what an import made in a detached directory into dir, as one undoable step named
  // "command what" (what: the entries, counted or named, unless given).
  void TakeStaged(CPackObject* dir, std::unique_ptr<CPackObject> staging, const std::string& command,
                  const std::string& what = {});

  CMainFrame& m_frame;
  CTarnDoc& m_doc;
  Commands m_cmd{};
  std::vector<std::unique_ptr<QTemporaryDir>> m_dragFolders;
};

}  // namespace tarn::browser
