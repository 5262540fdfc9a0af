// The local files and folders carried by a drag from the desktop.
#pragma once

#include <QMimeData>
#include <QStringList>
#include <QUrl>

namespace tarn::browser {

inline QStringList LocalPaths(const QMimeData* mime) {
  QStringList paths;
  if (!mime || !mime->hasUrls()) return paths;
  for (const QUrl& url : mime->urls())
    if (url.isLocalFile()) paths << url.toLocalFile();
  return paths;
}

}  // namespace tarn::browser
