#include "imaging/IEFilterIO.h"

#include "platform/SysUtils.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kv {

bool IEWriteChecked(TStream& Stream, const void* Data, int64_t Count, TProgressRec& Progress)
{
    if (Count <= 0)
        return true;
    int64_t written = 0;
    try {
        written = Stream.Write(Data, Count);
    } catch (...) {
        written = -1;
    }
    if (written != Count) {
        Progress.SetAborting();
        return false;
    }
    return true;
}

int32_t IEDpiFromPpm(int64_t PixelsPerMetre, int32_t ScreenDpi)
{
    if (PixelsPerMetre <= 0)
        return ScreenDpi;
    return int32_t(std::lround(double(PixelsPerMetre) / 100.0 * 2.54));
}

int32_t IEPpmFromDpi(int32_t Dpi) { return int32_t(std::lround(double(std::max(Dpi, 0)) / 2.54 * 100.0)); }

bool IEStartBitmap(TBitmap& Bitmap, int64_t Width, int64_t Height, TPixelFormat Format, TProgressRec& Progress,
                   TIEBitmapFill Fill)
{
    if (Width < 1 || Height < 1 || !PixelBufferSizeOk(Width, Height)) {
        Progress.SetAborting();
        return false;
    }
    if (Fill == TIEBitmapFill::Overwritten && Format == pf24bit && Bitmap.PixelFormat() == Format &&
        Bitmap.Width() == Width && Bitmap.Height() == Height)
        return true;
    Bitmap.SetSize(1, 1);
    Bitmap.SetPixelFormat(Format);
    Bitmap.SetSize(int32_t(Width), int32_t(Height));
    return true;
}

bool IEDataCanFill(int64_t NeededBytes, int64_t BytesLeft, int64_t BestRatio)
{
    constexpr int64_t Slack = 65536;
    // Both factors are clamped so that their product stays below 2^62.
    const int64_t left = std::clamp<int64_t>(BytesLeft, 0, int64_t(1) << 50);
    return NeededBytes / 2 <= left * std::clamp<int64_t>(BestRatio, 1, 4096) + Slack;
}

void IEClearRows(TBitmap& Bitmap, int32_t First, int32_t Last)
{
    for (int32_t y = std::max(First, 0); y <= Last && y < Bitmap.Height(); ++y)
        std::memset(Bitmap.ScanLine(y), 0, size_t(Bitmap.BytesPerScanLine()));
}

int64_t IEBytesLeft(TStream& Stream) { return std::max<int64_t>(0, Stream.Size() - Stream.Position()); }

} // namespace kv
