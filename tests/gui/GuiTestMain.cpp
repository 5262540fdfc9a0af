// Runs the window tests in one application object, with settings kept in a private folder.
#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>

int main(int argc, char** argv) {
  // Listing the tests needs no display; running them needs one (Xvfb), or draws off screen.
  if (qEnvironmentVariableIsEmpty("DISPLAY")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir settingsDir;
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
  QApplication app(argc, argv);
  QApplication::setApplicationName("Tarn");
  QApplication::setOrganizationName("Tarn");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
