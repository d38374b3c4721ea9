// Small types shared by the program's own controls.
#pragma once

#include <cstdint>

namespace kv {

enum TAlignment : uint8_t { taLeftJustify, taRightJustify, taCenter };

} // namespace kv
