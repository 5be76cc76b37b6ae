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
    if (fSignalled.exchange(true)) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(fFd, &one, sizeof one);
}

void TnrWakeSignal::Drain() {
    // Cleared before the read: a Signal() between the two writes again, and the worst
    // that leaves is a readable descriptor with the flag clear, one wake-up that finds
    // nothing changed, never one that is lost.
    fSignalled.store(false);
    std::uint64_t value;
    [[maybe_unused]] ssize_t n = ::read(fFd, &value, sizeof value);
}

void TnrWakeSignal::DrainIfSignalled() {
    if (!fSignalled.exchange(false)) return;
    std::uint64_t value;
    [[maybe_unused]] ssize_t n = ::read(fFd, &value, sizeof value);
}

TnrWakeSignal* TnrWakeChannel::Enter() {
    std::unique_ptr<TnrWakeSignal> signal;
    if (!fIdle.empty()) {
        signal = std::move(fIdle.back());
        fIdle.pop_back();
    } else {
        signal = std::make_unique<TnrWakeSignal>();
        if (signal->Fd() < 0) return nullptr;
    }
    TnrWakeSignal* waiter = signal.get();
    fBusy.push_back(std::move(signal));
    fWaiters.push_back(waiter);
    return waiter;
}

void TnrWakeChannel::Leave(TnrWakeSignal* waiter) {
    if (!waiter) return;
    fWaiters.erase(std::remove(fWaiters.begin(), fWaiters.end(), waiter), fWaiters.end());
    auto it = std::find_if(fBusy.begin(), fBusy.end(), [waiter](const auto& s) { return s.get() == waiter; });
    if (fAwake == waiter) fAwake = nullptr;
    if (it == fBusy.end()) return;
    // A kick that came after the call had finished must not end the next call.
    waiter->DrainIfSignalled();
    fIdle.push_back(std::move(*it));
    fBusy.erase(it);
}

void TnrWakeChannel::Kick() {
    for (TnrWakeSignal* waiter : fWaiters)
        if (waiter != fAwake) waiter->Signal();
}
