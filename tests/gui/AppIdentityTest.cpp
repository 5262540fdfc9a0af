// What the desktop learns about Tarn from the running program.
#include <gtest/gtest.h>

#include <QApplication>
#include <QIcon>
#include <QImage>

#include "TarnVersion.h"
#include "dialogs/AppIdentity.h"

namespace {

TEST(AppIdentity, VersionDesktopEntryAndCompiledInIconAtEverySize) {
  tarn::dialogs::SetApplicationIdentity();
  // The name also names the settings file: changing it would lose every user's settings.
  EXPECT_EQ(QApplication::applicationName(), "Tarn");
  EXPECT_EQ(QApplication::applicationVersion(), TARN_VERSION);
  EXPECT_EQ(QGuiApplication::desktopFileName(), TARN_APP_ID);

  const QIcon icon = QApplication::windowIcon();
  QList<QSize> expected;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) expected.append(QSize(size, size));
  EXPECT_EQ(icon.availableSizes(), expected);
  for (const QSize& size : expected) {
    const QImage image = icon.pixmap(size, 1.0).toImage();
    ASSERT_EQ(image.size(), size);
    // Drawn, not an empty placeholder: the middle of the mark is opaque.
    EXPECT_EQ(qAlpha(image.pixel(size.width() / 2, size.height() / 2)), 255) << size.width();
  }
}

}  // namespace
