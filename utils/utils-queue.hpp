// The priority queue of both searches: a bucket per priority, first in, first out within each.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "utils/utils-types.hpp"

namespace Utils {

// An entry of a search queue: the vertex key CONTENT, queued with PRIORITY (32767 minus the
// vertex's F when it was queued).
struct Queue_Element {
  std::int32_t PRIORITY;
  std::int32_t CONTENT;
};

// The queue of both searches: the greatest PRIORITY leaves first, equal priorities in insertion
// order. Entries are never updated or removed except by Dequeue. Priorities are costs turned
// round (0..Infinite_Cost), so each has a bucket of its own, which keeps its entries in
// insertion order; a bit per bucket tells the filled ones, so that no entry is compared with
// another.
class Priority_Queue {
 public:
  static constexpr int Priorities = Infinite_Cost + 1;

  Priority_Queue();

  // Range_Error for a priority outside 0..Infinite_Cost.
  void Enqueue(std::int32_t priority, std::int32_t content) {
    Require(priority >= 0 && priority < Priorities, "queue priority outside 0..32767");
    const std::int32_t node = New_Node(content);
    const auto bucket = Index(Infinite_Cost - priority);
    if (Filled(bucket)) {
      nodes_[Index(buckets_[bucket].tail)].next = node;
      buckets_[bucket].tail = node;
    } else {
      buckets_[bucket] = {node, node};
      Fill(bucket);
    }
    if (bucket < lowest_) lowest_ = bucket;
    ++size_;
  }

  // The next element; the queue must not be empty.
  Queue_Element Dequeue() {
    const std::size_t bucket = Lowest_Filled();
    lowest_ = bucket;
    Bucket& b = buckets_[bucket];
    const std::int32_t node = b.head;
    Node& n = nodes_[Index(node)];
    const Queue_Element item{Infinite_Cost - static_cast<std::int32_t>(bucket), n.content};
    if (node == b.tail) {
      Empty_Bucket(bucket);
    } else {
      b.head = n.next;
    }
    n.next = free_;
    free_ = node;
    --size_;
    return item;
  }

  bool Empty() const { return size_ == 0; }
  std::size_t Size() const { return size_; }

  // Removes every entry (the storage is kept for the next search).
  void Clear();

 private:
  struct Node {
    std::int32_t content;
    std::int32_t next;  // the next node of its bucket, or of the free nodes; -1 for none
  };
  struct Bucket {
    std::int32_t head;  // the first and the last node; meaningful while the bucket is filled
    std::int32_t tail;
  };
  static constexpr std::size_t Words = Priorities / 64;

  std::int32_t New_Node(std::int32_t content) {
    if (free_ < 0) return Add_Node(content);
    const std::int32_t node = free_;
    Node& n = nodes_[Index(node)];
    free_ = n.next;
    n = {content, -1};
    return node;
  }
  bool Filled(std::size_t bucket) const { return (filled_[bucket / 64] >> (bucket % 64)) & 1u; }
  void Fill(std::size_t bucket) {
    filled_[bucket / 64] |= std::uint64_t{1} << (bucket % 64);
    filled_words_[bucket / 64 / 64] |= std::uint64_t{1} << (bucket / 64 % 64);
  }
  void Empty_Bucket(std::size_t bucket);
  // A node at the end of the storage, when no freed node is left.
  std::int32_t Add_Node(std::int32_t content);
  // The lowest filled bucket; the queue must not be empty. Mostly it is in the word of the
  // lowest one, or the lowest itself.
  std::size_t Lowest_Filled() const {
    const std::uint64_t bits = filled_[lowest_ / 64] & (~std::uint64_t{0} << (lowest_ % 64));
    if (bits != 0) return lowest_ / 64 * 64 + Index(__builtin_ctzll(bits));
    return Lowest_Filled_Beyond(lowest_ / 64);
  }
  // The lowest filled bucket in a word after `word`.
  std::size_t Lowest_Filled_Beyond(std::size_t word) const;

  std::vector<Node> nodes_;
  std::int32_t free_ = -1;
  // Not initialised: a bucket is read only while its bit says it is filled.
  std::unique_ptr<Bucket[]> buckets_;
  std::array<std::uint64_t, Words> filled_{};             // bit b: bucket b holds entries
  std::array<std::uint64_t, Words / 64> filled_words_{};  // bit w: filled_[w] is not zero
  std::size_t lowest_ = Priorities;                       // no bucket below it is filled
  std::size_t size_ = 0;
};

}  // namespace Utils
