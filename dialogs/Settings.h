// The application's profile: an INI file with the sections and keys the program has always
// used ("Startup", "Debug", ...).
#pragma once

#include <QList>
#include <QRect>
#include <QSettings>
#include <memory>

namespace tarn::dialogs {

std::unique_ptr<QSettings> OpenSettings();

// "Section/Key" as an integer, or the default when absent or not a number.
int ProfileInt(const QString& section, const QString& key, int defaultValue);
void WriteProfileInt(const QString& section, const QString& key, int value);

// A saved window place fitted to the screens' free areas as they are now: kept where the screens
// show it whole, else moved onto the screen that shows most of it (or lies nearest) and made no
// larger than that screen.
QRect FitToScreens(const QRect& wanted, const QList<QRect>& screens);

// Where a window goes when no place was saved: two thirds of the screen's free area, centred.
QRect FirstPlace(const QRect& screen);

}  // namespace tarn::dialogs
