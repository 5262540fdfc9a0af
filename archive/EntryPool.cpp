// The memory entries come from. An archive of a hundred thousand entries makes as many
// CPackObjects at once and frees them at once, so they come from slabs of equal blocks rather
// than from the general heap.
#include <sys/mman.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include "archive/PackObject.h"

#if defined(__SANITIZE_ADDRESS__)
#define TARN_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARN_ASAN 1
#endif
#endif
#ifdef TARN_ASAN
#include <sanitizer/asan_interface.h>
#include <sanitizer/lsan_interface.h>
#define TARN_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define TARN_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define TARN_POISON(p, n) ((void)(p), (void)(n))
#define TARN_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace tarn {

namespace {

// --- the entries' pool ---
//
// Slabs of 64 KiB, each aligned to its size so that a block finds its slab by masking its
// address. A slab with free blocks is on the partial list; one whose blocks are all free again
// goes back to the system, but for one kept so that opening and closing archives in turn does
// not allocate and free a slab each time. Under AddressSanitizer free blocks are poisoned (but
// for the link to the next free block), so that a use after free is still caught.
class EntryPool {
 public:
  static EntryPool& Instance() {
    static EntryPool* pool = new EntryPool;  // never destroyed: entries may outlive static destructors
    return *pool;
  }

  void* Allocate() {
    Lock lock(m_busy);
    if (!m_partial) Link(NewSlab());
    Slab* s = m_partial;
    if (s == m_spare) m_spare = nullptr;
    void* block;
    if (s->free) {
      block = s->free;
      TARN_UNPOISON(block, kBlock);
      s->free = s->free->next;
    } else {
      block = reinterpret_cast<char*>(s) + kFirst + s->fresh * kBlock;
      TARN_UNPOISON(block, kBlock);
      ++s->fresh;
    }
    ++s->live;
    if (!s->free && s->fresh == kPerSlab) Unlink(s);
    return block;
  }

  // Told that about count entries are coming (an archive's directory says how many): their
  // slabs are then mapped in one region.
  void Reserve(std::size_t count) {
    // A directory may claim any count: room is made for so many at most, and the pages are
    // only touched as entries fill them.
    count = std::min<std::size_t>(count, 1 << 20);
    Lock lock(m_busy);
    const std::size_t ready = (m_regionEnd - m_regionNext) / kSlabBytes * kPerSlab;
    if (count > kPerSlab && count > ready) MapRegion((count + kPerSlab - 1) / kPerSlab);
  }

  void Free(void* p) {
    Slab* s = reinterpret_cast<Slab*>(reinterpret_cast<std::uintptr_t>(p) & ~(kSlabBytes - 1));
    Lock lock(m_busy);
    auto* block = static_cast<FreeBlock*>(p);
    block->next = s->free;
    s->free = block;
    TARN_POISON(reinterpret_cast<char*>(p) + sizeof(FreeBlock), kBlock - sizeof(FreeBlock));
    if (!s->listed) Link(s);
    if (--s->live == 0) {
      if (m_spare) {
        Unlink(s);
        FreeSlab(s);
      } else {
        m_spare = s;
      }
    }
  }

 private:
  struct FreeBlock {
    FreeBlock* next;
  };
  struct Slab {
    Slab* prev = nullptr;
    Slab* next = nullptr;
    FreeBlock* free = nullptr;
    std::size_t live = 0;
    std::size_t fresh = 0;  // blocks handed out from the slab's unused end so far
    bool listed = false;
  };
  static constexpr std::size_t kSlabBytes = 64 << 10;
  static constexpr std::size_t kAlign = alignof(std::max_align_t);
  static constexpr std::size_t kBlock = (sizeof(CPackObject) + kAlign - 1) / kAlign * kAlign;
  static constexpr std::size_t kFirst = (sizeof(Slab) + kAlign - 1) / kAlign * kAlign;
  static constexpr std::size_t kPerSlab = (kSlabBytes - kFirst) / kBlock;

  class Lock {
   public:
    explicit Lock(std::atomic_flag& flag) : m_flag(flag) {
      while (m_flag.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
    }
    ~Lock() { m_flag.clear(std::memory_order_release); }

   private:
    std::atomic_flag& m_flag;
  };

  Slab* NewSlab() {
    void* memory = AllocateSlab();
    if (!memory) throw std::bad_alloc();
    Slab* s = new (memory) Slab;
    TARN_POISON(static_cast<char*>(memory) + kFirst, kSlabBytes - kFirst);
    return s;
  }
  // A slab's pages are asked for all at once, not found missing one by one as entries fill them:
  // sixteen page faults become one call.
  void* AllocateSlab() {
    if (m_regionNext == m_regionEnd && !MapRegion()) return nullptr;
    void* slab = reinterpret_cast<void*>(m_regionNext);
    m_regionNext += kSlabBytes;
#ifdef MADV_POPULATE_WRITE
    // In a region of large pages the first touch brings a whole page in.
    if (!m_regionHuge) ::madvise(slab, kSlabBytes, MADV_POPULATE_WRITE);  // older kernels: faults as usual
#endif
    return slab;
  }
  // Slabs are cut from regions of a few at a time, each region twice the last up to 2 MiB:
  // an archive of ten thousand entries maps its slabs in four calls rather than thirty. A
  // region's slabs are handed out (and their pages touched) only as they are needed, and each
  // goes back to the system on its own.
  bool MapRegion() {
    if (!MapRegion(m_regionSlabs)) return false;
    m_regionSlabs = std::min<std::size_t>(m_regionSlabs * 2, kMaxRegionSlabs);
    return true;
  }
  // A region of at least that many slabs, replacing what is left of the current one. One of a
  // megabyte or more is made of whole 2 MiB pages where the system has them: a single page
  // fault then stands for five hundred, which halves what reading a large archive's directory
  // costs the system.
  bool MapRegion(std::size_t slabs) {
    std::size_t bytes = slabs * kSlabBytes, align = kSlabBytes;
    const bool huge = bytes >= kHugePage / 2;
    if (huge) {
      bytes = (bytes + kHugePage - 1) & ~(kHugePage - 1);
      align = kHugePage;
    }
    void* p = ::mmap(nullptr, bytes + align, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return false;
    // Aligned within one alignment more than it needs; the rest goes back, and so does what is
    // left of the region it replaces (never handed out, never touched).
    const auto start = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t aligned = (start + align - 1) & ~(align - 1);
    if (aligned > start) ::munmap(p, aligned - start);
    ::munmap(reinterpret_cast<void*>(aligned + bytes), start + align - aligned);
    if (m_regionNext != m_regionEnd) ::munmap(reinterpret_cast<void*>(m_regionNext), m_regionEnd - m_regionNext);
    // A system without large pages says so, and its slabs are then filled in as any others.
    bool large = false;
#ifdef MADV_HUGEPAGE
    large = huge && ::madvise(reinterpret_cast<void*>(aligned), bytes, MADV_HUGEPAGE) == 0;
#endif
    m_regionNext = aligned;
    m_regionEnd = aligned + bytes;
    m_regionHuge = large;
#ifdef TARN_ASAN
    // The leak checker looks for the pointers entries hold (names, children, bytes) in the
    // heap; regions are outside it and must be shown to it. Slabs given back stay listed, the
    // checker looking only at what is still mapped.
    __lsan_register_root_region(reinterpret_cast<void*>(aligned), bytes);
#endif
    return true;
  }
  static void FreeSlab(Slab* s) {
    TARN_UNPOISON(s, kSlabBytes);  // whatever the system maps here next is not ours to guard
    ::munmap(s, kSlabBytes);
  }
  void Link(Slab* s) {
    s->prev = nullptr;
    s->next = m_partial;
    if (m_partial) m_partial->prev = s;
    m_partial = s;
    s->listed = true;
  }
  void Unlink(Slab* s) {
    (s->prev ? s->prev->next : m_partial) = s->next;
    if (s->next) s->next->prev = s->prev;
    s->prev = s->next = nullptr;
    s->listed = false;
  }

  std::atomic_flag m_busy = ATOMIC_FLAG_INIT;
  Slab* m_partial = nullptr;
  Slab* m_spare = nullptr;  // a slab with no live block, kept for the next archive
  static constexpr std::size_t kMaxRegionSlabs = 32;
  static constexpr std::size_t kHugePage = 2 << 20;
  std::uintptr_t m_regionNext = 0, m_regionEnd = 0;  // the slabs not yet handed out
  bool m_regionHuge = false;
  std::size_t m_regionSlabs = 4;  // the size of the next region
};

}  // namespace

void* CPackObject::operator new(std::size_t size) {
  return size == sizeof(CPackObject) ? EntryPool::Instance().Allocate() : ::operator new(size);
}

void CPackObject::operator delete(void* p) noexcept {
  if (p) EntryPool::Instance().Free(p);
}

void CPackObject::ExpectEntries(std::size_t count) { EntryPool::Instance().Reserve(count); }

}  // namespace tarn
