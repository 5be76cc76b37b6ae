#include "nrfakeport.h"

#include "nrerror.h"
#include "nrtimeoutplan.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>

namespace {

constexpr std::uint32_t kLineErrorBits = CE_RXOVER | CE_OVERRUN | CE_RXPARITY | CE_FRAME;

// Status flags of TComStat.
constexpr std::uint32_t kCtsHold = 0x01, kDsrHold = 0x02, kXoffHold = 0x08;

} // namespace

TnrFakeSerialDevice::TnrFakeSerialDevice(const QString& name) : fName(name) {
    fDcb = GetDefaultCommConfig().dcb;
    fRts = (fDcb.Flags & DCB_fRtsControlMask) == DCB_fRtsControlEnable;
    fDtr = (fDcb.Flags & DCB_fDtrControlMask) == DCB_fDtrControlEnable;
}

TnrFakeSerialDevice::~TnrFakeSerialDevice() = default;

// ---------------------------------------------------------------------------------------
// The far end, played by the test

void TnrFakeSerialDevice::Raise(std::uint32_t events) {
    events &= fMask;
    if (events == 0) return;
    fPendingEvents |= events;
    fWake.Kick();
}

void TnrFakeSerialDevice::InjectReceived(const QByteArray& bytes) {
    if (bytes.isEmpty()) return;
    std::lock_guard g(fLock);
    // A deep copy: an empty QByteArray would otherwise share the caller's buffer across
    // threads, which Qt's uninstrumented reference counting hides from ThreadSanitizer.
    fInput.append(bytes.constData(), bytes.size());
    std::uint32_t events = EV_RXCHAR;
    if (bytes.contains(fDcb.EvtChar)) events |= EV_RXFLAG;
    if (std::uint64_t(fInput.size()) * 5 >= std::uint64_t(fInSize) * 4) events |= EV_RX80FULL;
    Raise(events);
    fInputChanged.notify_all();
}

std::uint32_t TnrFakeSerialDevice::EffectiveLines() const {
    std::uint32_t lines = fLines;
    if (fLoopback) {
        lines &= ~(MS_CTS_ON | MS_DSR_ON);
        if (fRts) lines |= MS_CTS_ON;
        if (fDtr) lines |= MS_DSR_ON;
    }
    return lines;
}

void TnrFakeSerialDevice::RaiseLineChanges(std::uint32_t before) {
    const std::uint32_t changed = before ^ EffectiveLines();
    std::uint32_t events = 0;
    if (changed & MS_CTS_ON) events |= EV_CTS;
    if (changed & MS_DSR_ON) events |= EV_DSR;
    if (changed & MS_RING_ON) events |= EV_RING;
    if (changed & MS_RLSD_ON) events |= EV_RLSD;
    Raise(events);
}

void TnrFakeSerialDevice::SetModemLines(std::uint32_t msBits) {
    std::lock_guard g(fLock);
    const std::uint32_t before = EffectiveLines();
    fLines = msBits & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);
    RaiseLineChanges(before);
}

void TnrFakeSerialDevice::InjectLineErrors(std::uint32_t ceBits) {
    std::lock_guard g(fLock);
    fErrors |= ceBits;
    std::uint32_t events = 0;
    if (ceBits & kLineErrorBits) events |= EV_ERR;
    if (ceBits & CE_BREAK) events |= EV_BREAK;
    Raise(events);
}

void TnrFakeSerialDevice::FailNextWait(int error) {
    std::lock_guard g(fLock);
    fFailNextWait = error;
    fWake.Kick();
}

void TnrFakeSerialDevice::FailReads(int error) {
    std::lock_guard g(fLock);
    fFailReads = error;
    fInputChanged.notify_all();
}

void TnrFakeSerialDevice::FailWrites(int error) {
    std::lock_guard g(fLock);
    fFailWrites = error;
}

void TnrFakeSerialDevice::SetOutQueue(std::uint32_t bytes) {
    std::lock_guard g(fLock);
    const bool drained = fOutQueue != 0 && bytes == 0;
    fOutQueue = bytes;
    if (drained) Raise(EV_TXEMPTY);
}

void TnrFakeSerialDevice::SetSupportsRS485(bool supported) {
    std::lock_guard g(fLock);
    fRS485 = supported;
}

void TnrFakeSerialDevice::SetLoopback(bool on) {
    std::lock_guard g(fLock);
    const std::uint32_t before = EffectiveLines();
    fLoopback = on;
    RaiseLineChanges(before);
}

// ---------------------------------------------------------------------------------------
// What the component did

std::vector<TDCB> TnrFakeSerialDevice::AppliedStates() const {
    std::lock_guard g(fLock);
    return fAppliedStates;
}

std::vector<std::uint32_t> TnrFakeSerialDevice::Escapes() const {
    std::lock_guard g(fLock);
    return fEscapes;
}

std::vector<std::uint32_t> TnrFakeSerialDevice::Purges() const {
    std::lock_guard g(fLock);
    return fPurges;
}

QByteArray TnrFakeSerialDevice::Written() const {
    std::lock_guard g(fLock);
    return QByteArray(fWritten.constData(), fWritten.size()); // not shared with the device's copy
}

QByteArray TnrFakeSerialDevice::SentAhead() const {
    std::lock_guard g(fLock);
    return QByteArray(fSentAhead.constData(), fSentAhead.size()); // not shared with the device's copy
}

TCommTimeouts TnrFakeSerialDevice::Timeouts() const {
    std::lock_guard g(fLock);
    return fTimeouts;
}

std::pair<std::uint32_t, std::uint32_t> TnrFakeSerialDevice::QueueSizes() const {
    std::lock_guard g(fLock);
    return {fInSize, fOutSize};
}

std::uint32_t TnrFakeSerialDevice::Mask() const {
    std::lock_guard g(fLock);
    return fMask;
}

std::vector<std::uint32_t> TnrFakeSerialDevice::MaskHistory() const {
    std::lock_guard g(fLock);
    return fMaskHistory;
}

int TnrFakeSerialDevice::FlushCount() const {
    std::lock_guard g(fLock);
    return fFlushCount;
}

int TnrFakeSerialDevice::WaitCount() const {
    std::lock_guard g(fLock);
    return fWaitCount;
}

int TnrFakeSerialDevice::ClearCommErrorCount() const {
    std::lock_guard g(fLock);
    return fClearErrorCount;
}

bool TnrFakeSerialDevice::Waiting() const {
    std::lock_guard g(fLock);
    return fWake.Waiters() > 0;
}

bool TnrFakeSerialDevice::Closed() const {
    std::lock_guard g(fLock);
    return fClosed;
}

bool TnrFakeSerialDevice::Rts() const {
    std::lock_guard g(fLock);
    return fRts;
}

bool TnrFakeSerialDevice::Dtr() const {
    std::lock_guard g(fLock);
    return fDtr;
}

bool TnrFakeSerialDevice::BreakOn() const {
    std::lock_guard g(fLock);
    return fBreak;
}

std::uint32_t TnrFakeSerialDevice::InQueue() const {
    std::lock_guard g(fLock);
    return static_cast<std::uint32_t>(fInput.size());
}

// ---------------------------------------------------------------------------------------
// The device service

bool TnrFakeSerialDevice::FailIfClosed() const {
    if (!fClosed) return false;
    SetLastError(EBADF);
    return true;
}

void TnrFakeSerialDevice::Close() {
    std::lock_guard g(fLock);
    fClosed = true;
    fWake.Kick();
    fWake.ReleaseIdle();
    fInputChanged.notify_all();
}

bool TnrFakeSerialDevice::GetCommState(TDCB& dcb) {
    std::lock_guard g(fLock);
    if (FailIfClosed()) return false;
    dcb = fDcb;
    return true;
}

bool TnrFakeSerialDevice::SetCommState(const TDCB& dcb) {
    std::lock_guard g(fLock);
    if (FailIfClosed()) return false;
    if (dcb.ByteSize < 4 || dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY || dcb.StopBits > TWOSTOPBITS ||
        dcb.BaudRate == 0) {
        SetLastError(EINVAL);
        return false;
    }
    fDcb = dcb;
    fAppliedStates.push_back(dcb);
    // The control modes drive the lines the way a driver does when the DCB is applied.
    const std::uint32_t before = EffectiveLines();
    fRts = (dcb.Flags & DCB_fRtsControlMask) == DCB_fRtsControlEnable ||
           (dcb.Flags & DCB_fRtsControlMask) == DCB_fRtsControlHandshake;
    fDtr = (dcb.Flags & DCB_fDtrControlMask) != 0;
    RaiseLineChanges(before);
    return true;
}

bool TnrFakeSerialDevice::SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) {
    std::lock_guard g(fLock);
    if (FailIfClosed()) return false;
    fInSize = inQueue;
    fOutSize = outQueue;
    return true;
}

bool TnrFakeSerialDevice::GetCommTimeouts(TCommTimeouts& t) {
    std::lock_guard g(fLock);
    if (FailIfClosed()) return false;
    t = fTimeouts;
    return true;
}

bool TnrFakeSerialDevice::SetCommTimeouts(const TCommTimeouts& t) {
    std::lock_guard g(fLock);
    if (FailIfClosed()) return false;
    fTimeouts = t;
    return true;
}

bool TnrFakeSerialDevice::GetCommMask(std::uint32_t& mask) {
    std::lock_guard g(fLock);
    if (FailIfClosed()) return false;
    mask = fMask;
    return true;
}

bool TnrFakeSerialDevice::SetCommMask(std::uint32_t mask) {
    std::lock_guard g(fLock);
    if (FailIfClosed()) return false;
    fMask = mask;
    fMaskHistory.push_back(mask);
    fPendingEvents &= mask;
    ++fMaskGeneration;
    fWake.Kick();
    return true;
}

TnrWaitResult TnrFakeSerialDevice::WaitCommEvent(std::uint32_t& mask, TnrEvent* wakeUp, int timeoutMs) {
    mask = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    TnrEventWaitScope waitScope(wakeUp);
    TLock lock(fLock);
    if (fClosed) return TnrWaitResult::wrInvalidHandle;
    ++fWaitCount;
    TnrWakeSignal* signal = fWake.Enter();
    if (!signal) {
        FailWithErrno();
        return TnrWaitResult::wrFailed;
    }
    const std::uint32_t generation = fMaskGeneration;
    TnrWaitResult result = TnrWaitResult::wrEvent;
    for (;;) {
        if (fClosed) {
            result = TnrWaitResult::wrInvalidHandle;
            break;
        }
        if (fFailNextWait != 0) {
            SetLastError(static_cast<std::uint32_t>(fFailNextWait));
            fFailNextWait = 0;
            result = TnrWaitResult::wrFailed;
            break;
        }
        if (generation != fMaskGeneration) break; // a new mask: the wait ends with an empty mask
        if (fPendingEvents & fMask) {
            mask = fPendingEvents & fMask;
            fPendingEvents &= ~mask;
            break;
        }
        int timeout = -1;
        if (timeoutMs >= 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                result = TnrWaitResult::wrTimeout;
                break;
            }
            timeout = static_cast<int>(left.count());
        }
        lock.unlock();
        pollfd fds[2] = {{signal->Fd(), POLLIN, 0}, {wakeUp ? wakeUp->Fd() : -1, POLLIN, 0}};
        ::poll(fds, 2, timeout);
        signal->Drain();
        const bool woken = wakeUp && (fds[1].revents & POLLIN) && wakeUp->TryConsume();
        lock.lock();
        if (woken) {
            result = TnrWaitResult::wrWoken;
            break;
        }
    }
    fWake.Leave(signal);
    if (fClosed) fWake.ReleaseIdle(); // a closed device keeps no descriptors
    return result;
}

bool TnrFakeSerialDevice::ClearCommError(std::uint32_t& errors, TComStat* stat) {
    std::lock_guard g(fLock);
    if (FailIfClosed()) return false;
    ++fClearErrorCount;
    errors = fErrors;
    fErrors = 0;
    if (stat) {
        const std::uint32_t lines = EffectiveLines();
        stat->Flags = 0;
        if ((fDcb.Flags & DCB_fOutxCtsFlow) && !(lines & MS_CTS_ON)) stat->Flags |= kCtsHold;
        if ((fDcb.Flags & DCB_fOutxDsrFlow) && !(lines & MS_DSR_ON)) stat->Flags |= kDsrHold;
        if (fXoffHold) stat->Flags |= kXoffHold;
        stat->cbInQue = static_cast<std::uint32_t>(fInput.size());
        stat->cbOutQue = fOutQueue;
    }
    return true;
}

bool TnrFakeSerialDevice::InputQueueCount(std::uint32_t& count) {
    std::lock_guard g(fLock);
    count = 0;
    if (FailIfClosed()) return false;
    count = static_cast<std::uint32_t>(fInput.size());
    return true;
}

bool TnrFakeSerialDevice::InputQueueContains(char byte, bool& found) {
    std::lock_guard g(fLock);
    found = false;
    if (FailIfClosed()) return false;
    found = fInput.contains(byte);
    return true;
}

bool TnrFakeSerialDevice::ReadFile(void* buffer, std::uint32_t n, std::uint32_t& read) {
    read = 0;
    TLock lock(fLock);
    if (FailIfClosed()) return false;
    const TnrReadPlan plan = PlanRead(fTimeouts, n);
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const std::uint32_t purges = fPurgeGeneration;
    auto* out = static_cast<char*>(buffer);
    auto lastByte = start;
    for (;;) {
        if (fFailReads != 0) {
            SetLastError(static_cast<std::uint32_t>(fFailReads));
            return false;
        }
        const auto take = std::min<std::uint32_t>(n - read, static_cast<std::uint32_t>(fInput.size()));
        if (take > 0) {
            std::memcpy(out + read, fInput.constData(), take);
            fInput.remove(0, take);
            read += take;
            lastByte = Clock::now();
        }
        if (read == n || plan.Immediate || (plan.ReturnOnFirstByte && read > 0)) return true;
        if (fClosed || fPurgeGeneration != purges) {
            // Close or PURGE_RXABORT cancels the read; what arrived is kept in `read`.
            SetLastError(fClosed ? EBADF : ECANCELED);
            return false;
        }
        auto deadline = Clock::time_point::max();
        if (plan.Total) deadline = start + *plan.Total;
        if (plan.Interval && read > 0) deadline = std::min(deadline, lastByte + *plan.Interval);
        if (Clock::now() >= deadline) return true;
        if (deadline == Clock::time_point::max())
            fInputChanged.wait(lock);
        else
            fInputChanged.wait_until(lock, deadline);
    }
}

bool TnrFakeSerialDevice::WriteFile(const void* buffer, std::uint32_t n, std::uint32_t& written) {
    written = 0;
    std::lock_guard g(fLock);
    if (FailIfClosed()) return false;
    if (fFailWrites != 0) {
        SetLastError(static_cast<std::uint32_t>(fFailWrites));
        return false;
    }
    fWritten.append(static_cast<const char*>(buffer), n);
    written = n;
    if (n > 0 && fOutQueue == 0)
        Raise(EV_TXEMPTY);
    else
        fOutQueue += n;
    return true;
}

bool TnrFakeSerialDevice::PurgeComm(std::uint32_t flags) {
    std::lock_guard g(fLock);
    if (FailIfClosed()) return false;
    fPurges.push_back(flags);
    if (flags & PURGE_RXCLEAR) fInput.clear();
    if (flags & (PURGE_TXCLEAR | PURGE_TXABORT)) fOutQueue = 0;
    if (flags & PURGE_RXABORT) {
        ++fPurgeGeneration;
        fInputChanged.notify_all();
    }
    return true;
}

bool TnrFakeSerialDevice::TransmitCommChar(char c) {
    std::lock_guard g(fLock);
    if (FailIfClosed()) return false;
    if (fFailWrites != 0) {
        SetLastError(static_cast<std::uint32_t>(fFailWrites));
        return false;
    }
    fSentAhead.append(c);
    return true;
}

bool TnrFakeSerialDevice::FlushFileBuffers() {
    std::lock_guard g(fLock);
    if (FailIfClosed()) return false;
    ++fFlushCount;
    return true;
}

bool TnrFakeSerialDevice::EscapeCommFunction(std::uint32_t func) {
    std::lock_guard g(fLock);
    if (FailIfClosed()) return false;
    const std::uint32_t before = EffectiveLines();
    switch (func) {
    case SETXOFF:
        fXoffHold = true;
        break;
    case SETXON:
        fXoffHold = false;
        break;
    case SETRTS:
        fRts = true;
        break;
    case CLRRTS:
        fRts = false;
        break;
    case SETDTR:
        fDtr = true;
        break;
    case CLRDTR:
        fDtr = false;
        break;
    case SETBREAK:
        fBreak = true;
        break;
    case CLRBREAK:
        fBreak = false;
        break;
    default:
        SetLastError(EINVAL);
        return false;
    }
    fEscapes.push_back(func);
    RaiseLineChanges(before);
    return true;
}

bool TnrFakeSerialDevice::GetCommModemStatus(std::uint32_t& status) {
    std::lock_guard g(fLock);
    if (FailIfClosed()) return false;
    status = EffectiveLines();
    return true;
}

bool TnrFakeSerialDevice::GetCommProperties(TCommProp& prop) {
    std::lock_guard g(fLock);
    if (FailIfClosed()) return false;
    prop = TCommProp{};
    prop.wPacketLength = sizeof(TCommProp);
    prop.wPacketVersion = 2;
    prop.dwServiceMask = 1;      // SP_SERIALCOMM
    prop.dwMaxBaud = 0x10000000; // BAUD_USER: any rate
    prop.dwProvSubType = 1;      // PST_RS232
    prop.dwCurrentTxQueue = fOutSize;
    prop.dwCurrentRxQueue = fInSize;
    return true;
}

bool TnrFakeSerialDevice::SupportsRS485() {
    std::lock_guard g(fLock);
    return fRS485;
}
