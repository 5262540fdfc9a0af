#include "TestSupport.h"
#include "archive/EntryNames.h"
#include "fileio/Strings.h"

namespace tarn::test {
namespace {

// Names are lowered a word at a time: every length, in place or from another string, must give
// what lowering byte by byte gives, and leave every byte but A to Z as it was.
TEST(EntryNames, LoweringGivesWhatEachByteLoweredGives) {
  const std::string bytes = std::string("AZaz@[`{09\x80\xC1\xDA/.") + '\0';
  for (std::size_t length = 0; length < 40; ++length) {
    std::string mixed;
    for (std::size_t i = 0; i < length; ++i) mixed += bytes[(i * 7) % bytes.size()];
    std::string expected = mixed;
    for (char& c : expected)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    std::string copy = "something else";
    AssignLowered(copy, mixed);
    EXPECT_EQ(copy, expected) << length;
    LowerInPlace(mixed);
    EXPECT_EQ(mixed, expected) << length;
  }
}

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
