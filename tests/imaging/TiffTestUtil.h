// Small TIFF files built entry by entry for the TIFF reader's tests.
#pragma once

#include "platform/Classes.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace kv::test {

// One little-endian directory at offset 8; values longer than four bytes follow it.
class TTiffBuilder {
public:
    using Bytes = std::vector<uint8_t>;
    void Add(uint16_t Tag, uint16_t Type, uint32_t Count, const Bytes& Value)
    {
        FEntries.push_back({Tag, Type, Count, Value});
    }
    void Short(uint16_t Tag, uint16_t V) { Add(Tag, 3, 1, {uint8_t(V), uint8_t(V >> 8)}); }
    void Long(uint16_t Tag, uint32_t V)
    {
        Add(Tag, 4, 1, {uint8_t(V), uint8_t(V >> 8), uint8_t(V >> 16), uint8_t(V >> 24)});
    }
    void Rational(uint16_t Tag, uint32_t N, uint32_t D)
    {
        Bytes b(8);
        PutU32LE(b.data(), N);
        PutU32LE(b.data() + 4, D);
        Add(Tag, 5, 1, b);
    }
    void Shorts(uint16_t Tag, const std::vector<uint16_t>& V)
    {
        Bytes b;
        for (uint16_t v : V) {
            b.push_back(uint8_t(v));
            b.push_back(uint8_t(v >> 8));
        }
        Add(Tag, 3, uint32_t(V.size()), b);
    }
    // The pixels become the one strip: StripOffsets and StripByteCounts are added.
    void Strip(const Bytes& Pixels) { FPixels = Pixels; }

    Bytes Build() const
    {
        Bytes out{'I', 'I', 42, 0, 8, 0, 0, 0};
        auto entries = FEntries;
        const bool strip = !FPixels.empty();
        if (strip) {
            entries.push_back({273, 4, 1, Bytes(4)});
            entries.push_back({279, 4, 1, Bytes(4)});
        }
        std::sort(entries.begin(), entries.end(), [](const TE& a, const TE& b) { return a.Tag < b.Tag; });
        const size_t ifdSize = 2 + entries.size() * 12 + 4;
        size_t dataAt = 8 + ifdSize;
        Bytes data;
        const size_t pixelsAt = dataAt;
        if (strip) {
            data = FPixels;
            for (TE& e : entries) {
                if (e.Tag == 273)
                    PutU32LE(e.Value.data(), uint32_t(pixelsAt));
                if (e.Tag == 279)
                    PutU32LE(e.Value.data(), uint32_t(FPixels.size()));
            }
        }
        Bytes ifd(ifdSize, 0);
        PutU16LE(ifd.data(), uint16_t(entries.size()));
        for (size_t i = 0; i < entries.size(); ++i) {
            uint8_t* p = ifd.data() + 2 + i * 12;
            PutU16LE(p, entries[i].Tag);
            PutU16LE(p + 2, entries[i].Type);
            PutU32LE(p + 4, entries[i].Count);
            if (entries[i].Value.size() <= 4) {
                std::copy(entries[i].Value.begin(), entries[i].Value.end(), p + 8);
            } else {
                PutU32LE(p + 8, uint32_t(dataAt + data.size()));
                data.insert(data.end(), entries[i].Value.begin(), entries[i].Value.end());
            }
        }
        out.insert(out.end(), ifd.begin(), ifd.end());
        out.insert(out.end(), data.begin(), data.end());
        return out;
    }

private:
    struct TE {
        uint16_t Tag, Type;
        uint32_t Count;
        Bytes Value;
    };
    std::vector<TE> FEntries;
    Bytes FPixels;
};

} // namespace kv::test
