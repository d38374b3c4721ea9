// The application object, the handler wrapper, timers and the screen.
#pragma once

#include "platform/Classes.h"

#include <functional>
#include <memory>
#include <string>

namespace kv {

using TIdleEvent = std::function<void(TObject* Sender, bool& Done)>;
using TExceptionEvent = std::function<void(TObject* Sender, const std::exception& E)>;

class TApplication : public TObject {
public:
    TApplication();
    ~TApplication() override;

    const std::string& Title() const { return FTitle; }
    void SetTitle(const std::string& Value);
    std::string ExeName() const; // full path of the running program
    bool Terminated() const { return FTerminated; }

    // Runs the event loop until Terminate (OnIdle is called whenever the loop is about
    // to wait; Done = false asks to be called again at once).
    void Run();
    void ProcessMessages();
    void Terminate();

    // The error box of an exception that reached the event loop (EAbort stays silent);
    // OnException replaces it when set.
    void HandleException(TObject* Sender, const std::exception& E);
    void ShowException(const std::exception& E);
    int32_t MessageBox(const std::string& Text, const std::string& Caption, uint32_t Flags);

    TIdleEvent OnIdle;
    TExceptionEvent OnException;
    std::string ClassName() const override { return "TApplication"; }

private:
    void Idle();
    void TrimHeldBlocks();
    struct Hooks;
    std::unique_ptr<Hooks> FHooks;
    std::string FTitle;
    bool FTerminated = false;
    bool FInIdle = false;
};

// The one application object (created on first use, never freed).
TApplication* Application();

// Every handler that the event loop calls runs inside this: an escaping exception
// becomes the application's error box and the program carries on. Returns false when
// the handler raised.
bool SafeCall(const std::function<void()>& Handler, TObject* Sender = nullptr);

class TTimer : public TObject {
public:
    TTimer();
    ~TTimer() override;
    uint32_t Interval() const { return FInterval; }
    void SetInterval(uint32_t Value); // milliseconds; 0 stops the timer
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool Value);
    TNotifyEvent OnTimer; // runs inside SafeCall
    std::string ClassName() const override { return "TTimer"; }

private:
    void Update();
    struct Impl;
    std::unique_ptr<Impl> FImpl;
    uint32_t FInterval = 1000;
    bool FEnabled = true;
};

using TCursor = int16_t;
constexpr TCursor crDefault = 0, crNone = -1, crArrow = -2, crCross = -3, crIBeam = -4, crSizeNESW = -6, crSizeNS = -7,
                  crSizeNWSE = -8, crSizeWE = -9, crUpArrow = -10, crHourGlass = -11, crDrag = -12, crNoDrop = -13,
                  crHSplit = -14, crVSplit = -15, crMultiDrag = -16, crSQLWait = -17, crNo = -18, crAppStart = -19,
                  crHelp = -20, crHandPoint = -21, crSizeAll = -22;

class TScreen : public TObject {
public:
    // The installed font families, sorted.
    const TStringList& Fonts();
    TCursor Cursor() const { return FCursor; }
    // Anything but crDefault overrides every window's cursor until set back.
    void SetCursor(TCursor Value);
    int32_t Width() const;
    int32_t Height() const;
    int32_t PixelsPerInch() const { return 96; }
    std::string ClassName() const override { return "TScreen"; }

private:
    std::unique_ptr<TStringList> FFonts;
    TCursor FCursor = crDefault;
};

TScreen* Screen();

} // namespace kv
