#include "raster/Raster32_Layers.h"
#include "raster/Raster32.h"
#include "raster/Raster32_RotLayer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace kv;

namespace {

struct Counters {
    int Changing = 0, Change = 0, GDI = 0;
};

void Watch(TLayerCollection& C, Counters& N)
{
    C.OnChanging = [&N](TObject*) { ++N.Changing; };
    C.OnChange = [&N](TObject*) { ++N.Change; };
    C.OnGDIUpdate = [&N](TObject*) { ++N.GDI; };
}

TRubberbandLayer* MakeBand(TLayerCollection& C, TSingleRect R)
{
    auto* B = C.Add<TRubberbandLayer>();
    B->SetPlacement(R);
    return B;
}

} // namespace

TEST(RubberbandLayer, HandleZonesFollowTheTable)
{
    TLayerCollection C(nullptr);
    auto* B = MakeBand(C, {10, 10, 110, 110});
    EXPECT_EQ(B->HandleUnderCursor(10, 10), dsSizeTL);
    EXPECT_EQ(B->HandleUnderCursor(109, 10), dsSizeTR);
    EXPECT_EQ(B->HandleUnderCursor(10, 109), dsSizeBL);
    EXPECT_EQ(B->HandleUnderCursor(109, 109), dsSizeBR);
    EXPECT_EQ(B->HandleUnderCursor(109, 59), dsSizeR);
    EXPECT_EQ(B->HandleUnderCursor(59, 109), dsSizeB);
    EXPECT_EQ(B->HandleUnderCursor(14, 60), dsSizeL);
    EXPECT_EQ(B->HandleUnderCursor(59, 10), dsSizeT);
    EXPECT_EQ(B->HandleUnderCursor(60, 60), dsMove);
    EXPECT_EQ(B->HandleUnderCursor(200, 200), dsNone);
    // D = HandleSize + 1: (5,5) is 5 away from the corner, outside the handle, but inside.
    EXPECT_EQ(B->HandleUnderCursor(15, 15), dsMove);
    EXPECT_EQ(B->HandleUnderCursor(14, 14), dsSizeTL);

    B->SetHandleSize(0);
    EXPECT_EQ(B->HandleUnderCursor(11, 11), dsSizeTL);
    EXPECT_EQ(B->HandleUnderCursor(12, 12), dsMove);
    EXPECT_EQ(B->HandleUnderCursor(9, 9), dsSizeTL);
    EXPECT_EQ(B->HandleUnderCursor(8, 9), dsNone);

    B->SetHandles(rhMove);
    EXPECT_EQ(B->HandleUnderCursor(10, 10), dsMove);
    EXPECT_FALSE(B->HitTest(5, 5));
}

TEST(RubberbandLayer, DragArithmetic)
{
    TLayerCollection C(nullptr);
    auto* B = MakeBand(C, {0, 0, 100, 100});
    int UserChanges = 0;
    B->OnUserChange = [&](TObject*) { ++UserChanges; };

    // Top-left handle dragged past the minimum: the right and bottom stay put.
    C.MouseDown(mbLeft, ssLeft, 0, 0);
    EXPECT_EQ(C.MouseListener(), B);
    EXPECT_EQ(B->DragState(), dsSizeTL);
    C.MouseMove(ssLeft, 95, 95);
    C.MouseUp(mbLeft, 0, 95, 95);
    EXPECT_EQ(B->Placement(), (TSingleRect{90, 90, 100, 100}));
    EXPECT_EQ(UserChanges, 1);
    EXPECT_EQ(C.MouseListener(), nullptr);

    B->SetPlacement({0, 0, 100, 100});
    C.MouseDown(mbLeft, ssLeft, 50, 50);
    C.MouseMove(ssLeft, 70, 60);
    C.MouseUp(mbLeft, 0, 70, 60);
    EXPECT_EQ(B->Placement(), (TSingleRect{20, 10, 120, 110}));

    B->SetPlacement({0, 0, 100, 100});
    B->SetMaxWidth(50);
    C.MouseDown(mbLeft, ssLeft, 99, 49);
    EXPECT_EQ(B->DragState(), dsSizeR);
    C.MouseMove(ssLeft, 150, 49);
    C.MouseUp(mbLeft, 0, 150, 49);
    EXPECT_EQ(B->Placement(), (TSingleRect{0, 0, 50, 100}));

    // The resizing handler may change the outcome; an unchanged result notifies nothing.
    B->SetPlacement({0, 0, 100, 100});
    B->OnResizing = [](TObject*, const TSingleRect& Old, TSingleRect& New, TRBDragState, TShiftState) { New = Old; };
    UserChanges = 0;
    C.MouseDown(mbLeft, ssLeft, 50, 50);
    C.MouseMove(ssLeft, 70, 60);
    C.MouseUp(mbLeft, 0, 70, 60);
    EXPECT_EQ(B->Placement(), (TSingleRect{0, 0, 100, 100}));
    EXPECT_EQ(UserChanges, 0);
}

TEST(RubberbandLayer, TargetFollowsAndEitherSideMayGoFirst)
{
    TLayerCollection C(nullptr);
    auto* T = C.Add<TBitmapLayer>();
    T->SetPlacement({5, 5, 55, 45});
    auto* B = C.Add<TRubberbandLayer>();
    B->SetTarget(T);
    EXPECT_EQ(B->Placement(), T->Placement());
    EXPECT_TRUE(B->LayerOptions() & LOB_NO_UPDATE);

    C.MouseDown(mbLeft, ssLeft, 20, 20);
    C.MouseMove(ssLeft, 25, 30);
    C.MouseUp(mbLeft, 0, 25, 30);
    EXPECT_EQ(T->Placement(), (TSingleRect{10, 15, 60, 55}));

    delete T; // the band forgets a freed target
    EXPECT_EQ(B->Target(), nullptr);
    EXPECT_FALSE(B->LayerOptions() & LOB_NO_UPDATE);
    C.MouseDown(mbLeft, ssLeft, 20, 20);
    C.MouseMove(ssLeft, 40, 40);
    C.MouseUp(mbLeft, 0, 40, 40);

    auto* T2 = C.Add<TBitmapLayer>();
    B->SetTarget(T2);
    EXPECT_TRUE(T2->HasNotification(B));
    delete B; // and the target forgets a freed band
    EXPECT_FALSE(T2->HasNotification(B));
    EXPECT_EQ(C.Count(), 1);
}

TEST(LayerCollection, UpdateCountAndNotifications)
{
    TLayerCollection C(nullptr);
    Counters N;
    Watch(C, N);
    auto* L = C.Add<TPositionedLayer>();
    EXPECT_EQ(N.Changing, 1);
    EXPECT_EQ(N.Change, 1);

    // A layer's Changed reaches OnChange even inside an update bracket.
    C.BeginUpdate();
    L->SetPlacement({1, 1, 2, 2});
    EXPECT_EQ(N.Change, 2);
    C.EndUpdate();
    EXPECT_EQ(N.Change, 3);

    // An unpaired EndUpdate raises and leaves the count at 0.
    try {
        C.EndUpdate();
        FAIL();
    } catch (const EAssertionFailed& E) {
        EXPECT_EQ(E.Message(), "Unpaired EndUpdate");
    }
    EXPECT_EQ(C.UpdateCount(), 0);
    const int Before = N.Changing;
    C.BeginUpdate();
    EXPECT_EQ(N.Changing, Before + 1);
    C.EndUpdate();

    // Silenced layers notify nothing; an invisible GDI overlay layer asks for a GDI update
    // only while no update is open.
    L->SetLayerOptions(LOB_VISIBLE | LOB_NO_UPDATE);
    N = {};
    L->SetPlacement({3, 3, 4, 4});
    EXPECT_EQ(N.Change, 0);
    EXPECT_EQ(N.Changing, 0);
    L->SetLayerOptions(LOB_GDI_OVERLAY);
    N = {};
    L->SetPlacement({5, 5, 6, 6});
    EXPECT_EQ(N.GDI, 1);
    EXPECT_EQ(N.Change, 0);
    C.BeginUpdate();
    L->SetPlacement({6, 6, 7, 7});
    EXPECT_EQ(N.GDI, 1);
    C.EndUpdate();
}

TEST(LayerCollection, OrderIndexAndBadIndex)
{
    TLayerCollection C(nullptr);
    auto* A = C.Add<TPositionedLayer>();
    auto* B = C.Add<TPositionedLayer>();
    auto* D = C.Add<TPositionedLayer>();
    EXPECT_EQ(A->Index(), 0);
    EXPECT_EQ(D->Index(), 2);
    Counters N;
    Watch(C, N);
    D->BringToFront();
    A->SendToBack();
    EXPECT_EQ(N.Change + N.Changing, 0);
    A->BringToFront();
    EXPECT_EQ(C.Items(2), A);
    EXPECT_EQ(C.Items(0), B);
    EXPECT_EQ(N.Change, 1);
    A->SetIndex(-5);
    EXPECT_EQ(A->Index(), 0);
    EXPECT_THROW(C.Items(3), EListError);
    EXPECT_THROW(C.Items(-1), EListError);

    int Destroyed = 0;
    B->OnDestroy = [&](TObject* S) {
        EXPECT_EQ(S, B);
        ++Destroyed;
    };
    delete B;
    EXPECT_EQ(Destroyed, 1);
    EXPECT_EQ(C.Count(), 2);
    C.Clear();
    EXPECT_EQ(C.Count(), 0);
}

TEST(LayerCollection, FailedAssignKeepsTheCountBalanced)
{
    TLayerCollection Src(nullptr), Dst(nullptr);
    Src.Add<TPositionedLayer>();
    Dst.Add<TPositionedLayer>();
    EXPECT_THROW(Dst.Assign(&Src), Exception); // a layer's Assign is the persistent default
    EXPECT_EQ(Dst.UpdateCount(), 0);
    TLayerCollection Empty(nullptr);
    Dst.Assign(&Empty);
    EXPECT_EQ(Dst.Count(), 0);
    EXPECT_THROW(Dst.Assign(nullptr), Exception);
}

TEST(LayerCollection, MouseRoutingAndCapture)
{
    TLayerCollection C(nullptr);
    auto* Low = C.Add<TPositionedLayer>();
    Low->SetPlacement({0, 0, 50, 50});
    auto* High = C.Add<TPositionedLayer>();
    High->SetPlacement({20, 20, 70, 70});
    int LowMoves = 0, HighMoves = 0;
    Low->OnMouseMove = [&](TObject*, TShiftState, int32_t, int32_t) { ++LowMoves; };
    High->OnMouseMove = [&](TObject*, TShiftState, int32_t, int32_t) { ++HighMoves; };

    EXPECT_EQ(C.FindLayerAtPos(30, 30, LOB_MOUSE_EVENTS), High);
    EXPECT_EQ(C.FindLayerAtPos(10, 10, LOB_MOUSE_EVENTS), Low);
    EXPECT_EQ(C.FindLayerAtPos(30, 30, 0x1), nullptr);

    // A left press captures: moves go to the listener wherever the pointer is.
    EXPECT_EQ(C.MouseDown(mbLeft, ssLeft, 30, 30), High);
    EXPECT_EQ(C.MouseMove(ssLeft, 5, 5), High);
    EXPECT_EQ(HighMoves, 1);
    EXPECT_EQ(High->ButtonState(), 1);
    C.MouseUp(mbLeft, 0, 5, 5);
    EXPECT_EQ(C.MouseListener(), nullptr);

    // A non-left press reaches no layer unless one holds the mouse, yet returns the one found.
    int HighDowns = 0;
    High->OnMouseDown = [&](TObject*, TMouseButton, TShiftState, int32_t, int32_t) { ++HighDowns; };
    EXPECT_EQ(C.MouseDown(mbRight, ssRight, 30, 30), High);
    EXPECT_EQ(HighDowns, 0);

    // No capture with 0x08000000: the next move goes to the layer under the pointer.
    High->SetLayerOptions(High->LayerOptions() | LOB_NO_CAPTURE);
    C.MouseDown(mbLeft, ssLeft, 30, 30);
    EXPECT_EQ(C.MouseListener(), nullptr);
    EXPECT_EQ(C.MouseMove(ssLeft, 5, 5), Low);
    EXPECT_EQ(LowMoves, 1);

    // Freeing the listener clears it.
    High->SetLayerOptions(LOB_VISIBLE | LOB_MOUSE_EVENTS);
    C.MouseDown(mbLeft, ssLeft, 30, 30);
    delete High;
    EXPECT_EQ(C.MouseListener(), nullptr);
}

TEST(BitmapLayer, HitByAlphaAndScaleWithView)
{
    TLayerCollection C(nullptr);
    auto* L = C.Add<TBitmapLayer>();
    L->Bitmap()->SetSize(2, 1);
    L->Bitmap()->SetPixelFast(0, 0, 0x00FFFFFF);
    L->Bitmap()->SetPixelFast(1, 0, 0x80FFFFFF);
    L->SetPlacement({0, 0, 20, 10});
    L->SetHitByAlpha(true);
    EXPECT_FALSE(L->HitTest(3, 3));
    EXPECT_TRUE(L->HitTest(13, 3));
    EXPECT_FALSE(L->HitTest(25, 3));
    std::string Hits; // the pixel under each point decides, not the nearest pixel edge
    for (int32_t X = 0; X < 20; ++X)
        Hits += L->HitTest(X, 3) ? '1' : '0';
    EXPECT_EQ(Hits, "00000000001111111111");
    L->SetPlacement({0, 0, 0.4f, 10});
    EXPECT_FALSE(L->HitTest(0, 3));

    TViewMapping M;
    M.ScaleX = 131072;
    M.ScaleY = 65536;
    M.ShiftX = 10;
    M.ShiftY = -5;
    C.SetMapping(&M);
    L->SetPlacement({1, 2, 3, 4});
    EXPECT_EQ(L->GetViewPlacement(), (TSingleRect{1, 2, 3, 4}));
    L->SetScaleWithView(true);
    EXPECT_EQ(L->GetViewPlacement(), (TSingleRect{12, -3, 16, -1}));
}

TEST(BitmapLayer, OutsidePlacementsAreHarmless)
{
    TLayerCollection C(nullptr);
    auto* L = C.Add<TBitmapLayer>();
    L->Bitmap()->SetSize(4, 4);
    L->Bitmap()->ClearTo(0xFFFFFFFF);
    L->SetHitByAlpha(true);
    TBitmap32 Buffer;
    Buffer.SetSize(8, 8);
    Buffer.ClearTo(0xFF000000);
    const float Nan = std::numeric_limits<float>::quiet_NaN(), Inf = std::numeric_limits<float>::infinity();
    for (TSingleRect R : {TSingleRect{Nan, 0, 4, 4}, TSingleRect{0, 0, Inf, Inf}, TSingleRect{-Inf, -Inf, Inf, Inf},
                          TSingleRect{6, 6, 2, 2}, TSingleRect{3, 3, 3, 3}, TSingleRect{-3e38f, 0, 3e38f, 8}}) {
        L->SetPlacement(R);
        L->DoPaint(&Buffer);
        L->HitTest(1, 1);
    }
    EXPECT_EQ(SafeRound(Nan), 0);
    EXPECT_EQ(SafeRound(2.5), 2);
    EXPECT_EQ(SafeRound(3.5), 4);
    EXPECT_EQ(SafeRound(1e20), 1 << 30);
}

TEST(RotLayer, HitTestBeforeTheFirstPaint)
{
    TLayerCollection C(nullptr);
    auto* L = C.Add<TRotLayer>();
    L->Bitmap()->SetSize(10, 10);
    L->Bitmap()->ClearTo(0xFF00FF00);
    L->SetOrigin({100, 100});
    EXPECT_TRUE(L->HitTest(105, 105));
    EXPECT_FALSE(L->HitTest(0, 0));
    EXPECT_FALSE(L->HitTest(95, 95));

    // A quarter turn about the pivot at the bitmap's top-left corner: x' = y, y' = -x.
    TRotLayer* R = C.Add<TRotLayer>();
    R->Bitmap()->SetSize(10, 4);
    R->Bitmap()->ClearTo(0xFFFFFFFF);
    R->SetAngle(90);
    R->SetOrigin({50, 50});
    TBitmap32 Buffer;
    Buffer.SetSize(80, 80);
    Buffer.ClearTo(0xFF000000);
    R->DoPaint(&Buffer);
    EXPECT_EQ(Buffer.GetPixelFast(51, 45), 0xFFFFFFFFu);
    EXPECT_EQ(Buffer.GetPixelFast(55, 51), 0xFF000000u);
    EXPECT_TRUE(R->HitTest(51, 45));
    EXPECT_FALSE(R->HitTest(55, 51));
}
