// The program's bitmap resources: small glyphs the widgets load by name. They are drawn
// here rather than shipped as files, so a control always finds its images.
#pragma once

#include "platform/Graphics.h"

#include <memory>
#include <string>

namespace kv {

// "KVSPINUP", "KVSPINDOWN" (9 x 6: a 7 x 4 arrow in a margin), "PREVIEWGLYPH" (16 x 16), and the button kinds
// "LBOK" .. "LBALL" (32 x 16 strips: the normal image, then the disabled one). Every
// glyph is pf24bit on a $FF00FF ground, its bottom-left pixel, so it draws transparently.
// An unknown name raises EResNotFound "Resource NAME not found".
std::unique_ptr<TBitmap> LoadBitmapResource(const std::string& Name);

} // namespace kv
