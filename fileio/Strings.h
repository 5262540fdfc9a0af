// Text helpers for every layer: ASCII case folding and comparison, endings, and the escaping
// that keeps a name readable on one line of a message. Names are bytes: only A to Z fold, and
// nothing here decodes UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace tarn {

inline char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// ASCII comparison without regard to case: how names are told apart.
bool SameName(std::string_view a, std::string_view b);
// Like string_view::compare on both texts lower-cased, without making them.
int CompareAnyCase(std::string_view a, std::string_view b);

inline bool EndsWith(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

// ASCII lower case; other bytes are left as they are.
std::string ToLower(std::string_view s);
// A to Z made a to z in place.
void LowerInPlace(std::string& s);
// dst becomes src with A to Z made a to z (src may be dst itself).
void AssignLowered(std::string& dst, std::string_view src);

// Text with its control bytes escaped so that it stays on one line and reads back
// unambiguously: "\n", "\t", "\\" for a backslash and "\xNN" for the other bytes below
// 0x20 and 0x7F. Other bytes are kept as they are.
std::string Escaped(std::string_view text);

// The name in double quotes, escaped as above and with its quotes as "\"", for messages.
// Every message that names an entry or a file names it so.
std::string Quoted(std::string_view name);

}  // namespace tarn
