// The searches' priority queue against a model that keeps every entry with its insertion number
// and takes the greatest priority first, the earliest inserted among equals.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <tuple>

#include "utils/utils-queue.hpp"

namespace {

// (-priority, insertion number, content): the smallest leaves first.
using Model = std::set<std::tuple<std::int32_t, std::int64_t, std::int32_t>>;

void Run_Random(std::mt19937& random, Utils::Priority_Queue& queue, Model& model,
                std::int64_t& inserted, int operations, std::int32_t low, std::int32_t high) {
  std::uniform_int_distribution<std::int32_t> priority(low, high);
  for (int i = 0; i < operations; ++i) {
    if (random() % 3 != 0 || model.empty()) {
      const std::int32_t p = priority(random);
      const auto content = static_cast<std::int32_t>(random() % 2000);
      queue.Enqueue(p, content);
      model.emplace(-p, inserted++, content);
    } else {
      const Utils::Queue_Element e = queue.Dequeue();
      const auto expected = *model.begin();
      model.erase(model.begin());
      ASSERT_EQ(e.PRIORITY, -std::get<0>(expected)) << "operation " << i;
      ASSERT_EQ(e.CONTENT, std::get<2>(expected)) << "operation " << i;
    }
    ASSERT_EQ(queue.Size(), model.size());
    ASSERT_EQ(queue.Empty(), model.empty());
  }
}

// Takes every entry out, each in the model's order.
void Drain(Utils::Priority_Queue& queue, Model& model) {
  for (; !model.empty(); model.erase(model.begin())) {
    ASSERT_FALSE(queue.Empty());
    const Utils::Queue_Element e = queue.Dequeue();
    EXPECT_EQ(e.PRIORITY, -std::get<0>(*model.begin()));
    EXPECT_EQ(e.CONTENT, std::get<2>(*model.begin()));
  }
  EXPECT_TRUE(queue.Empty());
}

TEST(PriorityQueue, GreatestPriorityFirstAndEqualOnesInInsertionOrder) {
  std::mt19937 random(20261210);
  Utils::Priority_Queue queue;
  Model model;
  std::int64_t inserted = 0;
  // Few priorities (long runs of equal ones), the whole range (far apart, across the bit
  // words), and both ends of the range.
  Run_Random(random, queue, model, inserted, 20000, 32760, 32767);
  Run_Random(random, queue, model, inserted, 20000, 0, 32767);
  Run_Random(random, queue, model, inserted, 5000, 0, 3);
  Drain(queue, model);

  // Cleared with entries in it, the queue starts over empty and in order.
  Run_Random(random, queue, model, inserted, 3000, 0, 32767);
  queue.Clear();
  model.clear();
  EXPECT_TRUE(queue.Empty());
  EXPECT_EQ(queue.Size(), 0u);
  Run_Random(random, queue, model, inserted, 3000, 100, 200);
  Drain(queue, model);
}

TEST(PriorityQueue, PriorityOutsideTheCostRangeIsRefused) {
  Utils::Priority_Queue queue;
  EXPECT_THROW(queue.Enqueue(-1, 0), Utils::Range_Error);
  EXPECT_THROW(queue.Enqueue(32768, 0), Utils::Range_Error);
  EXPECT_TRUE(queue.Empty());
  queue.Enqueue(0, 5);
  queue.Enqueue(32767, 6);
  EXPECT_EQ(queue.Dequeue().CONTENT, 6);
  EXPECT_EQ(queue.Dequeue().CONTENT, 5);
}

}  // namespace
