#include "effects/SmallWindows.h"

#include "platform/Controls.h"
#include "platform/Icon.h"
#include "platform/QtBridge.h"
#include "raster/Raster32.h"
#include "raster/Raster32_Image.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QVBoxLayout>

namespace kv {

// ---- TFull ------------------------------------------------------------------------------

TFull::TFull(QWidget* Owner) : TDialogForm("TFull", Owner)
{
    SetCaption("Full");
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::black);
    setPalette(p);
    setAutoFillBackground(true);
    Image321 = new TImage32(this);
    Image321->SetColor(clBlack);
    Image321->SetBitmapAlign(baCenter);
    Image321->SetScaleMode(smResize);
    Image321->Bitmap()->SetStretchFilter(sfLinear);
    auto* l = new QVBoxLayout(this);
    l->setContentsMargins(0, 0, 0, 0);
    l->addWidget(Image321);
    Image321->OnClick = [this](TObject*) { Image321Click(); };
    Image321->OnMouseDown = [this](TObject*, TMouseButton, TShiftState, int32_t, int32_t, TCustomLayer*) {
        Image321Click();
    };
}

TFull::~TFull() = default;

TModalResult TFull::ShowPicture(const TBitmap32& Picture)
{
    Image321->Bitmap()->Assign(const_cast<TBitmap32*>(&Picture));
    Image321->Bitmap()->SetStretchFilter(sfLinear);
    // A hidden frameless dialog made maximised keeps its tiny first size, and X never
    // maps it: the modal loop would then wait on a window nobody can see or close.
    // Give it the screen before it is shown.
    if (QScreen* S = screen())
        setGeometry(S->availableGeometry());
    setWindowState(windowState() | Qt::WindowMaximized);
    return ShowModal();
}

void TFull::Image321Click() { SetModalResult(mrCancel); }

void TFull::keyPressEvent(QKeyEvent* Event)
{
    if (Event->key() == Qt::Key_Escape) {
        SetModalResult(mrCancel);
        return;
    }
    TDialogForm::keyPressEvent(Event);
}

// ---- TSTC -------------------------------------------------------------------------------

TSTC::TSTC(QWidget* Owner) : TDialogForm("TSTC", Owner)
{
    SetCaption("Transparent Color");
    SetStayOnTopTool();
    Panel1 = new TColorPanel(this);
    auto* l = new QVBoxLayout(this);
    l->addWidget(new QLabel("Set transparent color.", this));
    l->addWidget(new QLabel("Use left mouse click in order to apply effect.", this));
    auto* row = new QHBoxLayout;
    row->addWidget(Panel1);
    row->addStretch();
    row->addWidget(AddButton("Close", mrCancel, [this] { Button2Click(); }));
    l->addLayout(row);
}

TSTC::~TSTC() = default;

void TSTC::Button2Click() { Close(); }

void TSTC::FormClose()
{
    if (View)
        View->SetCursor(crDefault);
}

// ---- TAboutKVN --------------------------------------------------------------------------

TAboutKVN::TAboutKVN(QWidget* Owner) : TDialogForm("TAboutKVN", Owner)
{
    SetCaption("About");
    SetDialogBorder();
    Image1 = new QLabel(this);
    Image1->setFixedSize(48, 48);
    Image1->setAlignment(Qt::AlignCenter);
    auto* text = new QVBoxLayout;
    auto* name = new QLabel("Kelvane", this);
    QFont f = name->font();
    f.setBold(true);
    f.setPointSize(f.pointSize() + 4);
    name->setFont(f);
    text->addWidget(name);
    text->addWidget(new QLabel("Version 0.1", this));
    auto* about = new QLabel("A layered picture editor: pictures, text, frames and magnifiers as layers,\n"
                             "adjustments and effects, and saving as BMP, JPEG, GIF or a Kelvane project.",
                             this);
    text->addWidget(about);
    auto* top = new QHBoxLayout;
    top->addWidget(Image1, 0, Qt::AlignTop);
    top->addLayout(text, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(AddButton("OK", mrOk));
    auto* l = new QVBoxLayout(this);
    l->addLayout(top);
    l->addLayout(buttons);
    LoadIcon();
}

TAboutKVN::~TAboutKVN() = default;

void TAboutKVN::LoadIcon()
{
    // A missing or unreadable icon leaves the picture empty; the window is still made,
    // so start-up goes on.
    FHasIcon = false;
    Image1->clear();
    const std::string file = IncludeTrailingPathDelimiter(DataDir()) + "Icon.ico";
    if (!FileExists(file))
        return;
    try {
        TIcon icon;
        icon.LoadFromFile(file);
        if (icon.Empty())
            return;
        QImage image = BitmapToQImage(icon.Image());
        Image1->setPixmap(QPixmap::fromImage(image.scaled(32, 32, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
        FHasIcon = true;
    } catch (const std::exception&) {
    }
}

} // namespace kv
