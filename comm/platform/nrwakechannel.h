// TnrWakeChannel: the internal wake-up descriptor of a serial device (an eventfd).
//
// A device's waits poll it next to the port, so that a new event mask, a close or an
// event raised by another thread ends a pending wait at once instead of after a timeout.
// Any number of threads may wait; Kick() wakes all of them, because the descriptor stays
// readable until the last waiter has left.
//
// Threads: Enter, Leave and Kick must be called with the owning device's lock held, and
// a waiter must read the device state it waits on under that lock after Enter(): then a
// change made later is always followed by a Kick() the waiter sees. Fd() may be polled
// without the lock.
#pragma once

class TnrWakeChannel {
public:
    TnrWakeChannel();
    ~TnrWakeChannel();
    TnrWakeChannel(const TnrWakeChannel&) = delete;
    TnrWakeChannel& operator=(const TnrWakeChannel&) = delete;

    // False when the eventfd could not be created (errno tells why).
    bool IsValid() const { return fFd >= 0; }
    int Fd() const { return fFd; }

    void Enter() { ++fWaiters; }
    // The last waiter to leave drains the descriptor, so old kicks can't wake a later wait.
    void Leave();
    void Kick();
    int Waiters() const { return fWaiters; }

private:
    int fFd;
    int fWaiters = 0;
};
