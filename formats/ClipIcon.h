// The program's icon clipboard format: a block holding an icon file image, read by the
// platform's icon class.
#pragma once

#include "platform/Graphics.h"

namespace kv {

// The format registered under the name "Kelvane Icon".
TClipboardFormat CF_ICON();

// Unit start-up (once): registers the platform icon class for CF_ICON with the
// graphic-class registry. Nothing undoes it: the icon class stays registered for "ico".
void InitializeClipIcon();

} // namespace kv
