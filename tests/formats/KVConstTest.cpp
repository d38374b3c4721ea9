// The program's own cursors in the screen's table, and the icon clipboard format.
#include "formats/KVConst.h"
#include "formats/ClipIcon.h"
#include "platform/Clipbrd.h"
#include "platform/Controls.h"
#include "platform/Forms.h"
#include "platform/Icon.h"
#include "platform/ScreenCursors.h"

#include <QCursor>
#include <QGuiApplication>
#include <gtest/gtest.h>

using namespace kv;

TEST(KVConst, HandCursorsAreEnteredInTheScreenTable)
{
    InitializeKVConst();
    TBitmap hand;
    TPoint hot;
    ASSERT_TRUE(ScreenCursorImage(TCursor(crHandCursor), hand, hot));
    EXPECT_EQ(hot, Point(5, 0)); // the fingertip
    EXPECT_EQ(hand.Width(), 32);
    EXPECT_EQ(hand.Height(), 32);
    const uint8_t* top = hand.ScanLine(0);
    EXPECT_EQ(top[4 * 5 + 3], 255); // outline at the hot spot, opaque black
    EXPECT_EQ(top[4 * 5], 0);
    EXPECT_EQ(top[4 * 4 + 3], 0);            // see-through beside it
    EXPECT_EQ(hand.ScanLine(1)[4 * 5], 255); // inside the finger: white
    EXPECT_EQ(hand.ScanLine(31)[4 * 5 + 3], 0);

    TBitmap grab;
    ASSERT_TRUE(ScreenCursorImage(TCursor(crDragCursor), grab, hot));
    EXPECT_EQ(hot, Point(8, 6));
    EXPECT_STREQ(KVCursorResourceName(crDragCursor), "KV_DRAGCUR");
    EXPECT_FALSE(HasScreenCursor(TCursor(14002)));
    EXPECT_EQ(KVCursorImage(14002, hot), nullptr);

    // Controls and the screen take them before the standard shapes.
    TCustomControl control;
    control.SetCursor(TCursor(crHandCursor));
    EXPECT_EQ(control.cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(control.cursor().hotSpot(), QPoint(5, 0));
    control.SetCursor(crHandPoint);
    EXPECT_EQ(control.cursor().shape(), Qt::PointingHandCursor);
    Screen()->SetCursor(TCursor(crDragCursor));
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::BitmapCursor);
    EXPECT_EQ(QGuiApplication::overrideCursor()->hotSpot(), QPoint(8, 6));
    Screen()->SetCursor(crDefault);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST(ClipIcon, IconBlocksLoadThroughThePictureRegistry)
{
    InitializeClipIcon();
    InitializeClipIcon(); // start-up runs once
    EXPECT_EQ(ClipboardFormatName(CF_ICON()), "Kelvane Icon");
    EXPECT_TRUE(TPicture::SupportsClipboardFormat(CF_ICON()));

    TBitmap bmp;
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(16, 12);
    bmp.Canvas()->Brush()->SetColor(clTeal);
    bmp.Canvas()->FillRect(Rect(0, 0, 16, 12));
    TIcon icon;
    icon.Assign(&bmp);
    TMemoryStream file;
    icon.SaveToStream(file);
    Clipboard()->SetAsHandle(CF_ICON(), file.Bytes());
    ASSERT_TRUE(Clipboard()->HasFormat(CF_ICON()));

    TPicture picture;
    picture.LoadFromClipboardFormat(CF_ICON(), Clipboard()->GetAsHandle(CF_ICON()), nullptr);
    ASSERT_NE(picture.Graphic(), nullptr);
    EXPECT_EQ(picture.Graphic()->ClassName(), "TIcon");
    EXPECT_EQ(picture.Width(), 16);
    EXPECT_EQ(picture.Height(), 12);
    TBitmap back;
    back.Assign(picture.Graphic());
    EXPECT_EQ(back.PixelColor(7, 5), clTeal);

    // A block that is not an icon is refused with the icon class's error.
    const std::vector<uint8_t> junk = {1, 2, 3};
    EXPECT_THROW(picture.LoadFromClipboardFormat(CF_ICON(), junk, nullptr), EInvalidGraphic);
    EXPECT_THROW(picture.LoadFromClipboardFormat(CF_ICON(), {}, nullptr), EInvalidGraphic);
    // The icon class keeps its file extension.
    ASSERT_NE(TPicture::FindGraphicClass("ico"), nullptr);
}
