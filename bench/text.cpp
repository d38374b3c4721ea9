// Image > Add Text with the largest texts Load lets through, in the window the entry
// point makes: Load From File of a million letters without a blank (refused), Load of a
// text of 1000 lines of 500 letters (a picture near the text picture's 2^25 pixels), and
// Preview and OK of it with a transparent and with an opaque background. Alone, as no
// library does this job; the peak memory of the process is printed at the end.
#include "editor/ApplicationForms.h"
#include "editor/MainUnit.h"
#include "effects/TexterUnit.h"
#include "platform/Classes.h"
#include "platform/Dialogs.h"
#include "platform/KvShell.h"
#include "startup/UnitsStartup.h"

#include "bench/BenchReporter.h"

#include <benchmark/benchmark.h>

#include <QAction>
#include <QCheckBox>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <sys/resource.h>

using namespace kv;

namespace {

std::filesystem::path Folder() { return std::filesystem::temp_directory_path() / "kelvane_bench_text"; }

std::string LongWord() { return (Folder() / "word.txt").string(); }
std::string Fitting() { return (Folder() / "lines.txt").string(); }

void MakeFiles()
{
    std::filesystem::create_directories(Folder() / "config");
    std::ofstream(LongWord(), std::ios::binary) << std::string(1000000, 'x');
    std::ofstream Lines(Fitting(), std::ios::binary);
    for (int I = 0; I < 1000; ++I)
        Lines << std::string(500, 'x') << "\r\n";
}

TMainForm* Form = nullptr;

// Load From File with the open dialog answered and any refusal acknowledged.
void Load(const std::string& Name)
{
    TDialogAnswerer Previous = SetDialogAnswerer([&Name](const TDialogRequest& R) {
        TDialogAnswer A;
        A.Result = mrOk;
        if (R.Kind == dkOpenFile)
            A.FileName = Name;
        return A;
    });
    Form->Texter->ToolButton6Click();
    SetDialogAnswerer(Previous);
}

void BM_LoadLongWord(benchmark::State& State)
{
    for (auto _ : State)
        Load(LongWord());
}

void BM_LoadFitting(benchmark::State& State)
{
    for (auto _ : State)
        Load(Fitting());
}

// Preview (Button3) or OK (Button1) of the fitting text; each replaces the layer the one
// before made.
void BM_Command(benchmark::State& State, bool Ok, bool Transparent)
{
    Load(Fitting());
    Form->Texter->Alpha->setChecked(Transparent);
    for (auto _ : State) {
        if (Ok)
            Form->Texter->Button1Click();
        else
            Form->Texter->Button3Click();
    }
}

} // namespace

int main(int argc, char** argv)
{
    MakeFiles();
    kvbench::TOffscreenApplication App(argv[0]);
    StartUnits();
    SetConfigDir((Folder() / "config").string());
    SetDataHomeDir((Folder() / "share").string());
    SetDataDir((Folder() / "data").string());
    SetShellOpenHook([](const std::string&) { return true; });
    auto Main = std::make_unique<TMainForm>();
    Main->RefreshDesktopOnAssociation = false;
    Main->FormCreate();
    Main->ImgView->resize(800, 600);
    CreateApplicationForms(*Main);
    Main->NewBackground(640, 480, 0xFF204060);
    Form = Main.get();
    {
        // Add Text shown and closed at once: the count of layers before the text is kept.
        TScriptedAnswers Answers;
        Answers.Then(mrCancel);
        Form->Command("N33")->trigger();
    }
    benchmark::RegisterBenchmark("Load/million-letter word", BM_LoadLongWord)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Load/1000 lines of 500", BM_LoadFitting)->Unit(benchmark::kMillisecond);
    for (bool Transparent : {true, false}) {
        const std::string Kind = Transparent ? "transparent" : "opaque";
        benchmark::RegisterBenchmark(("Preview/" + Kind).c_str(), BM_Command, false, Transparent)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("OK/" + Kind).c_str(), BM_Command, true, Transparent)
            ->Unit(benchmark::kMillisecond);
    }
    const int Result = kvbench::RunBenchmarks(argc, argv, [](const kvbench::TRatioReporter&) {
        rusage Usage{};
        getrusage(RUSAGE_SELF, &Usage);
        std::printf("peak memory of the process: %ld MB (text picture %d x %d)\n", Usage.ru_maxrss / 1024,
                    Form->Texter->Image()->Width(), Form->Texter->Image()->Height());
    });
    Main.reset();
    std::filesystem::remove_all(Folder());
    return Result;
}
