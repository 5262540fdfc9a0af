#include "archive/NameIndex.h"

#include "archive/PackObject.h"
#include "fileio/Strings.h"
#include "fileio/Words.h"

namespace tarn {

namespace {

// Marks a slot whose entry was erased, so that probing goes on past it. Never dereferenced.
alignas(CPackObject) char tombstoneStorage[1];
CPackObject* const kTombstone = reinterpret_cast<CPackObject*>(tombstoneStorage);

}  // namespace

namespace {

template <bool kSpecial>
std::size_t HashName(std::string_view name, bool* special) {
  // Equal names in any case must meet: the bytes are folded first, a word at a time.
  std::uint64_t h = 0x9E3779B97F4A7C15ull ^ name.size();
  std::uint64_t found = 0;
  ForEachWord(name, [&](std::uint64_t w) {
    h = (h ^ FoldEight(w)) * 0xBF58476D1CE4E5B9ull;
    h ^= h >> 31;
    if constexpr (kSpecial) found |= SpecialBytes(w, true);
    return false;
  });
  if constexpr (kSpecial) *special = found != 0;
  h *= 0x94D049BB133111EBull;
  return static_cast<std::size_t>(h ^ (h >> 29));
}

}  // namespace

std::size_t CNameIndex::Hash(std::string_view name) { return HashName<false>(name, nullptr); }
std::size_t CNameIndex::Hash(std::string_view name, bool& special) { return HashName<true>(name, &special); }

std::string_view CNameIndex::NameOf(const CPackObject* entry) { return entry->Name(); }

CPackObject* CNameIndex::Find(std::string_view name, std::size_t hash) const {
  if (m_slots.empty()) return nullptr;
  const std::size_t mask = m_slots.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    ++m_probes;
    const Slot& slot = m_slots[i];
    if (!slot.entry) return nullptr;
    if (slot.hash == hash && slot.entry != kTombstone && SameName(slot.entry->Name(), name)) return slot.entry;
  }
}

void CNameIndex::Place(CPackObject* entry, std::size_t hash) {
  const std::size_t mask = m_slots.size() - 1;
  std::size_t i = hash & mask;
  for (++m_probes; m_slots[i].entry && m_slots[i].entry != kTombstone; ++m_probes) i = (i + 1) & mask;
  if (!m_slots[i].entry) ++m_filled;
  m_slots[i] = {entry, hash};
  ++m_live;
}

void CNameIndex::Insert(CPackObject* entry, std::size_t hash) {
  if ((m_filled + 1) * 2 > m_slots.size())
    Rehash(m_live * 4 >= m_slots.size() ? std::max<std::size_t>(16, m_slots.size() * 2) : m_slots.size());
  Place(entry, hash);
}

void CNameIndex::Erase(const CPackObject* entry) {
  if (m_slots.empty()) return;
  const std::size_t mask = m_slots.size() - 1;
  for (std::size_t i = Hash(entry->Name()) & mask; m_slots[i].entry; i = (i + 1) & mask) {
    if (m_slots[i].entry == entry) {
      m_slots[i].entry = kTombstone;
      --m_live;
      return;
    }
  }
}

void CNameIndex::Clear() {
  m_slots.clear();
  m_slots.shrink_to_fit();
  m_live = m_filled = 0;
}

void CNameIndex::Rehash(std::size_t slots) {
  std::vector<Slot> old(slots);
  old.swap(m_slots);
  m_live = m_filled = 0;
  for (const Slot& s : old)
    if (s.entry && s.entry != kTombstone) Place(s.entry, s.hash);
}

}  // namespace tarn
