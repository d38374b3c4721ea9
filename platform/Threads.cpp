#include "platform/Threads.h"

#include "platform/Forms.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <chrono>
#include <exception>

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

void Synchronize(const std::function<void()>& Fn)
{
    if (IsMainThread()) {
        Fn();
        return;
    }
    std::exception_ptr error;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [&] {
            try {
                Fn();
            } catch (...) {
                error = std::current_exception();
            }
        },
        Qt::BlockingQueuedConnection);
    if (error)
        std::rethrow_exception(error);
}

void QueueToMainThread(std::function<void()> Fn)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        SafeCall(Fn);
        return;
    }
    QMetaObject::invokeMethod(app, [fn = std::move(Fn)] { SafeCall(fn); }, Qt::QueuedConnection);
}

} // namespace kv
