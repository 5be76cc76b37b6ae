#include "nrwakechannel.h"

#include <algorithm>
#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

TnrWakeSignal::TnrWakeSignal() : fFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

TnrWakeSignal::~TnrWakeSignal() {
    if (fFd >= 0) ::close(fFd);
}

void TnrWakeSignal::Signal() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(fFd, &one, sizeof one);
}

void TnrWakeSignal::Drain() {
    std::uint64_t value;
    [[maybe_unused]] ssize_t n = ::read(fFd, &value, sizeof value);
}

TnrWakeSignal& ThisThreadWakeSignal() {
    thread_local TnrWakeSignal signal;
    return signal;
}

void TnrWakeChannel::Enter(TnrWakeSignal* waiter) {
    // A kick left over from an earlier call of this thread must not end this one.
    waiter->Drain();
    fWaiters.push_back(waiter);
}

void TnrWakeChannel::Leave(TnrWakeSignal* waiter) {
    auto it = std::find(fWaiters.begin(), fWaiters.end(), waiter);
    if (it != fWaiters.end()) fWaiters.erase(it);
}

void TnrWakeChannel::Kick() {
    for (TnrWakeSignal* waiter : fWaiters)
        waiter->Signal();
}
