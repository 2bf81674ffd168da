// The graphs' hashed key map against an ordered map as the model: random inserts, erasures,
// look-ups, reservations and clears over small, large, negative and colliding keys.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <string>

#include "utils/utils-keymap.hpp"

namespace {

using Map = Utils::Key_Map<std::int32_t>;
using Model = std::map<std::int32_t, std::int32_t>;

// Every key of the model is found with its value, and the map holds nothing else.
void Expect_Same(const Map& map, const Model& model) {
  ASSERT_EQ(map.Size(), model.size());
  for (const auto& [key, value] : model) {
    const std::int32_t* found = map.Find(key);
    ASSERT_NE(found, nullptr) << "key " << key;
    EXPECT_EQ(*found, value) << "key " << key;
  }
  std::size_t visited = 0;
  map.For_Each([&](std::int32_t key, std::int32_t value) {
    ++visited;
    const auto it = model.find(key);
    ASSERT_NE(it, model.end()) << "key " << key << " visited but not stored";
    EXPECT_EQ(value, it->second);
  });
  EXPECT_EQ(visited, model.size());
}

TEST(KeyMap, AgreesWithAnOrderedMapUnderRandomInsertsAndErasures) {
  std::mt19937 random(20261209u);
  // Keys from a narrow range collide and make long probe runs that wrap around the table;
  // the small keys 0..15 have their own index; negative and large keys hash their digits.
  const std::vector<std::pair<std::int32_t, std::int32_t>> ranges = {
      {-20, 40}, {0, 15}, {1000, 1400}, {-2147483647, 2147483647}};
  for (const auto& [low, high] : ranges) {
    SCOPED_TRACE("keys " + std::to_string(low) + ".." + std::to_string(high));
    std::uniform_int_distribution<std::int32_t> key(low, high);
    Map map;
    Model model;
    EXPECT_FALSE(map.Erase(key(random)));  // nothing to erase in an empty map
    for (int step = 0; step < 4000; ++step) {
      const std::int32_t k = key(random);
      switch (random() % 8) {
        case 0:
        case 1:
        case 2:
          if (model.count(k) == 0) {
            map.Insert(k, step);
            model[k] = step;
          }
          break;
        case 3:
        case 4:
          EXPECT_EQ(map.Erase(k), model.erase(k) == 1) << "key " << k;
          break;
        case 5:
          EXPECT_EQ(map.Find(k) != nullptr, model.count(k) == 1) << "key " << k;
          break;
        case 6:
          map.Reserve(model.size() + static_cast<std::size_t>(random() % 64));
          break;
        default:
          if (random() % 50 == 0) {
            map.Clear();
            model.clear();
          }
          break;
      }
      if (step % 100 == 0) Expect_Same(map, model);
    }
    Expect_Same(map, model);
  }
}

// The first key above `after` whose home bucket in a table of 16 is `bucket`.
std::int32_t Key_With_Home(std::size_t bucket, std::int32_t after) {
  std::int32_t key = after + 1;
  while ((Utils::Key_Hash(key) & 15u) != bucket) ++key;
  return key;
}

TEST(KeyMap, ErasureKeepsAProbeRunThatWrapsAroundFindable) {
  // Three keys at home in buckets 14, 15 and 0 fill the slots 14, 15, 0 of a table of 16. When
  // the first goes, the second moves back into its slot; the third must stay in slot 0 (its
  // home lies after the hole, across the end of the table) or it can no longer be found.
  const std::int32_t a = Key_With_Home(14, 100);
  const std::int32_t b = Key_With_Home(15, 100);
  const std::int32_t c = Key_With_Home(0, 100);
  Map map;
  map.Insert(a, 1);
  map.Insert(b, 2);
  map.Insert(c, 3);
  ASSERT_TRUE(map.Erase(a));
  Expect_Same(map, {{b, 2}, {c, 3}});
  ASSERT_TRUE(map.Erase(b));
  Expect_Same(map, {{c, 3}});
}

}  // namespace
