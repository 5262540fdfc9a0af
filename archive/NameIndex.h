#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace tarn {

class CPackObject;

// Open-addressing index from name to child: no allocation per entry, which keeps opening and
// closing archives of a hundred thousand entries linear in practice, not just in theory. Names
// are compared as ASCII without regard to case: within a directory, two names that differ only
// in case are one name in every container, whatever case each keeps.
class CNameIndex {
 public:
  static std::size_t Hash(std::string_view name);
  // Hash, and whether the name holds a byte HasSpecialByte(name, true) looks for, in one pass.
  static std::size_t Hash(std::string_view name, bool& special);
  CPackObject* Find(std::string_view name) const { return Find(name, Hash(name)); }
  CPackObject* Find(std::string_view name, std::size_t hash) const;
  void Insert(CPackObject* entry) { Insert(entry, Hash(NameOf(entry))); }
  void Insert(CPackObject* entry, std::size_t hash);  // its name must not be in the index
  void Erase(const CPackObject* entry);
  void Clear();
  // Room for that many slots (a power of two) before entries are inserted.
  void Reserve(std::size_t slotCount) {
    if (m_slots.size() < slotCount) Rehash(slotCount);
  }
  std::size_t Size() const { return m_live; }
  // Slots looked at by every lookup and insertion so far: the work, counted for tests.
  std::size_t Probes() const { return m_probes; }

 private:
  struct Slot {
    CPackObject* entry = nullptr;  // null: never used; kTombstone: erased
    std::size_t hash = 0;          // compared first, so probing rarely touches the entries
  };
  static std::string_view NameOf(const CPackObject* entry);
  void Rehash(std::size_t slotCount);
  void Place(CPackObject* entry, std::size_t hash);
  std::vector<Slot> m_slots;
  std::size_t m_live = 0;
  std::size_t m_filled = 0;  // live entries and tombstones
  mutable std::size_t m_probes = 0;
};

}  // namespace tarn
