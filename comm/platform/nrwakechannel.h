// Waking the threads blocked in a serial device.
//
//   TnrWakeSignal   one blocked call's wake-up descriptor (an eventfd)
//   TnrWakeChannel  the calls blocked in one device right now, each with its signal taken
//                   from the device's small pool; Kick() wakes all of them
//
// A device's blocking calls poll their signal next to the port, so that a new event
// mask, a close or an event raised by another thread ends a pending wait at once instead
// of after a timeout. Each call has its own descriptor and drains it itself, so a kick
// meant for one call never leaves another spinning on a descriptor that stays readable.
// The pool keeps as many descriptors as calls were ever blocked at once (two or three),
// and the device gives them back when it closes.
//
// Protocol for a blocking call: under the device's lock Enter() and read the state
// waited on; unlock and poll; when the signal fired, Drain() it, lock and read the state
// again; Leave() under the lock. A change made under the lock and followed by Kick() is
// then never missed. A call may also mark itself Awake() while it holds the lock and
// reads the state again before it blocks (and must mark itself Asleep() before it
// unlocks): the kicks it makes itself then cost no system call on its own signal.
//
// Threads: TnrWakeChannel's members must be called with the owning device's lock held.
// Signal() may come from any thread.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

class TnrWakeSignal {
public:
    TnrWakeSignal();
    ~TnrWakeSignal();
    TnrWakeSignal(const TnrWakeSignal&) = delete;
    TnrWakeSignal& operator=(const TnrWakeSignal&) = delete;

    int Fd() const { return fFd; }
    // Writes the descriptor only when it is not already signalled.
    void Signal();
    // After a poll found the descriptor readable.
    void Drain();
    // At the end of a call: reads only what a Signal() left.
    void DrainIfSignalled();

private:
    int fFd;
    std::atomic<bool> fSignalled{false};
};

class TnrWakeChannel {
public:
    // The calling call's signal, registered for kicks; null when no descriptor could be
    // created (errno tells why).
    TnrWakeSignal* Enter();
    void Leave(TnrWakeSignal* waiter);
    void Kick();
    void Awake(TnrWakeSignal* waiter) { fAwake = waiter; }
    void Asleep() { fAwake = nullptr; }
    int Waiters() const { return static_cast<int>(fWaiters.size()); }
    // Closes the idle descriptors (when the device closes).
    void ReleaseIdle() { fIdle.clear(); }

private:
    std::vector<TnrWakeSignal*> fWaiters;
    // The waiter whose call holds the device's lock now; it needs no kick.
    TnrWakeSignal* fAwake = nullptr;
    std::vector<std::unique_ptr<TnrWakeSignal>> fIdle;
    std::vector<std::unique_ptr<TnrWakeSignal>> fBusy;
};
