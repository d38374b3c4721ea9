#include "imaging/TiffLzw.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

namespace kv {

namespace {

constexpr int32_t ClearCode = 256, EoiCode = 257, FirstFree = 258, MaxCodes = 4096;
constexpr int32_t MinWidth = 9, MaxWidth = 12;

// ---- Decoder ----------------------------------------------------------------------

struct TLzwDecoder {
    // Each entry is its prefix's string plus one byte; Length counts the whole string.
    std::array<uint16_t, MaxCodes> Prefix{};
    std::array<uint8_t, MaxCodes> Suffix{};
    std::array<uint8_t, MaxCodes> First{};
    std::array<uint32_t, MaxCodes> Length{};

    TLzwDecoder()
    {
        for (int32_t i = 0; i < 256; ++i) {
            Suffix[size_t(i)] = First[size_t(i)] = uint8_t(i);
            Length[size_t(i)] = 1;
        }
    }

    // Writes the string of Code at Out (Length bytes), from its end backwards.
    void Emit(int32_t Code, uint8_t* Out, int64_t Room) const
    {
        const int64_t len = Length[size_t(Code)];
        int64_t at = len - 1;
        while (at >= Room) { // the part past the strip's room is dropped
            Code = Prefix[size_t(Code)];
            --at;
        }
        for (; at >= 0; --at) {
            Out[at] = Suffix[size_t(Code)];
            Code = Prefix[size_t(Code)];
        }
    }

    int64_t Decode(const uint8_t* Data, int64_t Count, uint8_t* Out, int64_t OutCount)
    {
        const int64_t bits = Count * 8;
        int64_t pos = 0, produced = 0;
        int32_t width = MinWidth, next = FirstFree, old = -1;
        while (pos + width <= bits && produced < OutCount) {
            // Up to 12 bits from at most three bytes, most significant first.
            const int64_t byte = pos >> 3;
            uint32_t word = uint32_t(Data[byte]) << 16;
            if (byte + 1 < Count)
                word |= uint32_t(Data[byte + 1]) << 8;
            if (byte + 2 < Count)
                word |= Data[byte + 2];
            const int32_t code = int32_t((word >> (24 - (pos & 7) - width)) & ((1u << width) - 1));
            pos += width;
            if (code == EoiCode)
                break;
            if (code == ClearCode) {
                width = MinWidth;
                next = FirstFree;
                old = -1;
                continue;
            }
            if (old < 0) {
                if (code > 255)
                    return -1;
                Out[produced++] = uint8_t(code);
                old = code;
                continue;
            }
            if (code > next || (code == next && next >= MaxCodes))
                return -1;
            const int32_t source = code < next ? code : old;
            if (next < MaxCodes) {
                Prefix[size_t(next)] = uint16_t(old);
                First[size_t(next)] = First[size_t(old)];
                Suffix[size_t(next)] = First[size_t(source)];
                Length[size_t(next)] = Length[size_t(old)] + 1;
                ++next;
            }
            Emit(code, Out + produced, OutCount - produced);
            produced += std::min<int64_t>(Length[size_t(code)], OutCount - produced);
            old = code;
            // The early change: one code before the width is full.
            if (next == (1 << width) - 1 && width < MaxWidth)
                ++width;
        }
        return produced;
    }
};

// ---- Encoder ----------------------------------------------------------------------

// (prefix code, byte) -> code, open addressing over a power-of-two table.
struct TLzwEncoder {
    static constexpr uint32_t HashSize = 1 << 14;
    std::vector<uint32_t> Keys = std::vector<uint32_t>(HashSize, 0);
    std::vector<uint16_t> Codes = std::vector<uint16_t>(HashSize, 0);
    int32_t Current = -1; // code of the string matched so far
    int32_t Next = FirstFree;
    int32_t Width = MinWidth;
    uint32_t Acc = 0;
    int32_t AccBits = 0;
    std::vector<uint8_t> Out;
    bool Started = false;

    void Put(int32_t Code)
    {
        Acc = (Acc << Width) | uint32_t(Code);
        AccBits += Width;
        while (AccBits >= 8) {
            AccBits -= 8;
            Out.push_back(uint8_t(Acc >> AccBits));
        }
    }
    void Reset()
    {
        std::fill(Keys.begin(), Keys.end(), 0);
        Next = FirstFree;
        Width = MinWidth;
    }
    static uint32_t Slot(uint32_t Key) { return (Key * 2654435761u) >> 18; }

    // Keys are (prefix + 1) << 8 | byte, so 0 marks an empty slot.
    void Add(const uint8_t* Data, int64_t Count)
    {
        if (!Started) {
            Put(ClearCode);
            Started = true;
        }
        for (int64_t i = 0; i < Count; ++i) {
            const uint8_t c = Data[i];
            if (Current < 0) {
                Current = c;
                continue;
            }
            const uint32_t key = (uint32_t(Current + 1) << 8) | c;
            uint32_t h = Slot(key);
            while (Keys[h] != 0 && Keys[h] != key)
                h = (h + 1) & (HashSize - 1);
            if (Keys[h] == key) {
                Current = Codes[h];
                continue;
            }
            Put(Current);
            Keys[h] = key;
            Codes[h] = uint16_t(Next++);
            Grow();
            Current = c;
        }
    }
    void Grow()
    {
        if (Next == MaxCodes - 2) {
            Put(ClearCode);
            Reset();
        } else if (Next == (1 << Width) && Width < MaxWidth) {
            ++Width;
        }
    }
    void Finish()
    {
        if (!Started) {
            Put(ClearCode);
            Started = true;
        }
        if (Current >= 0) {
            Put(Current);
            // The decoder adds an entry on reading this code and may widen before EOI.
            ++Next;
            Grow();
            Current = -1;
        }
        Put(EoiCode);
        if (AccBits > 0) {
            Out.push_back(uint8_t(Acc << (8 - AccBits)));
            AccBits = 0;
        }
    }
};

bool FlushBytes(TLzwEncoder& e, TStream& Stream)
{
    const int64_t n = int64_t(e.Out.size());
    const bool ok = n == 0 || Stream.Write(e.Out.data(), n) == n;
    e.Out.clear();
    return ok;
}

} // namespace

int64_t TiffLzwDecode(const uint8_t* Data, int64_t Count, uint8_t* Out, int64_t OutCount, intptr_t& State)
{
    if (!Data || Count <= 0) {
        delete reinterpret_cast<TLzwDecoder*>(State);
        State = 0;
        return 0;
    }
    if (!State)
        State = reinterpret_cast<intptr_t>(new TLzwDecoder);
    return reinterpret_cast<TLzwDecoder*>(State)->Decode(Data, Count, Out, OutCount);
}

bool TiffLzwEncode(const uint8_t* Data, int64_t Count, TStream& Stream, intptr_t& State)
{
    if (!State)
        State = reinterpret_cast<intptr_t>(new TLzwEncoder);
    std::unique_ptr<TLzwEncoder> owned;
    TLzwEncoder& e = *reinterpret_cast<TLzwEncoder*>(State);
    if (!Data || Count <= 0) {
        owned.reset(&e);
        State = 0;
        e.Finish();
        return FlushBytes(e, Stream);
    }
    e.Add(Data, Count);
    return FlushBytes(e, Stream);
}

void InstallTiffLzwCoder()
{
    IEGlobalTiffLzwDecompress = TiffLzwDecode;
    IEGlobalTiffLzwCompress = TiffLzwEncode;
}

} // namespace kv
