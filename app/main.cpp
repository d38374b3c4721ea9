// The program's entry point: every unit's start-up, the application object, the windows
// in their fixed order (the main window first, so its creation runs before any dialog
// exists), then the message loop until the main window closes.
#include "editor/MainUnit.h"
#include "effects/BackLaUnit.h"
#include "effects/CompressUnit.h"
#include "effects/GifTypeUnit.h"
#include "effects/NewImageUnit.h"
#include "effects/SmallWindows.h"
#include "effects/TexturUnit.h"
#include "formats/GIFImage.h"
#include "formats/KvGIF.h"
#include "formats/PNGImage.h"
#include "platform/Forms.h"

#include <QApplication>
#include <QStringList>

#include <memory>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);

    // Units' start-up: the editor's GIF codec registers first so that the GIF model,
    // registered after it, wins the registry's lookups by extension.
    kv::InitializeKvGIF();
    kv::GIFImage::RegisterGIFImageClass();
    kv::RegisterPNGImage();

    kv::Application()->SetTitle("Kelvane");
    auto mainForm = std::make_unique<kv::TMainForm>();
    QStringList args = app.arguments();
    args.removeFirst();
    for (const QString& a : args)
        mainForm->CommandLine.push_back(a.toStdString());
    kv::SafeCall([&] { mainForm->FormCreate(); }, mainForm.get());
    // The windows follow in their fixed order; each is owned by the main window and
    // lives until the program ends.
    kv::TMainForm* owner = mainForm.get();
    mainForm->NewImageForm = new kv::TNewImageForm(owner);
    mainForm->GifType = new kv::TGifType(owner);
    mainForm->Compress = new kv::TCompress(owner);
    mainForm->Compress->PARY = mainForm->PARY.get(); // the main window's JPEG writer
    auto* backLa = new kv::TBackLa(owner);
    backLa->MainForm = owner;
    mainForm->Full = new kv::TFull(owner);
    mainForm->AboutKVN = new kv::TAboutKVN(owner);
    auto* stc = new kv::TSTC(owner);
    stc->View = mainForm->ImgView;
    new kv::TTextur(owner);
    mainForm->UpdateCommandEnabling();

    mainForm->show();
    QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit);
    kv::Application()->Run();

    mainForm->FormDestroy();
    mainForm.reset();
    kv::FinalizeKvGIF();
    return 0;
}
