#include "platform/Threads.h"

#include "platform/Forms.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <chrono>
#include <deque>
#include <exception>
#include <memory>

namespace kv {

void TEvent::SetEvent()
{
    {
        std::lock_guard<std::mutex> lock(FLock);
        FSignaled = true;
    }
    if (FManualReset)
        FCondition.notify_all();
    else
        FCondition.notify_one();
}

void TEvent::ResetEvent()
{
    std::lock_guard<std::mutex> lock(FLock);
    FSignaled = false;
}

TWaitResult TEvent::WaitFor(uint32_t Milliseconds)
{
    std::unique_lock<std::mutex> lock(FLock);
    auto ready = [this] { return FSignaled; };
    if (Milliseconds == INFINITE)
        FCondition.wait(lock, ready);
    else if (!FCondition.wait_for(lock, std::chrono::milliseconds(Milliseconds), ready))
        return wrTimeout;
    if (!FManualReset)
        FSignaled = false;
    return wrSignaled;
}

bool IsMainThread()
{
    QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

namespace {

struct TPendingCall {
    std::function<void()> Call;
    bool Taken = false;
    bool Done = false;
    std::exception_ptr Error;
};

// Calls waiting for the user-interface thread; process-wide, guarded by its mutex.
struct TCallQueue {
    std::mutex Lock;
    std::condition_variable DoneSignal;
    std::deque<std::shared_ptr<TPendingCall>> Calls;
};

TCallQueue& Queue()
{
    static TCallQueue queue;
    return queue;
}

void WakeMainThread()
{
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [] { ProcessPendingSynchronizedCalls(); }, Qt::QueuedConnection);
}

void Enqueue(const std::shared_ptr<TPendingCall>& Pending)
{
    {
        std::lock_guard<std::mutex> guard(Queue().Lock);
        Queue().Calls.push_back(Pending);
    }
    WakeMainThread();
}

std::atomic<bool> QuitFlag{false};
std::atomic<int32_t> QuitCode{0};

} // namespace

bool Synchronize(const std::function<void()>& Fn, const std::atomic<bool>* Cancel)
{
    if (IsMainThread()) {
        Fn();
        return true;
    }
    auto pending = std::make_shared<TPendingCall>();
    pending->Call = Fn;
    Enqueue(pending);
    TCallQueue& q = Queue();
    std::unique_lock<std::mutex> guard(q.Lock);
    while (!pending->Done) {
        if (Cancel && Cancel->load() && !pending->Taken) {
            for (auto it = q.Calls.begin(); it != q.Calls.end(); ++it)
                if (*it == pending) {
                    q.Calls.erase(it);
                    break;
                }
            return false;
        }
        q.DoneSignal.wait_for(guard, std::chrono::milliseconds(5));
    }
    if (pending->Error)
        std::rethrow_exception(pending->Error);
    return true;
}

void QueueToMainThread(std::function<void()> Fn)
{
    auto pending = std::make_shared<TPendingCall>();
    pending->Call = [fn = std::move(Fn)] { SafeCall(fn); };
    if (!QCoreApplication::instance()) {
        pending->Call();
        return;
    }
    Enqueue(pending);
}

bool ProcessPendingSynchronizedCalls()
{
    if (!IsMainThread())
        return false;
    TCallQueue& q = Queue();
    bool any = false;
    for (;;) {
        std::shared_ptr<TPendingCall> next;
        {
            std::lock_guard<std::mutex> guard(q.Lock);
            if (q.Calls.empty())
                break;
            next = q.Calls.front();
            q.Calls.pop_front();
            next->Taken = true;
        }
        try {
            next->Call();
        } catch (...) {
            next->Error = std::current_exception();
        }
        {
            std::lock_guard<std::mutex> guard(q.Lock);
            next->Done = true;
        }
        q.DoneSignal.notify_all();
        any = true;
    }
    return any;
}

bool MainThreadSyncTargetExists() { return QCoreApplication::instance() != nullptr; }

void RequestQuit(int32_t ExitCode)
{
    QuitCode = ExitCode;
    QuitFlag = true;
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [ExitCode] { QCoreApplication::exit(ExitCode); }, Qt::QueuedConnection);
}

bool QuitRequested(int32_t* ExitCode)
{
    if (ExitCode)
        *ExitCode = QuitCode;
    return QuitFlag;
}

void ClearQuitRequest() { QuitFlag = false; }

} // namespace kv
