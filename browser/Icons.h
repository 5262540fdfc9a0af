// Pictures for the icon kinds of entries (file, directory, sound, models, pictures, text, sprites).
#pragma once

#include <QIcon>

namespace tarn::browser {

// The icon of a kind, holding 16 and 32 pixel pictures; directories show open when selected.
const QIcon& KindIcon(int kind);

}  // namespace tarn::browser
