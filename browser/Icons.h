// Pictures for the icon kinds of entries (file, directory, sound, models, pictures, text, sprites).
#pragma once

#include <QIcon>

namespace tarn::browser {

// The icon of a kind, holding 16 and 32 pixel pictures; directories show open when selected.
const QIcon& KindIcon(int kind);

// The toolbar picture of a list style (the values of CPackListView::Style): big squares for
// large icons, rows of small squares for small icons, columns for the list, a table for details.
QIcon ListStyleIcon(int style);

}  // namespace tarn::browser
