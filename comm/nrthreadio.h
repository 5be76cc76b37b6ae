// TnrThreadIO: the worker thread an I/O component can run its own thread body on.
//
// The thread frees itself when its body returns. The component keeps only the shared
// TnrThreadControl, never the thread object: that is where it asks the thread to stop
// and waits for its end, so the wait never touches a thread that is already gone.
//
// Threads: Terminate, WaitFor and Terminated may be called from any thread. Synchronize
// runs on the worker and returns false without running the call once the thread has
// been asked to stop, so a component stopping its worker from the user-interface thread
// can't deadlock with a hand-off that waits for that same thread.
#pragma once

#include "nrapplication.h"
#include "nrbaseio.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class TnrThreadControl {
public:
    void Terminate();
    bool Terminated() const { return fTerminated.load(std::memory_order_acquire); }
    // Waits until the thread body has returned. Returns at once when called on the
    // worker thread itself, which can't wait for its own end.
    void WaitFor();
    bool Ended() const;

    TnrMainThreadGate& Gate() { return fGate; }

private:
    friend class TnrThreadIO;
    void SignalEnd();

    std::atomic<bool> fTerminated{false};
    mutable std::mutex fLock;
    std::condition_variable fEndChanged;
    bool fEnded = false;
    std::thread::id fThreadId;
    TnrMainThreadGate fGate;
};

class TnrThreadIO {
public:
    // Starts the thread at once; it runs anrComm->ExecuteThreadIO(thread) and frees
    // itself afterwards. The returned control outlives it.
    static std::shared_ptr<TnrThreadControl> Create(TnrBaseIO* anrComm, TThreadPriority pr,
                                                    TnrThreadIO** created = nullptr);

    bool Terminated() const { return fControl->Terminated(); }
    // Runs Method on the user-interface thread and waits for it; false when it did not
    // run because the thread is being stopped.
    bool Synchronize(const std::function<void()>& Method);

    TnrBaseIO* Component() const { return fnrComm; }

private:
    TnrThreadIO(TnrBaseIO* anrComm, std::shared_ptr<TnrThreadControl> control);
    void Execute();

    TnrBaseIO* fnrComm;
    std::shared_ptr<TnrThreadControl> fControl;
};
