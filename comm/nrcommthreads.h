// The two threads that serve an open serial port, and what they share with it.
//
//   TCommThread    the event thread: waits on the port for the events of the mask and
//                  hands every completed mask, as "nrCommMsgComEvent", to the thread that
//                  processes events: straight to the user-interface thread when
//                  UseMainThread is true and there is an application object, else to the
//                  message thread's queue. With an EventInterval, a receive event that
//                  comes sooner than that after the one before is held until the interval
//                  is over, without waiting on the port meanwhile, so a stream of small
//                  arrivals wakes both threads once an interval; with an
//                  EventIntervalEnd the hold watches the port and ends with the arrival
//                  of that byte, so only the user-interface thread's wake-ups are saved,
//                  and a record's last byte is not held. When the wait fails (the
//                  device is gone) it hands on a device-failed item instead and ends.
//   TMsgThread     the message thread: takes the queued items one by one, in order, and
//                  has the component process each on itself. A device-failed item closes
//                  the port the same way, so the close never overlaps an event being
//                  processed. While events go to the user-interface thread it only waits
//                  for the end of the open.
//   TCommSession   the state a component and its two threads share for one open: the
//                  queue, the items waiting for the user-interface thread, the event
//                  thread's wake-up event and the processing lock. All three hold it by
//                  shared reference; whoever lets go last frees it, so a thread still
//                  ending after the component was closed or destroyed only ever touches
//                  the session.
//   TCommQueue     a queue of items. Posting to it after it was closed is refused.
//   TCommWriter    the writer thread of an open port, started at its first send: it hands
//                  queued transfers to the driver one after the other, so a send that
//                  returns before its bytes are written (SendData) keeps its own copy and
//                  the bytes of successive sends keep their order. A queued transfer that
//                  fails is reported through the thread that processes events (DoCommError).
//
// Why the event thread posts to the user-interface thread itself: a hop through the
// message thread, which then waits for the user-interface thread, costs two more thread
// wake-ups per arrival (the message thread woken by the post, and again when the
// processing is done) and buys nothing the user-interface thread's own queue doesn't
// give: the items keep their order, one call on the user-interface thread takes every
// item waiting by then, and a close still drops what has not started.
//
// The registered messages "nrCommMsgComEvent" and "nrCommMsgQuitComEvent" are registered
// by nrcommModule at start-up, or at first use.
//
// Threads and locks:
//   - The event thread never touches the component: it uses the port handle it took at
//     start, the session's wake-up event and the session's two item lists.
//   - Items are processed, on whichever thread, only while it holds the session's
//     ProcessLock and has found the session not terminated. TnrCustomComm::StopThreads sets
//     Terminated under that same lock, and every close goes through it, so a component
//     can't be closed or destroyed under an event being processed, and nothing processes
//     after a close has begun. The lock is recursive: a handler may close the port (or
//     destroy the component) from inside the processing.
//   - Both threads free themselves when they end; nobody joins them. Closing wakes both at
//     once (queue closed, wake-up event set), so they end promptly.
#pragma once

#include "nrapplication.h"
#include "nrmessages.h"
#include "nrmodules.h"
#include "platform/nrhandle.h"
#include "platform/nrserialapi.h"

#include <QByteArray>
#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class TnrCustomComm;
class TCommSession;

// Identifiers of the two registered messages of the serial port module.
std::uint32_t CommMsgComEvent();
std::uint32_t CommMsgQuitComEvent();

extern const TLibraryModule nrcommModule;

// One entry of the message thread's queue.
struct TCommQueueItem {
    // ciSendFailed: a transfer queued by SendData failed; Msg.WParam is the error code.
    enum TKind : std::uint8_t { ciMessage, ciDeviceFailed, ciSendFailed };
    TKind Kind = ciMessage;
    TMessage Msg;
};

class TCommQueue {
public:
    // False when the queue is closed (its thread has ended or is ending). A receive-only
    // mask posted while an unprocessed item with EV_RXCHAR is still queued is merged into
    // it: that item's processing reads every byte waiting by then, so the queue stays
    // short under a flood of input.
    bool Post(const TCommQueueItem& item);
    // Waits for the next item; false once the queue is closed.
    bool Take(TCommQueueItem& item);
    // Refuses later posts, drops what is queued and wakes a waiting Take.
    void Close();
    bool IsClosed() const;

private:
    mutable std::mutex fLock;
    std::condition_variable fChanged;
    std::deque<TCommQueueItem> fItems;
    bool fClosed = false;
};

class TCommWriter {
public:
    // Starts the writer thread on hDevice; it ends when the writer is closed.
    static std::shared_ptr<TCommWriter> Start(THandle hDevice, std::shared_ptr<TCommSession> Session);

    // Queues the bytes. With Wait, waits until the driver took them and returns the
    // result, with the reason as last error on failure; without, returns once queued.
    // False with ECANCELED when the writer is closed.
    bool Write(QByteArray Bytes, bool Wait);
    // Bytes queued and not yet handed to the driver.
    std::uint32_t Pending() const;
    // Drops the queued transfers (they fail with ECANCELED) and keeps the failure of the
    // one being written, if the purge ends it, from being reported.
    void Abort();
    // Refuses later writes, aborts the queued ones and lets the thread end.
    void Close();

    TCommWriter() = default;

private:
    struct TTransfer;
    void Execute(THandle hDevice, const std::shared_ptr<TCommSession>& Session);

    mutable std::mutex fLock;
    std::condition_variable fChanged;
    std::deque<std::shared_ptr<TTransfer>> fQueue;
    std::uint32_t fPending = 0;
    std::uint32_t fAbortGeneration = 0;
    bool fClosed = false;
};

class TCommSession : public std::enable_shared_from_this<TCommSession> {
public:
    // Com is only used on the thread that processes events, under ProcessLock and while
    // the session is not terminated.
    TCommSession(TnrCustomComm* Com, THandle hDevice) : fCom(Com), fDevice(hDevice) {}

    // Guards event processing, on whichever thread, and the close.
    std::recursive_mutex ProcessLock;
    // The message thread's queue.
    TCommQueue Queue;
    // The event thread's "ovl" event: set to end a pending wait.
    TnrEvent WakeUp;

    // Hands an item to the thread that processes events: to the user-interface thread
    // while events go there (see SetToMainThread), else to the message thread's queue.
    // False once the session has ended.
    bool Post(const TCommQueueItem& item);
    // Whether events go to the user-interface thread; the component keeps it equal to its
    // UseMainThread. Items already handed on stay where they are.
    void SetToMainThread(bool Value) { fToMainThread.store(Value, std::memory_order_release); }
    // The component's EventInterval, in milliseconds, for the event thread.
    void SetEventInterval(std::uint32_t Ms) { fEventInterval.store(Ms, std::memory_order_relaxed); }
    std::uint32_t EventInterval() const { return fEventInterval.load(std::memory_order_relaxed); }
    // The component's EventIntervalEnd (-1: none), for the event thread.
    void SetEventIntervalEnd(int Byte) { fEventIntervalEnd.store(Byte, std::memory_order_relaxed); }
    int EventIntervalEnd() const { return fEventIntervalEnd.load(std::memory_order_relaxed); }

    // Set under ProcessLock; read anywhere.
    bool Terminated() const { return fTerminated.load(std::memory_order_acquire); }
    // Ends the threads of this open (call with ProcessLock held): the event thread's
    // wait, the message thread's queue, a pending hand-off to the user-interface thread
    // and the writer.
    void Terminate();

    // The writer of this open, started at the first call with Start; null when it isn't
    // running or the session has ended.
    std::shared_ptr<TCommWriter> Writer(bool Start);

    // Processes one item: with ProcessLock held and the session not terminated.
    void Process(const TCommQueueItem& item);

private:
    // Runs on the user-interface thread: processes the items waiting for it by then.
    void DeliverToMainThread();
    // The call, for the user-interface thread, that runs DeliverToMainThread.
    std::function<void()> MainCall();

    TnrCustomComm* const fCom;
    const THandle fDevice;
    std::atomic<bool> fTerminated{false};
    std::atomic<bool> fToMainThread{false};
    std::atomic<std::uint32_t> fEventInterval{0};
    std::atomic<int> fEventIntervalEnd{-1};
    // Items for the user-interface thread; fMainCallQueued while a call to take them is
    // on its way, so a burst of arrivals costs one call.
    std::mutex fMainLock;
    std::deque<TCommQueueItem> fMainItems;
    bool fMainCallQueued = false;
    std::mutex fWriterLock;
    std::shared_ptr<TCommWriter> fWriter;
};

class TCommThread {
public:
    // Starts the event thread on hDevice; it frees itself when it ends.
    static void Start(TnrCustomComm* Com, THandle hDevice, std::shared_ptr<TCommSession> Session);

private:
    TCommThread(TnrCustomComm* Com, THandle hDevice, std::shared_ptr<TCommSession> Session);
    void Execute();
    // The session's EventInterval.
    std::chrono::milliseconds Interval() const;
    // Holds a receive event until due. Without an EventIntervalEnd it does not wait on the
    // port meanwhile; with one it watches the arrivals for that byte and ends at it,
    // adding to mask what the port reported meanwhile. False when the open ended or the
    // device failed meanwhile (failed is then set: the held events are still to post).
    bool HoldUntil(std::chrono::steady_clock::time_point due, std::uint32_t& mask, bool& failed);
    void PostDeviceFailed();

    // Only identifies the component served; never dereferenced here.
    TnrCustomComm* const Com;
    const THandle hDevice;
    const std::shared_ptr<TCommSession> fSession;
};

class TMsgThread {
public:
    // Starts the message thread for Com; it frees itself when it ends.
    static void Start(TnrCustomComm* Com, std::shared_ptr<TCommSession> Session);

private:
    TMsgThread(TnrCustomComm* Com, std::shared_ptr<TCommSession> Session);
    void Execute();

    TnrCustomComm* const Com;
    const std::shared_ptr<TCommSession> fSession;
    // The message being handled.
    TMessage glMsg;
};

// Number of port threads (event and message threads of every component) still running,
// for tests and diagnostics.
int CommThreadsRunning();
