// The hashed map from vertex keys to vertices used by both reachability graphs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace Utils {

// The hash of a vertex key: over the characters of Integer_Image(key), h := h * 65599 + code,
// starting from 0, unsigned 32-bit with wrap-around. Key_Hash(5) = 2099221.
std::uint32_t Key_Hash(std::int32_t key);

// An open-addressing hash map from 32-bit keys to values. The bucket of a key is Key_Hash(key)
// modulo the number of buckets (a power of two); collisions probe linearly. Values are owned by
// the map; callers copy them in and out.
template <class Value>
struct Key_Map {
  struct Slot {
    std::int32_t key = 0;
    bool used = false;
    Value value{};
  };

  // Number of stored keys.
  std::size_t Size() const { return count_; }

  // Removes every key; keeps the buckets.
  void Clear() {
    for (Slot& slot : slots_) slot = Slot{};
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
    if (count_ == 0) return nullptr;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = Key_Hash(key) & mask;; i = (i + 1) & mask) {
      Slot& slot = slots_[i];
      if (!slot.used) return nullptr;
      if (slot.key == key) return &slot.value;
    }
  }
  const Value* Find(std::int32_t key) const { return const_cast<Key_Map*>(this)->Find(key); }

  // Stores `value` under `key`, which must be absent; returns the stored value.
  Value& Insert(std::int32_t key, Value value) {
    if (2 * (count_ + 1) > slots_.size()) Rehash(slots_.empty() ? 16 : 2 * slots_.size());
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = Key_Hash(key) & mask;
    while (slots_[i].used) i = (i + 1) & mask;
    slots_[i].key = key;
    slots_[i].used = true;
    slots_[i].value = std::move(value);
    ++count_;
    return slots_[i].value;
  }

  // Removes `key`; false when it was absent.
  bool Erase(std::int32_t key) {
    if (count_ == 0) return false;
    const std::size_t mask = slots_.size() - 1;
    std::size_t hole = Key_Hash(key) & mask;
    while (true) {
      if (!slots_[hole].used) return false;
      if (slots_[hole].key == key) break;
      hole = (hole + 1) & mask;
    }
    slots_[hole] = Slot{};
    --count_;
    // Shift later members of the probe run back so that no lookup stops at the hole.
    for (std::size_t j = (hole + 1) & mask; slots_[j].used; j = (j + 1) & mask) {
      const std::size_t home = Key_Hash(slots_[j].key) & mask;
      const bool stays = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
      if (stays) continue;
      slots_[hole] = std::move(slots_[j]);
      slots_[j] = Slot{};
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
  void Rehash(std::size_t buckets) {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(buckets, Slot{});
    count_ = 0;
    for (Slot& slot : old)
      if (slot.used) Insert(slot.key, std::move(slot.value));
  }

  std::vector<Slot> slots_;
  std::size_t count_ = 0;
};

}  // namespace Utils
