#include "TestSupport.h"
#include "archive/EntryNames.h"

namespace tarn::test {
namespace {

TEST(EntryNames, NewNamesAreStoredLowerCaseAndTakenInAnyCase) {
  CPackObject root;
  root.SetDirectory(true);
  CPackObject* ktx = root.AddChild("ktx.cfg", false);
  root.AddChild("server.cfg", false);
  root.AddChild("textures", true);

  NewNameCheck c = CheckNewName(*ktx, "SERVER.CFG");
  EXPECT_EQ(c.problem, NewNameProblem::Taken);
  EXPECT_EQ(c.taken, root.FindChild("server.cfg"));
  EXPECT_EQ(CheckNewName(*ktx, "Textures").problem, NewNameProblem::Taken);  // a directory counts too
  EXPECT_EQ(CheckNewName(*ktx, "").problem, NewNameProblem::Empty);
  EXPECT_EQ(CheckNewName(*ktx, "a/B").problem, NewNameProblem::Separator);
  EXPECT_EQ(CheckNewName(*ktx, std::string("a\0b", 3)).problem, NewNameProblem::Separator);

  c = CheckNewName(*ktx, "Autoexec.CFG");
  EXPECT_EQ(c.problem, NewNameProblem::None);
  EXPECT_EQ(c.stored, "autoexec.cfg");
  EXPECT_EQ(CheckNewName(*ktx, "KTX.cfg").stored, "ktx.cfg");  // its own name is never taken

  // A sibling stored in upper case before the rule held is found all the same.
  root.AddChild("old", false)->Rename("README");
  EXPECT_EQ(CheckNewName(*ktx, "readme").problem, NewNameProblem::Taken);
  EXPECT_EQ(root.AddChild("Mixed.TXT", false)->Name(), StoredName(root, "Mixed.TXT"));
}

}  // namespace
}  // namespace tarn::test
