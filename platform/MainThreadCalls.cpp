#include "platform/MainThreadCalls.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <condition_variable>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace kv {

namespace {

// The thread that started the program is the main thread.
const std::thread::id MainThreadId = std::this_thread::get_id();

struct TPendingCall {
    std::function<void()> Call;
    bool Taken = false;
    bool Done = false;
    std::exception_ptr Error;
};

// Owned by the process; guarded by its mutex.
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
        QMetaObject::invokeMethod(app, [] { ProcessPendingSynchronizedCalls(); }, Qt::QueuedConnection);
}

std::atomic<bool> QuitFlag{false};
std::atomic<int32_t> QuitCode{0};

} // namespace

bool IsMainThread() { return std::this_thread::get_id() == MainThreadId; }

bool Synchronize(const std::function<void()>& Call, const std::atomic<bool>* Cancel)
{
    if (IsMainThread()) {
        Call();
        return true;
    }
    auto pending = std::make_shared<TPendingCall>();
    pending->Call = Call;
    TCallQueue& q = Queue();
    {
        std::lock_guard<std::mutex> guard(q.Lock);
        q.Calls.push_back(pending);
    }
    WakeMainThread();
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

void QueueOnMainThread(std::function<void()> Call)
{
    auto pending = std::make_shared<TPendingCall>();
    pending->Call = std::move(Call);
    {
        std::lock_guard<std::mutex> guard(Queue().Lock);
        Queue().Calls.push_back(pending);
    }
    WakeMainThread();
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
        QMetaObject::invokeMethod(app, [ExitCode] { QCoreApplication::exit(ExitCode); }, Qt::QueuedConnection);
}

bool QuitRequested(int32_t* ExitCode)
{
    if (ExitCode)
        *ExitCode = QuitCode;
    return QuitFlag;
}

void ClearQuitRequest() { QuitFlag = false; }

namespace {
struct TFormatNames {
    std::mutex Lock;
    std::map<std::string, uint16_t> ByName;
    std::map<uint16_t, std::string> ByNumber;
};
TFormatNames& FormatNames()
{
    static TFormatNames names;
    return names;
}
} // namespace

uint16_t RegisterClipboardFormatName(const std::string& Name)
{
    TFormatNames& n = FormatNames();
    std::lock_guard<std::mutex> guard(n.Lock);
    auto it = n.ByName.find(Name);
    if (it != n.ByName.end())
        return it->second;
    uint16_t number = uint16_t(0xC000 + n.ByName.size());
    n.ByName[Name] = number;
    n.ByNumber[number] = Name;
    return number;
}

std::string ClipboardFormatName(uint16_t Format)
{
    TFormatNames& n = FormatNames();
    std::lock_guard<std::mutex> guard(n.Lock);
    auto it = n.ByNumber.find(Format);
    return it == n.ByNumber.end() ? std::string() : it->second;
}

} // namespace kv

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace kv {

namespace {
QString MimeForFormat(const std::string& FormatName)
{
    return QString("application/x-qt-windows-mime;value=\"%1\"").arg(QString::fromStdString(FormatName));
}
} // namespace

std::vector<uint8_t> GetClipboardBlock(const std::string& FormatName)
{
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app || !IsMainThread())
        return {};
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
    if (!mime)
        return {};
    QByteArray bytes = mime->data(MimeForFormat(FormatName));
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

bool SetClipboardBlock(const std::string& FormatName, const std::vector<uint8_t>& Data)
{
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app || !IsMainThread())
        return false;
    QClipboard* clipboard = QGuiApplication::clipboard();
    auto* mime = new QMimeData;
    if (const QMimeData* old = clipboard->mimeData())
        for (const QString& f : old->formats())
            mime->setData(f, old->data(f));
    mime->setData(MimeForFormat(FormatName),
                  QByteArray(reinterpret_cast<const char*>(Data.data()), qsizetype(Data.size())));
    clipboard->setMimeData(mime);
    return true;
}

} // namespace kv
