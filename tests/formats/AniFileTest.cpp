#include "formats/AniFile.h"
#include "formats/IcoList.h"
#include "formats/KvGIF.h"
#include "platform/Dialogs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

using namespace kv;

namespace {

using Bytes = std::vector<uint8_t>;

void Put32(Bytes& b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}
void Put16(Bytes& b, uint16_t v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

// A one-image icon file: Side x Side (16 unless given), 4 (or 8) bits per pixel (type 1
// icon or 2 cursor). Every colour pixel is (17,17,17); the AND mask 0x11 makes x = 3, 7,
// 11, 15 ... transparent. The directory's width and height bytes hold 0 for 256.
Bytes IconFile(uint16_t type, uint16_t hotX = 0, uint16_t hotY = 0, uint16_t bits = 4, uint32_t side = 16)
{
    Bytes img;
    Put32(img, 40);       // BITMAPINFOHEADER size
    Put32(img, side);     // width
    Put32(img, 2 * side); // height (XOR + AND)
    Put16(img, 1);        // planes
    Put16(img, bits);     // bit count
    for (int i = 0; i < 6; ++i)
        Put32(img, 0); // compression .. important colours
    for (int i = 0; i < (1 << bits); ++i)
        Put32(img, uint32_t(bits == 4 ? i * 0x111111 : i * 0x010101));
    const uint32_t xorRow = (side * bits + 31) / 32 * 4, andRow = (side + 31) / 32 * 4;
    img.resize(img.size() + side * (xorRow + andRow), 0x11); // XOR rows (index 1 or 17), AND rows
    Bytes f;
    Put16(f, 0);
    Put16(f, type);
    Put16(f, 1);
    f.insert(f.end(), {uint8_t(side), uint8_t(side), 16, 0}); // width, height, colours, reserved
    Put16(f, hotX);                                           // planes / hot spot x
    Put16(f, hotY);                                           // bit count / hot spot y
    Put32(f, uint32_t(img.size()));
    Put32(f, 22);
    f.insert(f.end(), img.begin(), img.end());
    return f;
}

Bytes Chunk(const char* id, const Bytes& d)
{
    Bytes c(id, id + 4);
    Put32(c, uint32_t(d.size()));
    c.insert(c.end(), d.begin(), d.end());
    if (d.size() & 1)
        c.push_back(0);
    return c;
}

Bytes Anih(uint32_t frames, uint32_t steps, uint32_t rate, uint32_t flags)
{
    Bytes d;
    for (uint32_t v : {36u, frames, steps, 0u, 0u, 0u, 0u, rate, flags})
        Put32(d, v);
    return Chunk("anih", d);
}

Bytes Riff(const std::vector<Bytes>& chunks)
{
    Bytes body = {'A', 'C', 'O', 'N'};
    for (auto& c : chunks)
        body.insert(body.end(), c.begin(), c.end());
    return Chunk("RIFF", body);
}

Bytes Fram(int icons, uint16_t bits = 4)
{
    Bytes d = {'f', 'r', 'a', 'm'};
    for (int i = 0; i < icons; ++i) {
        Bytes c = Chunk("icon", IconFile(2, uint16_t(i + 1), 7, bits));
        d.insert(d.end(), c.begin(), c.end());
    }
    return Chunk("LIST", d);
}

void Load(TAnimatedCursorImage& a, const Bytes& f)
{
    TReadOnlyMemoryStream s(f.data(), int64_t(f.size()));
    a.LoadFromStream(s);
}

Bytes Rate(uint32_t v)
{
    Bytes d;
    Put32(d, v);
    return Chunk("rate", d);
}

} // namespace

TEST(AniFile, MoreIconsThanHeaderFramesAppendFrames)
{
    TAnimatedCursorImage a;
    Load(a, Riff({Anih(2, 2, 6, 1), Fram(3)}));
    ASSERT_EQ(a.FrameCount(), 3);
    EXPECT_EQ(a.Frames(0)->Seq(), 0);
    EXPECT_EQ(a.Frames(2)->Seq(), -1);
    EXPECT_EQ(a.Frames(2)->JiffRate(), 6u);
    EXPECT_EQ(a.Header().Steps, 3u);
    EXPECT_FALSE(a.Frames(1)->IsIcon());
    EXPECT_EQ(a.Frames(1)->HotSpot(), Point(2, 7));
    EXPECT_EQ(a.Frames(0)->TagName(), "icon");
    EXPECT_EQ(a.IconCount(), 16);
    EXPECT_EQ(a.Frames(0)->Icon()->Width(), 16);
}

TEST(AniFile, AnIconFrameTakesItsCentreAsHotSpotAt256Pixels)
{
    // An icon image (type 1) has no hot spot of its own: its centre, width div 2 and
    // height div 2, where a width or height byte of 0 stands for 256.
    for (uint32_t side : {16u, 255u, 256u}) {
        SCOPED_TRACE(side);
        Bytes d = {'f', 'r', 'a', 'm'};
        Bytes c = Chunk("icon", IconFile(1, 3, 5, 4, side));
        d.insert(d.end(), c.begin(), c.end());
        TAnimatedCursorImage a;
        Load(a, Riff({Anih(1, 1, 6, 1), Chunk("LIST", d)}));
        ASSERT_EQ(a.FrameCount(), 1);
        EXPECT_TRUE(a.Frames(0)->IsIcon());
        EXPECT_EQ(a.Frames(0)->Icon()->Width(), int32_t(side));
        EXPECT_EQ(a.Frames(0)->HotSpot(), Point(int32_t(side / 2), int32_t(side / 2)));
    }
}

TEST(AniFile, RateChunksSetFramesInOrderAndSurplusIsIgnored)
{
    TAnimatedCursorImage a;
    Load(a, Riff({Anih(3, 3, 1, 1), Rate(6), Rate(12), Rate(18), Rate(99), Fram(3)}));
    ASSERT_EQ(a.FrameCount(), 3);
    EXPECT_EQ(a.Frames(0)->JiffRate(), 6u);
    EXPECT_EQ(a.Frames(1)->JiffRate(), 12u);
    EXPECT_EQ(a.Frames(2)->JiffRate(), 18u);

    // One rate chunk holding several values sets frame 0 only.
    Bytes several;
    for (uint32_t v : {5u, 7u, 9u})
        Put32(several, v);
    TAnimatedCursorImage b;
    Load(b, Riff({Anih(3, 3, 1, 1), Chunk("rate", several), Fram(3)}));
    EXPECT_EQ(b.Frames(0)->JiffRate(), 5u);
    EXPECT_EQ(b.Frames(1)->JiffRate(), 1u);

    TIconList list;
    list.Assign(&a);
    EXPECT_EQ(list.Count(), 3);
    TAnimatedCursorImage copy;
    copy.Assign(&a);
    EXPECT_EQ(copy.Frames(2)->JiffRate(), 18u);
}

TEST(AniFile, BadDataRaisesStreamReadError)
{
    auto error = [](const Bytes& f) {
        TAnimatedCursorImage a;
        try {
            Load(a, f);
        } catch (const EReadError& e) {
            return e.Message();
        }
        return std::string();
    };
    EXPECT_EQ(error(Riff({Anih(2, 2, 6, 0), Fram(2)})), "Stream read error"); // no icon flag
    EXPECT_EQ(error(Riff({Anih(2, 0, 6, 1), Fram(2)})), "Stream read error"); // no steps
    EXPECT_EQ(error(Riff({Anih(2, 2, 6, 1)})), "Stream read error");          // no frames at all
    EXPECT_EQ(error(Bytes{'R', 'I', 'F', 'F'}), "Stream read error");
    EXPECT_EQ(error(Bytes(20, 'x')), "Stream read error");
    // A header claiming a billion frames and 4 GiB chunks ends cleanly.
    Bytes hostile = Riff({Anih(0x40000000, 1, 6, 1), Fram(1)});
    EXPECT_EQ(error(hostile), "");
    Bytes longChunk = Riff({Anih(1, 1, 6, 1), Fram(1)});
    longChunk[12 + 4] = 0xFF; // the anih size
    longChunk[12 + 7] = 0xFF;
    EXPECT_EQ(error(longChunk), "Stream read error"); // the loop stops: no frames
    for (size_t n = 0; n < hostile.size(); ++n)
        error(Bytes(hostile.begin(), hostile.begin() + n));

    TAnimatedCursorImage a;
    TMemoryStream out;
    TScriptedAnswers answers;
    answers.Then(mrOk);
    EXPECT_THROW(a.SaveToStream(out), EAbort);
    ASSERT_EQ(answers.Requests.size(), 1u);
    EXPECT_EQ(answers.Requests[0].Text, "Функция не реализована");
    EXPECT_EQ(out.Size(), 0);
}

TEST(IcoList, StreamingKeepsEmptyEntries)
{
    TIcon icon;
    Bytes file = IconFile(1);
    TReadOnlyMemoryStream s(file.data(), int64_t(file.size()));
    icon.LoadFromStream(s);
    TIconList list;
    int changes = 0;
    list.OnChange = [&](TObject*) { ++changes; };
    list.Add(&icon);
    list.Put(1, nullptr); // an empty entry appended at Count
    list.Insert(0, &icon);
    EXPECT_EQ(list.Count(), 3);
    EXPECT_GE(changes, 3);
    TMemoryStream m;
    list.SaveToStream(m);
    const Bytes& b = m.Bytes();
    EXPECT_EQ(GetU32LE(b.data()), 3u);
    EXPECT_EQ(GetU32LE(b.data() + 4), uint32_t(file.size()));
    EXPECT_EQ(GetU32LE(b.data() + b.size() - 4), 0u); // the empty entry: size 0
    m.SetPosition(0);
    TIconList back;
    back.LoadFromStream(m);
    ASSERT_EQ(back.Count(), 3);
    EXPECT_FALSE(back.Get(0)->Empty());
    EXPECT_TRUE(back.Get(2) == nullptr || back.Get(2)->Empty());
    EXPECT_FALSE(back.NeedsStoring(&list));

    // Counts and sizes beyond the stream are refused.
    Bytes bad;
    Put32(bad, 0x7FFFFFFF);
    TReadOnlyMemoryStream bs(bad.data(), int64_t(bad.size()));
    EXPECT_THROW(back.LoadFromStream(bs), EReadError);
    Bytes bad2;
    Put32(bad2, 1);
    Put32(bad2, 1000);
    TReadOnlyMemoryStream bs2(bad2.data(), int64_t(bad2.size()));
    EXPECT_THROW(back.LoadFromStream(bs2), EReadError);
}

TEST(IcoList, ResourcesLoadByNameAndAMissingNameChangesNothing)
{
    TIconList list;
    int changes = 0;
    list.OnChange = [&](TObject*) { ++changes; };
    EXPECT_EQ(list.AddResource(HInstance, "MAINICON"), 0);
    EXPECT_EQ(list.AddResource(HInstance, "MAINICON"), 1);
    list.InsertResource(1, HInstance, "kv_FrameIcon"); // names ignore letter case
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(changes, 3);
    // Pixels as B, G, R, A: the frame's yellow corner and blue picture; the main icon's
    // black corner, red layer and the see-through pixel at the top right.
    auto pixel = [&](int32_t Index, int32_t X, int32_t Y) {
        const uint8_t* p = list.Get(Index)->Image().ScanLine(Y) + 4 * X;
        return std::vector<int>{p[0], p[1], p[2], p[3]};
    };
    EXPECT_EQ(list.Get(1)->Width(), 16);
    EXPECT_EQ(pixel(1, 0, 0), (std::vector<int>{60, 200, 240, 255}));
    EXPECT_EQ(pixel(1, 5, 5), (std::vector<int>{200, 80, 40, 255}));
    for (int32_t i : {0, 2}) {
        EXPECT_EQ(pixel(i, 0, 0), (std::vector<int>{0, 0, 0, 255}));
        EXPECT_EQ(pixel(i, 2, 2), (std::vector<int>{40, 40, 200, 255}));
        EXPECT_EQ(pixel(i, 15, 0)[3], 0);
    }

    // A name the program does not hold, or a module that is not the program: the
    // platform's error, and the list as it was.
    struct TCase {
        HINST Instance;
        const char* Name;
        bool Insert;
    } missing[] = {{HInstance, "NOSUCH", false}, {HInstance, "NOSUCH", true}, {0, "MAINICON", false}};
    for (const TCase& c : missing) {
        try {
            if (c.Insert)
                list.InsertResource(1, c.Instance, c.Name);
            else
                list.AddResource(c.Instance, c.Name);
            ADD_FAILURE() << c.Name << " loaded";
        } catch (const EResNotFound& e) {
            EXPECT_EQ(e.Message(), std::string("Resource ") + c.Name + " not found");
        }
    }
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(changes, 3);

    // Every icon of the table loads, and a list of them streams back pixel for pixel.
    TIconList all;
    for (const std::string& name : IconResourceNames())
        all.AddResource(HInstance, name);
    ASSERT_EQ(all.Count(), 2);
    TMemoryStream m;
    all.SaveToStream(m);
    m.SetPosition(0);
    TIconList back;
    back.LoadFromStream(m);
    ASSERT_EQ(back.Count(), 2);
    for (int32_t i = 0; i < 2; ++i)
        for (int32_t y = 0; y < 16; ++y)
            EXPECT_EQ(std::memcmp(back.Get(i)->Image().ScanLine(y), all.Get(i)->Image().ScanLine(y), 64), 0);
}

TEST(AniFile, StripIsReducedToTheFramesColourCount)
{
    // 16-colour frames: the strip goes out at 4 bits with the platform's 16 colours, so
    // the frames' grey 17 becomes black and the red ground stays red.
    TAnimatedCursorImage a;
    Load(a, Riff({Anih(3, 3, 6, 1), Fram(3)}));
    TBitmap strip;
    strip.Canvas()->Brush()->SetColor(clRed);
    strip.Assign(&a);
    EXPECT_EQ(strip.PixelFormat(), pf4bit);
    EXPECT_EQ(strip.Width(), 48);
    EXPECT_EQ(strip.Height(), 16);
    EXPECT_EQ(strip.PixelColor(0, 0), clBlack);
    EXPECT_EQ(strip.PixelColor(3, 0), clRed);   // masked pixel of frame 0
    EXPECT_EQ(strip.PixelColor(35, 15), clRed); // masked pixel of frame 2
    EXPECT_EQ(strip.PixelColor(44, 9), clBlack);

    // 256-colour frames: 8 bits through the histogram reduction, the colours exact.
    TAnimatedCursorImage b;
    Load(b, Riff({Anih(2, 2, 6, 1), Fram(2, 8)}));
    EXPECT_EQ(b.IconCount(), 256);
    TBitmap strip8;
    strip8.Canvas()->Brush()->SetColor(clRed);
    strip8.Assign(&b);
    EXPECT_EQ(strip8.PixelFormat(), pf8bit);
    EXPECT_EQ(strip8.Width(), 32);
    EXPECT_EQ(strip8.PixelColor(0, 0), RGB(17, 17, 17));
    EXPECT_EQ(strip8.PixelColor(19, 4), clRed);

    TAnimatedCursorImage none;
    TBitmap empty;
    empty.SetSize(5, 5);
    empty.Assign(&none);
    EXPECT_TRUE(empty.Empty());
}

TEST(AniFile, GIFTakesOneFramePerIconWithItsRate)
{
    TAnimatedCursorImage a;
    Load(a, Riff({Anih(3, 3, 1, 1), Rate(6), Rate(12), Rate(18), Fram(3)}));
    TGIFImage gif;
    int changes = 0;
    gif.OnChange = [&](TObject*) { ++changes; };
    gif.Assign(&a);
    EXPECT_GE(changes, 1);
    ASSERT_EQ(gif.Count(), 3);
    EXPECT_EQ(gif.Frames(0)->DelayMs, 100u); // 6 * 100 div 6
    EXPECT_EQ(gif.Frames(1)->DelayMs, 200u);
    EXPECT_EQ(gif.Frames(2)->DelayMs, 300u);
    EXPECT_EQ(gif.BackgroundColor(), clWindow);
    EXPECT_EQ(gif.Version(), gv89a);
    EXPECT_EQ(gif.CurrentFrame(), 2);
    EXPECT_EQ(gif.Width(), 16);
    EXPECT_EQ(gif.ScreenWidth(), 16);

    // Written and read back: the delays travel as hundredths of a second.
    TMemoryStream out;
    gif.SaveToStream(out);
    out.SetPosition(0);
    TGIFImage back;
    back.LoadFromStream(out);
    ASSERT_EQ(back.Count(), 3);
    EXPECT_EQ(back.Frames(1)->DelayMs, 200u);
    EXPECT_EQ(back.Frames(2)->DelayMs, 300u);

    // A rate whose delay passes 16 bits is clamped in the file, not wrapped:
    // 4000 * 100 div 6 = 66666 ms, written as 6666; 0xFFFFFFFF gives 65535.
    TAnimatedCursorImage slow;
    Load(slow, Riff({Anih(2, 2, 1, 1), Rate(4000), Rate(0xFFFFFFFF), Fram(2)}));
    TGIFImage g;
    g.Assign(&slow);
    EXPECT_EQ(g.Frames(0)->DelayMs, 66666u);
    EXPECT_EQ(g.Frames(1)->DelayMs, 0xFFFFFFFFu);
    TMemoryStream s;
    g.SaveToStream(s);
    std::vector<uint16_t> delays;
    const Bytes& b = s.Bytes();
    for (size_t i = 0; i + 8 <= b.size(); ++i)
        if (b[i] == 0x21 && b[i + 1] == 0xF9 && b[i + 2] == 4)
            delays.push_back(GetU16LE(b.data() + i + 4));
    EXPECT_EQ(delays, (std::vector<uint16_t>{6666, 65535}));

    // An empty cursor gives an empty picture with the window colour as its ground.
    TAnimatedCursorImage none;
    g.Assign(&none);
    EXPECT_EQ(g.Count(), 0);
    EXPECT_EQ(g.BackgroundColor(), clWindow);
}
