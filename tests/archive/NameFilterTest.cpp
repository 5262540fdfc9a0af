#include "TestSupport.h"
#include "archive/NameFilter.h"

namespace tarn::test {
namespace {

TEST(NameFilter, PlainTextAnywhereWildcardsOverTheWholeName) {
  const CNameFilter plain("M1");
  EXPECT_TRUE(plain.Matches("e1m1.bsp"));
  EXPECT_TRUE(plain.Matches("M1"));
  EXPECT_FALSE(plain.Matches("e2m2.bsp"));
  EXPECT_TRUE(CNameFilter("").Matches("anything"));
  EXPECT_TRUE(CNameFilter().Empty());

  const CNameFilter wav("*.WAV");
  EXPECT_TRUE(wav.Matches("pop.wav"));
  EXPECT_FALSE(wav.Matches("pop.wav.bak"));  // the whole name, not a part of it
  EXPECT_TRUE(CNameFilter("e?m?.bsp").Matches("e1m8.bsp"));
  EXPECT_FALSE(CNameFilter("e?m?.bsp").Matches("e1m10.bsp"));
  EXPECT_TRUE(CNameFilter("*m*1*").Matches("e1m1.bsp"));
  EXPECT_TRUE(CNameFilter("**").Matches(""));
  EXPECT_FALSE(CNameFilter("?").Matches(""));
  // Backtracking past an early false match of the text after "*".
  EXPECT_TRUE(CNameFilter("*ab*abc").Matches("xabyabababc"));
  EXPECT_FALSE(CNameFilter("a*b").Matches("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaac"));
}

}  // namespace
}  // namespace tarn::test
