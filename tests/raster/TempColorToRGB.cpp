// TEMPORARY until the platform colours land: remove after merging.
#include "platform/Graphics.h"
namespace kv {
__attribute__((weak)) TColor ColorToRGB(TColor Color) { return Color < 0 ? 0xC0C0C0 : (Color & 0xFFFFFF); }
}
