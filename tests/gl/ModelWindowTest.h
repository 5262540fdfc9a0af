// The model viewer windows the main window's View command opens, for the window tests.
#pragma once

#include "gui/GuiSupport.h"
#include "viewers/models/GLFrame.h"

namespace tarn::test {

using viewers::CGLFrame;

// The model viewer the View command opened.
inline CGLFrame* ShownModelViewer() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* v = qobject_cast<CGLFrame*>(w); v && v->isVisible()) return v;
  return nullptr;
}

// A main window whose View command opens model viewers, closed again after each test.
class ModelWindowTest : public GuiTest {
 protected:
  void TearDown() override {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* v = qobject_cast<CGLFrame*>(w)) v->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    GuiTest::TearDown();
  }
  // The viewer of the entry name in dirPath, as the View command opens it; nullptr when none.
  CGLFrame* Open(const std::string& dirPath, const std::string& name) {
    ShowDir(dirPath);
    FocusList();
    SelectRows({name});
    Action("actionView")->trigger();
    QApplication::processEvents();
    return ShownModelViewer();
  }
  // The same, shown on the screen, for what is drawn.
  CGLFrame* OpenExposed(const std::string& dirPath, const std::string& name) {
    CGLFrame* v = Open(dirPath, name);
    EXPECT_NE(v, nullptr);
    if (v) {
      EXPECT_TRUE(QTest::qWaitForWindowExposed(v));
    }
    return v;
  }
  void Close(CGLFrame* v) {
    v->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
};

}  // namespace tarn::test
