// The plain routines shared by the codec and the controls, and keyed drawing.
#include "formats/CtrlUtils.h"
#include "formats/MaxMin.h"
#include "platform/Dialogs.h"
#include "platform/Forms.h"

#include <QApplication>
#include <QWidget>
#include <gtest/gtest.h>

using namespace kv;

TEST(CtrlUtils, MemoryRoutines)
{
    EXPECT_EQ(AllocZeroedBlock(0), nullptr);
    EXPECT_EQ(AllocZeroedBlock(-5), nullptr);
    void* none = nullptr;
    FreeZeroedBlock(none);
    EXPECT_EQ(none, nullptr);
    auto* p = static_cast<uint8_t*>(AllocZeroedBlock(9));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(p[i], 0);
    CopyBytes(p, "abcdefgh", 8);
    EXPECT_EQ(static_cast<uint8_t*>(OffsetPointer(p, 3))[0], 'd');
    EXPECT_TRUE(SameBytes(p + 5, "fgh", 3));
    EXPECT_FALSE(SameBytes(p + 5, "fgX", 3));
    EXPECT_TRUE(SameBytes(p, "zzz", 0));
    EXPECT_TRUE(SameBytes(p, "abcdefg", 7));
    FreeZeroedBlock(p);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(Max(-3, 2), 2);
    EXPECT_EQ(Min(-3, 2), -3);
    EXPECT_EQ(PassResourceText("Функция"), "Функция");
}

TEST(CtrlUtils, RectanglesAndScreens)
{
    const TRect screen{0, 0, 800, 600};
    TRect r{700, 550, 900, 650};
    FitRectToScreen(r, screen);
    EXPECT_EQ(r, (TRect{600, 500, 800, 600}));
    r = TRect{-50, -10, 50, 20};
    FitRectToScreen(r, screen);
    EXPECT_EQ(r, (TRect{0, 0, 100, 30}));
    r = TRect{100, 0, 1100, 10}; // wider than the screen: left edge ends at 0
    FitRectToScreen(r, screen);
    EXPECT_EQ(r, (TRect{0, 0, 1000, 10}));
    EXPECT_EQ(WidthOfRect(r), 1000);
    EXPECT_EQ(HeightOfRect(r), 10);
    EXPECT_EQ(PaletteRelativeColor(clRed), 0x020000FF);
}

TEST(CtrlUtils, KeyedDrawingLeavesKeyPixelsAlone)
{
    TBitmap src;
    src.SetPixelFormat(pf24bit);
    src.SetSize(2, 2);
    src.SetPixelColor(0, 0, clRed);
    src.SetPixelColor(1, 0, clGreen);
    src.SetPixelColor(0, 1, clBlue); // bottom-left: the key of 0x20000000
    src.SetPixelColor(1, 1, clRed);
    TBitmap dst;
    dst.SetPixelFormat(pf24bit);
    dst.SetSize(4, 4);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 4; ++x)
            dst.SetPixelColor(x, y, clYellow);
    DrawBitmapRectKeyed(*dst.Canvas(), 0, 0, 4, 4, Rect(0, 0, 2, 2), src, clDefault);
    EXPECT_EQ(dst.PixelColor(0, 0), clRed);
    EXPECT_EQ(dst.PixelColor(3, 1), clGreen);
    EXPECT_EQ(dst.PixelColor(1, 3), clYellow);
    EXPECT_EQ(dst.PixelColor(3, 3), clRed);
    // clNone: a plain copy.
    DrawBitmapKeyed(*dst.Canvas(), src, clNone, 0, 0, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(dst.PixelColor(0, 1), clBlue);
    // Keyed on red with an explicit colour, over a yellow patch.
    for (int32_t y = 2; y < 4; ++y)
        for (int32_t x = 2; x < 4; ++x)
            dst.SetPixelColor(x, y, clYellow);
    DrawBitmapKeyed(*dst.Canvas(), src, clRed, 2, 2, 2, 2, 0, 0, 2, 2);
    EXPECT_EQ(dst.PixelColor(2, 2), clYellow);
    EXPECT_EQ(dst.PixelColor(3, 2), clGreen);
    EXPECT_EQ(dst.PixelColor(2, 3), clBlue);
    EXPECT_EQ(dst.PixelColor(3, 3), clYellow);
}

TEST(CtrlUtils, DisabledGlyphAndEllipsis)
{
    TBitmap glyph;
    glyph.SetPixelFormat(pf24bit);
    glyph.SetSize(3, 3);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 3; ++x)
            glyph.SetPixelColor(x, y, clWhite);
    glyph.SetPixelColor(0, 0, clBlack);
    auto disabled = MakeDisabledGlyphEx(glyph, clWhite, clSilver, clYellow, clGray, true);
    EXPECT_EQ(disabled->PixelColor(0, 0), clGray);
    EXPECT_EQ(disabled->PixelColor(1, 1), clYellow);
    EXPECT_EQ(disabled->PixelColor(2, 2), clSilver);

    TBitmap canvasOwner;
    canvasOwner.SetSize(10, 10);
    TCanvas& canvas = *canvasOwner.Canvas();
    std::string out;
    EllipsizeToWidth("short", canvas, 1000, out);
    EXPECT_EQ(out, "short");
    const std::string longText = "a rather long caption for a small label";
    const int32_t limit = canvas.TextWidth("a rather...");
    EllipsizeToWidth(longText, canvas, limit, out);
    EXPECT_LE(canvas.TextWidth(out), limit);
    EXPECT_EQ(out.substr(out.size() - 3), "...");
    EXPECT_EQ(longText.rfind(out.substr(0, out.size() - 3), 0), 0u);
}

TEST(CtrlUtils, ShowNotAvailableTellsAndAbortsSilently)
{
    TScriptedAnswers answers;
    answers.Then(mrOk);
    Screen()->SetCursor(crHourGlass);
    EXPECT_THROW(ShowNotAvailable(), EAbort);
    ASSERT_EQ(answers.Requests.size(), 1u);
    EXPECT_EQ(answers.Requests[0].Text, "Функция не реализована");
    EXPECT_EQ(answers.Requests[0].Buttons, mbOKOnly);
    EXPECT_EQ(Screen()->Cursor(), crDefault);
}

TEST(CtrlUtils, WindowsOnTheScreen)
{
    TRect big{-10, 5, Screen()->Width() + 90, 25};
    FitRectToScreen(big);
    EXPECT_EQ(big.Left, 0);
    EXPECT_EQ(WidthOfRect(big), Screen()->Width() + 100);
    QWidget w;
    w.resize(100, 50);
    CenterOnScreen(&w);
    EXPECT_EQ(w.size(), QSize(100, 50));
    EXPECT_NEAR(w.frameGeometry().left(), (Screen()->Width() - w.frameGeometry().width()) / 2, 1);
    EXPECT_FALSE(OwnsActiveWindow() && QApplication::activeWindow() == nullptr);
}
