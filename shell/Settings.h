// The application's profile: an INI file with the sections and keys the program has always
// used ("Startup", "Debug", ...).
#pragma once

#include <QSettings>
#include <memory>

namespace tarn::shell {

std::unique_ptr<QSettings> OpenSettings();

// "Section/Key" as an integer, or the default when absent or not a number.
int ProfileInt(const QString& section, const QString& key, int defaultValue);
void WriteProfileInt(const QString& section, const QString& key, int value);

}  // namespace tarn::shell
