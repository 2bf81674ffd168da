// The hash of vertex keys, checked against its two worked examples.
#include "utils/utils-keymap.hpp"

namespace Utils {

static_assert(Key_Hash(5) == 2099221u);
static_assert(Key_Hash(1089) == 2100611808u);

}  // namespace Utils
