// The program's entry point: every unit's start-up, the application object, the windows
// in their fixed order (the main window first, so its creation runs before any dialog
// exists), then the message loop until the main window closes.
#include "editor/ApplicationForms.h"
#include "editor/MainUnit.h"
#include "formats/KvGIF.h"
#include "platform/Forms.h"
#include "startup/UnitsStartup.h"

#include <QApplication>
#include <QStringList>

#include <memory>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);

    kv::StartUnits();

    kv::Application()->SetTitle("Kelvane");
    auto mainForm = std::make_unique<kv::TMainForm>();
    QStringList args = app.arguments();
    args.removeFirst();
    for (const QString& a : args)
        mainForm->CommandLine.push_back(a.toStdString());
    kv::SafeCall([&] { mainForm->FormCreate(); }, mainForm.get());
    // The tool windows follow in their fixed order; each lives until the program ends.
    kv::SafeCall([&] { kv::CreateApplicationForms(*mainForm); }, mainForm.get());

    mainForm->show();
    QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit);
    kv::Application()->Run();

    mainForm->FormDestroy();
    mainForm.reset();
    kv::FinalizeKvGIF();
    return 0;
}
