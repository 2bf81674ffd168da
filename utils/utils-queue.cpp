// The bucket queue of the searches.
#include "utils/utils-queue.hpp"

namespace Utils {

Priority_Queue::Priority_Queue() : buckets_(new Bucket[Priorities]) {}

std::int32_t Priority_Queue::Add_Node(std::int32_t content) {
  nodes_.push_back({content, -1});
  return static_cast<std::int32_t>(nodes_.size() - 1);
}

void Priority_Queue::Empty_Bucket(std::size_t bucket) {
  std::uint64_t& word = filled_[bucket / 64];
  word &= ~(std::uint64_t{1} << (bucket % 64));
  if (word == 0) filled_words_[bucket / 64 / 64] &= ~(std::uint64_t{1} << (bucket / 64 % 64));
}

std::size_t Priority_Queue::Lowest_Filled_Beyond(std::size_t word) const {
  std::size_t s = word / 64;
  std::uint64_t words =
      word % 64 == 63 ? 0 : filled_words_[s] & (~std::uint64_t{0} << (word % 64 + 1));
  while (words == 0) words = filled_words_[++s];
  const std::size_t w = s * 64 + Index(__builtin_ctzll(words));
  return w * 64 + Index(__builtin_ctzll(filled_[w]));
}

void Priority_Queue::Clear() {
  for (std::size_t s = 0; s < filled_words_.size(); ++s) {
    for (std::uint64_t words = filled_words_[s]; words != 0; words &= words - 1)
      filled_[s * 64 + Index(__builtin_ctzll(words))] = 0;
    filled_words_[s] = 0;
  }
  nodes_.clear();
  free_ = -1;
  lowest_ = Priorities;
  size_ = 0;
}

}  // namespace Utils
