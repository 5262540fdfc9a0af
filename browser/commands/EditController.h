// The commands that change the entry tree in place: new directory, rename, delete, copy and
// paste, moves and copies by drag, and undo and redo of them all.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <string>
#include <vector>

class QAction;

namespace tarn {
class CPackObject;
}

namespace tarn {
class CTarnDoc;
}

namespace tarn::browser {

class CMainFrame;
struct CommandState;
struct DroppedEntries;

class CEditController : public QObject {
  Q_OBJECT
 public:
  explicit CEditController(CMainFrame& frame);

  struct Commands {
    QAction *undo, *redo, *cut, *copy, *paste, *duplicate, *selectAll, *filter, *newDirectory, *rename,
        *replaceFromFile, *deleteEntries;
  };
  const Commands& Cmd() const { return m_cmd; }
  void UpdateCommands(const CommandState& state);

  // Renames entry to name after the checks every rename passes; false, told, when refused.
  bool RenameTo(CPackObject* entry, const QString& name);
  // The transfer stream of the entries with their subtrees; unreadable gets the files copied empty.
  QByteArray EntryStream(const std::vector<CPackObject*>& entries, QStringList* unreadable) const;
  // Undo (back) or redo, for this window and for the viewers editing its entries.
  void StepHistory(bool back);
  // A drop on dir: entries of this window move there (are copied with copy set), those of
  // another window are copied, files are imported.
  void Drop(const DroppedEntries& drop, CPackObject* dir, bool copy);

 private:
  void OnUndo();
  void OnRedo();
  void OnCut();
  void OnCopy();
  void OnPaste();
  void OnDuplicate();
  void OnSelectAll();
  void OnReplaceFromFile();
  void OnNewDirectory();
  void OnRename();
  void OnDelete();
  // Takes the entries out as one undoable step named verb; the list then selects the entry
  // that followed them.
  void DeleteEntries(const std::vector<CPackObject*>& entries, const std::string& verb);
  // Reads entries from a transfer stream into dir, asking about taken names; one undoable step.
  void PasteStream(const QByteArray& data, CPackObject* dir, const QString& command);
  void MoveEntries(const QStringList& paths, CPackObject* dir);

  CMainFrame& m_frame;
  CTarnDoc& m_doc;
  Commands m_cmd{};
};

}  // namespace tarn::browser
