// GIFImage: drawing. A still picture is drawn at once; an animated one is played by a
// painter that steps through the frames with their delays, disposal methods and loop
// count, in its own thread (doAsync) or inside the Draw call. An asynchronous painter
// touches the picture and the canvas only in calls run on the main thread, and holds
// the picture through a link that the picture clears when it goes.
#include "formats/GIFImage.h"

#include "platform/Threads.h"

#include <QCoreApplication>

#include <algorithm>
#include <cerrno>
#include <chrono>

#ifdef __linux__
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace kv::GIFImage {

namespace {
// The synchronous painter's message pump while it sleeps.
void PumpMessages()
{
    if (!IsMainThread())
        return;
    ProcessPendingSynchronizedCalls();
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

// Best effort, as the platform's thread priorities are: the levels below normal raise
// the calling thread's nice value, those above lower it (which needs the privilege to
// do so; without it the thread stays at normal).
void ApplyThreadPriority(uint8_t Priority)
{
#ifdef __linux__
    static constexpr int32_t NiceOffset[7] = {19, 10, 5, 0, -5, -10, -15}; // tpIdle .. tpTimeCritical
    if (Priority > 6 || Priority == 3)
        return;
    const id_t tid = id_t(syscall(SYS_gettid));
    errno = 0;
    int32_t nice = getpriority(PRIO_PROCESS, tid);
    if (errno != 0)
        return;
    int32_t wanted = Priority == 0 ? 19 : std::clamp(nice + NiceOffset[Priority], -20, 19);
    setpriority(PRIO_PROCESS, tid, wanted);
#else
    (void)Priority;
#endif
}

int32_t CurrentNativeThreadId()
{
#ifdef __linux__
    return int32_t(syscall(SYS_gettid));
#else
    return 0;
#endif
}
} // namespace

int32_t TGIFImage::PainterCount()
{
    std::lock_guard<std::recursive_mutex> guard(FPaintersLock);
    return int32_t(FPainters.size());
}

void TGIFImage::StopPainter()
{
    std::lock_guard<std::recursive_mutex> guard(FPaintersLock);
    if (FPainter)
        FPainter->Stop();
}

void TGIFImage::Draw(TCanvas& ACanvas, const TRect& Rect)
{
    if (FIsDrawing || Empty())
        return;
    FIsDrawing = true;
    struct TGuard {
        bool& Flag;
        ~TGuard() { Flag = false; }
    } drawing{FIsDrawing};

    if (FImages.Count() == 1 || !(FDrawOptions & doAnimate)) {
        DrawFrame(*FImages[0], ACanvas, Rect, (FDrawOptions & doTransparent) != 0, (FDrawOptions & doTile) != 0);
        return;
    }
    if (FBitmap && !(FDrawOptions & doDrawDirect)) {
        ShowBitmap(ACanvas, Rect);
        return;
    }
    std::unique_lock<std::recursive_mutex> lock(FPaintersLock);
    if (FPainter && FPainter->Canvas() == &ACanvas && FPainter->Rect() == Rect)
        return; // already playing there
    // Stop the current painter; an asynchronous one ends once the main thread has run
    // its pending calls.
    while (FPainter) {
        std::shared_ptr<TGIFPainter> p = FPainter->shared_from_this();
        p->Stop();
        if (!p->Async()) {
            FPainter = nullptr;
            break;
        }
        lock.unlock();
        ProcessPendingSynchronizedCalls();
        GIFClock().Sleep(0);
        lock.lock();
    }
    DropBitmap();

    TCanvas* target = &ACanvas;
    TRect targetRect = Rect;
    if (!(FDrawOptions & doDrawDirect)) {
        auto bmp = std::make_unique<TBitmap>();
        bmp->SetPixelFormat(pf24bit);
        bmp->SetSize(Width(), Height());
        bmp->Canvas()->CopyRect(::kv::Rect(0, 0, Width(), Height()), &ACanvas, Rect);
        bmp->OnChange = [this](TObject*) { Changed(this); };
        FBitmap = std::move(bmp);
        target = FBitmap->Canvas();
        targetRect = ::kv::Rect(0, 0, Width(), Height());
    }
    std::shared_ptr<TGIFPainter> painter = PaintStart(target, targetRect, FDrawOptions);
    std::exception_ptr syncError;
    if (painter && painter->Async())
        painter->Start();
    else if (painter) {
        syncError = painter->Error();
        FPainter = nullptr;
    }
    if (!(FDrawOptions & doDrawDirect)) {
        // A run that ends without painting (an empty first frame) is gone from FPainter
        // once its last call has run here, and is waited for no longer.
        while (painter && painter->Async() && !painter->Terminated() && !painter->Started() &&
               FPainter == painter.get()) {
            if (QuitRequested())
                return; // the painter keeps running; the quit goes on to the event loop
            if (!ProcessPendingSynchronizedCalls())
                GIFClock().Sleep(0);
        }
        ShowBitmap(ACanvas, Rect);
    }
    lock.unlock();
    // A synchronous painter's failure comes out of Draw once the painter is gone.
    if (syncError)
        std::rethrow_exception(syncError);
}

std::shared_ptr<TGIFPainter> TGIFImage::PaintStart(TCanvas* ACanvas, const TRect& Rect, uint16_t Options)
{
    if (Empty() || Rect.Width() <= 0 || Rect.Height() <= 0) {
        FPainter = nullptr;
        return nullptr;
    }
    if (FImages.Count() == 1)
        Options &= uint16_t(~(doAsync | doAnimate));
    auto painter = std::make_shared<TGIFPainter>(this, ACanvas, Rect, Options);
    painter->OnPlayStart = OnPlayStart;
    painter->OnFrameStart = OnFrameStart;
    painter->OnFrameDone = OnFrameDone;
    painter->OnPassStart = OnPassStart;
    painter->OnPlayEnd = OnPlayEnd;
    if (Options & doAsync)
        painter->SetPriority(FPainterPriority);
    {
        std::lock_guard<std::recursive_mutex> guard(FPaintersLock);
        FPainters.push_back(painter);
        FPainter = painter.get();
    }
    if (!(Options & doAsync))
        painter->Execute();
    return painter;
}

void TGIFImage::StopDraw()
{
    for (;;) {
        int32_t async = 0;
        bool insideCall = false;
        {
            std::lock_guard<std::recursive_mutex> guard(FPaintersLock);
            if (FPainters.empty())
                break;
            for (auto it = FPainters.rbegin(); it != FPainters.rend(); ++it) {
                (*it)->Stop();
                if ((*it)->Async())
                    ++async;
                // Called from one of the painter's own events: it cannot end before we return.
                insideCall = insideCall || (*it)->FInSyncCall;
            }
        }
        if (async == 0)
            break;
        if (insideCall || !MainThreadSyncTargetExists() || !IsMainThread() || QuitRequested()) {
            // Nobody runs the painters' calls: they are cut loose. A stopped painter
            // cancels its pending calls and touches nothing of the picture again.
            std::lock_guard<std::recursive_mutex> guard(FPaintersLock);
            std::lock_guard<std::mutex> linkGuard(FLink->Lock);
            FPainters.clear();
            FPainter = nullptr;
            break;
        }
        ProcessPendingSynchronizedCalls();
        GIFClock().Sleep(0);
    }
    StopPainter();
    DropBitmap();
}

// ---------------------------------------------------------------------------------------
// TGIFPainter

TGIFPainter::TGIFPainter(TGIFImage* AImage, TCanvas* ACanvas, const TRect& ARect, uint16_t AOptions)
    : FLink(AImage->FLink), FCanvas(ACanvas), FRect(ARect), FDrawOptions(AOptions), FPlaySpeed(AImage->PlaySpeed())
{
    FHasEvent = (AOptions & doAsync) && (AOptions & doAnimate) && AImage->Images().Count() >= 2 && FPlaySpeed >= 0;
    PrepareBuffers(*AImage);
}

TGIFPainter::~TGIFPainter()
{
    // Never raises: a kept failure has been handed on (Draw) or reported (OnWarning).
    Stop();
    if (FThread.joinable()) {
        if (FThread.get_id() == std::this_thread::get_id())
            FThread.detach();
        else
            FThread.join();
    }
}

TGIFImage* TGIFPainter::LinkedImage()
{
    std::lock_guard<std::mutex> guard(FLink->Lock);
    return FLink->Image;
}

void TGIFPainter::PrepareBuffers(TGIFImage& Image)
{
    if (Image.BackgroundColor() != clNone)
        FBackground = Image.BackgroundColor();
    else if (Image.GlobalColorMap().Count() == 0)
        FBackground = clWindow;
    else {
        TGIFColor c = Image.GlobalColorMap().Colors(Image.Header().BackgroundColorIndex());
        FBackground = RGB(c.Red, c.Green, c.Blue);
    }
    uint32_t disposals = 0;
    for (int32_t i = 0; i < Image.Images().Count(); ++i)
        if (auto* gce = Image.Images()[i]->GraphicControlExtension())
            disposals |= 1u << gce->Disposal();
    if (FDrawOptions & doRestoreOnPass)
        disposals |= 1u << dmBackground;
    auto snapshot = [&] {
        auto b = std::make_unique<TBitmap>();
        b->SetPixelFormat(pf24bit);
        b->SetSize(FRect.Width(), FRect.Height());
        b->Canvas()->CopyRect(::kv::Rect(0, 0, FRect.Width(), FRect.Height()), FCanvas, FRect);
        b->Canvas()->Brush()->SetColor(FBackground);
        return b;
    };
    if ((disposals & (1u << dmBackground)) && (FDrawOptions & doTransparent))
        FBackgroundBuffer = snapshot();
    if (disposals & ((1u << dmBackground) | (1u << dmPrevious))) {
        FPreviousBuffer = snapshot();
        FWorkBuffer = std::make_unique<TBitmap>();
        FWorkBuffer->SetPixelFormat(pf24bit);
        FWorkBuffer->SetSize(FRect.Width(), FRect.Height());
        FWorkBuffer->Canvas()->Brush()->SetColor(FBackground);
    }
}

void TGIFPainter::Start()
{
    if (!Async() || FThread.joinable())
        return;
    std::shared_ptr<TGIFPainter> self = shared_from_this();
    FThread = std::thread([self] {
        ApplyThreadPriority(self->FPriority);
        self->FNativeThreadId = CurrentNativeThreadId();
        self->Execute();
    });
}

void TGIFPainter::Stop()
{
    FTerminated = true;
    std::lock_guard<std::mutex> guard(FEventLock);
    FEventSet = true;
    FEvent.notify_all();
}

bool TGIFPainter::Sync(const std::function<void()>& Call)
{
    if (FTerminated)
        return false;
    if (!Async()) {
        Call();
        return true;
    }
    return Synchronize(
        [&] {
            if (FTerminated || !LinkedImage())
                return;
            FInSyncCall = true;
            struct TReset {
                std::atomic<bool>& Flag;
                ~TReset() { Flag = false; }
            } reset{FInSyncCall};
            Call();
        },
        &FTerminated);
}

void TGIFPainter::Fire(const TNotifyEvent& Event)
{
    if (Event && !FTerminated)
        Sync([&] { Event(this); });
}

void TGIFPainter::WaitDelay(int32_t& Delay, int32_t& Overhead, uint32_t& Last)
{
    TGIFClock& clock = GIFClock();
    uint32_t now = clock.Now();
    if (FPlaySpeed > 0) {
        int64_t wanted = int64_t(Delay) * GIFSettings().DelayUnitMs - (int64_t(now) - Last - Overhead) / 2;
        int64_t scaled = wanted * 100 / FPlaySpeed;
        if (scaled > INT32_MAX || scaled < INT32_MIN) {
            Delay = 12000;
            Overhead = 0;
        } else {
            Delay = MulDiv(int32_t(wanted), 100, FPlaySpeed);
            Overhead = Delay;
        }
    } else
        Delay = Async() ? -1 : 12000;
    Last = now;
    if (Async()) {
        if (Delay > 0 || FPlaySpeed == 0) {
            std::unique_lock<std::mutex> guard(FEventLock);
            bool signalled;
            if (Delay < 0)
                signalled = (FEvent.wait(guard, [&] { return FEventSet; }), true);
            else
                signalled = FEvent.wait_for(guard, std::chrono::milliseconds(Delay), [&] { return FEventSet; });
            FEventSet = false;
            if (signalled) {
                Overhead = 0;
                Last = clock.Now();
            }
        }
    } else {
        Delay = std::max(Delay, 1);
        while (Delay > 0 && !FTerminated) {
            uint32_t before = clock.Now();
            clock.Sleep(uint32_t(std::min(Delay, 100)));
            Delay -= int32_t(clock.Now() - before);
            PumpMessages();
            if (QuitRequested())
                FTerminated = true; // the quit stays posted for the event loop
        }
    }
    if (Delay <= 0)
        clock.Sleep(0);
}

void TGIFPainter::Execute()
{
    try {
        TGIFImage* image = LinkedImage();
        int32_t count = 0;
        Sync([&] { count = image ? image->Images().Count() : 0; });
        FFrameIndex = 0;
        Fire(OnPlayStart);
        FStarted = false;
        FLoopCount = 1;
        int32_t loopStart = 0;
        bool loopExtensionSeen = false;
        int32_t delay = Async() ? 0 : 1;
        FPreviousDisposal = dmNoDisposal;
        uint32_t last = GIFClock().Now();
        int32_t overhead = 0;
        const bool endless = (FDrawOptions & doLoopEndless) != 0;
        while ((FLoopCount != 0 || endless) && !FTerminated) {
            FFrameIndex = loopStart;
            if (FStarted)
                Fire(OnPassStart);
            while (FFrameIndex < count && !FTerminated) {
                bool empty = true;
                Sync([&] {
                    TGIFImage* img = LinkedImage();
                    empty = !img || FFrameIndex >= img->Images().Count() || img->Images()[FFrameIndex]->Empty();
                    if (!empty && delay > 0)
                        img->FrameBitmap(*img->Images()[FFrameIndex]);
                });
                if (empty || FTerminated)
                    break;
                if (delay > 0)
                    WaitDelay(delay, overhead, last);
                else
                    GIFClock().Sleep(0);
                Fire(OnFrameStart);
                int32_t index = FFrameIndex;
                int32_t nextDelay = GIFSettings().DefaultFrameDelay;
                Sync([&] {
                    TGIFImage* img = LinkedImage();
                    if (!img || index >= img->Images().Count())
                        return;
                    TGIFSubImage& sub = *img->Images()[index];
                    FDisposal = dmNoDisposal;
                    for (int32_t e = 0; e < sub.Extensions().Count(); ++e) {
                        TGIFExtension* ext = sub.Extensions().Extensions(e);
                        if (auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(ext)) {
                            if (!loopExtensionSeen) {
                                loopExtensionSeen = true;
                                FLoopCount = loop->Loops();
                                if ((loop->Loops() == 0 || endless) && Async())
                                    FLoopCount = -1;
                                loopStart = index;
                            }
                        } else if (auto* gce = dynamic_cast<TGIFGraphicControlExtension*>(ext))
                            FDisposal = gce->Disposal();
                    }
                    if (FPreviousBuffer)
                        BufferedPaint(*img, sub);
                    else {
                        img->DrawFrame(sub, *FCanvas, FRect, (FDrawOptions & doTransparent) != 0,
                                       (FDrawOptions & doTile) != 0);
                        FStarted = true;
                    }
                    if (auto* gce = sub.GraphicControlExtension(); gce && gce->Delay() != 0)
                        nextDelay = gce->Delay();
                });
                // Handled, drawn or not (disposal 4 to 7 draws nothing): Draw waits no longer,
                // whatever delay comes next.
                FStarted = true;
                FPreviousDisposal = FDisposal;
                delay = std::max(nextDelay, GIFSettings().MinimumFrameDelay);
                if (delay > GIFSettings().MaximumFrameDelay && !Async())
                    delay = GIFSettings().MaximumFrameDelay;
                Fire(OnFrameDone);
                if (FFrameIndex == index)
                    ++FFrameIndex;
                if (!(FDrawOptions & doAnimate))
                    break;
            }
            if (FLoopCount > 0)
                --FLoopCount;
            if (!((FDrawOptions & doAnimate) && (FDrawOptions & doLoop)))
                break;
        }
    } catch (...) {
        FError = std::current_exception();
        FTerminated = true;
    }
    FFrameIndex = -1;
    if (!FTerminated && OnPlayEnd)
        Sync([&] { OnPlayEnd(this); });
    Terminating();
}

// Runs when the run ends: the picture forgets this painter. An asynchronous painter
// does it on the main thread, and reports a failure through the picture's warnings.
void TGIFPainter::Terminating()
{
    auto finish = [this] {
        TGIFImage* image = LinkedImage();
        if (!image)
            return;
        std::shared_ptr<TGIFPainter> keep = shared_from_this();
        std::lock_guard<std::recursive_mutex> guard(image->FPaintersLock);
        if (image->FPainter == this)
            image->FPainter = nullptr;
        if (Async() && FError) {
            try {
                std::rethrow_exception(FError);
            } catch (const std::exception& e) {
                image->Warning(image, 1, e.what());
            } catch (...) {
            }
        }
        auto& list = image->FPainters;
        list.erase(std::remove_if(list.begin(), list.end(), [this](const auto& p) { return p.get() == this; }),
                   list.end());
        // The thread of an asynchronous painter is done with everything but returning.
        if (FThread.joinable())
            FThread.detach();
    };
    if (Async())
        QueueToMainThread([self = shared_from_this(), finish] { finish(); });
    else
        finish();
}

void TGIFPainter::RestoreBackground(TGIFImage& Image, TGIFSubImage& Sub, TBitmap& Target)
{
    const int32_t w = Image.Width(), h = Image.Height();
    if (w <= 0 || h <= 0)
        return;
    const int32_t bw = Target.Width(), bh = Target.Height();
    auto restore = [&](const TRect& r) {
        if (FDrawOptions & doTransparent) {
            if (FBackgroundBuffer)
                Target.Canvas()->CopyRect(r, FBackgroundBuffer->Canvas(), r);
        } else {
            Target.Canvas()->Brush()->SetColor(FBackground);
            Target.Canvas()->FillRect(r);
        }
    };
    if (!(FDrawOptions & doTile)) {
        restore(TRect{MulDiv(Sub.Left(), bw, w), MulDiv(Sub.Top(), bh, h), MulDiv(Sub.Left() + Sub.Width(), bw, w),
                      MulDiv(Sub.Top() + Sub.Height(), bh, h)});
        return;
    }
    if (!(FDrawOptions & doTransparent) && (Sub.Width() == w || Sub.Height() == h))
        return;
    for (int32_t y = 0; y < bh; y += h)
        for (int32_t x = 0; x < bw; x += w)
            restore(Bounds(x + Sub.Left(), y + Sub.Top(), Sub.Width(), Sub.Height()));
}

void TGIFPainter::BufferedPaint(TGIFImage& Image, TGIFSubImage& Sub)
{
    if ((FDrawOptions & doCheckCanvas) && !FCanvas->Attached()) {
        FTerminated = true;
        return;
    }
    const bool clearFirst = (FDrawOptions & doRestoreOnPass) && FFrameIndex == 0;
    TCanvas* target = nullptr;
    TBitmap* buffer = nullptr;
    TRect targetRect = ::kv::Rect(0, 0, FRect.Width(), FRect.Height());
    switch (FDisposal) {
    case dmNone:
    case dmNoDisposal:
    case dmBackground: buffer = FPreviousBuffer.get(); break;
    case dmPrevious:
        if (FPreviousDisposal == dmNone || FPreviousDisposal == dmNoDisposal) {
            target = FCanvas;
            targetRect = FRect;
        } else {
            FWorkBuffer->Canvas()->CopyRect(targetRect, FPreviousBuffer->Canvas(), targetRect);
            buffer = FWorkBuffer.get();
        }
        break;
    default: return; // disposal methods 4 to 7 draw nothing
    }
    if (buffer)
        target = buffer->Canvas();
    if (clearFirst)
        RestoreBackground(Image, Sub, *FPreviousBuffer);
    Image.DrawFrame(Sub, *target, targetRect, (FDrawOptions & doTransparent) != 0, (FDrawOptions & doTile) != 0);
    if (buffer) {
        TCopyMode mode = FCanvas->CopyMode();
        FCanvas->SetCopyMode(SRCCOPY);
        FCanvas->CopyRect(FRect, buffer->Canvas(), targetRect);
        FCanvas->SetCopyMode(mode);
    }
    if (FDisposal == dmBackground)
        RestoreBackground(Image, Sub, *FPreviousBuffer);
    FStarted = true;
}

} // namespace kv::GIFImage
