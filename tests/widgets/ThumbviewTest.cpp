#include "widgets/Thumbview.h"

#include "ThumbTestUtil.h"
#include "platform/Dialogs.h"

#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QPointer>

using namespace kv;
using namespace kvtest;

namespace {

// View 600 x 480, cells 100 x 100, gap 4.
std::unique_ptr<TTHumbview> SmallCellView()
{
    auto V = std::make_unique<TTHumbview>();
    V->SetSize(50);
    return V;
}

TPoint At(TTHumbview& V, int Index) { return TPoint{V.Thumb(Index)->Left(), V.Thumb(Index)->Top()}; }

void AddThumbs(TTHumbview& V, int N)
{
    for (int I = 0; I < N; ++I) {
        std::string Name(1, 't');
        Name += std::to_string(100 + I);
        Name += ".bmp";
        V.AddThumb(Name, false);
    }
}

// Paints the view once and lets the posted first scan run.
void FirstPaint(TTHumbview& V)
{
    (void)V.grab();
    Pump();
}

} // namespace

TEST(Thumbview, GridPositionsOfEachLayout)
{
    auto V = SmallCellView();
    EXPECT_EQ(V->CellWidth(), 100);
    EXPECT_EQ(V->PerLine(), 4); // 460 div 104
    EXPECT_EQ(V->GridPosition(1), (TPoint{4, 4}));
    EXPECT_EQ(V->GridPosition(4), (TPoint{4, 316}));
    EXPECT_EQ(V->GridPosition(5), (TPoint{108, 4}));
    EXPECT_EQ(V->GridPosition(9), (TPoint{212, 4}));
    EXPECT_EQ(V->GridPosition(0), (TPoint{0, 0}));
    V->SetAlignView(VTFitToScreen);
    EXPECT_EQ(V->GridPosition(2).Y, 116);
    V->SetAlignView(VTCenter);
    EXPECT_EQ(V->GridPosition(1).Y, 34);

    V->SetAlignView(VTNormal);
    V->SetScrollMode(SMVertical);
    EXPECT_EQ(V->PerLine(), 5); // 580 div 104
    EXPECT_EQ(V->GridPosition(6), (TPoint{4, 108}));
    V->SetAlignView(VTFitToScreen);
    EXPECT_EQ(V->GridPosition(2).X, 126);
    V->SetAlignView(VTCenter);
    EXPECT_EQ(V->GridPosition(1).X, 34);
}

TEST(Thumbview, ColumnsFillTopToBottomAndBothUsesTheSquareRoot)
{
    auto V = SmallCellView();
    V->SetBounds(0, 0, 600, 400);
    EXPECT_EQ(V->PerLine(), 3);
    AddThumbs(*V, 7);
    EXPECT_EQ(At(*V, 0), (TPoint{4, 4}));
    EXPECT_EQ(At(*V, 2), (TPoint{4, 212}));
    EXPECT_EQ(At(*V, 3), (TPoint{108, 4}));
    EXPECT_EQ(At(*V, 6), (TPoint{212, 4}));
    EXPECT_EQ(V->Thumb(0)->Width(), 100);

    V->SetScrollMode(SMboth);
    AddThumbs(*V, 3);
    V->SetBounds(0, 0, 600, 401); // a resize recomputes k
    EXPECT_EQ(V->PerLine(), 4);
}

TEST(Thumbview, PropertySettersKeepTheirRules)
{
    auto V = std::make_unique<TTHumbview>();
    V->SetMaxHeight(150);
    EXPECT_EQ(V->MaxHeight(), 200);
    V->SetMaxHeight(300);
    EXPECT_EQ(V->MaxHeight(), 300);
    EXPECT_EQ(V->CellHeight(), 300);
    // Nothing divides by zero with an empty cell and no gap.
    V->SetSize(0);
    V->SetThumbGap(0);
    EXPECT_EQ(V->PerLine(), 1);
    AddThumbs(*V, 2);
    V->SimulateMouseDown(mbLeft, 0, 5, 5);
    EXPECT_EQ(V->Selected(), -1);
    EXPECT_THROW(V->SetSelected(2), EStringListError);
}

TEST(Thumbview, HitTestSelectsTheThumbnailUnderThePoint)
{
    auto V = SmallCellView();
    AddThumbs(*V, 7);
    V->SimulateMouseDown(mbLeft, 0, 150, 150);
    EXPECT_EQ(V->Selected(), 5);
    EXPECT_EQ(V->Thumb(5)->TitleColor(), clHighlight);
    V->SimulateMouseDown(mbLeft, 0, 106, 150); // in the gap
    EXPECT_EQ(V->Selected(), -1);
    EXPECT_EQ(V->Thumb(5)->TitleColor(), clBtnFace);

    auto W = SmallCellView();
    AddThumbs(*W, 30);
    W->Arrange(0);
    W->HorzScrollBar()->SetPosition(100);
    EXPECT_EQ(W->Thumb(4)->Left(), 8);
    W->SimulateMouseDown(mbLeft, 0, 10, 10);
    EXPECT_EQ(W->Selected(), 4);

    auto C = SmallCellView();
    C->SetAlignView(VTCenter);
    AddThumbs(*C, 7);
    C->SimulateMouseDown(mbLeft, 0, 50, 130);
    EXPECT_EQ(C->Selected(), 0);
}

TEST(Thumbview, KeysMoveTheSelectionWithinTheList)
{
    auto V = SmallCellView();
    AddThumbs(*V, 7);
    V->SetSelected(1);
    auto Press = [&](uint16_t Key) {
        V->SimulateKeyDown(Key, 0);
        return V->Selected();
    };
    EXPECT_EQ(Press(VK_RIGHT), 5);
    EXPECT_EQ(Press(VK_RIGHT), 5);
    EXPECT_EQ(Press(VK_DOWN), 6);
    EXPECT_EQ(Press(VK_DOWN), 6);
    EXPECT_EQ(Press(VK_HOME), 0);
    EXPECT_EQ(Press(VK_END), 6);
    EXPECT_EQ(Press(VK_LEFT), 2);
    EXPECT_EQ(Press(VK_UP), 1);
    {
        TScriptedAnswers Answers;
        Answers.Then(mrOk);
        EXPECT_EQ(Press(VK_NEXT), 1);
        ASSERT_EQ(Answers.Requests.size(), 1u);
        EXPECT_EQ(Answers.Requests[0].Text, "Page Down");
    }
    uint16_t Seen = 0;
    V->OnKeyDown = [&](TObject*, uint16_t& Key, TShiftState) { Seen = Key; };
    V->SetScrollMode(SMVertical); // k = 5
    V->SetSelected(6);
    EXPECT_EQ(Press(VK_RIGHT), 6); // the last one stays
    EXPECT_EQ(Press(VK_UP), 1);
    EXPECT_EQ(Seen, VK_UP);
    // Escape is left to the dialog around the view, which closes on it.
    QKeyEvent Escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(V.get(), &Escape);
    EXPECT_FALSE(Escape.isAccepted());
    EXPECT_EQ(V->Selected(), 1);
}

namespace {

// The folder of the worked example, with a few broken files and mixed-case twins.
void FillExampleFolder(const TTempFolder& F)
{
    WritePng(F.File("b.PNG"), 5, 4);
    WriteBmp(F.File("A.bmp"), 3, 3);
    WriteJpeg(F.File("c.jpg"), 8, 8);
    WriteBytes(F.File("d.txt"), {1, 2, 3});
    std::filesystem::create_directories(F.File("e.bmp"));
    WriteGif(F.File(".f.gif"), 2, 2);
}

struct TScanLog {
    std::vector<std::string> Events;
    void Attach(TTHumbview& V, int BreakAt = 0)
    {
        V.OnStartScanning = [this](TObject*, int32_t Max) { Events.push_back("start " + std::to_string(Max)); };
        V.OnScanProgress = [this, BreakAt](TObject*, int32_t Position, bool& Break) {
            Events.push_back("at " + std::to_string(Position));
            Break = Position == BreakAt;
        };
        V.OnStopScanning = [this](TObject*) { Events.push_back("stop"); };
    }
};

} // namespace

TEST(Thumbview, FirstPaintScansTheFolderInNameOrder)
{
    TTempFolder F;
    FillExampleFolder(F);
    auto V = SmallCellView();
    TScanLog Log;
    Log.Attach(*V);
    V->SetDirectory(F.Path());
    V->SetSorted(false); // ignored before the first paint
    Pump();
    EXPECT_TRUE(Log.Events.empty());
    EXPECT_EQ(V->Count(), 0);
    EXPECT_EQ(V->Directory(), F.Path());

    FirstPaint(*V);
    EXPECT_EQ(Log.Events, (std::vector<std::string>{"start 2", "at 1", "at 2", "at 3", "stop"}));
    ASSERT_EQ(V->Count(), 3);
    EXPECT_TRUE(V->Sorted());
    EXPECT_EQ(V->Thumb(0)->Title(), "A.bmp");
    EXPECT_EQ(V->Thumb(1)->Title(), "b.PNG");
    EXPECT_EQ(V->Thumb(2)->Title(), "c.jpg");
    EXPECT_EQ(V->Selected(), 0);
    EXPECT_EQ(V->SelectedFile(), F.Path() + "/A.bmp");
    for (int I = 0; I < 3; ++I)
        EXPECT_EQ(V->Thumb(I)->Filename(), F.Path() + "/" + V->Thumb(I)->Title());
    EXPECT_EQ(V->Thumb(1)->ImageWidth(), 5);
    EXPECT_EQ(V->ScanNames(),
              (std::vector<std::string>{F.Path() + "/A.bmp", F.Path() + "/c.jpg", F.Path() + "/b.PNG"}));
}

TEST(Thumbview, BreakStopsLoadingButStillReportsTheEnd)
{
    TTempFolder F;
    FillExampleFolder(F);
    auto V = SmallCellView();
    TScanLog Log;
    Log.Attach(*V, 1);
    V->SetDirectory(F.Path());
    FirstPaint(*V);
    EXPECT_EQ(Log.Events, (std::vector<std::string>{"start 2", "at 1", "stop"}));
    ASSERT_EQ(V->Count(), 3);
    EXPECT_EQ(V->Thumb(0)->Filename(), F.Path() + "/A.bmp");
    EXPECT_EQ(V->Thumb(1)->Filename(), "");
    EXPECT_EQ(V->Thumb(2)->Filename(), "");

    // A missing folder gives an empty view and no events.
    Log.Events.clear();
    V->SetDirectory(F.Path() + "/nowhere");
    EXPECT_EQ(V->Count(), 0);
    EXPECT_TRUE(Log.Events.empty());
}

TEST(Thumbview, TwinNamesAndBrokenFilesKeepTheirOwnPictures)
{
    TTempFolder F;
    WriteBmp(F.File("a.bmp"), 2, 2);
    WriteBmp(F.File("A.bmp"), 3, 3);
    WriteBytes(F.File("B.gif"), {'G', 'I', 'F', '8', '9', 'a', 0});
    WriteBytes(F.File("c.PCX"), {10, 5, 1});
    WriteBytes(F.File("d.pcx"), PcxBytes());
    WriteBytes(F.File("e.Tga"), TgaBytes());
    auto V = SmallCellView();
    V->SetDirectory(F.Path());
    FirstPaint(*V);
    ASSERT_EQ(V->Count(), 6);
    std::vector<std::string> Titles;
    for (int I = 0; I < V->Count(); ++I)
        Titles.push_back(V->Thumb(I)->Title());
    EXPECT_EQ(Titles, (std::vector<std::string>{"A.bmp", "a.bmp", "B.gif", "c.PCX", "d.pcx", "e.Tga"}));
    EXPECT_EQ(V->Thumb(0)->ImageWidth(), 3);
    EXPECT_EQ(V->Thumb(1)->ImageWidth(), 2);
    EXPECT_EQ(V->Thumb(2)->Filename(), "");
    EXPECT_EQ(V->Thumb(3)->Filename(), "");
    EXPECT_EQ(V->Thumb(4)->Filename(), F.File("d.pcx"));
    EXPECT_EQ(V->Thumb(5)->ImageWidth(), 2);
}

TEST(Thumbview, SortedTogglesKeepEveryThumbnailAndTheSelection)
{
    TTempFolder F;
    FillExampleFolder(F);
    auto V = SmallCellView();
    V->SetDirectory(F.Path());
    FirstPaint(*V);
    V->SetSelected(1); // b.PNG
    Tthumbnail* B = V->Thumb(1);
    V->SetSorted(false);
    ASSERT_EQ(V->Count(), 3);
    EXPECT_EQ(V->Thumb(0)->Title(), "A.bmp");
    EXPECT_EQ(V->Thumb(1)->Title(), "c.jpg");
    EXPECT_EQ(V->Thumb(2)->Title(), "b.PNG");
    EXPECT_EQ(V->Selected(), 2);
    EXPECT_EQ(V->SelectedFile(), F.File("b.PNG"));
    EXPECT_EQ(V->Thumb(2), B);
    EXPECT_EQ(At(*V, 2), (TPoint{4, 212}));
    V->SetSorted(true);
    EXPECT_EQ(V->Thumb(1), B);
    EXPECT_EQ(V->Selected(), 1);
    int Children = 0;
    for (QObject* O : V->children())
        Children += dynamic_cast<Tthumbnail*>(O) != nullptr;
    EXPECT_EQ(Children, 3);
}

TEST(Thumbview, ReentryDuringTheScanIsDeferredOrIgnored)
{
    TTempFolder F;
    FillExampleFolder(F);
    TTempFolder Other;
    WriteBmp(Other.File("z.bmp"), 2, 2);
    auto V = SmallCellView();
    V->OnScanProgress = [&](TObject*, int32_t Position, bool&) {
        if (Position == 1) {
            V->SetDirectory(Other.Path()); // ignored
            V->SetSorted(false);           // after the scan
        }
    };
    V->SetDirectory(F.Path());
    FirstPaint(*V);
    EXPECT_EQ(V->Directory(), F.Path());
    ASSERT_EQ(V->Count(), 3);
    EXPECT_FALSE(V->Sorted());
    EXPECT_EQ(V->Thumb(1)->Title(), "c.jpg");
    EXPECT_EQ(V->Thumb(1)->Filename(), F.File("c.jpg"));
    EXPECT_EQ(V->Selected(), 0);
    int Highlighted = 0;
    for (int I = 0; I < V->Count(); ++I)
        Highlighted += V->Thumb(I)->TitleColor() == clHighlight;
    EXPECT_EQ(Highlighted, 1);

    // Destroying the view from a handler ends the scan safely.
    auto* Doomed = new TTHumbview;
    QPointer<TTHumbview> Watch(Doomed);
    bool Stopped = false;
    Doomed->OnScanProgress = [&](TObject*, int32_t Position, bool&) {
        if (Position == 1)
            QMetaObject::invokeMethod(
                Doomed, [Doomed] { delete Doomed; }, Qt::QueuedConnection);
    };
    Doomed->OnStopScanning = [&](TObject*) { Stopped = true; };
    Doomed->SetDirectory(F.Path());
    (void)Doomed->grab();
    Pump();
    EXPECT_TRUE(Watch.isNull());
    EXPECT_FALSE(Stopped);
}

TEST(Thumbview, SelectedFileRescansAndSelects)
{
    TTempFolder F;
    FillExampleFolder(F);
    auto V = SmallCellView();
    V->SetSelectedFile(F.File("c.jpg")); // before the first paint: remembered
    FirstPaint(*V);
    EXPECT_EQ(V->Selected(), 2);
    V->SetSelectedFile(F.File("b.PNG"));
    EXPECT_EQ(V->Directory(), F.Path());
    EXPECT_EQ(V->Selected(), 1);
    V->SetDirectory("");
    EXPECT_EQ(V->Count(), 0);
    EXPECT_EQ(V->SelectedFile(), "");
}
