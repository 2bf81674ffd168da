// The hashed map from vertex keys to vertices used by the reachability graphs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "utils/utils-types.hpp"

namespace Utils {

// The hash of a vertex key: over the characters of Integer_Image(key), h := h * 65599 + code,
// starting from 0, unsigned 32-bit with wrap-around. Key_Hash(5) = 2099221.
constexpr std::uint32_t Key_Hash(std::int32_t key) {
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

// An open-addressing hash map from 32-bit keys to values: the bucket of a key is Key_Hash(key)
// modulo the number of buckets (a power of two, at least twice the number of keys); collisions
// probe linearly. Values are owned by the map; Find hands out a pointer that stays valid until
// the next Insert, Erase or Clear. The slots of the keys below Small_Keys (every key of the
// simple graph) are also kept by key, so that finding one reads its slot instead of hashing its
// digits and probing.
template <class Value>
class Key_Map {
 public:
  std::size_t Size() const { return count_; }

  // Removes every key. A table much larger than the keys it holds is released instead of walked,
  // so that clearing costs in proportion to the keys; otherwise the buckets are kept.
  void Clear() {
    if (slots_.size() > 8 * count_ + 64) {
      std::vector<Slot>().swap(slots_);
    } else {
      for (Slot& slot : slots_)
        if (slot.used) slot = Slot{};
    }
    small_slot_.fill(0);
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
    if (Small(key)) {
      const std::int32_t at = small_slot_[Index(key)];
      return at == 0 ? nullptr : &slots_[Index(at - 1)].value;
    }
    return Find_Hashed(key);
  }
  const Value* Find(std::int32_t key) const { return const_cast<Key_Map*>(this)->Find(key); }

  // Stores `value` under `key`, which must be absent; returns the stored value.
  Value& Insert(std::int32_t key, Value value) {
    if (2 * (count_ + 1) > slots_.size()) Rehash(slots_.empty() ? 16 : 2 * slots_.size());
    const std::size_t i = Probe(key);
    slots_[i] = {key, true, std::move(value)};
    Note_Small(i);
    ++count_;
    return slots_[i].value;
  }

  // Removes `key`; false when it was absent.
  bool Erase(std::int32_t key) {
    if (slots_.empty()) return false;
    std::size_t hole = Probe(key);
    if (!slots_[hole].used) return false;
    if (Small(key)) small_slot_[Index(key)] = 0;
    slots_[hole] = Slot{};
    --count_;
    // Later members of the probe run move back into the hole unless their home bucket lies
    // after it, so that no look-up stops at the hole.
    for (std::size_t j = Next(hole); slots_[j].used; j = Next(j)) {
      const std::size_t home = Home(slots_[j].key);
      const bool stays = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
      if (stays) continue;
      slots_[hole] = std::move(slots_[j]);
      slots_[j] = Slot{};
      Note_Small(hole);
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
  struct Slot {
    std::int32_t key = 0;
    bool used = false;
    Value value{};
  };

  // Find for a key that is not small, kept out of line so that Find stays short.
  [[gnu::noinline]] Value* Find_Hashed(std::int32_t key) {
    if (slots_.empty()) return nullptr;
    Slot& slot = slots_[Probe(key)];
    return slot.used ? &slot.value : nullptr;
  }

  static constexpr std::int32_t Small_Keys = 16;
  static bool Small(std::int32_t key) { return key >= 0 && key < Small_Keys; }
  // Records the slot of the key stored in slot `i` when the key is small.
  void Note_Small(std::size_t i) {
    if (Small(slots_[i].key)) small_slot_[Index(slots_[i].key)] = static_cast<std::int32_t>(i + 1);
  }

  std::size_t Home(std::int32_t key) const { return Key_Hash(key) & (slots_.size() - 1); }
  std::size_t Next(std::size_t i) const { return (i + 1) & (slots_.size() - 1); }
  // The slot holding `key`, or the free slot that ends its probe run.
  std::size_t Probe(std::int32_t key) const {
    std::size_t i = Home(key);
    while (slots_[i].used && slots_[i].key != key) i = Next(i);
    return i;
  }

  void Rehash(std::size_t buckets) {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(buckets, Slot{});
    small_slot_.fill(0);
    count_ = 0;
    for (Slot& slot : old)
      if (slot.used) Insert(slot.key, std::move(slot.value));
  }

  std::vector<Slot> slots_;
  std::size_t count_ = 0;
  std::array<std::int32_t, Small_Keys> small_slot_{};  // slot + 1 of each small key, 0: absent
};

}  // namespace Utils
