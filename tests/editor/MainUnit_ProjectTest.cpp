// The project file: byte layouts written, round trips, a file built by hand, and every
// kind of bad input refused with the open document untouched.
#include "EditorFixture.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

using namespace kv;
using namespace kv::test;

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t U32(const Bytes& B, size_t At) { return GetU32LE(B.data() + At); }

void Put32(Bytes& B, uint32_t V)
{
    for (int I = 0; I < 4; ++I)
        B.push_back(uint8_t(V >> (8 * I)));
}

void PutF(Bytes& B, float F)
{
    uint32_t Bits;
    std::memcpy(&Bits, &F, 4);
    Put32(B, Bits);
}

void PutText(Bytes& B, const std::string& S) { B.insert(B.end(), S.begin(), S.end()); }

// A 32-bit BMP spelled out field by field; Pixels bottom row first, B, G, R, A each.
Bytes HandBmp(int32_t W, int32_t H, uint32_t Pixel)
{
    Bytes B;
    PutText(B, "BM");
    Put32(B, uint32_t(54 + 4 * W * H)); // file size
    Put32(B, 0);                        // reserved
    Put32(B, 54);                       // data offset
    Put32(B, 40);                       // info header size
    Put32(B, uint32_t(W));
    Put32(B, uint32_t(H));
    B.push_back(1), B.push_back(0);  // planes
    B.push_back(32), B.push_back(0); // bits per pixel
    Put32(B, 0);                     // BI_RGB
    Put32(B, uint32_t(4 * W * H));   // image size
    for (int I = 0; I < 4; ++I)
        Put32(B, 0); // resolution, colours used, important
    for (int32_t I = 0; I < W * H; ++I)
        Put32(B, Pixel);
    return B;
}

Bytes Record(const std::string& Kind, int32_t Opacity, TSingleRect R, uint8_t Swv, uint8_t Clip, int32_t Magn,
             int32_t Rot, uint8_t Interp)
{
    Bytes B(108, 0);
    B[0] = uint8_t(Kind.size());
    std::memcpy(&B[1], Kind.data(), Kind.size());
    Bytes Tail;
    Put32(Tail, uint32_t(Opacity));
    PutF(Tail, R.Left), PutF(Tail, R.Top), PutF(Tail, R.Right), PutF(Tail, R.Bottom);
    std::memcpy(&B[72], Tail.data(), Tail.size());
    B[92] = Swv;
    B[93] = Clip;
    Bytes M;
    Put32(M, uint32_t(Magn));
    Put32(M, uint32_t(Rot));
    std::memcpy(&B[96], M.data(), 8);
    B[104] = Interp;
    return B;
}

// Blocks, then the size list of their lengths, then the trailer.
Bytes Assemble(const std::vector<Bytes>& Blocks)
{
    Bytes Out;
    std::string List;
    for (const Bytes& Block : Blocks) {
        Out.insert(Out.end(), Block.begin(), Block.end());
        List += std::to_string(Block.size()) + "\r\n";
    }
    PutText(Out, List);
    Put32(Out, uint32_t(List.size() + 4));
    return Out;
}

} // namespace

class ProjectTest : public EditorTest {
protected:
    Bytes Save()
    {
        TMemoryStream S;
        Form->SaveProjectToStream(S);
        return S.Bytes();
    }

    void Load(const Bytes& B)
    {
        TReadOnlyMemoryStream S(B.data(), int64_t(B.size()));
        Form->LoadProjectFromStream(S, "test.kvn");
    }

    // The worked example: background 4 x 4, one 3 x 2 picture layer.
    TBitmapLayer* WorkedDocument()
    {
        Form->NewBackground(4, 4, 0xFF112233);
        TBitmapLayer* P = AddPicture(3, 2, 0x80A0B0C0, {10.5f, 20, 13.5f, 22});
        P->Bitmap()->SetPixelFast(2, 1, 0x01020304);
        P->Bitmap()->SetMasterAlpha(200);
        P->Bitmap()->SetStretchFilter(sfLinear);
        Form->SetSelection(P);
        return P;
    }

    // A fingerprint of the open document for the unchanged-after-failure checks.
    std::string Fingerprint()
    {
        std::string F = std::to_string(Bg()->Width()) + "x" + std::to_string(Bg()->Height());
        for (int32_t I = 0; I < Bg()->Width() * Bg()->Height(); ++I)
            F += "," + std::to_string(Bg()->Bits()[I]);
        for (int32_t I = 0; I < Layers()->Count(); ++I) {
            auto* P = dynamic_cast<TPositionedLayer*>(Layers()->Items(I));
            F += "|" + Layers()->Items(I)->ClassName();
            if (P)
                F += std::to_string(P->Placement().Left) + "," + std::to_string(P->Placement().Bottom);
        }
        F += Form->Selection() ? "sel" : "nosel";
        return F;
    }
};

TEST_F(ProjectTest, WorkedExampleIsWrittenByteForByte)
{
    WorkedDocument();
    const Bytes B = Save();
    ASSERT_EQ(B.size(), 322u);
    const uint8_t LayerHead[] = {0x42, 0x4D, 0x4E, 0, 0, 0, 0, 0, 0, 0, 0x36, 0,    0, 0, 0x28, 0, 0,
                                 0,    3,    0,    0, 0, 2, 0, 0, 0, 1, 0,    0x20, 0, 0, 0,    0, 0};
    EXPECT_EQ(0, std::memcmp(B.data(), LayerHead, sizeof(LayerHead)));
    // Bottom row first: the layer's (2, 1) is the third pixel of the block.
    EXPECT_EQ(U32(B, 54 + 8), 0x01020304u);
    EXPECT_EQ(U32(B, 54), 0x80A0B0C0u);
    EXPECT_EQ(B[78], 0x42);
    EXPECT_EQ(U32(B, 80), 118u);
    EXPECT_EQ(U32(B, 78 + 10), 54u);
    EXPECT_EQ(U32(B, 78 + 18), 4u);
    EXPECT_EQ(U32(B, 78 + 54), 0xFF112233u);

    const Bytes Rec(B.begin() + 196, B.begin() + 304);
    EXPECT_EQ(Rec, Record("bitmap", 200, {10.5f, 20, 13.5f, 22}, 1, 0, 0, 0, 1));
    const uint8_t Placement[] = {0, 0, 0x28, 0x41, 0, 0, 0xA0, 0x41, 0, 0, 0x58, 0x41, 0, 0, 0xB0, 0x41};
    EXPECT_EQ(0, std::memcmp(&B[196 + 76], Placement, 16));
    const uint8_t List[] = {0x37, 0x38, 0x0D, 0x0A, 0x31, 0x31, 0x38, 0x0D, 0x0A, 0x31, 0x30, 0x38, 0x0D, 0x0A};
    EXPECT_EQ(0, std::memcmp(&B[304], List, sizeof(List)));
    EXPECT_EQ(U32(B, 318), 18u);
    // Deterministic: the same document writes the same bytes.
    EXPECT_EQ(Save(), B);
}

TEST_F(ProjectTest, WorkedExampleReadsBackIdentically)
{
    WorkedDocument();
    const Bytes B = Save();
    Form->NewBackground(9, 9, clBlack32);
    Load(B);
    EXPECT_EQ(Bg()->Width(), 4);
    EXPECT_EQ(Bg()->GetPixelFast(3, 3), 0xFF112233u);
    ASSERT_EQ(Layers()->Count(), 2);
    auto* P = dynamic_cast<TBitmapLayer*>(Layers()->Items(0));
    ASSERT_NE(P, nullptr);
    EXPECT_EQ(Layers()->Items(1), Form->RBLayer());
    EXPECT_EQ(Form->Selection(), P);
    EXPECT_TRUE(SameRect(P->Placement(), {10.5f, 20, 13.5f, 22}));
    EXPECT_EQ(P->Bitmap()->MasterAlpha(), 200u);
    EXPECT_EQ(P->Bitmap()->StretchFilter(), sfLinear);
    EXPECT_EQ(P->Bitmap()->DrawMode(), dmBlend);
    EXPECT_TRUE(P->ScaleWithView());
    EXPECT_FALSE(P->ClipToImage());
    EXPECT_EQ(P->Bitmap()->GetPixelFast(0, 0), 0x80A0B0C0u);
    EXPECT_EQ(P->Bitmap()->GetPixelFast(2, 1), 0x01020304u);
    EXPECT_EQ(Save(), B);
}

TEST_F(ProjectTest, DocumentWithoutLayersIsOneBlockAndOneLine)
{
    Form->NewBackground(4, 4, clWhite32);
    const Bytes B = Save();
    ASSERT_EQ(B.size(), 127u);
    EXPECT_EQ(std::string(B.begin() + 118, B.begin() + 123), "118\r\n");
    EXPECT_EQ(U32(B, 123), 9u);
    AddPicture(2, 2, clRed32, {0, 0, 2, 2});
    Load(B);
    EXPECT_EQ(Layers()->Count(), 0);
    EXPECT_EQ(Bg()->GetPixelFast(0, 0), clWhite32);
}

TEST_F(ProjectTest, MagnifierRecordAndOrderSurviveAReload)
{
    Form->NewBackground(4, 4, clWhite32);
    TBitmapLayer* A = AddPicture(2, 2, clRed32, {0, 0, 2, 2});
    TPositionedLayer* M = AddMagnifier();
    M->SetPlacement({1, 1, 3, 3});
    TBitmapLayer* B = AddPicture(1, 1, clBlue32, {5, 5, 6, 6});
    Form->SetSelection(A);
    Form->MagnOpacity->setValue(77);
    Form->MagnMagnification->setValue(20);
    Form->MagnRotation->setValue(-90);
    Form->MagnInterpolate->setChecked(true);
    const Bytes F = Save();
    // Blocks: A (70), B (58), background (118), records (324).
    const size_t Rec1 = 70 + 58 + 118 + 108;
    EXPECT_EQ(Bytes(F.begin() + Rec1, F.begin() + Rec1 + 5), (Bytes{0x04, 0x6D, 0x61, 0x67, 0x6E}));
    EXPECT_EQ(U32(F, Rec1 + 72), 77u);
    EXPECT_EQ(U32(F, Rec1 + 96), 20u);
    EXPECT_EQ(U32(F, Rec1 + 100), 0xFFFFFFA6u);
    EXPECT_EQ(F[Rec1 + 104], 1);
    const size_t ListAt = 70 + 58 + 118 + 324;
    EXPECT_EQ(std::string(F.begin() + ListAt, F.end() - 4), "70\r\n58\r\n118\r\n324\r\n");

    Form->MagnOpacity->setValue(1);
    Form->MagnMagnification->setValue(1);
    Form->MagnRotation->setValue(1);
    Form->MagnInterpolate->setChecked(false);
    Load(F);
    ASSERT_EQ(Layers()->Count(), 4);
    EXPECT_EQ(Layers()->Items(0)->ClassName(), "TBitmapLayer");
    EXPECT_EQ(Layers()->Items(1)->Tag(), TagMagnifier);
    EXPECT_EQ(Layers()->Items(2)->ClassName(), "TBitmapLayer");
    EXPECT_EQ(Layers()->Items(3), Form->RBLayer());
    EXPECT_EQ(Form->Selection(), Layers()->Items(2));
    EXPECT_EQ(static_cast<TBitmapLayer*>(Layers()->Items(2))->Bitmap()->GetPixelFast(0, 0), clBlue32);
    EXPECT_EQ(static_cast<TBitmapLayer*>(Layers()->Items(0))->Bitmap()->GetPixelFast(0, 0), clRed32);
    EXPECT_EQ(Form->MagnOpacity->value(), 77);
    EXPECT_EQ(Form->MagnMagnification->value(), 20);
    EXPECT_EQ(Form->MagnRotation->value(), -90);
    EXPECT_TRUE(Form->MagnInterpolate->isChecked());
    (void)B;
}

TEST_F(ProjectTest, BandIsSkippedByIdentityAndFramesAreNotStored)
{
    Form->NewBackground(4, 4, clWhite32);
    TBitmapLayer* A = AddPicture(2, 2, clRed32, {0, 0, 2, 2});
    Form->SetSelection(A);
    TBitmapLayer* Top = AddPicture(1, 1, clBlue32, {0, 0, 1, 1}); // above the band
    AddFrame(TagSelectionFrame);
    Form->SetSelection(nullptr);
    const Bytes F = Save();
    Load(F);
    ASSERT_EQ(Layers()->Count(), 3); // A, Top, band
    EXPECT_EQ(static_cast<TBitmapLayer*>(Layers()->Items(1))->Bitmap()->GetPixelFast(0, 0), clBlue32);
    (void)Top;
    // Nothing was ever selected: the top layer is still stored.
    Form->NewBackground(4, 4, clWhite32);
    AddPicture(1, 1, clGreen32, {0, 0, 1, 1});
    Load(Save());
    EXPECT_EQ(Layers()->Count(), 2);
}

TEST_F(ProjectTest, HandBuiltFileLoads)
{
    // Old files may hold frames as "magn" records: they come back as magnifiers.
    const Bytes F = Assemble({HandBmp(2, 1, 0x7F00FF00), HandBmp(3, 3, 0xFF0000FF), [] {
                                  Bytes R = Record("bitmap", 128, {1, 2, 3, 4}, 0, 1, 99, 99, 0);
                                  Bytes M = Record("frame", 255, {0, 0, 3, 3}, 0, 0, 50, -180, 0);
                                  R.insert(R.end(), M.begin(), M.end());
                                  return R;
                              }()});
    Load(F);
    EXPECT_EQ(Bg()->Width(), 3);
    EXPECT_EQ(Bg()->GetPixelFast(1, 1), 0xFF0000FFu);
    ASSERT_EQ(Layers()->Count(), 3);
    auto* P = dynamic_cast<TBitmapLayer*>(Layers()->Items(0));
    ASSERT_NE(P, nullptr);
    EXPECT_EQ(P->Bitmap()->GetPixelFast(1, 0), 0x7F00FF00u);
    EXPECT_EQ(P->Bitmap()->MasterAlpha(), 128u);
    EXPECT_EQ(P->Bitmap()->StretchFilter(), sfNearest);
    EXPECT_FALSE(P->ScaleWithView());
    EXPECT_TRUE(P->ClipToImage());
    EXPECT_EQ(Layers()->Items(1)->Tag(), TagMagnifier);
    EXPECT_EQ(Form->MagnMagnification->value(), 50);
    EXPECT_EQ(Form->MagnRotation->value(), -180);
}

// A size list of "1000", "2000", "108", each with CR LF, is 17 bytes: the trailer is 21.
TEST_F(ProjectTest, TrailerOfTheThreeLineList)
{
    // The writer: blocks of 54 + 4 * 16 * 15 = 1014 and 54 + 4 * 22 * 22 = 1990 bytes.
    Form->NewBackground(22, 22, 0xFF445566);
    Form->SetSelection(AddPicture(16, 15, 0xFF778899, {1, 1, 17, 16}));
    const Bytes Written = Save();
    ASSERT_EQ(Written.size(), 1014u + 1990u + 108u + 17u + 4u);
    EXPECT_EQ(U32(Written, Written.size() - 4), 21u);
    EXPECT_EQ(std::string(Written.end() - 21, Written.end() - 4), "1014\r\n1990\r\n108\r\n");

    // The reader, on the list itself: BMP blocks padded to 1000 and 2000 bytes.
    auto Padded = [](Bytes B, size_t Size) {
        while (B.size() < Size)
            B.push_back(0xEE);
        return B;
    };
    const Bytes F = Assemble({Padded(HandBmp(6, 39, 0xFF102030), 1000), Padded(HandBmp(21, 23, 0xFF405060), 2000),
                              Record("bitmap", 255, {2, 3, 8, 42}, 1, 0, 0, 0, 0)});
    ASSERT_EQ(std::string(F.end() - 21, F.end() - 4), "1000\r\n2000\r\n108\r\n");
    ASSERT_EQ(U32(F, F.size() - 4), 21u);
    Load(F);
    EXPECT_EQ(Bg()->Width(), 21);
    EXPECT_EQ(Bg()->Height(), 23);
    EXPECT_EQ(Bg()->GetPixelFast(20, 22), 0xFF405060u);
    ASSERT_EQ(Layers()->Count(), 2);
    auto* P = dynamic_cast<TBitmapLayer*>(Layers()->Items(0));
    ASSERT_NE(P, nullptr);
    EXPECT_EQ(P->Bitmap()->Width(), 6);
    EXPECT_EQ(P->Bitmap()->Height(), 39);
    EXPECT_EQ(P->Bitmap()->GetPixelFast(5, 38), 0xFF102030u);
    EXPECT_TRUE(SameRect(P->Placement(), {2, 3, 8, 42}));
}

TEST_F(ProjectTest, BadInputIsRefusedAndTheDocumentStays)
{
    AddPicture(2, 2, clRed32, {3, 3, 5, 5});
    Form->SetSelection(static_cast<TPositionedLayer*>(Layers()->Items(0)));
    const std::string Before = Fingerprint();
    const Bytes Bmp = HandBmp(2, 2, 0xFF000000);
    const Bytes Bg4 = HandBmp(4, 4, 0xFFFFFFFF);
    const Bytes Good = Record("bitmap", 255, {0, 0, 2, 2}, 1, 0, 0, 0, 0);
    const float NaN = std::numeric_limits<float>::quiet_NaN();

    std::vector<std::pair<const char*, Bytes>> Cases = {
        {"empty", {}},
        {"short", {1, 2, 3, 4, 5, 6, 7}},
        {"trailer too big", [&] { Bytes B = Assemble({Bg4}); B[B.size() - 4] = 0xFF; return B; }()},
        {"trailer negative", [&] { Bytes B = Assemble({Bg4}); B[B.size() - 1] = 0x80; return B; }()},
        {"trailer 4", [&] { Bytes B = Bg4; Put32(B, 4); return B; }()},
        {"not a number", [&] { Bytes B = Bg4; PutText(B, "1x8\r\n"); Put32(B, 9); return B; }()},
        {"negative line", [&] { Bytes B = Bg4; PutText(B, "-118\r\n"); Put32(B, 10); return B; }()},
        {"unended line", [&] { Bytes B = Bg4; PutText(B, "118"); Put32(B, 7); return B; }()},
        {"blocks past list", [&] { Bytes B = Bg4; PutText(B, "119\r\n"); Put32(B, 9); return B; }()},
        {"huge line", [&] { Bytes B = Bg4; PutText(B, "99999999999999999999\r\n"); Put32(B, 26); return B; }()},
        {"one and a half records", [&] { Bytes R = Good; R.resize(162); return Assemble({Bmp, Bg4, R}); }()},
        {"more pictures than blocks", [&] {
             Bytes R = Good;
             R.insert(R.end(), Good.begin(), Good.end());
             return Assemble({Bmp, Bg4, R});
         }()},
        {"blocks without records", Assemble({Bmp, Bmp, Bg4, Good})},
        {"kind too long", [&] { Bytes R = Good; R[0] = 72; return Assemble({Bmp, Bg4, R}); }()},
        {"NaN placement", Assemble({Bmp, Bg4, Record("bitmap", 255, {NaN, 0, 2, 2}, 1, 0, 0, 0, 0)})},
        {"infinite placement",
         Assemble({Bmp, Bg4, Record("bitmap", 255, {0, 0, std::numeric_limits<float>::infinity(), 2}, 1, 0, 0, 0, 0)})},
        {"opacity 256", Assemble({Bmp, Bg4, Record("bitmap", 256, {0, 0, 2, 2}, 1, 0, 0, 0, 0)})},
        {"opacity -1", Assemble({Bg4, Record("magn", -1, {0, 0, 2, 2}, 0, 0, 10, 0, 0)})},
        {"magnification 51", Assemble({Bg4, Record("magn", 255, {0, 0, 2, 2}, 0, 0, 51, 0, 0)})},
        {"rotation 181", Assemble({Bg4, Record("magn", 255, {0, 0, 2, 2}, 0, 0, 10, 181, 0)})},
        {"BMP claims more than its block", [&] {
             Bytes Big = HandBmp(4, 4, 0xFFFFFFFF);
             Big.resize(Big.size() - 8);
             return Assemble({Big});
         }()},
        {"BMP huge size", [&] {
             Bytes Big = Bg4;
             PutU32LE(&Big[18], 70000);
             PutU32LE(&Big[22], 70000);
             return Assemble({Big});
         }()},
        {"not a BMP", Assemble({Bytes(118, 0x55)})},
    };
    for (const auto& [Name, B] : Cases) {
        EXPECT_THROW(Load(B), EProjectError) << Name;
        EXPECT_EQ(Fingerprint(), Before) << Name;
    }
    try {
        Load({});
    } catch (const EProjectError& E) {
        EXPECT_EQ(std::string(E.what()), "test.kvn is not a valid Kelvane project");
    }
}

TEST_F(ProjectTest, EveryTruncationOfAValidFileIsRefused)
{
    WorkedDocument();
    const Bytes B = Save();
    const std::string Before = Fingerprint();
    for (size_t N = 0; N < B.size(); ++N) {
        const Bytes Cut(B.begin(), B.begin() + N);
        EXPECT_THROW(Load(Cut), EProjectError) << N;
    }
    EXPECT_EQ(Fingerprint(), Before);
}

TEST_F(ProjectTest, FileRoundTripAndFailedOpenKeepsTheDocument)
{
    WorkedDocument();
    const std::string Name = testing::TempDir() + "kv_project_test.kvn";
    Form->SaveProject(Name);
    Form->NewBackground(2, 2, clBlack32);
    Form->LoadProject(Name);
    EXPECT_EQ(Bg()->Width(), 4);
    EXPECT_EQ(Layers()->Count(), 2);
    std::remove(Name.c_str());
    EXPECT_ANY_THROW(Form->LoadProject(Name));
    EXPECT_EQ(Bg()->Width(), 4);
}

// Picture blocks are written from the pictures' rows and read straight back into the
// layers' bitmaps: the bytes are those of the BMP writer, the pixels those of the BMP
// reader, alpha included, for odd sizes and a block the program did not write (24-bit).
TEST_F(ProjectTest, PictureBlocksMatchTheBmpCodecBothWays)
{
    Form->NewBackground(7, 5, 0xFF000000);
    for (int32_t I = 0; I < 35; ++I)
        Bg()->Bits()[I] = 0x01000000u * uint32_t(I * 7) + 0x00030507u * uint32_t(I);
    TBitmapLayer* P = AddPicture(3, 9, 0x00000000, {1, 2, 4, 11});
    for (int32_t I = 0; I < 27; ++I)
        P->Bitmap()->Bits()[I] = 0x09F1E2D3u * uint32_t(I + 1);
    const Bytes B = Save();

    auto Written = [](TBitmap32& Picture) {
        TMemoryStream S;
        Picture.SaveToStream(S);
        return S.Bytes();
    };
    const Bytes LayerBmp = Written(*P->Bitmap()), BackBmp = Written(*Bg());
    ASSERT_GE(B.size(), LayerBmp.size() + BackBmp.size());
    EXPECT_EQ(Bytes(B.begin(), B.begin() + LayerBmp.size()), LayerBmp);
    EXPECT_EQ(Bytes(B.begin() + LayerBmp.size(), B.begin() + LayerBmp.size() + BackBmp.size()), BackBmp);

    const std::vector<uint32_t> BackPixels(Bg()->Bits(), Bg()->Bits() + 35);
    const std::vector<uint32_t> LayerPixels(P->Bitmap()->Bits(), P->Bitmap()->Bits() + 27);
    Form->NewBackground(2, 2, clBlack32);
    Load(B);
    ASSERT_EQ(Bg()->Width(), 7);
    EXPECT_EQ(std::vector<uint32_t>(Bg()->Bits(), Bg()->Bits() + 35), BackPixels);
    auto* Back = dynamic_cast<TBitmapLayer*>(Layers()->Items(0));
    ASSERT_NE(Back, nullptr);
    ASSERT_EQ(Back->Bitmap()->Width(), 3);
    EXPECT_EQ(std::vector<uint32_t>(Back->Bitmap()->Bits(), Back->Bitmap()->Bits() + 27), LayerPixels);
    EXPECT_EQ(Save(), B);

    // A 24-bit background block still goes through the BMP reader: opaque pixels.
    TBitmap Rgb;
    Rgb.SetPixelFormat(pf24bit);
    Rgb.SetSize(2, 1);
    Rgb.ScanLine(0)[0] = 0x10, Rgb.ScanLine(0)[1] = 0x20, Rgb.ScanLine(0)[2] = 0x30;
    TMemoryStream S;
    Rgb.SaveToStream(S);
    Load(Assemble({S.Bytes()}));
    ASSERT_EQ(Bg()->Width(), 2);
    EXPECT_EQ(Bg()->GetPixelFast(0, 0), 0xFF302010u);
}

// A project of many layers: the enabling is worked out once when the reading ends, not
// once per layer (each working walks every layer), and the window ends as it always
// did: the top layer selected under the rubber band, its section shown.
class ProjectOpeningTest : public IsolatedEditorTest {
protected:
    void SetUp() override { MakeForm("kv_projopen_", {"data"}, 400, 300); }

    // A picture layer at the bottom, then Magnifiers magnifiers, then (when TopPicture)
    // a second picture layer of opacity 99.
    static Bytes Project(int32_t Magnifiers, bool TopPicture)
    {
        std::vector<Bytes> Blocks = {HandBmp(1, 1, 0xFF00FF00)};
        if (TopPicture)
            Blocks.push_back(HandBmp(2, 1, 0x80FF0000));
        Blocks.push_back(HandBmp(3, 3, 0xFF0000FF));
        Bytes Records = Record("bitmap", 255, {0, 0, 1, 1}, 1, 0, 10, 0, 0);
        for (int32_t I = 0; I < Magnifiers; ++I) {
            const Bytes M = Record("magn", 200, {0, 0, 2, 2}, 0, 0, 10, 0, 0);
            Records.insert(Records.end(), M.begin(), M.end());
        }
        if (TopPicture) {
            const Bytes P = Record("bitmap", 99, {1, 1, 3, 2}, 1, 0, 10, 0, 0);
            Records.insert(Records.end(), P.begin(), P.end());
        }
        Blocks.push_back(Records);
        return Assemble(Blocks);
    }

    // The enabling runs the load took.
    uint64_t Open(const Bytes& F)
    {
        Form->NewBackground(0, 0, 0); // Flatten off: no picture, no layers
        Form->UpdateCommandEnabling();
        EXPECT_FALSE(Form->Command("mnFlatten")->isEnabled());
        const uint64_t Before = Form->EnablingRuns();
        TReadOnlyMemoryStream S(F.data(), int64_t(F.size()));
        Form->LoadProjectFromStream(S, "many.kvn");
        return Form->EnablingRuns() - Before;
    }
};

TEST_F(ProjectOpeningTest, EnablingIsWorkedOutOnceWhateverTheLayerCount)
{
    for (bool TopPicture : {false, true}) {
        SCOPED_TRACE(TopPicture ? "picture on top" : "magnifier on top");
        const uint64_t Few = Open(Project(3, TopPicture));
        const uint64_t Many = Open(Project(400, TopPicture));
        EXPECT_EQ(Many, Few);
        EXPECT_LE(Many, 8u);

        TLayerCollection* L = Form->ImgView->Layers();
        ASSERT_EQ(L->Count(), 400 + 2 + (TopPicture ? 1 : 0));
        EXPECT_EQ(L->Items(L->Count() - 1), Form->RBLayer());
        EXPECT_EQ(Form->Selection(), L->Items(L->Count() - 2));
        EXPECT_EQ(Form->RBLayer()->Target(), Form->Selection());
        EXPECT_EQ(Form->ImgView->Bitmap()->GetPixelFast(1, 1), 0xFF0000FFu);
        EXPECT_TRUE(Form->Command("mnFlatten")->isEnabled());     // worked out after the reading
        EXPECT_EQ(Form->Command("N23")->isEnabled(), TopPicture); // a picture is selected
        EXPECT_EQ(Form->Shar->isEnabled(), TopPicture);
        EXPECT_EQ(Form->pnlBitmapLayer->isVisibleTo(Form.get()), TopPicture);
        EXPECT_EQ(Form->pnlMagn->isVisibleTo(Form.get()), !TopPicture);
        if (TopPicture) {
            EXPECT_EQ(Form->LayerOpacity->value(), 99);
        }
        EXPECT_EQ(Form->MagnOpacity->value(), 200);
        for (int32_t I = 1; I <= 400; ++I)
            ASSERT_EQ(L->Items(I)->Tag(), TagMagnifier) << I;
    }
}
