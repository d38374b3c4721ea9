// Registered clipboard format names: the same name always gives the same number (from
// 0xC000 up, as the platform numbers them), so every unit that registers "GIF Image"
// agrees on it.
#pragma once

#include "platform/Graphics.h"

#include <string>

namespace kv {

TClipboardFormat RegisterClipboardFormatName(const std::string& Name);
// The registered name of a format number, or "" for an unregistered one.
std::string ClipboardFormatName(TClipboardFormat Format);

} // namespace kv
