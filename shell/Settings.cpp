#include "shell/Settings.h"

namespace tarn::shell {

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

}  // namespace tarn::shell
