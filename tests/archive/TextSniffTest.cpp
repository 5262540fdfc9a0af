#include "TestSupport.h"
#include "archive/TextSniff.h"

namespace tarn::test {
namespace {

TEST(TextSniff, TextIsUtf8OrLatin1WithoutControls) {
  EXPECT_TRUE(LooksLikeText({}));
  EXPECT_TRUE(LooksLikeText(ToBytes("{\n\"classname\" \"worldspawn\"\r\n\t\"wad\" \"q.wad\"\n}\n")));
  EXPECT_TRUE(LooksLikeText(ToBytes("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80")));  // UTF-8, up to four bytes
  EXPECT_TRUE(LooksLikeText(ToBytes("caf\xE9 na\xEFve \xA9")));                      // Latin-1
  EXPECT_FALSE(LooksLikeText(Bytes{'a', 0, 'b'}));
  EXPECT_FALSE(LooksLikeText(ToBytes("IDPO\x06\x01")));
  EXPECT_FALSE(LooksLikeText(ToBytes("bell\x07")));
  EXPECT_FALSE(LooksLikeText(ToBytes("del\x7F")));
  // Not UTF-8 (a lone continuation byte), so Latin-1, where 0x80-0x9F are controls.
  EXPECT_FALSE(LooksLikeText(ToBytes("quote \x93x\x94")));
  // Overlong and surrogate forms are not UTF-8 either.
  EXPECT_FALSE(LooksLikeText(ToBytes("\xC0\x80")));
  EXPECT_FALSE(LooksLikeText(ToBytes("\xED\xA0\x80")));
  EXPECT_TRUE(LooksLikeText(ToBytes("\xC2\xA0")));  // NBSP in UTF-8: its 0xA0 is no control
}

}  // namespace
}  // namespace tarn::test
