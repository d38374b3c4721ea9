// The palette scaffold shared by the PCX and TGA loaders: a 256-entry table in 6-bit
// units and the colour cube both give 24-bit pictures. (Their bytes come through
// TByteReader, platform/ByteReader.h, reading on as zeros past the end.)
#pragma once

#include <array>
#include <cstdint>

namespace kv {

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
