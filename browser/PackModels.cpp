#include "browser/PackModels.h"

#include <QBrush>
#include <QColor>
#include <algorithm>

#include "browser/Icons.h"

namespace tarn::browser {

namespace {

int CompareNames(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    int ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[i]);
    if (ca >= 'A' && ca <= 'Z') ca += 'a' - 'A';
    if (cb >= 'A' && cb <= 'Z') cb += 'a' - 'A';
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return a.compare(b);
}

QString ToQString(const std::string& s) { return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size())); }

const char* const kDamagedTip = "The data of this entry lie outside the archive file and cannot be read.";

}  // namespace

bool ListOrder(const CPackObject* a, const CPackObject* b) {
  if (a->IsDirectory() != b->IsDirectory()) return a->IsDirectory();
  return CompareNames(a->Name(), b->Name()) < 0;
}

// --- tree ---

void CPackTreeModel::SetRoot(CPackObject* root) {
  beginResetModel();
  m_root = root;
  m_subdirs.clear();
  m_rowOf.clear();
  endResetModel();
}

void CPackTreeModel::BeginChange() { beginResetModel(); }

void CPackTreeModel::EndChange(CPackObject* root) {
  m_root = root;
  m_subdirs.clear();
  m_rowOf.clear();
  endResetModel();
}

const std::vector<CPackObject*>& CPackTreeModel::SubDirectories(const CPackObject* dir) const {
  auto [it, fresh] = m_subdirs.try_emplace(dir);
  if (fresh) {
    for (CPackObject* c : dir->Children())
      if (c->IsDirectory()) it->second.push_back(c);
    std::sort(it->second.begin(), it->second.end(),
              [](const CPackObject* a, const CPackObject* b) { return CompareNames(a->Name(), b->Name()) < 0; });
    for (std::size_t i = 0; i < it->second.size(); ++i) m_rowOf[it->second[i]] = static_cast<int>(i);
  }
  return it->second;
}

CPackObject* CPackTreeModel::EntryOf(const QModelIndex& index) const {
  return index.isValid() ? static_cast<CPackObject*>(index.internalPointer()) : nullptr;
}

QModelIndex CPackTreeModel::IndexOf(const CPackObject* dir) const {
  if (!dir || !m_root || !dir->IsDirectory() || !dir->IsInside(m_root)) return {};
  if (dir == m_root) return createIndex(0, 0, const_cast<CPackObject*>(dir));
  SubDirectories(dir->Parent());
  auto it = m_rowOf.find(dir);
  return it == m_rowOf.end() ? QModelIndex() : createIndex(it->second, 0, const_cast<CPackObject*>(dir));
}

QModelIndex CPackTreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (!m_root || column != 0 || row < 0) return {};
  if (!parent.isValid()) return row == 0 ? createIndex(0, 0, m_root) : QModelIndex();
  const auto& subs = SubDirectories(EntryOf(parent));
  return row < static_cast<int>(subs.size()) ? createIndex(row, 0, subs[static_cast<std::size_t>(row)]) : QModelIndex();
}

QModelIndex CPackTreeModel::parent(const QModelIndex& index) const {
  CPackObject* e = EntryOf(index);
  if (!e || e == m_root || !e->Parent()) return {};
  return IndexOf(e->Parent());
}

int CPackTreeModel::rowCount(const QModelIndex& parent) const {
  if (!m_root) return 0;
  if (!parent.isValid()) return 1;
  if (parent.column() != 0) return 0;
  return static_cast<int>(SubDirectories(EntryOf(parent)).size());
}

int CPackTreeModel::columnCount(const QModelIndex&) const { return 1; }

bool CPackTreeModel::hasChildren(const QModelIndex& parent) const {
  if (!parent.isValid()) return m_root != nullptr;
  for (CPackObject* c : EntryOf(parent)->Children())
    if (c->IsDirectory()) return true;
  return false;
}

QVariant CPackTreeModel::data(const QModelIndex& index, int role) const {
  CPackObject* e = EntryOf(index);
  if (!e) return {};
  switch (role) {
    case Qt::DisplayRole: return ToQString(e->Name());
    case Qt::DecorationRole: return KindIcon(kIconDirectory);
    default: return {};
  }
}

Qt::ItemFlags CPackTreeModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::ItemIsDropEnabled;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDropEnabled;
}

QStringList CPackTreeModel::mimeTypes() const { return {"text/uri-list"}; }
Qt::DropActions CPackTreeModel::supportedDropActions() const { return Qt::CopyAction; }

// --- list ---

void CPackListModel::Load() {
  m_rows.clear();
  if (!m_dir) return;
  m_rows.reserve(m_dir->ChildCount());
  for (CPackObject* c : m_dir->Children()) m_rows.push_back(c);
  std::sort(m_rows.begin(), m_rows.end(), ListOrder);
}

void CPackListModel::SetDirectory(CPackObject* dir) {
  beginResetModel();
  m_dir = dir;
  Load();
  endResetModel();
}

void CPackListModel::BeginChange() {
  beginResetModel();
  m_rows.clear();
}

void CPackListModel::EndChange(CPackObject* dir) {
  m_dir = dir;
  Load();
  endResetModel();
}

CPackObject* CPackListModel::EntryAt(int row) const {
  return row >= 0 && row < static_cast<int>(m_rows.size()) ? m_rows[static_cast<std::size_t>(row)] : nullptr;
}

int CPackListModel::RowOf(const CPackObject* entry) const {
  auto it = std::find(m_rows.begin(), m_rows.end(), entry);
  return it == m_rows.end() ? -1 : static_cast<int>(it - m_rows.begin());
}

int CPackListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CPackListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }

QVariant CPackListModel::data(const QModelIndex& index, int role) const {
  CPackObject* e = EntryAt(index.row());
  if (!e) return {};
  if (index.column() == 0) {
    switch (role) {
      case Qt::DisplayRole: return ToQString(e->Name());
      case Qt::DecorationRole: return KindIcon(e->Image());
      case Qt::ToolTipRole: return e->IsDamaged() ? QVariant(kDamagedTip) : QVariant();
      case Qt::ForegroundRole: return e->IsDamaged() ? QVariant(QBrush(QColor(200, 0, 0))) : QVariant();
      default: return {};
    }
  }
  if (index.column() == 1) {
    switch (role) {
      case Qt::DisplayRole: return e->IsDirectory() ? QVariant() : QVariant(QString::number(e->Size()));
      case Qt::TextAlignmentRole: return QVariant(Qt::AlignRight | Qt::AlignVCenter);
      default: return {};
    }
  }
  return {};
}

QVariant CPackListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  return section == 0 ? QVariant("Name") : section == 1 ? QVariant("Size (bytes)") : QVariant();
}

Qt::ItemFlags CPackListModel::flags(const QModelIndex& index) const {
  CPackObject* e = EntryAt(index.row());
  if (!e) return Qt::ItemIsDropEnabled;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
  if (e->IsDirectory()) f |= Qt::ItemIsDropEnabled;
  return f;
}

QStringList CPackListModel::mimeTypes() const { return {"text/uri-list"}; }
Qt::DropActions CPackListModel::supportedDropActions() const { return Qt::CopyAction; }

}  // namespace tarn::browser
