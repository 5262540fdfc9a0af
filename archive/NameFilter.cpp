#include "archive/NameFilter.h"

namespace tarn {

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool Contains(std::string_view name, std::string_view lowerText) {
  if (lowerText.size() > name.size()) return false;
  for (std::size_t start = 0; start + lowerText.size() <= name.size(); ++start) {
    std::size_t i = 0;
    while (i < lowerText.size() && Lower(name[start + i]) == lowerText[i]) ++i;
    if (i == lowerText.size()) return true;
  }
  return false;
}

// Wildcard matching without recursion: on a mismatch, the last "*" takes one more character.
bool Glob(std::string_view name, std::string_view lowerPattern) {
  std::size_t n = 0, p = 0, starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < lowerPattern.size() && (lowerPattern[p] == '?' || lowerPattern[p] == Lower(name[n]))) {
      ++n, ++p;
    } else if (p < lowerPattern.size() && lowerPattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < lowerPattern.size() && lowerPattern[p] == '*') ++p;
  return p == lowerPattern.size();
}

}  // namespace

CNameFilter::CNameFilter(std::string_view pattern) {
  m_pattern.reserve(pattern.size());
  for (char c : pattern) m_pattern += Lower(c);
  m_wildcard = m_pattern.find_first_of("*?") != std::string::npos;
}

bool CNameFilter::Matches(std::string_view name) const {
  if (m_pattern.empty()) return true;
  return m_wildcard ? Glob(name, m_pattern) : Contains(name, m_pattern);
}

}  // namespace tarn
