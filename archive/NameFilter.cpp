#include "archive/NameFilter.h"

#include "fileio/Strings.h"

namespace tarn {

namespace {

bool Contains(std::string_view name, std::string_view lowerText) {
  if (lowerText.size() > name.size()) return false;
  for (std::size_t start = 0; start + lowerText.size() <= name.size(); ++start) {
    std::size_t i = 0;
    while (i < lowerText.size() && LowerAscii(name[start + i]) == lowerText[i]) ++i;
    if (i == lowerText.size()) return true;
  }
  return false;
}

}  // namespace

bool WildcardMatch(std::string_view pattern, std::string_view text) {
  // One pass with a single back-track point: the last "*" seen and where in text it resumes.
  std::size_t p = 0, t = 0, star = std::string_view::npos, resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() &&
        (pattern[p] == '?' || (pattern[p] != '*' && LowerAscii(pattern[p]) == LowerAscii(text[t])))) {
      ++p;
      ++t;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

CNameFilter::CNameFilter(std::string_view pattern) {
  m_pattern.reserve(pattern.size());
  for (char c : pattern) m_pattern += LowerAscii(c);
  m_wildcard = m_pattern.find_first_of("*?") != std::string::npos;
}

bool CNameFilter::Matches(std::string_view name) const {
  if (m_pattern.empty()) return true;
  return m_wildcard ? WildcardMatch(m_pattern, name) : Contains(name, m_pattern);
}

}  // namespace tarn
