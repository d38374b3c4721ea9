// The animated change from one picture to the next in the imaging views: thirty
// effects, each composing a frame from the source, the target and the progress, and the
// timer-driven player that shows those frames for a set duration.
#pragma once

#include "platform/Graphics.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <random>

namespace kv {

class TIEView;
class TTimer;

enum TIETransitionType : uint8_t {
    iettNone,
    iettCrossDissolve,
    iettFadeOut,
    iettFadeIn,
    iettFadeOutIn,
    iettLeftRight1,
    iettLeftRight2,
    iettRightLeft1,
    iettRightLeft2,
    iettUpDown1,
    iettUpDown2,
    iettDownUp1,
    iettDownUp2,
    iettFromUpLeft,
    iettFromUpRight,
    iettFromBottomLeft,
    iettFromBottomRight,
    iettMoveLeftRight1,
    iettMoveLeftRight2,
    iettMoveRightLeft1,
    iettMoveRightLeft2,
    iettMoveUpDown1,
    iettMoveUpDown2,
    iettMoveDownUp1,
    iettMoveDownUp2,
    iettRandomPoints,
    iettRandomBoxes,
    iettCenter1,
    iettCenter2,
    iettCenterZoom1,
    iettCenterZoom2,
};
constexpr int32_t TransitionTypeCount = iettCenterZoom2 + 1;

// Full progress: a transition runs its progress from 0 to this.
constexpr int32_t TransitionFullProgress = 1024;

// What a frame is composed from and into: three 24-bit bitmaps of one size, the view's
// background colour for the fades, the random points or boxes placed so far and the
// generator that places them (seeded by the caller, so frames repeat in tests).
struct TTransitionState {
    TBitmap* Source = nullptr;
    TBitmap* Target = nullptr;
    TBitmap* Frame = nullptr;
    TColor Background = clBlack;
    int32_t RandomCount = 0;
    std::mt19937 Random;
};

// Composes the frame of Type at Progress (0..1024) into State.Frame. Several effects only
// add to the frame they composed before (the source is drawn at progress 0), so a frame
// depends on the ones before it, as on screen. Every copy, stretch and line is clipped
// to the frame.
void ComposeTransitionFrame(TIETransitionType Type, int32_t Progress, TTransitionState& State);

// Plays one transition in a view: the view fills Source and Target at the size given to
// Prepare, then Start runs the timer; each tick composes a frame and hands it to the
// view, until the duration has passed.
class TIETransitionEffects {
public:
    explicit TIETransitionEffects(TIEView* Owner);
    ~TIETransitionEffects();
    TIETransitionEffects(const TIETransitionEffects&) = delete;
    TIETransitionEffects& operator=(const TIETransitionEffects&) = delete;

    // The three bitmaps become Width x Height, 24-bit, for the view to draw into.
    void Prepare(int32_t Width, int32_t Height);
    TBitmap* Source() { return &FSource; }
    TBitmap* Target() { return &FTarget; }
    TBitmap* Frame() { return &FFrame; }
    int32_t Width() const { return FWidth; }
    int32_t Height() const { return FHeight; }

    TIETransitionType Transition() const { return FTransition; }
    void SetTransition(TIETransitionType Value) { FTransition = Value; }
    int32_t Duration() const { return FDuration; }
    void SetDuration(int32_t Value) { FDuration = Value; }
    bool RepaintAtEnd() const { return FRepaintAtEnd; }
    void SetRepaintAtEnd(bool Value) { FRepaintAtEnd = Value; }
    bool Running() const { return FRunning; }
    int32_t Progress() const { return FProgress; }
    int32_t FrameCount() const { return FFrameCount; }
    TTimer* Timer() { return FTimer.get(); }
    // Where the milliseconds come from (the system's tick count unless a test sets it),
    // and the seed of the random effects.
    std::function<uint32_t()> TickCount;
    void SetRandomSeed(uint32_t Seed) { FState.Random.seed(Seed); }

    // Progress and count back to 0, the start time taken, the timer enabled.
    void Start();
    // One timer tick.
    void Step();
    // Only while running a real transition: the timer stops, the bitmaps shrink to
    // 1 x 1 and the view repaints (and, with RepaintAtEnd, is told its picture changed).
    void Stop();

private:
    TIEView* FOwner;
    TBitmap FSource, FTarget, FFrame;
    TTransitionState FState;
    std::unique_ptr<TTimer> FTimer;
    int32_t FWidth = 1, FHeight = 1;
    bool FRunning = false;
    int32_t FProgress = 0;
    TIETransitionType FTransition = iettNone;
    int32_t FDuration = 1000;
    uint32_t FStartTick = 0;
    bool FRepaintAtEnd = false;
    int32_t FFrameCount = 0;
};

} // namespace kv
