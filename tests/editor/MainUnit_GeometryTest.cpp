// The geometry, border, mask and four-corner commands driven through the main window
// with the windows the entry point makes, each dialog answered by a script that works
// its controls as a user would.
#include "editor/ApplicationForms.h"
#include "editor/EditorFixture.h"
#include "editor/MainUnit.h"
#include "effects/BorderDialogs.h"
#include "effects/GeometryDialogs.h"
#include "effects/ProGeomoUnit.h"
#include "effects/TexturUnit.h"
#include "platform/Dialogs.h"
#include "platform/Forms.h"
#include "raster/Raster32_Image.h"
#include "widgets/LbButton.h"
#include "widgets/ThumbTestUtil.h"
#include "widgets/Thumbview.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSlider>
#include <QSpinBox>

#include <gtest/gtest.h>

#include <functional>

using namespace kv;

namespace {

// Key presses and releases sent to a field as the keyboard would.
void PressKeys(QWidget* Field, std::initializer_list<int> Keys, const QString& Text = {})
{
    for (int key : Keys)
        for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
            QKeyEvent e(type, key, Qt::NoModifier, Text);
            QApplication::sendEvent(Field, &e);
        }
}

void TypeText(QWidget* Field, const std::string& Text)
{
    for (char c : Text)
        PressKeys(Field, {int(c)}, QString(QChar(c)));
}

TColor32 Code(int32_t X, int32_t Y) { return 0xFF000000u | (uint32_t(X & 255) << 16) | (uint32_t(Y & 255) << 8); }

// Answers the next modal showing of a T with what Act does to it (its result), and
// records every message shown meanwhile.
class TFormScript {
public:
    template <class T> explicit TFormScript(std::function<TModalResult(T&)> Act)
    {
        FPrevious = SetDialogAnswerer([this, Act](const TDialogRequest& R) {
            TDialogAnswer a;
            if (R.Kind == dkMessage) {
                Messages.push_back(R.Text);
                a.Result = mrOk;
            } else if (auto* form = dynamic_cast<T*>(R.Form)) {
                ++Shown;
                a.Result = Act(*form);
            }
            return a;
        });
    }
    ~TFormScript() { SetDialogAnswerer(FPrevious); }
    std::vector<std::string> Messages;
    int Shown = 0;

private:
    TDialogAnswerer FPrevious;
};

class GeometryCommandsTest : public test::IsolatedEditorTest {
protected:
    void SetUp() override
    {
        MakeForm("kv_geom_", {"data"}, 600, 600);
        CreateApplicationForms(*Form);
    }
    TBitmap32* Bg() { return Form->ImgView->Bitmap(); }
    void CodedBackground(int32_t W, int32_t H)
    {
        Form->NewBackground(W, H, clBlack32);
        for (int32_t y = 0; y < H; ++y)
            for (int32_t x = 0; x < W; ++x)
                Bg()->SetPixelFast(x, y, Code(x, y));
        Form->UpdateCommandEnabling();
    }
    TBitmapLayer* CodedLayer(int32_t W, int32_t H, const TSingleRect& Placement)
    {
        auto* L = Form->ImgView->Layers()->Add<TBitmapLayer>();
        L->Bitmap()->SetSize(W, H);
        for (int32_t y = 0; y < H; ++y)
            for (int32_t x = 0; x < W; ++x)
                L->Bitmap()->SetPixelFast(x, y, Code(x, y));
        L->Bitmap()->SetDrawMode(dmBlend);
        Form->SetUpContentLayer(L);
        L->SetPlacement(Placement);
        Form->SetSelection(L);
        Form->UpdateCommandEnabling();
        return L;
    }
    void Run(const char* Name) { Form->Command(Name)->trigger(); }
    bool Enabled(const char* Name) { return Form->Command(Name)->isEnabled(); }
    static std::vector<TColor32> Pixels(const TBitmap32& B)
    {
        return std::vector<TColor32>(B.Bits(), B.Bits() + int64_t(B.Width()) * B.Height());
    }
};

} // namespace

TEST_F(GeometryCommandsTest, BackgroundTurnsAndFlipsMoveBytesAndUndoOnce)
{
    struct TCase {
        const char* Command;
        int32_t W, H;
        TPoint From, To;
    };
    const TCase cases[] = {
        {"Maskos", 2, 3, {0, 0}, {1, 0}}, {"Maskos", 2, 3, {2, 1}, {0, 2}}, {"N903", 2, 3, {0, 0}, {0, 2}},
        {"N1801", 3, 2, {0, 0}, {2, 1}},  {"N106", 3, 2, {0, 0}, {2, 0}},   {"N105", 3, 2, {0, 0}, {0, 1}},
    };
    for (const TCase& c : cases) {
        CodedBackground(3, 2);
        Bg()->SetPixelFast(1, 0, 0x20406080u); // alpha moves with the pixel
        const std::vector<TColor32> before = Pixels(*Bg());
        ASSERT_TRUE(Enabled(c.Command)) << c.Command;
        Form->ModifiedState = msSaved;
        Run(c.Command);
        // Every turn and flip leaves the document to be saved.
        EXPECT_EQ(Form->ModifiedState, msChanged) << c.Command;
        ASSERT_EQ(Bg()->Width(), c.W) << c.Command;
        ASSERT_EQ(Bg()->Height(), c.H) << c.Command;
        EXPECT_EQ(Bg()->GetPixelFast(c.To.X, c.To.Y), Code(c.From.X, c.From.Y)) << c.Command;
        Form->N17Click();
        EXPECT_EQ(Bg()->Width(), 3) << c.Command;
        EXPECT_EQ(Pixels(*Bg()), before) << c.Command;
    }
}

TEST_F(GeometryCommandsTest, EveryCommandComesOnWithItsWindow)
{
    CodedBackground(20, 10);
    for (const char* n : {"Maskos", "N903", "N1801", "N106", "N105", "N122", "N123", "N37", "N11", "N124"})
        EXPECT_TRUE(Enabled(n)) << n;
    CodedLayer(4, 4, {0, 0, 4, 4});
    for (const char* n : {"N13", "N107", "N7", "N69", "N54", "N42"})
        EXPECT_TRUE(Enabled(n)) << n;
    Form->Povor = nullptr;
    Form->Rasm = nullptr;
    Form->ProGeomo = nullptr;
    Form->UpdateCommandEnabling();
    for (const char* n : {"N13", "N37", "N124"})
        EXPECT_FALSE(Enabled(n)) << n;
}

TEST_F(GeometryCommandsTest, NewFrameThroughTheFrameDialogGrowsTheCanvas)
{
    Form->NewBackground(680, 340, 0xFF336699);
    Form->UpdateCommandEnabling();
    TFormScript script(std::function<TModalResult(TBorder&)>([](TBorder& B) {
        EXPECT_FALSE(B.ForLay->isEnabled()); // no layer selected
        B.Image1->Bitmap()->SetSize(20, 10); // the data folder is empty: a frame of our own
        B.Image1->Bitmap()->ClearTo(clWhite32);
        return mrOk;
    }));
    Run("N42");
    EXPECT_EQ(script.Shown, 1);
    EXPECT_EQ(Bg()->Width(), 880);
    EXPECT_EQ(Bg()->Height(), 440);
}

TEST_F(GeometryCommandsTest, NewFrameOpensTheTexturePickerModallyAndItCloses)
{
    Form->NewBackground(40, 30, 0xFF336699);
    Form->UpdateCommandEnabling();
    const std::vector<TColor32> before = Pixels(*Bg());
    std::vector<std::string> asked;
    TTextur* picker = nullptr;
    TDialogAnswerer previous = SetDialogAnswerer([&](const TDialogRequest& R) {
        TDialogAnswer a;
        asked.push_back(R.FormName);
        if (auto* B = dynamic_cast<TBorder*>(R.Form)) {
            B->Image1Click(); // OK in the picker
            B->Image1Click(); // Cancel (Escape and the title bar press it) in the picker
            return a;         // the frame window cancelled
        }
        if (auto* T = dynamic_cast<TTextur*>(R.Form)) {
            picker = T;
            a.Result = asked.size() == 2 ? mrOk : mrCancel;
        }
        return a;
    });
    Run("N42");
    SetDialogAnswerer(previous);
    EXPECT_EQ(asked, (std::vector<std::string>{"TBorder", "TTextur", "TTextur"}));
    ASSERT_NE(picker, nullptr);
    EXPECT_FALSE(picker->isVisible());
    EXPECT_EQ(Pixels(*Bg()), before);
}

TEST_F(GeometryCommandsTest, ImageSizeFieldsFollowAndTheLayersMoveWithThePicture)
{
    Form->NewBackground(640, 480, 0xFF336699);
    TBitmapLayer* L = CodedLayer(10, 10, {5, 15, 105, 65}); // selected: the frame goes with it
    ASSERT_NE(Form->RBLayer(), nullptr);
    TFormScript script(std::function<TModalResult(TRasm&)>([](TRasm& R) {
        EXPECT_EQ(R.UpDown3->value(), 1200);
        R.UpDown1->setValue(320);
        EXPECT_EQ(R.UpDown2->value(), 240);
        EXPECT_EQ(R.UpDown3->value(), 300);
        R.UpDown1->setValue(100);
        R.UpDown3->setValue(300);
        EXPECT_EQ(R.UpDown1->value(), 320);
        EXPECT_EQ(R.UpDown2->value(), 240);
        R.Resample->setCurrentIndex(1);
        return mrOk;
    }));
    Run("N37");
    ASSERT_EQ(Bg()->Width(), 320);
    ASSERT_EQ(Bg()->Height(), 240);
    EXPECT_TRUE(test::SameRect(L->Placement(), TSingleRect{2, 8, 52, 32}));
    ASSERT_EQ(Form->RBLayer()->Target(), L);
    EXPECT_TRUE(test::SameRect(Form->RBLayer()->Placement(), TSingleRect{2, 8, 52, 32}));
    EXPECT_EQ(Form->StatusText(1), "320x240");
    Form->N17Click();
    EXPECT_EQ(Bg()->Width(), 640);
    // Undo scales the placements back (rounded again), the frame with its layer.
    EXPECT_TRUE(test::SameRect(L->Placement(), TSingleRect{4, 16, 104, 64}));
    EXPECT_TRUE(test::SameRect(Form->RBLayer()->Placement(), TSingleRect{4, 16, 104, 64}));

    // Unequal factors: half the width, the height kept; each axis of a placement follows
    // its own factor.
    TFormScript unequal(std::function<TModalResult(TRasm&)>([](TRasm& R) {
        R.Prop->setChecked(false);
        R.UpDown1->setValue(320);
        R.UpDown2->setValue(480);
        return mrOk;
    }));
    Run("N37");
    ASSERT_EQ(Bg()->Width(), 320);
    ASSERT_EQ(Bg()->Height(), 480);
    EXPECT_TRUE(test::SameRect(L->Placement(), TSingleRect{2, 16, 52, 64}));
    EXPECT_TRUE(test::SameRect(Form->RBLayer()->Placement(), TSingleRect{2, 16, 52, 64}));
}

// A picture beyond the fields' range (from a file, or borders added to a 10000-wide one)
// keeps its size when OK is pressed on fields left as they opened; a size asked for
// otherwise is made, or refused before any undo copy.
TEST_F(GeometryCommandsTest, UntouchedSizeDialogsKeepAPictureBeyondTheirRange)
{
    struct TCase {
        const char* Command;
        int32_t W, H;
    };
    for (const TCase& c : {TCase{"N37", 12000, 900}, TCase{"N11", 12000, 900}, TCase{"N124", 12000, 900},
                           TCase{"N37", 900, 12000}, TCase{"N11", 640, 480}, TCase{"N124", 1000, 1000}}) {
        SCOPED_TRACE(std::string(c.Command) + " " + std::to_string(c.W) + "x" + std::to_string(c.H));
        Form->NewBackground(c.W, c.H, clBlack32);
        for (int32_t y = 0; y < c.H; y += 7)
            for (int32_t x = 0; x < c.W; x += 5)
                Bg()->SetPixelFast(x, y, Code(x, y));
        Form->UpdateCommandEnabling();
        const std::vector<TColor32> before = Pixels(*Bg());
        Form->ResetUndo();
        TDialogAnswerer previous = SetDialogAnswerer([](const TDialogRequest& R) {
            TDialogAnswer a;
            a.Result = R.Kind == dkModalForm ? mrOk : R.DefaultResult;
            return a;
        });
        Run(c.Command);
        SetDialogAnswerer(previous);
        ASSERT_EQ(Bg()->Width(), c.W);
        ASSERT_EQ(Bg()->Height(), c.H);
        EXPECT_TRUE(Pixels(*Bg()) == before);
    }

    // A field edited and set back (or committed unchanged, as Return does) is untouched.
    Form->NewBackground(12000, 900, clBlack32);
    for (const char* command : {"N37", "N11"}) {
        auto back = [](QSpinBox* Width, QSpinBox* Height) {
            Width->setValue(6000);
            EXPECT_EQ(Height->value(), 450);
            Width->setValue(10000);
            EXPECT_EQ(Height->value(), 900);
            return mrOk;
        };
        if (std::string(command) == "N37") {
            TFormScript script(
                std::function<TModalResult(TRasm&)>([&](TRasm& R) { return back(R.UpDown1, R.UpDown2); }));
            Run(command);
        } else {
            TFormScript script(
                std::function<TModalResult(THolst&)>([&](THolst& H) { return back(H.UpDown1, H.UpDown2); }));
            Run(command);
        }
        EXPECT_EQ(Bg()->Width(), 12000);
        EXPECT_EQ(Bg()->Height(), 900);
    }

    // A size the fields ask for is still made.
    Form->NewBackground(12000, 900, clBlack32);
    {
        TFormScript script(std::function<TModalResult(TRasm&)>([](TRasm& R) {
            EXPECT_EQ(R.UpDown1->value(), 10000);
            R.UpDown1->setValue(6000);
            return mrOk;
        }));
        Run("N37");
    }
    EXPECT_EQ(Bg()->Width(), 6000);
    EXPECT_EQ(Bg()->Height(), 450);

    // Keys that change a field's text are a choice, even when the text ends at what the
    // field showed: 10000 typed over the 10000 shown makes the picture 10000 wide, the
    // height following the ratio (10000 / (12000 / 900) = 750). So does a step of the
    // arrow keys down and up again.
    for (const char* command : {"N37", "N11"}) {
        for (bool arrows : {false, true}) {
            SCOPED_TRACE(std::string(command) + (arrows ? " arrows" : " typed"));
            Form->NewBackground(12000, 900, clBlack32);
            auto act = [arrows](QSpinBox* Width, QSpinBox* Height) {
                EXPECT_EQ(Width->value(), 10000);
                if (arrows) {
                    PressKeys(Width, {Qt::Key_Down, Qt::Key_Up});
                } else {
                    Width->selectAll();
                    TypeText(Width, "10000");
                }
                EXPECT_EQ(Width->value(), 10000);
                EXPECT_EQ(Height->value(), 750);
                return mrOk;
            };
            if (std::string(command) == "N37") {
                TFormScript script(
                    std::function<TModalResult(TRasm&)>([&](TRasm& R) { return act(R.UpDown1, R.UpDown2); }));
                Run(command);
            } else {
                TFormScript script(
                    std::function<TModalResult(THolst&)>([&](THolst& H) { return act(H.UpDown1, H.UpDown2); }));
                Run(command);
            }
            EXPECT_EQ(Bg()->Width(), 10000);
            EXPECT_EQ(Bg()->Height(), 750);
        }
    }
    // With the proportion free, typing the shown width leaves both fields as shown, and
    // still they are the choice: 10000 x 900.
    Form->NewBackground(12000, 900, clBlack32);
    {
        TFormScript script(std::function<TModalResult(TRasm&)>([](TRasm& R) {
            R.Prop->setChecked(false);
            R.UpDown1->selectAll();
            TypeText(R.UpDown1, "10000");
            EXPECT_EQ(R.UpDown2->value(), 900);
            return mrOk;
        }));
        Run("N37");
    }
    EXPECT_EQ(Bg()->Width(), 10000);
    EXPECT_EQ(Bg()->Height(), 900);
    // Return alone changes no text: the picture keeps its size.
    Form->NewBackground(12000, 900, clBlack32);
    {
        TFormScript script(std::function<TModalResult(TRasm&)>([](TRasm& R) {
            PressKeys(R.UpDown1, {Qt::Key_Return});
            return mrOk;
        }));
        Run("N37");
    }
    EXPECT_EQ(Bg()->Width(), 12000);
}

TEST_F(GeometryCommandsTest, CanvasSizeTypedAndDrawn)
{
    CodedBackground(640, 480);
    {
        TFormScript script(std::function<TModalResult(THolst&)>([](THolst& H) {
            H.Panel2->SetColor(TColor(0x332211));
            H.UpDown1->setValue(800);
            EXPECT_EQ(H.UpDown2->value(), 600);
            return mrOk;
        }));
        Run("N11");
    }
    ASSERT_EQ(Bg()->Width(), 800);
    EXPECT_EQ(Bg()->GetPixelFast(80, 60), Code(0, 0));
    EXPECT_EQ(Bg()->GetPixelFast(79, 59), 0xFF112233u);
    EXPECT_EQ(Form->StatusText(1), "800x600");

    // "Crop Visual", shown in its laid-out dialog, can be seen and clicked: a rectangle
    // drawn on the fitted preview (scale 640 / 290, the picture 21 pixels down) becomes
    // the canvas.
    CodedBackground(640, 480);
    {
        TFormScript script(std::function<TModalResult(THolst&)>([](THolst& H) {
            H.show();
            QApplication::processEvents();
            EXPECT_TRUE(H.LbButton1->isVisible());
            EXPECT_GE(H.LbButton1->width(), 100);
            EXPECT_GE(H.LbButton1->height(), 23);
            const QPointF centre(H.LbButton1->width() / 2.0, H.LbButton1->height() / 2.0);
            for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
                QMouseEvent e(type, centre, H.LbButton1->mapToGlobal(centre), Qt::LeftButton,
                              type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
                QApplication::sendEvent(H.LbButton1, &e);
            }
            EXPECT_TRUE(H.Image321->isVisible()); // the click opened the preview
            EXPECT_FALSE(H.LbButton1->isEnabled());
            H.hide();
            H.Image321MouseDown(10, 31);
            H.Image321MouseMove(100, 121);
            H.Image321MouseUp();
            H.Button3Click();
            EXPECT_EQ(H.CropRect(), (TRect{22, 22, 221, 221}));
            EXPECT_EQ(H.UpDown1->value(), 199);
            return mrOk;
        }));
        Run("N11");
    }
    ASSERT_EQ(Bg()->Width(), 199);
    ASSERT_EQ(Bg()->Height(), 199);
    EXPECT_EQ(Bg()->GetPixelFast(0, 0), Code(22, 22));

    // A drawn rectangle whose size is then set back to the picture's: nothing more.
    CodedBackground(640, 480);
    {
        const std::vector<TColor32> before = Pixels(*Bg());
        TFormScript script(std::function<TModalResult(THolst&)>([](THolst& H) {
            H.LbButton1Click();
            H.Image321MouseDown(10, 31);
            H.Image321MouseMove(100, 121);
            H.Button3Click();
            H.UpDown1->setValue(640);
            EXPECT_EQ(H.UpDown2->value(), 480);
            return mrOk;
        }));
        Run("N11");
        ASSERT_EQ(Bg()->Width(), 640);
        EXPECT_TRUE(Pixels(*Bg()) == before);
    }

    // A rectangle wholly above the picture is refused before any undo copy.
    CodedBackground(640, 480);
    Form->ResetUndo();
    {
        TFormScript script(std::function<TModalResult(THolst&)>([](THolst& H) {
            H.LbButton1Click();
            H.Image321MouseDown(10, 0);
            H.Image321MouseMove(100, 10);
            H.Button3Click();
            return mrOk;
        }));
        Run("N11");
        EXPECT_EQ(script.Messages.size(), 1u);
    }
    EXPECT_EQ(Bg()->Width(), 640);
    EXPECT_TRUE(Form->UndoSlot.Empty());
}

TEST_F(GeometryCommandsTest, CanvasSizeReopensNarrowAfterCropVisual)
{
    // Each opening lays the dialog out afresh: the width the preview took is given back,
    // so the fields and "Crop Visual" keep their first size.
    CodedBackground(640, 480);
    struct TLook {
        QSize Dialog, Button, Field;
    };
    auto look = [](THolst& H) {
        H.show();
        QApplication::processEvents();
        return TLook{H.size(), H.LbButton1->size(), H.UpDown1->size()};
    };
    TLook first, wide, again;
    for (int opening = 0; opening < 3; ++opening) {
        TFormScript script(std::function<TModalResult(THolst&)>([&](THolst& H) {
            TLook now = look(H);
            if (opening == 0)
                first = now;
            else if (opening == 2)
                again = now;
            if (opening == 1) {
                H.LbButton1Click();
                wide = look(H);
            }
            H.hide();
            return mrCancel;
        }));
        Run("N11");
    }
    EXPECT_GT(wide.Dialog.width(), first.Dialog.width()); // the preview did widen it
    EXPECT_EQ(again.Dialog, first.Dialog);
    EXPECT_EQ(again.Button, first.Button);
    EXPECT_EQ(again.Field, first.Field);
}

TEST_F(GeometryCommandsTest, CropLayerIntersectsWithTheBitmap)
{
    CodedBackground(300, 200);
    TBitmapLayer* L = CodedLayer(100, 50, {0, 0, 200, 100});
    auto crop = [&](TSingleRect R) {
        TFormScript script(std::function<TModalResult(TCropLa&)>([R](TCropLa& C) {
            C.CropLayer()->SetPlacement(R);
            return mrOk;
        }));
        Run("N54");
        return script.Messages.size();
    };
    EXPECT_EQ(crop({500, 500, 600, 600}), 1u); // wholly outside: refused
    EXPECT_EQ(L->Bitmap()->Width(), 100);
    EXPECT_EQ(crop({10, 10, 50, 40}), 0u);
    ASSERT_EQ(L->Bitmap()->Width(), 40);
    ASSERT_EQ(L->Bitmap()->Height(), 30);
    EXPECT_EQ(L->Bitmap()->GetPixelFast(0, 0), Code(10, 10));
    EXPECT_TRUE(test::SameRect(L->Placement(), TSingleRect{0, 0, 80, 60}));
    EXPECT_EQ(Form->UndoSlot.CropX, 10);
    EXPECT_EQ(Form->UndoSlot.CropY, 10);
    EXPECT_EQ(crop({-5, -5, 20, 20}), 0u);
    EXPECT_EQ(L->Bitmap()->Width(), 20);
}

TEST_F(GeometryCommandsTest, RotatePreviewCancelRestoresAndOkTurns)
{
    CodedBackground(300, 200);
    TBitmapLayer* L = CodedLayer(100, 50, {10, 20, 110, 70});
    L->Bitmap()->SetPixelFast(0, 0, 0x00123456u); // a transparent pixel keeps its colour
    const std::vector<TColor32> before = Pixels(*L->Bitmap());
    {
        TFormScript script(std::function<TModalResult(TPovor&)>([](TPovor& P) {
            P.Edit1->setText("400");
            P.Edit1Change();
            P.Edit1->setText("-"); // a negative angle being typed
            P.Edit1Change();
            P.Edit1->setText("30");
            P.Edit1Change();
            EXPECT_EQ(P.Angle->value(), 30);
            P.Edit1->setText("x");
            EXPECT_THROW(P.Edit1Change(), EConvertError);
            P.Edit1->setText("30");
            P.Button3Click();
            return mrCancel;
        }));
        Run("N13");
        ASSERT_EQ(script.Messages.size(), 1u);
        EXPECT_EQ(script.Messages[0], "Значения могут лежать в диапазоне от -180 до 180 градусов.");
    }
    EXPECT_EQ(Pixels(*L->Bitmap()), before);
    EXPECT_TRUE(test::SameRect(L->Placement(), TSingleRect{10, 20, 110, 70}));

    // OK turns by what the edit shows, never by a gauge the edit has left behind; an
    // edit that holds no angle keeps the layer and the dialog.
    {
        TFormScript script(std::function<TModalResult(TPovor&)>([](TPovor& P) {
            P.Edit1->setText("200");
            P.Edit1Change(); // refused: the gauge stays at 0
            return mrOk;
        }));
        Run("N13");
        EXPECT_EQ(script.Messages.size(), 2u);
    }
    EXPECT_EQ(Pixels(*L->Bitmap()), before);
    EXPECT_TRUE(test::SameRect(L->Placement(), TSingleRect{10, 20, 110, 70}));

    // Quarter turns move every pixel exactly, alpha included, as the background's turns
    // do: the edit's angle wins over the gauge's.
    struct TTurn {
        const char* Angle;
        int32_t W, H;
        std::function<TPoint(int32_t, int32_t)> From; // the source of result pixel (X, Y)
    };
    const TTurn turns[] = {
        {"90", 50, 100,
         [](int32_t X, int32_t Y) {
             return TPoint{Y, 49 - X};
         }},
        {"-90", 50, 100,
         [](int32_t X, int32_t Y) {
             return TPoint{99 - Y, X};
         }},
        {"180", 100, 50,
         [](int32_t X, int32_t Y) {
             return TPoint{99 - X, 49 - Y};
         }},
        {"-180", 100, 50,
         [](int32_t X, int32_t Y) {
             return TPoint{99 - X, 49 - Y};
         }},
    };
    for (const TTurn& t : turns) {
        SCOPED_TRACE(t.Angle);
        TFormScript script(std::function<TModalResult(TPovor&)>([&t](TPovor& P) {
            P.Angle->setValue(45);
            P.Edit1->setText(t.Angle);
            P.Inter->setChecked(true);
            return mrOk;
        }));
        Run("N13");
        ASSERT_EQ(L->Bitmap()->Width(), t.W);
        ASSERT_EQ(L->Bitmap()->Height(), t.H);
        EXPECT_TRUE(test::SameRect(L->Placement(), TSingleRect{10, 20, float(10 + t.W), float(20 + t.H)}));
        int32_t wrong = 0;
        for (int32_t y = 0; y < t.H; ++y)
            for (int32_t x = 0; x < t.W; ++x) {
                const TPoint f = t.From(x, y);
                wrong += L->Bitmap()->GetPixelFast(x, y) != before[size_t(f.Y) * 100 + f.X];
            }
        EXPECT_EQ(wrong, 0);
        Form->N17Click();
        EXPECT_EQ(Pixels(*L->Bitmap()), before);
    }

    // A layer shown at half its width and twice its height is brought to that size first.
    L->SetPlacement(TSingleRect{10, 20, 60, 120});
    {
        TFormScript script(std::function<TModalResult(TPovor&)>([](TPovor& P) {
            P.Edit1->setText("90");
            return mrOk;
        }));
        Run("N13");
    }
    EXPECT_EQ(L->Bitmap()->Width(), 100);
    EXPECT_EQ(L->Bitmap()->Height(), 50);
    EXPECT_TRUE(test::SameRect(L->Placement(), TSingleRect{10, 20, 110, 70}));
}

TEST_F(GeometryCommandsTest, ReliefAndBordersPreviewOrApply)
{
    Form->NewBackground(200, 200, clBlack32);
    Form->UpdateCommandEnabling();
    {
        // Preview, then the title bar: the background comes back exactly.
        TFormScript script(std::function<TModalResult(TRaiser&)>([](TRaiser& R) {
            R.Draw();
            return mrCancel;
        }));
        Run("N123");
    }
    EXPECT_EQ(Bg()->GetPixelFast(0, 0), clBlack32);
    {
        TFormScript script(std::function<TModalResult(TRaiser&)>([](TRaiser&) { return mrOk; }));
        Run("N123");
    }
    EXPECT_EQ(Bg()->GetPixelFast(0, 0), 0xCAB2B2B2u);
    EXPECT_EQ(Bg()->GetPixelFast(5, 5), clBlack32);

    CodedBackground(100, 50);
    {
        TFormScript script(std::function<TModalResult(TSbor&)>([](TSbor& S) {
            // Typing "20" passes through "2": the inner width (3) is limited to 1 only
            // while the outer width is 2, and comes back when the limit rises again.
            EXPECT_EQ(S.Cont->value(), 3);
            S.Wd->setValue(2);
            EXPECT_EQ(S.Cont->value(), 1);
            S.Wd->setValue(20);
            EXPECT_EQ(S.Cont->value(), 3);
            S.Cont->setValue(2); // a width the user chose is kept as chosen
            S.Wd->setValue(1);
            S.Wd->setValue(20);
            EXPECT_EQ(S.Cont->value(), 2);
            S.Cont->setValue(3);
            S.Button3Click(); // a preview, undone by OK's own restore
            return mrOk;
        }));
        Run("N122");
    }
    ASSERT_EQ(Bg()->Width(), 140);
    EXPECT_EQ(Bg()->GetPixelFast(0, 0), 0xFF0054E3u);
    EXPECT_EQ(Bg()->GetPixelFast(20, 20), Code(0, 0));
    EXPECT_EQ(Form->StatusText(1), "140x90");

    // On a layer the placement grows by the border; Cancel (after a preview or not) and
    // Undo give back the pixels, the alpha, and the layer's own blending, so a
    // transparent layer never turns opaque.
    TBitmapLayer* L = CodedLayer(100, 50, {10, 10, 110, 60});
    L->Bitmap()->SetPixelFast(0, 0, 0x00FF00FFu);
    L->Bitmap()->SetMasterAlpha(128);
    const std::vector<TColor32> before = Pixels(*L->Bitmap());
    const auto expectAsBefore = [&](const char* Road) {
        L = dynamic_cast<TBitmapLayer*>(Form->Selection());
        ASSERT_NE(L, nullptr) << Road;
        EXPECT_EQ(Pixels(*L->Bitmap()), before) << Road;
        EXPECT_EQ(L->Bitmap()->DrawMode(), dmBlend) << Road;
        EXPECT_EQ(L->Bitmap()->MasterAlpha(), 128u) << Road;
        EXPECT_TRUE(test::SameRect(L->Placement(), TSingleRect{10, 10, 110, 60})) << Road;
    };
    for (const bool preview : {false, true}) {
        TFormScript script(std::function<TModalResult(TSbor&)>([preview](TSbor& S) {
            if (preview)
                S.Button3Click();
            return mrCancel;
        }));
        Run("N107");
        expectAsBefore(preview ? "preview, cancel" : "cancel");
    }
    {
        TFormScript script(std::function<TModalResult(TSbor&)>([](TSbor& S) {
            S.Button3Click();
            return mrOk;
        }));
        Run("N107");
    }
    EXPECT_EQ(L->Bitmap()->Width(), 140);
    EXPECT_TRUE(test::SameRect(L->Placement(), TSingleRect{10, 10, 150, 100}));
    EXPECT_EQ(L->Bitmap()->DrawMode(), dmBlend);
    EXPECT_EQ(L->Bitmap()->MasterAlpha(), 128u);
    Form->N17Click();
    expectAsBefore("OK, undo");
}

TEST_F(GeometryCommandsTest, ReliefOnALayerRestoresExactlyAndKeepsItsAlpha)
{
    CodedBackground(60, 60);
    TBitmapLayer* L = CodedLayer(40, 40, {0, 0, 40, 40});
    L->Bitmap()->SetPixelFast(0, 0, 0x00FF00FFu);   // transparent, with a colour
    L->Bitmap()->SetPixelFast(20, 20, 0x80FFFFFFu); // half transparent
    const std::vector<TColor32> before = Pixels(*L->Bitmap());
    {
        TFormScript script(std::function<TModalResult(TRaiser&)>([](TRaiser& R) {
            R.Draw();
            R.Draw(); // a second preview starts again from the kept pixels
            return mrCancel;
        }));
        Run("N7");
    }
    EXPECT_EQ(Pixels(*L->Bitmap()), before);
    {
        // The side panel's opacity, away from its default, becomes the layer's.
        Form->SetLayerOpacityPosition(100);
        TFormScript script(std::function<TModalResult(TRaiser&)>([](TRaiser&) { return mrOk; }));
        Run("N7");
    }
    EXPECT_NE(L->Bitmap()->GetPixelFast(1, 1), before[1 * 40 + 1]); // ring 1 is drawn
    for (int32_t i = 0; i < 40 * 40; ++i)
        ASSERT_EQ(L->Bitmap()->Bits()[i] >> 24, before[size_t(i)] >> 24) << i; // alpha given back
    EXPECT_EQ(L->Bitmap()->MasterAlpha(), 100u);
    Form->N17Click();
    EXPECT_EQ(Pixels(*L->Bitmap()), before);
}

TEST_F(GeometryCommandsTest, MaskWithoutAFileChangesNothingAndEmptiesTheBackup)
{
    CodedBackground(30, 20);
    TBitmapLayer* L = CodedLayer(10, 10, {0, 0, 10, 10});
    const std::vector<TColor32> before = Pixels(*L->Bitmap());
    TFormScript script(std::function<TModalResult(TMaski&)>([this](TMaski& M) {
        EXPECT_FALSE(Form->PreviewBackup()->IsEmpty());
        M.Button3Click(); // nothing selected: nothing happens
        return mrOk;
    }));
    Run("N69");
    EXPECT_EQ(script.Shown, 1);
    EXPECT_EQ(Pixels(*L->Bitmap()), before);
    EXPECT_TRUE(Form->PreviewBackup()->IsEmpty());
}

TEST_F(GeometryCommandsTest, MaskCancelLeavesTheDocumentAsItWasFound)
{
    // Cancel, after a preview or without one, gives back the pixels and the change
    // state: a saved document asks no save question afterwards.
    kvtest::TTempFolder F;
    {
        TBitmap M;
        M.SetPixelFormat(pf24bit);
        M.SetSize(4, 4);
        for (int32_t y = 0; y < 4; ++y)
            for (int32_t x = 0; x < 4; ++x)
                M.SetPixelColor(x, y, RGB(128, 128, 128));
        M.SaveToFile(F.File("grey.bmp"));
    }
    CodedBackground(30, 20);
    TBitmapLayer* L = CodedLayer(10, 10, {0, 0, 10, 10});
    const std::vector<TColor32> before = Pixels(*L->Bitmap());
    for (int previews : {0, 1}) {
        SCOPED_TRACE(previews);
        Form->ModifiedState = msSaved;
        TFormScript script(std::function<TModalResult(TMaski&)>([&](TMaski& M) {
            M.SetFolder(F.Path());
            (void)M.View->grab();
            kvtest::Pump();
            M.View->SetSelectedFile(F.File("grey.bmp"));
            for (int i = 0; i < previews; ++i)
                M.Button3Click();
            EXPECT_EQ(L->Bitmap()->GetPixelFast(0, 0) >> 24, previews ? 128u : 255u);
            return mrCancel;
        }));
        Run("N69");
        EXPECT_EQ(script.Shown, 1);
        EXPECT_EQ(Pixels(*L->Bitmap()), before);
        EXPECT_EQ(Form->ModifiedState, msSaved);
    }
    // OK does change the document.
    TFormScript script(std::function<TModalResult(TMaski&)>([&](TMaski& M) {
        M.SetFolder(F.Path());
        (void)M.View->grab();
        kvtest::Pump();
        M.View->SetSelectedFile(F.File("grey.bmp"));
        return mrOk;
    }));
    Run("N69");
    EXPECT_EQ(L->Bitmap()->GetPixelFast(0, 0) >> 24, 128u);
    EXPECT_EQ(Form->ModifiedState, msChanged);
}

TEST_F(GeometryCommandsTest, MaskHidesAndNeverReveals)
{
    // The mask's white half keeps the alpha, its grey (128) half scales it: new alpha =
    // old alpha x mask / 255, rounded to nearest; a transparent pixel stays transparent.
    kvtest::TTempFolder F;
    {
        TBitmap M;
        M.SetPixelFormat(pf24bit);
        M.SetSize(10, 10);
        for (int32_t y = 0; y < 10; ++y)
            for (int32_t x = 0; x < 10; ++x)
                M.SetPixelColor(x, y, x < 5 ? RGB(255, 255, 255) : RGB(128, 128, 128));
        M.SaveToFile(F.File("half.bmp"));
    }
    CodedBackground(30, 20);
    TBitmapLayer* L = CodedLayer(10, 10, {0, 0, 10, 10});
    struct TCase {
        int32_t X, Y;
        uint32_t Alpha, Masked;
    };
    const TCase cases[] = {{0, 0, 0, 0},     {7, 0, 0, 0}, {1, 1, 77, 77}, {7, 1, 200, 100},
                           {7, 2, 255, 128}, {8, 3, 1, 1}, {8, 4, 2, 1}};
    for (const TCase& c : cases)
        L->Bitmap()->SetPixelFast(c.X, c.Y, (L->Bitmap()->GetPixelFast(c.X, c.Y) & 0x00FFFFFFu) | (c.Alpha << 24));
    const std::vector<TColor32> before = Pixels(*L->Bitmap());
    TFormScript script(std::function<TModalResult(TMaski&)>([&](TMaski& M) {
        M.SetFolder(F.Path());
        (void)M.View->grab();
        kvtest::Pump();
        M.View->SetSelectedFile(F.File("half.bmp"));
        M.Button3Click();
        M.Button3Click(); // previews never stack; OK is pressed by the answer
        return mrOk;
    }));
    Run("N69");
    for (const TCase& c : cases) {
        const TColor32 p = L->Bitmap()->GetPixelFast(c.X, c.Y);
        EXPECT_EQ(p >> 24, c.Masked) << c.X << "," << c.Y;
        EXPECT_EQ(p & 0x00FFFFFFu, before[size_t(c.Y * 10 + c.X)] & 0x00FFFFFFu) << c.X << "," << c.Y;
    }
    Form->N17Click();
    EXPECT_EQ(Pixels(*L->Bitmap()), before);
}

TEST_F(GeometryCommandsTest, FourCornerGeometryAtFullSize)
{
    Form->NewBackground(1000, 1000, 0xFF808080);
    Form->UpdateCommandEnabling();
    {
        TFormScript script(std::function<TModalResult(TProGeomo&)>([](TProGeomo& G) {
            EXPECT_EQ(G.Src->Bitmap()->Width(), 500);
            EXPECT_TRUE(G.DashTimer().Enabled());
            EXPECT_EQ(G.Dst->Bitmap()->GetPixelFast(520, 520), 0xFF7F7F7Fu); // the checkerboard
            EXPECT_EQ(G.Dst->Bitmap()->GetPixelFast(528, 512), 0xFFFFFFFFu);
            G.RubberLayerMouseDown(2, 0); // 2 pixels from corner 0: that corner
            EXPECT_EQ(G.Dragged(), 0);
            G.RubberLayerMouseMove(102, 0);
            G.RubberLayerMouseUp();
            G.RubberLayerMouseDown(499, 0);
            G.RubberLayerMouseMove(399, 0);
            G.RubberLayerMouseUp();
            G.RubberLayerMouseDown(250, 253); // away from every corner: all four
            EXPECT_EQ(G.Dragged(), 4);
            G.RubberLayerMouseUp();
            return mrOk;
        }));
        Run("N124");
    }
    EXPECT_FALSE(Form->ProGeomo->DashTimer().Enabled());
    ASSERT_EQ(Bg()->Width(), 998);
    ASSERT_EQ(Bg()->Height(), 998);
    EXPECT_EQ(Bg()->GetPixelFast(0, 0), clWhite32); // the swatch outside the quad
    EXPECT_EQ(Bg()->GetPixelFast(499, 500), 0xFF808080u);

    {
        TFormScript script(std::function<TModalResult(TProGeomo&)>([](TProGeomo& G) {
            const TPoint c1 = G.Corners().P[1], c2 = G.Corners().P[2];
            G.RubberLayerMouseDown(c1.X, c1.Y);
            G.RubberLayerMouseMove(c2.X, c2.Y); // corner 1 onto corner 2
            return mrOk;
        }));
        Run("N124");
        EXPECT_EQ(script.Messages.size(), 1u);
    }
    EXPECT_EQ(Bg()->Width(), 998);

    // On a layer shown at twice its width and half its height: outside the quad the layer
    // becomes transparent white, the placement keeps the layer's own scale, and Undo
    // gives the layer back.
    TBitmapLayer* L = CodedLayer(200, 100, {10, 20, 410, 70});
    const std::vector<TColor32> before = Pixels(*L->Bitmap());
    {
        TFormScript script(std::function<TModalResult(TProGeomo&)>([](TProGeomo& G) {
            const TPoint c0 = G.Corners().P[0];
            G.RubberLayerMouseDown(c0.X, c0.Y);
            G.RubberLayerMouseMove(c0.X + G.Src->Bitmap()->Width() / 2, c0.Y);
            G.RubberLayerMouseUp();
            return mrOk;
        }));
        Run("N124");
    }
    const int32_t W = L->Bitmap()->Width(), H = L->Bitmap()->Height();
    EXPECT_EQ(L->Bitmap()->GetPixelFast(0, 0), 0x00FFFFFFu);
    EXPECT_EQ(L->Bitmap()->GetPixelFast(W * 3 / 4, H / 2) >> 24, 0xFFu);
    EXPECT_EQ(L->Bitmap()->DrawMode(), dmBlend);
    EXPECT_TRUE(test::SameRect(L->Placement(), TSingleRect{10, 20, float(10 + 2 * W), float(20 + H / 2.0)}));
    EXPECT_EQ(Bg()->Width(), 998);
    Form->N17Click();
    EXPECT_EQ(Pixels(*L->Bitmap()), before);
    EXPECT_TRUE(test::SameRect(L->Placement(), TSingleRect{10, 20, 410, 70}));
}
