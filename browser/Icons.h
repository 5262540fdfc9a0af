// Pictures for the kinds of entries (file, directory, sound, models, pictures, text, sprites),
// by the same table that names their type.
#pragma once

#include <QIcon>

#include "archive/EntryTypes.h"

namespace tarn::browser {

// The icon of an entry of that type, holding 16 and 32 pixel pictures; directories show open
// when selected.
const QIcon& KindIcon(EntryType type);

// The toolbar picture of a list style (the values of CPackListView::Style): big squares for
// large icons, rows of small squares for small icons, columns for the list, a table for details.
QIcon ListStyleIcon(int style);

}  // namespace tarn::browser
