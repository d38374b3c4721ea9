#include "formats/KVConst.h"

#include "platform/Graphics.h"
#include "platform/ScreenCursors.h"

#include <cstring>

namespace kv {

namespace {

// 'X' outline (black), '.' inside (white), ' ' see-through.
constexpr const char* HandPicture[] = {
    "     XX          ", "    X..X         ", "    X..X         ", "    X..X         ", "    X..X         ",
    "    X..XXX       ", "    X..X..XXX    ", "    X..X..X..XX  ", "    X..X..X..X.X ", "XXX X..X..X..X..X",
    "X..XX...........X", "X...X...........X", " X..............X", "  X.............X", "  X.............X",
    "   X............X", "   X...........X ", "    X..........X ", "    X.........X  ", "     X........X  ",
    "     X........X  ", "     XXXXXXXXXX  ",
};
constexpr TPoint HandHotSpot{5, 0}; // the fingertip

constexpr const char* GrabPicture[] = {
    "    XX XX XX     ", "   X..X..X..XX   ", "   X..X..X..X.X  ", "    X........X.X ", "   XX..........X ",
    "  X.X..........X ", "  X............X ", "  X...........X  ", "   X..........X  ", "    X.........X  ",
    "     X.......X   ", "     X.......X   ", "     XXXXXXXXX   ",
};
constexpr TPoint GrabHotSpot{8, 6}; // the middle of the fist

constexpr int32_t CursorSide = 32;

template <size_t N> std::unique_ptr<TBitmap> DrawPicture(const char* const (&Rows)[N])
{
    auto image = std::make_unique<TBitmap>();
    image->SetPixelFormat(pf32bit);
    image->SetSize(CursorSide, CursorSide);
    for (int32_t y = 0; y < CursorSide; ++y) {
        uint8_t* row = image->ScanLine(y);
        std::memset(row, 0, size_t(CursorSide) * 4);
        if (size_t(y) >= N)
            continue;
        const char* line = Rows[y];
        for (int32_t x = 0; line[x] && x < CursorSide; ++x) {
            if (line[x] == ' ')
                continue;
            const uint8_t v = line[x] == 'X' ? 0 : 255;
            row[4 * x] = row[4 * x + 1] = row[4 * x + 2] = v;
            row[4 * x + 3] = 255;
        }
    }
    return image;
}

} // namespace

const char* KVCursorResourceName(int32_t Cursor)
{
    switch (Cursor) {
    case crHandCursor: return "KV_HANDCUR";
    case crDragCursor: return "KV_DRAGCUR";
    default: return "";
    }
}

std::unique_ptr<TBitmap> KVCursorImage(int32_t Cursor, TPoint& HotSpot)
{
    switch (Cursor) {
    case crHandCursor: HotSpot = HandHotSpot; return DrawPicture(HandPicture);
    case crDragCursor: HotSpot = GrabHotSpot; return DrawPicture(GrabPicture);
    default: return nullptr;
    }
}

void InitializeKVConst()
{
    for (int32_t cursor : {crHandCursor, crDragCursor}) {
        TPoint hotSpot;
        const std::unique_ptr<TBitmap> image = KVCursorImage(cursor, hotSpot);
        SetScreenCursor(TCursor(cursor), *image, hotSpot);
    }
}

} // namespace kv
