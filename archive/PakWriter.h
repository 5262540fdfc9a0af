// Output side of saving: a file being written, its position, and the offsets the files
// will have in it. Offsets are collected here and applied to the tree only once the new
// archive has replaced the old one, so a failed save leaves the tree reading the old file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/Progress.h"
#include "archive/SafeSave.h"

namespace tarn {

class CPackObject;

class CPakWriter {
 public:
  explicit CPakWriter(CSafeSave& out, CProgress* progress = nullptr) : m_out(out), m_progress(progress) {}

  bool Write(const void* data, std::size_t n);
  std::int64_t Position() const { return m_position; }
  bool Failed() const { return !m_error.empty(); }
  // The failure was the disk's (the save knows the system's reason), not an entry's.
  bool WriteFailed() const { return m_error == kWriteFailed; }
  // The progress told the writer to stop.
  bool Cancelled() const { return m_error == kCancelled; }
  const std::string& Error() const { return m_error; }
  void Fail(std::string message) {
    if (m_error.empty()) m_error = std::move(message);
  }

  void RecordOffset(std::int32_t offset) { m_offsets.push_back(offset); }
  // The offsets in the order WriteData recorded them; WriteDirectory takes them back in the same order.
  std::int32_t TakeOffset() { return m_taken < m_offsets.size() ? m_offsets[m_taken++] : 0; }
  const std::vector<std::int32_t>& Offsets() const { return m_offsets; }

 private:
  static constexpr const char* kWriteFailed = "write failed";
  static constexpr const char* kCancelled = "cancelled";
  CSafeSave& m_out;
  CProgress* m_progress;
  std::int64_t m_position = 0;
  std::string m_error;
  std::vector<std::int32_t> m_offsets;
  std::size_t m_taken = 0;
};

// Gives each file below root the offset recorded for it, in save order.
void ApplyOffsets(CPackObject& root, const std::vector<std::int32_t>& offsets);

}  // namespace tarn
