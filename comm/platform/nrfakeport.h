// TnrFakeSerialDevice: an in-memory serial device for tests of what a pseudo-terminal
// can't carry: modem lines, line errors, RS-485 support, failing waits and transfers.
//
// A test creates one, registers it (RegisterHandle) and hands the handle to the port
// component (TnrComm::SetExtHandle). It then plays the far end and the driver:
//
//   InjectReceived(bytes)        bytes arrive: input queue, EV_RXCHAR (EV_RXFLAG for EvtChar,
//                                EV_RX80FULL past 80 % of the input queue size)
//   SetModemLines(MS_* bits)     CTS/DSR/RING/RLSD change: EV_CTS/EV_DSR/EV_RING/EV_RLSD
//                                for each line that changed
//   InjectLineErrors(CE_* bits)  line errors: ClearCommError returns them once; EV_ERR for
//                                overrun/parity/framing/queue overrun, EV_BREAK for a break
//   FailNextWait(errno)          the pending or next WaitCommEvent ends with wrFailed
//   FailReads/FailWrites(errno)  transfers fail until called again with 0
//   SetOutQueue(n)               bytes "still in the driver's output queue"; going back to
//                                0 raises EV_TXEMPTY
//   SetSupportsRS485(on)         what SupportsRS485() answers
//   SetLoopback(on)              RTS is wired to CTS and DTR to DSR, as on a test plug
//
// and reads back what the component did: AppliedStates() (every DCB set), Escapes() (the
// escape functions in order), Purges(), Written() (WriteFile bytes), SentAhead()
// (TransmitCommChar bytes), Timeouts(), QueueSizes(), Mask() and MaskHistory(), counts of
// flushes and waits, and Waiting() (a WaitCommEvent is pending now).
//
// Events follow the driver's rule: an event counts only while it is in the mask; it is
// kept until a wait returns it. A new mask ends a pending wait with an empty mask and
// drops kept events that the new mask no longer holds. Data written is "sent" at once
// (EV_TXEMPTY right after each write when it is in the mask) unless SetOutQueue holds it.
//
// Threads: every member may be called from any thread; one mutex guards all state. A
// wait or a blocking read releases it while blocked. Close() (through CloseHandle) ends
// every pending wait with wrInvalidHandle and every pending read with EBADF.
#pragma once

#include "nrserialapi.h"
#include "nrwakechannel.h"

#include <QByteArray>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

class TnrFakeSerialDevice : public TnrSerialDevice {
public:
    explicit TnrFakeSerialDevice(const QString& name = QStringLiteral("FAKE"));
    ~TnrFakeSerialDevice() override;

    // --- the far end and the driver, played by the test ---
    void InjectReceived(const QByteArray& bytes);
    // Sets the input lines as MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON bits. In
    // loopback mode CTS and DSR follow RTS and DTR and the given CTS/DSR bits are ignored.
    void SetModemLines(std::uint32_t msBits);
    void InjectLineErrors(std::uint32_t ceBits);
    void FailNextWait(int error);
    void FailReads(int error);
    void FailWrites(int error);
    void SetOutQueue(std::uint32_t bytes);
    void SetSupportsRS485(bool supported);
    void SetLoopback(bool on);

    // --- what the component did ---
    std::vector<TDCB> AppliedStates() const;
    std::vector<std::uint32_t> Escapes() const;
    std::vector<std::uint32_t> Purges() const;
    QByteArray Written() const;
    QByteArray SentAhead() const;
    TCommTimeouts Timeouts() const;
    std::pair<std::uint32_t, std::uint32_t> QueueSizes() const;
    std::uint32_t Mask() const;
    std::vector<std::uint32_t> MaskHistory() const;
    int FlushCount() const;
    int WaitCount() const;
    int ClearCommErrorCount() const;
    bool Waiting() const;
    bool Closed() const;
    // The output lines as the component left them.
    bool Rts() const;
    bool Dtr() const;
    bool BreakOn() const;
    std::uint32_t InQueue() const;

    // --- TnrSerialDevice ---
    QString Name() const override { return fName; }
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
    bool FlushFileBuffers() override;
    bool EscapeCommFunction(std::uint32_t func) override;
    bool GetCommModemStatus(std::uint32_t& status) override;
    bool GetCommProperties(TCommProp& prop) override;
    bool SupportsRS485() override;

private:
    using TLock = std::unique_lock<std::mutex>;

    // All with fLock held.
    void Raise(std::uint32_t events);
    // Raises EV_CTS/EV_DSR/EV_RING/EV_RLSD for the lines that differ from `before`.
    void RaiseLineChanges(std::uint32_t before);
    std::uint32_t EffectiveLines() const;
    bool FailIfClosed() const;

    const QString fName;
    mutable std::mutex fLock;
    std::condition_variable fInputChanged; // reads wait on it
    TnrWakeChannel fWake;                  // waits poll it

    bool fClosed = false;
    TDCB fDcb;
    TCommTimeouts fTimeouts;
    std::uint32_t fInSize = 4096, fOutSize = 4096;
    std::uint32_t fMask = 0;
    std::uint32_t fMaskGeneration = 0;
    std::uint32_t fPendingEvents = 0;
    std::uint32_t fErrors = 0;
    int fFailNextWait = 0;
    int fFailReads = 0;
    int fFailWrites = 0;
    std::uint32_t fPurgeGeneration = 0; // a read pending across PURGE_RXABORT ends
    QByteArray fInput;
    std::uint32_t fOutQueue = 0;
    std::uint32_t fLines = 0; // MS_* bits set by the test
    bool fRts = false, fDtr = false, fBreak = false, fXoffHold = false;
    bool fRS485 = false;
    bool fLoopback = false;

    std::vector<TDCB> fAppliedStates;
    std::vector<std::uint32_t> fEscapes;
    std::vector<std::uint32_t> fPurges;
    std::vector<std::uint32_t> fMaskHistory;
    QByteArray fWritten;
    QByteArray fSentAhead;
    int fFlushCount = 0;
    int fWaitCount = 0;
    int fClearErrorCount = 0;
};
