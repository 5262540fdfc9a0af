// What the filter box matches: plain text anywhere in a name, or, when it holds "*" or "?",
// the whole name as a wildcard pattern ("*" any run of characters, "?" any one); both ignoring
// case (ASCII). Cheap enough to ask of every entry of a large archive at each keystroke.
#pragma once

#include <string>
#include <string_view>

namespace tarn {

// "*" any run of characters ("/" too), "?" one character; ASCII letters in any case.
bool WildcardMatch(std::string_view pattern, std::string_view text);

class CNameFilter {
 public:
  CNameFilter() = default;
  explicit CNameFilter(std::string_view pattern);
  bool Empty() const { return m_pattern.empty(); }
  bool Matches(std::string_view name) const;

 private:
  std::string m_pattern;  // lower case
  bool m_wildcard = false;
};

}  // namespace tarn
