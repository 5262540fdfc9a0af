// Item models over the entry tree: directories for the tree view, one directory's entries
// for the list view. Each index carries its entry; the models are reset around every change
// of the tree, so no index outlives the entry it points to.
#pragma once

#include <QAbstractItemModel>
#include <QAbstractTableModel>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "archive/NameFilter.h"
#include "archive/PackObject.h"
#include "document/TarnDoc.h"

namespace tarn::browser {

// What game folders opened as one add to the list: where each file comes from (a Source
// column), and the copies that the listed files hide (greyed, and only read, never edited).
class CListSources {
 public:
  virtual ~CListSources() = default;
  virtual std::string SourceOf(const CPackObject& entry) const = 0;
  virtual std::string FullSourceOf(const CPackObject& entry) const = 0;
  virtual bool IsShadowed(const CPackObject& entry) const = 0;
  // The copies hidden by the files of dir that the list shows beside them; none while hidden.
  virtual std::vector<CPackObject*> ShownShadowed(const CPackObject& dir) const = 0;
};

// An entry's path from the document's root, through the files whose archives were opened in
// place ("gfx.wad/conchars.lmp"); its own path when there is no document.
std::string FullPathOf(const CTarnDoc* doc, const CPackObject& entry);
// The entry at such a path below root, or nullptr.
CPackObject* FindFullPath(const CTarnDoc* doc, CPackObject* root, const std::string& path);

// Makes the data of dragged entries (see CEntryMimeData).
using DragDataMaker = std::function<QMimeData*(const std::vector<CPackObject*>& entries)>;
// Renames an entry to a name typed in place (F2). The rename is the frame's undoable change, made
// once the editor has closed; without one, no entry is edited in place.
using Renamer = std::function<void(CPackObject* entry, const QString& name)>;

class CPackTreeModel : public QAbstractItemModel {
  Q_OBJECT
 public:
  void SetDragData(DragDataMaker maker) { m_dragData = std::move(maker); }
  void SetRenamer(Renamer renamer) { m_renamer = std::move(renamer); }
  explicit CPackTreeModel(QObject* parent = nullptr) : QAbstractItemModel(parent) {}

  void SetRoot(CPackObject* root);
  CPackObject* Root() const { return m_root; }
  // The document whose archives held in files show as directories: an opened one by its root,
  // named after its file; an archive file not yet opened by the file itself, to be opened when
  // chosen or expanded (see OpenedDirectory).
  void SetDocument(CTarnDoc* doc) { m_doc = doc; }
  CTarnDoc* Document() const { return m_doc; }
  // A node's parent node: the directory, or for an opened archive's root the one holding its file.
  CPackObject* NodeParent(const CPackObject* node) const;
  // What the root item reads: the archive's file name (or "Untitled"), never the root's own name.
  void SetRootLabel(const QString& label);
  void BeginChange();
  // The tree under root (the same root, or one that took its place) as it is now.
  void EndChange(CPackObject* root);

  CPackObject* EntryOf(const QModelIndex& index) const;
  QModelIndex IndexOf(const CPackObject* dir) const;

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& index) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  bool hasChildren(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QStringList mimeTypes() const override;
  Qt::DropActions supportedDropActions() const override;
  Qt::DropActions supportedDragActions() const override;
  QMimeData* mimeData(const QModelIndexList& indexes) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

 private:
  DragDataMaker m_dragData;
  Renamer m_renamer;
  // The subdirectories of dir, sorted by name, made when first asked for.
  const std::vector<CPackObject*>& SubDirectories(const CPackObject* dir) const;

  QString m_rootLabel;
  CPackObject* m_root = nullptr;
  CTarnDoc* m_doc = nullptr;
  mutable std::unordered_map<const CPackObject*, std::vector<CPackObject*>> m_subdirs;
  mutable std::unordered_map<const CPackObject*, int> m_rowOf;
};

// A size as people read it: "512 bytes", "1.2 MiB".
QString ReadableSize(std::int64_t bytes);
// Every byte, its digits grouped: "1,234,567 bytes".
QString ExactSize(std::int64_t bytes);

// The entries of one directory, or, while a filter searches the whole archive, its matches
// from every directory (named with their paths). Columns: Name, Size, Type, then Source for
// game folders, or for an archive of the zip family how each member is stored: its packed
// size, its method and its time. Sorted by one column either way, directories first; narrowed
// by the filter.
class CPackListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  // Sections; Source and the zip columns never show together, so they share places.
  enum Column { kName = 0, kSize = 1, kType = 2, kSource = 3, kPacked = 3, kMethod = 4, kDate = 5, kColumns = 6 };

  explicit CPackListModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}
  void SetDragData(DragDataMaker maker) { m_dragData = std::move(maker); }
  void SetRenamer(Renamer renamer) { m_renamer = std::move(renamer); }
  // Pictures of the entries for their icons, while its side is set.
  void SetThumbnails(class CThumbnails* thumbnails) { m_thumbnails = thumbnails; }

  void SetDirectory(CPackObject* dir);
  CPackObject* Directory() const { return m_dir; }
  // A search of the whole archive goes into the archives opened inside it, and shows their
  // entries' paths through the files holding them.
  void SetDocument(const CTarnDoc* doc) { m_doc = doc; }
  const CTarnDoc* Document() const { return m_doc; }
  // Game folders' sources, or nullptr for an archive (no Source column); set while no
  // directory is shown.
  void SetSources(const CListSources* sources) { m_sources = sources; }
  const CListSources* Sources() const { return m_sources; }
  // A shadowed copy: shown, viewed and exported, but no command changes it.
  bool IsShadowed(const CPackObject* entry) const { return m_sources && entry && m_sources->IsShadowed(*entry); }
  void BeginChange();
  // Shows dir (which may differ from the one before the change) as it is now.
  void EndChange(CPackObject* dir);

  CPackObject* EntryAt(int row) const;
  int RowOf(const CPackObject* entry) const;

  // The filter: names matching pattern (see CNameFilter), in the directory or in the whole
  // archive. An empty pattern shows the directory whole.
  void SetFilter(const QString& pattern, bool wholeArchive);
  const QString& FilterPattern() const { return m_pattern; }
  bool Filtering() const { return !m_filter.Empty(); }
  // The rows come from every directory.
  bool SearchingArchive() const { return m_wholeArchive && Filtering(); }
  // How many entries the filter chose from.
  std::size_t UnfilteredCount() const { return m_all.size(); }
  int SortColumn() const { return m_sortColumn; }
  Qt::SortOrder SortOrder() const { return m_sortOrder; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QStringList mimeTypes() const override;
  Qt::DropActions supportedDropActions() const override;
  Qt::DropActions supportedDragActions() const override;
  QMimeData* mimeData(const QModelIndexList& indexes) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  // Sorts by a column (again with the other order: reversed); directories stay first.
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
  // Whether the zip columns show: the directory shown is of a zip-family archive.
  bool ShowsZipColumns() const { return m_zipColumns; }

 private:
  enum class Field { Name, Size, Type, Source, Packed, Method, Date, None };
  Field FieldAt(int section) const;
  // m_all afresh from the directory or the archive, in the sort's order; m_rows from it.
  void Collect();
  void SortAll();
  void Narrow();
  DragDataMaker m_dragData;
  Renamer m_renamer;
  class CThumbnails* m_thumbnails = nullptr;
  const CListSources* m_sources = nullptr;
  const CTarnDoc* m_doc = nullptr;
  CPackObject* m_dir = nullptr;
  std::vector<CPackObject*> m_all;   // what the filter chooses from, sorted
  std::vector<CPackObject*> m_rows;  // what is shown
  int m_sortColumn = kName;
  Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
  QString m_pattern;
  CNameFilter m_filter;
  bool m_wholeArchive = false;
  bool m_zipColumns = false;
};

}  // namespace tarn::browser
