#include "formats/IconResources.h"

#include "platform/Graphics.h"
#include "platform/SysUtils.h"

#include <cstring>

namespace kv {

namespace {

// One character a pixel: ' ' see-through, the others opaque colours.
struct TInk {
    char Key;
    uint8_t R, G, B;
};
constexpr TInk Inks[] = {
    {'X', 0, 0, 0}, {'.', 255, 255, 255}, {'r', 200, 40, 40}, {'b', 40, 80, 200}, {'y', 240, 200, 60}};

// The program's icon: two picture layers overlapping on a page.
constexpr const char* MainIconRows[] = {
    "XXXXXXXXXXX     ", "X.........X     ", "X.rrrrrrr.X     ", "X.rrrrrrr.X     ",
    "X.rrrXXXXXXXXXXX", "X.rrrX.........X", "X.rrrX.bbbbbbb.X", "X.rrrX.bbbbbbb.X",
    "X.rrrX.bbbbbbb.X", "X....X.bbbbbbb.X", "XXXXXX.bbbbbbb.X", "     X.bbbbbbb.X",
    "     X.bbbbbbb.X", "     X.........X", "     XXXXXXXXXXX", "                ",
};

// A picture frame: the layer kind that decorates the others.
constexpr const char* FrameIconRows[] = {
    "yyyyyyyyyyyyyyyy", "yXXXXXXXXXXXXXXy", "yX............Xy", "yX.bbbbbbbbbb.Xy",
    "yX.bbbbbbbbbb.Xy", "yX.bbbbbbbbbb.Xy", "yX.bbbbbbbbbb.Xy", "yX.bbbbbbbbbb.Xy",
    "yX.bbbbbbbbbb.Xy", "yX.bbbbbbbbbb.Xy", "yX.bbbbbbbbbb.Xy", "yX.bbbbbbbbbb.Xy",
    "yX.bbbbbbbbbb.Xy", "yX............Xy", "yXXXXXXXXXXXXXXy", "yyyyyyyyyyyyyyyy",
};

struct TIconResource {
    const char* Name;
    const char* const* Rows;
};
constexpr int32_t IconSide = 16;
constexpr TIconResource IconTable[] = {{"MAINICON", MainIconRows}, {"KV_FRAMEICON", FrameIconRows}};

void DrawIcon(TBitmap& Image, const char* const* Rows)
{
    Image.SetPixelFormat(pf32bit);
    Image.SetSize(IconSide, IconSide);
    for (int32_t y = 0; y < IconSide; ++y) {
        uint8_t* row = Image.ScanLine(y);
        std::memset(row, 0, size_t(IconSide) * 4);
        for (int32_t x = 0; x < IconSide && Rows[y][x]; ++x)
            for (const TInk& ink : Inks)
                if (Rows[y][x] == ink.Key) {
                    row[4 * x] = ink.B;
                    row[4 * x + 1] = ink.G;
                    row[4 * x + 2] = ink.R;
                    row[4 * x + 3] = 255;
                }
    }
}

} // namespace

void LoadIconResource(TIcon& Icon, HINST Instance, const std::string& ResName)
{
    if (Instance == HInstance)
        for (const TIconResource& entry : IconTable)
            if (UpperCase(ResName) == entry.Name) {
                TBitmap image;
                DrawIcon(image, entry.Rows);
                Icon.Assign(&image);
                return;
            }
    throw EResNotFound("Resource " + ResName + " not found");
}

std::vector<std::string> IconResourceNames()
{
    std::vector<std::string> names;
    for (const TIconResource& entry : IconTable)
        names.push_back(entry.Name);
    return names;
}

} // namespace kv
