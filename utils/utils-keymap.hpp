// The hashed map from vertex keys to vertices used by both reachability graphs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace Utils {

// The hash of a vertex key: over the characters of Integer_Image(key), h := h * 65599 + code,
// starting from 0, unsigned 32-bit with wrap-around. Key_Hash(5) = 2099221.
std::uint32_t Key_Hash(std::int32_t key);

namespace Key_Hash_Detail {

// The same hash, computable at compile time.
constexpr std::uint32_t Compute(std::int32_t key) {
  std::uint32_t magnitude =
      key < 0 ? ~static_cast<std::uint32_t>(key) + 1 : static_cast<std::uint32_t>(key);
  char digits[12] = {};
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  std::uint32_t h = key < 0 ? '-' : ' ';
  while (n > 0) h = h * 65599u + static_cast<std::uint32_t>(digits[--n]);
  return h;
}

// The hashes of the small keys that the graphs use, computed at compile time.
inline constexpr std::int32_t Table_Size = 2048;
inline constexpr auto Table = [] {
  std::array<std::uint32_t, Table_Size> table{};
  for (std::int32_t k = 0; k < Table_Size; ++k) table[static_cast<std::size_t>(k)] = Compute(k);
  return table;
}();

}  // namespace Key_Hash_Detail

// Key_Hash, read from a table for keys 0..2047.
inline std::uint32_t Fast_Key_Hash(std::int32_t key) {
  if (key >= 0 && key < Key_Hash_Detail::Table_Size)
    return Key_Hash_Detail::Table[static_cast<std::size_t>(key)];
  return Key_Hash(key);
}

// An open-addressing hash map from 32-bit keys to values. The bucket of a key is Key_Hash(key)
// modulo the number of buckets (a power of two); collisions probe linearly. Values are owned by
// the map; callers copy them in and out.
//
// The hash of the small decimal keys that the graphs use crowds them into few buckets (1320
// keys in 4096 buckets take only 538 home buckets), so probe runs grow long. Keys 0..2047 are
// therefore also indexed by their slot, and finding them skips the probe; the slots, and with
// them the iteration order, are exactly those of the hashed layout.
template <class Value>
struct Key_Map {
  // One cache line per slot (for the coloured graph's vertices), so that reading a vertex
  // touches one line.
  struct alignas(64) Slot {
    std::int32_t key = 0;
    bool used = false;
    Value value{};
  };

  // Number of stored keys.
  std::size_t Size() const { return count_; }

  // Removes every key; keeps the buckets. Visits only the slots in use, so that clearing a
  // large table that holds few keys costs little.
  void Clear() {
    for (std::size_t w = 0; w < in_use_.size(); ++w) {
      for (std::uint64_t bits = in_use_[w]; bits != 0; bits &= bits - 1) {
        const std::size_t i = (w << 6) + static_cast<std::size_t>(__builtin_ctzll(bits));
        if (i >= slots_.size()) break;  // the marks beyond the last slot of a small table
        Slot& slot = slots_[i];
        if (Direct(slot.key)) direct_[static_cast<std::size_t>(slot.key)] = 0;
        slot = Slot{};
      }
    }
    Reset_Marks();
    count_ = 0;
  }

  // Makes room for `n` keys without growing later.
  void Reserve(std::size_t n) {
    std::size_t buckets = 16;
    while (buckets < 2 * n) buckets *= 2;
    if (buckets > slots_.size()) Rehash(buckets);
  }

  // The stored value of `key`, or nullptr.
  Value* Find(std::int32_t key) {
    if (Direct(key)) {
      const std::int32_t at = direct_[static_cast<std::size_t>(key)];
      return at == 0 ? nullptr : &slots_[static_cast<std::size_t>(at - 1)].value;
    }
    if (count_ == 0) return nullptr;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = Fast_Key_Hash(key) & mask;; i = (i + 1) & mask) {
      Slot& slot = slots_[i];
      if (!slot.used) return nullptr;
      if (slot.key == key) return &slot.value;
    }
  }
  const Value* Find(std::int32_t key) const { return const_cast<Key_Map*>(this)->Find(key); }

  // Whether `key` is stored.
  bool Contains(std::int32_t key) const {
    if (Direct(key)) return direct_[static_cast<std::size_t>(key)] != 0;
    return Find(key) != nullptr;
  }

  // Contains for a key known to lie in 0..2047.
  bool Contains_Small(std::int32_t key) const {
    return direct_[static_cast<std::size_t>(key)] != 0;
  }

  // Stores `value` under `key`, which must be absent; returns the stored value.
  Value& Insert(std::int32_t key, Value value) {
    if (2 * (count_ + 1) > slots_.size()) Rehash(slots_.empty() ? 16 : 2 * slots_.size());
    const std::size_t mask = slots_.size() - 1;
    const std::size_t i = First_Free(Fast_Key_Hash(key) & mask);
    slots_[i].key = key;
    slots_[i].used = true;
    Mark(i, true);
    slots_[i].value = std::move(value);
    Index(key, i);
    ++count_;
    return slots_[i].value;
  }

  // Removes `key`; false when it was absent.
  bool Erase(std::int32_t key) {
    if (count_ == 0) return false;
    const std::size_t mask = slots_.size() - 1;
    std::size_t hole = Fast_Key_Hash(key) & mask;
    while (true) {
      if (!slots_[hole].used) return false;
      if (slots_[hole].key == key) break;
      hole = (hole + 1) & mask;
    }
    slots_[hole] = Slot{};
    Mark(hole, false);
    if (Direct(key)) direct_[static_cast<std::size_t>(key)] = 0;
    --count_;
    // Shift later members of the probe run back so that no lookup stops at the hole.
    for (std::size_t j = (hole + 1) & mask; slots_[j].used; j = (j + 1) & mask) {
      const std::size_t home = Fast_Key_Hash(slots_[j].key) & mask;
      const bool stays = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
      if (stays) continue;
      slots_[hole] = std::move(slots_[j]);
      slots_[j] = Slot{};
      Mark(hole, true);
      Mark(j, false);
      Index(slots_[hole].key, hole);
      hole = j;
    }
    return true;
  }

  // Calls f(key, value) for every stored key in bucket order.
  template <class F>
  void For_Each(F&& f) const {
    for (const Slot& slot : slots_)
      if (slot.used) f(slot.key, slot.value);
  }

 private:
  static bool Direct(std::int32_t key) { return key >= 0 && key < Key_Hash_Detail::Table_Size; }

  // The first slot not in use at or after `i` in probe order (wrapping around); one must exist.
  std::size_t First_Free(std::size_t i) const {
    const std::size_t words = in_use_.size();
    std::size_t w = i >> 6;
    std::uint64_t free = ~in_use_[w] & (~std::uint64_t{0} << (i & 63));
    while (free == 0) {
      w = w + 1 == words ? 0 : w + 1;
      free = ~in_use_[w];
    }
    return (w << 6) + static_cast<std::size_t>(__builtin_ctzll(free));
  }

  void Mark(std::size_t slot, bool used) {
    const std::uint64_t bit = std::uint64_t{1} << (slot & 63);
    if (used)
      in_use_[slot >> 6] |= bit;
    else
      in_use_[slot >> 6] &= ~bit;
  }

  // Every slot free; bits beyond the last slot of a small table count as in use.
  void Reset_Marks() {
    in_use_.assign((slots_.size() + 63) / 64, 0);
    if (slots_.size() % 64 != 0) in_use_.back() = ~std::uint64_t{0} << (slots_.size() % 64);
  }

  // Records that `key` now lives in slot `slot`.
  void Index(std::int32_t key, std::size_t slot) {
    if (!Direct(key)) return;
    direct_[static_cast<std::size_t>(key)] = static_cast<std::int32_t>(slot + 1);
  }

  void Rehash(std::size_t buckets) {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(buckets, Slot{});
    Reset_Marks();
    count_ = 0;
    for (Slot& slot : old)
      if (slot.used) Insert(slot.key, std::move(slot.value));
  }

  std::vector<Slot> slots_;
  std::size_t count_ = 0;
  // Bit s of word s / 64: slot s is in use. Inserting finds the end of a probe run here
  // instead of stepping through the slots, which the crowded small keys make long.
  std::vector<std::uint64_t> in_use_;
  // Slot + 1 of each stored key 0..2047, 0 for an absent key.
  std::array<std::int32_t, Key_Hash_Detail::Table_Size> direct_{};
};

}  // namespace Utils
