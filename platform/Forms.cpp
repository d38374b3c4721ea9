#include "platform/Forms.h"

#include "platform/Dialogs.h"
#include "platform/ScreenCursors.h"
#include "platform/SysUtils.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QCursor>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QScreen>
#include <QThread>
#include <QTimer>

#include <chrono>

#include <unistd.h>

namespace kv {

// ---- TApplication ------------------------------------------------------------------

struct TApplication::Hooks {
    QMetaObject::Connection IdleConnection;
    bool TrimDue = false;
};

TApplication::TApplication() : FHooks(std::make_unique<Hooks>()) {}

TApplication::~TApplication() { QObject::disconnect(FHooks->IdleConnection); }

void TApplication::SetTitle(const std::string& Value)
{
    FTitle = Value;
    if (QCoreApplication::instance())
        QCoreApplication::setApplicationName(QString::fromStdString(Value));
}

std::string TApplication::ExeName() const
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationFilePath().toStdString();
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, size_t(n)) : std::string();
}

void TApplication::Idle()
{
    if (!OnIdle || FInIdle)
        return;
    FInIdle = true;
    bool done = true;
    SafeCall([&] { OnIdle(this, done); }, this);
    FInIdle = false;
    if (!done) // asked to be called again without waiting
        QTimer::singleShot(0, [this] { Idle(); });
}

void TApplication::TrimHeldBlocks()
{
    // Freed picture blocks are kept a few seconds for the next picture of their size; a
    // program left waiting would otherwise hold them until its next allocation. The timer
    // only wakes the loop: the pass before it waits again gives them back.
    if (!ReleaseStaleCachedPixelBuffers() || FHooks->TrimDue)
        return;
    FHooks->TrimDue = true;
    QTimer::singleShot(std::chrono::milliseconds(CachedPixelBufferLifetimeMs() + 100),
                       [this] { FHooks->TrimDue = false; });
}

void TApplication::Run()
{
    if (!QCoreApplication::instance())
        return;
    if (auto* d = QAbstractEventDispatcher::instance(QThread::currentThread()); d && !FHooks->IdleConnection)
        FHooks->IdleConnection = QObject::connect(d, &QAbstractEventDispatcher::aboutToBlock, [this] {
            TrimHeldBlocks();
            Idle();
        });
    if (!FTerminated)
        QCoreApplication::exec();
}

void TApplication::ProcessMessages()
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TApplication::Terminate()
{
    FTerminated = true;
    if (QCoreApplication::instance())
        QCoreApplication::quit();
}

void TApplication::ShowException(const std::exception& E)
{
    std::string msg = E.what();
    if (!msg.empty() && msg.back() != '.')
        msg += '.';
    MessageBox(msg, FTitle, MB_OK | MB_ICONERROR);
}

void TApplication::HandleException(TObject* Sender, const std::exception& E)
{
    if (dynamic_cast<const EAbort*>(&E))
        return;
    if (OnException)
        OnException(Sender, E);
    else
        ShowException(E);
}

int32_t TApplication::MessageBox(const std::string& Text, const std::string& Caption, uint32_t Flags)
{
    return kv::MessageBox(Text, Caption.empty() ? FTitle : Caption, Flags);
}

TApplication* Application()
{
    static TApplication* app = new TApplication; // process-wide, never freed
    return app;
}

bool SafeCall(const std::function<void()>& Handler, TObject* Sender)
{
    try {
        if (Handler)
            Handler();
        return true;
    } catch (const std::exception& e) {
        try {
            Application()->HandleException(Sender, e);
        } catch (...) {
            // The error box itself failed: nothing sensible is left to show.
        }
    } catch (...) {
        try {
            Application()->HandleException(Sender, Exception("Unknown exception"));
        } catch (...) {
        }
    }
    return false;
}

// ---- TTimer -----------------------------------------------------------------------------

struct TTimer::Impl {
    QTimer Timer;
};

TTimer::TTimer() : FImpl(std::make_unique<Impl>())
{
    // Auto-repeat delays (400 ms, then 100 ms) are user-visible: never fire early as
    // Qt's coarse timers may.
    FImpl->Timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&FImpl->Timer, &QTimer::timeout, [this] {
        if (OnTimer)
            SafeCall([this] { OnTimer(this); }, this);
    });
    Update();
}

TTimer::~TTimer() { FImpl->Timer.stop(); }

void TTimer::SetInterval(uint32_t Value)
{
    if (Value == FInterval)
        return;
    FInterval = Value;
    Update();
}

void TTimer::SetEnabled(bool Value)
{
    if (Value == FEnabled)
        return;
    FEnabled = Value;
    Update();
}

void TTimer::Update()
{
    FImpl->Timer.stop();
    if (FEnabled && FInterval > 0) {
        FImpl->Timer.setInterval(int(std::min<uint32_t>(FInterval, 0x7FFFFFFF)));
        FImpl->Timer.start();
    }
}

// ---- TScreen ------------------------------------------------------------------------------

const TStringList& TScreen::Fonts()
{
    if (!FFonts) {
        FFonts = std::make_unique<TStringList>();
        FFonts->SetSorted(true);
        if (QGuiApplication::instance())
            for (const QString& f : QFontDatabase::families())
                FFonts->Add(f.toStdString());
    }
    return *FFonts;
}

void TScreen::SetCursor(TCursor Value)
{
    if (Value == FCursor)
        return;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        if (FCursor != crDefault)
            QGuiApplication::restoreOverrideCursor();
        if (Value != crDefault)
            QGuiApplication::setOverrideCursor(ScreenCursorFor(Value));
    }
    FCursor = Value;
}

int32_t TScreen::Width() const
{
    QScreen* s = QGuiApplication::instance() ? QGuiApplication::primaryScreen() : nullptr;
    return s ? s->geometry().width() : 0;
}

int32_t TScreen::Height() const
{
    QScreen* s = QGuiApplication::instance() ? QGuiApplication::primaryScreen() : nullptr;
    return s ? s->geometry().height() : 0;
}

TScreen* Screen()
{
    static TScreen* screen = new TScreen; // process-wide, never freed
    return screen;
}

} // namespace kv
