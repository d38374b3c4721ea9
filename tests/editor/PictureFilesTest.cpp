// A PNG's transparency reaches a new layer exactly as the file holds it, and File > Open
// puts it on the blank canvas's white; other files are read as before.
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

// A PNG of depth 8 with the filtered rows given (each led by its filter byte), which may
// hold fewer rows than the header says, and a PLTE and a tRNS when given.
Bytes PngOf(uint32_t Width, uint32_t Height, uint8_t ColorType, const Bytes& Raw, const Bytes& Plte = {},
            const Bytes& Trns = {})
{
    Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    Bytes ihdr;
    PutBE32(ihdr, Width);
    PutBE32(ihdr, Height);
    ihdr.insert(ihdr.end(), {8, ColorType, 0, 0, 0}); // depth, colour type, compression, filter, interlace
    PutChunk(png, "IHDR", ihdr);
    if (!Plte.empty())
        PutChunk(png, "PLTE", Plte);
    if (!Trns.empty())
        PutChunk(png, "tRNS", Trns);
    uLongf packed = compressBound(uLong(Raw.size()));
    Bytes idat(packed);
    compress(idat.data(), &packed, Raw.data(), uLong(Raw.size()));
    idat.resize(packed);
    PutChunk(png, "IDAT", idat);
    PutChunk(png, "IEND", {});
    return png;
}

// A 2 x 1 PNG: the row of samples given (filter 0 put in front).
Bytes TinyPng(uint8_t ColorType, const Bytes& Row, const Bytes& Plte = {}, const Bytes& Trns = {})
{
    Bytes raw = {0};
    raw.insert(raw.end(), Row.begin(), Row.end());
    return PngOf(2, 1, ColorType, raw, Plte, Trns);
}

struct TAlphaCase {
    const char* Name;
    Bytes Png;
    TColor32 Left, Right;         // straight alpha, as a paste gives it
    TColor32 OpenLeft, OpenRight; // over white: round(c * a / 255 + 255 - a)
};

std::vector<TAlphaCase> AlphaCases()
{
    return {
        {"rgba", TinyPng(6, {0x12, 0x34, 0x56, 0x80, 0xFE, 0xDC, 0xBA, 0xFF}), 0x80123456, 0xFFFEDCBA, 0xFF8899AA,
         0xFFFEDCBA},
        {"grey_alpha", TinyPng(4, {0x40, 0x80, 0xC8, 0x01}), 0x80404040, 0x01C8C8C8, 0xFF9F9F9F, 0xFFFFFFFF},
        {"palette_trns", TinyPng(3, {1, 0}, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66}, {0xFF, 0x80}), 0x80445566, 0xFF112233,
         0xFFA1AAB2, 0xFF112233},
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
        EXPECT_EQ(Bg()->GetPixelFast(0, 0), c.OpenLeft);
        EXPECT_EQ(Bg()->GetPixelFast(1, 0), c.OpenRight);

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

// A 32-bit icon of 3 x 1 pixels whose alpha is 0, 53 and 255: the File > Open road puts
// it on white, a layer keeps it straight, as for a PNG.
TEST_F(PictureFilesTest, OpenAndNewLayerTakeAnIconsAlphaAsAPngs)
{
    auto le = [](Bytes& Out, uint32_t V, int Size) {
        for (int i = 0; i < Size; ++i)
            Out.push_back(uint8_t(V >> (8 * i)));
    };
    Bytes image;
    le(image, 40, 4); // BITMAPINFOHEADER size
    le(image, 3, 4);  // width
    le(image, 2, 4);  // height: colour rows and mask rows
    le(image, 1, 2);  // planes
    le(image, 32, 2); // bit count
    for (int i = 0; i < 6; ++i)
        le(image, 0, 4); // compression .. important colours
    // The one colour row, B, G, R, A per pixel.
    image.insert(image.end(), {0x1E, 0x14, 0x0A, 0, 0x44, 0x17, 0x97, 53, 0x32, 0x64, 0xC8, 255});
    le(image, 0, 4); // the mask row (ignored where the pixels carry alpha)
    Bytes ico;
    le(ico, 0, 2);                       // reserved
    le(ico, 1, 2);                       // type: icon
    le(ico, 1, 2);                       // one image
    ico.insert(ico.end(), {3, 1, 0, 0}); // width, height, colour count, reserved
    le(ico, 1, 2);                       // planes
    le(ico, 32, 2);                      // bit count
    le(ico, uint32_t(image.size()), 4);
    le(ico, 22, 4); // the image's offset
    ico.insert(ico.end(), image.begin(), image.end());
    const std::string file = Write("three.ico", ico);

    Form->ModifiedState = msSaved;
    {
        TScriptedAnswers answers;
        answers.Then(FileAnswer(file));
        Form->mnFileOpenClick();
    }
    ASSERT_EQ(Bg()->Width(), 3);
    ASSERT_EQ(Bg()->Height(), 1);
    // Over white, each channel round(c * a / 255 + 255 - a):
    //   a = 0:   255 whatever the colour;
    //   a = 53:  (151 * 53 + 255 * 202 + 127) / 255 = 233, (23 * 53 + 51510 + 127) / 255 = 207,
    //            (68 * 53 + 51510 + 127) / 255 = 216;
    //   a = 255: the colour itself.
    EXPECT_EQ(Bg()->GetPixelFast(0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(Bg()->GetPixelFast(1, 0), 0xFFE9CFD8u);
    EXPECT_EQ(Bg()->GetPixelFast(2, 0), 0xFFC86432u);

    {
        TScriptedAnswers answers;
        answers.Then(FileAnswer(file));
        Form->mnNewBitmapLayerClick();
    }
    auto* layer = dynamic_cast<TBitmapLayer*>(Form->Selection());
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(layer->Bitmap()->GetPixelFast(0, 0), 0x000A141Eu);
    EXPECT_EQ(layer->Bitmap()->GetPixelFast(1, 0), 0x35971744u);
    EXPECT_EQ(layer->Bitmap()->GetPixelFast(2, 0), 0xFFC86432u);
}

// Made by ImageMagick 6.9 (6 x 4; the pixels at (1,1) and (5,0) made transparent; in the
// 16-bit file (0,3) is 0000,0000,FF00, whose high bytes match the key but low byte not):
//   B=(-size 6x4 xc:red -fill blue -draw "point 1,1 point 5,0" -fill "#0a0bc81e0000"
//      -draw "point 2,2" -fill "#282832323c3c" -draw "point 3,1 point 4,3"
//      -fill "#00000000ff00" -draw "point 0,3")
//   G=(-size 6x4 xc:"rgb(54,54,54)" -fill "rgb(18,18,18)" -draw "point 1,1 point 5,0"
//      -fill "rgb(200,200,200)" -draw "point 2,2" -fill "rgb(40,40,40)"
//      -draw "point 3,1 point 4,3" -fill "rgb(19,19,19)" -draw "point 0,3")
//   X=(-define png:exclude-chunk=cHRM,sRGB,bKGD,date,time,tEXt,zTXt,iTXt,tIME), plus
//     -set gamma 0.6 for *_gama.png, and gAMA added to the excluded list for *_nogama.png
//   convert -depth 16 "${B[@]}" -transparent blue -define png:bit-depth=16
//     -define png:color-type=2 "${X[@]}" rgb16_trns_$g.png
//   convert "${G[@]}" -transparent "rgb(18,18,18)" -define png:bit-depth=8
//     -define png:color-type=0 "${X[@]}" grey_trns_$g.png
//   convert "${B[@]}" -transparent blue "${X[@]}" PNG8:palette_trns_$g.png
// and, Adam7-interlaced, the same two commands with -interlace PNG for
// rgb16_trns_interlaced.png (with gAMA) and palette_trns_interlaced.png (without).
TEST(PictureFiles, ToolMadeFilesGiveTheOpaqueRoadsPixelsPlusTheirAlpha)
{
    for (const char* name :
         {"rgb16_trns_gama", "rgb16_trns_nogama", "grey_trns_gama", "grey_trns_nogama", "palette_trns_gama",
          "palette_trns_nogama", "rgb16_trns_interlaced", "palette_trns_interlaced"}) {
        SCOPED_TRACE(name);
        const std::string file = std::string(KV_TEST_DATA) + "/pngalpha/" + name + ".png";
        ASSERT_TRUE(PngFileHasAlpha(file));
        TBitmap32 withAlpha, opaque;
        EXPECT_EQ(LoadPictureFile(file, withAlpha), faFromFile);
        opaque.LoadFromFile(file);
        ASSERT_EQ(withAlpha.Width(), 6);
        ASSERT_EQ(withAlpha.Height(), 4);
        ASSERT_EQ(opaque.Width(), 6);
        ASSERT_EQ(opaque.Height(), 4);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x) {
                const bool hidden = (x == 1 && y == 1) || (x == 5 && y == 0);
                const TColor32 expected = (opaque.GetPixelFast(x, y) & 0x00FFFFFF) | (hidden ? 0u : 0xFF000000u);
                EXPECT_EQ(withAlpha.GetPixelFast(x, y), expected) << x << "," << y;
            }
    }
}

// jpeg/cut_in_scan.jpg: convert -seed 7 -size 64x48 plasma:fractal -quality 90 full.jpg;
// head -c 1500 full.jpg (the scan ends after about two thirds of its bytes).
// gif/cut_in_data.gif: convert -seed 7 -size 64x48 plasma:fractal -colors 64 full.gif;
// head -c 1500 full.gif (the picture data ends early).
TEST_F(PictureFilesTest, AFileOpenedInPartSaysSoInTheStatusBar)
{
    const struct {
        const char* File;
        bool Damaged;
    } cases[] = {
        {"jpeg/cut_in_scan.jpg", true},
        {"gif/cut_in_data.gif", true},
        {"jpeg/rgb.jpg", false},
        {"gif/still_2colour.gif", false},
        {"pngalpha/grey_trns_gama.png", false},
        {"cut.Gif", true}, // any case of the extension reaches the same GIF reader
    };
    std::filesystem::copy_file(std::string(KV_TEST_DATA) + "/gif/cut_in_data.gif", Root / "cut.Gif");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.File);
        // The side panel's drawing settings belong to the window, not to the file: every
        // reader's road keeps them.
        Bg()->SetMasterAlpha(77);
        Bg()->SetStretchFilter(sfLinear);
        Form->ModifiedState = msSaved;
        TScriptedAnswers answers;
        const std::string file = std::string(c.File).find('/') == std::string::npos
                                     ? (Root / c.File).string()
                                     : std::string(KV_TEST_DATA) + "/" + c.File;
        answers.Then(FileAnswer(file));
        Form->mnFileOpenClick();
        EXPECT_FALSE(Bg()->IsEmpty());
        EXPECT_EQ(Bg()->MasterAlpha(), 77u);
        EXPECT_EQ(Bg()->StretchFilter(), sfLinear);
        const std::string status = Form->StatusText(1);
        EXPECT_EQ(status.find("The file is damaged; part of the picture could not be read") != std::string::npos,
                  c.Damaged)
            << status;
        EXPECT_EQ(status.find(std::to_string(Bg()->Width()) + "x" + std::to_string(Bg()->Height())), 0u) << status;

        // The same file as a new layer says the same; a whole one leaves the bar alone.
        Form->SetStatusText(1, "before");
        answers.Then(FileAnswer(file));
        Form->mnNewBitmapLayerClick();
        ASSERT_NE(dynamic_cast<TBitmapLayer*>(Form->Selection()), nullptr);
        const std::string layerStatus = Form->StatusText(1);
        if (c.Damaged)
            EXPECT_EQ(layerStatus,
                      std::to_string(Bg()->Width()) + "x" + std::to_string(Bg()->Height()) + "  " + DamagedFileMessage);
        else
            EXPECT_EQ(layerStatus, "before");
    }
    // A GIF named in capitals takes the editor's codec too: an animated one opens as its
    // first frame (10 x 6), where the registry's class would give its 12 x 8 screen.
    const std::string upper = (Root / "ANIM.GIF").string();
    fs::copy_file(std::string(KV_TEST_DATA) + "/gif/animated_3frames.gif", upper);
    Form->ModifiedState = msSaved;
    TScriptedAnswers answers;
    answers.Then(FileAnswer(upper));
    Form->mnFileOpenClick();
    EXPECT_EQ(Bg()->Width(), 10);
    EXPECT_EQ(Bg()->Height(), 6);
}

// A GIF of one 4 x 1 frame (or none): screen size, a global table of black and white,
// the descriptor's own width and height, then the LZW data's one sub-block.
Bytes GifOf(uint8_t ScreenW, uint8_t ScreenH, uint8_t FrameW, uint8_t FrameH, const Bytes& Lzw, bool Frame = true)
{
    Bytes g = {'G', 'I', 'F', '8', '9', 'a', ScreenW, 0, ScreenH, 0, 0x80, 0, 0}; // 2-entry table
    g.insert(g.end(), {0, 0, 0, 255, 255, 255});
    if (Frame) {
        g.insert(g.end(), {0x2C, 0, 0, 0, 0, FrameW, 0, FrameH, 0, 0}); // at (0, 0), no local table
        g.insert(g.end(), {2, uint8_t(Lzw.size())});                    // minimum code size 2
        g.insert(g.end(), Lzw.begin(), Lzw.end());
        g.push_back(0); // terminator
    }
    g.push_back(0x3B);
    return g;
}

// 3-bit codes: clear 4, end 5. Whole: clear, 1, 0, 6 ("1 0"), end at 4 bits (giftopnm
// reads white, black, white, black). Empty: clear, end.
const Bytes LzwWhite0101 = {0x0C, 0x5C}, LzwNothing = {0x2C};

// A GIF that holds no picture (a screen, then the trailer; or a frame with no pixels)
// cannot be read: the message says so and the document stays as it was. A descriptor of
// width 0 takes the screen's width; data that does not fill it is a damaged file.
TEST_F(PictureFilesTest, AGifWithoutAPictureCannotBeReadAndZeroSidesTakeTheScreen)
{
    const std::string kept = std::string(KV_TEST_DATA) + "/gif/still_2colour.gif";
    const struct {
        const char* Name;
        Bytes File;
        int32_t Width, Height; // 0: cannot be read
        bool Damaged;
    } cases[] = {
        {"no_image.gif", GifOf(4, 4, 4, 4, {}, false), 0, 0, false},
        {"nothing_wide.gif", GifOf(0, 4, 0, 4, LzwNothing), 0, 0, false},
        {"zero_width.gif", GifOf(4, 4, 0, 4, LzwNothing), 4, 4, true},
        {"zero_height.gif", GifOf(4, 4, 4, 0, LzwNothing), 4, 4, true},
        {"zero_width_filled.gif", GifOf(4, 1, 0, 1, LzwWhite0101), 4, 1, false},
    };
    ASSERT_EQ(GifOf(4, 4, 4, 4, {}, false).size(), 20u);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Form->ModifiedState = msSaved;
        {
            TScriptedAnswers answers;
            answers.Then(FileAnswer(kept));
            Form->mnFileOpenClick();
        }
        const int32_t keptWidth = Bg()->Width();
        const TColor32 keptPixel = Bg()->GetPixelFast(0, 0);
        const std::string file = Write(c.Name, c.File);
        TScriptedAnswers answers;
        answers.Then(FileAnswer(file));
        if (c.Width == 0) {
            try {
                Form->mnFileOpenClick();
                ADD_FAILURE() << "opened";
            } catch (const std::exception& e) {
                EXPECT_EQ(std::string(e.what()), "Cannot read the GIF picture " + file);
            }
            EXPECT_EQ(Form->CurrentFileName(), kept);
            EXPECT_EQ(Bg()->Width(), keptWidth);
            EXPECT_EQ(Bg()->GetPixelFast(0, 0), keptPixel);
            continue;
        }
        Form->mnFileOpenClick();
        EXPECT_EQ(Form->CurrentFileName(), file);
        EXPECT_EQ(Bg()->Width(), c.Width);
        EXPECT_EQ(Bg()->Height(), c.Height);
        const std::string status = Form->StatusText(1);
        EXPECT_EQ(status.find("The file is damaged; part of the picture could not be read") != std::string::npos,
                  c.Damaged)
            << status;
        for (int32_t x = 0; x < 4 && !c.Damaged; ++x)
            EXPECT_EQ(Bg()->GetPixelFast(x, 0), x % 2 ? 0xFF000000u : 0xFFFFFFFFu) << x;
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

    // A picture whose data ends early, read into a block just given back by a picture of
    // its size (large blocks are reused), is opaque black past its data, never the old
    // picture: on the opaque road (colour type 2) and on the alpha road (6).
    auto shortPng = [](uint8_t ColorType, uint32_t Rows, uint8_t Sample) {
        const uint32_t side = 300, channels = ColorType == 6 ? 4 : 3;
        Bytes raw;
        for (uint32_t y = 0; y < Rows; ++y) {
            raw.push_back(0);
            raw.insert(raw.end(), side * channels, Sample);
        }
        return PngOf(side, side, ColorType, raw);
    };
    for (const uint8_t type : {uint8_t(2), uint8_t(6)}) {
        SCOPED_TRACE(int(type));
        {
            TBitmap32 whole;
            LoadPictureFile(Write("whole.png", shortPng(type, 300, 0x55)), whole);
            EXPECT_EQ(whole.GetPixelFast(7, 299) & 0xFFFFFF, 0x555555u);
        }
        TBitmap32 cutShort;
        LoadPictureFile(Write("short.png", shortPng(type, 100, 0x80)), cutShort);
        EXPECT_EQ(cutShort.GetPixelFast(7, 99), type == 6 ? 0x80808080u : 0xFF808080u);
        for (const int32_t y : {100, 200, 299})
            EXPECT_EQ(cutShort.GetPixelFast(7, y), 0xFF000000u) << y;
    }

    // The errors are the registry loader's: a missing file whose extension no class reads
    // names the extension, a missing PNG the file; an opaque picture under a foreign name
    // names the extension, while a PNG with alpha is known by its content whatever its name.
    auto messageOf = [](auto&& load) {
        try {
            load();
        } catch (const Exception& e) {
            return e.Message();
        }
        return std::string("no error");
    };
    const std::string missingPng = (Root / "missing.png").string();
    TPicture picture;
    const std::string pngError = messageOf([&] { picture.LoadFromFile(missingPng); });
    EXPECT_NE(pngError, "no error");
    const std::string foreignOpaque = Write("rgb.xyz", TinyPng(2, {1, 2, 3, 4, 5, 6}));
    const struct {
        std::string File, Message;
    } errors[] = {{(Root / "missing.xyz").string(), "Unknown picture file extension (.xyz)"},
                  {missingPng, pngError},
                  {foreignOpaque, "Unknown picture file extension (.xyz)"}};
    for (const auto& c : errors) {
        SCOPED_TRACE(c.File);
        EXPECT_EQ(messageOf([&] { LoadPictureFile(c.File, kept); }), c.Message);
        EXPECT_EQ(kept.Width(), 3);
    }
    const std::string foreignAlpha = (Root / "alpha.xyz").string();
    std::filesystem::copy_file(std::string(KV_TEST_DATA) + "/pngalpha/grey_trns_nogama.png", foreignAlpha);
    EXPECT_EQ(LoadPictureFile(foreignAlpha, kept), faFromFile);
    EXPECT_EQ(kept.Width(), 6);
}
