// The byte source shared by the PCX and TGA loaders: the whole file in memory, read
// byte by byte. Past the end it yields zeros, as the loaders' block reader always did,
// so a truncated picture ends in black; the loaders bound their work by the header
// sizes, which they check against the file's length first.
#pragma once

#include "platform/Classes.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace kv {

class TLoaderFile {
public:
    // False when the file cannot be opened or read; the source is then empty.
    bool Open(const std::string& FileName)
    {
        FData.clear();
        FPos = 0;
        try {
            TFileStream f(FileName, fmOpenRead | fmShareDenyNone);
            int64_t size = f.Size();
            if (size < 0 || size > (int64_t(1) << 31))
                return false;
            FData.resize(size_t(size));
            f.ReadBuffer(FData.data(), size);
            return true;
        } catch (const Exception&) {
            FData.clear();
            return false;
        }
    }

    int64_t Size() const { return int64_t(FData.size()); }
    int64_t Position() const { return FPos; }
    int64_t Remaining() const { return FPos < Size() ? Size() - FPos : 0; }
    void Seek(int64_t Pos) { FPos = Pos < 0 ? 0 : Pos; }
    void Skip(int64_t Count) { FPos += Count > 0 ? Count : 0; }

    uint8_t Byte() { return FPos < Size() ? FData[size_t(FPos++)] : (FPos++, uint8_t(0)); }
    uint16_t Word()
    {
        uint8_t lo = Byte();
        return uint16_t(lo | (Byte() << 8));
    }
    void Block(uint8_t* Dst, int64_t Count)
    {
        int64_t have = std::min(Count, Remaining());
        if (have > 0)
            std::memcpy(Dst, FData.data() + FPos, size_t(have));
        if (Count > have)
            std::memset(Dst + have, 0, size_t(Count - have));
        FPos += Count;
    }

private:
    std::vector<uint8_t> FData;
    int64_t FPos = 0;
};

// 256 entries of R, G, B, as the loaders build their palettes before scaling them to
// 8 bits a channel.
using TPalette6 = std::array<std::array<uint8_t, 3>, 256>;

// The colour cube (6 bits a channel) both loaders give 24-bit pictures as their
// palette: r, g in 0..7, b in 0..3.
inline void CubePalette(TPalette6& P)
{
    for (int r = 0; r < 8; ++r)
        for (int g = 0; g < 8; ++g)
            for (int b = 0; b < 4; ++b)
                P[size_t((r * 8 + g) * 4 + b)] = {uint8_t((r + 1) * 8 - 1), uint8_t((g + 1) * 8 - 1),
                                                  uint8_t((b + 1) * 16 - 1)};
}

} // namespace kv
