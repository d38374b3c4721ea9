#include "effects/GifTypeUnit.h"

#include "formats/KvGIF.h"
#include "fx/BackFill.h"
#include "raster/Raster32.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

namespace kv {

std::string WithExtension(const std::string& FileName, const std::string& Ext)
{
    if (FileName.size() >= Ext.size() && LowerCase(FileName.substr(FileName.size() - Ext.size())) == LowerCase(Ext))
        return FileName;
    return FileName + Ext;
}

TGifType::TGifType(QWidget* Owner) : TDialogForm("TGifType", Owner)
{
    SetCaption("Save as GIF...");
    SetDialogBorder();
    auto* box = new QGroupBox("Set the number of colors", this);
    auto* bl = new QVBoxLayout(box);
    RadioButton1 = new QRadioButton("2", box);
    RadioButton3 = new QRadioButton("16", box);
    RadioButton2 = new QRadioButton("256", box);
    RadioButton4 = new QRadioButton("Auto", box);
    RadioButton4->setChecked(true);
    for (QRadioButton* r : {RadioButton1, RadioButton3, RadioButton2, RadioButton4})
        bl->addWidget(r);
    Panel1 = new QLabel(this);
    Panel1->setFrameShape(QFrame::Panel);
    Panel1->setFrameShadow(QFrame::Sunken);
    Panel1->setWordWrap(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(AddButton("Save", mrOk, [this] { Button1Click(); }));
    auto* main = new QVBoxLayout(this);
    main->addWidget(box);
    main->addWidget(Panel1);
    main->addLayout(buttons);
}

TGifType::~TGifType() = default;

bool TGifType::Execute(const TBitmap32& FlatImage, const std::string& FileName)
{
    FSource = &FlatImage;
    FFileName = FileName;
    ShowModal();
    FSource = nullptr;
    return FWritten;
}

void TGifType::FormActivate()
{
    FWritten = false;
    FWrittenName.clear();
    FGifBmp = std::make_unique<TBitmap>();
    if (FSource)
        FGifBmp->Assign(const_cast<TBitmap32*>(FSource));
    TBitmap counted;
    counted.Assign(FGifBmp.get());
    counted.SetPixelFormat(pf24bit);
    Panel1->setText(QString::fromStdString(ColorCountMessage(CountColors(counted))));
}

void TGifType::Button1Click()
{
    if (!FGifBmp || FGifBmp->Empty())
        return;
    // 1, 4 and 8 bits go through the platform's palette conversion; 24 bits leave the
    // reduction to the GIF writer.
    TPixelFormat format = RadioButton1->isChecked()   ? pf1bit
                          : RadioButton3->isChecked() ? pf4bit
                          : RadioButton2->isChecked() ? pf8bit
                                                      : pf24bit;
    const std::string name = WithExtension(FFileName, ".gif");
    if (!ConfirmReplace(name)) {
        SetModalResult(mrNone); // No: back to the options, nothing written
        return;
    }
    try {
        FGifBmp->SetPixelFormat(format);
        TGIFImage gif;
        gif.Assign(FGifBmp.get());
        gif.SaveToFile(name);
        FWritten = true;
        FWrittenName = name;
    } catch (const std::exception& e) {
        // The writer's message is shown; the dialog still closes, reporting no file.
        Application()->ShowException(e);
    }
}

void TGifType::FormClose() { FGifBmp.reset(); }

} // namespace kv
