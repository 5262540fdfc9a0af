// Who Tarn is to Qt and to the desktop.
#pragma once

namespace tarn::dialogs {

// Sets the application's name (which also names the settings file), its version, the desktop
// entry it belongs to and its window icon. Call once, right after the QApplication is made.
void SetApplicationIdentity();

}  // namespace tarn::dialogs
