#include "imaging/Transitions.h"

#include "imaging/IEView.h"
#include "imaging/TransitionsMix.h"
#include "imaging/TransitionsStretch.h"
#include "platform/Forms.h"
#include "platform/SysUtils.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace kv {

namespace {

constexpr int32_t Full = TransitionFullProgress;

int32_t RoundEven(double Value) { return int32_t(std::nearbyint(Value)); }

// Every bitmap of a transition is 24-bit: three bytes a pixel, B, G, R.
uint8_t* Row(TBitmap* B, int32_t Y) { return B->ScanLine(Y); }

struct TArea {
    int32_t W, H;
};

TArea AreaOf(const TTransitionState& S) { return {S.Frame->Width(), S.Frame->Height()}; }

// Copies a W x H block of Src at (SX, SY) to the frame at (DX, DY), clipped to both.
void CopyBlock(TBitmap* Src, int32_t SX, int32_t SY, TBitmap* Dst, int32_t DX, int32_t DY, int32_t W, int32_t H)
{
    const int32_t Left = std::max({0, -SX, -DX});
    const int32_t Top = std::max({0, -SY, -DY});
    const int32_t Right = std::min({W, Src->Width() - SX, Dst->Width() - DX});
    const int32_t Bottom = std::min({H, Src->Height() - SY, Dst->Height() - DY});
    if (Right <= Left || Bottom <= Top)
        return;
    const size_t Bytes = size_t(Right - Left) * 3;
    for (int32_t Y = Bottom - 1; Y >= Top; --Y) // bottom row first, as rows lie in memory
        std::memcpy(Row(Dst, DY + Y) + size_t(DX + Left) * 3, Row(Src, SY + Y) + size_t(SX + Left) * 3, Bytes);
}

void CopyWhole(TBitmap* Src, TBitmap* Dst) { CopyBlock(Src, 0, 0, Dst, 0, 0, Dst->Width(), Dst->Height()); }

// The whole of Src stretched into the rectangle (X, Y, W, H) of Dst without smoothing:
// destination column c takes source column c * SrcW / W. Clipped to Dst.
class TStretch {
public:
    TStretch(TBitmap* Src, TBitmap* Dst, int32_t X, int32_t Y, int32_t W, int32_t H)
        : FSrc(Src), FDst(Dst), FX(X), FY(Y), FH(H)
    {
        if (W <= 0 || H <= 0 || Src->Width() <= 0 || Src->Height() <= 0)
            return;
        FLeft = std::max(0, -X);
        FTop = std::max(0, -Y);
        const int32_t Right = std::min(W, Dst->Width() - X);
        FBottom = std::min(H, Dst->Height() - Y);
        if (Right <= FLeft || FBottom <= FTop)
            return;
        FColumn.resize(size_t(Right - FLeft));
        for (int32_t C = FLeft; C < Right; ++C)
            FColumn[size_t(C - FLeft)] = int32_t(int64_t(C) * Src->Width() / W) * 3;
        // Pixels move as 4-byte words, each overwriting the next pixel's first byte before
        // that pixel is written: all but the last column, and only where the word stays
        // inside the source row. The columns rise, so the words that stay inside the row
        // are those before FWords.
        const int32_t SafeOffset = Src->Width() * 3 - 4;
        const size_t Last = FColumn.size() - 1;
        while (FWords < Last && FColumn[FWords] <= SafeOffset)
            ++FWords;
        // The permute gather serves every row from one plan; it pays off from a few steps.
        if (FColumn.size() >= 32 && StretchGatherAllowed()) {
            PlanStretchGather(FColumn, Src->Width() * 3, FPlan);
            FGather = true;
        }
    }
    // The frame rows [Top, Bottom) that the stretch writes (empty when it writes none).
    int32_t Top() const { return FColumn.empty() ? 0 : FY + FTop; }
    int32_t Bottom() const { return FColumn.empty() ? 0 : FY + FBottom; }
    void Rows() const
    {
        for (int32_t R = Bottom() - 1; R >= Top(); --R)
            RowOf(R);
    }
    // Frame row FrameY, which lies in [Top, Bottom).
    void RowOf(int32_t FrameY) const
    {
        const int32_t R = FrameY - FY;
        const uint8_t* In = Row(FSrc, int32_t(int64_t(R) * FSrc->Height() / FH));
        uint8_t* Out = Row(FDst, FrameY) + size_t(FX + FLeft) * 3;
        if (FGather) {
            StretchRowGather(In, Out, FPlan);
            return;
        }
        const int32_t* Col = FColumn.data();
        const size_t Words = FWords, Last = FColumn.size() - 1;
        size_t C = 0;
        // Four words a step: their loads do not wait on the stores before them.
        for (; C + 4 <= Words; C += 4) {
            uint32_t A, B, D, E;
            std::memcpy(&A, In + Col[C], 4);
            std::memcpy(&B, In + Col[C + 1], 4);
            std::memcpy(&D, In + Col[C + 2], 4);
            std::memcpy(&E, In + Col[C + 3], 4);
            std::memcpy(Out + C * 3, &A, 4);
            std::memcpy(Out + C * 3 + 3, &B, 4);
            std::memcpy(Out + C * 3 + 6, &D, 4);
            std::memcpy(Out + C * 3 + 9, &E, 4);
        }
        for (; C < Words; ++C)
            std::memcpy(Out + C * 3, In + Col[C], 4);
        for (; C < Last; ++C)
            std::memcpy(Out + C * 3, In + Col[C], 3);
        std::memcpy(Out + Last * 3, In + Col[Last], 3);
    }

private:
    TBitmap *FSrc, *FDst;
    int32_t FX, FY, FH, FLeft = 0, FTop = 0, FBottom = 0;
    std::vector<int32_t> FColumn;
    size_t FWords = 0;
    TStretchPlan FPlan;
    bool FGather = false;
};

void StretchWhole(TBitmap* Src, TBitmap* Dst, int32_t X, int32_t Y, int32_t W, int32_t H)
{
    TStretch(Src, Dst, X, Y, W, H).Rows();
}

void RedColumn(TBitmap* Dst, int32_t X)
{
    if (X < 0 || X >= Dst->Width())
        return;
    for (int32_t Y = 0; Y < Dst->Height(); ++Y) {
        uint8_t* P = Row(Dst, Y) + size_t(X) * 3;
        P[0] = 0;
        P[1] = 0;
        P[2] = 255;
    }
}

void RedRow(TBitmap* Dst, int32_t Y)
{
    if (Y < 0 || Y >= Dst->Height())
        return;
    uint8_t* P = Row(Dst, Y);
    for (int32_t X = 0; X < Dst->Width(); ++X, P += 3) {
        P[0] = 0;
        P[1] = 0;
        P[2] = 255;
    }
}

// The background colour as a 24-bit row of the frame's width.
std::vector<uint8_t> BackgroundRow(TColor Background, int32_t Width)
{
    const TColor C = ColorToRGB(Background);
    std::vector<uint8_t> Bytes(size_t(Width) * 3);
    for (size_t I = 0; I < Bytes.size(); I += 3) {
        Bytes[I] = uint8_t(C >> 16);
        Bytes[I + 1] = uint8_t(C >> 8);
        Bytes[I + 2] = uint8_t(C);
    }
    return Bytes;
}

enum class TMixWith { SourceToTarget, SourceToBackground, BackgroundToTarget };

void Mix(TTransitionState& S, TMixWith With, int32_t P)
{
    const TArea A = AreaOf(S);
    const std::vector<uint8_t> Back =
        With == TMixWith::SourceToTarget ? std::vector<uint8_t>() : BackgroundRow(S.Background, A.W);
    // Bottom row first, as the rows lie in memory: the loads and stores run forwards.
    for (int32_t Y = A.H - 1; Y >= 0; --Y) {
        const uint8_t* From = With == TMixWith::BackgroundToTarget ? Back.data() : Row(S.Source, Y);
        const uint8_t* To = With == TMixWith::SourceToBackground ? Back.data() : Row(S.Target, Y);
        MixBytes(From, To, Row(S.Frame, Y), size_t(A.W) * 3, P);
    }
}

// Row D of the frame from row SRow of From, columns [SX, SX + N) to [DX, DX + N).
void CopyRowPart(TBitmap* From, int32_t SRow, int32_t SX, TBitmap* Frame, int32_t DRow, int32_t DX, int32_t N)
{
    if (N > 0)
        std::memcpy(Row(Frame, DRow) + size_t(DX) * 3, Row(From, SRow) + size_t(SX) * 3, size_t(N) * 3);
}

// The row-moving effects: each frame row made of a run of First's pixels and the rest of
// Second's, or the frame's rows made of a band of rows of each.
void MoveColumns(TTransitionState& S, TBitmap* First, int32_t FirstFrom, TBitmap* Second, int32_t D)
{
    const TArea A = AreaOf(S);
    D = std::clamp(D, 0, A.W);
    for (int32_t Y = A.H - 1; Y >= 0; --Y) {
        CopyRowPart(First, Y, FirstFrom, S.Frame, Y, 0, D);
        CopyRowPart(Second, Y, 0, S.Frame, Y, D, A.W - D);
    }
}

void MoveRows(TTransitionState& S, TBitmap* First, int32_t FirstFrom, TBitmap* Second, int32_t SecondFrom, int32_t D)
{
    const TArea A = AreaOf(S);
    D = std::clamp(D, 0, A.H);
    for (int32_t Y = A.H - 1; Y >= D; --Y)
        CopyRowPart(Second, SecondFrom + Y - D, 0, S.Frame, Y, 0, A.W);
    for (int32_t Y = D - 1; Y >= 0; --Y)
        CopyRowPart(First, FirstFrom + Y, 0, S.Frame, Y, 0, A.W);
}

// Uniform in 0..N-1 from the state's generator.
int32_t RandomBelow(TTransitionState& S, int32_t N) { return int32_t((uint64_t(S.Random()) * uint32_t(N)) >> 32); }

// How many random points (per row) or boxes are due at progress P.
int32_t RandomDue(int64_t Units, int32_t P) { return RoundEven(double(Units) * P * (P / 180.0) / 1024.0); }

void RandomPoints(TTransitionState& S, int32_t P)
{
    const TArea A = AreaOf(S);
    if (P == 0) {
        CopyWhole(S.Source, S.Frame);
        return;
    }
    const int32_t N = RandomDue(A.W, P);
    for (int32_t Y = 0; Y < A.H; ++Y) {
        const uint8_t* From = Row(S.Target, Y);
        uint8_t* To = Row(S.Frame, Y);
        for (int32_t K = S.RandomCount; K < N; ++K) {
            const size_t X = size_t(RandomBelow(S, A.W)) * 3;
            To[X] = From[X];
            To[X + 1] = From[X + 1];
            To[X + 2] = From[X + 2];
        }
    }
    S.RandomCount = std::max(S.RandomCount, N);
}

void RandomBoxes(TTransitionState& S, int32_t P)
{
    const TArea A = AreaOf(S);
    if (P == 0) {
        CopyWhole(S.Source, S.Frame);
        return;
    }
    const int32_t N = RandomDue(int64_t(A.W) * A.H / 64, P);
    for (int32_t K = S.RandomCount; K < N; ++K) {
        const int32_t X = RandomBelow(S, A.W) / 8 * 8;
        const int32_t Y = RandomBelow(S, A.H) / 8 * 8;
        CopyBlock(S.Target, X, Y, S.Frame, X, Y, 8, 8);
    }
    S.RandomCount = std::max(S.RandomCount, N);
}

// The centred rectangle that Q (0..1024) of the frame covers.
struct TCentred {
    int32_t X, Y, W, H;
};

TCentred Centred(TArea A, int32_t Q)
{
    return {A.W / 2 - ((Q * (A.W / 2)) >> 10), A.H / 2 - ((Q * (A.H / 2)) >> 10), int32_t((int64_t(Q) * A.W) >> 10),
            int32_t((int64_t(Q) * A.H) >> 10)};
}

// The target drawn everywhere but the rectangle R, which the caller fills next: each
// pixel is written once.
void TargetAround(TTransitionState& S, const TCentred& R)
{
    const TArea A = AreaOf(S);
    const int32_t Below = R.Y + R.H, RightOf = R.X + R.W;
    CopyBlock(S.Target, 0, 0, S.Frame, 0, 0, A.W, R.Y);
    CopyBlock(S.Target, 0, Below, S.Frame, 0, Below, A.W, A.H - Below);
    CopyBlock(S.Target, 0, R.Y, S.Frame, 0, R.Y, R.X, R.H);
    CopyBlock(S.Target, RightOf, R.Y, S.Frame, RightOf, R.Y, A.W - RightOf, R.H);
}

// The source drawn first at progress 0, for the effects that add to the frame.
void SourceFirst(TTransitionState& S, int32_t P)
{
    if (P == 0)
        CopyWhole(S.Source, S.Frame);
}

void Sweep(TIETransitionType Type, int32_t P, TTransitionState& S)
{
    const TArea A = AreaOf(S);
    SourceFirst(S, P);
    switch (Type) {
    case iettLeftRight1:
    case iettLeftRight2: {
        const int32_t X = int32_t((int64_t(P) * A.W) >> 10);
        CopyBlock(S.Target, 0, 0, S.Frame, 0, 0, X, A.H);
        if (Type == iettLeftRight2)
            RedColumn(S.Frame, X);
        break;
    }
    case iettRightLeft1:
    case iettRightLeft2: {
        const int32_t X0 = RoundEven(double(Full - P) * A.W / 1024.0);
        CopyBlock(S.Target, X0, 0, S.Frame, X0, 0, RoundEven(double(P) * A.W / 1024.0), A.H);
        if (Type == iettRightLeft2)
            RedColumn(S.Frame, X0);
        break;
    }
    case iettUpDown1:
    case iettUpDown2: {
        const int32_t Y = RoundEven(double(A.H) * P / 1024.0);
        CopyBlock(S.Target, 0, 0, S.Frame, 0, 0, A.W, Y);
        if (Type == iettUpDown2)
            RedRow(S.Frame, Y);
        break;
    }
    case iettDownUp1:
    case iettDownUp2: {
        const int32_t Y0 = RoundEven(double(Full - P) * A.H / 1024.0);
        CopyBlock(S.Target, 0, Y0, S.Frame, 0, Y0, A.W, RoundEven(double(P) * A.H / 1024.0));
        if (Type == iettDownUp2)
            RedRow(S.Frame, Y0);
        break;
    }
    default: {
        // The four slides: the whole target drawn at (+-dx, +-dy).
        const int32_t DX = int32_t((int64_t(Full - P) * A.W) >> 10);
        const int32_t DY = int32_t((int64_t(Full - P) * A.H) >> 10);
        const bool Right = Type == iettFromUpRight || Type == iettFromBottomRight;
        const bool Bottom = Type == iettFromBottomLeft || Type == iettFromBottomRight;
        CopyBlock(S.Target, 0, 0, S.Frame, Right ? DX : -DX, Bottom ? DY : -DY, A.W, A.H);
        break;
    }
    }
}

void Moves(TIETransitionType Type, int32_t P, TTransitionState& S)
{
    const TArea A = AreaOf(S);
    const int32_t In = P, Out = Full - P;
    switch (Type) {
    case iettMoveLeftRight1: {
        const int32_t D = int32_t((int64_t(In) * A.W) >> 10);
        MoveColumns(S, S.Target, A.W - D, S.Source, D);
        break;
    }
    case iettMoveLeftRight2: MoveColumns(S, S.Target, 0, S.Source, int32_t((int64_t(In) * A.W) >> 10)); break;
    case iettMoveRightLeft1: {
        const int32_t D = int32_t((int64_t(Out) * A.W) >> 10);
        MoveColumns(S, S.Source, A.W - D, S.Target, D);
        break;
    }
    case iettMoveRightLeft2: MoveColumns(S, S.Source, 0, S.Target, int32_t((int64_t(Out) * A.W) >> 10)); break;
    case iettMoveUpDown1: {
        const int32_t D = int32_t((int64_t(In) * A.H) >> 10);
        MoveRows(S, S.Target, A.H - D, S.Source, 0, D);
        break;
    }
    case iettMoveUpDown2: MoveRows(S, S.Target, 0, S.Source, 0, int32_t((int64_t(In) * A.H) >> 10)); break;
    case iettMoveDownUp1: {
        const int32_t D = int32_t((int64_t(Out) * A.H) >> 10);
        MoveRows(S, S.Source, A.H - D, S.Target, 0, D);
        break;
    }
    default: { // iettMoveDownUp2: the rest from the target's own rows
        const int32_t D = std::clamp(int32_t((int64_t(Out) * A.H) >> 10), 0, A.H);
        MoveRows(S, S.Source, A.H - D, S.Target, D, D);
        break;
    }
    }
}

void Centre(TIETransitionType Type, int32_t P, TTransitionState& S)
{
    const TArea A = AreaOf(S);
    switch (Type) {
    case iettCenter1: {
        SourceFirst(S, P);
        const TCentred R = Centred(A, P);
        CopyBlock(S.Target, R.X, R.Y, S.Frame, R.X, R.Y, R.W, R.H);
        break;
    }
    case iettCenter2: {
        const TCentred R = Centred(A, Full - P);
        TargetAround(S, R);
        CopyBlock(S.Source, R.X, R.Y, S.Frame, R.X, R.Y, R.W, R.H);
        break;
    }
    case iettCenterZoom1: {
        SourceFirst(S, P);
        const TCentred R = Centred(A, P);
        StretchWhole(S.Target, S.Frame, R.X, R.Y, R.W, R.H);
        break;
    }
    default: { // iettCenterZoom2
        // Row by row, each frame row written whole before the next: the target's
        // pieces and the stretched source share the row's cache lines.
        const TCentred R = Centred(A, Full - P);
        const TStretch Inner(S.Source, S.Frame, R.X, R.Y, R.W, R.H);
        const int32_t LeftEnd = std::min(R.X, A.W), RightFrom = std::max(R.X + R.W, 0);
        for (int32_t Y = A.H - 1; Y >= 0; --Y) {
            if (Y < R.Y || Y >= R.Y + R.H) {
                CopyRowPart(S.Target, Y, 0, S.Frame, Y, 0, A.W);
                continue;
            }
            CopyRowPart(S.Target, Y, 0, S.Frame, Y, 0, LeftEnd);
            if (Y >= Inner.Top() && Y < Inner.Bottom())
                Inner.RowOf(Y);
            CopyRowPart(S.Target, Y, RightFrom, S.Frame, Y, RightFrom, A.W - RightFrom);
        }
        break;
    }
    }
}

} // namespace

void ComposeTransitionFrame(TIETransitionType Type, int32_t Progress, TTransitionState& S)
{
    if (!S.Source || !S.Target || !S.Frame || S.Frame->Width() <= 0 || S.Frame->Height() <= 0)
        return;
    const int32_t P = std::clamp(Progress, 0, Full);
    switch (Type) {
    case iettNone: return;
    case iettCrossDissolve: Mix(S, TMixWith::SourceToTarget, P); return;
    case iettFadeOut: Mix(S, TMixWith::SourceToBackground, P); return;
    case iettFadeIn: Mix(S, TMixWith::BackgroundToTarget, P); return;
    case iettFadeOutIn:
        if (P < 512)
            Mix(S, TMixWith::SourceToBackground, 2 * P);
        else
            Mix(S, TMixWith::BackgroundToTarget, 2 * (P - 512));
        return;
    case iettRandomPoints: RandomPoints(S, P); return;
    case iettRandomBoxes: RandomBoxes(S, P); return;
    default: break;
    }
    if (Type >= iettLeftRight1 && Type <= iettFromBottomRight)
        Sweep(Type, P, S);
    else if (Type >= iettMoveLeftRight1 && Type <= iettMoveDownUp2)
        Moves(Type, P, S);
    else if (Type >= iettCenter1 && Type <= iettCenterZoom2)
        Centre(Type, P, S);
}

// ---- The player ---------------------------------------------------------------------

TIETransitionEffects::TIETransitionEffects(TIEView* Owner) : FOwner(Owner), FTimer(std::make_unique<TTimer>())
{
    TickCount = [] { return GetTickCount(); };
    for (TBitmap* B : {&FSource, &FTarget, &FFrame}) {
        B->SetPixelFormat(pf24bit);
        B->SetSize(1, 1);
    }
    FState.Source = &FSource;
    FState.Target = &FTarget;
    FState.Frame = &FFrame;
    FTimer->SetEnabled(false);
    FTimer->SetInterval(1);
    FTimer->OnTimer = [this](TObject*) { Step(); };
}

TIETransitionEffects::~TIETransitionEffects() { FTimer->SetEnabled(false); }

void TIETransitionEffects::Prepare(int32_t Width, int32_t Height)
{
    FWidth = std::max(1, Width);
    FHeight = std::max(1, Height);
    for (TBitmap* B : {&FSource, &FTarget, &FFrame}) {
        B->SetPixelFormat(pf24bit);
        B->SetSize(FWidth, FHeight);
    }
}

void TIETransitionEffects::Start()
{
    FProgress = 0;
    FState.RandomCount = 0;
    FFrameCount = 0;
    FStartTick = TickCount();
    FRunning = true;
    FTimer->SetEnabled(true);
}

void TIETransitionEffects::Step()
{
    if (!FRunning)
        return;
    ++FFrameCount;
    if (FOwner)
        FState.Background = FOwner->Background();
    ComposeTransitionFrame(FTransition, FProgress, FState);
    if (FOwner && FTransition != iettNone)
        FOwner->ShowTransitionFrame(FFrame);
    const uint32_t Passed = TickCount() - FStartTick; // wraps with the tick count
    // A duration below 1 ms has no frames to spread: it ends at the first tick.
    if (FDuration < 1 || int64_t(Passed) >= FDuration) {
        Stop();
        return;
    }
    FProgress = int32_t(std::min<int64_t>(Full, int64_t(Passed) * Full / FDuration));
}

void TIETransitionEffects::Stop()
{
    if (!FRunning || FTransition == iettNone)
        return;
    FTimer->SetEnabled(false);
    FRunning = false;
    for (TBitmap* B : {&FSource, &FTarget, &FFrame})
        B->SetSize(1, 1);
    FWidth = FHeight = 1;
    if (FOwner) {
        FOwner->Update();
        if (FRepaintAtEnd)
            FOwner->ImageChange();
    }
}

} // namespace kv
