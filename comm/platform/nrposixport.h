// TnrPosixSerialDevice: a serial port of Linux (a tty: UART, USB adapter, pseudo-terminal)
// behind the serial device service of nrserialapi.h.
//
//   open          O_RDWR|O_NOCTTY|O_NONBLOCK|O_CLOEXEC, flock(LOCK_EX|LOCK_NB) and
//                 TIOCEXCL: a second opener gets EBUSY (root ignores TIOCEXCL, the lock
//                 still stops it). The termios found is saved and put back on close, the
//                 port is switched to raw mode at once.
//   line settings termios2 (nrtermios2.h); DTR/RTS by TIOCMBIS/TIOCMBIC; RTS toggle by
//                 TIOCSRS485 where the driver has it (else RTS rests low and the caller
//                 toggles it)
//   queue sizes   kept and reported: the kernel's tty queues are fixed
//   input queue   the device's own input queue in front of the kernel's (64 KiB): the
//                 waiting thread moves arriving bytes into it at once, as a serial driver
//                 moves them from the UART into its queue, so the kernel's small tty
//                 buffer (4 KiB) never holds the line back while the bytes wait for a
//                 reader, and a reader takes all that arrived at one go. Status queries
//                 count both queues; reads take the device's queue first; a receive purge
//                 empties both. When it is full the bytes stay in the kernel's queue.
//   timeouts      applied by ReadFile/WriteFile with poll (rules in nrtimeoutplan.h); a
//                 write that times out fails with ETIMEDOUT and reports what was queued
//   events        epoll on the port, edge-triggered: EV_RXCHAR means "new bytes arrived
//                 since the last wait harvested", never "bytes are waiting", so bytes the
//                 caller leaves in the queue don't wake it again. Bytes already waiting
//                 when the port opens count as one arrival.
//                 EV_RX80FULL: both queues together hold 80% of the input queue size.
//                 EV_TXEMPTY: after a write, once TIOCOUTQ reaches 0 (checked at the pace
//                 the queue needs to drain at the current baud rate - only while output
//                 is pending and the event is asked for).
//                 EV_CTS/EV_DSR/EV_RING/EV_RLSD: a helper thread blocked in TIOCMIWAIT,
//                 running only while such events are in the mask and the driver has modem
//                 lines (TIOCMGET every 50 ms where the driver lacks TIOCMIWAIT).
//                 EV_ERR/EV_BREAK and the CE_* bits: deltas of the driver's TIOCGICOUNT
//                 counters (frame, parity, overrun, buffer overrun, break), looked at when
//                 bytes arrive and at every error query.
//                 EV_RXFLAG, EV_EVENT1/2 and EV_PERR never occur: a tty can't be peeked
//                 for the event character.
//   empty mask    a wait blocks until a mask is set, the wake-up event fires or the port
//                 closes (it never returns at once, which would make its caller spin)
//   device gone   POLLHUP/POLLERR, read() returning 0, EIO: the failure sticks (EIO); a
//                 wait reports events already harvested first, then fails, so bytes that
//                 arrived before the loss are still announced.
//   pseudo-terminals have no modem lines, counters or RS-485: those ioctls answer ENOTTY
//                 or EINVAL, which means "not here", never a failure of the port.
//
// An idle open port costs no CPU: every wait blocks in poll without a timeout (the only
// timed waits are the drain checks while output is pending).
//
// Threads: every operation may be called from any thread and concurrently (typically the
// event thread waits while another thread reads, writes or reconfigures). fLock guards
// the state fields and the input queue; every read() of the port happens under it, so
// bytes leave the two queues in the order they came. Blocking system calls on the port
// (poll, the modem-line wait) run without it. Close() (from CloseHandle)
// marks the device closed, wakes every blocked call, waits for calls in progress to
// leave, stops the modem-line thread and only then closes the descriptor, so no call can
// ever use a descriptor number that was reused.
#pragma once

#include "nrserialapi.h"
#include "nrtermios2.h"
#include "nrwakechannel.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

// The driver's counters (TIOCGICOUNT) that the device turns into events and error bits.
struct TnrSerialCounters {
    int Cts = 0, Dsr = 0, Rng = 0, Dcd = 0;
    int Frame = 0, Parity = 0, Overrun = 0, BufOverrun = 0, Brk = 0;
};

// Events for a change of the input lines from `linesBefore` to `linesNow` (TIOCM_* bits).
// The counters, where the driver keeps them (both or neither given), also catch a line
// that changed and came back before anyone looked. EV_RING comes when the ring indicator
// turns on, or from its counter (which the kernel counts at the end of a ring).
std::uint32_t ModemLineEvents(int linesBefore, int linesNow, const TnrSerialCounters* before,
                              const TnrSerialCounters* now);
// The CE_* bits for the error counters that moved.
std::uint32_t LineErrorBits(const TnrSerialCounters& before, const TnrSerialCounters& now);
// EV_ERR for overrun, parity, framing and queue overrun errors, EV_BREAK for a break.
std::uint32_t LineErrorEvents(std::uint32_t ceBits);

class TnrPosixSerialDevice : public TnrSerialDevice {
public:
    // Opens the tty at `path`; `name` is what messages call it ("COM3"). Null on failure,
    // with errno's reason as the last error.
    static std::shared_ptr<TnrPosixSerialDevice> Open(const QString& name, const QString& path);

    ~TnrPosixSerialDevice() override;

    QString Name() const override { return fName; }
    QString Path() const { return fPath; }
    // Calls blocked in the device right now (waits, reads, writes, flushes); lets a test
    // act only once the call it means to end is really waiting.
    int BlockedCalls() const;
    void Close() override;

    bool GetCommState(TDCB& dcb) override;
    bool SetCommState(const TDCB& dcb) override;
    bool SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) override;
    bool GetCommTimeouts(TCommTimeouts& t) override;
    bool SetCommTimeouts(const TCommTimeouts& t) override;
    bool GetCommMask(std::uint32_t& mask) override;
    bool SetCommMask(std::uint32_t mask) override;
    TnrWaitResult WaitCommEvent(std::uint32_t& mask, TnrEvent* wakeUp, int timeoutMs = -1) override;
    bool ClearCommError(std::uint32_t& errors, TComStat* stat) override;
    bool InputQueueCount(std::uint32_t& count) override;
    bool InputQueueContains(char byte, bool& found) override;
    bool ReadFile(void* buffer, std::uint32_t n, std::uint32_t& read) override;
    bool WriteFile(const void* buffer, std::uint32_t n, std::uint32_t& written) override;
    bool PurgeComm(std::uint32_t flags) override;
    bool TransmitCommChar(char c) override;
    // Waits until the driver's output queue is empty. Fails with ETIMEDOUT when the
    // queue makes no progress for the write timeout (5 s when none is set): output held
    // by flow control on a line nobody serves must not block the caller forever.
    bool FlushFileBuffers() override;
    bool EscapeCommFunction(std::uint32_t func) override;
    bool GetCommModemStatus(std::uint32_t& status) override;
    // Values a Linux tty really offers: any baud rate (BAUD_USER), 5-8 data bits, 1/1.5/2
    // stop bits, all five parities, RTS/CTS and XON/XOFF flow control, total and interval
    // timeouts; no DSR flow, no event character. Queue sizes are those SetupComm kept.
    bool GetCommProperties(TCommProp& prop) override;
    bool SupportsRS485() override;

private:
    TnrPosixSerialDevice(const QString& name, const QString& path, int fd);
    bool Initialise();

    // A call in progress: Close() waits for all of them to leave before the fd goes.
    class TCall;

    // With fLock held.
    void Raise(std::uint32_t events);
    void CollectLineErrors();
    void MarkFailed(int error);
    // Moves what the kernel holds into the input queue, while there is room. True when
    // bytes came (or are left in the kernel because the queue is full).
    bool ReadAhead();
    // Raises EV_RXCHAR (and EV_RX80FULL when the queues are that full) for bytes that came.
    void Announce();
    // Copies up to n bytes out of the input queue.
    std::uint32_t TakeAhead(char* out, std::uint32_t n);
    // Reads the kernel's queue straight into out (when the input queue is empty); sets
    // error for a failed or ended device.
    std::uint32_t ReadKernel(char* out, std::uint32_t n, int& error);
    void UpdateModemThread();
    std::chrono::milliseconds DrainPace(std::uint32_t queued) const;

    bool ApplyControlLines(const TDCB& dcb);
    bool WriteBytes(const char* data, std::uint32_t n, std::uint32_t& written, bool& timedOut);
    bool DrainOutput(std::chrono::milliseconds stallLimit, bool closing);
    bool OutputEmpty(std::uint32_t& queued);
    void ModemThreadBody();
    void StopModemThread(std::unique_lock<std::mutex>& lock);

    const QString fName;
    const QString fPath;
    const int fFd;
    int fEpoll = -1;

    mutable std::mutex fLock;
    std::condition_variable fCallsLeft;
    TnrWakeChannel fWake;
    int fCalls = 0;
    bool fClosed = false;
    int fFailed = 0; // errno of a device that is gone, 0 while it works

    TnrSavedTermios fSavedTermios;
    TDCB fDcb;
    TCommTimeouts fTimeouts;
    std::uint32_t fInSize = 4096, fOutSize = 4096;
    std::uint32_t fMask = 0;
    std::uint32_t fMaskGeneration = 0;
    std::uint32_t fPending = 0;
    std::uint32_t fErrors = 0;
    std::uint32_t fReadAbortGeneration = 0;
    std::uint32_t fWriteAbortGeneration = 0;
    bool fTxPending = false;
    bool fXoffHold = false;

    // The input queue: a ring of kAheadBytes, fAheadCount bytes from fAheadHead on.
    static constexpr std::uint32_t kAheadBytes = 64 * 1024;
    std::unique_ptr<char[]> fAhead;
    std::uint32_t fAheadHead = 0;
    std::uint32_t fAheadCount = 0;
    // Bytes were left in the kernel's queue because the input queue was full.
    bool fKernelUnread = false;

    bool fHasModemLines = false;
    bool fHasCounters = false;
    bool fHasRS485 = false;
    bool fRS485Changed = false;
    alignas(8) unsigned char fSavedRS485[32] = {};
    TnrSerialCounters fCounters; // the error counters as last seen
    int fLines = 0;              // TIOCM_* bits as last seen by the modem-line thread

    std::thread fModemThread;
    bool fModemThreadStop = false;
    bool fModemThreadRunning = false;
    std::condition_variable fModemThreadChanged;
};
