// Waking the threads blocked in a serial device.
//
//   TnrWakeSignal   one thread's wake-up descriptor (an eventfd); each thread has one
//                   (ThisThreadWakeSignal), reused by all of its blocking calls
//   TnrWakeChannel  the list of threads blocked in one device right now; Kick() wakes all
//                   of them
//
// A device's blocking calls poll their thread's signal next to the port, so that a new
// event mask, a close or an event raised by another thread ends a pending wait at once
// instead of after a timeout. Each waiter has its own descriptor and drains it itself, so
// a kick meant for one call never leaves another spinning on a descriptor that stays
// readable.
//
// Protocol for a blocking call: under the device's lock Enter(&signal) and read the state
// waited on; unlock and poll; when the signal fired, Drain() it, lock and read the state
// again; Leave(&signal) under the lock. A change made under the lock and followed by
// Kick() is then never missed.
//
// Threads: TnrWakeChannel's members must be called with the owning device's lock held.
// A TnrWakeSignal belongs to its thread; Signal() may come from any thread.
#pragma once

#include <vector>

class TnrWakeSignal {
public:
    TnrWakeSignal();
    ~TnrWakeSignal();
    TnrWakeSignal(const TnrWakeSignal&) = delete;
    TnrWakeSignal& operator=(const TnrWakeSignal&) = delete;

    int Fd() const { return fFd; }
    void Signal();
    void Drain();

private:
    int fFd;
};

// The calling thread's signal, created on first use and closed when the thread ends.
TnrWakeSignal& ThisThreadWakeSignal();

class TnrWakeChannel {
public:
    void Enter(TnrWakeSignal* waiter);
    void Leave(TnrWakeSignal* waiter);
    void Kick();
    int Waiters() const { return static_cast<int>(fWaiters.size()); }

private:
    std::vector<TnrWakeSignal*> fWaiters;
};
