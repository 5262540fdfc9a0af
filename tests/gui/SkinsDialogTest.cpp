#include <QListWidget>

#include "GuiSupport.h"
#include "dialogs/SkinsDialog.h"

namespace tarn::test {
namespace {

TEST(SkinsDialog, ArchivePicturesAndDiskFilesComeBackApart) {
  dialogs::CSkinsDialog dialog({"models/a.pcx", "pics/b.pcx"});
  ASSERT_EQ(dialog.List()->count(), 2);
  EXPECT_TRUE(dialog.Entries().isEmpty());
  dialog.List()->item(1)->setSelected(true);
  dialog.AddFiles({"/tmp/skin.pcx"});  // added files come selected
  EXPECT_EQ(dialog.Entries(), QStringList{"pics/b.pcx"});
  EXPECT_EQ(dialog.Files(), QStringList{"/tmp/skin.pcx"});
}

}  // namespace
}  // namespace tarn::test
