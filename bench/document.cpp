// The document's heavy operations on a 4000 x 3000 background with 10 layers (blended,
// some with master alpha below 255, some scaled), each beside the plain job on the same
// bytes:
//   RenderFlattened            vs one memcpy of the render's 48 MB
//   undo snapshot (background) vs one memcpy of the background, first (both into fresh
//                                 pages) and repeated (both into held memory)
//   project save to a file     vs writing the same bytes through a temporary file renamed
//                                 over the target, as the program saves
//   project load from a file   vs reading the file plus one copy of its bytes, first (both
//                                 into fresh pages) and repeated (both into held memory)
// and, alone, the load of a project of 10,000 and 100,000 magnifiers (1.1 and 10.8 MB)
// into a window made as the program makes it, whose commands' enabling follows every
// change of the document.
// Prints plain / ours for each from the medians, with both times (1.0 would be as fast as
// the bare job; bigger is better).
#include "editor/MainUnit.h"
#include "platform/Classes.h"
#include "platform/KvShell.h"

#include "bench/BenchReporter.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace kv;

using kvbench::RunBenchmarks;
using kvbench::TOffscreenApplication;
using kvbench::TRatioReporter;

namespace {

constexpr int BackW = 4000, BackH = 3000, LayerCount = 10;

struct TScene {
    std::unique_ptr<TMainForm> Form;
    std::string File;
    std::vector<uint8_t> ProjectBytes;
};

TScene& Scene()
{
    static TScene S;
    if (S.Form)
        return S;
    S.Form = std::make_unique<TMainForm>();
    S.Form->ImgView->SetBounds(0, 0, 800, 600);
    S.Form->NewBackground(BackW, BackH, 0xFF000000);
    std::mt19937 Rng(11);
    TBitmap32* Bg = S.Form->ImgView->Bitmap();
    for (int64_t I = 0; I < int64_t(BackW) * BackH; ++I)
        Bg->Bits()[I] = 0xFF000000u | (Rng() & 0xFFFFFF);
    for (int I = 0; I < LayerCount; ++I) {
        auto* L = S.Form->ImgView->Layers()->Add<TBitmapLayer>();
        const int W = 400 + 90 * I, H = 300 + 70 * I;
        L->Bitmap()->SetSize(W, H);
        for (int64_t P = 0; P < int64_t(W) * H; ++P)
            L->Bitmap()->Bits()[P] = (uint32_t(Rng() & 0xFF) << 24) | (Rng() & 0xFFFFFF);
        L->Bitmap()->SetDrawMode(dmBlend);
        L->Bitmap()->SetMasterAlpha(I % 3 == 0 ? 255 : 128 + 10 * I);
        L->Bitmap()->SetStretchFilter(I % 2 ? sfLinear : sfNearest);
        // Every other layer is drawn at 1.5 times its size.
        const float Scale = I % 2 ? 1.5f : 1.0f;
        const float X = 150.0f * I, Y = 120.0f * I;
        L->SetPlacement({X, Y, X + W * Scale, Y + H * Scale});
        L->SetScaleWithView(true);
    }
    S.File = "/tmp/kelvane_bench_document.kvn";
    TMemoryStream M;
    S.Form->SaveProjectToStream(M);
    S.ProjectBytes = M.Bytes();
    return S;
}

void BM_RenderFlattened(benchmark::State& State)
{
    TScene& S = Scene();
    for (auto _ : State) {
        TBitmap32* Flat = S.Form->RenderFlattened();
        benchmark::DoNotOptimize(Flat->Bits());
        S.Form->ReleaseFlatImage();
    }
}
BENCHMARK(BM_RenderFlattened)->Unit(benchmark::kMillisecond);

void BM_RenderFlattened_Memcpy(benchmark::State& State)
{
    TScene& S = Scene();
    TBitmap32 Flat;
    Flat.SetSize(BackW, BackH);
    for (auto _ : State) {
        std::memcpy(Flat.Bits(), S.Form->ImgView->Bitmap()->Bits(), size_t(BackW) * BackH * 4);
        benchmark::DoNotOptimize(Flat.Bits());
    }
}
BENCHMARK(BM_RenderFlattened_Memcpy)->Unit(benchmark::kMillisecond);

// The snapshot in both memory states (see bench/BenchReporter.h): "first", with no
// earlier snapshot and no freed block held, as the first command after an open takes it;
// "repeated", replacing the previous snapshot of the same size. The plain copy goes into
// a block mapped for that run, or one it keeps.
void UndoSnapshot(benchmark::State& State, kvbench::TMemoryState Mem)
{
    TScene& S = Scene();
    S.Form->SetSelection(nullptr);
    S.Form->SaveUndoEffect();
    for (auto _ : State) {
        if (Mem == kvbench::TMemoryState::First) {
            State.PauseTiming();
            S.Form->UndoSlot.Bitmap.reset();
            kvbench::DropHeldMemory();
            State.ResumeTiming();
        }
        S.Form->SaveUndoEffect();
        benchmark::DoNotOptimize(S.Form->UndoSlot.Bitmap->Bits());
    }
}
void BM_UndoSnapshot_first(benchmark::State& S) { UndoSnapshot(S, kvbench::TMemoryState::First); }
void BM_UndoSnapshot_repeated(benchmark::State& S) { UndoSnapshot(S, kvbench::TMemoryState::Repeated); }
BENCHMARK(BM_UndoSnapshot_first)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UndoSnapshot_repeated)->Unit(benchmark::kMillisecond);

void UndoSnapshotMemcpy(benchmark::State& State, kvbench::TMemoryState Mem)
{
    TScene& S = Scene();
    const size_t Bytes = size_t(BackW) * BackH * 4;
    auto Held = std::make_unique<kvbench::TReferenceBlock>(Bytes);
    Held->Warm();
    for (auto _ : State) {
        if (Mem == kvbench::TMemoryState::First) {
            State.PauseTiming();
            Held.reset();
            kvbench::DropHeldMemory();
            State.ResumeTiming();
            Held = std::make_unique<kvbench::TReferenceBlock>(Bytes);
        }
        std::memcpy(Held->Data(), S.Form->ImgView->Bitmap()->Bits(), Bytes);
        benchmark::DoNotOptimize(Held->Data());
    }
}
void BM_UndoSnapshot_first_Memcpy(benchmark::State& S) { UndoSnapshotMemcpy(S, kvbench::TMemoryState::First); }
void BM_UndoSnapshot_repeated_Memcpy(benchmark::State& S) { UndoSnapshotMemcpy(S, kvbench::TMemoryState::Repeated); }
BENCHMARK(BM_UndoSnapshot_first_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UndoSnapshot_repeated_Memcpy)->Unit(benchmark::kMillisecond);

void BM_ProjectSave(benchmark::State& State)
{
    TScene& S = Scene();
    for (auto _ : State)
        S.Form->SaveProject(S.File);
}
BENCHMARK(BM_ProjectSave)->Unit(benchmark::kMillisecond);

void BM_ProjectSave_FileWrite(benchmark::State& State)
{
    TScene& S = Scene();
    for (auto _ : State) {
        TSafeFileStream Out(S.File);
        Out.WriteBuffer(S.ProjectBytes.data(), int64_t(S.ProjectBytes.size()));
        Out.Commit();
    }
}
BENCHMARK(BM_ProjectSave_FileWrite)->Unit(benchmark::kMillisecond);

// The load in both memory states: "first", our block cache emptied and the heap trimmed
// before each load, the plain side reading and copying into blocks mapped for that run;
// "repeated", ours replacing the document's blocks by what its cache holds, the plain
// side into the two buffers it keeps.
void ProjectLoad(benchmark::State& State, kvbench::TMemoryState Mem)
{
    TScene& S = Scene();
    S.Form->SaveProject(S.File);
    for (auto _ : State) {
        if (Mem == kvbench::TMemoryState::First) {
            State.PauseTiming();
            kvbench::DropHeldMemory();
            State.ResumeTiming();
        }
        S.Form->LoadProject(S.File);
    }
}
void BM_ProjectLoad_first(benchmark::State& S) { ProjectLoad(S, kvbench::TMemoryState::First); }
void BM_ProjectLoad_repeated(benchmark::State& S) { ProjectLoad(S, kvbench::TMemoryState::Repeated); }
BENCHMARK(BM_ProjectLoad_first)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProjectLoad_repeated)->Unit(benchmark::kMillisecond);

void ProjectLoadFileRead(benchmark::State& State, kvbench::TMemoryState Mem)
{
    TScene& S = Scene();
    S.Form->SaveProject(S.File);
    const size_t Size = S.ProjectBytes.size();
    auto Read = std::make_unique<kvbench::TReferenceBlock>(Size);
    auto Copy = std::make_unique<kvbench::TReferenceBlock>(Size);
    Read->Warm();
    Copy->Warm();
    for (auto _ : State) {
        if (Mem == kvbench::TMemoryState::First) {
            State.PauseTiming();
            Read.reset();
            Copy.reset();
            kvbench::DropHeldMemory();
            State.ResumeTiming();
            Read = std::make_unique<kvbench::TReferenceBlock>(Size);
            Copy = std::make_unique<kvbench::TReferenceBlock>(Size);
        }
        std::FILE* F = std::fopen(S.File.c_str(), "rb");
        const size_t N = std::fread(Read->Data(), 1, Size, F);
        std::fclose(F);
        // The one copy of the bytes a reader makes, into memory of its own.
        std::memcpy(Copy->Data(), Read->Data(), N);
        benchmark::DoNotOptimize(Copy->Data());
    }
}
void BM_ProjectLoad_first_FileRead(benchmark::State& S) { ProjectLoadFileRead(S, kvbench::TMemoryState::First); }
void BM_ProjectLoad_repeated_FileRead(benchmark::State& S) { ProjectLoadFileRead(S, kvbench::TMemoryState::Repeated); }
BENCHMARK(BM_ProjectLoad_first_FileRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProjectLoad_repeated_FileRead)->Unit(benchmark::kMillisecond);

// The project bytes of a 64 x 64 background under Count magnifiers.
std::vector<uint8_t> MagnifierProject(int Count)
{
    TMainForm Form;
    Form.ImgView->SetBounds(0, 0, 800, 600);
    Form.NewBackground(64, 64, 0xFF336699);
    for (int I = 0; I < Count; ++I) {
        TPositionedLayer* L = Form.CreatePositionedLayer();
        L->SetTag(TagMagnifier);
        L->SetPlacement({float(I % 50), 0, float(I % 50) + 10, 10});
    }
    TMemoryStream M;
    Form.SaveProjectToStream(M);
    return M.Bytes();
}

void BM_ProjectLoadManyMagnifiers(benchmark::State& State)
{
    const std::filesystem::path Folder = std::filesystem::temp_directory_path() / "kelvane_bench_document";
    std::filesystem::create_directories(Folder / "config");
    SetConfigDir((Folder / "config").string());
    SetDataHomeDir((Folder / "share").string());
    SetDataDir((Folder / "data").string());
    SetShellOpenHook([](const std::string&) { return true; });
    const std::vector<uint8_t> Bytes = MagnifierProject(int(State.range(0)));
    TMainForm Form;
    Form.RefreshDesktopOnAssociation = false;
    Form.FormCreate();
    Form.ImgView->resize(800, 600);
    for (auto _ : State) {
        TReadOnlyMemoryStream S(Bytes.data(), int64_t(Bytes.size()));
        Form.LoadProjectFromStream(S, "many.kvn");
    }
    State.counters["MB"] = double(Bytes.size()) / 1e6;
    SetConfigDir("");
    SetDataHomeDir("");
    SetDataDir("");
    std::filesystem::remove_all(Folder);
}
BENCHMARK(BM_ProjectLoadManyMagnifiers)->Arg(10000)->Arg(100000)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    TOffscreenApplication App(argv[0]);
    const int Result = RunBenchmarks(argc, argv, [](const TRatioReporter& Reporter) {
        const char* Pairs[][3] = {
            {"RenderFlattened", "BM_RenderFlattened", "BM_RenderFlattened_Memcpy"},
            {"undo snapshot first", "BM_UndoSnapshot_first", "BM_UndoSnapshot_first_Memcpy"},
            {"undo snapshot repeated", "BM_UndoSnapshot_repeated", "BM_UndoSnapshot_repeated_Memcpy"},
            {"project save", "BM_ProjectSave", "BM_ProjectSave_FileWrite"},
            {"project load first", "BM_ProjectLoad_first", "BM_ProjectLoad_first_FileRead"},
            {"project load repeated", "BM_ProjectLoad_repeated", "BM_ProjectLoad_repeated_FileRead"}};
        // Every operation here runs on the calling thread alone, as does each plain job.
        for (const auto& P : Pairs)
            kvbench::PrintComparison(P[0], Reporter.Median(P[1]), Reporter.Median(P[2]), 1, 1);
    });
    std::remove(Scene().File.c_str());
    Scene().Form.reset();
    return Result;
}
