#include "widgets/PictureDialogs.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QTimer>
#include <QToolButton>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace kv;
namespace fs = std::filesystem;

namespace {

class TempDir {
public:
    TempDir()
    {
        Path =
            fs::temp_directory_path() / ("kv_picdlg_" + std::to_string(::getpid()) + "_" + std::to_string(Counter++));
        fs::create_directories(Path);
    }
    ~TempDir() { fs::remove_all(Path); }
    std::string File(const std::string& Name) const { return (Path / Name).string(); }
    fs::path Path;
    static inline int Counter = 0;
};

std::string WriteBmp(const TempDir& Dir, const std::string& Name, int32_t W, int32_t H, TColor Colour)
{
    TBitmap B;
    B.SetPixelFormat(pf24bit);
    B.SetSize(W, H);
    B.Canvas()->Brush()->SetColor(Colour);
    B.Canvas()->FillRect(Rect(0, 0, W, H));
    const std::string Path = Dir.File(Name);
    B.SaveToFile(Path);
    return Path;
}

} // namespace

TEST(PictureDialogs, PreviewScaleForTheExampleSizes)
{
    // The paint box as created: 153 x 141.
    EXPECT_EQ(TOpenPictureDialog::PreviewRect(640, 480, 153, 141), Rect(0, 0, 153, 115)); // 114.75 rounds up
    EXPECT_EQ(TOpenPictureDialog::PreviewRect(40, 30, 153, 141), Bounds(56, 55, 40, 30));
    // Wider than high but bound by the height: scaled by the smaller ratio, never cut.
    EXPECT_EQ(TOpenPictureDialog::PreviewRect(150, 145, 153, 141), Rect(0, 0, 146, 141));
    EXPECT_EQ(TOpenPictureDialog::PreviewRect(100, 400, 153, 141), Rect(0, 0, 35, 141));
    EXPECT_EQ(TOpenPictureDialog::PreviewRect(153, 141, 153, 141), Bounds(0, 0, 153, 141));
    EXPECT_EQ(TOpenPictureDialog::PreviewRect(65535, 1, 153, 141), Rect(0, 0, 153, 0));
}

TEST(PictureDialogs, PanelControlsAsCreated)
{
    TOpenPictureDialog D;
    EXPECT_EQ(D.PicturePanel()->objectName(), "PicturePanel");
    EXPECT_EQ(D.PicturePanel()->geometry(), QRect(204, 5, 169, 200));
    EXPECT_EQ(D.PaintBox()->Width(), 153);
    EXPECT_EQ(D.PaintBox()->Height(), 141);
    EXPECT_EQ(D.PaintPanel()->size(), QSize(157, 145));
    EXPECT_FALSE(D.PreviewButton()->isEnabled());
    EXPECT_EQ(D.PreviewButton()->toolTip(), "Preview");
    EXPECT_EQ(D.Filter, TPicture::GraphicFilter());
    EXPECT_NE(D.Filter.find("*.bmp"), std::string::npos);
}

TEST(PictureDialogs, PreviewsAPictureScaledToTheBox)
{
    TempDir Dir;
    TOpenPictureDialog D;
    D.FileName = WriteBmp(Dir, "big.bmp", 640, 480, clRed);
    D.UpdatePicturePreview();
    EXPECT_EQ(D.PictureLabel()->text(), " (640x480)");
    EXPECT_TRUE(D.PreviewButton()->isEnabled());
    D.PaintBoxPaint(D.PaintBox());
    TCanvas& C = *D.PaintBox()->Canvas();
    EXPECT_EQ(C.Pixels(0, 0), clRed);
    EXPECT_EQ(C.Pixels(152, 114), clRed);
    EXPECT_EQ(C.Pixels(76, 116), ColorToRGB(D.PaintBox()->Color()));

    D.FileName = WriteBmp(Dir, "small.bmp", 40, 30, clBlue);
    D.UpdatePicturePreview();
    EXPECT_EQ(D.PictureLabel()->text(), " (40x30)");
    D.PaintBoxPaint(D.PaintBox());
    EXPECT_EQ(C.Pixels(56, 55), clBlue); // centred, not enlarged
    EXPECT_EQ(C.Pixels(95, 84), clBlue);
    EXPECT_EQ(C.Pixels(55, 55), ColorToRGB(D.PaintBox()->Color()));
    EXPECT_EQ(C.Pixels(96, 85), ColorToRGB(D.PaintBox()->Color()));
}

TEST(PictureDialogs, NoPreviewForMissingProjectLinkOrBadFiles)
{
    TempDir Dir;
    TOpenPictureDialog D;
    int Changes = 0;
    D.OnSelectionChange = [&](TObject*) { ++Changes; };
    D.FileName = WriteBmp(Dir, "a.bmp", 10, 10, clRed);
    D.UpdatePicturePreview();
    ASSERT_TRUE(D.PreviewButton()->isEnabled());

    auto ExpectNone = [&D] {
        EXPECT_EQ(D.PictureLabel()->text(), "Picture:");
        EXPECT_FALSE(D.PreviewButton()->isEnabled());
        EXPECT_EQ(D.PreviewPicture()->Width(), 0);
        D.PaintBoxPaint(D.PaintBox());
        // "(None)" is drawn in the middle of the box, nothing at its corners.
        TCanvas& C = *D.PaintBox()->Canvas();
        const TColor Bg = ColorToRGB(D.PaintBox()->Color());
        const int32_t TW = C.TextWidth("(None)"), TH = C.TextHeight("(None)");
        const int32_t X0 = (153 - TW) / 2, Y0 = (141 - TH) / 2;
        int Ink = 0;
        for (int32_t y = Y0; y < Y0 + TH; ++y)
            for (int32_t x = X0; x < X0 + TW; ++x)
                Ink += C.Pixels(x, y) != Bg;
        EXPECT_GT(Ink, 0);
        EXPECT_EQ(C.Pixels(X0 - 1, Y0 - 1), Bg);
        EXPECT_EQ(C.Pixels(0, 0), Bg);
    };

    D.FileName = Dir.File("missing.bmp");
    D.UpdatePicturePreview();
    ExpectNone();

    // A project file or a link is never opened, whatever it holds.
    D.FileName = WriteBmp(Dir, "p.kvn", 10, 10, clRed);
    D.UpdatePicturePreview();
    ExpectNone();
    D.FileName = WriteBmp(Dir, "p.lnk", 10, 10, clRed);
    D.UpdatePicturePreview();
    ExpectNone();
    EXPECT_TRUE(TOpenPictureDialog::IsPreviewableFile(WriteBmp(Dir, "p.KVN", 10, 10, clRed)));
    EXPECT_FALSE(TOpenPictureDialog::IsPreviewableFile(Dir.File("p.kvn")));
    EXPECT_FALSE(TOpenPictureDialog::IsPreviewableFile(Dir.Path.string()));

    // Truncated and garbage pictures just have no preview.
    {
        std::ofstream(Dir.File("bad.bmp"), std::ios::binary) << "BM\x10\x00";
    }
    D.FileName = Dir.File("bad.bmp");
    D.UpdatePicturePreview();
    ExpectNone();
    EXPECT_EQ(Changes, 5);
}

TEST(PictureDialogs, FifoIsNeverOpened)
{
    TempDir Dir;
    const std::string Fifo = Dir.File("pipe.bmp");
    ASSERT_EQ(::mkfifo(Fifo.c_str(), 0600), 0);
    EXPECT_FALSE(TOpenPictureDialog::IsPreviewableFile(Fifo));
    TOpenPictureDialog D;
    D.FileName = Fifo;
    D.UpdatePicturePreview(); // would block reading the pipe
    EXPECT_EQ(D.PictureLabel()->text(), "Picture:");
}

TEST(PictureDialogs, NameFiltersKeepGlobsAndSkipEmptyPatterns)
{
    const QStringList F = TOpenPictureDialog::ToNameFilters("Bitmaps|*.bmp;*png;|All files|*.*|Broken");
    ASSERT_EQ(F.size(), 2);
    EXPECT_EQ(F[0], "Bitmaps (*.bmp *png)");
    EXPECT_EQ(F[1], "All files (*.*)");
    EXPECT_TRUE(TOpenPictureDialog::ToNameFilters("").isEmpty());
}

TEST(PictureDialogs, NameFiltersShowPatternsOnce)
{
    const QStringList F =
        TOpenPictureDialog::ToNameFilters("Kelvane Project (*.kvn)|*.kvn|All (*.gif;*.jpg)|*.gif;*.jpg|(*.x)|*.x");
    ASSERT_EQ(F.size(), 3);
    EXPECT_EQ(F[0], "Kelvane Project (*.kvn)");
    EXPECT_EQ(F[1], "All (*.gif *.jpg)");
    EXPECT_EQ(F[2], "(*.x) (*.x)"); // nothing but the patterns: kept as the description
}

namespace {
// Runs Qt's file dialog itself and closes it as soon as it shows.
class TShownDialog : public TOpenPictureDialog {
public:
    bool PanelShown = false;
    bool Run()
    {
        OnShow = [this](TObject*) {
            QTimer::singleShot(0, [this] {
                PanelShown = PicturePanel()->isVisible();
                if (QWidget* W = QApplication::activeModalWidget())
                    W->close();
            });
        };
        PanelShown = false;
        return RunFileDialog();
    }
};
} // namespace

TEST(PictureDialogs, PreviewPanelShowsOnEveryRun)
{
    TShownDialog D;
    D.Filter = "Bitmaps (*.bmp)|*.bmp";
    EXPECT_FALSE(D.Run());
    EXPECT_TRUE(D.PanelShown);
    EXPECT_FALSE(D.Run()); // the panel was hidden when the first run ended
    EXPECT_TRUE(D.PanelShown);
}

TEST(PictureDialogs, ExecuteThroughTheAnswerer)
{
    TOpenPictureDialog Open;
    Open.FileName = "/tmp/start.bmp";
    Open.Filter = "Bitmaps|*.bmp|JPEG|*.jpg;*.jpeg|GIF|*.gif";
    Open.FilterIndex = 2;
    EXPECT_EQ(Open.FileName, "/tmp/start.bmp"); // readable without showing
    {
        TScriptedAnswers Answers;
        TDialogAnswer A;
        A.Result = mrOk;
        A.FileName = "/tmp/chosen.gif";
        A.FilterIndex = 3;
        Answers.Then(A).Then(mrCancel);
        EXPECT_TRUE(Open.Execute());
        EXPECT_EQ(Open.FileName, "/tmp/chosen.gif");
        EXPECT_EQ(Open.FilterIndex, 3);
        ASSERT_EQ(Answers.Requests.size(), 1u);
        EXPECT_EQ(Answers.Requests[0].Kind, dkOpenFile);
        EXPECT_EQ(Answers.Requests[0].FileName, "/tmp/start.bmp");
        EXPECT_EQ(Answers.Requests[0].Filter, Open.Filter);
        EXPECT_EQ(Answers.Requests[0].FilterIndex, 2);

        EXPECT_FALSE(Open.Execute()); // cancelled: the name stays
        EXPECT_EQ(Open.FileName, "/tmp/chosen.gif");
    }

    TSavePictureDialog Save;
    Save.DefaultExt = "bmp";
    Save.Title = "Save As";
    TScriptedAnswers Answers;
    TDialogAnswer A;
    A.Result = mrOk;
    A.FileName = "/tmp/out";
    Answers.Then(A);
    EXPECT_TRUE(Save.Execute());
    EXPECT_EQ(Answers.Requests[0].Kind, dkSaveFile);
    EXPECT_EQ(Answers.Requests[0].Caption, "Save As");
    EXPECT_EQ(Save.FileName, "/tmp/out.bmp");
    EXPECT_EQ(Save.FilterIndex, 1);
}

TEST(PictureDialogs, PreviewWindowFitsThePictureAndTheScreen)
{
    TempDir Dir;
    TOpenPictureDialog D;
    D.FileName = WriteBmp(Dir, "p.bmp", 40, 30, clRed);
    D.UpdatePicturePreview();
    TPreviewForm* Seen = nullptr;
    int32_t W = 0, H = 0, Chrome = 0;
    TDialogAnswerer Inspect = [&](const TDialogRequest& R) {
        Seen = dynamic_cast<TPreviewForm*>(R.Form);
        if (Seen) {
            W = Seen->ClientWidth();
            H = Seen->ClientHeight();
            Chrome = Seen->ChromeWidth();
            EXPECT_EQ(Seen->windowTitle(), "Preview");
            EXPECT_FALSE(Seen->Image()->pixmap().isNull());
        }
        return TDialogAnswer{};
    };
    TDialogAnswerer Previous = SetDialogAnswerer(Inspect);
    D.PreviewClick(nullptr);
    ASSERT_NE(Seen, nullptr);
    EXPECT_EQ(Chrome, 12); // one-pixel frame and five pixels of border on each side
    EXPECT_EQ(W, 40 + Chrome);
    EXPECT_EQ(H, 30 + Chrome);

    EXPECT_EQ(TOpenPictureDialog::PreviewClientSize(5000, 4000, 12, 12, 800, 600), (TSize{800, 600}));
    EXPECT_EQ(TOpenPictureDialog::PreviewClientSize(40, 30, 12, 12, 800, 600), (TSize{52, 42}));
    SetDialogAnswerer(Previous);
}

namespace {

// Runs Qt's own file dialog (the path taken when windows can be shown) and answers it
// from a timer, as a user would.
class TRealDialog : public TOpenPictureDialog {
public:
    using TOpenPictureDialog::RunFileDialog;
};

} // namespace

TEST(PictureDialogs, QtFileDialogCarriesThePreviewPanel)
{
    TempDir Dir;
    const std::string Picture = WriteBmp(Dir, "shown.bmp", 20, 10, clRed);
    TRealDialog D;
    D.InitialDir = Dir.Path.string();
    D.Filter = "Bitmaps|*.bmp|All|*.*";
    D.FilterIndex = 2;
    bool PanelInside = false;
    QString LabelSeen;
    bool Answered = false;
    QTimer Poll;
    QElapsedTimer Clock;
    Clock.start();
    QObject::connect(&Poll, &QTimer::timeout, [&] {
        QFileDialog* Dialog = nullptr;
        for (QWidget* W : QApplication::topLevelWidgets())
            if (auto* F = qobject_cast<QFileDialog*>(W); F && F->isVisible())
                Dialog = F;
        if (!Dialog) {
            if (Clock.elapsed() > 5000) // never leave a test hanging
                for (QWidget* W : QApplication::topLevelWidgets())
                    if (auto* F = qobject_cast<QDialog*>(W))
                        F->reject();
            return;
        }
        if (!Answered) {
            Answered = true;
            PanelInside = D.PicturePanel()->parentWidget() == Dialog;
            EXPECT_EQ(Dialog->selectedNameFilter(), "All (*.*)");
            emit Dialog->currentChanged(QString::fromStdString(Picture));
            LabelSeen = D.PictureLabel()->text();
        }
        // Cancel: Qt's own accept waits for its background directory model, which a
        // test cannot time.
        static_cast<QDialog*>(Dialog)->reject();
    });
    Poll.start(20);
    EXPECT_FALSE(D.RunFileDialog());
    EXPECT_TRUE(Answered);
    EXPECT_TRUE(PanelInside);
    EXPECT_EQ(LabelSeen, " (20x10)"); // the selection drives the preview
    EXPECT_EQ(D.FilterIndex, 2);
    EXPECT_EQ(D.PicturePanel()->parentWidget(), nullptr); // taken back from the dialog
}

namespace {

// Opens Qt's file dialog on FileName and reads the preview as the dialog first shows,
// before anything is clicked; then cancels after a click on Other (when given).
struct TFirstLook {
    QString Label;
    bool ButtonEnabled = false;
    int32_t PictureWidth = 0;
    bool Seen = false;
};

TFirstLook OpenOn(TRealDialog& D, const std::string& Other)
{
    TFirstLook Look;
    QTimer Poll;
    QElapsedTimer Clock;
    Clock.start();
    QObject::connect(&Poll, &QTimer::timeout, [&] {
        QFileDialog* Dialog = nullptr;
        for (QWidget* W : QApplication::topLevelWidgets())
            if (auto* F = qobject_cast<QFileDialog*>(W); F && F->isVisible())
                Dialog = F;
        if (!Dialog) {
            if (Clock.elapsed() > 5000)
                for (QWidget* W : QApplication::topLevelWidgets())
                    if (auto* F = qobject_cast<QDialog*>(W))
                        F->reject();
            return;
        }
        if (!Look.Seen) {
            Look.Seen = true;
            Look.Label = D.PictureLabel()->text();
            Look.ButtonEnabled = D.PreviewButton()->isEnabled();
            Look.PictureWidth = D.PreviewPicture()->Width();
            if (!Other.empty())
                emit Dialog->currentChanged(QString::fromStdString(Other));
        }
        static_cast<QDialog*>(Dialog)->reject();
    });
    Poll.start(20);
    EXPECT_FALSE(D.RunFileDialog());
    return Look;
}

} // namespace

TEST(PictureDialogs, QtFileDialogPreviewsThePresetFileAtOnce)
{
    TempDir Dir;
    const std::string Picture = WriteBmp(Dir, "preset.bmp", 24, 12, clBlue);
    const std::string Other = WriteBmp(Dir, "other.bmp", 8, 8, clRed);

    TRealDialog D;
    D.Filter = "Bitmaps|*.bmp";
    int32_t Changes = 0;
    D.OnSelectionChange = [&](TObject*) { ++Changes; };
    D.FileName = Picture;
    TFirstLook Look = OpenOn(D, Other);
    ASSERT_TRUE(Look.Seen);
    EXPECT_EQ(Look.Label, " (24x12)");
    EXPECT_TRUE(Look.ButtonEnabled);
    EXPECT_EQ(Look.PictureWidth, 24);
    EXPECT_GE(Changes, 2);          // the opening selection counts as a change, then the click
    EXPECT_EQ(D.FileName, Picture); // cancelled: the click does not stick

    // A bare name is found in the starting folder, as the dialog itself finds it.
    D.FileName = "preset.bmp";
    D.InitialDir = Dir.Path.string();
    Look = OpenOn(D, "");
    EXPECT_EQ(Look.Label, " (24x12)");
    EXPECT_EQ(D.FileName, "preset.bmp");

    // Nothing preset: the last run's picture is not carried over.
    D.FileName.clear();
    Look = OpenOn(D, "");
    EXPECT_EQ(Look.Label, "Picture:");
    EXPECT_FALSE(Look.ButtonEnabled);
    EXPECT_EQ(Look.PictureWidth, 0);
}
