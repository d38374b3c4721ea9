#include "platform/Classes.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

using namespace kv;

TEST(Streams, LittleAndBigEndianFieldsRoundTrip)
{
    TMemoryStream s;
    s.WriteU16LE(0x1234);
    s.WriteU32LE(0xA1B2C3D4);
    s.WriteU16BE(0x1234);
    s.WriteU32BE(0xA1B2C3D4);
    ASSERT_EQ(s.Size(), 12);
    const auto& b = s.Bytes();
    EXPECT_EQ(b[0], 0x34);
    EXPECT_EQ(b[2], 0xD4);
    EXPECT_EQ(b[6], 0x12);
    EXPECT_EQ(b[8], 0xA1);
    s.SetPosition(0);
    EXPECT_EQ(s.ReadU16LE(), 0x1234);
    EXPECT_EQ(s.ReadU32LE(), 0xA1B2C3D4u);
    EXPECT_EQ(s.ReadU16BE(), 0x1234);
    EXPECT_EQ(s.ReadU32BE(), 0xA1B2C3D4u);
    EXPECT_THROW(s.ReadU8(), EReadError);
}

TEST(Streams, SafeFileStreamKeepsOldFileUntilCommit)
{
    auto dir = std::filesystem::temp_directory_path() / "kv_safe_stream";
    std::filesystem::create_directories(dir);
    std::string name = (dir / "a.bin").string();
    {
        TSafeFileStream f(name);
        f.WriteU8(1);
        f.Commit();
    }
    {
        TSafeFileStream f(name);
        f.WriteU8(2);
        f.WriteU8(3);
        // destroyed without Commit: the old file stays as it was
    }
    TMemoryStream m;
    m.LoadFromFile(name);
    ASSERT_EQ(m.Size(), 1);
    EXPECT_EQ(m.Bytes()[0], 1);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
    std::filesystem::remove_all(dir);
}

// Gathered pieces land between buffered writes in order, and scattered reads take them
// back, the stream's position following both, on a file as in memory.
TEST(Streams, WritePiecesKeepsOrderAndPosition)
{
    auto dir = std::filesystem::temp_directory_path() / "kv_pieces";
    std::filesystem::create_directories(dir);
    const std::string name = (dir / "p.bin").string();
    std::vector<uint8_t> big(5000);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = uint8_t(i * 7);
    std::vector<TWritePiece> pieces;
    for (int i = 0; i < 700; ++i) // more pieces than one system call takes here
        pieces.push_back({&big[size_t(i) % 7], 3});
    pieces.push_back({big.data(), 0});
    pieces.push_back({big.data(), int64_t(big.size())});
    std::vector<uint8_t> want{9};
    for (int i = 0; i < 700; ++i)
        want.insert(want.end(), big.begin() + i % 7, big.begin() + i % 7 + 3);
    want.insert(want.end(), big.begin(), big.end());
    want.push_back(4);
    TMemoryStream mem;
    {
        TSafeFileStream f(name);
        for (TStream* s : {static_cast<TStream*>(&f), static_cast<TStream*>(&mem)}) {
            s->WriteU8(9);
            s->WritePieces(pieces.data(), int64_t(pieces.size()));
            EXPECT_EQ(s->Position(), int64_t(want.size()) - 1);
            s->WriteU8(4);
        }
        f.Commit();
    }
    TMemoryStream back;
    back.LoadFromFile(name);
    EXPECT_EQ(back.Bytes(), want);
    EXPECT_EQ(mem.Bytes(), want);
    // Read back scattered, in reverse order of the pieces, after a buffered read; a read
    // past the end raises.
    {
        TFileStream f(name, fmOpenRead);
        mem.SetPosition(0);
        for (TStream* s : {static_cast<TStream*>(&f), static_cast<TStream*>(&mem)}) {
            EXPECT_EQ(s->ReadU8(), 9);
            std::vector<uint8_t> got(want.size() - 2, 0);
            std::vector<TReadPiece> into;
            for (size_t at = got.size(); at > 0; at -= std::min<size_t>(at, 3))
                into.push_back({&got[at - std::min<size_t>(at, 3)], int64_t(std::min<size_t>(at, 3))});
            s->ReadPieces(into.data(), int64_t(into.size()));
            std::vector<uint8_t> expect;
            for (const TReadPiece& p : into)
                expect.insert(expect.end(), static_cast<uint8_t*>(p.Data), static_cast<uint8_t*>(p.Data) + p.Count);
            EXPECT_TRUE(std::equal(expect.begin(), expect.end(), want.begin() + 1));
            EXPECT_EQ(s->Position(), int64_t(want.size()) - 1);
            EXPECT_EQ(s->ReadU8(), 4);
            uint8_t one;
            TReadPiece past{&one, 1};
            EXPECT_THROW(s->ReadPieces(&past, 1), EReadError);
        }
    }
    std::filesystem::remove_all(dir);
}

TEST(Streams, OpenMissingFileRaises) { EXPECT_THROW(TFileStream("/nonexistent/x", fmOpenRead), EFOpenError); }

TEST(StringList, TextUsesCrLfAndReadsAnyLineEnd)
{
    TStringList l;
    l.SetText("one\r\ntwo\nthree\rfour");
    ASSERT_EQ(l.Count(), 4);
    EXPECT_EQ(l[3], "four");
    EXPECT_EQ(l.Text(), "one\r\ntwo\r\nthree\r\nfour\r\n");
    EXPECT_EQ(l.IndexOf("TWO"), 1);
    l.Insert(0, "zero");
    l.Delete(2);
    EXPECT_EQ(l.Text(), "zero\r\none\r\nthree\r\nfour\r\n");
    EXPECT_THROW(l.Delete(10), EStringListError);
}

TEST(StringList, SortedIgnoresDuplicates)
{
    TStringList l;
    l.SetSorted(true);
    l.Add("b");
    l.Add("a");
    l.Add("B");
    ASSERT_EQ(l.Count(), 2);
    EXPECT_EQ(l[0], "a");
    EXPECT_THROW(l.Insert(0, "c"), EStringListError);
}

TEST(SysUtils, MulDivRoundsAndSignalsOverflow)
{
    EXPECT_EQ(MulDiv(7, 1, 2), 4);
    EXPECT_EQ(MulDiv(-7, 1, 2), -4);
    EXPECT_EQ(MulDiv(10, 10, 0), -1);
    EXPECT_EQ(MulDiv(0x7FFFFFFF, 4, 1), -1);
    EXPECT_EQ(MulDiv(255, 3, 15), 51);
}

TEST(SysUtils, FileNameHelpers)
{
    EXPECT_EQ(ExtractFileExt("/a.b/c.Gif"), ".Gif");
    EXPECT_EQ(ExtractFileExt("/a.b/c"), "");
    EXPECT_EQ(ExtractFileName("/x/y.kvn"), "y.kvn");
    EXPECT_EQ(ExtractFilePath("/x/y.kvn"), "/x/");
    EXPECT_EQ(ChangeFileExt("/x/y.kvn", ".bmp"), "/x/y.bmp");
    EXPECT_EQ(StrToIntDef("$1F", 0), 31);
    EXPECT_EQ(StrToIntDef("$FFFFFFFF", 0), -1);
    EXPECT_EQ(StrToIntDef("$100000000", 7), 7); // beyond 32 bits: not a value
    EXPECT_THROW(StrToInt("12a"), EConvertError);
}

TEST(SysUtils, PixelBufferSizesAreChecked)
{
    EXPECT_THROW(AllocPixelBuffer(70000, 1, 280000, "test"), EOutOfResources);
    EXPECT_THROW(AllocPixelBuffer(20000, 20000, 80000, "test"), EOutOfResources);
    EXPECT_THROW(AllocPixelBuffer(-1, 5, 4, "test"), EOutOfResources);
    uint8_t* p = AllocPixelBuffer(3, 3, 12, "test");
    for (int i = 0; i < 36; ++i)
        ASSERT_EQ(p[i], 0);
    FreePixelBuffer(p);

    // The yes/no answer and the raising check draw the same line, at each of its edges.
    const struct {
        int64_t W, H;
        bool Ok;
    } sizes[] = {{0, 0, true},   {65535, 4096, true},  {65536, 1, false},    {1, 65536, false},
                 {-1, 1, false}, {16384, 16384, true}, {16385, 16384, false}};
    for (const auto& s : sizes) {
        EXPECT_EQ(PixelBufferSizeOk(s.W, s.H), s.Ok) << s.W << " x " << s.H;
        if (s.Ok)
            EXPECT_NO_THROW(CheckPixelBufferSize(s.W, s.H, "test"));
        else
            EXPECT_THROW(CheckPixelBufferSize(s.W, s.H, "test"), EOutOfResources);
    }
    EXPECT_EQ(PixelBufferSizeMessage(70000, 2, "layer"), "layer: picture size 70000 x 2 is too large");
}

TEST(Persistent, AssignErrorNamesBothClasses)
{
    TPersistent a;
    TStringList b;
    try {
        b.Assign(&a);
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "Cannot assign a TPersistent to a TStringList");
    }
}

TEST(SysUtils, LargePixelBuffersAreZeroedAlignedAndFreed)
{
    // Across the line between heap blocks and mapped blocks, each several times so a
    // freed block coming back dirty would show.
    for (int Round = 0; Round < 3; ++Round)
        for (int64_t Rows : {int64_t(1), int64_t(1000), int64_t(3000)}) {
            uint8_t* P = AllocPixelBuffer(1000, Rows, 4000, "test");
            ASSERT_NE(P, nullptr);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(P) % 64, 0u);
            const size_t Bytes = size_t(Rows) * 4000;
            for (size_t I = 0; I < Bytes; I += 997)
                ASSERT_EQ(P[I], 0) << I;
            ASSERT_EQ(P[Bytes - 1], 0);
            std::memset(P, 0xAB, Bytes);
            FreePixelBuffer(P);
        }
    FreePixelBuffer(nullptr); // nothing to free
}

TEST(SysUtils, AReplacedDocumentGetsItsOwnBlocksBack)
{
    // Ten layers a tenth apart in size, freed largest first as a document is cleared, then
    // asked for again smallest first: each must get back the block of its own size, not
    // a larger layer's (which would leave that layer fresh pages), and all of them must
    // have been kept.
    ReleaseCachedPixelBuffers();
    constexpr int Layers = 10;
    int64_t Rows[Layers];
    uint8_t* Freed[Layers];
    for (int I = 0; I < Layers; ++I) {
        Rows[I] = int64_t(300 * std::pow(1.1, I));
        Freed[I] = AllocPixelBuffer(1000, Rows[I], 4000, "test", TPixelFill::Overwritten);
    }
    for (int I = Layers - 1; I >= 0; --I)
        FreePixelBuffer(Freed[I]);
    for (int I = 0; I < Layers; ++I) {
        uint8_t* P = AllocPixelBuffer(1000, Rows[I], 4000, "test", TPixelFill::Overwritten);
        EXPECT_EQ(P, Freed[I]) << Rows[I] << " rows";
        Freed[I] = P;
    }
    for (uint8_t* P : Freed)
        FreePixelBuffer(P);
    ReleaseCachedPixelBuffers();
}

// Streams past the size where storage becomes a block of its own keep their bytes through
// every growth, and a recycled block still reads as zeros where the stream was extended.
TEST(Streams, LargeStreamsKeepTheirBytesAndGrowIntoZeros)
{
    constexpr size_t Min = TStreamAllocator<uint8_t>::BlockMin;
    for (const size_t n : {Min - 1, Min, 3 * Min + 5}) {
        SCOPED_TRACE(n);
        {
            TMemoryStream dirty;
            dirty.SetSize(int64_t(2 * n));
            std::memset(dirty.Memory(), 0xAA, 2 * n);
        }
        TMemoryStream s;
        std::vector<uint8_t> piece(4097);
        for (size_t done = 0; done < n; done += piece.size()) {
            for (size_t i = 0; i < piece.size(); ++i)
                piece[i] = uint8_t((done + i) * 7);
            s.WriteBuffer(piece.data(), int64_t(std::min(piece.size(), n - done)));
        }
        ASSERT_EQ(s.Size(), int64_t(n));
        s.SetSize(int64_t(2 * n));
        const std::vector<uint8_t> b = s.Bytes();
        for (size_t i = 0; i < n; ++i)
            ASSERT_EQ(b[i], uint8_t(i * 7)) << i;
        for (size_t i = n; i < 2 * n; ++i)
            ASSERT_EQ(b[i], 0) << i;
    }
}
