#include "nrposixport.h"

#include "nrerror.h"
#include "nrportmap.h"
#include "nrtimeoutplan.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

static_assert(sizeof(serial_rs485) <= 32, "fSavedRS485 holds a serial_rs485");

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint32_t kModemEvents = EV_CTS | EV_DSR | EV_RING | EV_RLSD;
constexpr std::uint32_t kPurgeFlags = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
constexpr std::uint32_t kCtsHold = 0x01, kXoffHold = 0x08;

// An optional ioctl the driver doesn't have: pseudo-terminals and many USB adapters
// answer this way for modem lines, counters and RS-485. Not a failure of the port.
bool NotSupported(int error) {
    return error == ENOTTY || error == EINVAL || error == ENOSYS;
}

// The modem-line thread blocks in TIOCMIWAIT, which only a signal interrupts. This one is
// the library's own; its handler does nothing, and without SA_RESTART the ioctl returns
// EINTR so the thread sees its stop flag.
int ModemWakeSignal() {
    static const int wakeSignal = [] {
        const int s = SIGRTMIN + 4;
        struct sigaction current {};
        sigaction(s, nullptr, &current);
        if (current.sa_handler == SIG_DFL) {
            struct sigaction action {};
            action.sa_handler = [](int) {};
            sigemptyset(&action.sa_mask);
            action.sa_flags = 0;
            sigaction(s, &action, nullptr);
        }
        return s;
    }();
    return wakeSignal;
}

int PollTimeout(std::optional<Clock::time_point> deadline) {
    if (!deadline) return -1;
    // Round up: a poll that returns a little early would spin once more for nothing.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
    return static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, 0x7FFFFFFF));
}

TnrSerialCounters FromKernel(const serial_icounter_struct& c) {
    TnrSerialCounters counts;
    counts.Cts = c.cts;
    counts.Dsr = c.dsr;
    counts.Rng = c.rng;
    counts.Dcd = c.dcd;
    counts.Frame = c.frame;
    counts.Parity = c.parity;
    counts.Overrun = c.overrun;
    counts.BufOverrun = c.buf_overrun;
    counts.Brk = c.brk;
    return counts;
}

} // namespace

std::uint32_t ModemLineEvents(int linesBefore, int linesNow, const TnrSerialCounters* before,
                              const TnrSerialCounters* now) {
    const int changed = linesBefore ^ linesNow;
    const bool counted = before && now;
    std::uint32_t events = 0;
    if ((changed & TIOCM_CTS) || (counted && now->Cts != before->Cts)) events |= EV_CTS;
    if ((changed & TIOCM_DSR) || (counted && now->Dsr != before->Dsr)) events |= EV_DSR;
    if ((changed & TIOCM_CD) || (counted && now->Dcd != before->Dcd)) events |= EV_RLSD;
    if ((changed & linesNow & TIOCM_RNG) || (counted && now->Rng != before->Rng)) events |= EV_RING;
    return events;
}

std::uint32_t LineErrorBits(const TnrSerialCounters& before, const TnrSerialCounters& now) {
    std::uint32_t errors = 0;
    if (now.Frame != before.Frame) errors |= CE_FRAME;
    if (now.Parity != before.Parity) errors |= CE_RXPARITY;
    if (now.Overrun != before.Overrun) errors |= CE_OVERRUN;
    if (now.BufOverrun != before.BufOverrun) errors |= CE_RXOVER;
    if (now.Brk != before.Brk) errors |= CE_BREAK;
    return errors;
}

std::uint32_t LineErrorEvents(std::uint32_t ceBits) {
    std::uint32_t events = 0;
    if (ceBits & (CE_FRAME | CE_RXPARITY | CE_OVERRUN | CE_RXOVER)) events |= EV_ERR;
    if (ceBits & CE_BREAK) events |= EV_BREAK;
    return events;
}

// A call in progress on the descriptor. Fails with EBADF once the device is closed.
class TnrPosixSerialDevice::TCall {
public:
    explicit TCall(TnrPosixSerialDevice* device) : fDevice(device) {
        std::lock_guard g(fDevice->fLock);
        fOk = !fDevice->fClosed;
        if (fOk)
            ++fDevice->fCalls;
        else
            SetLastError(EBADF);
    }
    ~TCall() {
        if (!fOk) return;
        std::lock_guard g(fDevice->fLock);
        if (--fDevice->fCalls == 0) fDevice->fCallsLeft.notify_all();
    }
    TCall(const TCall&) = delete;
    TCall& operator=(const TCall&) = delete;
    explicit operator bool() const { return fOk; }

private:
    TnrPosixSerialDevice* fDevice;
    bool fOk;
};

// ---------------------------------------------------------------------------------------
// Open and close

std::shared_ptr<TnrPosixSerialDevice> TnrPosixSerialDevice::Open(const QString& name, const QString& path) {
    const QByteArray native = path.toLocal8Bit();
    const int fd = ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        FailWithErrno();
        return nullptr;
    }
    std::shared_ptr<TnrPosixSerialDevice> device(new TnrPosixSerialDevice(name, path, fd));
    if (!device->Initialise()) {
        const int error = errno;
        device->Close();
        SetLastError(static_cast<std::uint32_t>(error));
        return nullptr;
    }
    return device;
}

TnrPosixSerialDevice::TnrPosixSerialDevice(const QString& name, const QString& path, int fd)
    : fName(name), fPath(path), fFd(fd) {
    fDcb = GetDefaultCommConfig().dcb;
}

TnrPosixSerialDevice::~TnrPosixSerialDevice() {
    Close();
}

int TnrPosixSerialDevice::BlockedCalls() const {
    std::lock_guard g(fLock);
    return fWake.Waiters();
}

bool TnrPosixSerialDevice::Initialise() {
    // flock first: root passes TIOCEXCL, so the lock is what keeps a second program out.
    if (flock(fFd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) errno = EBUSY;
        return false;
    }
    // Not a tty (a regular file, /dev/null): ENOTTY, "Inappropriate ioctl for device".
    if (!SaveTtyState(fFd, fSavedTermios)) return false;
    if (ioctl(fFd, TIOCEXCL) != 0) return false;

    // Keep the line settings found, but raw from now on: a cooked tty would echo what
    // arrives back to the sender and hold bytes until a line end.
    if (!ReadDcbFromTty(fFd, fDcb) || !ApplyDcbToTty(fFd, fDcb)) return false;

    int lines = 0;
    fHasModemLines = ioctl(fFd, TIOCMGET, &lines) == 0;
    fLines = lines;
    serial_icounter_struct counters{};
    fHasCounters = ioctl(fFd, TIOCGICOUNT, &counters) == 0;
    fCounters = FromKernel(counters);
    serial_rs485 rs485{};
    fHasRS485 = ioctl(fFd, TIOCGRS485, &rs485) == 0;
    std::memcpy(fSavedRS485, &rs485, sizeof rs485);

    // Not initialised: only the pages the bytes reach become resident.
    fAhead.reset(new char[kAheadBytes]);

    fEpoll = epoll_create1(EPOLL_CLOEXEC);
    if (fEpoll < 0) return false;
    // Edge-triggered: a report means new bytes arrived, not that bytes are waiting.
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLET;
    ev.data.fd = fFd;
    return epoll_ctl(fEpoll, EPOLL_CTL_ADD, fFd, &ev) == 0;
}

void TnrPosixSerialDevice::Close() {
    std::unique_lock lock(fLock);
    if (fClosed) return;
    fClosed = true;
    fWake.Kick();
    fCallsLeft.wait(lock, [this] { return fCalls == 0; });
    StopModemThread(lock);
    const bool owned = fSavedTermios.Valid;
    const bool failed = fFailed != 0;
    lock.unlock();

    if (owned) {
        if (!failed) {
            // Let queued output go while it moves, then drop the rest: close() would
            // otherwise wait up to the driver's closing wait (30 s on a UART) for output
            // that flow control holds.
            DrainOutput(500ms, true);
            tcflush(fFd, TCOFLUSH);
        }
        if (fRS485Changed) ioctl(fFd, TIOCSRS485, fSavedRS485);
        RestoreTtyState(fFd, fSavedTermios);
        ioctl(fFd, TIOCNXCL);
    }
    if (fEpoll >= 0) ::close(fEpoll);
    ::close(fFd); // releases the flock as well
    lock.lock();
    fWake.ReleaseIdle();
}

// ---------------------------------------------------------------------------------------
// Events

void TnrPosixSerialDevice::Raise(std::uint32_t events) {
    events &= fMask;
    if (events == 0) return;
    fPending |= events;
    fWake.Kick();
}

void TnrPosixSerialDevice::MarkFailed(int error) {
    if (fFailed == 0) fFailed = error;
    fWake.Kick();
}

bool TnrPosixSerialDevice::ReadAhead() {
    if (fAheadCount == kAheadBytes) {
        fKernelUnread = true;
        return true;
    }
    bool got = false;
    // A reader polling the port would not see the bytes taken here: wake it.
    struct TWakeReaders {
        TnrPosixSerialDevice& device;
        const bool& got;
        ~TWakeReaders() {
            if (got) device.fWake.Kick();
        }
    } wakeReaders{*this, got};
    while (fAheadCount < kAheadBytes) {
        const std::uint32_t tail = (fAheadHead + fAheadCount) % kAheadBytes;
        const std::uint32_t room = std::min(kAheadBytes - fAheadCount, kAheadBytes - tail);
        const ssize_t n = ::read(fFd, fAhead.get() + tail, room);
        if (n > 0) {
            fAheadCount += static_cast<std::uint32_t>(n);
            got = true;
            // Less than asked: the tty's queue is empty, and what comes next is a new edge
            // for the edge-triggered poll. Reading on until EAGAIN would cost a system call
            // per arrival for nothing.
            if (static_cast<std::uint32_t>(n) < room) {
                fKernelUnread = false;
                return true;
            }
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        // A hung-up tty reads as end of file: the device is gone. Other errors are the
        // reader's to meet.
        if (n == 0 || errno == EIO) MarkFailed(EIO);
        fKernelUnread = false;
        return got;
    }
    fKernelUnread = true;
    return true;
}

std::uint32_t TnrPosixSerialDevice::TakeAhead(char* out, std::uint32_t n) {
    std::uint32_t taken = 0;
    while (taken < n && fAheadCount > 0) {
        const std::uint32_t piece = std::min({n - taken, fAheadCount, kAheadBytes - fAheadHead});
        std::memcpy(out + taken, fAhead.get() + fAheadHead, piece);
        fAheadHead = (fAheadHead + piece) % kAheadBytes;
        fAheadCount -= piece;
        taken += piece;
    }
    if (fAheadCount == 0) fAheadHead = 0;
    // The waiting thread left bytes in the kernel for want of room: there is room now.
    if (taken > 0 && fKernelUnread) fWake.Kick();
    return taken;
}

std::uint32_t TnrPosixSerialDevice::ReadKernel(char* out, std::uint32_t n, int& error) {
    std::uint32_t got = 0;
    while (got < n) {
        const ssize_t r = ::read(fFd, out + got, n - got);
        if (r > 0) {
            got += static_cast<std::uint32_t>(r);
            continue;
        }
        if (r == 0)
            error = EIO; // a hung-up tty reads as end of file: the device is gone
        else if (errno == EINTR)
            continue;
        else if (errno != EAGAIN)
            error = errno;
        break;
    }
    return got;
}

void TnrPosixSerialDevice::Announce() {
    std::uint32_t arrived = EV_RXCHAR;
    int waiting = 0;
    if ((fMask & EV_RX80FULL) && ioctl(fFd, TIOCINQ, &waiting) == 0 &&
        (std::uint64_t(fAheadCount) + std::uint64_t(std::max(waiting, 0))) * 5 >= std::uint64_t(fInSize) * 4)
        arrived |= EV_RX80FULL;
    Raise(arrived);
    CollectLineErrors();
}

void TnrPosixSerialDevice::CollectLineErrors() {
    if (!fHasCounters) return;
    serial_icounter_struct c{};
    if (ioctl(fFd, TIOCGICOUNT, &c) != 0) return;
    const TnrSerialCounters now = FromKernel(c);
    const std::uint32_t errors = LineErrorBits(fCounters, now);
    fCounters = now;
    fErrors |= errors;
    Raise(LineErrorEvents(errors));
}

bool TnrPosixSerialDevice::OutputEmpty(std::uint32_t& queued) {
    int count = 0;
    if (ioctl(fFd, TIOCOUTQ, &count) != 0) return true;
    queued = static_cast<std::uint32_t>(std::max(count, 0));
    if (queued > 0) return false;
    // The software queue is empty; where the UART tells, wait for its shift register too.
    unsigned int lsr = 0;
    if (ioctl(fFd, TIOCSERGETLSR, &lsr) == 0 && !(lsr & TIOCSER_TEMT)) {
        queued = 1;
        return false;
    }
    return true;
}

std::chrono::milliseconds TnrPosixSerialDevice::DrainPace(std::uint32_t queued) const {
    const std::uint64_t bitsPerChar =
        1u + fDcb.ByteSize + (fDcb.Parity != NOPARITY ? 1u : 0u) + (fDcb.StopBits == ONESTOPBIT ? 1u : 2u);
    const std::uint64_t baud = std::max<std::uint32_t>(fDcb.BaudRate, 1);
    const auto ms = static_cast<std::int64_t>(std::uint64_t(queued) * bitsPerChar * 1000 / baud);
    return std::chrono::milliseconds(std::clamp<std::int64_t>(ms, 1, 100));
}

TnrWaitResult TnrPosixSerialDevice::WaitCommEvent(std::uint32_t& mask, TnrEvent* wakeUp, int timeoutMs) {
    mask = 0;
    std::optional<Clock::time_point> deadline;
    if (timeoutMs >= 0) deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    TnrEventWaitScope waitScope(wakeUp);
    TCall call(this);
    if (!call) return TnrWaitResult::wrInvalidHandle;
    std::unique_lock lock(fLock);
    TnrWakeSignal* mySignal = fWake.Enter();
    if (!mySignal) {
        FailWithErrno(); // no descriptor left to wait with
        return TnrWaitResult::wrFailed;
    }
    const std::uint32_t generation = fMaskGeneration;
    TnrWaitResult result = TnrWaitResult::wrEvent;
    // This call reads the state again after every change it makes itself.
    fWake.Awake(mySignal);
    for (;;) {
        if (fClosed) {
            result = TnrWaitResult::wrInvalidHandle;
            break;
        }
        // A reader made room in the input queue: take what the kernel kept meanwhile. Bytes
        // taken here are announced like any arrival: their own report may never come, as a
        // poll drops a pending report whose bytes were read in the meantime.
        if (fKernelUnread && fAheadCount < kAheadBytes && ReadAhead()) Announce();
        if (generation != fMaskGeneration) break; // a new mask ends the wait with an empty mask
        if (fPending & fMask) {
            mask = fPending & fMask;
            fPending &= ~mask;
            break;
        }
        if (fFailed != 0) {
            SetLastError(static_cast<std::uint32_t>(fFailed));
            result = TnrWaitResult::wrFailed;
            break;
        }
        int timeout = -1;
        if ((fMask & EV_TXEMPTY) && fTxPending) {
            std::uint32_t queued = 0;
            if (OutputEmpty(queued)) {
                fTxPending = false;
                Raise(EV_TXEMPTY);
                continue;
            }
            timeout = static_cast<int>(DrainPace(queued).count());
        }
        if (deadline) {
            const int left = PollTimeout(deadline);
            if (left == 0) {
                result = TnrWaitResult::wrTimeout;
                break;
            }
            timeout = timeout < 0 ? left : std::min(timeout, left);
        }
        fWake.Asleep();
        lock.unlock();

        pollfd fds[3] = {
            {fEpoll, POLLIN, 0}, {mySignal->Fd(), POLLIN, 0}, {wakeUp ? wakeUp->Fd() : -1, POLLIN, 0}};
        const int ready = ::poll(fds, 3, timeout);
        if (ready < 0 && errno != EINTR) {
            const int error = errno;
            lock.lock();
            fWake.Awake(mySignal);
            MarkFailed(error);
            continue;
        }
        if (fds[1].revents) mySignal->Drain();
        const bool woken = wakeUp && (fds[2].revents & POLLIN) && wakeUp->TryConsume();
        epoll_event events[4];
        const int harvested = (fds[0].revents & POLLIN) ? epoll_wait(fEpoll, events, 4, 0) : 0;

        lock.lock();
        fWake.Awake(mySignal);
        for (int i = 0; i < harvested; ++i) {
            const std::uint32_t e = events[i].events;
            // A hang-up also reads as "readable"; it is an arrival only if bytes came.
            const bool gone = e & (EPOLLHUP | EPOLLERR);
            const bool came = (e & (EPOLLIN | EPOLLHUP | EPOLLERR)) && ReadAhead();
            if ((e & EPOLLIN) && (!gone || came)) Announce();
            // The device is gone (a pseudo-terminal whose master closed, a USB adapter
            // unplugged): what arrived before is still reported first.
            if (gone) MarkFailed(EIO);
        }
        if (woken) {
            result = TnrWaitResult::wrWoken;
            break;
        }
    }
    fWake.Leave(mySignal);
    return result;
}

bool TnrPosixSerialDevice::GetCommMask(std::uint32_t& mask) {
    std::lock_guard g(fLock);
    if (fClosed) {
        SetLastError(EBADF);
        return false;
    }
    mask = fMask;
    return true;
}

bool TnrPosixSerialDevice::SetCommMask(std::uint32_t mask) {
    TCall call(this);
    if (!call) return false;
    std::unique_lock lock(fLock);
    fMask = mask;
    fPending &= mask;
    ++fMaskGeneration;
    fWake.Kick();
    UpdateModemThread();
    return true;
}

// ---------------------------------------------------------------------------------------
// Modem lines

void TnrPosixSerialDevice::UpdateModemThread() {
    const bool wanted = fHasModemLines && (fMask & kModemEvents) && !fClosed;
    if (wanted && fModemThreadRunning) {
        // Still inside its loop (it leaves only under fLock): it simply carries on.
        fModemThreadStop = false;
    } else if (wanted) {
        if (fModemThread.joinable())
            fModemThread.join(); // an earlier thread that ended on its own (device gone)
        fModemThreadStop = false;
        fModemThreadRunning = true;
        ModemWakeSignal();
        fModemThread = std::thread([this] { ModemThreadBody(); });
    } else if (!wanted && fModemThreadRunning) {
        // Stopped without waiting: it may be blocked in TIOCMIWAIT. It ends at the next
        // signal; Close() joins it.
        fModemThreadStop = true;
        fModemThreadChanged.notify_all();
        pthread_kill(fModemThread.native_handle(), ModemWakeSignal());
    }
}

void TnrPosixSerialDevice::StopModemThread(std::unique_lock<std::mutex>& lock) {
    if (!fModemThread.joinable()) return;
    fModemThreadStop = true;
    // The signal may arrive before the thread enters TIOCMIWAIT and be lost: send it
    // again until the thread has left.
    while (fModemThreadRunning) {
        pthread_kill(fModemThread.native_handle(), ModemWakeSignal());
        fModemThreadChanged.notify_all();
        fModemThreadChanged.wait_for(lock, 10ms);
    }
    std::thread thread = std::move(fModemThread);
    lock.unlock();
    thread.join();
    lock.lock();
}

void TnrPosixSerialDevice::ModemThreadBody() {
    serial_icounter_struct kernelCounts{};
    bool counted = ioctl(fFd, TIOCGICOUNT, &kernelCounts) == 0;
    TnrSerialCounters before = FromKernel(kernelCounts);
    int lines = 0;
    ioctl(fFd, TIOCMGET, &lines);
    bool canWait = true;

    std::unique_lock lock(fLock);
    fLines = lines;
    while (!fModemThreadStop) {
        lock.unlock();
        if (canWait) {
            if (ioctl(fFd, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_RNG | TIOCM_CD) != 0) {
                const int error = errno;
                if (NotSupported(error)) {
                    canWait = false; // the driver can't wait: watch TIOCMGET instead
                } else if (error != EINTR) {
                    lock.lock();
                    break; // device gone: the event wait sees the hang-up
                }
            }
        }
        int now = 0;
        const bool got = ioctl(fFd, TIOCMGET, &now) == 0;
        counted = counted && ioctl(fFd, TIOCGICOUNT, &kernelCounts) == 0;
        const TnrSerialCounters after = FromKernel(kernelCounts);
        lock.lock();
        if (fModemThreadStop || !got) break;
        Raise(ModemLineEvents(fLines, now, counted ? &before : nullptr, counted ? &after : nullptr));
        fLines = now;
        before = after;
        if (!canWait) fModemThreadChanged.wait_for(lock, 50ms, [this] { return fModemThreadStop; });
    }
    fModemThreadRunning = false;
    fModemThreadChanged.notify_all();
}

bool TnrPosixSerialDevice::GetCommModemStatus(std::uint32_t& status) {
    status = 0;
    TCall call(this);
    if (!call) return false;
    int lines = 0;
    if (ioctl(fFd, TIOCMGET, &lines) != 0) return FailWithErrno();
    if (lines & TIOCM_CTS) status |= MS_CTS_ON;
    if (lines & TIOCM_DSR) status |= MS_DSR_ON;
    if (lines & TIOCM_RNG) status |= MS_RING_ON;
    if (lines & TIOCM_CD) status |= MS_RLSD_ON;
    return true;
}

// ---------------------------------------------------------------------------------------
// Settings

bool TnrPosixSerialDevice::GetCommState(TDCB& dcb) {
    std::lock_guard g(fLock);
    if (fClosed) {
        SetLastError(EBADF);
        return false;
    }
    dcb = fDcb;
    return true;
}

bool TnrPosixSerialDevice::ApplyControlLines(const TDCB& dcb) {
    auto setLine = [this](int line, bool on) {
        if (ioctl(fFd, on ? TIOCMBIS : TIOCMBIC, &line) == 0) return true;
        return NotSupported(errno); // no modem lines here: nothing to drive
    };
    bool ok = true;
    // Linux has no DTR handshake: a DTR in handshake mode is simply raised.
    ok &= setLine(TIOCM_DTR, (dcb.Flags & DCB_fDtrControlMask) != 0);

    const std::uint32_t rts = dcb.Flags & DCB_fRtsControlMask;
    if (rts == DCB_fRtsControlToggle && fHasRS485) {
        serial_rs485 mode{};
        std::memcpy(&mode, fSavedRS485, sizeof mode);
        mode.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
        mode.flags &= ~SER_RS485_RTS_AFTER_SEND;
        if (ioctl(fFd, TIOCSRS485, &mode) == 0)
            fRS485Changed = true;
        else
            ok &= NotSupported(errno);
        return ok;
    }
    if (fRS485Changed) {
        ioctl(fFd, TIOCSRS485, fSavedRS485);
        fRS485Changed = false;
    }
    // Toggle without driver support rests low: the caller raises RTS around its sends.
    // Handshake raises it; CRTSCTS drives it from then on.
    ok &= setLine(TIOCM_RTS, rts == DCB_fRtsControlEnable || rts == DCB_fRtsControlHandshake);
    return ok;
}

bool TnrPosixSerialDevice::SetCommState(const TDCB& dcb) {
    TCall call(this);
    if (!call) return false;
    std::lock_guard g(fLock);
    if (!ApplyDcbToTty(fFd, dcb)) return FailWithErrno();
    // Set DTR and RTS after the termios, not before: some drivers move them when the
    // line settings change (raising both when leaving B0, dropping them on others).
    if (!ApplyControlLines(dcb)) {
        const int error = errno;
        fDcb = dcb;
        errno = error;
        return FailWithErrno();
    }
    fDcb = dcb;
    return true;
}

bool TnrPosixSerialDevice::SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) {
    std::lock_guard g(fLock);
    if (fClosed) {
        SetLastError(EBADF);
        return false;
    }
    fInSize = inQueue;
    fOutSize = outQueue;
    return true;
}

bool TnrPosixSerialDevice::GetCommTimeouts(TCommTimeouts& t) {
    std::lock_guard g(fLock);
    if (fClosed) {
        SetLastError(EBADF);
        return false;
    }
    t = fTimeouts;
    return true;
}

bool TnrPosixSerialDevice::SetCommTimeouts(const TCommTimeouts& t) {
    std::lock_guard g(fLock);
    if (fClosed) {
        SetLastError(EBADF);
        return false;
    }
    fTimeouts = t;
    return true;
}

bool TnrPosixSerialDevice::GetCommProperties(TCommProp& prop) {
    std::lock_guard g(fLock);
    if (fClosed) {
        SetLastError(EBADF);
        return false;
    }
    prop = TCommProp{};
    prop.wPacketLength = sizeof(TCommProp);
    prop.wPacketVersion = 2;
    prop.dwServiceMask = 0x1; // SP_SERIALCOMM
    prop.dwMaxTxQueue = 0;    // no maximum: SetupComm keeps any size
    prop.dwMaxRxQueue = 0;
    prop.dwMaxBaud = 0x10000000;       // BAUD_USER: any rate through BOTHER
    prop.dwProvSubType = 0x1;          // PST_RS232
    prop.dwProvCapabilities = 0xFA;    // RTS/CTS, parity check, XON/XOFF, settable XON/XOFF
                                       // characters, total and interval timeouts
    prop.dwSettableParams = 0x3F;      // parity, baud, data bits, stop bits, handshaking,
                                       // parity check
    prop.dwSettableBaud = 0x1007FFFF;  // every listed rate and BAUD_USER
    prop.wSettableData = 0x000F;       // 5, 6, 7, 8 data bits
    prop.wSettableStopParity = 0x1F07; // 1, 1.5, 2 stop bits; none, odd, even, mark, space
    prop.dwCurrentTxQueue = fOutSize;
    prop.dwCurrentRxQueue = fInSize;
    return true;
}

bool TnrPosixSerialDevice::SupportsRS485() {
    std::lock_guard g(fLock);
    return fHasRS485;
}

// ---------------------------------------------------------------------------------------
// Status, transfers, purge

bool TnrPosixSerialDevice::ClearCommError(std::uint32_t& errors, TComStat* stat) {
    errors = 0;
    TCall call(this);
    if (!call) return false;
    std::lock_guard g(fLock);
    CollectLineErrors();
    errors = fErrors;
    fErrors = 0;
    if (stat) {
        *stat = TComStat{};
        int count = 0;
        if (ioctl(fFd, TIOCINQ, &count) != 0) {
            const int error = errno;
            if (error == EIO) MarkFailed(error);
            // What a device that is gone delivered before still counts, and still reads.
            if (fAheadCount == 0) {
                errno = error;
                return FailWithErrno();
            }
            count = 0;
        }
        stat->cbInQue = fAheadCount + static_cast<std::uint32_t>(std::max(count, 0));
        if (ioctl(fFd, TIOCOUTQ, &count) == 0)
            stat->cbOutQue = static_cast<std::uint32_t>(std::max(count, 0));
        int lines = 0;
        if ((fDcb.Flags & DCB_fOutxCtsFlow) && fHasModemLines && ioctl(fFd, TIOCMGET, &lines) == 0 &&
            !(lines & TIOCM_CTS))
            stat->Flags |= kCtsHold;
        if (fXoffHold) stat->Flags |= kXoffHold;
    }
    return true;
}

bool TnrPosixSerialDevice::InputQueueCount(std::uint32_t& count) {
    count = 0;
    TCall call(this);
    if (!call) return false;
    std::lock_guard g(fLock);
    int waiting = 0;
    if (ioctl(fFd, TIOCINQ, &waiting) != 0) return FailWithErrno();
    count = fAheadCount + static_cast<std::uint32_t>(std::max(waiting, 0));
    return true;
}

bool TnrPosixSerialDevice::InputQueueContains(char byte, bool& found) {
    found = false;
    TCall call(this);
    if (!call) return false;
    std::lock_guard g(fLock);
    if (fAheadCount == 0) return true;
    const std::uint32_t first = std::min(fAheadCount, kAheadBytes - fAheadHead);
    found = std::memchr(fAhead.get() + fAheadHead, byte, first) ||
            std::memchr(fAhead.get(), byte, fAheadCount - first);
    return true;
}

bool TnrPosixSerialDevice::ReadFile(void* buffer, std::uint32_t n, std::uint32_t& read) {
    read = 0;
    TCall call(this);
    if (!call) return false;
    // No early refusal on a device that is gone: bytes it delivered before still read.
    std::unique_lock lock(fLock);
    const TnrReadPlan plan = PlanRead(fTimeouts, n);
    const std::uint32_t aborts = fReadAbortGeneration;
    TnrWakeSignal* mySignal = fWake.Enter();
    if (!mySignal) return FailWithErrno();

    auto* out = static_cast<char*>(buffer);
    const auto start = Clock::now();
    auto lastByte = start;
    int error = 0;
    for (;;) {
        // The input queue holds the older bytes: the kernel's turn comes when it is empty.
        std::uint32_t got = TakeAhead(out + read, n - read);
        if (read + got < n && fAheadCount == 0) got += ReadKernel(out + read + got, n - read - got, error);
        if (got > 0) {
            read += got;
            lastByte = Clock::now();
        }
        if (error != 0 || read == n || plan.Immediate || (plan.ReturnOnFirstByte && read > 0)) break;
        std::optional<Clock::time_point> deadline;
        if (plan.Total) deadline = start + *plan.Total;
        if (plan.Interval && read > 0)
            deadline = std::min(deadline.value_or(Clock::time_point::max()), lastByte + *plan.Interval);
        if (deadline && Clock::now() >= *deadline) break;
        lock.unlock();
        // The waiting thread may take the bytes first: it kicks the signal when it does.
        pollfd fds[2] = {{fFd, POLLIN, 0}, {mySignal->Fd(), POLLIN, 0}};
        ::poll(fds, 2, PollTimeout(deadline));
        lock.lock();
        if (fds[1].revents) {
            mySignal->Drain();
            if (fClosed)
                error = EBADF;
            else if (fReadAbortGeneration != aborts)
                error = ECANCELED; // PURGE_RXABORT
            else if (fFailed != 0 && fAheadCount == 0)
                error = fFailed;
            if (error != 0) break;
        }
    }

    fWake.Leave(mySignal);
    if (error == EIO) {
        MarkFailed(error);
        if (read > 0) return true; // the last bytes of a device that is gone; the next call fails
    }
    if (error != 0) {
        SetLastError(static_cast<std::uint32_t>(error));
        return false;
    }
    return true;
}

bool TnrPosixSerialDevice::WriteBytes(const char* data, std::uint32_t n, std::uint32_t& written,
                                      bool& timedOut) {
    written = 0;
    timedOut = false;
    std::unique_lock lock(fLock);
    if (fFailed != 0) {
        SetLastError(static_cast<std::uint32_t>(fFailed));
        return false;
    }
    const auto limit = PlanWrite(fTimeouts, n);
    const std::uint32_t aborts = fWriteAbortGeneration;
    TnrWakeSignal* mySignal = fWake.Enter();
    if (!mySignal) return FailWithErrno();
    lock.unlock();

    std::optional<Clock::time_point> deadline;
    if (limit) deadline = Clock::now() + *limit;
    int error = 0;
    while (written < n) {
        const ssize_t put = ::write(fFd, data + written, n - written);
        if (put > 0) {
            written += static_cast<std::uint32_t>(put);
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EINTR) {
            error = errno;
            break;
        }
        if (deadline && Clock::now() >= *deadline) {
            timedOut = true;
            break;
        }
        pollfd fds[2] = {{fFd, POLLOUT, 0}, {mySignal->Fd(), POLLIN, 0}};
        ::poll(fds, 2, PollTimeout(deadline));
        if (fds[1].revents) {
            mySignal->Drain();
            std::lock_guard g(fLock);
            if (fClosed)
                error = EBADF;
            else if (fWriteAbortGeneration != aborts)
                error = ECANCELED; // PURGE_TXABORT
            else if (fFailed != 0)
                error = fFailed;
            if (error != 0) break;
        }
    }

    lock.lock();
    fWake.Leave(mySignal);
    if (written > 0) fTxPending = true;
    if (error == EIO) MarkFailed(error);
    if (error != 0) {
        SetLastError(static_cast<std::uint32_t>(error));
        return false;
    }
    return true;
}

bool TnrPosixSerialDevice::WriteFile(const void* buffer, std::uint32_t n, std::uint32_t& written) {
    written = 0;
    TCall call(this);
    if (!call) return false;
    bool timedOut = false;
    if (!WriteBytes(static_cast<const char*>(buffer), n, written, timedOut)) return false;
    if (timedOut) {
        // Not all bytes could be queued in time: a failure, with `written` telling how
        // many went, rather than a success that hides the loss.
        SetLastError(ETIMEDOUT);
        return false;
    }
    return true;
}

bool TnrPosixSerialDevice::TransmitCommChar(char c) {
    TCall call(this);
    if (!call) return false;
    // A direct one-byte write: the tty layer has no queue to jump, and the byte goes out
    // right after what the driver already holds.
    std::uint32_t written = 0;
    bool timedOut = false;
    if (!WriteBytes(&c, 1, written, timedOut)) return false;
    if (timedOut) {
        SetLastError(ETIMEDOUT);
        return false;
    }
    return true;
}

bool TnrPosixSerialDevice::PurgeComm(std::uint32_t flags) {
    if (flags & ~kPurgeFlags) {
        SetLastError(EINVAL);
        return false;
    }
    TCall call(this);
    if (!call) return false;
    std::lock_guard g(fLock);
    if (flags & PURGE_TXABORT) ++fWriteAbortGeneration;
    if (flags & PURGE_RXABORT) ++fReadAbortGeneration;
    if (flags & (PURGE_TXABORT | PURGE_RXABORT)) fWake.Kick();
    if (flags & (PURGE_TXABORT | PURGE_TXCLEAR)) fTxPending = false;
    if ((flags & PURGE_TXCLEAR) && tcflush(fFd, TCOFLUSH) != 0) return FailWithErrno();
    if (flags & PURGE_RXCLEAR) {
        // Both input queues at once, under the lock, so no read-ahead slips in between.
        fAheadHead = fAheadCount = 0;
        fKernelUnread = false;
        if (tcflush(fFd, TCIFLUSH) != 0) return FailWithErrno();
    }
    return true;
}

bool TnrPosixSerialDevice::DrainOutput(std::chrono::milliseconds stallLimit, bool closing) {
    std::unique_lock lock(fLock);
    TnrWakeSignal* mySignal = fWake.Enter();
    if (!mySignal) return FailWithErrno();
    std::uint32_t last = MAXDWORD;
    auto progress = Clock::now();
    bool drained = false;
    int error = ETIMEDOUT;
    for (;;) {
        std::uint32_t queued = 0;
        if (OutputEmpty(queued)) {
            drained = true;
            break;
        }
        if (queued < last) {
            last = queued;
            progress = Clock::now();
        } else if (Clock::now() - progress >= stallLimit) {
            break;
        }
        const auto pace = DrainPace(queued);
        lock.unlock();
        pollfd fd{mySignal->Fd(), POLLIN, 0};
        ::poll(&fd, 1, static_cast<int>(pace.count()));
        if (fd.revents) mySignal->Drain();
        lock.lock();
        // A flush ends when the port is closed under it; Close() itself drains after
        // setting fClosed.
        if (fClosed && !closing) {
            error = EBADF;
            break;
        }
        if (fFailed != 0) {
            error = fFailed;
            break;
        }
    }
    fWake.Leave(mySignal);
    if (!drained) SetLastError(static_cast<std::uint32_t>(error));
    return drained;
}

bool TnrPosixSerialDevice::FlushFileBuffers() {
    TCall call(this);
    if (!call) return false;
    std::chrono::milliseconds stallLimit = 5s;
    {
        std::lock_guard g(fLock);
        if (fTimeouts.WriteTotalTimeoutConstant != 0)
            stallLimit = std::chrono::milliseconds(fTimeouts.WriteTotalTimeoutConstant);
    }
    return DrainOutput(stallLimit, false);
}

bool TnrPosixSerialDevice::EscapeCommFunction(std::uint32_t func) {
    TCall call(this);
    if (!call) return false;
    std::lock_guard g(fLock);
    int line = 0;
    int result = 0;
    switch (func) {
    case SETXOFF: // as if XOFF was received: output stops
        result = tcflow(fFd, TCOOFF);
        if (result == 0) fXoffHold = true;
        break;
    case SETXON:
        result = tcflow(fFd, TCOON);
        if (result == 0) fXoffHold = false;
        break;
    case SETRTS:
        line = TIOCM_RTS;
        result = ioctl(fFd, TIOCMBIS, &line);
        break;
    case CLRRTS:
        line = TIOCM_RTS;
        result = ioctl(fFd, TIOCMBIC, &line);
        break;
    case SETDTR:
        line = TIOCM_DTR;
        result = ioctl(fFd, TIOCMBIS, &line);
        break;
    case CLRDTR:
        line = TIOCM_DTR;
        result = ioctl(fFd, TIOCMBIC, &line);
        break;
    case SETBREAK:
        result = ioctl(fFd, TIOCSBRK);
        break;
    case CLRBREAK:
        result = ioctl(fFd, TIOCCBRK);
        break;
    default:
        SetLastError(EINVAL);
        return false;
    }
    return result == 0 || FailWithErrno();
}

// ---------------------------------------------------------------------------------------

THandle OpenPortByName(const QString& name) {
    QString path;
    if (name.startsWith(QLatin1Char('/'))) {
        path = name;
    } else if (!ResolvePortName(name, path)) {
        return INVALID_HANDLE_VALUE; // ENOENT, "No such file or directory"
    }
    auto device = TnrPosixSerialDevice::Open(name, path);
    if (!device) return INVALID_HANDLE_VALUE;
    return RegisterHandle(device);
}
