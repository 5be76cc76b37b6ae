#include "nrserialapi.h"

#include "nrerror.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

TnrEvent::TnrEvent() : fFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

TnrEvent::~TnrEvent() {
    if (fFd >= 0) ::close(fFd);
}

void TnrEvent::Set() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(fFd, &one, sizeof one);
}

void TnrEvent::Pulse() {
    if (fWaiters.load() > 0) Set();
}

bool TnrEvent::TryConsume() {
    std::uint64_t value = 0;
    return ::read(fFd, &value, sizeof value) == static_cast<ssize_t>(sizeof value) && value > 0;
}

bool TnrEvent::WaitFor(int TimeoutMs) const {
    pollfd fd{fFd, POLLIN, 0};
    int ready;
    do
        ready = ::poll(&fd, 1, TimeoutMs);
    while (ready < 0 && errno == EINTR);
    return ready > 0;
}

namespace {

std::shared_ptr<TnrSerialDevice> Device(THandle h) {
    auto device = LookupHandleAs<TnrSerialDevice>(h);
    if (!device) SetLastError(EBADF);
    return device;
}

} // namespace

#define NR_DISPATCH(call)                                                                                    \
    auto device = Device(h);                                                                                 \
    return device && device->call

bool GetCommState(THandle h, TDCB& dcb) {
    NR_DISPATCH(GetCommState(dcb));
}
bool SetCommState(THandle h, const TDCB& dcb) {
    NR_DISPATCH(SetCommState(dcb));
}
bool SetupComm(THandle h, std::uint32_t inQueue, std::uint32_t outQueue) {
    NR_DISPATCH(SetupComm(inQueue, outQueue));
}
bool GetCommTimeouts(THandle h, TCommTimeouts& t) {
    NR_DISPATCH(GetCommTimeouts(t));
}
bool SetCommTimeouts(THandle h, const TCommTimeouts& t) {
    NR_DISPATCH(SetCommTimeouts(t));
}
bool GetCommMask(THandle h, std::uint32_t& mask) {
    NR_DISPATCH(GetCommMask(mask));
}
bool SetCommMask(THandle h, std::uint32_t mask) {
    NR_DISPATCH(SetCommMask(mask));
}
bool ReadFile(THandle h, void* buffer, std::uint32_t n, std::uint32_t& read) {
    NR_DISPATCH(ReadFile(buffer, n, read));
}
bool WriteFile(THandle h, const void* buffer, std::uint32_t n, std::uint32_t& written) {
    NR_DISPATCH(WriteFile(buffer, n, written));
}
bool PurgeComm(THandle h, std::uint32_t flags) {
    NR_DISPATCH(PurgeComm(flags));
}
bool TransmitCommChar(THandle h, char c) {
    NR_DISPATCH(TransmitCommChar(c));
}
bool FlushFileBuffers(THandle h) {
    NR_DISPATCH(FlushFileBuffers());
}
bool EscapeCommFunction(THandle h, std::uint32_t func) {
    NR_DISPATCH(EscapeCommFunction(func));
}
bool GetCommModemStatus(THandle h, std::uint32_t& status) {
    NR_DISPATCH(GetCommModemStatus(status));
}
bool GetCommProperties(THandle h, TCommProp& prop) {
    NR_DISPATCH(GetCommProperties(prop));
}
bool SupportsRS485(THandle h) {
    NR_DISPATCH(SupportsRS485());
}

#undef NR_DISPATCH

TnrWaitResult WaitCommEvent(THandle h, std::uint32_t& mask, TnrEvent* wakeUp, int timeoutMs) {
    auto device = LookupHandleAs<TnrSerialDevice>(h);
    if (!device) {
        mask = 0;
        return TnrWaitResult::wrInvalidHandle;
    }
    return device->WaitCommEvent(mask, wakeUp, timeoutMs);
}

bool ClearCommError(THandle h, std::uint32_t* errors, TComStat* stat) {
    auto device = Device(h);
    std::uint32_t ignored = 0;
    return device && device->ClearCommError(errors ? *errors : ignored, stat);
}

bool InputQueueCount(THandle h, std::uint32_t& count) {
    count = 0;
    auto device = Device(h);
    return device && device->InputQueueCount(count);
}

bool InputQueueContains(THandle h, char byte, bool& found) {
    found = false;
    auto device = Device(h);
    return device && device->InputQueueContains(byte, found);
}

TCommConfig GetDefaultCommConfig() {
    // What a freshly opened PC serial port is set to: 9600 8N1, binary, DTR and RTS
    // raised, no flow control; XON/XOFF characters and limits at their usual values so
    // that switching XON/XOFF on needs nothing else.
    TCommConfig config;
    config.wVersion = 1;
    config.dwProviderSubType = 1; // RS-232
    TDCB& dcb = config.dcb;
    dcb.BaudRate = 9600;
    dcb.Flags = DCB_fBinary | DCB_fDtrControlEnable | DCB_fRtsControlEnable;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    return config;
}
