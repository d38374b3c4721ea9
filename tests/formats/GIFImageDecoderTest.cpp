// The GIF model's LZW decoder against a plain reference decoder that pushes every pixel
// through the string stack: the same pixels, warnings, errors and end position of the
// stream for valid data, cut data and hostile code streams.
#include "common/DamagedGifs.h"
#include "formats/GIFImage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>

using namespace kv;
using namespace kv::GIFImage;

namespace {

// ---- Reference decoder: one string at a time through a 4096-entry stack ---------------

constexpr int32_t TableSize = 4096;
constexpr const char* sInvalidData = "Invalid GIF data";

// The decoder keeps its tables, stack and bit buffer in one object for the whole decode
// and refills the bit buffer one sub-block at a time.
class TReferenceDecoder {
public:
    TReferenceDecoder(TStream& AStream, const std::function<void(const std::string&)>& AWarn) : S(AStream), Warn(AWarn)
    {
    }

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
    }

    // Fills Count pixels; false when the data ended early.
    bool ReadPixels(uint8_t* Out, int64_t Count)
    {
        int64_t i = 0;
        while (i < Count) {
            if (SP > 0) {
                int64_t n = std::min<int64_t>(SP, Count - i);
                for (int64_t k = 0; k < n; ++k)
                    Out[i++] = uint8_t(Stack[--SP]);
                continue;
            }
            int32_t code = NextString();
            if (code < 0) {
                // Pixels were still wanted: every way of stopping here is damage.
                if (code == -3)
                    Warning("Undefined decoder table entry");
                else if (!Warned)
                    Warning("Premature end of data");
                return false;
            }
            Out[i++] = uint8_t(code);
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
        return NextString();
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

    int32_t EndOfData()
    {
        Ended = true;
        if (!ZeroBlock)
            SkipBlocks();
        return -2;
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

    int32_t NextString()
    {
        int32_t code = NextCode(CodeSize);
        if (code < 0)
            return code;
        while (code != ClearCode) {
            if (code == EndCode)
                return EndOfData();
            if (code > MaxCode) // names no string yet
                return -3;
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
            if (MaxCode < TableSize) {
                Prefix[MaxCode] = uint16_t(OldCode);
                Suffix[MaxCode] = uint16_t(FirstCode);
                ++MaxCode;
                if (MaxCode >= MaxCodeSize && MaxCodeSize <= 4095) {
                    MaxCodeSize *= 2;
                    ++CodeSize;
                }
            }
            OldCode = inCode;
            return Stack[--SP];
        }
        // Clear code: reset the table and return the first code after it.
        for (int32_t i = 0; i < ClearCode; ++i) {
            Prefix[i] = 0;
            Suffix[i] = uint16_t(i);
        }
        std::memset(Prefix + ClearCode, 0, sizeof(uint16_t) * size_t(TableSize - ClearCode));
        std::memset(Suffix + ClearCode, 0, sizeof(uint16_t) * size_t(TableSize - ClearCode));
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
            return EndOfData();
        if (code >= MaxCode) // no string before it to extend
            return -3;
        FirstCode = OldCode = code;
        return code;
    }

    int32_t NextCode(int32_t n)
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
                return -1;
            }
            Buf[0] = Buf[LastByte - 2];
            Buf[1] = Buf[LastByte - 1];
            uint8_t count;
            if (S.Read(&count, 1) != 1) {
                Done = true;
                AtEndOfStream = true;
                return -1;
            }
            int64_t left = S.Remaining();
            if (count > left) {
                Warning("Premature end of data");
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
        int32_t byte = CurBit >> 3;
        uint32_t v = uint32_t(Buf[byte]) | (uint32_t(Buf[byte + 1]) << 8) | (uint32_t(Buf[byte + 2]) << 16);
        int32_t code = int32_t((v >> (CurBit & 7)) & ((1u << n) - 1));
        CurBit += n;
        return code;
    }

    TStream& S;
    const std::function<void(const std::string&)>& Warn;
    int32_t InitialCodeSize = 0, CodeSize = 0, ClearCode = 0, EndCode = 0, MaxCodeSize = 0, MaxCode = 0;
    int32_t FirstCode = 0, OldCode = 0;
    uint16_t Prefix[TableSize] = {};
    uint16_t Suffix[TableSize] = {};
    uint16_t Stack[TableSize + 1] = {};
    int32_t SP = 0;
    uint8_t Buf[2 + 255 + 3] = {};
    int32_t CurBit = 0, LastBit = 0, LastByte = 2;
    bool ZeroBlock = false, Done = false, ReturnClear = true, AtEndOfStream = false;
    bool Warned = false, Ended = false;
};

void ReferenceDecodeLZW(TStream& Stream, uint8_t* Data, int32_t Width, int32_t Height, bool Interlaced,
                        const std::function<void(const std::string&)>& Warn)
{
    uint8_t codeSize;
    if (Stream.Read(&codeSize, 1) != 1)
        return;
    // Codes are at most 12 bits wide: a larger minimum size cannot be decoded, and 0
    // leaves no room for the clear and end codes.
    if (codeSize == 0 || codeSize > 11)
        throw GIFException(sInvalidData);
    auto decoder = std::make_unique<TReferenceDecoder>(Stream, Warn);
    decoder->Setup(codeSize);
    try {
        if (!Interlaced) {
            decoder->ReadPixels(Data, int64_t(Width) * Height);
        } else {
            static const int32_t start[4] = {0, 4, 2, 1};
            static const int32_t step[4] = {8, 8, 4, 2};
            bool more = true;
            for (int pass = 0; pass < 4 && more; ++pass)
                for (int32_t row = start[pass]; row < Height && more; row += step[pass])
                    more = decoder->ReadPixels(Data + int64_t(row) * Width, Width);
        }
    } catch (...) {
        decoder->Finish();
        throw;
    }
    decoder->Finish();
}

} // namespace

namespace {

using Bytes = std::vector<uint8_t>;

// Everything a decode leaves behind.
struct TOutcome {
    Bytes Pixels;
    std::vector<std::string> Warnings;
    std::optional<std::string> Error;
    int64_t EndPosition = 0;
};

template <typename TDecode>
TOutcome DecodeWith(TDecode Decode, const Bytes& data, int32_t w, int32_t h, bool interlaced)
{
    TOutcome r;
    r.Pixels.assign(size_t(w) * size_t(h), 0xEE);
    TReadOnlyMemoryStream s(data.data(), int64_t(data.size()));
    try {
        Decode(s, r.Pixels.data(), w, h, interlaced, [&](const std::string& m) { r.Warnings.push_back(m); });
    } catch (const Exception& e) {
        r.Error = e.what();
    }
    r.EndPosition = s.Position();
    return r;
}

// Decodes with both decoders and reports the first difference.
::testing::AssertionResult SameAsReference(const Bytes& data, int32_t w, int32_t h, bool interlaced)
{
    TOutcome ref = DecodeWith(ReferenceDecodeLZW, data, w, h, interlaced);
    TOutcome got = DecodeWith(DecodeLZW, data, w, h, interlaced);
    if (ref.Error != got.Error)
        return ::testing::AssertionFailure()
               << "error \"" << ref.Error.value_or("none") << "\" became \"" << got.Error.value_or("none") << "\"";
    if (ref.Warnings != got.Warnings)
        return ::testing::AssertionFailure() << ref.Warnings.size() << " warnings became " << got.Warnings.size();
    if (ref.EndPosition != got.EndPosition)
        return ::testing::AssertionFailure() << "stream ends at " << got.EndPosition << ", not " << ref.EndPosition;
    auto diff = std::mismatch(ref.Pixels.begin(), ref.Pixels.end(), got.Pixels.begin());
    if (diff.first != ref.Pixels.end())
        return ::testing::AssertionFailure() << "pixel " << (diff.first - ref.Pixels.begin()) << " is "
                                             << int(*diff.second) << ", not " << int(*diff.first);
    return ::testing::AssertionSuccess();
}

// A picture with runs and noise in Colors colours, encoded by the model's own encoder.
Bytes EncodedPicture(std::mt19937& rng, int32_t w, int32_t h, int bpp, bool interlaced, uint8_t compression)
{
    const int colors = 1 << bpp;
    Bytes pixels(size_t(w) * size_t(h));
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint8_t((rng() % 4 == 0) ? rng() % unsigned(colors) : (i / 7 + i / size_t(w)) % unsigned(colors));
    TMemoryStream s;
    EncodeImageData(s, bpp, colors, pixels.data(), interlaced, w, h, compression);
    return s.Bytes();
}

TEST(GIFModelDecoder, ValidDataMatchesReference)
{
    std::mt19937 rng(7);
    for (int bpp : {1, 2, 4, 8})
        for (bool interlaced : {false, true})
            for (uint8_t compression : {0, 1})
                for (auto [w, h] : {std::pair{1, 1}, {5, 2}, {7, 3}, {300, 200}, {4096, 3}}) {
                    Bytes data = EncodedPicture(rng, w, h, bpp, interlaced, compression);
                    EXPECT_TRUE(SameAsReference(data, w, h, interlaced))
                        << bpp << " bpp " << w << "x" << h << " interlaced " << interlaced;
                    // Read as a picture of another size: strings cross the end of the
                    // picture and of interlaced rows, or the data ends early.
                    EXPECT_TRUE(SameAsReference(data, w + 3, h, interlaced));
                    EXPECT_TRUE(SameAsReference(data, std::max(1, w / 2), h, !interlaced));
                }
}

TEST(GIFModelDecoder, DamagedDataMatchesReference)
{
    std::mt19937 rng(11);
    for (int round = 0; round < 400; ++round) {
        const int bpp = 1 + int(rng() % 8);
        const int32_t w = 1 + int32_t(rng() % 90), h = 1 + int32_t(rng() % 60);
        const bool interlaced = rng() % 2;
        Bytes data = EncodedPicture(rng, w, h, bpp, interlaced, uint8_t(rng() % 2));
        // Flip bits in the codes (not the code size byte), cut the data, or both.
        const int flips = int(rng() % 6);
        for (int i = 0; i < flips && data.size() > 2; ++i)
            data[1 + rng() % (data.size() - 1)] ^= uint8_t(1u << (rng() % 8));
        if (rng() % 3 == 0)
            data.resize(1 + rng() % data.size());
        EXPECT_TRUE(SameAsReference(data, w, h, interlaced)) << "round " << round;
    }
}

// Random codes in full-size sub-blocks: codes past the table, entries built on codes
// that did not exist yet, loops, clear and end codes anywhere.
TEST(GIFModelDecoder, HostileCodeStreamsMatchReference)
{
    std::mt19937 rng(13);
    int errors = 0;
    for (int round = 0; round < 600; ++round) {
        Bytes data{uint8_t(1 + rng() % 11)};
        const int blocks = 1 + int(rng() % 40);
        for (int b = 0; b < blocks; ++b) {
            data.push_back(255);
            const unsigned mask = round % 3 == 0 ? 0xFFu : (round % 3 == 1 ? 0x0Fu : 0xF0u);
            for (int i = 0; i < 255; ++i)
                data.push_back(uint8_t(rng() & mask));
        }
        data.push_back(0);
        data.push_back(0x3B);
        const int32_t w = 1 + int32_t(rng() % 300), h = 1 + int32_t(rng() % 200);
        const bool interlaced = rng() % 2;
        TOutcome ref = DecodeWith(ReferenceDecodeLZW, data, w, h, interlaced);
        const auto undefined = std::find(ref.Warnings.begin(), ref.Warnings.end(), "Undefined decoder table entry");
        errors += ref.Error.has_value() || undefined != ref.Warnings.end();
        EXPECT_TRUE(SameAsReference(data, w, h, interlaced)) << "round " << round;
    }
    EXPECT_GT(errors, 0); // the streams do reach the damage checks
}

// Code streams chosen code by code at the width the decoder reads them: clears, end
// codes (early ones end the picture), the next free code, codes past the table and known
// codes, packed from the low bit up into full sub-blocks.
Bytes CodeStream(std::mt19937& rng, int minSize, int codes)
{
    const int32_t clear = 1 << minSize, end = clear + 1;
    int32_t width = minSize + 1, next = clear + 2;
    bool afterClear = true;
    uint64_t acc = 0;
    int bits = 0;
    Bytes packed;
    auto put = [&](int32_t code) {
        acc |= uint64_t(code) << bits;
        for (bits += width; bits >= 8; bits -= 8, acc >>= 8)
            packed.push_back(uint8_t(acc));
    };
    put(clear);
    for (int i = 0; i < codes; ++i) {
        // End codes and codes past the table end the picture: rare enough that most
        // streams run long.
        const unsigned pick = rng() % 1000;
        int32_t code;
        if (pick < 40)
            code = clear;
        else if (pick < 42)
            code = end;
        else if (pick < 300)
            code = std::min(next, (1 << width) - 1);
        else if (pick < 302)
            code = std::min(next + 1 + int32_t(rng() % 4), (1 << width) - 1);
        else
            code = int32_t(rng() % uint32_t(next));
        put(code);
        if (code == clear) {
            width = minSize + 1;
            next = clear + 2;
            afterClear = true;
        } else if (afterClear) {
            afterClear = false;
        } else if (next < 4096) {
            ++next;
            if (next >= (1 << width) && width < 12)
                ++width;
        }
    }
    put(end);
    if (bits > 0)
        packed.push_back(uint8_t(acc));
    Bytes data{uint8_t(minSize)};
    for (size_t i = 0; i < packed.size(); i += 255) {
        const size_t n = std::min<size_t>(255, packed.size() - i);
        data.push_back(uint8_t(n));
        data.insert(data.end(), packed.begin() + int64_t(i), packed.begin() + int64_t(i + n));
    }
    data.push_back(0);
    return data;
}

TEST(GIFModelDecoder, ChosenCodeStreamsMatchReference)
{
    std::mt19937 rng(17);
    for (int round = 0; round < 1500; ++round) {
        const int minSize = 1 + int(rng() % 11);
        Bytes data = CodeStream(rng, minSize, 1 + int(rng() % 3000));
        const int32_t w = 1 + int32_t(rng() % 200), h = 1 + int32_t(rng() % 100);
        EXPECT_TRUE(SameAsReference(data, w, h, rng() % 2)) << "round " << round;
    }
}

// An end code as the first code after a clear ends the picture (it is no pixel, and no
// string can be built on it): nothing is written, a warning says the data ended early and
// the rest of the sub-blocks is read. 2-bit codes, LSB first: clear 4 and end 5 (3 bits),
// then codes 6, 1, 7, end 5 that are never reached.
TEST(GIFModelDecoder, EndCodeAfterClearEndsThePicture)
{
    // 4 | 5 << 3 | 6 << 6 | 1 << 9 | 7 << 12 | 5 << 16 = 0x573AC
    const Bytes data = {0x02, 0x03, 0xAC, 0x73, 0x05, 0x00};
    TOutcome got = DecodeWith(DecodeLZW, data, 9, 1, false);
    EXPECT_EQ(got.Pixels, Bytes(9, 0xEE));
    EXPECT_EQ(got.Warnings, std::vector<std::string>{"Premature end of data"});
    EXPECT_FALSE(got.Error);
    EXPECT_EQ(got.EndPosition, 6);
    EXPECT_TRUE(SameAsReference(data, 9, 1, false));
}

// The shared damaged files: the model keeps what was decoded (the rest stays at the
// fill) and warns once for each damaged frame, never for a whole one.
TEST(GIFModelDecoder, DamagedImageDataWarnsAndKeepsItsDecodedPixels)
{
    for (const testgif::TDamagedGif& c : testgif::DamagedGifs()) {
        SCOPED_TRACE(c.Name);
        Bytes data = {2, uint8_t(c.Data.size())};
        data.insert(data.end(), c.Data.begin(), c.Data.end());
        data.push_back(0);
        TOutcome got = DecodeWith(DecodeLZW, data, c.Width, c.Height, false);
        Bytes want = c.Decoded();
        for (size_t i = c.Indexes.size(); i < want.size(); ++i)
            want[i] = 0xEE;
        EXPECT_EQ(got.Pixels, want);
        EXPECT_FALSE(got.Error);
        EXPECT_EQ(got.EndPosition, int64_t(data.size()));
        // Data that runs out also warns when the bytes end ("Decoder bit buffer under-run").
        EXPECT_EQ(got.Warnings.empty(), !c.Damaged());
        if (c.Damage == testgif::gdUndefinedCode) {
            EXPECT_EQ(got.Warnings, std::vector<std::string>{"Undefined decoder table entry"});
        } else if (c.Damage == testgif::gdEndCodeEarly) {
            EXPECT_EQ(got.Warnings, std::vector<std::string>{"Premature end of data"});
        }
        EXPECT_TRUE(SameAsReference(data, c.Width, c.Height, false));
        // The whole file through the picture: the warnings reach its handler.
        GIFImage::TGIFImage image;
        std::vector<std::string> heard;
        image.OnWarning = [&](TObject*, TGIFSeverity, const std::string& m) { heard.push_back(m); };
        const Bytes file = c.File();
        TReadOnlyMemoryStream s(file.data(), int64_t(file.size()));
        image.LoadFromStream(s);
        ASSERT_EQ(image.Images().Count(), 1);
        EXPECT_EQ(image.Images()[0]->Data(), c.Decoded());
        EXPECT_EQ(heard, got.Warnings); // the trailer is not taken for image data
    }
}

// The seeds and crash inputs the fuzz target replays, read the way it reads them, and
// each image-data block found after an image descriptor.
TEST(GIFModelDecoder, FuzzInputsMatchReference)
{
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(std::string(KV_TEST_DATA) + "/gif")) {
        TFileStream f(entry.path().string(), fmOpenRead);
        Bytes file(size_t(f.Size()));
        f.ReadBuffer(file.data(), int64_t(file.size()));
        if (file.size() < 2)
            continue;
        ++files;
        const std::string name = entry.path().filename().string();
        Bytes rest(file.begin() + 2, file.end());
        EXPECT_TRUE(SameAsReference(rest, 1 + file[0] % 64, 1 + file[1] % 64, (file[0] & 0x80) != 0)) << name;
        for (size_t i = 0; i + 10 < file.size(); ++i) {
            if (file[i] != 0x2C || (file[i + 9] & 0x80))
                continue; // descriptors with a local table are left to the whole-file tests
            const int32_t w = std::max(1, file[i + 5] | file[i + 6] << 8);
            const int32_t h = std::max(1, file[i + 7] | file[i + 8] << 8);
            if (int64_t(w) * h > (1 << 22))
                continue;
            Bytes block(file.begin() + int64_t(i) + 10, file.end());
            EXPECT_TRUE(SameAsReference(block, w, h, (file[i + 9] & 0x40) != 0)) << name << " at " << i;
        }
    }
    EXPECT_GT(files, 0);
}

} // namespace
