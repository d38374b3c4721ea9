// The PNG band writer and reader checked from outside: the writer's rows are unfiltered
// here with a Paeth predictor of the test's own (the first row of every band must be
// filtered against the row above it, not against zeros), and the reader gets streams
// cut into three flushed bands whose later bands refer back across the earlier ones.
#include "imaging/PngFilter.h"
#include "imaging/imgdefs.h"

#include "imaging/FilterTestUtil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <zlib.h>

using namespace kv;
using namespace kv::test;

namespace {

int Paeth(int A, int B, int C)
{
    const int P = A + B - C, Pa = std::abs(P - A), Pb = std::abs(P - B), Pc = std::abs(P - C);
    return Pa <= Pb && Pa <= Pc ? A : Pb <= Pc ? B : C;
}

void AddChunk(std::vector<uint8_t>& F, const char* Type, const uint8_t* Data, size_t N)
{
    uint8_t Head[8];
    PutU32BE(Head, uint32_t(N));
    std::memcpy(Head + 4, Type, 4);
    F.insert(F.end(), Head, Head + 8);
    F.insert(F.end(), Data, Data + N);
    const uLong OfType = crc32(0, Head + 4, 4);
    const uLong Sum = N > 0 ? crc32(OfType, Data, uInt(N)) : OfType; // no data: crc32 would restart
    uint8_t Crc[4];
    PutU32BE(Crc, uint32_t(Sum));
    F.insert(F.end(), Crc, Crc + 4);
}

std::vector<uint8_t> Header(int32_t W, int32_t H)
{
    std::vector<uint8_t> F = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    uint8_t Ihdr[13] = {};
    PutU32BE(Ihdr, uint32_t(W));
    PutU32BE(Ihdr + 4, uint32_t(H));
    Ihdr[8] = 8; // bit depth
    Ihdr[9] = 2; // RGB
    AddChunk(F, "IHDR", Ihdr, 13);
    return F;
}

} // namespace

TEST(PngBandWriter, PaethRowsUnfilterAgainstTheRowAboveAcrossBands)
{
    // 3073-byte rows, 700 of them: above two MiB, so the rows are cut into bands.
    const int32_t W = 1024, H = 700;
    TBitmap B;
    B.SetPixelFormat(pf24bit);
    B.SetSize(W, H);
    for (int32_t Y = 0; Y < H; ++Y)
        for (int32_t X = 0; X < W; ++X)
            SetPixelAt(B, X, Y, CreateRGB(uint8_t(X * 3 + Y * 7), uint8_t(Y * 11 + (X >> 4)), uint8_t((X * Y) >> 5)));
    TIOParamsVals P(nullptr);
    P.PngFilter = 2; // Paeth
    TMemoryStream S;
    TProgressFixture Pr;
    WritePngStream(S, B, P, Pr.Progress, nullptr);
    ASSERT_FALSE(Pr.Aborting);
    const std::vector<uint8_t>& F = S.Bytes();
    std::vector<uint8_t> Z;
    int Idats = 0;
    for (size_t At = 8; At + 12 <= F.size();) {
        const size_t N = GetU32BE(&F[At]);
        if (std::memcmp(&F[At + 4], "IDAT", 4) == 0) {
            Z.insert(Z.end(), F.begin() + long(At + 8), F.begin() + long(At + 8 + N));
            ++Idats;
        }
        At += 12 + N;
    }
    EXPECT_GE(Idats, 2);
    const size_t RowBytes = 1 + size_t(W) * 3;
    std::vector<uint8_t> Rows(RowBytes * H + 1);
    uLongf Got = uLongf(Rows.size());
    ASSERT_EQ(uncompress(Rows.data(), &Got, Z.data(), uLong(Z.size())), Z_OK);
    ASSERT_EQ(Got, RowBytes * H);
    std::vector<uint8_t> Prev(RowBytes - 1, 0), Cur(RowBytes - 1);
    for (int32_t Y = 0; Y < H; ++Y) {
        const uint8_t* R = &Rows[size_t(Y) * RowBytes];
        ASSERT_EQ(R[0], 4) << Y;
        for (size_t I = 0; I < Cur.size(); ++I) {
            const int A = I >= 3 ? Cur[I - 3] : 0, C = I >= 3 ? Prev[I - 3] : 0;
            Cur[I] = uint8_t(R[1 + I] + Paeth(A, Prev[I], C));
        }
        for (int32_t X = 0; X < W; ++X) {
            const TRGB Want = PixelAt(B, X, Y);
            ASSERT_EQ(Cur[3 * size_t(X)], Want.r) << X << "," << Y;
            ASSERT_EQ(Cur[3 * size_t(X) + 1], Want.g) << X << "," << Y;
            ASSERT_EQ(Cur[3 * size_t(X) + 2], Want.b) << X << "," << Y;
        }
        std::swap(Prev, Cur);
    }
}

TEST(PngBandReader, LaterBandsReferringBackAreReadAgainInOrder)
{
    // 60 x 90 RGB rows of a few repeating patterns, deflated in three pieces, each ended
    // by a flush and put in an IDAT of its own. A sync flush lets the next piece refer
    // back: its guess, inflated alone, fails and is inflated again after the data
    // before it; a full flush does not, and its guess stands.
    const int32_t W = 60, H = 90;
    const size_t RowBytes = 1 + size_t(W) * 3;
    std::vector<uint8_t> Rows(RowBytes * H);
    for (int32_t Y = 0; Y < H; ++Y)
        for (int32_t X = 0; X < W; ++X) {
            uint8_t* Q = &Rows[size_t(Y) * RowBytes + 1 + 3 * size_t(X)];
            const int32_t K = (X / 5 + Y % 4) % 3;
            Q[0] = uint8_t(40 * K + Y / 30), Q[1] = uint8_t(200 - 30 * K), Q[2] = uint8_t(X % 7 * 9);
        }
    for (int Flushes : {0, 1, 2, 3}) { // bit 0: the first flush is full; bit 1: the second
        SCOPED_TRACE(Flushes);
        std::vector<uint8_t> Z(compressBound(uLong(Rows.size())) + 256);
        z_stream D{};
        ASSERT_EQ(deflateInit(&D, 9), Z_OK);
        D.next_out = Z.data();
        D.avail_out = uInt(Z.size());
        size_t Cuts[3];
        const size_t Third = Rows.size() / 3;
        for (int Piece = 0; Piece < 3; ++Piece) {
            D.next_in = Rows.data() + Third * size_t(Piece);
            D.avail_in = uInt(Piece == 2 ? Rows.size() - 2 * Third : Third);
            const int Flush = Piece == 2 ? Z_FINISH : (Flushes >> Piece) & 1 ? Z_FULL_FLUSH : Z_SYNC_FLUSH;
            ASSERT_EQ(deflate(&D, Flush), Piece == 2 ? Z_STREAM_END : Z_OK);
            Cuts[Piece] = D.total_out;
        }
        deflateEnd(&D);
        std::vector<uint8_t> F = Header(W, H);
        AddChunk(F, "IDAT", Z.data(), Cuts[0]);
        AddChunk(F, "IDAT", Z.data() + Cuts[0], Cuts[1] - Cuts[0]);
        AddChunk(F, "IDAT", Z.data() + Cuts[1], Cuts[2] - Cuts[1]);
        AddChunk(F, "IEND", nullptr, 0);
        TReadOnlyMemoryStream S(F.data(), int64_t(F.size()));
        TBitmap B;
        TIOParamsVals P(nullptr);
        TProgressFixture Pr;
        ReadPngStream(S, B, P, Pr.Progress, false, nullptr);
        ASSERT_FALSE(Pr.Aborting);
        ASSERT_EQ(B.Width(), W);
        ASSERT_EQ(B.Height(), H);
        for (int32_t Y = 0; Y < H; ++Y)
            for (int32_t X = 0; X < W; ++X) {
                const uint8_t* Q = &Rows[size_t(Y) * RowBytes + 1 + 3 * size_t(X)];
                ASSERT_EQ(PixelAt(B, X, Y), CreateRGB(Q[0], Q[1], Q[2])) << X << "," << Y;
            }
    }
}
