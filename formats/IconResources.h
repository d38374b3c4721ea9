// The program's icon resources: small pictures compiled into it, as its cursor pictures
// are, and found by module and name as the platform's resource calls find an icon in the
// program's file.
#pragma once

#include "platform/Icon.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kv {

// A module whose resources are asked for. The program is the only one with resources.
using HINST = uintptr_t;
constexpr HINST HInstance = 0x00400000; // where a Windows program's own module is loaded

// Fills Icon with the named icon of the module. Names compare without regard to letter
// case, as resource names do. Any other name, or any other module, raises EResNotFound
// "Resource NAME not found" and leaves Icon as it was.
void LoadIconResource(TIcon& Icon, HINST Instance, const std::string& ResName);

// The names of the icons the program holds, in table order.
std::vector<std::string> IconResourceNames();

} // namespace kv
