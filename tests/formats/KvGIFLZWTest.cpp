// The LZW coder: exact code streams worked out by hand, the interlace order, hostile
// data for the decoder, and encoder output checked by an independent plain decoder.
#include "formats/KvGIF.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace kv;

namespace {

using Bytes = std::vector<uint8_t>;

// Pixel block (bottom-up rows padded to 4 bytes) from pixels given top row first.
Bytes MakeBlock(const TGIFBitmapInfo& info, const std::vector<uint8_t>& pixels)
{
    const int64_t rowSize = GIFRowSize(info.BitCount, info.Width);
    Bytes block(size_t(rowSize * info.Height), 0);
    for (int32_t y = 0; y < info.Height; ++y) {
        uint8_t* row = block.data() + (info.Height - 1 - y) * rowSize;
        for (int32_t x = 0; x < info.Width; ++x) {
            const uint8_t v = pixels[size_t(y) * info.Width + x];
            if (info.BitCount == 8)
                row[x] = v;
            else if (info.BitCount == 4)
                row[x / 2] |= uint8_t(x % 2 ? v : v << 4);
            else
                row[x / 8] |= uint8_t(v << (7 - x % 8));
        }
    }
    return block;
}

std::vector<uint8_t> ReadPixels(const TGIFBitmapInfo& info, const Bytes& block)
{
    const int64_t rowSize = GIFRowSize(info.BitCount, info.Width);
    std::vector<uint8_t> out;
    for (int32_t y = 0; y < info.Height; ++y) {
        const uint8_t* row = block.data() + (info.Height - 1 - y) * rowSize;
        for (int32_t x = 0; x < info.Width; ++x) {
            if (info.BitCount == 8)
                out.push_back(row[x]);
            else if (info.BitCount == 4)
                out.push_back(x % 2 ? row[x / 2] & 15 : row[x / 2] >> 4);
            else
                out.push_back((row[x / 8] >> (7 - x % 8)) & 1);
        }
    }
    return out;
}

Bytes Encode(const TGIFBitmapInfo& info, const std::vector<uint8_t>& pixels, bool interlaced = false)
{
    Bytes block = MakeBlock(info, pixels);
    TMemoryStream out;
    EncodeLZW(out, info, interlaced, nullptr, nullptr, block.data());
    return out.Bytes();
}

// Into a stream that already holds bytes the codes follow them, the same as into an empty one.
TEST(KvGIFLZW, EncodingAppendsToAStreamWithBytes)
{
    const TGIFBitmapInfo info{640, 480, 8};
    std::vector<uint8_t> pixels(size_t(info.Width) * info.Height);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint8_t((i / 3) ^ (i >> 9));
    const Bytes alone = Encode(info, pixels);
    Bytes block = MakeBlock(info, pixels);
    TMemoryStream out;
    out.WriteU8(0x2C);
    EncodeLZW(out, info, false, nullptr, nullptr, block.data());
    Bytes want{0x2C};
    want.insert(want.end(), alone.begin(), alone.end());
    EXPECT_EQ(out.Bytes(), want);
    EXPECT_EQ(out.Position(), out.Size());
}

Bytes Decode(const TGIFBitmapInfo& info, const Bytes& data, bool& truncated, int32_t frameBits = 8,
             bool interlaced = false, bool accept = true)
{
    Bytes block(size_t(GIFRowSize(info.BitCount, info.Width) * info.Height), 0);
    truncated = false;
    DecodeLZW(data.data(), int64_t(data.size()), info, interlaced, nullptr, nullptr, truncated, block.data(), frameBits,
              accept);
    return block;
}

// A plain GIF decoder written the textbook way (strings in a table): it returns the
// pixels up to the end code and whether the stream ended exactly there (only the
// padding of the last byte and the terminator left).
struct ReferenceResult {
    std::vector<uint8_t> Pixels;
    std::vector<int32_t> FreeAtClear; // the decoder's next free entry at every clear but the first
    bool EndedCleanly = false;
};

ReferenceResult ReferenceDecode(const Bytes& data)
{
    ReferenceResult r;
    Bytes joined;
    size_t pos = 1;
    while (pos < data.size() && data[pos] != 0) {
        const size_t len = data[pos];
        joined.insert(joined.end(), data.begin() + pos + 1, data.begin() + pos + 1 + len);
        pos += len + 1;
    }
    const int32_t minCode = data[0], clear = 1 << minCode, end = clear + 1;
    int32_t width = minCode + 1;
    std::vector<std::vector<uint8_t>> table;
    auto reset = [&] {
        table.assign(size_t(clear + 2), {});
        for (int32_t i = 0; i < clear; ++i)
            table[size_t(i)] = {uint8_t(i)};
        width = minCode + 1;
    };
    reset();
    size_t bit = 0;
    int32_t prev = -1;
    bool first = true;
    for (;;) {
        if (bit + size_t(width) > joined.size() * 8)
            return r;
        int32_t code = 0;
        for (int32_t i = 0; i < width; ++i, ++bit)
            code |= ((joined[bit / 8] >> (bit % 8)) & 1) << i;
        if (code == clear) {
            if (!first)
                r.FreeAtClear.push_back(int32_t(table.size()));
            first = false;
            reset();
            prev = -1;
            continue;
        }
        first = false;
        if (code == end) {
            r.EndedCleanly = (joined.size() * 8 - bit) < 8;
            return r;
        }
        std::vector<uint8_t> s;
        if (code < int32_t(table.size()))
            s = table[size_t(code)];
        else if (prev >= 0) {
            s = table[size_t(prev)];
            s.push_back(s[0]);
        } else
            return r;
        if (prev >= 0 && table.size() < 4096) {
            auto entry = table[size_t(prev)];
            entry.push_back(s[0]);
            table.push_back(entry);
            if (int32_t(table.size()) == (1 << width) && width < 12)
                ++width;
        }
        r.Pixels.insert(r.Pixels.end(), s.begin(), s.end());
        prev = code;
    }
}

// Packs codes LSB first with the widths a decoder expects, in one sub-block.
Bytes PackCodes(int32_t minCode, const std::vector<int32_t>& codes)
{
    Bytes bits;
    size_t nbits = 0;
    int32_t width = minCode + 1, nextFree = (1 << minCode) + 2;
    bool afterClear = true;
    for (int32_t code : codes) {
        for (int32_t i = 0; i < width; ++i, ++nbits) {
            if (nbits / 8 >= bits.size())
                bits.push_back(0);
            bits[nbits / 8] |= uint8_t(((code >> i) & 1) << (nbits % 8));
        }
        if (code == (1 << minCode)) {
            width = minCode + 1;
            nextFree = (1 << minCode) + 2;
            afterClear = true;
        } else if (afterClear) {
            afterClear = false;
        } else if (nextFree < 4096) {
            if (++nextFree == (1 << width) && width < 12)
                ++width;
        }
    }
    Bytes out{uint8_t(minCode)};
    for (size_t p = 0; p < bits.size(); p += 255) {
        const size_t len = std::min<size_t>(255, bits.size() - p);
        out.push_back(uint8_t(len));
        out.insert(out.end(), bits.begin() + p, bits.begin() + p + len);
    }
    out.push_back(0);
    return out;
}

} // namespace

TEST(KvGIFLZW, InterlacedRowOrder)
{
    auto order = [](int32_t height) {
        std::vector<int32_t> rows;
        int32_t pass = 0;
        for (int32_t r = 0; r < height; r = NextInterlacedRow(r, height, pass))
            rows.push_back(r);
        return rows;
    };
    EXPECT_EQ(order(10), (std::vector<int32_t>{0, 8, 4, 2, 6, 1, 3, 5, 7, 9}));
    EXPECT_EQ(order(3), (std::vector<int32_t>{0, 2, 1}));
    EXPECT_EQ(order(1), (std::vector<int32_t>{0}));
    EXPECT_EQ(order(2), (std::vector<int32_t>{0, 1}));
}

TEST(KvGIFLZW, ExactCodeStreamsOfTinyPictures)
{
    // 1-bit 8 x 1, all 0: codes 4 0 6 7 at 3 bits, then 6 5 at 4 bits.
    EXPECT_EQ(Encode({8, 1, 1}, std::vector<uint8_t>(8, 0)), (Bytes{0x02, 0x03, 0x84, 0x6F, 0x05, 0x00}));
    // 8-bit 3 x 1, pixels 0 0 1: codes 256, 0, 0, 1, 257 at 9 bits.
    EXPECT_EQ(Encode({3, 1, 8}, {0, 0, 1}), (Bytes{0x08, 0x06, 0x00, 0x01, 0x00, 0x08, 0x10, 0x10, 0x00}));
    // 1-bit 17 x 1: codes 4 0 1 1 (3 bits), 6 6 7 0 12 8 12 0 (4 bits). The last code
    // makes the decoder's 16th entry, so it reads the end code 5 at 5 bits.
    const std::vector<uint8_t> p17{0, 1, 1, 0, 1, 0, 1, 1, 1, 0, 0, 0, 1, 0, 0, 0, 0};
    const Bytes data = Encode({17, 1, 1}, p17);
    EXPECT_EQ(data, (Bytes{0x02, 0x07, 0x44, 0x62, 0x76, 0xC0, 0xC8, 0x50, 0x00, 0x00}));
    const ReferenceResult ref = ReferenceDecode(data);
    EXPECT_TRUE(ref.EndedCleanly);
    EXPECT_EQ(ref.Pixels, p17);
}

TEST(KvGIFLZW, ClearOnTheLastPixelWritesNoExtraCode)
{
    // 101 x 38: every pair of neighbours differs, so the clear after entry 4094 falls on
    // the last pixel.
    const TGIFBitmapInfo info{101, 38, 8};
    std::vector<uint8_t> pixels(101 * 38);
    pixels[0] = 0;
    for (size_t k = 0; k + 1 < pixels.size(); ++k)
        pixels[k + 1] = uint8_t((pixels[k] + 2 * (k / 256) + 1) % 256);
    const Bytes data = Encode(info, pixels);
    const ReferenceResult ref = ReferenceDecode(data);
    EXPECT_TRUE(ref.EndedCleanly);
    EXPECT_EQ(ref.Pixels.size(), 3838u);
    EXPECT_EQ(ref.Pixels, pixels);
    EXPECT_EQ(ref.FreeAtClear, (std::vector<int32_t>{4095}));
    bool truncated = true;
    EXPECT_EQ(ReadPixels(info, Decode(info, data, truncated)), pixels);
    EXPECT_FALSE(truncated);
}

TEST(KvGIFLZW, CodeWidthsAndSubBlocks)
{
    // Random 8-bit noise makes entries quickly: the widths grow 9 -> 12 and the table is
    // cleared after entry 4094 every time.
    std::mt19937 rng(7);
    const TGIFBitmapInfo info{300, 100, 8};
    std::vector<uint8_t> pixels(30000);
    for (auto& p : pixels)
        p = uint8_t(rng());
    const Bytes data = Encode(info, pixels);
    EXPECT_EQ(data[0], 8);
    // Sub-blocks: all 255 long but the last, then the terminator.
    size_t pos = 1, blocks = 0;
    while (data[pos] == 255) {
        pos += 256;
        ++blocks;
    }
    ASSERT_LT(pos, data.size());
    EXPECT_GT(blocks, 10u);
    EXPECT_GT(data[pos], 0);
    pos += data[pos] + 1u;
    ASSERT_EQ(pos + 1, data.size());
    EXPECT_EQ(data[pos], 0);
    const ReferenceResult ref = ReferenceDecode(data);
    EXPECT_TRUE(ref.EndedCleanly);
    EXPECT_EQ(ref.Pixels, pixels);
    ASSERT_FALSE(ref.FreeAtClear.empty());
    for (int32_t freeEntry : ref.FreeAtClear)
        EXPECT_EQ(freeEntry, 4095);
}

TEST(KvGIFLZW, RandomRoundTripsAtEveryDepth)
{
    std::mt19937 rng(2024);
    for (int iter = 0; iter < 600; ++iter) {
        const int32_t bits = (iter % 3 == 0) ? 1 : (iter % 3 == 1) ? 4 : 8;
        const TGIFBitmapInfo info{int32_t(1 + rng() % 70), int32_t(1 + rng() % 40), bits};
        const bool interlaced = iter % 5 == 0;
        // Few distinct values make long strings; many make short ones.
        const uint32_t spread = 1u + rng() % (1u << bits);
        std::vector<uint8_t> pixels(size_t(info.Width) * info.Height);
        for (auto& p : pixels)
            p = uint8_t(rng() % spread);
        const Bytes data = Encode(info, pixels, interlaced);
        bool truncated = true;
        const Bytes block = Decode(info, data, truncated, bits, interlaced);
        ASSERT_EQ(ReadPixels(info, block), pixels) << "picture " << iter;
        EXPECT_FALSE(truncated);
        const ReferenceResult ref = ReferenceDecode(data);
        ASSERT_TRUE(ref.EndedCleanly) << "picture " << iter;
        if (!interlaced)
            ASSERT_EQ(ref.Pixels, pixels) << "picture " << iter;
        else
            ASSERT_EQ(ref.Pixels.size(), pixels.size());
    }
}

TEST(KvGIFLZW, InterlacedEncodingTakesRowsInPassOrder)
{
    const TGIFBitmapInfo info{1, 10, 8};
    std::vector<uint8_t> pixels{10, 11, 12, 13, 14, 15, 16, 17, 18, 19};
    const ReferenceResult ref = ReferenceDecode(Encode(info, pixels, true));
    EXPECT_EQ(ref.Pixels, (std::vector<uint8_t>{10, 18, 14, 12, 16, 11, 13, 15, 17, 19}));
}

TEST(KvGIFLZW, DecoderSpecialCodes)
{
    const TGIFBitmapInfo info{4, 1, 8}, wider{6, 1, 8};
    bool truncated = false;
    // Code 6 is the next free entry when it arrives: old string 1 plus its first pixel.
    Bytes block = Decode(info, PackCodes(2, {4, 1, 6, 2, 5}), truncated, 2);
    EXPECT_EQ(ReadPixels(info, block), (std::vector<uint8_t>{1, 1, 1, 2}));
    EXPECT_FALSE(truncated);
    // No leading clear code is legal.
    block = Decode(info, PackCodes(2, {3, 3, 6, 5}), truncated, 2);
    EXPECT_EQ(ReadPixels(info, block), (std::vector<uint8_t>{3, 3, 3, 3}));
    EXPECT_FALSE(truncated);
    // The same data in a wider frame: the end code comes before it is full, so the
    // frame is flagged and keeps what was decoded.
    block = Decode(wider, PackCodes(2, {3, 3, 6, 5}), truncated, 2);
    EXPECT_EQ(ReadPixels(wider, block), (std::vector<uint8_t>{3, 3, 3, 3, 0, 0}));
    EXPECT_TRUE(truncated);
}

TEST(KvGIFLZW, FullTableKeepsTwelveBitCodes)
{
    // Clear, then code 0 until the table holds 4096 entries, then entry 4095 ("0 0")
    // and code 1 at 12 bits with no more entries made.
    std::vector<int32_t> codes{4};
    codes.insert(codes.end(), 4091, 0);
    codes.push_back(4095);
    codes.push_back(1);
    codes.push_back(5);
    const TGIFBitmapInfo info{4094, 1, 8};
    bool truncated = false;
    const auto pixels = ReadPixels(info, Decode(info, PackCodes(2, codes), truncated, 2));
    EXPECT_FALSE(truncated);
    EXPECT_EQ(std::count(pixels.begin(), pixels.end(), 0), 4093);
    EXPECT_EQ(pixels.back(), 1);
}

TEST(KvGIFLZW, HostileDecoderInput)
{
    const TGIFBitmapInfo info{4, 4, 8};
    bool truncated = false;
    // Minimum code size 12: clamped to 9 and flagged, or refused.
    Decode(info, Bytes{12, 1, 0, 0}, truncated);
    EXPECT_TRUE(truncated);
    EXPECT_THROW(Decode(info, Bytes{12, 1, 0, 0}, truncated, 8, false, false), EInvalidGraphicOperation);
    try {
        Decode(info, Bytes{1, 1, 0, 0}, truncated, 8, false, false);
    } catch (const EInvalidGraphicOperation& e) {
        EXPECT_EQ(e.Message(), "Размер кода GIF не принадлежит диапазону от 2 до 9");
    }
    // Data ending early: what was decoded stays, the rest is zero, the frame is flagged.
    std::vector<uint8_t> pixels(16);
    for (size_t i = 0; i < 16; ++i)
        pixels[i] = uint8_t(i * 7 + 1);
    Bytes data = Encode(info, pixels);
    Bytes cut(data.begin(), data.begin() + 6);
    const auto got = ReadPixels(info, Decode(info, cut, truncated));
    EXPECT_TRUE(truncated);
    EXPECT_EQ(got[0], 1);
    EXPECT_EQ(got[15], 0);
    // Empty data and a sub-block length running past the end.
    Decode(info, Bytes{}, truncated);
    EXPECT_TRUE(truncated);
    Decode(info, Bytes{8, 200, 0, 1}, truncated);
    EXPECT_TRUE(truncated);
    // A zero-sized picture is never written to.
    Decode({0, 5, 8}, data, truncated);
    EXPECT_TRUE(truncated);
}

TEST(KvGIFLZW, UndefinedCodeAfterAClearNeverWritesOutsideTheRow)
{
    // Code 300 opens the data while the table holds nothing past 257: it names no
    // string, so decoding ends there, flagged, with nothing written. The pixels lie
    // between guard bytes that must stay untouched.
    const TGIFBitmapInfo info{4, 1, 8};
    Bytes guarded(8 + size_t(GIFRowSize(8, 4)) + 8, 0xAA);
    uint8_t* block = guarded.data() + 8;
    std::fill(block, block + GIFRowSize(8, 4), 0);
    const Bytes data = PackCodes(8, {300, 258, 257});
    bool truncated = false;
    DecodeLZW(data.data(), int64_t(data.size()), info, false, nullptr, nullptr, truncated, block, 8, true);
    EXPECT_EQ(std::vector<uint8_t>(block, block + 4), (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_TRUE(truncated);
    EXPECT_EQ(std::count(guarded.begin(), guarded.begin() + 8, 0xAA), 8);
    EXPECT_EQ(std::count(guarded.end() - 8, guarded.end(), 0xAA), 8);
}

TEST(KvGIFLZW, ProgressStartsRunsAndEnds)
{
    const TGIFBitmapInfo info{16, 16, 8};
    Bytes block(16 * 16, 3);
    std::vector<std::pair<int, int>> seen;
    TMemoryStream out;
    EncodeLZW(
        out, info, false, [&](TObject*, TGIFCoderStage s, uint8_t p, const std::string&) { seen.emplace_back(s, p); },
        nullptr, block.data());
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen.front(), std::make_pair(int(gcsStarting), 0));
    EXPECT_EQ(seen.back(), std::make_pair(int(gcsEnding), 100));
    EXPECT_EQ(seen[seen.size() - 2], std::make_pair(int(gcsRunning), 100));
}
