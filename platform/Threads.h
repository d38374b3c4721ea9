// Locks, events and handing work to the user-interface thread.
#pragma once

#include "platform/SysUtils.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace kv {

// Recursive, like the platform's critical section: the owning thread may enter again.
class TCriticalSection : public TObject {
public:
    void Enter() { FLock.lock(); }
    void Leave() { FLock.unlock(); }
    void Acquire() { Enter(); }
    void Release() { Leave(); }
    bool TryEnter() { return FLock.try_lock(); }
    std::recursive_mutex& Native() { return FLock; }

private:
    std::recursive_mutex FLock;
};

// Enter/Leave as a scope.
class TCriticalSectionGuard {
public:
    explicit TCriticalSectionGuard(TCriticalSection& Section) : FSection(Section) { FSection.Enter(); }
    ~TCriticalSectionGuard() { FSection.Leave(); }
    TCriticalSectionGuard(const TCriticalSectionGuard&) = delete;
    TCriticalSectionGuard& operator=(const TCriticalSectionGuard&) = delete;

private:
    TCriticalSection& FSection;
};

enum TWaitResult : uint8_t { wrSignaled, wrTimeout, wrAbandoned, wrError };
constexpr uint32_t INFINITE = 0xFFFFFFFFu;

class TEvent : public TObject {
public:
    // ManualReset: stays signalled until ResetEvent; otherwise one waiter takes it.
    explicit TEvent(bool ManualReset = true, bool InitialState = false)
        : FManualReset(ManualReset), FSignaled(InitialState)
    {
    }
    void SetEvent();
    void ResetEvent();
    TWaitResult WaitFor(uint32_t Milliseconds = INFINITE);

private:
    std::mutex FLock;
    std::condition_variable FCondition;
    bool FManualReset;
    bool FSignaled;
};

bool IsMainThread();
// Runs Fn on the user-interface thread and waits for it; an exception it raises comes
// back to the caller. Called on the user-interface thread, Fn runs at once. Gives up
// and returns false, without running Fn, once *Cancel becomes true before the
// user-interface thread took the call.
bool Synchronize(const std::function<void()>& Fn, const std::atomic<bool>* Cancel = nullptr);
// Queues Fn to run on the user-interface thread (inside SafeCall) and returns at once.
void QueueToMainThread(std::function<void()> Fn);
// Runs the calls queued for the user-interface thread; true when any ran. A wait on
// that thread that must keep workers moving pumps them through this.
bool ProcessPendingSynchronizedCalls();
// A user-interface thread that runs queued calls exists (an application object is alive).
bool MainThreadSyncTargetExists();

// The quit state that such waits check, so a quit met while waiting is not lost.
void RequestQuit(int32_t ExitCode);
bool QuitRequested(int32_t* ExitCode = nullptr);
void ClearQuitRequest();

} // namespace kv
