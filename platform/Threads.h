// Locks, events and handing work to the user-interface thread.
#pragma once

#include "platform/SysUtils.h"

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
// back to the caller. Called on the user-interface thread, Fn runs at once.
void Synchronize(const std::function<void()>& Fn);
// Queues Fn to run on the user-interface thread (inside SafeCall) and returns at once.
void QueueToMainThread(std::function<void()> Fn);

} // namespace kv
