// The fax coders: rows worked out by hand from the T.4 code tables, and random pictures
// through every coding and back.
#include "imaging/Ccitt.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

using namespace kv;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes EncodeRows(TCcittCoding Coding, int32_t Width, const std::vector<Bytes>& Rows)
{
    TCcittEncoder e(Coding, Width);
    Bytes out;
    for (const Bytes& r : Rows) {
        e.EncodeRow(r.data());
        e.TakeBytes(out);
    }
    e.Finish();
    e.TakeBytes(out);
    return out;
}

} // namespace

// 8 pixels of bit 0 (coded white) or bit 1 (coded black), hand-coded:
// white 8 = 10011, white 0 = 00110101, black 8 = 000101, EOL = 000000000001,
// V0 = 1, horizontal = 001.
TEST(Ccitt, EightPixelRowsCodeByteExact)
{
    struct TCase {
        TCcittCoding Coding;
        Bytes White, Black;
    } cases[] = {
        {ccModifiedHuffman, {0x98}, {0x35, 0x14}},
        {ccGroup4, {0x80, 0x08, 0x00, 0x80}, {0x26, 0xA2, 0x80, 0x08, 0x00, 0x80}},
        {ccGroup3TwoD, {0x00, 0x1C, 0xC0, 0x04}, {0x00, 0x19, 0xA8, 0xA0, 0x02}},
        {ccGroup3OneD, {0x00, 0x19, 0x80, 0x08}, {0x00, 0x13, 0x51, 0x40, 0x04}},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(EncodeRows(c.Coding, 8, {{0x00}}), c.White) << int(c.Coding);
        EXPECT_EQ(EncodeRows(c.Coding, 8, {{0xFF}}), c.Black) << int(c.Coding);
        // Decoded rows have 1 for the white code.
        for (int black = 0; black < 2; ++black) {
            const Bytes data = black ? c.Black : c.White;
            TCcittDecoder d(c.Coding, 8);
            d.StartStrip(data.data(), int64_t(data.size()));
            uint8_t row = 0x55;
            ASSERT_TRUE(d.DecodeRow(&row)) << int(c.Coding);
            EXPECT_EQ(row, black ? 0x00 : 0xFF) << int(c.Coding);
        }
    }
}

// Long runs take make-up codes: 2600 white = 2560 (000000011111), 40 (00101001);
// then black 1 (010) ends the 2601-pixel row.
TEST(Ccitt, LongRunsUseMakeUpCodes)
{
    Bytes row((2601 + 7) / 8, 0);
    row[2600 / 8] |= 0x80 >> (2600 % 8);
    const Bytes coded = EncodeRows(ccModifiedHuffman, 2601, {row});
    // 000000011111 00101001 010 + 1 zero bit
    EXPECT_EQ(coded, (Bytes{0x01, 0xF2, 0x94}));
}

TEST(Ccitt, RandomPicturesComeBackUnderEveryCoding)
{
    std::mt19937 rng(12345);
    for (int32_t width : {1, 7, 37, 64, 200, 1800}) {
        const int32_t height = 23;
        std::vector<Bytes> rows(size_t(height), Bytes(size_t((width + 7) / 8)));
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x) {
                // Runs of varied lengths, some rows copying the one above.
                const bool bit = y % 5 == 4 ? ((rows[size_t(y - 1)][size_t(x >> 3)] >> (7 - (x & 7))) & 1)
                                            : (rng() % (1 + (x % 9))) == 0;
                if (bit)
                    rows[size_t(y)][size_t(x >> 3)] |= uint8_t(0x80 >> (x & 7));
            }
        for (TCcittCoding coding : {ccModifiedHuffman, ccGroup3OneD, ccGroup3TwoD, ccGroup4}) {
            const Bytes data = EncodeRows(coding, width, rows);
            TCcittDecoder d(coding, width);
            d.StartStrip(data.data(), int64_t(data.size()));
            Bytes out(rows[0].size());
            for (int32_t y = 0; y < height; ++y) {
                ASSERT_TRUE(d.DecodeRow(out.data())) << width << " " << int(coding) << " row " << y;
                for (int32_t x = 0; x < width; ++x) {
                    const int in = (rows[size_t(y)][size_t(x >> 3)] >> (7 - (x & 7))) & 1;
                    const int back = (out[size_t(x >> 3)] >> (7 - (x & 7))) & 1;
                    ASSERT_EQ(in, 1 - back) << width << " " << int(coding) << " " << x << "," << y;
                }
            }
        }
    }
}

// Decoders stop at the end of their data and fail the row instead of running on;
// junk of any kind neither hangs nor reads outside the buffer.
TEST(Ccitt, DecodersFailRowsAtTheEndOfTheirData)
{
    const Bytes zeros(16, 0);
    std::mt19937 rng(99);
    for (TCcittCoding coding : {ccModifiedHuffman, ccGroup3OneD, ccGroup3TwoD, ccGroup4}) {
        TCcittDecoder d(coding, 100);
        Bytes row(13);
        d.StartStrip(zeros.data(), int64_t(zeros.size()));
        EXPECT_FALSE(d.DecodeRow(row.data()));
        d.StartStrip(nullptr, 0);
        EXPECT_FALSE(d.DecodeRow(row.data()));
        for (int trial = 0; trial < 200; ++trial) {
            Bytes junk(size_t(rng() % 40));
            for (uint8_t& b : junk)
                b = uint8_t(rng());
            d.StartStrip(junk.data(), int64_t(junk.size()));
            for (int r = 0; r < 8; ++r)
                d.DecodeRow(row.data());
            EXPECT_LE(d.BitPosition(), int64_t(junk.size()) * 8 + 64);
        }
    }
}

// A vertical code that would put a1 before a0 fails the row; one that puts it on a0
// (a run of no pixels) is taken. On a white reference b1 is the row's end, 8, so VL3
// asks for a1 = 5.
TEST(Ccitt, VerticalModeBeforeA0FailsTheRowOnA0IsTaken)
{
    struct {
        Bytes Data;
        bool Ok;
        uint8_t Row;
    } cases[] = {
        // 001 + white 2 (0111) + black 4 (011) gives a0 = 6; VL3 0000010 fails.
        {{0x2E, 0xC1, 0x00}, false, 0},
        // 001 + white 2 (0111) + black 3 (10) gives a0 = 5; VL3 makes a1 = a0, the
        // colour turns black again, and V0 (1) runs it to the end: W2 B6.
        {{0x2F, 0x02, 0x80}, true, 0xC0},
    };
    for (const auto& c : cases) {
        TCcittDecoder d(ccGroup4, 8);
        d.StartStrip(c.Data.data(), int64_t(c.Data.size()));
        uint8_t row = 0;
        EXPECT_EQ(d.DecodeRow(&row), c.Ok);
        if (c.Ok) {
            EXPECT_EQ(row, c.Row);
        }
    }
    // Before the first pixel a0 is -1 and a1 may not be: a black row (001, white 0
    // 00110101, black 8 000101) makes b1 = 0 for the next, whose VL1 (010) asks for -1
    // (a V0, 1, would then end the row).
    const Bytes black{0x26, 0xA2, 0xA8};
    TCcittDecoder d(ccGroup4, 8);
    d.StartStrip(black.data(), int64_t(black.size()));
    uint8_t row = 0xFF;
    EXPECT_TRUE(d.DecodeRow(&row));
    EXPECT_EQ(row, 0x00);
    EXPECT_FALSE(d.DecodeRow(&row));
    EXPECT_EQ(row, 0xFF); // nothing of the refused code is painted
}

// Uncompressed mode inside a two-dimensional row, 16 pixels, hand-coded: the extension
// 0000001111, then 001 (two white, one black), 000001 (five white), 1 (one black), the
// exit 000000001 (two white) with colour bit 1 (black comes next), and V0 on the all-white
// reference runs black to the end: W2 B1 W5 B1 W2 B5, white decoded as 1.
TEST(Ccitt, UncompressedModeCountsEachCodeAndItsExit)
{
    const Bytes data{0x03, 0xC8, 0x30, 0x0E};
    TCcittDecoder d(ccGroup4, 16);
    d.StartStrip(data.data(), int64_t(data.size()));
    Bytes row(2);
    EXPECT_TRUE(d.DecodeRow(row.data()));
    EXPECT_EQ(row, (Bytes{0xDF, 0x60}));
    EXPECT_EQ(d.BitPosition(), 31);
}
