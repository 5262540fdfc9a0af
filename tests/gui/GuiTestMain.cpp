// Runs the window tests in one application object, with settings kept in a private folder.
#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdlib>
#include <new>

#include "AllocationLimit.h"

// Refuses what an AllocationLimit does not allow, so that a test can run a window out of memory.
thread_local std::size_t tarn::test::g_allocationLimit = SIZE_MAX;

void* operator new(std::size_t n) {
  if (n > tarn::test::g_allocationLimit) throw std::bad_alloc();
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  if (n > tarn::test::g_allocationLimit) return nullptr;
  return std::malloc(n ? n : 1);
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

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
