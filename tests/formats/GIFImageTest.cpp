// The GIF model: byte layouts written, round trips writer -> reader, hostile input,
// and the colour reduction worked out by hand.
#include "formats/GIFImage.h"

#include <gtest/gtest.h>

#include <random>

using namespace kv;
using namespace kv::GIFImage;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Encode(const Bytes& pixels, int bpp, int colors, int w, int h, bool interlaced, uint8_t compression)
{
    TMemoryStream s;
    EncodeImageData(s, bpp, colors, pixels.data(), interlaced, w, h, compression);
    return s.Bytes();
}

Bytes Decode(const Bytes& data, int w, int h, bool interlaced, std::vector<std::string>* warnings = nullptr)
{
    TReadOnlyMemoryStream s(data.data(), int64_t(data.size()));
    Bytes out(size_t(w) * size_t(h), 0xEE);
    DecodeLZW(s, out.data(), w, h, interlaced, [&](const std::string& m) {
        if (warnings)
            warnings->push_back(m);
    });
    return out;
}

// A GIF spelled out: header, logical screen, global table of Colors entries (when
// Colors > 0), then Body, then the trailer unless omitted.
Bytes MakeGIF(uint16_t w, uint16_t h, int colors, const Bytes& body, bool trailer = true)
{
    Bytes b = {'G', 'I', 'F', '8', '9', 'a', uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8)};
    int bits = 0;
    while (colors > 0 && (1 << (bits + 1)) < colors)
        ++bits;
    b.push_back(colors > 0 ? uint8_t(0x80 | bits) : 0); // packed: table present, size 2^(n+1)
    b.push_back(0);                                     // background colour index
    b.push_back(0);                                     // aspect ratio
    for (int i = 0; i < colors; ++i) {
        b.push_back(uint8_t(i * 40));
        b.push_back(uint8_t(i * 20));
        b.push_back(uint8_t(i * 10));
    }
    b.insert(b.end(), body.begin(), body.end());
    if (trailer)
        b.push_back(0x3B);
    return b;
}

// Image descriptor at (0,0) of w x h with no local table, then image data.
Bytes Frame(uint16_t w, uint16_t h, const Bytes& data, uint8_t packed = 0)
{
    Bytes b = {0x2C, 0, 0, 0, 0, uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8), packed};
    for (uint8_t x : data)
        b.push_back(x);
    return b;
}

struct Loaded {
    std::unique_ptr<TGIFImage> Image = std::make_unique<TGIFImage>();
    std::vector<std::string> Warnings;
};

std::unique_ptr<Loaded> Load(const Bytes& file)
{
    auto l = std::make_unique<Loaded>();
    l->Image->OnWarning = [p = l.get()](TObject*, TGIFSeverity, const std::string& m) { p->Warnings.push_back(m); };
    TReadOnlyMemoryStream s(file.data(), int64_t(file.size()));
    l->Image->LoadFromStream(s);
    return l;
}

std::string LoadError(const Bytes& file)
{
    try {
        Load(file);
    } catch (const GIFException& e) {
        return e.Message();
    }
    return "";
}

Bytes Save(TGIFImage& image)
{
    TMemoryStream s;
    image.SaveToStream(s);
    return s.Bytes();
}

Bytes RandomPixels(std::mt19937& rng, size_t n, int colors)
{
    Bytes p(n);
    std::uniform_int_distribution<int> d(0, colors - 1);
    // Runs and noise both, so that strings and the run coder's table get used.
    for (size_t i = 0; i < n; ++i)
        p[i] = (i % 97 < 40 && i > 0) ? p[i - 1] : uint8_t(d(rng));
    return p;
}

} // namespace

// ---- Image data ----------------------------------------------------------------------

TEST(GIFModelCodec, ExactImageDataOfBothEncoders)
{
    for (uint8_t compression : {0, 1}) {
        // 8 x 1 of index 0, 2 colours: clear 4, 0, 6, 7 at 3 bits; 6, end 5 at 4 bits.
        EXPECT_EQ(Encode(Bytes(8, 0), 1, 2, 8, 1, false, compression), (Bytes{0x02, 0x03, 0x84, 0x6F, 0x05, 0x00}));
        // 3 x 1 of 0 0 1 with 256 colours: 256, 0, 0, 1, 257 at 9 bits.
        EXPECT_EQ(Encode(Bytes{0, 0, 1}, 8, 256, 3, 1, false, compression),
                  (Bytes{0x08, 0x06, 0x00, 0x01, 0x00, 0x08, 0x10, 0x10, 0x00}));
    }
}

TEST(GIFModelCodec, InterlacedShortPictureWritesEveryRow)
{
    // Rows 0, 1, 2 hold 0, 1, 2; stream order 0, 2, 1: codes 4 0 2 1 at 3 bits, 5 at 4.
    EXPECT_EQ(Encode(Bytes{0, 1, 2}, 2, 4, 1, 3, true, 0), (Bytes{0x02, 0x02, 0x84, 0x52, 0x00}));
    EXPECT_EQ(Decode(Bytes{0x02, 0x02, 0x84, 0x52, 0x00}, 1, 3, true), (Bytes{0, 1, 2}));
}

TEST(GIFModelCodec, DecoderInterlaceOrderForTenRows)
{
    // Stream pixels 0..9 in one column: rows 0, 8, 4, 2, 6, 1, 3, 5, 7, 9.
    Bytes stream = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    Bytes data = Encode(stream, 4, 16, 1, 10, false, 0);
    Bytes rows = Decode(data, 1, 10, true);
    EXPECT_EQ(rows, (Bytes{0, 5, 3, 6, 2, 7, 4, 8, 1, 9}));
}

TEST(GIFModelCodec, RoundTripsRandomPicturesThroughBothEncoders)
{
    std::mt19937 rng(1234);
    const int sizes[][2] = {{1, 1}, {7, 3}, {300, 200}, {1, 9}, {513, 2}};
    for (auto [w, h] : sizes)
        for (int bpp : {1, 2, 4, 8})
            for (bool interlaced : {false, true})
                for (uint8_t compression : {0, 1}) {
                    Bytes pixels = RandomPixels(rng, size_t(w) * size_t(h), 1 << bpp);
                    Bytes data = Encode(pixels, bpp, 1 << bpp, w, h, interlaced, compression);
                    std::vector<std::string> warnings;
                    EXPECT_EQ(Decode(data, w, h, interlaced, &warnings), pixels)
                        << w << "x" << h << " bpp " << bpp << " interlaced " << interlaced << " rle "
                        << int(compression);
                    EXPECT_TRUE(warnings.empty());
                }
}

TEST(GIFModelCodec, LongRunsCrossTableResets)
{
    // One colour for a million pixels drives the run coder past its table limit, and
    // a noisy picture drives the LZW coder past code 4095.
    std::mt19937 rng(7);
    Bytes flat(1000 * 1000, 3);
    Bytes noisy(200 * 200);
    for (auto& p : noisy)
        p = uint8_t(rng() & 0xFF);
    for (uint8_t compression : {0, 1}) {
        EXPECT_EQ(Decode(Encode(flat, 2, 4, 1000, 1000, false, compression), 1000, 1000, false), flat);
        EXPECT_EQ(Decode(Encode(noisy, 8, 256, 200, 200, false, compression), 200, 200, false), noisy);
    }
    EXPECT_LT(Encode(flat, 2, 4, 1000, 1000, false, 1).size(), 20000u);
}

TEST(GIFModelCodec, EncoderRefusesIndexOutsideTable)
{
    TMemoryStream s;
    Bytes p = {0, 1, 5};
    EXPECT_THROW(EncodeImageData(s, 2, 5, p.data(), false, 3, 1, 0), GIFException);
}

TEST(GIFModelCodec, TruncatedDataKeepsFillAndWarns)
{
    Bytes data = Encode(Bytes(64, 1), 2, 4, 8, 8, false, 0);
    data.resize(3); // code size, block length, one byte of codes
    std::vector<std::string> warnings;
    Bytes out = Decode(data, 8, 8, false, &warnings);
    EXPECT_EQ(out.back(), 0xEE);
    EXPECT_FALSE(warnings.empty());
}

TEST(GIFModelCodec, ZeroBlockBeforeEndCodeReads)
{
    // 2 x 1 of 0 0, codes 4 0 0 at 3 bits, then a zero sub-block, no end code.
    Bytes data = {0x02, 0x02, 0x04, 0x00, 0x00};
    EXPECT_EQ(Decode(data, 2, 1, false), (Bytes{0, 0}));
}

TEST(GIFModelCodec, HostileCodeStreams)
{
    for (uint8_t size : {0, 12, 255}) {
        Bytes data = {size, 0x01, 0x00, 0x00};
        EXPECT_THROW(Decode(data, 2, 2, false), GIFException) << int(size);
    }
    // Codes that point at entries beyond the table build a loop: 2-bit pictures, codes
    // 4 (clear), 0, then 7 7 7 ... each taken as "not yet defined".
    Bytes loop = {0x02, 0xFF};
    for (int i = 0; i < 255; ++i)
        loop.push_back(0xFF);
    loop.push_back(0);
    Bytes out(4096 * 4);
    TReadOnlyMemoryStream s(loop.data(), int64_t(loop.size()));
    try {
        DecodeLZW(s, out.data(), 4096, 4, false, [](const std::string&) {});
    } catch (const GIFException& e) {
        EXPECT_STREQ(e.what(), "Circular decoder table entry");
    }
}

// ---- Blocks --------------------------------------------------------------------------

TEST(GIFModelBlocks, CommentIsCutIntoSubBlocks)
{
    TGIFImage image;
    auto sub = std::make_unique<TGIFSubImage>(&image);
    auto* comment =
        static_cast<TGIFCommentExtension*>(sub->Extensions().Add(std::make_unique<TGIFCommentExtension>(sub.get())));
    comment->Text().Add(std::string(600, 'A'));
    TMemoryStream s;
    comment->SaveToStream(s);
    Bytes b = s.Bytes();
    ASSERT_EQ(b.size(), 606u);
    EXPECT_EQ(b[0], 0x21);
    EXPECT_EQ(b[1], 0xFE);
    EXPECT_EQ(b[2], 0xFF);
    EXPECT_EQ(b[258], 0xFF);
    EXPECT_EQ(b[514], 0x5A);
    EXPECT_EQ(b[605], 0x00);
    EXPECT_EQ(b[3], 'A');
}

TEST(GIFModelBlocks, LoopExtensionBytes)
{
    TGIFImage image;
    TGIFSubImage sub(&image);
    TGIFAppExtNSLoop loop(&sub);
    loop.SetLoops(3);
    TMemoryStream s;
    loop.SaveToStream(s);
    EXPECT_EQ(s.Bytes(), (Bytes{0x21, 0xFF, 0x0B, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 0x03, 0x01,
                                0x03, 0x00, 0x00}));
    loop.SetBufferSize(4096);
    TMemoryStream t;
    loop.SaveToStream(t);
    Bytes tail(t.Memory() + t.Size() - 11, t.Memory() + t.Size());
    EXPECT_EQ(tail, (Bytes{0x03, 0x01, 0x03, 0x00, 0x05, 0x02, 0x00, 0x10, 0x00, 0x00, 0x00}));
}

TEST(GIFModelBlocks, FileRoundTripKeepsBlocksAndBytes)
{
    // Loop extension, graphic control (transparent 1, delay 5), comment, one 2 x 2 frame.
    Bytes body = {0x21, 0xFF, 0x0B, 'N',  'E',  'T',  'S',  'C',  'A',  'P',  'E',  '2',  '.',  '0', 0x03, 0x01, 0xFF,
                  0xFF, 0x00, 0x21, 0xF9, 0x04, 0x09, 0x05, 0x00, 0x01, 0x00, 0x21, 0xFE, 0x02, 'h', 'i',  0x00};
    Bytes frame = Frame(2, 2, Encode(Bytes{0, 1, 1, 0}, 1, 2, 2, 2, false, 0));
    body.insert(body.end(), frame.begin(), frame.end());
    Bytes file = MakeGIF(2, 2, 2, body);
    for (uint8_t compression : {0, 1}) {
        auto l = Load(file);
        TGIFImage& img = *l->Image;
        ASSERT_EQ(img.Images().Count(), 1);
        TGIFSubImage* sub = img.Images()[0];
        EXPECT_EQ(sub->Data(), (Bytes{0, 1, 1, 0}));
        ASSERT_EQ(sub->Extensions().Count(), 3);
        auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(sub->Extensions().Extensions(0));
        ASSERT_NE(loop, nullptr);
        EXPECT_EQ(loop->Loops(), 0xFFFF);
        ASSERT_NE(sub->GraphicControlExtension(), nullptr);
        EXPECT_EQ(sub->GraphicControlExtension()->Delay(), 5);
        EXPECT_EQ(sub->GraphicControlExtension()->Disposal(), dmBackground);
        EXPECT_TRUE(sub->Transparent());
        img.SetCompression(compression);
        EXPECT_EQ(Save(img), file) << int(compression);
        EXPECT_TRUE(l->Warnings.empty());
    }
}

TEST(GIFModelBlocks, PlainFileIs87aAndPackedRecomputes)
{
    Bytes file = MakeGIF(3, 1, 256, Frame(3, 1, Encode(Bytes{0, 0, 1}, 8, 256, 3, 1, false, 0)));
    file[4] = '7';
    file[10] = 0xF7;
    auto l = Load(file);
    EXPECT_EQ(l->Image->Version(), gv87a);
    EXPECT_EQ(Save(*l->Image), file);
}

TEST(GIFModelBlocks, SignaturePrefixAndBadSignatures)
{
    Bytes file = MakeGIF(1, 1, 2, Frame(1, 1, Encode(Bytes{1}, 1, 2, 1, 1, false, 0)));
    Bytes four = {1, 2, 3, 4};
    four.insert(four.end(), file.begin(), file.end());
    EXPECT_EQ(Load(four)->Image->Images()[0]->Data(), Bytes{1});
    Bytes five = {1, 2, 3, 4, 5};
    five.insert(five.end(), file.begin(), file.end());
    EXPECT_EQ(LoadError(five), "Invalid GIF signature");
    Bytes lower = file;
    lower[0] = 'g';
    EXPECT_EQ(LoadError(lower), "");
}

TEST(GIFModelBlocks, ApplicationBlockSizes)
{
    Bytes frame = Frame(1, 1, Encode(Bytes{0}, 1, 2, 1, 1, false, 0));
    auto withApp = [&](Bytes app) {
        app.insert(app.end(), frame.begin(), frame.end());
        return MakeGIF(1, 1, 2, app);
    };
    EXPECT_EQ(LoadError(withApp({0x21, 0xFF, 0x09, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x00})),
              "Unsupported Application Extension block size");
    auto ten = Load(withApp({0x21, 0xFF, 0x0A, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', '1', '2', 0x01, 0x55, 0x00}));
    ASSERT_EQ(ten->Image->Images().Count(), 1);
    EXPECT_NE(dynamic_cast<TGIFUnknownAppExtension*>(ten->Image->Images()[0]->Extensions().Extensions(0)), nullptr);
    // Larger than 11: skipped by its real length, its sub-blocks kept.
    auto big = Load(withApp(
        {0x21, 0xFF, 0x0D, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', '1', '2', '3', 'x', 'y', 0x02, 0x21, 0x21, 0x00}));
    ASSERT_EQ(big->Image->Images().Count(), 1);
    auto* unknown = dynamic_cast<TGIFUnknownAppExtension*>(big->Image->Images()[0]->Extensions().Extensions(0));
    ASSERT_NE(unknown, nullptr);
    ASSERT_EQ(unknown->Blocks().size(), 1u);
    EXPECT_EQ(unknown->Blocks()[0].Data, (Bytes{0x21, 0x21}));
    EXPECT_EQ(big->Image->Images()[0]->Data(), Bytes{0});
    // ANIMEXTS is a loop extension; an unknown identifier writes its blocks back unchanged.
    auto anim = Load(withApp(
        {0x21, 0xFF, 0x0B, 'A', 'N', 'I', 'M', 'E', 'X', 'T', 'S', '1', '.', '0', 0x03, 0x01, 0x02, 0x00, 0x00}));
    auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(anim->Image->Images()[0]->Extensions().Extensions(0));
    ASSERT_NE(loop, nullptr);
    EXPECT_EQ(loop->Loops(), 2);
    Bytes other = withApp(
        {0x21, 0xFF, 0x0B, 'X', 'Y', 'Z', 'X', 'Y', 'Z', 'X', 'Y', '1', '2', '3', 0x03, 7, 8, 9, 0x01, 4, 0x00});
    EXPECT_EQ(Save(*Load(other)->Image), other);
}

TEST(GIFModelBlocks, ZeroBytesMissingTrailerAndZeroWidth)
{
    Bytes frame = Frame(2, 1, Encode(Bytes{1, 0}, 1, 2, 2, 1, false, 0));
    Bytes body = {0, 0, 0};
    body.insert(body.end(), frame.begin(), frame.end());
    auto l = Load(MakeGIF(2, 1, 2, body, false));
    ASSERT_EQ(l->Image->Images().Count(), 1);
    EXPECT_EQ(l->Image->Images()[0]->Data(), (Bytes{1, 0}));
    EXPECT_TRUE(l->Warnings.empty());

    Bytes zero = Frame(0, 1, Encode(Bytes{1, 0, 1, 0}, 1, 2, 4, 1, false, 0));
    auto z = Load(MakeGIF(4, 1, 2, zero));
    ASSERT_EQ(z->Warnings.size(), 1u);
    EXPECT_EQ(z->Warnings[0], "Image exceeds Logical Screen size");
    EXPECT_EQ(z->Image->Images()[0]->Width(), 4);
    EXPECT_EQ(z->Image->Images()[0]->Data(), (Bytes{1, 0, 1, 0}));
}

TEST(GIFModelBlocks, WritingWithoutFramesFails)
{
    TGIFImage image;
    TMemoryStream s;
    try {
        image.SaveToStream(s);
        FAIL();
    } catch (const GIFException& e) {
        EXPECT_EQ(e.Message(), "Unsupported GIF version");
    }
}

TEST(GIFModelBlocks, HugeFrameFromTinyFileIsRefused)
{
    Bytes file = MakeGIF(65535, 65535, 2, Frame(65535, 65535, Bytes{0x02, 0x01, 0x04, 0x00}));
    EXPECT_EQ(LoadError(file), "Invalid GIF data");
    Bytes wide = MakeGIF(60000, 60, 2, Frame(60000, 60, Bytes{0x02, 0x01, 0x04, 0x00}));
    EXPECT_EQ(LoadError(wide), "Invalid GIF data");
}

TEST(GIFModelBlocks, EveryTruncationFailsCleanlyOrReadsWhatIsThere)
{
    std::mt19937 rng(99);
    Bytes body = {0x21, 0xF9, 0x04, 0x01, 0x05, 0x00, 0x02, 0x00, 0x21, 0xFE, 0x03, 'a', 'b', 'c', 0x00};
    Bytes f1 = Frame(9, 7, Encode(RandomPixels(rng, 63, 4), 2, 4, 9, 7, false, 0));
    Bytes f2 = Frame(9, 7, Encode(RandomPixels(rng, 63, 4), 2, 4, 9, 7, true, 1), 0x40);
    body.insert(body.end(), f1.begin(), f1.end());
    body.insert(body.end(), f2.begin(), f2.end());
    Bytes file = MakeGIF(9, 7, 4, body);
    // Where the second frame's codes start and where its data block ends (the zero
    // sub-block): a cut between them leaves that frame short, which the picture says.
    const size_t header = 13 + 4 * 3, secondCodes = header + 15 + f1.size() + 10 + 2;
    const size_t secondEnd = header + 15 + f1.size() + f2.size();
    EXPECT_FALSE(Load(file)->Image->PartlyRead());
    for (size_t n = 0; n < file.size(); ++n) {
        Bytes cut(file.begin(), file.begin() + long(n));
        try {
            auto l = Load(cut);
            EXPECT_LE(l->Image->Images().Count(), 2);
            if (n >= secondCodes && n < secondEnd - 1) {
                EXPECT_TRUE(l->Image->PartlyRead()) << n;
            }
            if (n >= secondEnd) {
                EXPECT_FALSE(l->Image->PartlyRead()) << n; // only the trailer is missing
            }
        } catch (const GIFException&) {
        }
    }
}

TEST(GIFModelColorMap, TableRules)
{
    TGIFImage image;
    TGIFColorMap& map = image.GlobalColorMap();
    std::vector<std::string> warnings;
    image.OnWarning = [&](TObject*, TGIFSeverity, const std::string& m) { warnings.push_back(m); };
    EXPECT_THROW(map.Colors(0), GIFException);
    for (int i = 0; i < 17; ++i)
        map.Add(TGIFColor{uint8_t(i), 0, 0});
    EXPECT_EQ(map.Capacity(), 32);
    EXPECT_EQ(map.BitsPerPixel(), 5);
    EXPECT_EQ(map.Colors(99), (TGIFColor{0, 0, 0}));
    EXPECT_EQ(warnings.back(), "Invalid color index");
    EXPECT_THROW(map.Delete(17), GIFException);
    map.Add(TGIFColor{3, 0, 0});
    EXPECT_EQ(map.IndexOf(TGIFColor{3, 0, 0}), 17); // searched from the end
    while (map.Count() < 256)
        map.Add(TGIFColor{});
    EXPECT_THROW(map.Add(TGIFColor{}), GIFException);
}

TEST(GIFModelColorMap, OptimizeSortsByUseAndRemaps)
{
    TGIFImage image;
    image.GlobalColorMap().Add(TGIFColor{10, 0, 0});
    image.GlobalColorMap().Add(TGIFColor{20, 0, 0});
    image.GlobalColorMap().Add(TGIFColor{30, 0, 0});
    auto sub = std::make_unique<TGIFSubImage>(&image);
    sub->SetSize(4, 1);
    sub->Data() = {2, 2, 1, 2};
    auto* gce = static_cast<TGIFGraphicControlExtension*>(
        sub->Extensions().Add(std::make_unique<TGIFGraphicControlExtension>(sub.get())));
    gce->SetTransparentColorIndex(1);
    image.Add(std::move(sub));
    image.GlobalColorMap().Optimize();
    EXPECT_TRUE(image.GlobalColorMap().Optimized());
    EXPECT_EQ(image.GlobalColorMap().Colors(0).Red, 30);
    EXPECT_EQ(image.GlobalColorMap().Colors(1).Red, 20);
    EXPECT_EQ(image.Images()[0]->Data(), (Bytes{0, 0, 1, 0}));
    EXPECT_EQ(gce->TransparentColorIndex(), 1);
    EXPECT_EQ(image.Header().Version(), gv89a);
}

// ---- Colour reduction --------------------------------------------------------------

TEST(GIFModelReduce, LookupsWorkedByHand)
{
    TGIFColor c;
    TMonochromeLookup mono;
    EXPECT_EQ(mono.Lookup(127, 127, 127, c), 0);
    EXPECT_EQ(mono.Lookup(128, 128, 128, c), 1);
    TNetscapeColorLookup web;
    EXPECT_EQ(web.Lookup(255, 255, 255, c), 215);
    EXPECT_EQ(web.Lookup(0, 0, 0, c), 0);
    EXPECT_EQ(web.Lookup(47, 47, 47, c), 0);
    EXPECT_EQ(web.Lookup(48, 48, 48, c), 43);
    EXPECT_EQ(c, (TGIFColor{51, 51, 51}));
    TGrayScaleLookup grey;
    EXPECT_EQ(grey.Lookup(255, 0, 0, c), 76);
    TFastColorLookup fast({{0, 0, 0, 0}, {100, 100, 100, 0}, {200, 0, 0, 0}});
    EXPECT_EQ(fast.Lookup(90, 90, 90, c), 1);
    EXPECT_EQ(fast.Lookup(95, 95, 95, c), 1); // same 5-5-5 cell: the cached answer
    EXPECT_EQ(fast.Lookup(150, 0, 0, c), 2);
    TFastColorLookup empty({});
    EXPECT_EQ(empty.Lookup(1, 2, 3, c), 0);
    EXPECT_EQ(c, (TGIFColor{0, 0, 0}));
}

namespace {
TReducedImage ReduceFlat(int w, int h, uint8_t grey, uint8_t method, uint8_t dither, int bits = 8)
{
    Bytes rgb(size_t(w) * 3, grey);
    TRGBSource src{w, h, [&](int32_t) { return rgb.data(); }};
    return ReduceColorsToIndices(src, method, dither, bits, nullptr);
}
} // namespace

TEST(GIFModelReduce, FloydSteinbergToWebPaletteByHand)
{
    // Grey 40: row 0 forward 0, 43, 0; row 1 backward carries the errors: 43, 43, 43.
    TReducedImage r = ReduceFlat(3, 2, 40, crWeb216, dkFloydSteinberg);
    EXPECT_EQ(r.Indices, (Bytes{0, 43, 0, 43, 43, 43}));
    EXPECT_EQ(r.Palette.size(), 216u);
    // Nearest without dithering: all 0.
    EXPECT_EQ(ReduceFlat(3, 2, 40, crWeb216, dkNearest).Indices, Bytes(6, 0));
}

TEST(GIFModelReduce, EveryDithererKeepsFlatColoursOfThePalette)
{
    for (uint8_t d = dkNearest; d <= dkBurkes; ++d) {
        TReducedImage r = ReduceFlat(17, 5, 51, crWeb216, d);
        EXPECT_EQ(r.Indices, Bytes(85, 43)) << int(d);
    }
    // A mid grey dithered to black and white averages out near half white.
    TReducedImage mono = ReduceFlat(64, 64, 128, crMonochrome, dkStucki);
    int white = 0;
    for (uint8_t i : mono.Indices)
        white += i;
    EXPECT_NEAR(white, 64 * 64 / 2, 64 * 64 / 20);
}

TEST(GIFModelReduce, InvalidMethodsRaise)
{
    EXPECT_THROW(ReduceFlat(2, 2, 0, 10, 0), GIFException);
    EXPECT_THROW(ReduceFlat(2, 2, 0, crWeb216, 7), GIFException);
}

TEST(GIFModelReduce, OctreeKeepsFewColoursAndEndsForSmallCounts)
{
    Bytes rgb = {0, 0, 255, 0, 255, 0, 255, 0, 0, 10, 20, 30, 255, 255, 255};
    TRGBSource src{5, 1, [&](int32_t) { return rgb.data(); }};
    TReducedImage r = ReduceColorsToIndices(src, crOctree, dkNearest, 8, nullptr);
    ASSERT_EQ(r.Palette.size(), 256u);
    for (int x = 0; x < 5; ++x) {
        const TGIFPaletteEntry& e = r.Palette[r.Indices[size_t(x)]];
        EXPECT_EQ((Bytes{e.Blue, e.Green, e.Red}),
                  (Bytes{rgb[size_t(3 * x)], rgb[size_t(3 * x + 1)], rgb[size_t(3 * x + 2)]}));
    }
    for (int bits : {1, 2, 3}) {
        TReducedImage small = ReduceColorsToIndices(src, crOctree, dkNearest, bits, nullptr);
        EXPECT_EQ(small.Palette.size(), size_t(1) << bits);
        for (uint8_t i : small.Indices)
            EXPECT_LT(i, 1 << bits);
    }
    TReducedImage sys = ReduceColorsToIndices(src, crOctreeSystem, dkNearest, 8, nullptr);
    ASSERT_EQ(sys.Palette.size(), 256u);
    EXPECT_EQ(sys.Palette[0], (TGIFPaletteEntry{0, 0, 0, sys.Palette[0].Flags}));
    EXPECT_EQ(sys.Palette[255].Red, 255);
    EXPECT_EQ(sys.Palette[255].Blue, 255);
}

TEST(GIFModelReduce, ExactColoursForNoReduction)
{
    Bytes rgb = {1, 2, 3, 4, 5, 6, 1, 2, 3};
    TRGBSource src{3, 1, [&](int32_t) { return rgb.data(); }};
    TReducedImage r = ReduceColorsToIndices(src, crNone, dkNearest, 8, nullptr);
    EXPECT_EQ(r.Indices, (Bytes{0, 1, 0}));
    EXPECT_EQ(r.Palette[1], (TGIFPaletteEntry{6, 5, 4, 0}));
    Bytes many(300 * 3);
    for (int i = 0; i < 300; ++i)
        many[size_t(3 * i)] = uint8_t(i), many[size_t(3 * i + 1)] = uint8_t(i >> 8);
    TRGBSource big{300, 1, [&](int32_t) { return many.data(); }};
    EXPECT_THROW(ReduceColorsToIndices(big, crNone, dkNearest, 8, nullptr), GIFException);
}
