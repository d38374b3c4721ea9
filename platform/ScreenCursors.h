// The screen's table of the program's own cursors: numbers the program defines (outside
// the platform's crXXX range) mapped to a picture and a hot spot. Controls and
// Screen()->SetCursor look a number up here before the standard shapes.
#pragma once

#include "platform/Forms.h"
#include "platform/Graphics.h"
#include "platform/Types.h"

class QCursor;

namespace kv {

// Enters (or replaces) cursor Index: a 32-bit Image keeps its fourth byte as straight
// alpha (0 is see-through), other formats are opaque, HotSpot in its pixels (clamped into the picture).
void SetScreenCursor(TCursor Index, const TBitmap& Image, TPoint HotSpot);
void RemoveScreenCursor(TCursor Index);
bool HasScreenCursor(TCursor Index);
// The picture and hot spot of an entered cursor; false when Index has none.
bool ScreenCursorImage(TCursor Index, TBitmap& Image, TPoint& HotSpot);
// Qt's cursor for an entered number; false when Index has none.
bool FindScreenCursor(TCursor Index, QCursor& Cursor);
// The cursor a control or the screen shows for Index: the program's own cursor when one
// is entered under that number, else the standard shape.
QCursor ScreenCursorFor(TCursor Index);

} // namespace kv
