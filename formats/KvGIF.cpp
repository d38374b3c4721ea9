#include "formats/KvGIF.h"

#include "formats/CtrlUtils.h"
#include "formats/MaxMin.h"

#include <cstring>
#include <vector>

namespace kv {

const char* const SGIFUnknownVersion = "Неизвестная версия изображения GIF";
const char* const SGIFEncodeError = "Ошибка кодировки данных в формат GIF";
const char* const SGIFBadData = "Неверные данные в формате GIF";
const char* const SGIFBadCodeSize = "Размер кода GIF не принадлежит диапазону от 2 до 9";
const char* const SGIFBadColorCount = "Неверное число цветов; должно быть степенью числа 2";
const char* const SGIFUnknownExtension = "Неопределенное расширение GIF: %.2x";
const char* const SGIFNoData = "Нет данных для записи в формате GIF";
const char* const SGIFCannotResize = "Невозможно изменить размер изображения GIF";

// ==== LZW coder ==========================================================================

namespace {

constexpr int32_t MaxLZWCodes = 4096;
constexpr int32_t LZWStackSize = MaxLZWCodes + 1;
constexpr int32_t EncoderClearAt = 4094;

// Walks the rows of a bottom-up pixel block in GIF order and stores or fetches pixels.
struct TRowWalker {
    int32_t Width, Height, Bits;
    bool Interlaced;
    int64_t RowSize;
    uint8_t* Block;
    int32_t Column = 0, Row = 0, Pass = 0;
    uint8_t* RowStart = nullptr;
    uint8_t ValueMask;

    TRowWalker(const TGIFBitmapInfo& Info, bool interlaced, uint8_t* block)
        : Width(Info.Width), Height(Info.Height), Bits(Info.BitCount), Interlaced(interlaced),
          RowSize(GIFRowSize(Info.BitCount, Info.Width)), Block(block), ValueMask(uint8_t((1u << Info.BitCount) - 1))
    {
        SetRow(0);
    }
    void SetRow(int32_t r)
    {
        Row = r;
        RowStart = Row < Height ? Block + int64_t(Height - 1 - Row) * RowSize : nullptr;
    }
    void NextRow()
    {
        Column = 0;
        SetRow(NextInterlacedRow(Row, Height, Pass, Interlaced));
    }
    bool Done() const { return Row >= Height; }

    void PutPixel(uint32_t value)
    {
        if (Row >= Height)
            return;
        value &= ValueMask;
        switch (Bits) {
        case 8: RowStart[Column] = uint8_t(value); break;
        case 4:
            if (Column & 1)
                RowStart[Column >> 1] |= uint8_t(value);
            else
                RowStart[Column >> 1] = uint8_t(value << 4);
            break;
        default:
            if (Column & 7)
                RowStart[Column >> 3] |= uint8_t(value << (7 - (Column & 7)));
            else
                RowStart[Column >> 3] = uint8_t(value << 7);
        }
        if (++Column >= Width)
            NextRow();
    }
    uint32_t GetPixel(int32_t x) const
    {
        switch (Bits) {
        case 8: return RowStart[x];
        case 4: return (x & 1) ? (RowStart[x >> 1] & 0x0F) : (RowStart[x >> 1] >> 4);
        default: return (RowStart[x >> 3] >> (7 - (x & 7))) & 1;
        }
    }
};

// Reads codes of any width from the sub-blocks; sub-block boundaries are invisible, an
// empty sub-block is skipped, and running out of bytes is reported, never read past.
class TCodeReader {
public:
    TCodeReader(const uint8_t* data, int64_t size) : FData(data), FSize(size) {}
    bool Read(int32_t codeSize, uint32_t& code)
    {
        while (FBits < codeSize) {
            if (FBlockLeft == 0) {
                if (FPos >= FSize)
                    return false;
                FBlockLeft = FData[FPos++];
                continue;
            }
            if (FPos >= FSize)
                return false;
            FAcc |= uint64_t(FData[FPos++]) << FBits;
            FBits += 8;
            --FBlockLeft;
        }
        code = uint32_t(FAcc) & ((1u << codeSize) - 1);
        FAcc >>= codeSize;
        FBits -= codeSize;
        return true;
    }
    int64_t Position() const { return FPos; }

private:
    const uint8_t* FData;
    int64_t FSize;
    int64_t FPos = 0;
    int32_t FBlockLeft = 0;
    uint64_t FAcc = 0;
    int32_t FBits = 0;
};

// Writes codes into sub-blocks of exactly 255 bytes, the last one shorter.
class TCodeWriter {
public:
    explicit TCodeWriter(TMemoryStream::TStorage& out) : FOut(out) {}
    void Write(uint32_t code, int32_t codeSize)
    {
        FAcc |= uint64_t(code) << FBits;
        FBits += codeSize;
        while (FBits >= 8)
            PutByte();
    }
    void Finish()
    {
        if (FBits > 0)
            PutByte();
        if (FCount > 0) {
            FBlock[0] = uint8_t(FCount);
            FOut.insert(FOut.end(), FBlock, FBlock + FCount + 1);
        }
        FOut.push_back(0);
    }

private:
    void PutByte()
    {
        FBlock[1 + FCount++] = uint8_t(FAcc);
        FAcc >>= 8;
        FBits = FBits >= 8 ? FBits - 8 : 0;
        if (FCount == 255) {
            FBlock[0] = 255;
            FOut.insert(FOut.end(), FBlock, FBlock + 256);
            FCount = 0;
        }
    }
    TMemoryStream::TStorage& FOut;
    uint8_t FBlock[256] = {};
    int32_t FCount = 0;
    uint64_t FAcc = 0;
    int32_t FBits = 0;
};

// Reports start, running percentages (only when the figure changes) and the end.
class TProgressReporter {
public:
    TProgressReporter(const TGIFCoderProgress& progress, TObject* owner) : FProgress(progress), FOwner(owner)
    {
        if (FProgress)
            FProgress(FOwner, gcsStarting, 0, "");
    }
    void Running(int64_t done, int64_t total)
    {
        if (!FProgress || total <= 0)
            return;
        const uint8_t percent = uint8_t(Min(100, int32_t(done * 100 / total)));
        if (percent != FLast) {
            FLast = percent;
            FProgress(FOwner, gcsRunning, percent, "");
        }
    }
    void Finished()
    {
        FEnded = true;
        if (FProgress)
            FProgress(FOwner, gcsEnding, 100, "");
    }
    void Failed(const std::string& msg)
    {
        FEnded = true;
        if (FProgress)
            FProgress(FOwner, gcsEnding, 0, msg);
    }

private:
    const TGIFCoderProgress& FProgress;
    TObject* FOwner;
    uint8_t FLast = 255;
    bool FEnded = false;
};

template <typename F> void RunReporting(TProgressReporter& reporter, F&& body)
{
    try {
        body();
    } catch (const Exception& e) {
        reporter.Failed(e.Message());
        throw;
    } catch (const std::exception& e) {
        reporter.Failed(e.what());
        throw;
    }
    reporter.Finished();
}

void CheckCoderInfo(const TGIFBitmapInfo& Info)
{
    if (Info.BitCount != 1 && Info.BitCount != 4 && Info.BitCount != 8)
        throw EInvalidGraphicOperation(SGIFBadColorCount);
    if (Info.Width < 0 || Info.Height < 0)
        throw EInvalidGraphicOperation(SGIFBadData);
}

} // namespace

int32_t NextInterlacedRow(int32_t Row, int32_t Height, int32_t& Pass, bool Interlaced)
{
    if (!Interlaced)
        return Row + 1;
    static constexpr int32_t step[4] = {8, 8, 4, 2};
    static constexpr int32_t start[4] = {0, 4, 2, 1};
    if (Pass < 0 || Pass > 3)
        return Height;
    const int32_t next = Row + step[Pass];
    if (next < Height)
        return next;
    while (Pass < 3) {
        ++Pass;
        if (start[Pass] < Height)
            return start[Pass];
    }
    return Max(Height, next);
}

void DecodeLZW(const uint8_t* Data, int64_t Size, const TGIFBitmapInfo& Info, bool Interlaced,
               const TGIFCoderProgress& Progress, TObject* Owner, bool& DataTruncated, uint8_t* Pixels,
               int32_t FrameBitsPerPixel, bool AcceptTruncated)
{
    CheckCoderInfo(Info);
    TProgressReporter reporter(Progress, Owner);
    RunReporting(reporter, [&] {
        if (Info.Width == 0 || Info.Height == 0 || !Pixels) {
            DataTruncated = true;
            return;
        }
        if (Size < 1) {
            DataTruncated = true;
            return;
        }
        int32_t minCodeSize = Data[0];
        if (minCodeSize < 2 || minCodeSize > 9) {
            if (!AcceptTruncated)
                throw EInvalidGraphicOperation(SGIFBadCodeSize);
            DataTruncated = true;
            minCodeSize = minCodeSize < 2 ? 2 : 9;
        }
        const uint32_t pixelMask = (1u << Min(Max(FrameBitsPerPixel, 1), 8)) - 1;
        const uint32_t clearCode = 1u << minCodeSize, endCode = clearCode + 1, firstFree = clearCode + 2;
        int32_t codeSize = minCodeSize + 1;
        uint32_t limit = 1u << codeSize;
        uint32_t nextFree = firstFree;
        // Every entry also knows its string's length, so that a string that fits in the
        // current row is written straight into it, back to front.
        std::vector<uint16_t> prefix(MaxLZWCodes, 0), suffix(MaxLZWCodes, 0), length(MaxLZWCodes, 0),
            stack(LZWStackSize + 2, 0);
        for (uint32_t c = 0; c < clearCode; ++c)
            length[c] = c <= pixelMask ? 1 : 2; // codes above the pixel range read as "0 0"
        uint32_t oldCode = 0, firstChar = 0;
        // Data may legally start without a clear code: the first code is then taken
        // like the one after a clear (stored, no entry made).
        bool afterClear = true, tableFull = false;
        // Packed and interlaced rows take every string through the checked stack; an
        // undefined code ends decoding, so the lengths always describe the chains.
        const bool checkedOnly = Info.BitCount != 8 || Interlaced;

        // The sub-blocks' payload joined, so that codes are read without block checks.
        std::vector<uint8_t> joined;
        joined.reserve(size_t(Size));
        for (int64_t pos = 1; pos < Size;) {
            const int64_t len = Min(int64_t(Data[pos]), Size - pos - 1);
            joined.insert(joined.end(), Data + pos + 1, Data + pos + 1 + len);
            pos += 1 + len;
        }
        const uint8_t* bits = joined.data();
        const int64_t totalBits = int64_t(joined.size()) * 8;
        int64_t bitPos = 0;
        auto readCode = [&](uint32_t& code) {
            if (bitPos + codeSize > totalBits)
                return false;
            const int64_t byte = bitPos >> 3;
            uint32_t v = bits[byte];
            if (byte + 1 < int64_t(joined.size()))
                v |= uint32_t(bits[byte + 1]) << 8;
            if (byte + 2 < int64_t(joined.size()))
                v |= uint32_t(bits[byte + 2]) << 16;
            code = (v >> (bitPos & 7)) & ((1u << codeSize) - 1);
            bitPos += codeSize;
            return true;
        };

        TRowWalker walker(Info, Interlaced, Pixels);
        uint32_t code = 0;
        while (!walker.Done()) {
            if (!readCode(code)) {
                DataTruncated = true;
                break;
            }
            reporter.Running(bitPos / 8 + 1, int64_t(joined.size()) + 1);
            // The frame is not full yet: an end code here leaves it short.
            if (code == endCode) {
                DataTruncated = true;
                break;
            }
            if (code == clearCode) {
                codeSize = minCodeSize + 1;
                limit = 1u << codeSize;
                nextFree = firstFree;
                tableFull = false;
                afterClear = true;
                continue;
            }
            // A code past the next free one names no string: the data is damaged. Right
            // after a clear there is no previous string either, so the next free code
            // itself is undefined there too.
            if (code > nextFree || (afterClear && code == nextFree)) {
                if (!AcceptTruncated)
                    throw EInvalidGraphicOperation(SGIFBadData);
                DataTruncated = true;
                break;
            }
            if (afterClear) {
                oldCode = code;
                firstChar = code & pixelMask;
                walker.PutPixel(firstChar);
                afterClear = false;
                continue;
            }
            const uint32_t incoming = code;
            const bool repeat = code >= nextFree;
            const uint32_t start = repeat ? oldCode : code;
            const int32_t len = length[start] + (repeat ? 1 : 0);
            if (!checkedOnly && len <= walker.Width - walker.Column) {
                uint8_t* row = walker.RowStart + walker.Column;
                uint8_t* p = row + len - 1;
                if (repeat)
                    *p-- = uint8_t(firstChar);
                uint32_t c = start;
                while (c > pixelMask) {
                    *p-- = uint8_t(suffix[c]);
                    c = prefix[c];
                }
                firstChar = c & pixelMask;
                *p = uint8_t(firstChar);
                if (repeat)
                    row[len - 1] = uint8_t(firstChar);
                walker.Column += len;
                if (walker.Column >= walker.Width)
                    walker.NextRow();
            } else {
                int32_t sp = 0;
                if (repeat) {
                    stack[sp++] = uint16_t(firstChar);
                    code = oldCode;
                }
                while (code > pixelMask) {
                    if (sp > MaxLZWCodes) {
                        if (!AcceptTruncated)
                            throw EInvalidGraphicOperation(SGIFBadData);
                        DataTruncated = true;
                        return;
                    }
                    stack[sp++] = suffix[code];
                    code = prefix[code];
                }
                firstChar = code & pixelMask;
                stack[sp++] = uint16_t(firstChar);
                while (sp > 0)
                    walker.PutPixel(stack[--sp]);
            }
            if (!tableFull) {
                prefix[nextFree] = uint16_t(oldCode);
                suffix[nextFree] = uint16_t(firstChar);
                length[nextFree] = uint16_t(Min(int32_t(length[oldCode]) + 1, 65535));
                if (++nextFree >= limit) {
                    if (codeSize < 12) {
                        ++codeSize;
                        limit <<= 1;
                    } else {
                        tableFull = true;
                    }
                }
            }
            oldCode = incoming;
        }
    });
}

void DecodeLZW(TStream& Source, const TGIFBitmapInfo& Info, bool Interlaced, const TGIFCoderProgress& Progress,
               TObject* Owner, bool& DataTruncated, uint8_t* Pixels, int32_t FrameBitsPerPixel, bool AcceptTruncated)
{
    const int64_t pos = Source.Position();
    const int64_t size = Source.Size() - pos;
    if (auto* mem = dynamic_cast<TMemoryStream*>(&Source)) {
        DecodeLZW(mem->Memory() + pos, size, Info, Interlaced, Progress, Owner, DataTruncated, Pixels,
                  FrameBitsPerPixel, AcceptTruncated);
        return;
    }
    std::vector<uint8_t> bytes(size_t(size > 0 ? size : 0));
    Source.ReadBuffer(bytes.data(), int64_t(bytes.size()));
    DecodeLZW(bytes.data(), int64_t(bytes.size()), Info, Interlaced, Progress, Owner, DataTruncated, Pixels,
              FrameBitsPerPixel, AcceptTruncated);
}

namespace {

// The encoder's string table: each entry is the string's key (prefix code shl 8 or the
// pixel) shl 12 or its code, found by one multiplicative hash and linear probing. Codes
// stored are above the end code, so an entry is never 0, which marks a free slot. At
// most 4094 - 257 strings live at once: the table stays under half full.
class TLZWDictionary {
public:
    static constexpr uint32_t Slots = 8192;

    void Clear() { std::memset(FSlots, 0, sizeof FSlots); }
    // The code of the string Key, or 0 after storing NewCode for it in the free slot.
    uint32_t FindOrAdd(uint32_t Key, uint32_t NewCode)
    {
        uint32_t slot = (Key * 0x9E3779B1u) >> 19;
        for (;;) {
            const uint32_t e = FSlots[slot];
            if (e == 0) {
                FSlots[slot] = (Key << 12) | NewCode;
                return 0;
            }
            if ((e >> 12) == Key)
                return e & 0xFFF;
            slot = (slot + 1) & (Slots - 1);
        }
    }

private:
    uint32_t FSlots[Slots];
};

} // namespace

void EncodeLZW(TStream& Dest, const TGIFBitmapInfo& Info, bool Interlaced, const TGIFCoderProgress& Progress,
               TObject* Owner, const uint8_t* Pixels)
{
    CheckCoderInfo(Info);
    TProgressReporter reporter(Progress, Owner);
    RunReporting(reporter, [&] {
        const int32_t minCodeSize = Info.BitCount == 1 ? 2 : Info.BitCount;
        const uint32_t clearCode = 1u << minCodeSize, endCode = clearCode + 1;
        const int32_t initCodeSize = minCodeSize + 1;
        const uint32_t initLimit = 1u << initCodeSize;
        uint32_t nextCode = endCode, limit = initLimit;
        int32_t codeSize = initCodeSize;

        TMemoryStream::TStorage out;
        out.reserve(size_t(Min(1 << 24, int32_t(Max(Info.Width, 1)) * Max(Info.Height, 1) / 2 + 64)));
        out.push_back(uint8_t(minCodeSize));
        TCodeWriter writer(out);
        writer.Write(clearCode, codeSize);

        auto dictionary = std::make_unique<TLZWDictionary>();
        dictionary->Clear();
        uint32_t prefixCode = 0;
        bool pending = false; // a string is open in prefixCode

        TRowWalker walker(Info, Interlaced, const_cast<uint8_t*>(Pixels));
        int32_t rowsDone = 0;
        std::vector<uint8_t> unpacked(size_t(Max(Info.Width, 1)));
        while (Info.Width > 0 && !walker.Done()) {
            const uint8_t* row = walker.RowStart;
            if (Info.BitCount != 8) {
                for (int32_t x = 0; x < Info.Width; ++x)
                    unpacked[size_t(x)] = uint8_t(walker.GetPixel(x));
                row = unpacked.data();
            }
            int32_t x = 0;
            if (!pending) {
                prefixCode = row[0];
                pending = true;
                x = 1;
            }
            for (; x < Info.Width; ++x) {
                const uint32_t pixel = row[x];
                const uint32_t code = dictionary->FindOrAdd((prefixCode << 8) | pixel, nextCode + 1);
                if (code != 0) {
                    prefixCode = code;
                    continue;
                }
                writer.Write(prefixCode, codeSize);
                ++nextCode;
                prefixCode = pixel;
                if (nextCode >= limit) {
                    limit <<= 1;
                    ++codeSize;
                } else if (nextCode >= uint32_t(EncoderClearAt)) {
                    writer.Write(prefixCode, codeSize);
                    writer.Write(clearCode, codeSize);
                    nextCode = endCode;
                    codeSize = initCodeSize;
                    limit = initLimit;
                    dictionary->Clear();
                    // The next pixel opens a new string.
                    if (++x < Info.Width)
                        prefixCode = row[x];
                    else
                        pending = false;
                }
            }
            walker.NextRow();
            reporter.Running(++rowsDone, Info.Height);
        }
        // The pending string is written only when there is one: a clear that fell on the
        // last pixel has already written it.
        if (pending) {
            writer.Write(prefixCode, codeSize);
            // That last code makes the decoder add one more entry; when the entry fills
            // the width, it reads the end code one bit wider, so write it that wide.
            if (nextCode + 1 == limit && codeSize < 12)
                ++codeSize;
        }
        writer.Write(endCode, codeSize);
        writer.Finish();
        // An empty memory stream (a frame's data) takes the codes as they stand rather
        // than a copy in another fresh block; a picture that packs far below the guess
        // gives back what it did not use.
        auto* mem = dynamic_cast<TMemoryStream*>(&Dest);
        if (mem && mem->Size() == 0 && mem->Position() == 0) {
            if (out.size() < out.capacity() / 2)
                out.shrink_to_fit();
            mem->Adopt(std::move(out));
        } else {
            Dest.WriteBuffer(out.data(), int64_t(out.size()));
        }
    });
}

} // namespace kv

// ==== Picture model ========================================================================

#include "formats/AniFile.h"
#include "formats/KvGraph.h"
#include "platform/Clipbrd.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace kv {

namespace {

constexpr uint8_t ExtensionIntroducer = 0x21; // '!'
constexpr uint8_t ImageIntroducer = 0x2C;     // ','
constexpr uint8_t Trailer = 0x3B;             // ';'
constexpr uint8_t ExtensionLabels[4] = {0xF9, 0x01, 0xFF, 0xFE};
const char* const VersionStrings[3] = {"", "87a", "89a"};
constexpr uint16_t MaxLoopCount = 30000;
// A frame may claim more pixels than its data can produce (rows not reached stay 0),
// but not absurdly more: above this many pixels the claim must be reachable.
constexpr int64_t SmallFramePixels = int64_t(1) << 24;

[[noreturn]] void RaiseGIF(const char* Message) { throw EInvalidGraphicOperation(Message); }

TColor EntryColor(const TGIFColors& T, int32_t I) { return RGB(T.Colors[I][0], T.Colors[I][1], T.Colors[I][2]); }

// The exponent n (1..8) with 2^n = Count; raises for any other count.
uint8_t ExactColorBits(int32_t Count)
{
    for (uint8_t n = 1; n <= 8; ++n)
        if ((1 << n) == Count)
            return n;
    RaiseGIF(SGIFBadColorCount);
}

// The smallest n of at least 1 with 2^n not below Count.
uint8_t ColorBitsFor(int32_t Count)
{
    uint8_t n = 1;
    while (n < 8 && (1 << n) < Count)
        ++n;
    return n;
}

int32_t FindColor(const TGIFColors& T, TColor Color)
{
    if (Color == clNone)
        return -1;
    const TColor rgb = ColorToRGB(Color) & 0xFFFFFF;
    for (int32_t i = 0; i < T.Count; ++i)
        if (EntryColor(T, i) == rgb)
            return i;
    return -1;
}

// Most pixels the LZW data of DataBytes bytes can produce: every code adds at most one
// pixel to the longest string, and no string is longer than the table.
// True when the kept image data ends with its zero-length terminator.
bool EndsWithTerminator(const uint8_t* Data, size_t Size)
{
    size_t pos = 1;
    while (pos < Size) {
        if (Data[pos] == 0)
            return pos + 1 == Size;
        pos += size_t(Data[pos]) + 1;
    }
    return false;
}

int64_t MaxDecodablePixels(int64_t DataBytes, int32_t MinCodeSize)
{
    const int64_t codes = DataBytes * 8 / (Max(MinCodeSize, 2) + 1);
    return codes <= 4096 ? codes * (codes + 1) / 2 : codes * 4096;
}

} // namespace

// Bounded reading over the copied GIF stream: a short read is the platform's read error.
class TGIFReader {
public:
    TGIFReader(const uint8_t* Data, int64_t Size) : FData(Data), FSize(Size) {}
    bool AtEnd() const { return FPos >= FSize; }
    int64_t Remaining() const { return FSize - FPos; }
    int64_t Position() const { return FPos; }
    uint8_t U8()
    {
        Need(1);
        return FData[FPos++];
    }
    uint16_t U16()
    {
        Need(2);
        const uint16_t v = GetU16LE(FData + FPos);
        FPos += 2;
        return v;
    }
    const uint8_t* Bytes(int64_t Count)
    {
        Need(Count);
        const uint8_t* p = FData + FPos;
        FPos += Count;
        return p;
    }
    // The next byte, or Fallback at the end of the input.
    uint8_t NextOr(uint8_t Fallback) { return AtEnd() ? Fallback : FData[FPos++]; }
    // Data sub-blocks up to a zero length or the end of the input; a block cut short by
    // the end keeps what is there.
    void SubBlocks(const std::function<void(const uint8_t*, int32_t)>& Take)
    {
        while (!AtEnd()) {
            const int32_t len = FData[FPos++];
            if (len == 0)
                return;
            const int32_t avail = int32_t(Min(int64_t(len), Remaining()));
            if (Take)
                Take(FData + FPos, avail);
            FPos += avail;
        }
    }

private:
    void Need(int64_t Count)
    {
        if (Count < 0 || Remaining() < Count)
            throw EReadError("Stream read error");
    }
    const uint8_t* FData;
    int64_t FSize;
    int64_t FPos = 0;
};

// ---- TExtension ----------------------------------------------------------------------------

void TExtension::Assign(TPersistent* Source)
{
    if (auto* src = dynamic_cast<TExtension*>(Source)) {
        Kind = src->Kind;
        Header = src->Header;
        if (src->Data) {
            Data = std::make_unique<TStringList>();
            Data->Assign(src->Data.get());
        } else {
            Data.reset();
        }
        return;
    }
    TPersistent::Assign(Source);
}

// ---- TGIFFrame -----------------------------------------------------------------------------

TGIFFrame::TGIFFrame(TGIFImage* AOwner) : FOwner(AOwner), FItem(std::make_shared<TGIFItem>()) {}

TGIFFrame::~TGIFFrame() = default;

void TGIFFrame::Reset()
{
    FItem = std::make_shared<TGIFItem>();
    GrayReduce = false;
    DataTruncated = false;
    TransparentColor = clNone;
    Position = TPoint{0, 0};
    Interlaced = false;
    DelayMs = 0;
    DisposalMethod = 0;
    HasLocalTable = false;
}

std::vector<std::string> TGIFFrame::CommentLines() const
{
    std::vector<std::string> lines;
    for (const auto& e : FExtensions)
        if (e->Kind == ekComment && e->Data)
            for (int32_t i = 0; i < e->Data->Count(); ++i)
                lines.push_back(e->Data->Strings(i));
    return lines;
}

TBitmap* TGIFFrame::Bitmap()
{
    if (FBitmap && !FBitmap->Empty())
        return FBitmap.get();
    auto bitmap = std::make_unique<TBitmap>();
    if (HasEncodedData())
        Decode(*bitmap);
    FBitmap = std::move(bitmap);
    return FBitmap.get();
}

void TGIFFrame::Decode(TBitmap& Target)
{
    const TGIFItem& item = *FItem;
    int32_t bitCount;
    if (item.BitsPerPixel == 1)
        bitCount = 1;
    else if (item.BitsPerPixel >= 2 && item.BitsPerPixel <= 4)
        bitCount = 4;
    else if (item.BitsPerPixel >= 5 && item.BitsPerPixel <= 8)
        bitCount = 8;
    else
        RaiseGIF(SGIFBadColorCount);
    // A frame without a size has nothing to decode into.
    if (item.Width <= 0 || item.Height <= 0) {
        DataTruncated = true;
        return;
    }
    const int64_t pixels = int64_t(item.Width) * item.Height;
    if (item.Width > MaxPixelSide || item.Height > MaxPixelSide || pixels > MaxPixelCount)
        RaiseGIF(SGIFBadData);
    if (pixels > SmallFramePixels && pixels > MaxDecodablePixels(item.Data->Size(), 2))
        RaiseGIF(SGIFBadData);

    Target.SetPixelFormat(bitCount == 1 ? pf1bit : bitCount == 4 ? pf4bit : pf8bit);
    std::vector<TPaletteEntry> entries(size_t(1) << bitCount, TPaletteEntry{128, 128, 128, 0});
    for (int32_t i = 0; i < item.ColorTable.Count && i < int32_t(entries.size()); ++i)
        entries[size_t(i)] =
            TPaletteEntry{item.ColorTable.Colors[i][0], item.ColorTable.Colors[i][1], item.ColorTable.Colors[i][2], 0};
    Target.SetPaletteEntries(entries);
    Target.SetSize(item.Width, item.Height);

    const TGIFBitmapInfo info{item.Width, item.Height, bitCount};
    const int64_t rowSize = GIFRowSize(bitCount, item.Width);
    TGIFCoderProgress progress;
    if (FOwner && FOwner->OnProgress)
        progress = [owner = FOwner](TObject*, TGIFCoderStage s, uint8_t p, const std::string& m) {
            owner->CoderProgress(s, p, m);
        };
    bool truncated = false;
    item.Data->SetPosition(0);
    if (Target.BytesPerScanLine() == rowSize) {
        std::memset(Target.Bits(), 0, size_t(rowSize * item.Height));
        DecodeLZW(*item.Data, info, Interlaced, progress, FOwner, truncated, Target.Bits(), item.BitsPerPixel,
                  TGIFImage::AcceptCorruptedGIF);
    } else {
        std::vector<uint8_t> block(size_t(rowSize * item.Height), 0);
        DecodeLZW(*item.Data, info, Interlaced, progress, FOwner, truncated, block.data(), item.BitsPerPixel,
                  TGIFImage::AcceptCorruptedGIF);
        for (int32_t y = 0; y < item.Height; ++y)
            std::memcpy(Target.ScanLine(y), block.data() + int64_t(item.Height - 1 - y) * rowSize, size_t(rowSize));
    }
    DataTruncated = DataTruncated || truncated;
    Target.SetHandleType(bmDDB);
}

void TGIFFrame::Assign(TPersistent* Source)
{
    if (Source == this)
        return;
    if (auto* src = dynamic_cast<TGIFFrame*>(Source)) {
        FItem = src->FItem;
        HasLocalTable = (FOwner && FOwner == src->FOwner) ? src->HasLocalTable : true;
        Position = src->Position;
        Interlaced = src->Interlaced;
        FBitmap.reset();
        if (src->FBitmap) {
            FBitmap = std::make_unique<TBitmap>();
            FBitmap->Assign(src->FBitmap.get());
        }
        TransparentColor = src->TransparentColor;
        DelayMs = src->DelayMs;
        DisposalMethod = src->DisposalMethod;
        GrayReduce = src->GrayReduce;
        DataTruncated = src->DataTruncated;
        const auto lines = src->CommentLines();
        if (!lines.empty()) {
            TExtension* comment = nullptr;
            for (auto& e : FExtensions)
                if (e->Kind == ekComment)
                    comment = e.get();
            if (!comment) {
                FExtensions.push_back(std::make_unique<TExtension>());
                comment = FExtensions.back().get();
                comment->Kind = ekComment;
            }
            comment->Data = std::make_unique<TStringList>();
            for (const auto& l : lines)
                comment->Data->Add(l);
        }
    } else if (auto* image = dynamic_cast<TGIFImage*>(Source)) {
        if (image->Count() == 0)
            Assign(nullptr);
        else
            Assign(image->Frames(Max(image->CurrentFrame(), 0) < image->Count() ? Max(image->CurrentFrame(), 0) : 0));
        return;
    } else if (auto* graphic = dynamic_cast<TGraphic*>(Source)) {
        if (graphic->Empty()) {
            Assign(nullptr);
            return;
        }
        Reset();
        FBitmap = std::make_unique<TBitmap>();
        FBitmap->Assign(graphic);
        if (auto* bmp = dynamic_cast<TBitmap*>(graphic))
            FBitmap->SetMonochrome(bmp->Monochrome());
        if (graphic->Transparent()) {
            if (auto* bmp = dynamic_cast<TBitmap*>(graphic))
                TransparentColor = bmp->TransparentColor();
            else
                TransparentColor = ColorToRGB(FBitmap->Canvas()->Brush()->Color());
        }
    } else if (!Source) {
        Reset();
        FBitmap.reset();
    } else {
        TPersistent::Assign(Source);
        return;
    }
    if (FOwner)
        FOwner->RecomputeScreenSize();
}

void TGIFFrame::AssignTo(TPersistent* Dest)
{
    if (dynamic_cast<TGIFFrame*>(Dest) || dynamic_cast<TGIFImage*>(Dest)) {
        Dest->Assign(this);
        return;
    }
    if (auto* graphic = dynamic_cast<TGraphic*>(Dest)) {
        graphic->Assign(Bitmap());
        if (auto* bmp = dynamic_cast<TBitmap*>(graphic); bmp && TransparentColor != clNone) {
            bmp->SetTransparentColor(ColorToRGB(TransparentColor));
            bmp->SetTransparent(true);
        }
        return;
    }
    TPersistent::AssignTo(Dest);
}

void TGIFFrame::EncodeBitmap()
{
    if (!FBitmap || FBitmap->Empty())
        RaiseGIF(SGIFNoData);
    std::unique_ptr<TMemoryStream> dib;
    const TPixelFormat format = FBitmap->PixelFormat();
    const int32_t ownBits = format == pf1bit ? 1 : format == pf4bit ? 4 : format == pf8bit ? 8 : 0;
    if (ownBits > 0 && FBitmap->BytesPerScanLine() == GIFRowSize(ownBits, FBitmap->Width())) {
        // The bitmap's own rows already have the layout the encoder takes.
        EncodeRows(FBitmap->Bits(), FBitmap->Width(), FBitmap->Height(), ownBits, FBitmap->PaletteEntries());
        return;
    }
    if (ownBits > 0)
        dib = PixelFormatConvert(*FBitmap, format, DefaultReductionMethod);
    else
        dib = PixelFormatConvert(*FBitmap, pf8bit, GrayReduce ? rmGray : DefaultReductionMethod);
    if (!dib || dib->Size() == 0) {
        dib = std::make_unique<TMemoryStream>();
        FBitmap->SaveToStream(*dib);
    }
    if (dib->Size() < BitmapFileHeaderSize + BitmapInfoHeaderSize)
        RaiseGIF(SGIFEncodeError);
    const uint8_t* p = dib->Memory();
    const TBitmapInfoHeader header = ReadBitmapInfoHeader(p + BitmapFileHeaderSize);
    int32_t colors;
    switch (header.biBitCount) {
    case 1: colors = 2; break;
    case 4: colors = 16; break;
    case 8: colors = 256; break;
    default: RaiseGIF(SGIFEncodeError);
    }
    const int32_t width = header.biWidth, height = std::abs(header.biHeight);
    const uint32_t pixelOffset = GetU32LE(p + 10);
    const int64_t rowSize = GIFRowSize(header.biBitCount, width);
    if (int64_t(pixelOffset) + rowSize * height > dib->Size() ||
        BitmapFileHeaderSize + BitmapInfoHeaderSize + 4 * colors > dib->Size())
        RaiseGIF(SGIFEncodeError);
    const uint8_t* table = p + BitmapFileHeaderSize + BitmapInfoHeaderSize;
    std::vector<TPaletteEntry> entries(static_cast<size_t>(colors));
    for (int32_t i = 0; i < colors; ++i)
        entries[size_t(i)] = TPaletteEntry{table[4 * i + 2], table[4 * i + 1], table[4 * i], 0};
    EncodeRows(p + pixelOffset, width, height, header.biBitCount, entries);
}

void TGIFFrame::EncodeRows(const uint8_t* Rows, int32_t width, int32_t height, int32_t bitCount,
                           const std::vector<TPaletteEntry>& Palette)
{
    Interlaced = false;
    auto item = std::make_shared<TGIFItem>();
    item->ColorTable.Count = Min(256, 1 << bitCount);
    for (int32_t i = 0; i < item->ColorTable.Count && i < int32_t(Palette.size()); ++i) {
        item->ColorTable.Colors[i][0] = Palette[size_t(i)].peRed;
        item->ColorTable.Colors[i][1] = Palette[size_t(i)].peGreen;
        item->ColorTable.Colors[i][2] = Palette[size_t(i)].peBlue;
    }
    TGIFCoderProgress progress;
    if (FOwner && FOwner->OnProgress)
        progress = [owner = FOwner](TObject*, TGIFCoderStage s, uint8_t pc, const std::string& m) {
            owner->CoderProgress(s, pc, m);
        };
    EncodeLZW(*item->Data, TGIFBitmapInfo{width, height, bitCount}, false, progress, FOwner, Rows);
    item->BitsPerPixel = ColorBitsFor(item->ColorTable.Count);
    item->Width = width;
    item->Height = height;
    FItem = item;

    if (FOwner) {
        TGIFData& shared = *FOwner->FSharedData;
        if (shared.ColorTable.Count == 0) {
            shared.ColorTable = item->ColorTable;
            shared.BitsPerPixel = item->BitsPerPixel;
            HasLocalTable = false;
        } else {
            HasLocalTable = true;
        }
        FOwner->FScreenWidth = uint16_t(Min(65535, Max(FOwner->FScreenWidth, Position.X + width)));
        FOwner->FScreenHeight = uint16_t(Min(65535, Max(FOwner->FScreenHeight, Position.Y + height)));
    }
}

void TGIFFrame::UpdateGraphicControl()
{
    TExtension* gce = nullptr;
    for (auto& e : FExtensions)
        if (e->Kind == ekGraphicControl) {
            gce = e.get();
            break;
        }
    if (!gce && (DelayMs > 0 || TransparentColor != clNone || DisposalMethod != 0)) {
        FExtensions.push_back(std::make_unique<TExtension>());
        gce = FExtensions.back().get();
        gce->Kind = ekGraphicControl;
        gce->Header = {4, 0, 0, 0, 0, 0};
    }
    if (gce) {
        gce->Header.resize(6, 0);
        gce->Header[0] = 4;
        PutU16LE(gce->Header.data() + 2, uint16_t(Min(int32_t(DelayMs / 10), 65535)));
        const TGIFColors& table = FItem->ColorTable;
        // Keep the index the file gave while it still holds the colour: tables may hold
        // the colour more than once.
        int32_t index = -1;
        const int32_t kept = gce->Header[4];
        if (TransparentColor != clNone && (gce->Header[1] & 1) && kept < table.Count &&
            EntryColor(table, kept) == (ColorToRGB(TransparentColor) & 0xFFFFFF))
            index = kept;
        else
            index = FindColor(table, TransparentColor);
        uint8_t packed = gce->Header[1];
        if (index >= 0) {
            packed |= 1;
            gce->Header[4] = uint8_t(index);
        } else {
            packed &= uint8_t(~1);
        }
        packed = uint8_t((packed & 0xE3) | ((DisposalMethod & 7) << 2));
        gce->Header[1] = packed;
        gce->Header[5] = 0;
    }
    FExtensions.erase(std::remove_if(FExtensions.begin(), FExtensions.end(),
                                     [](const std::unique_ptr<TExtension>& e) {
                                         return e->Kind == ekComment && (!e->Data || e->Data->Count() == 0);
                                     }),
                      FExtensions.end());
    if (!FExtensions.empty() && FOwner)
        FOwner->FVersion = gv89a;
}

// Applies the frame's graphic control extensions to its fields.
void TGIFFrame::ApplyGraphicControl()
{
    DelayMs = 0;
    for (const auto& e : FExtensions) {
        if (e->Kind != ekGraphicControl || e->Header.size() < 5)
            continue;
        const uint8_t packed = e->Header[1];
        if (packed & 1) {
            if (e->Header[4] < FItem->ColorTable.Count)
                TransparentColor = EntryColor(FItem->ColorTable, e->Header[4]);
        } else {
            TransparentColor = clNone;
        }
        DelayMs = Max(int32_t(DelayMs), int32_t(GetU16LE(e->Header.data() + 2)) * 10);
        DisposalMethod = uint8_t((packed & 0x1C) >> 2);
    }
}

// ---- TGIFImage -----------------------------------------------------------------------------

TGIFImage::TGIFImage()
{
    NewImage();
    SetTransparent(true);
}

TGIFImage::~TGIFImage() = default;

void TGIFImage::NewImage()
{
    FSharedData = std::make_shared<TGIFData>();
    FFrames.clear();
    FCurrentFrame = -1;
    FBackgroundColor = clNone;
    FLoopCount = 1;
    FLoopEnabled = false;
    FVersion = gvNone;
}

TGIFFrame* TGIFImage::Frames(int32_t Index) const
{
    if (Index < 0 || Index >= Count())
        throw EListError("List index out of bounds (" + IntToStr(Index) + ")");
    return FFrames[size_t(Index)].get();
}

TGIFFrame* TGIFImage::CurrentOrFirst() const
{
    if (FFrames.empty())
        return nullptr;
    if (FCurrentFrame >= 0 && FCurrentFrame < Count())
        return FFrames[size_t(FCurrentFrame)].get();
    return FFrames[0].get();
}

TBitmap* TGIFImage::CurrentBitmap()
{
    if (FFrames.empty()) {
        FCurrentFrame = 0;
        TBitmap empty;
        Assign(&empty);
        if (FFrames.empty()) {
            FFrames.push_back(std::make_unique<TGIFFrame>(this));
        }
    }
    return CurrentOrFirst()->Bitmap();
}

int32_t TGIFImage::Width() const
{
    if (FFrames.empty() || FCurrentFrame < 0 || FCurrentFrame >= Count())
        return 0;
    return FFrames[size_t(FCurrentFrame)]->Bitmap()->Width();
}

int32_t TGIFImage::Height() const
{
    if (FFrames.empty() || FCurrentFrame < 0 || FCurrentFrame >= Count())
        return 0;
    return FFrames[size_t(FCurrentFrame)]->Bitmap()->Height();
}

void TGIFImage::SetWidth(int32_t) { RaiseGIF(SGIFCannotResize); }
void TGIFImage::SetHeight(int32_t) { RaiseGIF(SGIFCannotResize); }

bool TGIFImage::Empty() const
{
    if (FFrames.empty())
        return true;
    const int32_t index = FCurrentFrame >= 0 && FCurrentFrame < Count() ? FCurrentFrame : 0;
    const TGIFFrame& frame = *FFrames[size_t(index)];
    if (frame.FBitmap)
        return false;
    return !frame.HasEncodedData();
}

HPALETTE TGIFImage::Palette() const
{
    if (FFrames.empty())
        return nullptr;
    return const_cast<TGIFImage*>(this)->CurrentBitmap()->Palette();
}

bool TGIFImage::Transparent() const
{
    if (!TGraphic::Transparent())
        return false;
    for (const auto& f : FFrames)
        if (f->TransparentColor != clNone)
            return true;
    return false;
}

bool TGIFImage::Equals(const TGraphic* Graphic) const
{
    auto* other = dynamic_cast<const TGIFImage*>(Graphic);
    return other && other->FSharedData == FSharedData;
}

void TGIFImage::Draw(TCanvas& ACanvas, const TRect& Rect)
{
    if (FCurrentFrame < 0)
        return;
    TGIFFrame* frame = CurrentOrFirst();
    if (!frame)
        return;
    TBitmap* bitmap = frame->Bitmap();
    if (frame->TransparentColor != clNone && Transparent())
        DrawBitmapRectKeyed(ACanvas, Rect.Left, Rect.Top, Rect.Right - Rect.Left, Rect.Bottom - Rect.Top,
                            kv::Rect(0, 0, bitmap->Width(), bitmap->Height()), *bitmap, frame->TransparentColor);
    else
        ACanvas.StretchDraw(Rect, bitmap);
}

void TGIFImage::CoderProgress(TGIFCoderStage Stage, uint8_t Percent, const std::string& Msg)
{
    Progress(this, TProgressStage(Stage), Percent, false, TRect{}, Msg);
}

void TGIFImage::RecomputeScreenSize()
{
    int32_t w = 0, h = 0;
    for (const auto& f : FFrames) {
        int32_t fw = f->FItem->Width, fh = f->FItem->Height;
        if (f->FBitmap && !f->FBitmap->Empty()) {
            fw = f->FBitmap->Width();
            fh = f->FBitmap->Height();
        }
        w = Max(w, f->Position.X + fw);
        h = Max(h, f->Position.Y + fh);
    }
    FScreenWidth = uint16_t(Min(65535, Max(w, 0)));
    FScreenHeight = uint16_t(Min(65535, Max(h, 0)));
}

int32_t TGIFImage::AddFrame(TGraphic* Value)
{
    auto frame = std::make_unique<TGIFFrame>(this);
    TGIFFrame* f = frame.get();
    FFrames.push_back(std::move(frame));
    try {
        f->Assign(Value);
    } catch (...) {
        FFrames.pop_back();
        throw;
    }
    FCurrentFrame = Count() - 1;
    if (FVersion == gvNone)
        FVersion = gv87a;
    if (Count() >= 2)
        FVersion = gv89a;
    return FCurrentFrame;
}

void TGIFImage::Assign(TPersistent* Source)
{
    if (Source == this)
        return;
    if (auto* src = dynamic_cast<TGIFImage*>(Source)) {
        FSharedData = src->FSharedData;
        FVersion = src->FVersion;
        FBackgroundColor = src->FBackgroundColor;
        FLoopCount = src->FLoopCount;
        FLoopEnabled = src->FLoopEnabled;
        FFrames.clear();
        for (const auto& sf : src->FFrames) {
            auto frame = std::make_unique<TGIFFrame>(this);
            frame->FItem->BitsPerPixel = sf->FItem->BitsPerPixel;
            frame->Assign(sf.get());
            frame->HasLocalTable = sf->HasLocalTable;
            FFrames.push_back(std::move(frame));
        }
        FScreenWidth = src->FScreenWidth;
        FScreenHeight = src->FScreenHeight;
        FCurrentFrame = src->FCurrentFrame;
        Changed(this);
        return;
    }
    if (auto* frame = dynamic_cast<TGIFFrame*>(Source)) {
        std::shared_ptr<TGIFData> from = frame->Owner() ? frame->Owner()->FSharedData : nullptr;
        NewImage();
        if (from) {
            FSharedData->PixelAspect = from->PixelAspect;
            FSharedData->BitsPerPixel = from->BitsPerPixel;
            FSharedData->ColorTable = from->ColorTable;
        }
        FFrames.push_back(std::make_unique<TGIFFrame>(this));
        FFrames.back()->Assign(frame);
        FCurrentFrame = 0;
        if (FVersion == gvNone)
            FVersion = gv87a;
        Changed(this);
        return;
    }
    if (auto* bmp = dynamic_cast<TBitmap*>(Source)) {
        NewImage();
        AddFrame(bmp);
        Changed(this);
        return;
    }
    if (auto* cursor = dynamic_cast<TAnimatedCursorImage*>(Source)) {
        NewImage();
        FBackgroundColor = clWindow;
        for (int32_t i = 0; i < cursor->FrameCount(); ++i) {
            TIconFrame* icon = cursor->Frames(i);
            const int32_t index = AddFrame(icon->Icon());
            // Sixtieths of a second to milliseconds, in 64 bits: a hostile rate must not
            // wrap; the writer clamps the delay to the file's 16-bit field.
            FFrames[size_t(index)]->DelayMs =
                uint32_t(std::min<int64_t>(int64_t(icon->JiffRate()) * 100 / 6, UINT32_MAX));
        }
        Changed(this);
        return;
    }
    if (!Source) {
        NewImage();
        Changed(this);
        return;
    }
    TGraphic::Assign(Source);
}

void TGIFImage::AssignTo(TPersistent* Dest)
{
    if (auto* gif = dynamic_cast<TGIFImage*>(Dest)) {
        gif->Assign(this);
        return;
    }
    if (auto* graphic = dynamic_cast<TGraphic*>(Dest)) {
        if (Empty())
            graphic->Assign(nullptr);
        else if (FCurrentFrame < 0)
            graphic->Assign(CurrentBitmap());
        else
            CurrentOrFirst()->AssignTo(graphic);
        return;
    }
    TGraphic::AssignTo(Dest);
}

// ---- Reading ---------------------------------------------------------------------------------

void TGIFImage::LoadFromStream(TStream& Stream) { ReadGIFStream(Stream.Size() - Stream.Position(), Stream, true); }

void TGIFImage::ReadData(TStream& Stream)
{
    const uint32_t count = Stream.ReadU32LE();
    if (int64_t(count) > Stream.Size() - Stream.Position())
        throw EReadError("Stream read error");
    ReadGIFStream(count, Stream, true);
}

namespace {

using TExtensionList = std::vector<std::unique_ptr<TExtension>>;

// Graphic control: the fields when the block holds them, then any sub-blocks up to the
// terminator; a block too short for its fields is dropped.
std::unique_ptr<TExtension> ReadGraphicControl(TGIFReader& r)
{
    const uint8_t size = r.U8();
    const uint8_t* fields = r.Bytes(size);
    r.SubBlocks(nullptr);
    if (size < 4)
        return nullptr;
    auto ext = std::make_unique<TExtension>();
    ext->Kind = ekGraphicControl;
    ext->Header = {4, fields[0], fields[1], fields[2], fields[3], 0};
    return ext;
}

std::unique_ptr<TExtension> ReadComment(TGIFReader& r)
{
    auto ext = std::make_unique<TExtension>();
    ext->Kind = ekComment;
    ext->Data = std::make_unique<TStringList>();
    r.SubBlocks([&](const uint8_t* p, int32_t n) { ext->Data->Add(std::string(p, p + n)); });
    return ext;
}

// A block of a fixed-size header and sub-blocks, passed over (plain text).
void SkipBlock(TGIFReader& r)
{
    const uint8_t size = r.U8();
    r.Bytes(size);
    r.SubBlocks(nullptr);
}

// An application block; true with Count when it is a looping block (NETSCAPE2.0 or
// ANIMEXTS1.0 whose first sub-block is 1 and a 16-bit count).
bool ReadLoopCount(TGIFReader& r, uint16_t& Count)
{
    const uint8_t size = r.U8();
    const uint8_t* id = r.Bytes(size);
    std::vector<uint8_t> first;
    bool seenFirst = false;
    r.SubBlocks([&](const uint8_t* p, int32_t n) {
        if (!seenFirst)
            first.assign(p, p + n);
        seenFirst = true;
    });
    if (size != 11 || !(SameBytes(id, "NETSCAPE2.0", 11) || SameBytes(id, "ANIMEXTS1.0", 11)) || first.size() < 3 ||
        first[0] != 1)
        return false;
    Count = uint16_t(Min(int32_t(MaxLoopCount), int32_t(GetU16LE(first.data() + 1))));
    return true;
}

// What follows an image: zero bytes are passed over; the end of the input stands for the
// trailer, and anything but a block introducer or the trailer for 0 (the end of reading).
uint8_t IntroAfterImage(TGIFReader& r)
{
    uint8_t intro = 0;
    while (!r.AtEnd() && intro == 0)
        intro = r.U8();
    if (intro == 0 && r.AtEnd())
        intro = Trailer;
    if (intro != ExtensionIntroducer && intro != ImageIntroducer && intro != Trailer)
        intro = 0;
    return intro;
}

} // namespace

// "GIF" and "87a" or "89a" (any letter case), the logical screen and its colour table.
void TGIFImage::ReadScreen(TGIFReader& r)
{
    const uint8_t* sig = r.Bytes(6);
    auto same = [](const uint8_t* p, const char* s) {
        for (int i = 0; i < 3; ++i)
            if (std::tolower(p[i]) != s[i])
                return false;
        return true;
    };
    if (!same(sig, "gif"))
        RaiseGIF(SGIFUnknownVersion);
    if (same(sig + 3, "87a"))
        FVersion = gv87a;
    else if (same(sig + 3, "89a"))
        FVersion = gv89a;
    else
        RaiseGIF(SGIFUnknownVersion);

    FScreenWidth = r.U16();
    FScreenHeight = r.U16();
    const uint8_t packed = r.U8();
    const uint8_t background = r.U8();
    TGIFData& shared = *FSharedData;
    shared.PixelAspect = r.U8();
    shared.BitsPerPixel = uint8_t((packed & 7) + 1);
    if (packed & 0x80) {
        shared.ColorTable.Count = 1 << shared.BitsPerPixel;
        std::memcpy(shared.ColorTable.Colors, r.Bytes(3 * shared.ColorTable.Count),
                    size_t(3 * shared.ColorTable.Count));
        if (background < shared.ColorTable.Count)
            FBackgroundColor = EntryColor(shared.ColorTable, background);
    }
}

// One extension after its introducer. Graphic controls and comments are collected for
// the next image; a plain-text block discards what was collected.
void TGIFImage::ReadExtension(TGIFReader& r, TExtensionList& Collected)
{
    const uint8_t label = r.U8();
    std::unique_ptr<TExtension> ext;
    uint16_t loops = 0;
    switch (label) {
    case 0xF9: ext = ReadGraphicControl(r); break;
    case 0xFE: ext = ReadComment(r); break;
    case 0x01:
        SkipBlock(r);
        Collected.clear();
        break;
    case 0xFF:
        if (ReadLoopCount(r, loops)) {
            FLoopEnabled = true;
            FLoopCount = loops;
        }
        break;
    default: {
        char text[128];
        std::snprintf(text, sizeof text, SGIFUnknownExtension, unsigned(label));
        throw EInvalidGraphicOperation(text);
    }
    }
    if (ext)
        Collected.push_back(std::move(ext));
}

// An image after its introducer, taking the extensions collected for it.
void TGIFImage::ReadFrame(TGIFReader& r, TExtensionList& Collected)
{
    auto frame = std::make_unique<TGIFFrame>(this);
    if (FSharedData->ColorTable.Count > 0)
        frame->FItem->BitsPerPixel = ExactColorBits(FSharedData->ColorTable.Count);
    frame->FExtensions = std::move(Collected);
    Collected.clear();
    ReadImage(r, *frame);
    FFrames.push_back(std::move(frame));
}

// Comments collected with no image after them become the picture's comment.
void TGIFImage::TakeComments(TExtensionList& Collected)
{
    TStringList& comment = FSharedData->Comment;
    for (const auto& e : Collected) {
        if (e->Kind != ekComment || !e->Data)
            continue;
        if (comment.Count() > 0)
            comment.Add("\r\n\r\n");
        for (int32_t i = 0; i < e->Data->Count(); ++i)
            comment.Add(e->Data->Strings(i));
    }
    Collected.clear();
}

// The first frame is decoded at once; one that cannot be is dropped and the error passed on.
void TGIFImage::DecodeFirstFrame()
{
    try {
        FFrames[0]->Bitmap();
    } catch (...) {
        FFrames.erase(FFrames.begin());
        if (FFrames.empty())
            FCurrentFrame = -1;
        throw;
    }
}

void TGIFImage::ReadGIFStream(int64_t Length, TStream& Stream, bool DecodeFirst)
{
    NewImage();
    if (Length <= 0) {
        Changed(this);
        return;
    }
    if (Length > Stream.Size() - Stream.Position())
        throw EReadError("Stream read error");
    std::vector<uint8_t> bytes(static_cast<size_t>(Length));
    Stream.ReadBuffer(bytes.data(), Length);
    TGIFReader r(bytes.data(), Length);
    ReadScreen(r);

    TExtensionList collected;
    uint8_t intro = r.NextOr(Trailer);
    while (intro != 0 && intro != Trailer) {
        for (; intro == ExtensionIntroducer; intro = r.NextOr(Trailer))
            ReadExtension(r, collected);
        if (intro == ImageIntroducer) {
            ReadFrame(r, collected);
            intro = IntroAfterImage(r);
        } else if (FSharedData->Comment.Count() == 0 && !collected.empty()) {
            TakeComments(collected);
        } else if (intro != 0 && intro != Trailer) {
            throw EReadError("Stream read error");
        }
    }

    if (!FFrames.empty()) {
        FCurrentFrame = 0;
        if (DecodeFirst)
            DecodeFirstFrame();
    }
    SetModified(true);
    Changed(this);
}

void TGIFImage::ReadImage(TGIFReader& r, TGIFFrame& Frame)
{
    TGIFItem& item = *Frame.FItem;
    const uint16_t left = r.U16(), top = r.U16();
    int32_t width = r.U16(), height = r.U16();
    const uint8_t packed = r.U8();
    Frame.Interlaced = (packed & 0x40) != 0;
    if (packed & 0x80) {
        item.BitsPerPixel = uint8_t((packed & 7) + 1);
        Frame.HasLocalTable = true;
        item.ColorTable.Count = 1 << item.BitsPerPixel;
        std::memcpy(item.ColorTable.Colors, r.Bytes(3 * item.ColorTable.Count), size_t(3 * item.ColorTable.Count));
    } else {
        Frame.HasLocalTable = false;
        item.ColorTable = TGIFColors{};
    }

    // The image data is kept as it stands: code size, sub-blocks with their lengths, 0.
    TMemoryStream& data = *item.Data;
    if (r.AtEnd()) {
        Frame.DataTruncated = true;
    } else {
        // The chain is measured first so that the stream takes its size once: grown block
        // by block it would copy the data again and fault in fresh pages at each doubling.
        TGIFReader scan = r;
        int64_t total = 1;
        scan.U8();
        while (!scan.AtEnd()) {
            const uint8_t len = scan.U8();
            if (len > scan.Remaining())
                break;
            total += 1 + len;
            if (len == 0)
                break;
            scan.Bytes(len);
        }
        data.SetSize(data.Position() + total);
        data.WriteU8(r.U8());
        while (!r.AtEnd()) {
            const uint8_t len = r.U8();
            if (len > r.Remaining()) {
                Frame.DataTruncated = true;
                break;
            }
            data.WriteU8(len);
            if (len == 0)
                break;
            data.WriteBuffer(r.Bytes(len), len);
        }
    }
    if (Frame.DataTruncated && !AcceptCorruptedGIF)
        throw EReadError("Stream read error");

    if (width == 0)
        width = FScreenWidth;
    if (height == 0)
        height = FScreenHeight;
    Frame.Position = TPoint{left, top};
    item.Width = width;
    item.Height = height;
    if (!Frame.HasLocalTable)
        item.ColorTable = FSharedData->ColorTable;
    Frame.ApplyGraphicControl();
}

// ---- Writing ---------------------------------------------------------------------------------

void TGIFImage::SaveToStream(TStream& Stream) { WriteGIFStream(Stream, false); }
void TGIFImage::WriteData(TStream& Stream) { WriteGIFStream(Stream, true); }

void TGIFImage::WriteGIFStream(TStream& Stream, bool WithLength)
{
    if (FFrames.empty())
        RaiseGIF(SGIFNoData);
    for (auto& f : FFrames) {
        if (!f->HasEncodedData())
            f->EncodeBitmap();
        f->UpdateGraphicControl();
    }
    TGIFData& shared = *FSharedData;
    if (shared.Comment.Count() > 0)
        FVersion = gv89a;
    if (FVersion == gvNone)
        FVersion = gv87a;

    TMemoryStream out;
    out.WriteBuffer("GIF", 3);
    out.WriteBuffer(VersionStrings[FVersion], 3);
    int32_t w = 0, h = 0;
    for (const auto& f : FFrames) {
        w = Max(w, f->Position.X + f->FItem->Width);
        h = Max(h, f->Position.Y + f->FItem->Height);
    }
    FScreenWidth = uint16_t(Min(65535, Max(w, 0)));
    FScreenHeight = uint16_t(Min(65535, Max(h, 0)));
    out.WriteU16LE(FScreenWidth);
    out.WriteU16LE(FScreenHeight);
    uint8_t packed = 0, background = 0;
    if (shared.ColorTable.Count > 0) {
        const uint8_t n = ExactColorBits(shared.ColorTable.Count);
        packed = uint8_t(0x80 | ((n - 1) << 4) | ((Max(shared.BitsPerPixel, 1) - 1) & 7));
        background = uint8_t(Max(FindColor(shared.ColorTable, FBackgroundColor), 0));
    }
    out.WriteU8(packed);
    out.WriteU8(background);
    out.WriteU8(shared.PixelAspect);
    if (shared.ColorTable.Count > 0)
        out.WriteBuffer(shared.ColorTable.Colors, 3 * shared.ColorTable.Count);

    if (FLoopEnabled && Count() >= 2) {
        const uint8_t loop[19] = {0x21,
                                  0xFF,
                                  11,
                                  'N',
                                  'E',
                                  'T',
                                  'S',
                                  'C',
                                  'A',
                                  'P',
                                  'E',
                                  '2',
                                  '.',
                                  '0',
                                  3,
                                  1,
                                  uint8_t(FLoopCount),
                                  uint8_t(FLoopCount >> 8),
                                  0};
        out.WriteBuffer(loop, sizeof loop);
    }

    for (const auto& f : FFrames) {
        for (const auto& e : f->FExtensions) {
            out.WriteU8(ExtensionIntroducer);
            out.WriteU8(ExtensionLabels[e->Kind]);
            if (!e->Header.empty())
                out.WriteBuffer(e->Header.data(), int64_t(e->Header.size()));
            if (e->Kind != ekGraphicControl) {
                if (e->Data)
                    for (int32_t i = 0; i < e->Data->Count(); ++i) {
                        const std::string& s = e->Data->Strings(i);
                        for (size_t p = 0; p < s.size(); p += 255) {
                            const size_t len = std::min<size_t>(255, s.size() - p);
                            out.WriteU8(uint8_t(len));
                            out.WriteBuffer(s.data() + p, int64_t(len));
                        }
                    }
                out.WriteU8(0);
            }
        }
        TGIFItem& item = *f->FItem;
        out.WriteU8(ImageIntroducer);
        out.WriteU16LE(uint16_t(Min(65535, Max(f->Position.X, 0))));
        out.WriteU16LE(uint16_t(Min(65535, Max(f->Position.Y, 0))));
        out.WriteU16LE(uint16_t(Min(65535, Max(item.Width, 0))));
        out.WriteU16LE(uint16_t(Min(65535, Max(item.Height, 0))));
        uint8_t imagePacked = 0;
        if (f->HasLocalTable) {
            item.BitsPerPixel = ColorBitsFor(item.ColorTable.Count);
            imagePacked = uint8_t(0x80 | (item.BitsPerPixel - 1));
        }
        if (f->Interlaced)
            imagePacked |= 0x40;
        out.WriteU8(imagePacked);
        if (f->HasLocalTable) {
            // The table is written at its full power-of-two size, zero-padded.
            std::vector<uint8_t> table(size_t(3) << item.BitsPerPixel, 0);
            std::memcpy(table.data(), item.ColorTable.Colors, size_t(3 * Min(item.ColorTable.Count, 256)));
            out.WriteBuffer(table.data(), int64_t(table.size()));
        }
        const uint8_t* data = item.Data->Memory();
        const int64_t dataSize = item.Data->Size();
        if (WithLength)
            out.WriteBuffer(data, dataSize);
        else {
            // The frame's data, most of the file, goes straight to the stream: the
            // blocks before it leave first, gathered so that a file sees few writes.
            Stream.WriteBuffer(out.Memory(), out.Size());
            out.Clear();
            Stream.WriteBuffer(data, dataSize);
        }
        // Data cut short in the file lacks its terminator; without it the next block
        // would be read as image data.
        if (!EndsWithTerminator(data, size_t(dataSize)))
            out.WriteU8(0);
    }

    if (shared.Comment.Count() > 0) {
        out.WriteU8(ExtensionIntroducer);
        out.WriteU8(0xFE);
        for (int32_t i = 0; i < shared.Comment.Count(); ++i) {
            const std::string& s = shared.Comment.Strings(i);
            const size_t len = std::min<size_t>(255, s.size());
            out.WriteU8(uint8_t(len));
            out.WriteBuffer(s.data(), int64_t(len));
        }
        out.WriteU8(0);
    }
    out.WriteU8(Trailer);

    if (WithLength)
        Stream.WriteU32LE(uint32_t(out.Size()));
    Stream.WriteBuffer(out.Memory(), out.Size());
}

// ---- Clipboard -------------------------------------------------------------------------------

bool TGIFImage::SaveToClipboardBlock(std::vector<uint8_t>& Block)
{
    for (const auto& f : FFrames)
        if (!f->HasEncodedData())
            return false;
    TMemoryStream s;
    WriteGIFStream(s, true);
    Block = s.Bytes();
    return true;
}

void TGIFImage::SaveToClipboardFormat(TClipboardFormat& Format, std::vector<uint8_t>& Data, HPALETTE& APalette)
{
    if (FFrames.empty())
        return;
    FFrames[0]->Bitmap()->SaveToClipboardFormat(Format, Data, APalette);
    // Only a fully encoded picture also goes on the clipboard as "GIF Image".
    std::vector<uint8_t> block;
    if (SaveToClipboardBlock(block))
        Clipboard()->SetAsHandle(CF_GIFIMAGE(), block);
}

void TGIFImage::LoadFromClipboardFormat(TClipboardFormat Format, const std::vector<uint8_t>& Data, HPALETTE APalette)
{
    std::vector<uint8_t> block;
    if (Format == CF_GIFIMAGE())
        block = Data;
    else if (Clipboard()->HasFormat(CF_GIFIMAGE()))
        block = Clipboard()->GetAsHandle(CF_GIFIMAGE());
    const bool clipboardBitmap = Clipboard()->HasFormat(CF_BITMAP);
    // Another process wrote the block: its byte count must fit inside it.
    const bool usable = block.size() >= 4 && GetU32LE(block.data()) <= block.size() - 4;
    if (!block.empty() || Format == CF_GIFIMAGE()) {
        if (usable) {
            TReadOnlyMemoryStream s(block.data() + 4, int64_t(block.size()) - 4);
            ReadGIFStream(GetU32LE(block.data()), s, false);
            if (!FFrames.empty()) {
                FCurrentFrame = 0;
                if (clipboardBitmap) {
                    auto bitmap = std::make_unique<TBitmap>();
                    bitmap->Assign(Clipboard());
                    if (!bitmap->Empty())
                        FFrames[0]->FBitmap = std::move(bitmap);
                }
            }
            return;
        }
        if (!clipboardBitmap)
            throw EReadError("Stream read error");
        TBitmap bitmap;
        bitmap.Assign(Clipboard());
        Assign(&bitmap);
        return;
    }
    TBitmap bitmap;
    bitmap.LoadFromClipboardFormat(Format, Data, APalette);
    Assign(&bitmap);
}

// ---- Unit start-up -----------------------------------------------------------------------------

TClipboardFormat CF_GIFIMAGE()
{
    static const TClipboardFormat format = RegisterClipboardFormat("GIF Image");
    return format;
}

namespace {
int InitCount = 0;
const TGraphicClass& GIFClass()
{
    static const TGraphicClass cls{"TGIFImage", [] { return std::unique_ptr<TGraphic>(new TGIFImage()); }};
    return cls;
}
} // namespace

void InitializeKvGIF()
{
    if (InitCount++ > 0)
        return;
    TPicture::RegisterFileFormat("gif", "CompuServe GIF Image", GIFClass());
    TPicture::RegisterClipboardFormat(CF_GIFIMAGE(), GIFClass());
}

void FinalizeKvGIF()
{
    if (InitCount == 0 || --InitCount > 0)
        return;
    TPicture::UnregisterGraphicClass("TGIFImage");
}

} // namespace kv
