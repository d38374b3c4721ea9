// What the imaging library needs to know of the screen: colour depth and logical
// resolution. Headless (no application object or no screen) gives 24 bits at 96 dpi.
#pragma once

#include <cstdint>

namespace kv {

struct TScreenMetrics {
    int32_t BitsPerPixel = 24;
    int32_t LogicalDpiX = 96;
    int32_t LogicalDpiY = 96;
};

TScreenMetrics ReadScreenMetrics();

} // namespace kv
