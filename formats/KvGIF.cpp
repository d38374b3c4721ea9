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
constexpr int32_t EncoderHashSize = 17777;
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
    explicit TCodeWriter(std::vector<uint8_t>& out) : FOut(out) {}
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
    std::vector<uint8_t>& FOut;
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
        std::vector<uint16_t> prefix(MaxLZWCodes, 0), suffix(MaxLZWCodes, 0), stack(LZWStackSize + 2, 0);
        uint32_t oldCode = 0, firstChar = 0;
        // Data may legally start without a clear code: the first code is then taken
        // like the one after a clear (stored, no entry made).
        bool afterClear = true, tableFull = false;

        TRowWalker walker(Info, Interlaced, Pixels);
        TCodeReader reader(Data + 1, Size - 1);
        uint32_t code = 0;
        while (!walker.Done()) {
            if (!reader.Read(codeSize, code)) {
                DataTruncated = true;
                break;
            }
            reporter.Running(reader.Position() + 1, Size);
            if (code == endCode)
                break;
            if (code == clearCode) {
                codeSize = minCodeSize + 1;
                limit = 1u << codeSize;
                nextFree = firstFree;
                tableFull = false;
                afterClear = true;
                continue;
            }
            if (afterClear) {
                oldCode = code;
                firstChar = code & pixelMask;
                walker.PutPixel(firstChar);
                afterClear = false;
                continue;
            }
            const uint32_t incoming = code;
            int32_t sp = 0;
            if (code >= nextFree) {
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
            if (Info.BitCount == 8 && !Interlaced) {
                // Whole runs inside the current row go straight into it.
                while (sp > 0 && !walker.Done()) {
                    int32_t run = Min(sp, walker.Width - walker.Column);
                    uint8_t* dst = walker.RowStart + walker.Column;
                    for (int32_t i = 0; i < run; ++i)
                        dst[i] = uint8_t(stack[sp - 1 - i]);
                    sp -= run;
                    walker.Column += run;
                    if (walker.Column >= walker.Width)
                        walker.NextRow();
                }
            } else {
                while (sp > 0)
                    walker.PutPixel(stack[--sp]);
            }
            if (!tableFull) {
                prefix[nextFree] = uint16_t(oldCode);
                suffix[nextFree] = uint16_t(firstChar);
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

struct TLZWNode {
    uint16_t Prefix;
    uint16_t Code;
    uint8_t Suffix;
    uint8_t Spare;
};
static_assert(sizeof(TLZWNode) == 6, "one node of the encoder's pool is 6 bytes");

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

        std::vector<uint8_t> out;
        out.reserve(size_t(Min(1 << 24, int32_t(Max(Info.Width, 1)) * Max(Info.Height, 1) / 2 + 64)));
        out.push_back(uint8_t(minCodeSize));
        TCodeWriter writer(out);
        writer.Write(clearCode, codeSize);

        std::vector<int16_t> slots(EncoderHashSize, -1);
        std::vector<TLZWNode> nodes(MaxLZWCodes);
        uint32_t prefixCode = 0;
        int32_t hash = 0;
        uint16_t stringLength = 0;

        TRowWalker walker(Info, Interlaced, const_cast<uint8_t*>(Pixels));
        int32_t rowsDone = 0;
        while (Info.Width > 0 && !walker.Done()) {
            for (int32_t x = 0; x < Info.Width; ++x) {
                const uint32_t pixel = walker.GetPixel(x);
                ++stringLength;
                if (stringLength == 1) {
                    prefixCode = pixel;
                    hash = int32_t(pixel + 3) * 301;
                    continue;
                }
                hash = (int32_t(pixel + stringLength + 4) * hash) % EncoderHashSize;
                int32_t slot = hash;
                for (;;) {
                    const int32_t n = slots[slot];
                    if (n < 0) {
                        writer.Write(prefixCode, codeSize);
                        ++nextCode;
                        nodes[nextCode] = TLZWNode{uint16_t(prefixCode), uint16_t(nextCode), uint8_t(pixel), 0};
                        slots[slot] = int16_t(nextCode);
                        prefixCode = pixel;
                        hash = int32_t(pixel + 3) * 301;
                        stringLength = 1;
                        if (nextCode >= limit) {
                            limit <<= 1;
                            ++codeSize;
                        } else if (nextCode >= uint32_t(EncoderClearAt)) {
                            writer.Write(prefixCode, codeSize);
                            writer.Write(clearCode, codeSize);
                            stringLength = 0;
                            nextCode = endCode;
                            codeSize = initCodeSize;
                            limit = initLimit;
                            std::fill(slots.begin(), slots.end(), int16_t(-1));
                        }
                        break;
                    }
                    const TLZWNode& node = nodes[size_t(n)];
                    if (node.Prefix == prefixCode && node.Suffix == pixel) {
                        prefixCode = node.Code;
                        break;
                    }
                    if (++slot == EncoderHashSize)
                        slot = 0;
                }
            }
            walker.NextRow();
            reporter.Running(++rowsDone, Info.Height);
        }
        // The pending string is written only when there is one: a clear that fell on the
        // last pixel has already written it.
        if (stringLength > 0) {
            writer.Write(prefixCode, codeSize);
            // That last code makes the decoder add one more entry; when the entry fills
            // the width, it reads the end code one bit wider, so write it that wide.
            if (nextCode + 1 == limit && codeSize < 12)
                ++codeSize;
        }
        writer.Write(endCode, codeSize);
        writer.Finish();
        Dest.WriteBuffer(out.data(), int64_t(out.size()));
    });
}

} // namespace kv
