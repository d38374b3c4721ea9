#include "effects/CompressUnit.h"

#include "effects/GifTypeUnit.h"
#include "imaging/ImagingIO.h"
#include "raster/Raster32.h"
#include "raster/Raster32_RangeBars.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

namespace kv {

std::shared_ptr<TImagingIO> CreateImagingIO() { return std::make_shared<TImagingIO>(); }

void SaveJpegFile(TImagingIO& IO, TBitmap& Bitmap, int32_t Quality, const std::string& Name)
{
    Bitmap.SetPixelFormat(pf24bit);
    IO.SetBitmap(&Bitmap);
    struct TDetach {
        TImagingIO& IO;
        ~TDetach() { IO.SetBitmap(nullptr); }
    } detach{IO};
    IO.Params().JpegQuality = Quality;
    IO.SetAborting(false);
    IO.SaveToFileJpeg(Name);
    // The component reports a failed write through its abort flag, not by raising.
    if (IO.Aborting())
        throw EWriteError("Cannot write " + Name);
}

std::string JpegFileName(const std::string& Name)
{
    const std::string lower = LowerCase(Name);
    auto endsWith = [&](const std::string& Ext) {
        return lower.size() >= Ext.size() && lower.compare(lower.size() - Ext.size(), Ext.size(), Ext) == 0;
    };
    return endsWith(".jpg") || endsWith(".jpeg") ? Name : Name + ".jpg";
}

TCompress::TCompress(QWidget* Owner) : TDialogForm("TCompress", Owner)
{
    SetCaption("JPEG Options");
    SetDialogBorder();
    TrackBar1 = new TGaugeBar(this);
    TrackBar1->SetMin(1);
    TrackBar1->SetMax(100);
    TrackBar1->SetPosition(70);
    TrackBar1->setMinimumSize(200, 16);
    UpDown1 = new QSpinBox(this);
    UpDown1->setRange(1, 100);
    UpDown1->setValue(70);
    auto* row = new QHBoxLayout;
    row->addWidget(TrackBar1, 1);
    row->addWidget(UpDown1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(AddButton("Save", mrOk, [this] { Button1Click(); }));
    auto* main = new QVBoxLayout(this);
    main->addWidget(new QLabel("Image Quality (%)", this));
    main->addLayout(row);
    main->addLayout(buttons);
    TrackBar1->OnChange = [this](TObject*) { TrackBar1Change(); };
    connect(UpDown1, &QSpinBox::valueChanged, this, [this] { SafeCall([this] { ImageWidthChange(); }, this); });
}

TCompress::~TCompress() = default;

int32_t TCompress::Quality() const { return TrackBar1->Position(); }

void TCompress::SetQuality(int32_t Value)
{
    UpDown1->setValue(Value);
    ImageWidthChange();
}

void TCompress::TrackBar1Change()
{
    QSignalBlocker block(UpDown1);
    UpDown1->setValue(TrackBar1->Position());
}

void TCompress::ImageWidthChange() { TrackBar1->SetPosition(UpDown1->value()); }

TImagingIO& TCompress::Writer()
{
    if (PARY)
        return *PARY;
    if (!FOwnWriter)
        FOwnWriter = CreateImagingIO();
    return *FOwnWriter;
}

bool TCompress::Execute(const TBitmap32& FlatImage, const std::string& FileName)
{
    FSource = &FlatImage;
    FFileName = FileName;
    ShowModal();
    FSource = nullptr;
    return FWritten;
}

void TCompress::FormActivate()
{
    FWritten = false;
    FWrittenName.clear();
}

void TCompress::Button1Click()
{
    if (!FSource || FSource->IsEmpty())
        return;
    TBitmap picture;
    picture.Assign(const_cast<TBitmap32*>(FSource));
    const std::string name = JpegFileName(FFileName);
    if (!ConfirmReplace(name)) {
        SetModalResult(mrNone); // No: back to the options, nothing written
        return;
    }
    try {
        SaveJpegFile(Writer(), picture, TrackBar1->Position(), name);
        FWritten = true;
        FWrittenName = name;
    } catch (const std::exception& e) {
        // The writer's message is shown; the dialog still closes, reporting no file.
        Application()->ShowException(e);
    }
}

} // namespace kv
