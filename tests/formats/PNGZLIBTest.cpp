#include "formats/PNGZLIB.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <numeric>

using namespace kv;

namespace {

std::vector<uint8_t> Pattern(size_t n)
{
    std::vector<uint8_t> v(n);
    uint32_t x = 12345;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        v[i] = uint8_t((i % 7 == 0) ? (x >> 24) : i / 3);
    }
    return v;
}

std::vector<uint8_t> Compress(const std::vector<uint8_t>& data, TCompressionLevel level, int* progress = nullptr)
{
    TMemoryStream dest;
    dest.WriteBuffer("ab", 2); // the compressed data need not start at 0
    {
        TZCompressionStream z(level, dest);
        if (progress)
            z.OnProgress = [progress](TObject*) { ++*progress; };
        z.WriteBuffer(data.data(), int64_t(data.size()));
        EXPECT_EQ(z.Position(), int64_t(data.size()));
        z.Finish();
    }
    return std::vector<uint8_t>(dest.Memory() + 2, dest.Memory() + dest.Size());
}

} // namespace

TEST(PNGZLIB, RoundTripEveryLevelAndZlibAgrees)
{
    auto data = Pattern(300000);
    for (TCompressionLevel level : {TCompressionLevel::clNone, TCompressionLevel::clFastest,
                                    TCompressionLevel::clDefault, TCompressionLevel::clMax}) {
        int progress = 0;
        auto packed = Compress(data, level, &progress);
        if (level == TCompressionLevel::clNone) {
            EXPECT_GT(progress, 4); // 300000 stored bytes pass through the 64 KiB buffer several times
        }
        uLongf outLen = uLongf(data.size());
        std::vector<uint8_t> out(data.size());
        ASSERT_EQ(uncompress(out.data(), &outLen, packed.data(), uLong(packed.size())), Z_OK);
        EXPECT_EQ(out, data);

        TMemoryStream src;
        src.WriteBuffer("xyz", 3);
        src.WriteBuffer(packed.data(), int64_t(packed.size()));
        src.SetPosition(3);
        TZDecompressionStream d(src);
        std::vector<uint8_t> back(data.size() + 10);
        EXPECT_EQ(d.Read(back.data(), int64_t(back.size())), int64_t(data.size()));
        back.resize(data.size());
        EXPECT_EQ(back, data);
    }
}

TEST(PNGZLIB, SeekRulesOfTheDecompressionStream)
{
    auto data = Pattern(20000);
    auto packed = Compress(data, TCompressionLevel::clDefault);
    TMemoryStream src;
    src.WriteBuffer("\0\0\0\0", 4);
    src.WriteBuffer(packed.data(), int64_t(packed.size()));
    src.SetPosition(4);
    TZDecompressionStream d(src);
    EXPECT_EQ(d.Seek(5000, soCurrent), 5000);
    uint8_t b = 0;
    d.ReadBuffer(&b, 1);
    EXPECT_EQ(b, data[5000]);
    EXPECT_EQ(d.Seek(9000, soBeginning), 9000);
    d.ReadBuffer(&b, 1);
    EXPECT_EQ(b, data[9000]);
    EXPECT_THROW(d.Seek(100, soBeginning), EZLibError); // backwards, not to the start
    EXPECT_THROW(d.Seek(-1, soCurrent), EZLibError);
    EXPECT_THROW(d.Seek(0, soEnd), EZLibError);
    // Back to the start returns to where the compressed data began, not to 0.
    EXPECT_EQ(d.Seek(0, soBeginning), 0);
    d.ReadBuffer(&b, 1);
    EXPECT_EQ(b, data[0]);
    EXPECT_EQ(d.Seek(1000000, soCurrent), 20000); // discarding stops at the end
    EXPECT_THROW(d.Write(&b, 1), EZLibError);
}

TEST(PNGZLIB, OperationsNotOfferedAndBadData)
{
    TMemoryStream dest;
    TZCompressionStream z(TCompressionLevel::clDefault, dest);
    uint8_t b = 0;
    EXPECT_THROW(z.Read(&b, 1), EZLibError);
    EXPECT_THROW(z.Seek(0, soBeginning), EZLibError);
    try {
        z.Seek(1, soCurrent);
        FAIL();
    } catch (const EZLibError& e) {
        EXPECT_EQ(e.Message(), "Invalid ZStream operation!");
    }

    // Not a zlib header: zlib's own message.
    const uint8_t junk[] = {0x12, 0x34, 0x56, 0x78, 0x9A};
    TReadOnlyMemoryStream src(junk, sizeof junk);
    TZDecompressionStream d(src);
    try {
        d.Read(&b, 1);
        FAIL();
    } catch (const EZDecompressionError& e) {
        EXPECT_EQ(e.Message(), "data error");
    }

    // Truncated data returns what it could make, without an error.
    auto data = Pattern(5000);
    auto packed = Compress(data, TCompressionLevel::clNone);
    TReadOnlyMemoryStream cut(packed.data(), 1000);
    TZDecompressionStream d2(cut);
    std::vector<uint8_t> out(5000);
    int64_t got = d2.Read(out.data(), 5000);
    EXPECT_GT(got, 0);
    EXPECT_LT(got, 1000);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + got, data.begin()));
}

// The in-place inflater ends, fails and counts exactly as the stream does, for whole, cut
// and damaged data read in pieces of several sizes.
TEST(PNGZLIB, BlockInflaterMatchesTheStream)
{
    auto data = Pattern(300000);
    auto packed = Compress(data, TCompressionLevel::clDefault);
    auto damaged = packed;
    damaged[packed.size() / 2] ^= 0x55;
    const std::vector<uint8_t> cut(packed.begin(), packed.begin() + 70000);
    for (const std::vector<uint8_t>* input :
         std::initializer_list<const std::vector<uint8_t>*>{&packed, &damaged, &cut})
        for (int64_t piece : {1, 4097, 65536, 400000}) {
            auto run = [&](auto& Reader, std::vector<uint8_t>& Out) {
                std::vector<uint8_t> buf(static_cast<size_t>(piece));
                try {
                    for (;;) {
                        int64_t got = Reader.Read(buf.data(), piece);
                        Out.insert(Out.end(), buf.begin(), buf.begin() + got);
                        if (got < piece)
                            return std::string("end");
                    }
                } catch (const EZDecompressionError& e) {
                    return e.Message();
                }
            };
            TReadOnlyMemoryStream src(input->data(), int64_t(input->size()));
            TZDecompressionStream stream(src);
            TZBlockInflater block(input->data(), int64_t(input->size()));
            std::vector<uint8_t> a, b;
            EXPECT_EQ(run(block, b), run(stream, a)) << piece;
            EXPECT_EQ(a, b) << piece;
        }
    TZBlockInflater whole(packed.data(), int64_t(packed.size()));
    std::vector<uint8_t> out(data.size() + 1);
    EXPECT_EQ(whole.Read(out.data(), int64_t(out.size())), int64_t(data.size()));
    EXPECT_EQ(whole.LastReadCount(), int64_t(data.size()));
}
