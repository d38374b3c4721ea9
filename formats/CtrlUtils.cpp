#include "formats/CtrlUtils.h"

#include "platform/SysUtils.h"

#include <cstdlib>
#include <cstring>

namespace kv {

void* AllocZeroedBlock(int64_t Size)
{
    if (Size < 1)
        return nullptr;
    void* p = std::calloc(size_t(Size), 1);
    if (!p)
        throw EOutOfMemory("Out of memory");
    return p;
}

void FreeZeroedBlock(void*& P)
{
    if (!P)
        return;
    std::free(P);
    P = nullptr;
}

bool SameBytes(const void* P1, const void* P2, int32_t Count)
{
    if (Count <= 0)
        return true;
    return std::memcmp(P1, P2, size_t(Count)) == 0;
}

void CopyBytes(void* Dst, const void* Src, int64_t Count)
{
    if (Count > 0)
        std::memmove(Dst, Src, size_t(Count));
}

void FitRectToScreen(TRect& R, const TRect& Screen)
{
    const int32_t w = WidthOfRect(R), h = HeightOfRect(R);
    if (R.Right > Screen.Right) {
        R.Left = Screen.Right - w;
        R.Right = Screen.Right;
    }
    if (R.Bottom > Screen.Bottom) {
        R.Top = Screen.Bottom - h;
        R.Bottom = Screen.Bottom;
    }
    if (R.Left < Screen.Left) {
        R.Left = Screen.Left;
        R.Right = Screen.Left + w;
    }
    if (R.Top < Screen.Top) {
        R.Top = Screen.Top;
        R.Bottom = Screen.Top + h;
    }
}

} // namespace kv
