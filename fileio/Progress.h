// How long work tells how far it got, and learns whether to go on. Saving, exporting, importing
// and opening report through it and stop when told to: a save or an import then leaves
// everything as it was, an export the files written so far. Free of any toolkit and of threads:
// the caller decides where the work runs and how its progress is shown.
#pragma once

#include <cstdint>
#include <string_view>

namespace tarn {

class CProgress {
 public:
  virtual ~CProgress() = default;
  // There are `units` more to do (bytes, or records when opening); calls add up.
  virtual void Expect(std::uint64_t units) = 0;
  // `units` more are done, on the item `what` (a path, or empty). False: stop, as soon as the
  // work can without leaving anything half done.
  virtual bool Advance(std::uint64_t units, std::string_view what) = 0;
};

// For work whose caller may give no progress at all.
inline void Expect(CProgress* progress, std::uint64_t units) {
  if (progress) progress->Expect(units);
}
inline bool Advance(CProgress* progress, std::uint64_t units, std::string_view what = {}) {
  return !progress || progress->Advance(units, what);
}

// Passes progress on and remembers whether it said stop: for work whose result cannot tell a
// stop from a failure.
class CStopNoted final : public CProgress {
 public:
  explicit CStopNoted(CProgress* inner) : m_inner(inner) {}
  void Expect(std::uint64_t units) override { tarn::Expect(m_inner, units); }
  bool Advance(std::uint64_t units, std::string_view what) override {
    if (!tarn::Advance(m_inner, units, what)) m_stopped = true;
    return !m_stopped;
  }
  bool Stopped() const { return m_stopped; }

 private:
  CProgress* m_inner;
  bool m_stopped = false;
};

}  // namespace tarn
