// The bucket queue of the searches.
#include "utils/utils-queue.hpp"

namespace Utils {

Priority_Queue::Priority_Queue() : buckets_(new Bucket[Priorities]) {}

void Priority_Queue::Empty_Bucket(std::size_t bucket) {
  std::uint64_t& word = filled_[bucket / 64];
  word &= ~(std::uint64_t{1} << (bucket % 64));
  if (word == 0) filled_words_[bucket / 64 / 64] &= ~(std::uint64_t{1} << (bucket / 64 % 64));
}

std::size_t Priority_Queue::Lowest_Filled() const {
  std::size_t w = lowest_ / 64;
  const std::uint64_t bits = filled_[w] & (~std::uint64_t{0} << (lowest_ % 64));
  if (bits != 0) return w * 64 + static_cast<std::size_t>(__builtin_ctzll(bits));
  // The next filled word after w, through the words' bits.
  std::size_t s = w / 64;
  std::uint64_t words = w % 64 == 63 ? 0 : filled_words_[s] & (~std::uint64_t{0} << (w % 64 + 1));
  while (words == 0) words = filled_words_[++s];
  w = s * 64 + static_cast<std::size_t>(__builtin_ctzll(words));
  return w * 64 + static_cast<std::size_t>(__builtin_ctzll(filled_[w]));
}

void Priority_Queue::Clear() {
  for (std::size_t s = 0; s < filled_words_.size(); ++s) {
    for (std::uint64_t words = filled_words_[s]; words != 0; words &= words - 1)
      filled_[s * 64 + static_cast<std::size_t>(__builtin_ctzll(words))] = 0;
    filled_words_[s] = 0;
  }
  nodes_.clear();
  free_ = -1;
  lowest_ = Priorities;
  size_ = 0;
}

}  // namespace Utils
