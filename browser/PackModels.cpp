#include "browser/PackModels.h"

#include <QBrush>
#include <QColor>
#include <QDateTime>
#include <algorithm>
#include <cstring>

#include "archive/ContainerFormat.h"
#include "archive/EntryTypes.h"
#include "browser/EntryDrag.h"
#include "browser/Icons.h"
#include "browser/Thumbnails.h"
#include "fileio/Strings.h"

namespace tarn::browser {

namespace {

// Names in any case first, then by their bytes, so that the order is total.
int CompareNames(const std::string& a, const std::string& b) {
  if (const int c = CompareAnyCase(a, b)) return c;
  return a.compare(b);
}

QString ToQString(const std::string& s) { return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size())); }

const char* const kDamagedTip = "The data of this entry lie outside the archive file and cannot be read.";

// Names an archive holds twice are shown as they are; which of them the engine loads is what a
// modder needs to know. The engine asks for names in lower case and takes the first that has it.
QString SharedNameTip(const CPackObject& entry) {
  const CPackObject* loaded = nullptr;
  for (const CPackObject* c : entry.Parent()->Children())
    if (c->IsDirectory() == entry.IsDirectory() && SameName(c->Name(), entry.Name()) &&
        ToLower(c->Name()) == c->Name()) {
      loaded = c;
      break;
    }
  QString tip = "The archive holds this name more than once (in some case); each entry is kept as it is.\n";
  if (loaded == &entry) return tip + "The engine loads this one.";
  return tip + (loaded ? "The engine loads another entry of this name." : "The engine loads none of them.");
}

}  // namespace

QString ReadableSize(std::int64_t bytes) {
  if (bytes < 1024) return QString("%1 byte%2").arg(bytes).arg(bytes == 1 ? "" : "s");
  static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes) / 1024;
  std::size_t unit = 0;
  // 1023.95 KiB would round to "1024.0 KiB": that is already 1.0 MiB.
  while (value >= 1023.95 && unit + 1 < std::size(kUnits)) {
    value /= 1024;
    ++unit;
  }
  return QString("%1 %2").arg(value, 0, 'f', 1).arg(kUnits[unit]);
}

QString ExactSize(std::int64_t bytes) {
  QString digits = QString::number(bytes);
  for (qsizetype at = digits.size() - 3; at > (bytes < 0 ? 1 : 0); at -= 3) digits.insert(at, ',');
  return digits + (bytes == 1 ? " byte" : " bytes");
}

std::string FullPathOf(const CTarnDoc* doc, const CPackObject& entry) {
  return doc ? doc->FullPath(entry) : entry.PathInArchive();
}

CPackObject* FindFullPath(const CTarnDoc* doc, CPackObject* root, const std::string& path) {
  if (!root) return nullptr;
  if (path.empty()) return root;
  return doc && root == &doc->Root() ? doc->FindFullPath(path) : root->FindByPath(path);
}

// --- tree ---

namespace {

// A file the tree offers to open as the archive it holds.
bool ArchiveFileNode(const CPackObject& e) { return !e.IsDirectory() && FormatOfName(e.Name()).has_value(); }

}  // namespace

CPackObject* CPackTreeModel::NodeParent(const CPackObject* node) const {
  if (!node) return nullptr;
  if (node->Parent()) return node->Parent();
  CPackObject* holder = m_doc && node != m_root ? m_doc->HolderOf(*node) : nullptr;
  return holder ? holder->Parent() : nullptr;
}

void CPackTreeModel::SetRoot(CPackObject* root) {
  beginResetModel();
  m_root = root;
  m_subdirs.clear();
  m_rowOf.clear();
  endResetModel();
}

void CPackTreeModel::SetRootLabel(const QString& label) {
  if (label == m_rootLabel) return;
  m_rootLabel = label;
  if (m_root) emit dataChanged(index(0, 0), index(0, 0), {Qt::DisplayRole});
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
  if (fresh && dir->IsDirectory()) {
    for (CPackObject* c : dir->Children()) {
      if (c->IsDirectory()) {
        it->second.push_back(c);
      } else if (CPackObject* inner = m_doc ? m_doc->InnerRoot(*c) : nullptr) {
        it->second.push_back(inner);
      } else if (m_doc && ArchiveFileNode(*c)) {
        it->second.push_back(c);
      }
    }
    // An opened archive's root sorts by its file's name.
    const auto name = [this](const CPackObject* e) -> const std::string& {
      const CPackObject* holder = !e->Parent() && m_doc ? m_doc->HolderOf(*e) : nullptr;
      return holder ? holder->Name() : e->Name();
    };
    std::sort(it->second.begin(), it->second.end(),
              [&](const CPackObject* a, const CPackObject* b) { return CompareNames(name(a), name(b)) < 0; });
    for (std::size_t i = 0; i < it->second.size(); ++i) m_rowOf[it->second[i]] = static_cast<int>(i);
  }
  return it->second;
}

CPackObject* CPackTreeModel::EntryOf(const QModelIndex& index) const {
  return index.isValid() ? static_cast<CPackObject*>(index.internalPointer()) : nullptr;
}

QModelIndex CPackTreeModel::IndexOf(const CPackObject* dir) const {
  if (!dir || !m_root) return {};
  if (dir == m_root) return createIndex(0, 0, const_cast<CPackObject*>(dir));
  // A file stands for its archive: by the opened root when there is one.
  if (!dir->IsDirectory()) {
    if (CPackObject* inner = m_doc ? m_doc->InnerRoot(*dir) : nullptr) dir = inner;
    else if (!m_doc || !ArchiveFileNode(*dir)) return {};
  }
  const CPackObject* up = NodeParent(dir);
  if (!up || !IndexOf(up).isValid()) return {};
  SubDirectories(up);
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
  if (!e || e == m_root) return {};
  return IndexOf(NodeParent(e));
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
  const CPackObject* e = EntryOf(parent);
  // Not yet opened: an expander to open it by, a WAD's too, as a file manager marks every
  // archive it can go into. Opened, a WAD holds no directories, and its expander goes.
  if (!e->IsDirectory()) return true;
  return !SubDirectories(e).empty();
}

QVariant CPackTreeModel::data(const QModelIndex& index, int role) const {
  CPackObject* e = EntryOf(index);
  if (!e) return {};
  // An opened archive's root is named, renamed and drawn as its file.
  if (CPackObject* holder = e != m_root && !e->Parent() && m_doc ? m_doc->HolderOf(*e) : nullptr) e = holder;
  switch (role) {
    case Qt::DisplayRole: return e == m_root && !m_rootLabel.isEmpty() ? m_rootLabel : ToQString(e->Name());
    case Qt::EditRole: return ToQString(e->Name());
    case Qt::DecorationRole: return KindIcon(e->IsDirectory() ? EntryType::Directory : TypeOf(e->Name(), false));
    default: return {};
  }
}

bool CPackTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  CPackObject* e = EntryOf(index);
  if (CPackObject* holder = e && e != m_root && !e->Parent() && m_doc ? m_doc->HolderOf(*e) : nullptr) e = holder;
  if (!e || role != Qt::EditRole || !m_renamer) return false;
  m_renamer(e, value.toString());
  return true;
}

Qt::ItemFlags CPackTreeModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::ItemIsDropEnabled;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDropEnabled;
  if (EntryOf(index) != m_root) f |= Qt::ItemIsDragEnabled;
  if (EntryOf(index) != m_root && m_renamer) f |= Qt::ItemIsEditable;
  return f;
}

namespace {

const QStringList kDropTypes = {"text/uri-list", kPackObjectMime};

}  // namespace

QStringList CPackTreeModel::mimeTypes() const { return kDropTypes; }
Qt::DropActions CPackTreeModel::supportedDropActions() const { return Qt::CopyAction | Qt::MoveAction; }
Qt::DropActions CPackTreeModel::supportedDragActions() const { return Qt::CopyAction | Qt::MoveAction; }

QMimeData* CPackTreeModel::mimeData(const QModelIndexList& indexes) const {
  std::vector<CPackObject*> entries;
  for (const QModelIndex& i : indexes)
    if (CPackObject* e = EntryOf(i); e && e != m_root) {
      if (CPackObject* holder = !e->Parent() && m_doc ? m_doc->HolderOf(*e) : nullptr) e = holder;
      entries.push_back(e);
    }
  return m_dragData && !entries.empty() ? m_dragData(entries) : nullptr;
}

// --- list ---

namespace {

// What the list sorts by, worked out once per entry rather than in every comparison.
struct SortKey {
  CPackObject* entry;
  std::string text;     // the name, or the path when rows come from the whole archive
  std::int64_t number;  // the size, packed size, method or time the sort is by
  const char* type;
  bool directory;
};

// How a zip member is stored, known only while its bytes are those the archive holds: a member
// added or replaced since is stored when the archive is saved.
bool StoredAsRead(const CPackObject& e) { return !e.IsDirectory() && e.HasLocation() && e.BytesInSource(); }

QString MethodName(std::uint16_t method) {
  switch (method) {
    case 0: return "Stored";
    case 8: return "Deflated";
    default: return QString("Method %1").arg(method);
  }
}

}  // namespace

CPackListModel::Field CPackListModel::FieldAt(int section) const {
  switch (section) {
    case kName: return Field::Name;
    case kSize: return Field::Size;
    case kType: return Field::Type;
    default: break;
  }
  if (m_sources) return section == kSource ? Field::Source : Field::None;
  if (!m_zipColumns) return Field::None;
  switch (section) {
    case kPacked: return Field::Packed;
    case kMethod: return Field::Method;
    case kDate: return Field::Date;
    default: return Field::None;
  }
}

void CPackListModel::Collect() {
  m_all.clear();
  m_zipColumns = !m_sources && m_dir && m_dir->Root()->Format() == ContainerFormat::Zip;
  if (SearchingArchive() && m_dir) {
    // From the outermost archive, and into every archive opened inside it.
    CPackObject* top = m_dir->Root();
    for (int depth = 0; m_doc && depth < 64; ++depth) {
      CPackObject* holder = m_doc->HolderOf(*top);
      if (!holder) break;
      top = holder->Root();
    }
    std::vector<CPackObject*> stack{top};
    while (!stack.empty()) {
      CPackObject* d = stack.back();
      stack.pop_back();
      for (CPackObject* c : d->Children()) {
        m_all.push_back(c);
        if (c->IsDirectory()) stack.push_back(c);
        else if (CPackObject* inner = m_doc ? m_doc->InnerRoot(*c) : nullptr) stack.push_back(inner);
      }
    }
  } else if (m_dir) {
    m_all.reserve(m_dir->ChildCount());
    for (CPackObject* c : m_dir->Children()) m_all.push_back(c);
    // After the files that hide them, so that the sort (stable) keeps each below its winner.
    if (m_sources)
      for (CPackObject* c : m_sources->ShownShadowed(*m_dir)) m_all.push_back(c);
  }
  SortAll();
  Narrow();
}

void CPackListModel::SortAll() {
  const bool paths = SearchingArchive();
  // A column that is not shown now (Date, after a zip, for a pak) sorts by name.
  const Field field = FieldAt(m_sortColumn);
  const auto number = [field](const CPackObject& e) -> std::int64_t {
    if (e.IsDirectory()) return -1;
    switch (field) {
      case Field::Size: return e.Size();
      case Field::Packed: return StoredAsRead(e) ? e.Location().storedSize : -1;
      case Field::Method: return StoredAsRead(e) ? e.Location().method : -1;
      case Field::Date: return e.Time();
      default: return 0;
    }
  };
  std::vector<SortKey> keys;
  keys.reserve(m_all.size());
  for (CPackObject* e : m_all)
    keys.push_back({e, paths ? FullPathOf(m_doc, *e) : std::string(), number(*e),
                    TypeName(TypeOf(e->Name(), e->IsDirectory())), e->IsDirectory()});
  const bool byNumber =
      field == Field::Size || field == Field::Packed || field == Field::Method || field == Field::Date;
  const bool descending = m_sortOrder == Qt::DescendingOrder;
  std::stable_sort(keys.begin(), keys.end(), [&](const SortKey& a, const SortKey& b) {
    if (a.directory != b.directory) return a.directory;
    int c = 0;
    if (byNumber) c = a.number < b.number ? -1 : a.number > b.number ? 1 : 0;
    if (field == Field::Type) c = std::strcmp(a.type, b.type);
    if (c == 0) c = paths ? CompareNames(a.text, b.text) : CompareNames(a.entry->Name(), b.entry->Name());
    return descending ? c > 0 : c < 0;
  });
  for (std::size_t i = 0; i < keys.size(); ++i) m_all[i] = keys[i].entry;
}

void CPackListModel::Narrow() {
  if (!Filtering()) {
    m_rows = m_all;
    return;
  }
  m_rows.clear();
  for (CPackObject* e : m_all)
    if (m_filter.Matches(e->Name())) m_rows.push_back(e);
}

void CPackListModel::SetDirectory(CPackObject* dir) {
  // No directory: the tree is about to change or go, and with it what thumbnails show.
  if (!dir && m_thumbnails) m_thumbnails->Clear();
  beginResetModel();
  m_dir = dir;
  Collect();
  endResetModel();
}

void CPackListModel::BeginChange() {
  if (m_thumbnails) m_thumbnails->Clear();
  beginResetModel();
  m_rows.clear();
  m_all.clear();
}

void CPackListModel::EndChange(CPackObject* dir) {
  m_dir = dir;
  Collect();
  endResetModel();
}

void CPackListModel::SetFilter(const QString& pattern, bool wholeArchive) {
  const bool wasSearching = SearchingArchive();
  m_pattern = pattern;
  m_filter = CNameFilter(pattern.toLocal8Bit().toStdString());
  m_wholeArchive = wholeArchive;
  beginResetModel();
  // The entries to choose from change only when the search widens to the archive or narrows
  // back to the directory; a keystroke only narrows them again.
  if (wasSearching != SearchingArchive()) Collect();
  else Narrow();
  endResetModel();
}

void CPackListModel::sort(int column, Qt::SortOrder order) {
  if (column < 0 || column >= kColumns) return;
  if (column == m_sortColumn && order == m_sortOrder) return;
  m_sortColumn = column;
  m_sortOrder = order;
  // A layout change, so that the selection follows its entries to their new rows.
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList before = persistentIndexList();
  std::vector<CPackObject*> entries;
  for (const QModelIndex& i : before) entries.push_back(EntryAt(i.row()));
  SortAll();
  Narrow();
  std::unordered_map<const CPackObject*, int> rowOf;
  for (std::size_t r = 0; r < m_rows.size(); ++r) rowOf[m_rows[r]] = static_cast<int>(r);
  QModelIndexList after;
  for (std::size_t k = 0; k < entries.size(); ++k) {
    auto it = rowOf.find(entries[k]);
    after << (it == rowOf.end() ? QModelIndex() : index(it->second, before[static_cast<int>(k)].column()));
  }
  changePersistentIndexList(before, after);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
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

int CPackListModel::columnCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return m_sources ? kSource + 1 : m_zipColumns ? kDate + 1 : kSource;
}

QVariant CPackListModel::data(const QModelIndex& index, int role) const {
  CPackObject* e = EntryAt(index.row());
  if (!e) return {};
  if (role == Qt::ForegroundRole && IsShadowed(e)) return QBrush(QColor(140, 140, 140));
  if (role == Qt::ToolTipRole && IsShadowed(e))
    return QString("Hidden by the copy the engine loads; from %1").arg(ToQString(m_sources->FullSourceOf(*e)));
  switch (FieldAt(index.column())) {
    case Field::Name:
      switch (role) {
        case Qt::DisplayRole: return ToQString(SearchingArchive() ? FullPathOf(m_doc, *e) : e->Name());
        case Qt::EditRole: return ToQString(e->Name());
        case Qt::DecorationRole:
          if (m_thumbnails && m_thumbnails->Side() > 0) {
            if (const QPixmap p = m_thumbnails->Find(e); !p.isNull()) return p;
            return m_thumbnails->Framed(KindIcon(TypeOf(e->Name(), e->IsDirectory())));
          }
          return KindIcon(TypeOf(e->Name(), e->IsDirectory()));
        case Qt::ToolTipRole: {
          // A match from the whole archive: where it is, which an icon's label leaves out.
          const QString where = SearchingArchive() ? ToQString(FullPathOf(m_doc, *e)) : QString();
          QString tip = e->IsDamaged() ? QString(kDamagedTip) : e->SharesName() ? SharedNameTip(*e) : QString();
          if (!where.isEmpty()) tip = tip.isEmpty() ? where : where + "\n" + tip;
          return tip.isEmpty() ? QVariant() : QVariant(tip);
        }
        case Qt::ForegroundRole:
          if (e->IsDamaged()) return QBrush(QColor(200, 0, 0));
          return e->SharesName() ? QVariant(QBrush(QColor(170, 90, 0))) : QVariant();
        default: return {};
      }
    case Field::Source:
      if (role == Qt::DisplayRole) return ToQString(m_sources->SourceOf(*e));
      if (role == Qt::ToolTipRole) return ToQString(m_sources->FullSourceOf(*e));
      return {};
    case Field::Size:
    case Field::Packed: {
      const bool packed = FieldAt(index.column()) == Field::Packed;
      if (role == Qt::TextAlignmentRole) return QVariant(Qt::AlignRight | Qt::AlignVCenter);
      if (e->IsDirectory() || (packed && !StoredAsRead(*e))) return {};
      const std::int64_t bytes = packed ? e->Location().storedSize : e->Size();
      if (role == Qt::DisplayRole) return ReadableSize(bytes);
      if (role == Qt::ToolTipRole) return ExactSize(bytes);
      return {};
    }
    case Field::Method:
      return role == Qt::DisplayRole && StoredAsRead(*e) ? QVariant(MethodName(e->Location().method)) : QVariant();
    case Field::Date: {
      const std::int64_t time = e->IsDirectory() ? 0 : e->Time();
      if (time == 0 || (role != Qt::DisplayRole && role != Qt::ToolTipRole)) return {};
      const QDateTime when = QDateTime::fromSecsSinceEpoch(time);
      return when.toString(role == Qt::DisplayRole ? "yyyy-MM-dd HH:mm" : "yyyy-MM-dd HH:mm:ss");
    }
    case Field::Type:
      return role == Qt::DisplayRole ? QVariant(QString(TypeName(TypeOf(e->Name(), e->IsDirectory())))) : QVariant();
    default: return {};
  }
}

QVariant CPackListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (FieldAt(section)) {
    case Field::Name: return "Name";
    case Field::Size: return "Size";
    case Field::Type: return "Type";
    case Field::Source: return "Source";
    case Field::Packed: return "Packed";
    case Field::Method: return "Method";
    case Field::Date: return "Date";
    default: return {};
  }
}

Qt::ItemFlags CPackListModel::flags(const QModelIndex& index) const {
  CPackObject* e = EntryAt(index.row());
  if (!e) return Qt::ItemIsDropEnabled;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
  if (!IsShadowed(e)) f |= Qt::ItemIsDragEnabled;
  if (!IsShadowed(e) && m_renamer && index.column() == kName) f |= Qt::ItemIsEditable;
  if (e->IsDirectory()) f |= Qt::ItemIsDropEnabled;
  return f;
}

bool CPackListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  CPackObject* e = EntryAt(index.row());
  if (!e || role != Qt::EditRole || index.column() != kName || IsShadowed(e) || !m_renamer) return false;
  m_renamer(e, value.toString());
  return true;
}

QStringList CPackListModel::mimeTypes() const { return kDropTypes; }
Qt::DropActions CPackListModel::supportedDropActions() const { return Qt::CopyAction | Qt::MoveAction; }
Qt::DropActions CPackListModel::supportedDragActions() const { return Qt::CopyAction | Qt::MoveAction; }

QMimeData* CPackListModel::mimeData(const QModelIndexList& indexes) const {
  // A row counts once, whatever columns the selection covers.
  std::vector<CPackObject*> entries;
  for (const QModelIndex& i : indexes)
    if (CPackObject* e = EntryAt(i.row()); e && std::find(entries.begin(), entries.end(), e) == entries.end())
      entries.push_back(e);
  return m_dragData && !entries.empty() ? m_dragData(entries) : nullptr;
}

}  // namespace tarn::browser
