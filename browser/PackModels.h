// Item models over the entry tree: directories for the tree view, one directory's entries
// for the list view. Each index carries its entry; the models are reset around every change
// of the tree, so no index outlives the entry it points to.
#pragma once

#include <QAbstractItemModel>
#include <QAbstractTableModel>
#include <unordered_map>
#include <vector>

#include "archive/PackObject.h"

namespace tarn::browser {

// Entries shown first by kind (directories before files), then by name.
bool ListOrder(const CPackObject* a, const CPackObject* b);

class CPackTreeModel : public QAbstractItemModel {
  Q_OBJECT
 public:
  explicit CPackTreeModel(QObject* parent = nullptr) : QAbstractItemModel(parent) {}

  void SetRoot(CPackObject* root);
  CPackObject* Root() const { return m_root; }
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

 private:
  // The subdirectories of dir, sorted by name, made when first asked for.
  const std::vector<CPackObject*>& SubDirectories(const CPackObject* dir) const;

  CPackObject* m_root = nullptr;
  mutable std::unordered_map<const CPackObject*, std::vector<CPackObject*>> m_subdirs;
  mutable std::unordered_map<const CPackObject*, int> m_rowOf;
};

class CPackListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit CPackListModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

  void SetDirectory(CPackObject* dir);
  CPackObject* Directory() const { return m_dir; }
  void BeginChange();
  // Shows dir (which may differ from the one before the change) as it is now.
  void EndChange(CPackObject* dir);

  CPackObject* EntryAt(int row) const;
  int RowOf(const CPackObject* entry) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QStringList mimeTypes() const override;
  Qt::DropActions supportedDropActions() const override;

 private:
  void Load();
  CPackObject* m_dir = nullptr;
  std::vector<CPackObject*> m_rows;
};

}  // namespace tarn::browser
