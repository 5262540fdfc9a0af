#include "browser/EntryDrag.h"

#include <QUrl>

#include "archive/PackObject.h"
#include "browser/DropPaths.h"

namespace tarn::browser {

namespace {
const char* const kUriList = "text/uri-list";
}

CEntryMimeData::CEntryMimeData(CDragSource* source, QStringList paths) : m_source(source), m_paths(std::move(paths)) {}

CDragSource* CEntryMimeData::Source() const { return m_source; }

QStringList CEntryMimeData::formats() const { return {kPackObjectMime, kUriList}; }

bool CEntryMimeData::hasFormat(const QString& type) const { return formats().contains(type); }

QVariant CEntryMimeData::retrieveData(const QString& type, QMetaType) const {
  if (!m_source) return {};
  if (type == kUriList) {
    if (m_exported.isEmpty()) m_exported = m_source->ExportForDrag(m_paths);
    // As a list of URL variants, which Qt also turns into the bytes another program asks for.
    QVariantList urls;
    for (const QUrl& url : m_exported) urls << url;
    return urls;
  }
  if (type == kPackObjectMime) {
    if (m_stream.isEmpty()) m_stream = m_source->StreamForDrag(m_paths);
    return m_stream;
  }
  return {};
}

bool CanDropOnTarn(const QMimeData* mime) {
  return mime && (qobject_cast<const CEntryMimeData*>(mime) || mime->hasFormat(kPackObjectMime) || mime->hasUrls());
}

DroppedEntries TakeDrop(const QMimeData* mime) {
  DroppedEntries drop;
  if (!mime) return drop;
  // Entries of this process first: asking for their file URLs would export them.
  if (const auto* own = qobject_cast<const CEntryMimeData*>(mime)) {
    drop.kind = DroppedEntries::Own;
    drop.paths = own->Paths();
    drop.from = own->Source();
  } else if (mime->hasFormat(kPackObjectMime)) {
    drop.kind = DroppedEntries::Stream;
    drop.stream = mime->data(kPackObjectMime);
  } else if (QStringList files = LocalPaths(mime); !files.isEmpty()) {
    drop.kind = DroppedEntries::Files;
    drop.paths = files;
  }
  return drop;
}

CPackObject* DropDirectory(CPackObject* under, CPackObject* fallback) {
  return under && under->IsDirectory() ? under : fallback;
}

}  // namespace tarn::browser
