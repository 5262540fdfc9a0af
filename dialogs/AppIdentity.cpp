#include "dialogs/AppIdentity.h"

#include <QApplication>
#include <QIcon>

#include "TarnVersion.h"

// The icons live in a library linked into the program; naming them keeps the linker from
// dropping them as unused.
static void InitIconResources() { Q_INIT_RESOURCE(tarn_icons); }

namespace tarn::dialogs {

void SetApplicationIdentity() {
  InitIconResources();
  QApplication::setApplicationName("Tarn");
  QApplication::setOrganizationName("Tarn");
  QApplication::setApplicationVersion(TARN_VERSION);
  // Wayland compositors and docks find the window's entry and icon by this name.
  QGuiApplication::setDesktopFileName(TARN_APP_ID);
  // The icon is compiled in (rendered from the same drawing the desktop icon theme gets), so a
  // Tarn run from its build folder or from any prefix has it without an installed theme.
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256})
    icon.addFile(QString(":/icons/%1/tarn.png").arg(size), QSize(size, size));
  QApplication::setWindowIcon(icon);
}

}  // namespace tarn::dialogs
