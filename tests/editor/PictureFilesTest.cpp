// A PNG's transparency reaches the document on File > Open and Layers > New Layer From
// File, exactly as pasting the same picture keeps it; other files are read as before.
#include "editor/PictureFiles.h"
#include "editor/EditorFixture.h"
#include "editor/MainUnit.h"
#include "platform/KvRegistry.h"
#include "platform/KvShell.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <filesystem>
#include <fstream>

using namespace kv;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

void PutBE32(Bytes& Out, uint32_t V)
{
    for (int shift : {24, 16, 8, 0})
        Out.push_back(uint8_t(V >> shift));
}

void PutChunk(Bytes& Out, const char* Type, const Bytes& Data)
{
    PutBE32(Out, uint32_t(Data.size()));
    const size_t start = Out.size();
    Out.insert(Out.end(), Type, Type + 4);
    Out.insert(Out.end(), Data.begin(), Data.end());
    PutBE32(Out, uint32_t(crc32(0, Out.data() + start, uInt(Out.size() - start))));
}

// A 2 x 1 PNG of depth 8: the two rows of samples given (filter 0 put in front), with a
// PLTE and a tRNS when given.
Bytes TinyPng(uint8_t ColorType, const Bytes& Row, const Bytes& Plte = {}, const Bytes& Trns = {})
{
    Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    Bytes ihdr;
    PutBE32(ihdr, 2);                                 // width
    PutBE32(ihdr, 1);                                 // height
    ihdr.insert(ihdr.end(), {8, ColorType, 0, 0, 0}); // depth, colour type, compression, filter, interlace
    PutChunk(png, "IHDR", ihdr);
    if (!Plte.empty())
        PutChunk(png, "PLTE", Plte);
    if (!Trns.empty())
        PutChunk(png, "tRNS", Trns);
    Bytes raw = {0};
    raw.insert(raw.end(), Row.begin(), Row.end());
    uLongf packed = compressBound(uLong(raw.size()));
    Bytes idat(packed);
    compress(idat.data(), &packed, raw.data(), uLong(raw.size()));
    idat.resize(packed);
    PutChunk(png, "IDAT", idat);
    PutChunk(png, "IEND", {});
    return png;
}

struct TAlphaCase {
    const char* Name;
    Bytes Png;
    TColor32 Left, Right; // straight alpha, as a paste gives it
};

std::vector<TAlphaCase> AlphaCases()
{
    return {
        {"rgba", TinyPng(6, {0x12, 0x34, 0x56, 0x80, 0xFE, 0xDC, 0xBA, 0xFF}), 0x80123456, 0xFFFEDCBA},
        {"grey_alpha", TinyPng(4, {0x40, 0x80, 0xC8, 0x01}), 0x80404040, 0x01C8C8C8},
        {"palette_trns", TinyPng(3, {1, 0}, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66}, {0xFF, 0x80}), 0x80445566,
         0xFF112233},
    };
}

class PictureFilesTest : public test::IsolatedEditorTest {
protected:
    void SetUp() override
    {
        MakeForm("kv_picfiles_", {}, 400, 300);
        Form->NewBackground(100, 80, 0xFF204060);
    }
    TBitmap32* Bg() { return Form->ImgView->Bitmap(); }
    std::string Write(const std::string& Name, const Bytes& Data)
    {
        const std::string path = (Root / Name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(Data.data()), std::streamsize(Data.size()));
        return path;
    }
    static TDialogAnswer FileAnswer(const std::string& Name)
    {
        TDialogAnswer a;
        a.Result = mrOk;
        a.FileName = Name;
        return a;
    }
};

} // namespace

TEST_F(PictureFilesTest, OpenAndNewLayerKeepAPngsAlphaAndColours)
{
    for (const TAlphaCase& c : AlphaCases()) {
        SCOPED_TRACE(c.Name);
        const std::string file = Write(std::string(c.Name) + ".png", c.Png);
        EXPECT_TRUE(PngFileHasAlpha(file));
        Form->ModifiedState = msSaved; // no save question
        {
            TScriptedAnswers answers;
            answers.Then(FileAnswer(file));
            Form->mnFileOpenClick();
            EXPECT_EQ(answers.Requests.size(), 1u);
        }
        ASSERT_EQ(Bg()->Width(), 2);
        ASSERT_EQ(Bg()->Height(), 1);
        EXPECT_EQ(Bg()->GetPixelFast(0, 0), c.Left);
        EXPECT_EQ(Bg()->GetPixelFast(1, 0), c.Right);

        {
            TScriptedAnswers answers;
            answers.Then(FileAnswer(file));
            Form->mnNewBitmapLayerClick();
        }
        auto* layer = dynamic_cast<TBitmapLayer*>(Form->Selection());
        ASSERT_NE(layer, nullptr);
        EXPECT_EQ(layer->Bitmap()->GetPixelFast(0, 0), c.Left);
        EXPECT_EQ(layer->Bitmap()->GetPixelFast(1, 0), c.Right);
    }
}

TEST_F(PictureFilesTest, OpaqueAndBrokenFilesKeepTheirOldRoad)
{
    // An RGB PNG without tRNS opens opaque through the registry's PNG class.
    const std::string rgb = Write("rgb.png", TinyPng(2, {1, 2, 3, 4, 5, 6}));
    EXPECT_FALSE(PngFileHasAlpha(rgb));
    TBitmap32 b;
    EXPECT_EQ(LoadPictureFile(rgb, b), faNone);
    EXPECT_EQ(b.GetPixelFast(0, 0), 0xFF010203u);
    // A tRNS whose length runs past the end, a cut header, no file: none claims alpha,
    // and a PNG that claims it but cannot be read raises with the bitmap untouched.
    Bytes cut = TinyPng(6, {0, 0, 0, 0, 0, 0, 0, 0});
    cut.resize(20);
    Bytes runaway = TinyPng(2, {1, 2, 3, 4, 5, 6});
    runaway[33] = 0x7F; // the length of the chunk after IHDR
    for (const Bytes& bad : {cut, runaway})
        EXPECT_FALSE(PngFileHasAlpha(Write("bad.png", bad)));
    EXPECT_FALSE(PngFileHasAlpha((Root / "missing.png").string()));
    Bytes broken = TinyPng(6, {0, 0, 0, 0, 0, 0, 0, 0});
    broken.resize(broken.size() - 20); // the IDAT cut short
    TBitmap32 kept;
    kept.SetSize(3, 3);
    EXPECT_ANY_THROW(LoadPictureFile(Write("broken.png", broken), kept));
    EXPECT_EQ(kept.Width(), 3);
}
