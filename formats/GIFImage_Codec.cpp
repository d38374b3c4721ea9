// GIFImage: the image-data block. One LZW decoder for reading; an LZW encoder with a
// hashed string table and a run-length encoder (codes any GIF decoder expands without
// real strings) for writing, both packing bytes into sub-blocks through TGIFWriter.
#include "formats/GIFImage.h"

#include <algorithm>
#include <cstring>

namespace kv::GIFImage {

namespace {

constexpr int32_t TableSize = 4096;
constexpr const char* sInvalidData = "Invalid GIF data";
constexpr const char* sPrematureEnd = "Premature end of data";
constexpr const char* sUndefinedCode = "Undefined decoder table entry";
// What ProcessCode returns instead of a pixel: the bytes ran out, an end code came, or a
// code named no string (past the next free one, or a string code right after a clear).
constexpr int32_t OutOfData = -1, EndOfData = -2, UndefinedCode = -3;

// The decoder keeps its tables, stack and bit buffer in one object for the whole decode
// and refills the bit buffer one sub-block at a time.
//
// Speed: an entry whose whole prefix chain existed when it was made is "settled": its
// string cannot change before the next clear code, so it keeps its length and first
// byte and is written straight into the picture: copied from an earlier place where the
// same string was written whole (Where), or else from its last byte back along the
// chain. Only corrupt data makes entries on codes that did not exist yet; those can
// change later or loop, and go the careful way through the stack, which catches the
// loops. Both ways give the same bytes.
class TGIFDecoder {
public:
    TGIFDecoder(TStream& AStream, const std::function<void(const std::string&)>& AWarn) : S(AStream), Warn(AWarn) {}

    void Setup(int32_t AInitialCodeSize)
    {
        InitialCodeSize = AInitialCodeSize;
        CodeSize = InitialCodeSize + 1;
        ClearCode = 1 << InitialCodeSize;
        EndCode = ClearCode + 1;
        MaxCodeSize = 2 * ClearCode;
        MaxCode = ClearCode + 2;
        CurBit = LastBit = 0;
        LastByte = 2;
        ZeroBlock = Done = false;
        ReturnClear = true;
        SP = 0;
        std::memset(Buf, 0, sizeof(Buf));
        // The roots never change. The clear and end codes have prefix 0 and suffix 0, so
        // a chain through them reads two zero bytes. Every other entry starts empty
        // (all zero) and is emptied again by each clear code.
        for (int32_t i = 0; i < ClearCode; ++i) {
            Prefix[i] = 0;
            Suffix[i] = uint16_t(i);
            Length[i] = 1;
            First[i] = uint16_t(i);
        }
        Length[ClearCode] = Length[EndCode] = 2;
        First[ClearCode] = First[EndCode] = 0;
        Where[ClearCode] = Where[EndCode] = nullptr;
    }

    // Fills Count pixels; false when the data ended early or is damaged, which always
    // gives a warning: pixels were wanted, so the end of the data came too soon.
    bool ReadPixels(uint8_t* Out, int64_t Count)
    {
        uint8_t* p = Out;
        uint8_t* const end = Out + Count;
        while (p < end) {
            if (SP > 0) {
                int64_t n = std::min<int64_t>(SP, end - p);
                for (int64_t k = 0; k < n; ++k)
                    *p++ = uint8_t(Stack[--SP]);
                continue;
            }
            int32_t code;
            p = FastRun(p, end, code);
            if (p == end)
                break;
            // A code the fast run leaves: clear, end, unsettled, too long for the space
            // left, or the end of the data.
            LastEmit = nullptr;
            code = ProcessCode(code);
            if (code < 0) {
                if (code == UndefinedCode)
                    Warning(sUndefinedCode);
                else if (!Warned)
                    Warning(sPrematureEnd);
                return false;
            }
            *p++ = uint8_t(code);
        }
        return true;
    }

    // Consumes the end code and whatever sub-blocks are left, whatever state the data
    // is in, so that the block reader continues after the terminator.
    void Finish()
    {
        SP = 0;
        // After an end code the sub-blocks were read to their terminator: reading again
        // would take the next block's bytes for image data.
        if (!Ended) {
            try {
                ReadCode();
            } catch (const GIFException&) {
            }
        }
        if (!ZeroBlock && !AtEndOfStream)
            SkipBlocks();
    }

private:
    int32_t ReadCode()
    {
        if (SP > 0)
            return Stack[--SP];
        return ProcessCode(NextCode(CodeSize));
    }

    // Writes the strings of settled codes until a code needs the careful way (handed back
    // in Pending, not yet acted on) or the space is full. The state lives in locals here:
    // every byte written could otherwise alias it.
    uint8_t* FastRun(uint8_t* p, uint8_t* const end, int32_t& Pending)
    {
        if (ReturnClear) {
            Pending = NextCode(CodeSize);
            return p;
        }
        const int32_t clearCode = ClearCode, endCode = EndCode;
        int32_t curBit = CurBit, lastBit = LastBit, codeSize = CodeSize;
        int32_t maxCode = MaxCode, maxCodeSize = MaxCodeSize, oldCode = OldCode, firstCode = FirstCode;
        uint8_t* lastEmit = LastEmit;
        int32_t code = 0; // only read back when the loop stopped on a code
        while (p < end) {
            if (curBit + codeSize <= lastBit) {
                code = TakeCode(curBit, codeSize);
                curBit += codeSize;
            } else {
                CurBit = curBit;
                code = NextCodeRefill(codeSize);
                curBit = CurBit;
                lastBit = LastBit;
            }
            if (code == clearCode || code == endCode || code < 0 || code > maxCode)
                break;
            const bool known = code < maxCode;
            const int32_t base = known ? code : oldCode;
            const int32_t baseLen = Length[base];
            const int32_t len = baseLen + (known ? 0 : 1);
            if (baseLen == 0 || len > end - p)
                break;
            if (base < clearCode)
                *p = uint8_t(base);
            else if (Where[base])
                CopyString(p, Where[base], baseLen);
            else
                WalkChain(p + baseLen - 1, base, clearCode);
            const int32_t newFirst = First[base];
            // The bytes written are the string of entry code itself, so later entries may
            // copy them, unless the code was not in the table and the byte added (the
            // previous first byte) differs from the one its entry is given.
            bool whole = true;
            if (!known) {
                p[baseLen] = uint8_t(firstCode);
                whole = code == maxCode && maxCode < TableSize && uint8_t(firstCode) == uint8_t(newFirst);
            }
            if (maxCode < TableSize) {
                Prefix[maxCode] = uint16_t(oldCode);
                Suffix[maxCode] = uint16_t(newFirst);
                const int32_t oldLen = Length[oldCode];
                Length[maxCode] = oldLen ? uint16_t(oldLen + 1) : 0;
                First[maxCode] = oldLen ? First[oldCode] : 0;
                // The previous string (that of oldCode) and this one's first byte lie
                // side by side when both were written here in a row.
                Where[maxCode] = (lastEmit && lastEmit + oldLen == p) ? lastEmit : nullptr;
                ++maxCode;
                if (maxCode >= maxCodeSize && maxCodeSize <= 4095) {
                    maxCodeSize *= 2;
                    ++codeSize;
                }
            }
            lastEmit = whole ? p : nullptr;
            firstCode = newFirst;
            oldCode = code;
            p += len;
        }
        Pending = code;
        CurBit = curBit;
        CodeSize = codeSize;
        MaxCode = maxCode;
        MaxCodeSize = maxCodeSize;
        OldCode = oldCode;
        FirstCode = firstCode;
        LastEmit = lastEmit;
        return p;
    }

    // Copies Count (1 or more) bytes between places that never overlap: what was written
    // before to what is written now. Reads and writes stay within the two ranges.
    static void CopyString(uint8_t* Dest, const uint8_t* Source, int32_t Count)
    {
        if (Count >= 8) {
            if (Count > 16) {
                std::memcpy(Dest, Source, size_t(Count));
                return;
            }
            uint64_t a, b;
            std::memcpy(&a, Source, 8);
            std::memcpy(&b, Source + Count - 8, 8);
            std::memcpy(Dest, &a, 8);
            std::memcpy(Dest + Count - 8, &b, 8);
        } else if (Count >= 4) {
            uint32_t a, b;
            std::memcpy(&a, Source, 4);
            std::memcpy(&b, Source + Count - 4, 4);
            std::memcpy(Dest, &a, 4);
            std::memcpy(Dest + Count - 4, &b, 4);
        } else if (Count >= 2) {
            uint16_t a, b;
            std::memcpy(&a, Source, 2);
            std::memcpy(&b, Source + Count - 2, 2);
            std::memcpy(Dest, &a, 2);
            std::memcpy(Dest + Count - 2, &b, 2);
        } else {
            *Dest = *Source;
        }
    }

    // A settled string from its last byte (at Last) back to its root.
    void WalkChain(uint8_t* Last, int32_t Code, int32_t AClearCode)
    {
        while (Code >= AClearCode) {
            *Last-- = uint8_t(Suffix[Code]);
            Code = Prefix[Code];
        }
        *Last = uint8_t(Code);
    }

    void AddEntry()
    {
        if (MaxCode >= TableSize)
            return;
        Prefix[MaxCode] = uint16_t(OldCode);
        Suffix[MaxCode] = uint16_t(FirstCode);
        // Entries at or above MaxCode have length 0, so this settles only on settled codes.
        Length[MaxCode] = Length[OldCode] ? uint16_t(Length[OldCode] + 1) : 0;
        First[MaxCode] = Length[OldCode] ? First[OldCode] : 0;
        Where[MaxCode] = nullptr;
        ++MaxCode;
        if (MaxCode >= MaxCodeSize && MaxCodeSize <= 4095) {
            MaxCodeSize *= 2;
            ++CodeSize;
        }
    }

    void Push(int32_t Value)
    {
        // A table that loops back on itself would otherwise run past the stack.
        if (SP >= TableSize)
            throw GIFException("Circular decoder table entry");
        Stack[SP++] = uint16_t(Value);
    }

    void Warning(const std::string& Message)
    {
        Warned = true;
        Warn(Message);
    }

    // The end code: the rest of the sub-blocks is skipped.
    int32_t SkipToEnd()
    {
        Ended = true;
        if (!ZeroBlock)
            SkipBlocks();
        return EndOfData;
    }

    void SkipBlocks()
    {
        for (;;) {
            uint8_t n;
            if (S.Read(&n, 1) != 1 || n == 0)
                break;
            int64_t left = S.Remaining();
            S.Seek(std::min<int64_t>(n, left), soCurrent);
            if (left < n)
                break;
        }
        ZeroBlock = true;
    }

    // The careful way: the string goes onto the stack (last byte first) and its first
    // byte is returned; clear and end codes and the end of the data are handled here.
    int32_t ProcessCode(int32_t code)
    {
        if (code < 0)
            return code;
        while (code != ClearCode) {
            if (code == EndCode)
                return SkipToEnd();
            if (code > MaxCode)
                return UndefinedCode;
            int32_t inCode = code;
            if (code >= MaxCode) {
                Push(FirstCode);
                code = OldCode;
            }
            while (code >= ClearCode) {
                Push(Suffix[code]);
                if (code == Prefix[code])
                    throw GIFException("Circular decoder table entry");
                code = Prefix[code];
            }
            FirstCode = Suffix[code];
            Push(FirstCode);
            AddEntry();
            OldCode = inCode;
            return Stack[--SP];
        }
        // Clear code: empty the entries made since the last one (those above were never
        // filled) and return the first code after it.
        const size_t used = size_t(MaxCode - (ClearCode + 2));
        std::memset(Prefix + ClearCode + 2, 0, sizeof(uint16_t) * used);
        std::memset(Suffix + ClearCode + 2, 0, sizeof(uint16_t) * used);
        std::memset(Length + ClearCode + 2, 0, sizeof(uint16_t) * used);
        CodeSize = InitialCodeSize + 1;
        MaxCodeSize = 2 * ClearCode;
        MaxCode = ClearCode + 2;
        SP = 0;
        do
            code = NextCode(CodeSize);
        while (code == ClearCode);
        if (code < 0)
            return code;
        if (code == EndCode)
            return SkipToEnd();
        // No string before this one: the first free code is undefined here too.
        if (code >= MaxCode)
            return UndefinedCode;
        FirstCode = OldCode = code;
        return code;
    }

    int32_t NextCode(int32_t n)
    {
        if (ReturnClear || CurBit + n > LastBit)
            return NextCodeRefill(n);
        int32_t code = TakeCode(CurBit, n);
        CurBit += n;
        return code;
    }

    // The n-bit code at bit Bit of the buffer: codes are packed from the low bit up.
    int32_t TakeCode(int32_t Bit, int32_t n) const
    {
        int32_t byte = Bit >> 3;
        uint32_t v = uint32_t(Buf[byte]) | (uint32_t(Buf[byte + 1]) << 8) | (uint32_t(Buf[byte + 2]) << 16);
        return int32_t((v >> (Bit & 7)) & ((1u << n) - 1));
    }

    // Not inlined: the fast run calls it once per sub-block.
    [[gnu::noinline]] int32_t NextCodeRefill(int32_t n)
    {
        if (ReturnClear) {
            ReturnClear = false;
            return ClearCode;
        }
        // Refill while the code is not wholly in the buffer; at most 11 bits are left
        // over, so the two carried bytes always hold them.
        while (CurBit + n > LastBit) {
            if (Done) {
                if (CurBit >= LastBit)
                    Warning("Decoder bit buffer under-run");
                return OutOfData;
            }
            Buf[0] = Buf[LastByte - 2];
            Buf[1] = Buf[LastByte - 1];
            uint8_t count;
            if (S.Read(&count, 1) != 1) {
                Done = true;
                AtEndOfStream = true;
                return OutOfData;
            }
            int64_t left = S.Remaining();
            if (count > left) {
                Warning(sPrematureEnd);
                count = uint8_t(std::max<int64_t>(0, left));
                AtEndOfStream = true;
            }
            if (count > 0)
                S.ReadBuffer(Buf + 2, count);
            else
                ZeroBlock = Done = true;
            LastByte = 2 + count;
            CurBit = CurBit - LastBit + 16;
            LastBit = 8 * LastByte;
        }
        int32_t code = TakeCode(CurBit, n);
        CurBit += n;
        return code;
    }

    TStream& S;
    const std::function<void(const std::string&)>& Warn;
    int32_t InitialCodeSize = 0, CodeSize = 0, ClearCode = 0, EndCode = 0, MaxCodeSize = 0, MaxCode = 0;
    int32_t FirstCode = 0, OldCode = 0;
    // Entries not yet made must read as prefix 0, suffix 0 and length 0. First and Where
    // are read only for settled entries, the stack only below SP: left unfilled, as a
    // decoder is made for each frame.
    uint16_t Prefix[TableSize] = {};
    uint16_t Suffix[TableSize] = {};
    uint16_t Length[TableSize] = {}; // string length of a settled entry, 0 for any other
    uint16_t First[TableSize];       // first code of a settled entry's string
    const uint8_t* Where[TableSize]; // a settled entry's string written whole, or null
    uint8_t* LastEmit = nullptr;     // the string of OldCode as written whole, or null
    uint16_t Stack[TableSize + 1];
    int32_t SP = 0;
    uint8_t Buf[2 + 255 + 3] = {};
    int32_t CurBit = 0, LastBit = 0, LastByte = 2;
    bool ZeroBlock = false, Done = false, ReturnClear = true, AtEndOfStream = false;
    bool Warned = false; // a warning was given for this image's data
    bool Ended = false;  // the end code was read
};

} // namespace

bool DecodeLZW(TStream& Stream, uint8_t* Data, int32_t Width, int32_t Height, bool Interlaced,
               const std::function<void(const std::string&)>& Warn)
{
    uint8_t codeSize;
    if (Stream.Read(&codeSize, 1) != 1)
        return Width == 0 || Height == 0;
    // Codes are at most 12 bits wide: a larger minimum size cannot be decoded, and 0
    // leaves no room for the clear and end codes.
    if (codeSize == 0 || codeSize > 11)
        throw GIFException(sInvalidData);
    auto decoder = std::make_unique<TGIFDecoder>(Stream, Warn);
    decoder->Setup(codeSize);
    bool more = true;
    try {
        if (!Interlaced) {
            more = decoder->ReadPixels(Data, int64_t(Width) * Height);
        } else {
            static const int32_t start[4] = {0, 4, 2, 1};
            static const int32_t step[4] = {8, 8, 4, 2};
            for (int pass = 0; pass < 4 && more; ++pass)
                for (int32_t row = start[pass]; row < Height && more; row += step[pass])
                    more = decoder->ReadPixels(Data + int64_t(row) * Width, Width);
        }
    } catch (...) {
        decoder->Finish();
        throw;
    }
    decoder->Finish();
    return more;
}

void DecodeSubImage(TGIFSubImage& SubImage, TStream& Stream)
{
    int64_t pixels = int64_t(SubImage.Width()) * SubImage.Height();
    // Each code (2 bits at least) expands to at most 4096 pixels: a picture larger than
    // the rest of the stream can hold is refused before anything is allocated.
    int64_t bound = std::max<int64_t>(0, Stream.Remaining()) * 4 * 4096;
    if (pixels > MaxPixelCount || pixels > bound)
        throw GIFException(sInvalidData);
    uint8_t fill = 0;
    if (SubImage.Transparent() && SubImage.GraphicControlExtension())
        fill = SubImage.GraphicControlExtension()->TransparentColorIndex();
    std::vector<uint8_t>& data = SubImage.Data();
    data.assign(size_t(pixels), fill);
    SubImage.FreeRender();
    auto warn = [&](const std::string& msg) { SubImage.Warning(1, msg); };
    SubImage.FDataTruncated = false;
    SubImage.FDataTruncated =
        !DecodeLZW(Stream, data.data(), SubImage.Width(), SubImage.Height(), SubImage.Interlaced(), warn);
}

// ---------------------------------------------------------------------------------------
// TGIFWriter

TGIFWriter::~TGIFWriter()
{
    try {
        Flush();
    } catch (...) {
        // A destructor cannot report; the encoder flushes explicitly before this.
    }
}

int64_t TGIFWriter::Read(void*, int64_t) { throw EStreamError("Invalid stream operation"); }
int64_t TGIFWriter::Seek(int64_t, TSeekOrigin) { throw EStreamError("Invalid stream operation"); }
void TGIFWriter::SetSize(int64_t) { throw EStreamError("Invalid stream operation"); }

void TGIFWriter::WriteByte(uint8_t Value)
{
    FBuffer[size_t(FCount++)] = Value;
    FWritten = true;
    if (FCount == 256) {
        FBuffer[0] = 255;
        FStream.WriteBuffer(FBuffer.data(), 256);
        FCount = 1;
    }
}

int64_t TGIFWriter::Write(const void* Buffer, int64_t Count)
{
    auto* p = static_cast<const uint8_t*>(Buffer);
    for (int64_t i = 0; i < Count; ++i)
        WriteByte(p[i]);
    return Count;
}

void TGIFWriter::Flush()
{
    if (FCount > 1) {
        FBuffer[0] = uint8_t(FCount - 1);
        FStream.WriteBuffer(FBuffer.data(), FCount);
        FCount = 1;
    }
}

// ---------------------------------------------------------------------------------------
// Encoders

namespace {

class TGIFEncoder {
public:
    virtual ~TGIFEncoder() = default;

    void Compress(TStream& Stream, int32_t ABitsPerPixel, int32_t AColorCount, const uint8_t* AData, bool AInterlaced,
                  int32_t AWidth, int32_t AHeight)
    {
        ColorCount = AColorCount;
        BitsPerPixel = std::max(2, ABitsPerPixel);
        uint8_t b = uint8_t(BitsPerPixel);
        Stream.WriteBuffer(&b, 1);
        Writer = std::make_unique<TGIFWriter>(Stream);
        InitialBits = OutputBits = BitsPerPixel + 1;
        MaxCode = (1 << OutputBits) - 1;
        ClearCode = 1 << BitsPerPixel;
        EOFCode = ClearCode + 1;
        BaseCode = ClearCode + 2;
        Width = AWidth;
        Height = AHeight;
        Interlaced = AInterlaced;
        Data = AData;
        Pixel = AData;
        PixelsLeft = Interlaced ? int64_t(Width) : int64_t(Width) * Height;
        Row = 0;
        Pass = 0;
        Finished = false;
        if (Data && Width >= 1 && Height >= 1)
            DoCompress();
        Output(EOFCode);
        Writer->Flush();
        Writer.reset();
        b = 0;
        Stream.WriteBuffer(&b, 1);
    }

protected:
    virtual void DoCompress() = 0;

    virtual void Output(int32_t Code)
    {
        if (BitCount >= 1)
            Accumulator = (uint32_t(Code) << BitCount) | (Accumulator & ((1u << BitCount) - 1));
        else
            Accumulator = uint32_t(Code);
        BitCount += OutputBits;
        while (BitCount >= 8) {
            Writer->WriteByte(uint8_t(Accumulator));
            Accumulator >>= 8;
            BitCount -= 8;
        }
        if (Code == EOFCode && BitCount > 0) {
            Writer->WriteByte(uint8_t(Accumulator));
            Accumulator = 0;
            BitCount = 0;
        }
    }

    // The next pixel in stream order, -1 when the picture is done.
    int32_t NextPixel()
    {
        if (Finished)
            return -1;
        uint8_t p = *Pixel;
        if (p >= ColorCount)
            throw GIFException("Color not in color table");
        if (--PixelsLeft > 0) {
            ++Pixel;
            return p;
        }
        if (!Interlaced) {
            Finished = true;
            return p;
        }
        PixelsLeft = Width;
        NextInterlacedRow();
        if (Row >= Height)
            Finished = true;
        else
            Pixel = Data + int64_t(Row) * Width;
        return p;
    }

    // A pass whose first row lies below the picture falls through to the next pass,
    // so that short pictures still have every row written.
    void NextInterlacedRow()
    {
        static const int32_t step[4] = {8, 8, 4, 2};
        static const int32_t start[4] = {0, 4, 2, 1};
        Row += step[Pass];
        while (Row >= Height && Pass < 3) {
            ++Pass;
            Row = start[Pass];
        }
    }

    std::unique_ptr<TGIFWriter> Writer;
    int32_t ColorCount = 0, BitsPerPixel = 0;
    uint32_t Accumulator = 0;
    int32_t BitCount = 0;
    bool ClearFlag = false;
    int32_t OutputBits = 0, InitialBits = 0, MaxCode = 0, ClearCode = 0, EOFCode = 0, BaseCode = 0;
    const uint8_t* Data = nullptr;
    const uint8_t* Pixel = nullptr;
    int64_t PixelsLeft = 0;
    int32_t Row = 0, Pass = 0, Width = 0, Height = 0;
    bool Interlaced = false, Finished = false;
};

// Open-addressed string table: an entry holds key shl 12 or code; all bits set is empty.
class THashTable {
public:
    static constexpr int32_t Size = 8009;
    static constexpr uint32_t Empty = 0xFFFFFFFF;

    void Clear() { std::memset(FTable, 0xFF, sizeof(FTable)); }

    void Insert(uint32_t Key, int32_t Code)
    {
        int32_t i = Hash(Key);
        for (int32_t probe = 0; FTable[i] != Empty; ++probe)
            i = Next(i, probe);
        FTable[i] = (Key << 12) | uint32_t(Code);
    }

    int32_t Lookup(uint32_t Key) const
    {
        int32_t i = Hash(Key);
        for (int32_t probe = 0; probe < 3 * Size; ++probe) {
            uint32_t e = FTable[i];
            if (e == Empty)
                return -1;
            if ((e >> 12) == Key)
                return int32_t(e & 0xFFF);
            i = Next(i, probe);
        }
        return -1;
    }

private:
    static int32_t Hash(uint32_t Key) { return int32_t(((Key >> 4) ^ Key) % Size); }
    // Doubling modulo 8009 visits only 4004 of the slots from a start; past that the
    // probe goes on linearly so that a full cycle can never trap insert or lookup.
    static int32_t Next(int32_t i, int32_t probe)
    {
        if (probe >= 4004)
            return (i + 1) % Size;
        if (i == 0)
            return Size - 1;
        i = 2 * i - Size;
        return i < 0 ? i + Size : i;
    }
    uint32_t FTable[Size];
};

class TLZWEncoder : public TGIFEncoder {
protected:
    void DoCompress() override
    {
        Hash = std::make_unique<THashTable>();
        Clear();
        int32_t first = NextPixel();
        Prefix = first;
        for (int32_t p = NextPixel(); p >= 0; p = NextPixel()) {
            uint32_t key = (uint32_t(Prefix) << 8) | uint32_t(p);
            int32_t code = Hash->Lookup(key);
            if (code >= 0) {
                Prefix = code;
                continue;
            }
            Output(Prefix);
            Prefix = p;
            if (NextCode >= 4095)
                Clear();
            else
                Hash->Insert(key, NextCode++);
        }
        Output(Prefix);
    }

    void Clear()
    {
        ClearFlag = true;
        Output(ClearCode);
        Hash->Clear();
        NextCode = ClearCode + 2;
    }

    void Output(int32_t Code) override
    {
        TGIFEncoder::Output(Code);
        if (ClearFlag) {
            OutputBits = InitialBits;
            MaxCode = (1 << OutputBits) - 1;
            ClearFlag = false;
        } else if (NextCode > MaxCode) {
            ++OutputBits;
            MaxCode = OutputBits == 12 ? 4096 : (1 << OutputBits) - 1;
        }
    }

private:
    std::unique_ptr<THashTable> Hash;
    int32_t Prefix = 0;
    int32_t NextCode = 0;
};

class TRLEEncoder : public TGIFEncoder {
protected:
    void DoCompress() override
    {
        OutBumpInit = ClearCode - 1;
        OutClearInit = BitsPerPixel <= 3 ? 9 : OutBumpInit - 1;
        MaxOCodes = 4095 - BaseCode;
        OutputClear();
        RunPixel = -1;
        int32_t count = 0;
        for (int32_t c = NextPixel(); c >= 0; c = NextPixel()) {
            if (count > 0 && c != RunPixel) {
                Flush(count);
                count = 0;
            }
            if (c == RunPixel)
                ++count;
            else {
                RunPixel = c;
                count = 1;
            }
        }
        Flush(count);
    }

private:
    void OutputClear()
    {
        OutBump = OutBumpInit;
        OutClear = OutClearInit;
        OutCount = 0;
        RunTableMax = 0;
        ClearFlag = true;
        Output(ClearCode);
        OutputBits = InitialBits;
    }

    void OutputPlain(int32_t Code)
    {
        ClearFlag = false;
        Output(Code);
        ++OutCount;
        if (OutCount >= OutBump) {
            ++OutputBits;
            OutBump += 1 << (OutputBits - 1);
        }
        if (OutCount >= OutClear)
            OutputClear();
    }

    static int32_t ISqrt(int32_t X)
    {
        if (X < 2)
            return X;
        int32_t r = 1;
        for (int32_t v = X; v > 0; v >>= 2)
            r *= 2;
        for (;;) {
            int32_t v = (X / r + r) / 2;
            if (v == r || v == r + 1)
                return r;
            r = v;
        }
    }

    static int32_t TriangleCount(int32_t Count, int32_t N)
    {
        int32_t perRep = N * (N + 1) / 2;
        int32_t cost = 0;
        while (Count >= perRep) {
            cost += N;
            Count -= perRep;
        }
        if (Count > 0) {
            int32_t k = ISqrt(Count);
            while (k * (k + 1) >= 2 * Count)
                --k;
            while (k * (k + 1) < 2 * Count)
                ++k;
            cost += k;
        }
        return cost;
    }

    void FlushFromClear(int32_t Count)
    {
        OutClear = MaxOCodes;
        RunTablePixel = RunPixel;
        int32_t n = 1;
        while (Count > 0) {
            if (n == 1) {
                RunTableMax = 1;
                OutputPlain(RunPixel);
                --Count;
            } else if (n <= Count) {
                RunTableMax = n;
                OutputPlain(BaseCode + n - 2);
                Count -= n;
            } else if (Count == 1) {
                ++RunTableMax;
                OutputPlain(RunPixel);
                Count = 0;
            } else {
                ++RunTableMax;
                OutputPlain(BaseCode + Count - 2);
                Count = 0;
            }
            n = OutCount == 0 ? 1 : n + 1;
        }
        OutClear = OutClearInit;
        if (OutCount >= OutClear)
            OutputClear();
    }

    void FlushClearOrRepeat(int32_t Count)
    {
        if (1 + TriangleCount(Count, MaxOCodes) < Count) {
            OutputClear();
            FlushFromClear(Count);
        } else
            for (; Count > 0; --Count)
                OutputPlain(RunPixel);
    }

    void FlushWithTable(int32_t Count)
    {
        int32_t reps = Count / RunTableMax;
        int32_t left = Count % RunTableMax;
        int32_t leftCost = left > 0 ? 1 : 0;
        if (OutCount + reps + leftCost > MaxOCodes) {
            reps = MaxOCodes - OutCount;
            left = Count - reps * RunTableMax;
            leftCost = 1 + TriangleCount(left, MaxOCodes);
        }
        if (1 + TriangleCount(Count, MaxOCodes) < reps + leftCost) {
            OutputClear();
            FlushFromClear(Count);
            return;
        }
        OutClear = MaxOCodes;
        for (; reps > 0; --reps)
            OutputPlain(BaseCode + RunTableMax - 2);
        if (left > 0) {
            if (ClearFlag)
                FlushFromClear(left);
            else if (left == 1)
                OutputPlain(RunPixel);
            else
                OutputPlain(BaseCode + left - 2);
        }
        OutClear = OutClearInit;
        if (OutCount >= OutClear)
            OutputClear();
    }

    void Flush(int32_t Count)
    {
        if (Count == 1)
            OutputPlain(RunPixel);
        else if (ClearFlag)
            FlushFromClear(Count);
        else if (RunTableMax < 2 || RunTablePixel != RunPixel)
            FlushClearOrRepeat(Count);
        else
            FlushWithTable(Count);
    }

    int32_t MaxOCodes = 0, OutBumpInit = 0, OutClearInit = 0;
    int32_t RunPixel = -1, RunTablePixel = -1, RunTableMax = 0;
    int32_t OutCount = 0, OutClear = 0, OutBump = 0;
};

} // namespace

void EncodeImageData(TStream& Stream, int32_t BitsPerPixel, int32_t ColorCount, const uint8_t* Data, bool Interlaced,
                     int32_t Width, int32_t Height, uint8_t Compression)
{
    std::unique_ptr<TGIFEncoder> encoder;
    if (Compression == 1)
        encoder = std::make_unique<TRLEEncoder>();
    else
        encoder = std::make_unique<TLZWEncoder>();
    encoder->Compress(Stream, BitsPerPixel, ColorCount, Data, Interlaced, Width, Height);
}

} // namespace kv::GIFImage
