#include "cli/TerminalProgress.h"

#include <algorithm>
#include <cstdio>
#include <ostream>

namespace tarn::cli {

namespace {

constexpr auto kRedraw = std::chrono::milliseconds(100);

std::string Number(std::uint64_t bytes, std::uint64_t scale) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / static_cast<double>(scale));
  return text;
}

}  // namespace

CTerminalProgress::CTerminalProgress(std::ostream& err, std::string what, std::chrono::milliseconds after)
    : m_err(err), m_what(std::move(what)), m_start(Clock::now()), m_after(after) {}

CTerminalProgress::~CTerminalProgress() {
  if (m_width > 0) m_err << '\r' << std::string(m_width, ' ') << '\r' << std::flush;
}

std::string CTerminalProgress::Line() const {
  std::string line = "tarn-pak: " + m_what;
  if (m_total == 0) return line + "...";
  const std::uint64_t done = std::min(m_done, m_total);
  line += " " + std::to_string(done * 100 / m_total) + "%";
  const bool mb = m_total >= (1u << 20);
  const std::uint64_t scale = mb ? (1u << 20) : (1u << 10);
  return line + " (" + Number(done, scale) + " of " + Number(m_total, scale) + (mb ? " MB)" : " KB)");
}

bool CTerminalProgress::Advance(std::uint64_t units, std::string_view) {
  m_done += units;
  const auto now = Clock::now();
  if (now - m_start < m_after || (m_width > 0 && now - m_drawn < kRedraw)) return true;
  m_drawn = now;
  const std::string line = Line();
  m_err << '\r' << line;
  if (line.size() < m_width) m_err << std::string(m_width - line.size(), ' ');
  m_err << std::flush;
  m_width = std::max(m_width, line.size());
  return true;
}

}  // namespace tarn::cli
