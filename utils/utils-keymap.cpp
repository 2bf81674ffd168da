// The hash of vertex keys.
#include "utils/utils-keymap.hpp"

namespace Utils {

std::uint32_t Key_Hash(std::int32_t key) { return Key_Hash_Detail::Compute(key); }

static_assert(Key_Hash_Detail::Compute(5) == 2099221u);
static_assert(Key_Hash_Detail::Compute(1089) == 2100611808u);

}  // namespace Utils
