#include "fileio/Strings.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "fileio/Words.h"

namespace tarn {

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

int CompareAnyCase(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char x = static_cast<unsigned char>(LowerAscii(a[i]));
    const unsigned char y = static_cast<unsigned char>(LowerAscii(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

void LowerInPlace(std::string& s) { AssignLowered(s, s); }

void AssignLowered(std::string& dst, std::string_view src) {
  const std::size_t n = src.size();
  if (dst.data() != src.data()) dst.resize(n);
  const char* from = src.data();
  char* to = dst.data();
  if (n < 8) {
    for (std::size_t i = 0; i < n; ++i) {
      const char c = from[i];
      to[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return;
  }
  // The last word may overlap the one before, folding twice changing nothing. It is read
  // before anything is written: a read across bytes just stored (in place) would stall on
  // the store.
  std::uint64_t last;
  std::memcpy(&last, from + n - 8, 8);
  for (std::size_t i = 0; i + 8 < n; i += 8) {
    std::uint64_t chunk;
    std::memcpy(&chunk, from + i, 8);
    chunk = FoldEight(chunk);
    std::memcpy(to + i, &chunk, 8);
  }
  last = FoldEight(last);
  std::memcpy(to + n - 8, &last, 8);
}

std::string ToLower(std::string_view view) {
  std::string s(view);
  LowerInPlace(s);
  return s;
}

namespace {

void AppendEscaped(std::string& out, std::string_view text, bool quotes) {
  for (unsigned char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\\' || (quotes && c == '"')) {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
}

}  // namespace

std::string Escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendEscaped(out, text, false);
  return out;
}

std::string Quoted(std::string_view name) {
  std::string q = "\"";
  AppendEscaped(q, name, true);
  return q + "\"";
}

}  // namespace tarn
