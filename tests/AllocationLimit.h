// Memory running out on demand: while an AllocationLimit lives on a thread, any single
// allocation there larger than its bytes fails with std::bad_alloc, as on a machine out of
// memory. The test programs that use it replace operator new to honour it (archive_tests in
// PackObjectTest.cpp, the window tests in gui/GuiTestMain.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarn::test {

extern thread_local std::size_t g_allocationLimit;

class AllocationLimit {
 public:
  explicit AllocationLimit(std::size_t bytes) : m_before(g_allocationLimit) { g_allocationLimit = bytes; }
  ~AllocationLimit() { g_allocationLimit = m_before; }
  AllocationLimit(const AllocationLimit&) = delete;
  AllocationLimit& operator=(const AllocationLimit&) = delete;

 private:
  std::size_t m_before;
};

}  // namespace tarn::test
