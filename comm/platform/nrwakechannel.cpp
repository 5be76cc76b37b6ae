#include "nrwakechannel.h"

#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

TnrWakeChannel::TnrWakeChannel() : fFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

TnrWakeChannel::~TnrWakeChannel() {
    if (fFd >= 0) ::close(fFd);
}

void TnrWakeChannel::Leave() {
    if (--fWaiters == 0 && fFd >= 0) {
        std::uint64_t value;
        [[maybe_unused]] ssize_t n = ::read(fFd, &value, sizeof value);
    }
}

void TnrWakeChannel::Kick() {
    if (fWaiters == 0 || fFd < 0) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(fFd, &one, sizeof one);
}
