#include "dialogs/Settings.h"

#include <algorithm>

namespace tarn::dialogs {

std::unique_ptr<QSettings> OpenSettings() {
  return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, "Tarn", "Tarn");
}

int ProfileInt(const QString& section, const QString& key, int defaultValue) {
  auto s = OpenSettings();
  bool ok = false;
  int v = s->value(section + "/" + key).toInt(&ok);
  return ok ? v : defaultValue;
}

void WriteProfileInt(const QString& section, const QString& key, int value) {
  auto s = OpenSettings();
  s->setValue(section + "/" + key, value);
}

QRect FitToScreens(const QRect& wanted, const QList<QRect>& screens) {
  if (screens.isEmpty() || wanted.isEmpty()) return wanted;
  const auto area = [](const QRect& r) { return r.isEmpty() ? 0LL : static_cast<long long>(r.width()) * r.height(); };
  long long shown = 0;
  const QRect* best = nullptr;
  long long bestArea = 0, bestDistance = 0;
  for (const QRect& s : screens) {
    const long long a = area(wanted.intersected(s));
    shown += a;
    const QPoint d = s.center() - wanted.center();
    const long long distance = static_cast<long long>(d.x()) * d.x() + static_cast<long long>(d.y()) * d.y();
    if (!best || a > bestArea || (a == bestArea && a == 0 && distance < bestDistance)) {
      best = &s;
      bestArea = a;
      bestDistance = distance;
    }
  }
  // Screens do not overlap: what they show of it adds up to the whole only when all is in sight.
  if (shown == area(wanted)) return wanted;
  QRect fitted(wanted.topLeft(), wanted.size().boundedTo(best->size()));
  fitted.moveLeft(std::clamp(fitted.left(), best->left(), best->right() - fitted.width() + 1));
  fitted.moveTop(std::clamp(fitted.top(), best->top(), best->bottom() - fitted.height() + 1));
  return fitted;
}

QRect FirstPlace(const QRect& screen) {
  const QSize size(screen.width() * 2 / 3, screen.height() * 2 / 3);
  QRect placed(QPoint(), size);
  placed.moveCenter(screen.center());
  return placed;
}

}  // namespace tarn::dialogs
