#include "imaging/Ccitt.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace kv {

namespace {

// ITU-T T.4 code words, written out as bit strings. Terminating codes are runs 0..63,
// make-up codes 64..1728 in steps of 64, extended make-up codes 1792..2560 (both colours).
const char* const WhiteTerminating[64] = {
    "00110101", "000111",   "0111",     "1000",     "1011",     "1100",     "1110",     "1111",
    "10011",    "10100",    "00111",    "01000",    "001000",   "000011",   "110100",   "110101",
    "101010",   "101011",   "0100111",  "0001100",  "0001000",  "0010111",  "0000011",  "0000100",
    "0101000",  "0101011",  "0010011",  "0100100",  "0011000",  "00000010", "00000011", "00011010",
    "00011011", "00010010", "00010011", "00010100", "00010101", "00010110", "00010111", "00101000",
    "00101001", "00101010", "00101011", "00101100", "00101101", "00000100", "00000101", "00001010",
    "00001011", "01010010", "01010011", "01010100", "01010101", "00100100", "00100101", "01011000",
    "01011001", "01011010", "01011011", "01001010", "01001011", "00110010", "00110011", "00110100"};
const char* const WhiteMakeUp[27] = {"11011",     "10010",     "010111",    "0110111",   "00110110",  "00110111",
                                     "01100100",  "01100101",  "01101000",  "01100111",  "011001100", "011001101",
                                     "011010010", "011010011", "011010100", "011010101", "011010110", "011010111",
                                     "011011000", "011011001", "011011010", "011011011", "010011000", "010011001",
                                     "010011010", "011000",    "010011011"};
const char* const BlackTerminating[64] = {
    "0000110111",   "010",          "11",           "10",           "011",          "0011",         "0010",
    "00011",        "000101",       "000100",       "0000100",      "0000101",      "0000111",      "00000100",
    "00000111",     "000011000",    "0000010111",   "0000011000",   "0000001000",   "00001100111",  "00001101000",
    "00001101100",  "00000110111",  "00000101000",  "00000010111",  "00000011000",  "000011001010", "000011001011",
    "000011001100", "000011001101", "000001101000", "000001101001", "000001101010", "000001101011", "000011010010",
    "000011010011", "000011010100", "000011010101", "000011010110", "000011010111", "000001101100", "000001101101",
    "000011011010", "000011011011", "000001010100", "000001010101", "000001010110", "000001010111", "000001100100",
    "000001100101", "000001010010", "000001010011", "000000100100", "000000110111", "000000111000", "000000100111",
    "000000101000", "000001011000", "000001011001", "000000101011", "000000101100", "000001011010", "000001100110",
    "000001100111"};
const char* const BlackMakeUp[27] = {
    "0000001111",    "000011001000",  "000011001001",  "000001011011",  "000000110011",  "000000110100",
    "000000110101",  "0000001101100", "0000001101101", "0000001001010", "0000001001011", "0000001001100",
    "0000001001101", "0000001110010", "0000001110011", "0000001110100", "0000001110101", "0000001110110",
    "0000001110111", "0000001010010", "0000001010011", "0000001010100", "0000001010101", "0000001011010",
    "0000001011011", "0000001100100", "0000001100101"};
const char* const ExtendedMakeUp[13] = {"00000001000",  "00000001100",  "00000001101",  "000000010010", "000000010011",
                                        "000000010100", "000000010101", "000000010110", "000000010111", "000000011100",
                                        "000000011101", "000000011110", "000000011111"};

constexpr int32_t RunLookupBits = 13;
constexpr int32_t ModeLookupBits = 7;
constexpr uint32_t EolCode = 1; // 000000000001
constexpr int32_t EolLength = 12;
constexpr uint32_t UncompressedEntry = 0x0F; // 0000001111
constexpr int32_t RunCap = 1 << 24;

struct TCode {
    uint16_t Bits = 0;
    uint8_t Length = 0;
};

TCode ParseCode(const char* s)
{
    TCode c;
    for (; *s; ++s) {
        c.Bits = uint16_t((c.Bits << 1) | (*s == '1'));
        ++c.Length;
    }
    return c;
}

struct TRunEntry {
    int16_t Run = 0;
    uint8_t Length = 0; // 0: no code starts here
    uint8_t Terminating = 0;
};

enum TMode : uint8_t { mNone, mPass, mHorizontal, mVertical };
struct TModeEntry {
    TMode Mode = mNone;
    int8_t Offset = 0;
    uint8_t Length = 0;
};

struct TTables {
    std::array<std::array<TRunEntry, 1 << RunLookupBits>, 2> Decode; // [colour][next 13 bits]
    std::array<TModeEntry, 1 << ModeLookupBits> Modes;
    std::array<std::array<TCode, 64>, 2> Terminating; // [colour][run]
    std::array<std::array<TCode, 41>, 2> MakeUp;      // [colour][run / 64 - 1], 64..2624
    TCode VerticalCodes[7];                           // offset -3..3

    void AddRun(int32_t colour, const char* s, int32_t run, bool terminating)
    {
        const TCode c = ParseCode(s);
        const int32_t shift = RunLookupBits - c.Length;
        for (int32_t i = 0; i < (1 << shift); ++i)
            Decode[size_t(colour)][size_t((c.Bits << shift) | i)] = {int16_t(run), c.Length, uint8_t(terminating)};
        if (terminating)
            Terminating[size_t(colour)][size_t(run)] = c;
        else
            MakeUp[size_t(colour)][size_t(run / 64 - 1)] = c;
    }
    void AddMode(const char* s, TMode mode, int8_t offset)
    {
        const TCode c = ParseCode(s);
        const int32_t shift = ModeLookupBits - c.Length;
        for (int32_t i = 0; i < (1 << shift); ++i)
            Modes[size_t((c.Bits << shift) | i)] = {mode, offset, c.Length};
        if (mode == mVertical)
            VerticalCodes[offset + 3] = c;
    }

    TTables()
    {
        for (int32_t r = 0; r < 64; ++r) {
            AddRun(0, WhiteTerminating[r], r, true);
            AddRun(1, BlackTerminating[r], r, true);
        }
        for (int32_t i = 0; i < 27; ++i) {
            AddRun(0, WhiteMakeUp[i], (i + 1) * 64, false);
            AddRun(1, BlackMakeUp[i], (i + 1) * 64, false);
        }
        for (int32_t i = 0; i < 13; ++i)
            for (int32_t colour = 0; colour < 2; ++colour)
                AddRun(colour, ExtendedMakeUp[i], 1792 + i * 64, false);
        AddMode("1", mVertical, 0);
        AddMode("011", mVertical, 1);
        AddMode("010", mVertical, -1);
        AddMode("001", mHorizontal, 0);
        AddMode("0001", mPass, 0);
        AddMode("000011", mVertical, 2);
        AddMode("000010", mVertical, -2);
        AddMode("0000011", mVertical, 3);
        AddMode("0000010", mVertical, -3);
    }
};

const TTables& Tables()
{
    static const TTables tables;
    return tables;
}

// Clears bits [From, To) of a row, most significant bit first.
void ClearBits(uint8_t* Row, int32_t From, int32_t To)
{
    if (From >= To)
        return;
    const int32_t first = From >> 3, last = (To - 1) >> 3;
    const uint8_t headMask = uint8_t(0xFF >> (From & 7));
    const uint8_t tailMask = uint8_t(0xFF << (7 - ((To - 1) & 7)));
    if (first == last) {
        Row[first] &= uint8_t(~(headMask & tailMask));
        return;
    }
    Row[first] &= uint8_t(~headMask);
    std::memset(Row + first + 1, 0, size_t(last - first - 1));
    Row[last] &= uint8_t(~tailMask);
}

// Positions where a row changes colour, starting from white (bit 0) at column 0.
void FindChanges(const uint8_t* Row, int32_t Width, std::vector<int32_t>& Out)
{
    Out.clear();
    uint8_t colour = 0;
    int32_t x = 0;
    while (x < Width) {
        const uint8_t skip = colour ? 0xFF : 0x00;
        if ((x & 7) == 0 && x + 8 <= Width && Row[x >> 3] == skip) {
            x += 8;
            continue;
        }
        const uint8_t bit = (Row[x >> 3] >> (7 - (x & 7))) & 1;
        if (bit != colour) {
            Out.push_back(x);
            colour = bit;
        }
        ++x;
    }
}

// Sentinels at the row's end, so b1 and b2 always exist.
void AddSentinels(std::vector<int32_t>& Changes, int32_t Width) { Changes.insert(Changes.end(), 4, Width); }

// The first element after A0 whose index parity matches Colour (even: a change to
// black), starting from a remembered index that may step back.
size_t FindB1(const std::vector<int32_t>& Ref, size_t Index, int32_t A0, int32_t Colour)
{
    while (Index > 0 && Ref[Index - 1] > A0)
        --Index;
    while (Ref[Index] <= A0)
        ++Index;
    if (int32_t(Index & 1) != Colour)
        ++Index;
    return Index;
}

} // namespace

void ReverseBitsInPlace(uint8_t* Data, int64_t Size)
{
    static const std::array<uint8_t, 256> table = [] {
        std::array<uint8_t, 256> t{};
        for (int32_t i = 0; i < 256; ++i) {
            uint8_t r = 0;
            for (int32_t b = 0; b < 8; ++b)
                if (i & (1 << b))
                    r = uint8_t(r | (0x80 >> b));
            t[size_t(i)] = r;
        }
        return t;
    }();
    for (int64_t i = 0; i < Size; ++i)
        Data[i] = table[Data[i]];
}

// ---- Decoder ----------------------------------------------------------------------

TCcittDecoder::TCcittDecoder(TCcittCoding Coding, int32_t Width) : FCoding(Coding), FWidth(std::max(Width, 1))
{
    Tables();
    StartStrip(nullptr, 0);
}

void TCcittDecoder::StartStrip(const uint8_t* Data, int64_t Size)
{
    FData = Data;
    FSize = Data ? Size : 0;
    FBits = FSize * 8;
    FPos = 0;
    FRef.clear();
    AddSentinels(FRef, FWidth);
}

// The next Bits (1..32) bits as the low bits of the result; zeros past the data.
uint32_t TCcittDecoder::Peek(int32_t Bits) const
{
    const int64_t byte = FPos >> 3;
    uint64_t word = 0;
    if (byte + 8 <= FSize) {
        std::memcpy(&word, FData + byte, 8);
        if constexpr (std::endian::native == std::endian::little)
            word = __builtin_bswap64(word); // most significant byte first
    } else {
        for (int64_t i = 0; i < 8; ++i)
            word = (word << 8) | (byte + i < FSize ? FData[byte + i] : 0);
    }
    return uint32_t((word << (FPos & 7)) >> (64 - Bits));
}

// Group 3 rows may begin with EOLs, each possibly preceded by zero fill bits; twelve
// zeros never start a code, so they are fill. True when an EOL was seen.
bool TCcittDecoder::SkipLeadingEols()
{
    bool seen = false;
    while (!Exhausted()) {
        const uint32_t next = Peek(EolLength);
        if (next == 0)
            ++FPos;
        else if (next == EolCode) {
            FPos += EolLength;
            seen = true;
        } else
            break;
    }
    return seen;
}

enum TRunResult : uint8_t { rrOk, rrEol, rrFail };

// Make-up codes keep adding to the run until a terminating code. A pattern that is no
// code skips one bit; running out of data fails.
bool TCcittDecoder::DecodeRun(int32_t Colour, int32_t& Run)
{
    const auto& table = Tables().Decode[size_t(Colour)];
    Run = 0;
    while (!Exhausted()) {
        const TRunEntry e = table[Peek(RunLookupBits)];
        if (e.Length == 0) {
            if (Peek(EolLength) == EolCode)
                return false;
            ++FPos;
            continue;
        }
        FPos += e.Length;
        Run = std::min(Run + e.Run, RunCap);
        if (e.Terminating)
            return FPos <= FBits;
    }
    return false;
}

bool TCcittDecoder::DecodeOneD()
{
    FCur.clear();
    int32_t a0 = 0, colour = 0;
    bool atStart = true;
    while (a0 < FWidth) {
        if (Exhausted())
            return false;
        if (Peek(EolLength) == EolCode) {
            if (!atStart)
                return true; // the row ends as it stands
            FPos += EolLength;
            continue;
        }
        int32_t run = 0;
        if (!DecodeRun(colour, run)) {
            if (!Exhausted() && Peek(EolLength) == EolCode)
                return true;
            return false;
        }
        atStart = false;
        a0 = std::min(a0 + run, FWidth);
        FCur.push_back(a0);
        colour ^= 1;
    }
    return true;
}

// Uncompressed mode: codes of k zeros then a one (k < 5) give k white and one black
// pixel, 000001 five white; exit codes of 6..10 zeros then a one give k - 6 white
// pixels and are followed by the colour bit of what comes next.
bool TCcittDecoder::Uncompressed(int32_t& A0, int32_t& Colour)
{
    int32_t p = std::max(A0, 0), pixel = Colour;
    auto emit = [&](int32_t n, int32_t c) {
        if (n <= 0 || p >= FWidth)
            return;
        if (c != pixel) {
            FCur.push_back(p);
            pixel = c;
        }
        p = std::min(p + n, FWidth);
    };
    while (!Exhausted()) {
        const uint32_t next = Peek(EolLength);
        int32_t zeros = 0;
        while (zeros < EolLength && !(next & (1u << (EolLength - 1 - zeros))))
            ++zeros;
        if (zeros <= 4) {
            emit(zeros, 0);
            emit(1, 1);
            FPos += zeros + 1;
        } else if (zeros == 5) {
            emit(5, 0);
            FPos += 6;
        } else if (zeros <= 10) {
            emit(zeros - 6, 0);
            FPos += zeros + 1;
            const int32_t t = int32_t(Peek(1));
            ++FPos;
            if (t != pixel)
                FCur.push_back(p);
            Colour = t;
            A0 = p;
            return FPos <= FBits;
        } else {
            return false;
        }
    }
    return false;
}

bool TCcittDecoder::DecodeTwoD()
{
    const TTables& t = Tables();
    FCur.clear();
    int32_t a0 = -1, colour = 0;
    size_t bi = 0;
    while (a0 < FWidth) {
        if (Exhausted())
            return false;
        bi = FindB1(FRef, bi, a0, colour);
        const int32_t b1 = FRef[bi], b2 = FRef[bi + 1];
        const TModeEntry m = t.Modes[Peek(ModeLookupBits)];
        switch (m.Mode) {
        case mPass:
            FPos += m.Length;
            a0 = b2;
            break;
        case mVertical: {
            FPos += m.Length;
            // a1 may equal a0: after a pass the colour can change right where it ended.
            // Before the row's first pixel (a0 = -1) it cannot.
            const int32_t a1 = b1 + m.Offset;
            if (a1 < std::max(a0, 0) || a1 > FWidth)
                return false;
            FCur.push_back(a1);
            a0 = a1;
            colour ^= 1;
            break;
        }
        case mHorizontal: {
            FPos += m.Length;
            int32_t r1 = 0, r2 = 0;
            if (!DecodeRun(colour, r1) || !DecodeRun(colour ^ 1, r2))
                return false;
            const int32_t a1 = std::min(std::max(a0, 0) + r1, FWidth);
            const int32_t a2 = std::min(a1 + r2, FWidth);
            FCur.push_back(a1);
            FCur.push_back(a2);
            a0 = a2;
            break;
        }
        case mNone:
            if (Peek(EolLength) == EolCode)
                return true; // a row cut short by EOL ends as it stands
            if (Peek(10) == UncompressedEntry) {
                FPos += 10;
                if (!Uncompressed(a0, colour))
                    return false;
            } else {
                ++FPos;
            }
            break;
        }
    }
    return true;
}

void TCcittDecoder::PaintRow(uint8_t* Row) const
{
    std::memset(Row, 0xFF, size_t((FWidth + 7) / 8));
    for (size_t i = 0; i < FCur.size(); i += 2)
        ClearBits(Row, FCur[i], i + 1 < FCur.size() ? FCur[i + 1] : FWidth);
}

bool TCcittDecoder::DecodeRow(uint8_t* Row)
{
    bool ok = false;
    switch (FCoding) {
    case ccModifiedHuffman:
        ok = DecodeOneD();
        FPos = (FPos + 7) & ~int64_t(7);
        break;
    case ccGroup3OneD:
        SkipLeadingEols();
        ok = DecodeOneD();
        break;
    case ccGroup3TwoD: {
        SkipLeadingEols();
        const bool oneD = Peek(1) != 0;
        ++FPos;
        ok = oneD ? DecodeOneD() : DecodeTwoD();
        break;
    }
    case ccGroup4: ok = DecodeTwoD(); break;
    }
    while (!FCur.empty() && FCur.back() >= FWidth)
        FCur.pop_back();
    PaintRow(Row);
    FRef.swap(FCur);
    AddSentinels(FRef, FWidth);
    return ok && FPos <= FBits;
}

// ---- Encoder ----------------------------------------------------------------------

TCcittEncoder::TCcittEncoder(TCcittCoding Coding, int32_t Width) : FCoding(Coding), FWidth(std::max(Width, 1))
{
    Tables();
    AddSentinels(FRef, FWidth);
}

void TCcittEncoder::PutBits(uint32_t Code, int32_t Length)
{
    FAcc = (FAcc << Length) | Code;
    FAccBits += Length;
    while (FAccBits >= 8) {
        FAccBits -= 8;
        FOut.push_back(uint8_t(FAcc >> FAccBits));
    }
}

void TCcittEncoder::PadToByte()
{
    if (FAccBits > 0)
        PutBits(0, 8 - FAccBits);
}

// Make-up codes while the run exceeds 63 (2560 while it exceeds 2560), then one
// terminating code.
void TCcittEncoder::PutRun(int32_t Colour, int32_t Run)
{
    const TTables& t = Tables();
    while (Run > 63) {
        const int32_t makeUp = Run > 2560 ? 2560 : Run / 64 * 64;
        const TCode c =
            makeUp >= 1792 ? t.MakeUp[0][size_t(makeUp / 64 - 1)] : t.MakeUp[size_t(Colour)][size_t(makeUp / 64 - 1)];
        PutBits(c.Bits, c.Length);
        Run -= makeUp;
    }
    const TCode c = t.Terminating[size_t(Colour)][size_t(Run)];
    PutBits(c.Bits, c.Length);
}

void TCcittEncoder::CodeOneD()
{
    int32_t prev = 0, colour = 0;
    for (int32_t change : FCur) {
        if (change >= FWidth)
            break;
        PutRun(colour, change - prev);
        prev = change;
        colour ^= 1;
    }
    if (prev < FWidth)
        PutRun(colour, FWidth - prev);
}

void TCcittEncoder::CodeTwoD()
{
    const TTables& t = Tables();
    int32_t a0 = -1, colour = 0;
    size_t ai = 0, bi = 0;
    while (a0 < FWidth) {
        while (FCur[ai] <= a0)
            ++ai;
        const int32_t a1 = FCur[ai], a2 = FCur[ai + 1];
        bi = FindB1(FRef, bi, a0, colour);
        const int32_t b1 = FRef[bi], b2 = FRef[bi + 1];
        if (b2 < a1) {
            PutBits(1, 4); // pass 0001
            a0 = b2;
        } else if (a1 - b1 >= -3 && a1 - b1 <= 3) {
            const TCode c = t.VerticalCodes[a1 - b1 + 3];
            PutBits(c.Bits, c.Length);
            a0 = a1;
            colour ^= 1;
        } else {
            PutBits(1, 3); // horizontal 001
            PutRun(colour, a1 - std::max(a0, 0));
            PutRun(colour ^ 1, a2 - a1);
            a0 = a2;
        }
    }
}

void TCcittEncoder::EncodeRow(const uint8_t* Row)
{
    FindChanges(Row, FWidth, FCur);
    AddSentinels(FCur, FWidth);
    switch (FCoding) {
    case ccModifiedHuffman:
        CodeOneD();
        PadToByte();
        break;
    case ccGroup3OneD:
        PutBits(EolCode, EolLength);
        CodeOneD();
        break;
    case ccGroup3TwoD:
        PutBits(EolCode, EolLength);
        PutBits(FFirstRow ? 1 : 0, 1);
        if (FFirstRow)
            CodeOneD();
        else
            CodeTwoD();
        break;
    case ccGroup4: CodeTwoD(); break;
    }
    FFirstRow = false;
    FRef.swap(FCur);
}

void TCcittEncoder::Finish()
{
    if (FCoding == ccGroup3OneD || FCoding == ccGroup3TwoD)
        PutBits(EolCode, EolLength);
    else if (FCoding == ccGroup4) {
        PutBits(EolCode, EolLength);
        PutBits(EolCode, EolLength);
    }
    PadToByte();
}

void TCcittEncoder::TakeBytes(std::vector<uint8_t>& Out)
{
    Out.insert(Out.end(), FOut.begin(), FOut.end());
    FOut.clear();
}

} // namespace kv
