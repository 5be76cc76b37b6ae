#include "nrcommthreads.h"

#include "nrcomm.h"
#include "platform/nrerror.h"

#include <QCoreApplication>
#include <QTimer>
#include <pthread.h>
#include <cerrno>
#include <exception>
#include <memory>
#include <thread>

namespace {

// 1 KiB in a hold of 8 ms is about 1.3 Mbaud; a UART's driver queue is 4 KiB.
constexpr std::uint32_t kFastLinkBytes = 1024;
// How long a fast link goes unheld before one hold looks at it again.
constexpr auto kFastLinkRecheck = std::chrono::seconds(1);
// How long one call on the user-interface thread goes on taking the events of a flood.
constexpr auto kMainCallBudget = std::chrono::milliseconds(4);

std::atomic<int> gThreadsRunning{0};
std::atomic<std::uint32_t> gMsgComEvent{0};
std::atomic<std::uint32_t> gMsgQuitComEvent{0};

std::uint32_t RegisteredMessage(std::atomic<std::uint32_t>& id, const char* name) {
    std::uint32_t value = id.load(std::memory_order_acquire);
    if (value == 0) {
        // The registry gives the same identifier for the same name, so two threads
        // racing here store the same value.
        value = RegisterWindowMessage(QString::fromLatin1(name));
        id.store(value, std::memory_order_release);
    }
    return value;
}

void RegisterCommMessages() {
    CommMsgComEvent();
    CommMsgQuitComEvent();
}

// Starts a detached thread and counts it while it runs. The count goes up before the
// thread exists, so a caller that checks it right after starting sees the thread.
template <class F> void StartCounted(F&& body) {
    gThreadsRunning.fetch_add(1, std::memory_order_acq_rel);
    try {
        std::thread([body = std::forward<F>(body)]() mutable {
            body();
            gThreadsRunning.fetch_sub(1, std::memory_order_acq_rel);
        }).detach();
    } catch (...) {
        gThreadsRunning.fetch_sub(1, std::memory_order_acq_rel);
        throw;
    }
}

// The name top -H, perf and debuggers show for the thread (at most 15 characters).
void NameThisThread(const char* name) { pthread_setname_np(pthread_self(), name); }

// Runs (thread->*execute)() on a counted thread of its own; the thread frees the object
// when it returns. If no thread can be started, the object is freed here.
template <class TThread> void RunAndFree(std::unique_ptr<TThread> thread, void (TThread::*execute)()) {
    TThread* running = thread.get();
    StartCounted([running, execute] {
        (running->*execute)();
        delete running;
    });
    thread.release(); // the thread owns it now
}

// A receive-only mask behind an unprocessed item with EV_RXCHAR is merged into it: that
// item's processing reads every byte waiting by then. False when merged.
bool AppendMerged(std::deque<TCommQueueItem>& items, const TCommQueueItem& item) {
    const bool receiveOnly = item.Kind == TCommQueueItem::ciMessage && item.Msg.WParam == EV_RXCHAR;
    if (receiveOnly && !items.empty()) {
        const TCommQueueItem& last = items.back();
        if (last.Kind == TCommQueueItem::ciMessage && last.Msg.Msg == item.Msg.Msg &&
            (last.Msg.WParam & EV_RXCHAR))
            return false;
    }
    items.push_back(item);
    return true;
}

} // namespace

std::uint32_t CommMsgComEvent() {
    return RegisteredMessage(gMsgComEvent, "nrCommMsgComEvent");
}

std::uint32_t CommMsgQuitComEvent() {
    return RegisteredMessage(gMsgQuitComEvent, "nrCommMsgQuitComEvent");
}

const TLibraryModule nrcommModule{"nrcomm", &RegisterCommMessages, nullptr};

int CommThreadsRunning() {
    return gThreadsRunning.load(std::memory_order_acquire);
}

// --- TCommQueue ---

bool TCommQueue::Post(const TCommQueueItem& item) {
    std::lock_guard g(fLock);
    if (fClosed) return false;
    if (AppendMerged(fItems, item)) fChanged.notify_one();
    return true;
}

bool TCommQueue::Take(TCommQueueItem& item) {
    std::unique_lock lk(fLock);
    fChanged.wait(lk, [this] { return fClosed || !fItems.empty(); });
    if (fClosed) return false;
    item = fItems.front();
    fItems.pop_front();
    return true;
}

void TCommQueue::Close() {
    std::lock_guard g(fLock);
    fClosed = true;
    fItems.clear();
    fChanged.notify_all();
}

bool TCommQueue::IsClosed() const {
    std::lock_guard g(fLock);
    return fClosed;
}

// --- TCommWriter ---

struct TCommWriter::TTransfer {
    QByteArray Data;
    bool Wait = false;
    bool Done = false;
    bool Ok = false;
    std::uint32_t Error = 0;
};

std::shared_ptr<TCommWriter> TCommWriter::Start(THandle hDevice, std::shared_ptr<TCommSession> Session) {
    auto writer = std::make_shared<TCommWriter>();
    StartCounted([writer, hDevice, Session] { writer->Execute(hDevice, Session); });
    return writer;
}

bool TCommWriter::Write(QByteArray Bytes, bool Wait) {
    auto transfer = std::make_shared<TTransfer>();
    transfer->Data = std::move(Bytes);
    transfer->Wait = Wait;
    std::unique_lock lk(fLock);
    if (fClosed) {
        SetLastError(ECANCELED);
        return false;
    }
    fPending += static_cast<std::uint32_t>(transfer->Data.size());
    fQueue.push_back(transfer);
    fChanged.notify_all();
    if (!Wait) return true;
    fChanged.wait(lk, [&] { return transfer->Done; });
    if (!transfer->Ok) SetLastError(transfer->Error);
    return transfer->Ok;
}

std::uint32_t TCommWriter::Pending() const {
    std::lock_guard g(fLock);
    return fPending;
}

void TCommWriter::Abort() {
    std::lock_guard g(fLock);
    ++fAbortGeneration;
    // The transfer being written is no longer in the queue: the purge of the driver's
    // output ends it, and its waiter gets the driver's answer.
    for (const auto& transfer : fQueue) {
        fPending -= static_cast<std::uint32_t>(transfer->Data.size());
        transfer->Done = true;
        transfer->Ok = false;
        transfer->Error = ECANCELED;
    }
    fQueue.clear();
    fChanged.notify_all();
}

void TCommWriter::Close() {
    {
        std::lock_guard g(fLock);
        fClosed = true;
    }
    Abort();
}

void TCommWriter::Execute(THandle hDevice, const std::shared_ptr<TCommSession>& Session) {
    NameThisThread("nrcomm-write");
    for (;;) {
        std::shared_ptr<TTransfer> transfer;
        std::uint32_t generation = 0;
        {
            std::unique_lock lk(fLock);
            fChanged.wait(lk, [this] { return fClosed || !fQueue.empty(); });
            if (fQueue.empty()) return; // closed
            transfer = fQueue.front();
            fQueue.pop_front();
            generation = fAbortGeneration;
        }
        const auto size = static_cast<std::uint32_t>(transfer->Data.size());
        std::uint32_t written = 0;
        const bool ok = size == 0 || WriteFile(hDevice, transfer->Data.constData(), size, written);
        const std::uint32_t error = ok ? 0 : GetLastError();
        bool report = false;
        {
            std::lock_guard g(fLock);
            fPending -= size;
            transfer->Done = true;
            transfer->Ok = ok;
            transfer->Error = error;
            // A transfer nobody waits for reports its own failure, unless a purge or the
            // close ended it.
            report = !ok && !transfer->Wait && generation == fAbortGeneration && !fClosed;
            fChanged.notify_all();
        }
        if (report) {
            TCommQueueItem item;
            item.Kind = TCommQueueItem::ciSendFailed;
            item.Msg.WParam = error;
            Session->Post(item);
        }
    }
}

// --- TCommSession ---

bool TCommSession::Post(const TCommQueueItem& item) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!fToMainThread.load(std::memory_order_acquire) || !app) return Queue.Post(item);
    {
        std::lock_guard g(fMainLock);
        if (Terminated()) return false;
        AppendMerged(fMainItems, item);
        if (fMainCallQueued) return true;
        fMainCallQueued = true;
    }
    PostToMainThread(app, MainCall());
    return true;
}

std::function<void()> TCommSession::MainCall() {
    // A weak reference: a call still queued after the open ended holds nothing (the
    // session's wake-up event is a descriptor) and finds nothing to do.
    return [weak = weak_from_this()] {
        if (const auto session = weak.lock()) session->DeliverToMainThread();
    };
}

void TCommSession::DeliverToMainThread() {
    std::lock_guard lk(ProcessLock);
    QCoreApplication* app = QCoreApplication::instance();
    // Arrivals during the processing are taken by the same call for a few milliseconds,
    // then by a new one, so a flood can't keep the user-interface thread from its other
    // events.
    const auto until = std::chrono::steady_clock::now() + kMainCallBudget;
    std::deque<TCommQueueItem> items;
    for (bool budgetSpent = false;; budgetSpent = std::chrono::steady_clock::now() >= until) {
        {
            std::lock_guard g(fMainLock);
            if (fMainItems.empty() || Terminated() || !app) {
                fMainCallQueued = false;
                return;
            }
            if (budgetSpent) break;
            items.clear();
            items.swap(fMainItems);
        }
        for (const TCommQueueItem& item : items) {
            if (Terminated()) return;
            Process(item);
        }
    }
    // More came meanwhile (a flood). Through a timer, not a posted call: while posted
    // calls keep coming the event loop does not get back to its timers, and the owner's
    // timers (a status refresh) would never run during a flood. A real zero-interval
    // timer (the static single shot of 0 ms is a posted call) runs with the other timers.
    auto* timer = new QTimer(app);
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, app, [timer, call = MainCall()] {
        timer->deleteLater();
        call();
    });
    timer->start(0);
}

void TCommSession::Process(const TCommQueueItem& item) {
    TnrCustomComm* const Com = fCom;
    try {
        switch (item.Kind) {
        case TCommQueueItem::ciMessage:
            Com->ProcessCommEvent(item.Msg);
            break;
        case TCommQueueItem::ciDeviceFailed: {
            // Bytes that arrived before the device went and can still be read are
            // delivered before the close.
            TComStat stat;
            if (ClearCommError(Com->Handle(), nullptr, &stat) && stat.cbInQue > 0) {
                TMessage msg;
                msg.Msg = CommMsgComEvent();
                msg.WParam = EV_RXCHAR;
                Com->ProcessCommEvent(msg);
            }
            // A handler may have closed (or closed and reopened) the port meanwhile.
            if (!Terminated() && Com->ShutDown(false)) Com->DeviceVanished();
            break;
        }
        case TCommQueueItem::ciSendFailed:
            Com->DoCommError(0, static_cast<std::uint32_t>(item.Msg.WParam), TComStateFlags{});
            break;
        }
    } catch (const std::exception& e) {
        // Raised outside event processing (which reports its own through the fatal-error
        // path), e.g. by OnCommError of a failed send: show it like any exception that
        // reaches the event loop, instead of ending the program.
        ShowException(QString::fromUtf8(e.what()));
    } catch (...) {
        ShowException(QStringLiteral("Unknown exception"));
    }
}

void TCommSession::Terminate() {
    fTerminated.store(true, std::memory_order_release);
    WakeUp.Set();
    {
        std::lock_guard g(fMainLock);
        fMainItems.clear();
    }
    Queue.Close();
    std::shared_ptr<TCommWriter> writer;
    {
        std::lock_guard g(fWriterLock);
        writer = std::move(fWriter);
    }
    if (writer) writer->Close();
}

std::shared_ptr<TCommWriter> TCommSession::Writer(bool Start) {
    std::lock_guard g(fWriterLock);
    if (!fWriter && Start && !Terminated()) fWriter = TCommWriter::Start(fDevice, shared_from_this());
    return fWriter;
}

// --- TCommThread ---

TCommThread::TCommThread(TnrCustomComm* aCom, THandle aDevice, std::shared_ptr<TCommSession> Session)
    : Com(aCom), hDevice(aDevice), fSession(std::move(Session)) {}

void TCommThread::Start(TnrCustomComm* Com, THandle hDevice, std::shared_ptr<TCommSession> Session) {
    RunAndFree(std::unique_ptr<TCommThread>(new TCommThread(Com, hDevice, std::move(Session))), &TCommThread::Execute);
}

void TCommThread::Execute() {
    if (hDevice == INVALID_HANDLE_VALUE) return;
    NameThisThread("nrcomm-event");
    TCommSession& session = *fSession;
    // A receive event that comes within the interval of the event before it is part of
    // a stream: it is held until the interval after the last post is over. The event
    // before is the one seen, not the one posted: the bytes that came during a hold
    // report themselves again right after it (the held event's processing reads them),
    // and a lone arrival after the stream must not be held for that.
    // A hold that gathers kFastLinkBytes found a link faster than the interval suits (a
    // flood, a pseudo-terminal, an adapter at megabaud rates): held, the driver's queue
    // would fill and throttle or drop the stream, so events go unheld for a while.
    std::chrono::steady_clock::time_point lastPost{}, lastEvent{}, unheldUntil{};
    while (!session.Terminated()) {
        std::uint32_t mask = 0;
        const TnrWaitResult result = WaitCommEvent(hDevice, mask, &session.WakeUp);
        if (session.Terminated()) break;
        switch (result) {
        case TnrWaitResult::wrEvent:
            // An empty mask: the event mask was changed; the next wait uses the new one.
            if (mask != 0) {
                const auto arrived = std::chrono::steady_clock::now();
                const bool held =
                    mask == EV_RXCHAR && arrived - lastEvent < Interval() && arrived >= unheldUntil;
                lastEvent = arrived;
                bool failed = false;
                if (held) {
                    if (!HoldUntil(lastPost + Interval(), mask, failed) && !failed) return; // closed while held
                    // A hold that watched the port saw the arrivals until now.
                    if (session.EventIntervalEnd() >= 0) lastEvent = std::chrono::steady_clock::now();
                    std::uint32_t queued = 0;
                    if (!failed && InputQueueCount(hDevice, queued) && queued >= kFastLinkBytes)
                        unheldUntil = std::chrono::steady_clock::now() + kFastLinkRecheck;
                }
                TCommQueueItem item;
                item.Msg.Msg = CommMsgComEvent();
                item.Msg.WParam = mask;
                if (!session.Post(item)) return; // this open has ended
                lastPost = std::chrono::steady_clock::now();
                if (failed) {
                    PostDeviceFailed();
                    return;
                }
            }
            break;
        case TnrWaitResult::wrWoken:
            session.WakeUp.TryConsume();
            break;
        case TnrWaitResult::wrInvalidHandle:
            return; // someone else closed the port
        case TnrWaitResult::wrFailed:
            PostDeviceFailed();
            return;
        case TnrWaitResult::wrTimeout:
            break; // not asked for here
        }
    }
}

std::chrono::milliseconds TCommThread::Interval() const {
    return std::chrono::milliseconds(fSession->EventInterval());
}

void TCommThread::PostDeviceFailed() {
    // The device is gone. The close is handed to the thread that processes events, so it
    // can't overlap an event being processed and OnClose runs where the owner expects it.
    TCommQueueItem item;
    item.Kind = TCommQueueItem::ciDeviceFailed;
    fSession->Post(item);
}

bool TCommThread::HoldUntil(std::chrono::steady_clock::time_point due, std::uint32_t& mask, bool& failed) {
    failed = false;
    const int end = fSession->EventIntervalEnd();
    if (end < 0) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= due) return true;
        // Only a close sets the wake-up event meanwhile; bytes arriving now stay in the
        // driver's queue and the held event's processing reads them too.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - now);
        fSession->WakeUp.WaitFor(static_cast<int>(left.count()));
        return !fSession->Terminated();
    }
    for (;;) {
        bool found = false;
        // Anything beside bytes is not held either.
        if (mask != EV_RXCHAR || (InputQueueContains(hDevice, static_cast<char>(end), found) && found))
            return true;
        const auto now = std::chrono::steady_clock::now();
        if (now >= due) return true;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - now);
        std::uint32_t more = 0;
        switch (WaitCommEvent(hDevice, more, &fSession->WakeUp, static_cast<int>(left.count()))) {
        case TnrWaitResult::wrEvent:
            mask |= more; // empty when the mask was changed
            break;
        case TnrWaitResult::wrWoken:
            fSession->WakeUp.TryConsume();
            break;
        case TnrWaitResult::wrTimeout:
            return true;
        case TnrWaitResult::wrInvalidHandle:
            return false;
        case TnrWaitResult::wrFailed:
            failed = true;
            return false;
        }
        if (fSession->Terminated()) return false;
    }
}

// --- TMsgThread ---

TMsgThread::TMsgThread(TnrCustomComm* aCom, std::shared_ptr<TCommSession> Session)
    : Com(aCom), fSession(std::move(Session)) {}

void TMsgThread::Start(TnrCustomComm* Com, std::shared_ptr<TCommSession> Session) {
    RunAndFree(std::unique_ptr<TMsgThread>(new TMsgThread(Com, std::move(Session))), &TMsgThread::Execute);
}

void TMsgThread::Execute() {
    if (!Com) return;
    NameThisThread("nrcomm-msg");
    TCommSession& session = *fSession;
    TCommQueueItem item;
    while (session.Queue.Take(item)) {
        if (item.Kind == TCommQueueItem::ciMessage && item.Msg.Msg == CommMsgQuitComEvent()) break;
        std::lock_guard lk(session.ProcessLock);
        if (session.Terminated()) break;
        glMsg = item.Msg;
        // The component is alive while the lock is held and the session not terminated:
        // its destruction closes the port, which terminates the session under this lock.
        session.Process(item);
    }
    session.Queue.Close();
}
