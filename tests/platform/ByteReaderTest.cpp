#include "platform/ByteReader.h"
#include "platform/Classes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

using namespace kv;

// Each case walks the same five bytes; a read that needs a byte past the end raises and
// leaves the position alone, unless the reader was asked to read on as zeros.
TEST(ByteReader, ReadsFieldsAndStopsOrZeroFillsAtTheEnd)
{
    const std::vector<uint8_t> data = {0x01, 0x02, 0x03, 0x04, 0x05};
    constexpr int64_t Raises = -1;
    const struct {
        const char* Name;
        TPastEnd PastEnd;
        int64_t Start;
        std::function<int64_t(TByteReader&)> Read;
        int64_t Want;    // the value read, or Raises
        int64_t WantPos; // the position afterwards
    } cases[] = {
        {"u8", TPastEnd::Raise, 4, [](TByteReader& r) { return r.ReadU8(); }, 0x05, 5},
        {"u16le", TPastEnd::Raise, 0, [](TByteReader& r) { return r.ReadU16LE(); }, 0x0201, 2},
        {"u32le", TPastEnd::Raise, 1, [](TByteReader& r) { return r.ReadU32LE(); }, 0x05040302, 5},
        {"u16be", TPastEnd::Raise, 3, [](TByteReader& r) { return r.ReadU16BE(); }, 0x0405, 5},
        {"u32be", TPastEnd::Raise, 0, [](TByteReader& r) { return r.ReadU32BE(); }, 0x01020304, 4},
        {"u8 at end", TPastEnd::Raise, 5, [](TByteReader& r) { return r.ReadU8(); }, Raises, 5},
        {"u16le across end", TPastEnd::Raise, 4, [](TByteReader& r) { return r.ReadU16LE(); }, Raises, 4},
        {"u32be across end", TPastEnd::Raise, 2, [](TByteReader& r) { return r.ReadU32BE(); }, Raises, 2},
        {"u8 far past end", TPastEnd::Raise, 90, [](TByteReader& r) { return r.ReadU8(); }, Raises, 90},
        {"bytes across end", TPastEnd::Raise, 3,
         [](TByteReader& r) {
             uint8_t b[3];
             r.ReadBytes(b, 3);
             return 0;
         },
         Raises, 3},
        {"zero u8 at end", TPastEnd::ZeroFill, 5, [](TByteReader& r) { return r.ReadU8(); }, 0, 6},
        {"zero u16le across end", TPastEnd::ZeroFill, 4, [](TByteReader& r) { return r.ReadU16LE(); }, 0x0005, 6},
        {"zero u32be across end", TPastEnd::ZeroFill, 3, [](TByteReader& r) { return r.ReadU32BE(); }, 0x04050000, 7},
        {"zero u32le far past end", TPastEnd::ZeroFill, 90, [](TByteReader& r) { return r.ReadU32LE(); }, 0, 94},
        {"zero bytes across end", TPastEnd::ZeroFill, 3,
         [](TByteReader& r) {
             uint8_t b[4] = {9, 9, 9, 9};
             r.ReadBytes(b, 4);
             return int64_t(GetU32BE(b));
         },
         0x04050000, 7},
    };
    for (const auto& c : cases) {
        TByteReader r(data, c.PastEnd);
        r.Seek(c.Start);
        if (c.Want == Raises)
            EXPECT_THROW(c.Read(r), EReadError) << c.Name;
        else
            EXPECT_EQ(c.Read(r), c.Want) << c.Name;
        EXPECT_EQ(r.Position(), c.WantPos) << c.Name;
        EXPECT_EQ(r.Remaining(), std::max<int64_t>(0, 5 - c.WantPos)) << c.Name;
    }

    // Seeks below the start stop at 0; nothing at all is simply the end.
    TByteReader r(data);
    r.Seek(-7);
    EXPECT_EQ(r.ReadU8(), 0x01);
    TByteReader none({});
    EXPECT_THROW(none.ReadU8(), EReadError);
    TByteReader zeros({}, TPastEnd::ZeroFill);
    EXPECT_EQ(zeros.ReadU32LE(), 0u);
}

TEST(ByteReader, WholeFileOrNothing)
{
    std::vector<uint8_t> bytes = {7};
    EXPECT_FALSE(ReadWholeFile("/nonexistent/file.bin", bytes));
    EXPECT_TRUE(bytes.empty());
    const std::string name = (std::filesystem::temp_directory_path() / "kv_bytereader.bin").string();
    {
        TFileStream f(name, fmCreate);
        f.WriteU32BE(0x0A0B0C0D);
    }
    ASSERT_TRUE(ReadWholeFile(name, bytes));
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0x0A, 0x0B, 0x0C, 0x0D}));
}
