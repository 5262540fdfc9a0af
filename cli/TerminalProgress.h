// tarn-pak's progress line: on standard error, only when that is a terminal (the caller
// decides), and only once the work has run for a while; redrawn in place, wiped at the end.
#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <string>

#include "fileio/Progress.h"

namespace tarn::cli {

class CTerminalProgress final : public CProgress {
 public:
  // what: "extract", "create: saving" ...; nothing is drawn before `after` has passed.
  CTerminalProgress(std::ostream& err, std::string what, std::chrono::milliseconds after);
  ~CTerminalProgress() override;
  CTerminalProgress(const CTerminalProgress&) = delete;
  CTerminalProgress& operator=(const CTerminalProgress&) = delete;

  void Expect(std::uint64_t units) override { m_total += units; }
  // Never says stop: Ctrl+C does that.
  bool Advance(std::uint64_t units, std::string_view what) override;

  // "tarn-pak: extract 45% (12.3 of 27.1 MB)"
  std::string Line() const;

 private:
  using Clock = std::chrono::steady_clock;
  std::ostream& m_err;
  std::string m_what;
  Clock::time_point m_start, m_drawn;
  std::chrono::milliseconds m_after;
  std::uint64_t m_done = 0, m_total = 0;
  std::size_t m_width = 0;  // of the line drawn, to wipe it
};

}  // namespace tarn::cli
