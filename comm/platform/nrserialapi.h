// The serial device service the portable library calls.
//
// The operations keep the shape of the classic serial API (open a port by name, device
// control block, timeouts, event mask and event wait, status and error query, transfers,
// purge, escape functions, modem status, properties), so the component code reads like
// the port logic it implements. Each operation takes a THandle (nrhandle.h), finds the
// TnrSerialDevice behind it and calls it; a handle that is not open fails with EBADF.
// A failed operation returns false and leaves the operating system's reason in
// GetLastError() (nrerror.h).
//
// Two devices implement TnrSerialDevice: the Linux one (nrposixport.*: termios2 and the
// serial ioctls) and the fake one used by tests for what a pseudo-terminal can't do
// (modem lines, line errors, failures). A test registers a fake with RegisterHandle and
// hands the handle to TnrComm::SetExtHandle.
//
// Threads: every operation may be called from any thread. WaitCommEvent blocks; it ends
// when an event of the mask occurs, when the mask is changed (empty mask), when the
// wake-up event is set or pulsed, when the handle is closed or the device fails, and when
// a timeout it was given runs out.
#pragma once

#include "nrhandle.h"

#include <QString>
#include <cstdint>
#include <atomic>
#include <memory>

// ---------------------------------------------------------------------------------------
// Records, laid out as the classic serial API lays them out (the stored configuration
// of a port writes the device control block byte for byte).

#pragma pack(push, 1)
struct TDCB {
    std::uint32_t DCBlength = 28;
    std::uint32_t BaudRate = 0;
    std::uint32_t Flags = 0;
    std::uint16_t wReserved = 0;
    std::uint16_t XonLim = 0;
    std::uint16_t XoffLim = 0;
    std::uint8_t ByteSize = 0;
    std::uint8_t Parity = 0;
    std::uint8_t StopBits = 0;
    char XonChar = 0;
    char XoffChar = 0;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
    std::uint16_t wReserved1 = 0;
};
#pragma pack(pop)
static_assert(sizeof(TDCB) == 28, "the device control block is 28 bytes");

// Flags of TDCB.
inline constexpr std::uint32_t DCB_fBinary = 0x0001;
inline constexpr std::uint32_t DCB_fParity = 0x0002;
inline constexpr std::uint32_t DCB_fOutxCtsFlow = 0x0004;
inline constexpr std::uint32_t DCB_fOutxDsrFlow = 0x0008;
inline constexpr std::uint32_t DCB_fDtrControlMask = 0x0030; // 0x10 enable, 0x20 handshake
inline constexpr std::uint32_t DCB_fDtrControlEnable = 0x0010;
inline constexpr std::uint32_t DCB_fDsrSensitivity = 0x0040;
inline constexpr std::uint32_t DCB_fTXContinueOnXoff = 0x0080;
inline constexpr std::uint32_t DCB_fOutX = 0x0100;
inline constexpr std::uint32_t DCB_fInX = 0x0200;
inline constexpr std::uint32_t DCB_fErrorChar = 0x0400;
inline constexpr std::uint32_t DCB_fNull = 0x0800;
inline constexpr std::uint32_t DCB_fRtsControlMask = 0x3000; // 0x1000 enable, 0x2000 handshake, 0x3000 toggle
inline constexpr std::uint32_t DCB_fRtsControlEnable = 0x1000;
inline constexpr std::uint32_t DCB_fRtsControlHandshake = 0x2000;
inline constexpr std::uint32_t DCB_fRtsControlToggle = 0x3000;
inline constexpr std::uint32_t DCB_fAbortOnError = 0x4000;

// TDCB::Parity and TDCB::StopBits values.
inline constexpr std::uint8_t NOPARITY = 0, ODDPARITY = 1, EVENPARITY = 2, MARKPARITY = 3, SPACEPARITY = 4;
inline constexpr std::uint8_t ONESTOPBIT = 0, ONE5STOPBITS = 1, TWOSTOPBITS = 2;

#pragma pack(push, 1)
struct TCommConfig {
    std::uint32_t dwSize = 52;
    std::uint16_t wVersion = 0;
    std::uint16_t wReserved = 0;
    TDCB dcb;
    std::uint32_t dwProviderSubType = 0;
    std::uint32_t dwProviderOffset = 0;
    std::uint32_t dwProviderSize = 0;
    std::uint16_t wcProviderData[2] = {0, 0};
};
#pragma pack(pop)
static_assert(sizeof(TCommConfig) == 52, "the port configuration record is 52 bytes");

struct TCommTimeouts {
    std::uint32_t ReadIntervalTimeout = 0;
    std::uint32_t ReadTotalTimeoutMultiplier = 0;
    std::uint32_t ReadTotalTimeoutConstant = 0;
    std::uint32_t WriteTotalTimeoutMultiplier = 0;
    std::uint32_t WriteTotalTimeoutConstant = 0;
};

// The port status a status query fills.
struct TComStat {
    std::uint32_t Flags = 0; // TComStateFlags: fCtsHold 0x01, fDsrHold 0x02, fRlsdHold 0x04, fXoffHold 0x08,
                             // fXoffSent 0x10, fEof 0x20, fTxim 0x40
    std::uint32_t cbInQue = 0;
    std::uint32_t cbOutQue = 0;
};

// The port's capabilities.
struct TCommProp {
    std::uint16_t wPacketLength = 0;
    std::uint16_t wPacketVersion = 0;
    std::uint32_t dwServiceMask = 0;
    std::uint32_t dwReserved1 = 0;
    std::uint32_t dwMaxTxQueue = 0;
    std::uint32_t dwMaxRxQueue = 0;
    std::uint32_t dwMaxBaud = 0;
    std::uint32_t dwProvSubType = 0;
    std::uint32_t dwProvCapabilities = 0;
    std::uint32_t dwSettableParams = 0;
    std::uint32_t dwSettableBaud = 0;
    std::uint16_t wSettableData = 0;
    std::uint16_t wSettableStopParity = 0;
    std::uint32_t dwCurrentTxQueue = 0;
    std::uint32_t dwCurrentRxQueue = 0;
    std::uint32_t dwProvSpec1 = 0;
    std::uint32_t dwProvSpec2 = 0;
};

// Port events (event mask and the mask a wait returns).
inline constexpr std::uint32_t EV_RXCHAR = 0x0001, EV_RXFLAG = 0x0002, EV_TXEMPTY = 0x0004, EV_CTS = 0x0008,
                               EV_DSR = 0x0010, EV_RLSD = 0x0020, EV_BREAK = 0x0040, EV_ERR = 0x0080,
                               EV_RING = 0x0100, EV_PERR = 0x0200, EV_RX80FULL = 0x0400, EV_EVENT1 = 0x0800,
                               EV_EVENT2 = 0x1000;

// Line error bits a status query returns.
inline constexpr std::uint32_t CE_RXOVER = 0x0001, CE_OVERRUN = 0x0002, CE_RXPARITY = 0x0004, CE_FRAME = 0x0008,
                               CE_BREAK = 0x0010, CE_TXFULL = 0x0100;

inline constexpr std::uint32_t PURGE_TXABORT = 0x1, PURGE_RXABORT = 0x2, PURGE_TXCLEAR = 0x4, PURGE_RXCLEAR = 0x8;

// EscapeCommFunction codes.
inline constexpr std::uint32_t SETXOFF = 1, SETXON = 2, SETRTS = 3, CLRRTS = 4, SETDTR = 5, CLRDTR = 6,
                               SETBREAK = 8, CLRBREAK = 9;

// GetCommModemStatus bits.
inline constexpr std::uint32_t MS_CTS_ON = 0x10, MS_DSR_ON = 0x20, MS_RING_ON = 0x40, MS_RLSD_ON = 0x80;

// ---------------------------------------------------------------------------------------

// An event a thread can wait on next to a device (an eventfd): Set stays signalled until
// a wait consumes it; Pulse wakes a waiter that is waiting now and is otherwise lost.
class TnrEvent {
public:
    TnrEvent();
    ~TnrEvent();
    TnrEvent(const TnrEvent&) = delete;
    TnrEvent& operator=(const TnrEvent&) = delete;

    void Set();
    void Pulse();
    // True when the event was signalled, consuming the signal.
    bool TryConsume();
    // Waits up to TimeoutMs for the event, without consuming it; true when signalled.
    bool WaitFor(int TimeoutMs) const;
    int Fd() const { return fFd; }

private:
    int fFd;
    std::atomic<int> fWaiters{0};
    friend class TnrEventWaitScope;
};

// Marks a thread as waiting on an event, so Pulse knows whether to signal.
class TnrEventWaitScope {
public:
    explicit TnrEventWaitScope(TnrEvent* e) : fEvent(e) {
        if (fEvent)
            fEvent->fWaiters.fetch_add(1);
    }
    ~TnrEventWaitScope() {
        if (fEvent)
            fEvent->fWaiters.fetch_sub(1);
    }

private:
    TnrEvent* fEvent;
};

// How a WaitCommEvent ended.
enum class TnrWaitResult {
    wrEvent,         // mask holds the events that occurred (0 when the mask was changed)
    wrWoken,         // the wake-up event was set or pulsed
    wrInvalidHandle, // the handle was closed, before or during the wait
    wrFailed,        // the device failed (gone, hung up); GetLastError() has the reason
    wrTimeout,       // a wait given a timeout saw none of the above within it
};

class TnrSerialDevice : public TnrHandleObject {
public:
    // The name the device was opened with, for messages.
    virtual QString Name() const = 0;

    virtual bool GetCommState(TDCB& dcb) = 0;
    virtual bool SetCommState(const TDCB& dcb) = 0;
    virtual bool SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) = 0;
    virtual bool GetCommTimeouts(TCommTimeouts& t) = 0;
    virtual bool SetCommTimeouts(const TCommTimeouts& t) = 0;
    virtual bool GetCommMask(std::uint32_t& mask) = 0;
    virtual bool SetCommMask(std::uint32_t mask) = 0;
    // timeoutMs < 0 waits for as long as it takes.
    virtual TnrWaitResult WaitCommEvent(std::uint32_t& mask, TnrEvent* wakeUp, int timeoutMs = -1) = 0;
    virtual bool ClearCommError(std::uint32_t& errors, TComStat* stat) = 0;
    // The bytes waiting to be read, leaving the line errors to ClearCommError.
    virtual bool InputQueueCount(std::uint32_t& count) = 0;
    // Whether the bytes waiting to be read hold `byte`, as far as the device has seen them
    // without reading for the caller (a tty: the bytes its waiting thread took ahead).
    virtual bool InputQueueContains(char byte, bool& found) = 0;
    // Reads as the read timeouts decide: all 0 waits for n bytes; ReadIntervalTimeout ends
    // the read after that pause between bytes. `read` is what arrived before it ended.
    virtual bool ReadFile(void* buffer, std::uint32_t n, std::uint32_t& read) = 0;
    // Writes n bytes, waiting for them to be queued as the write timeouts decide.
    virtual bool WriteFile(const void* buffer, std::uint32_t n, std::uint32_t& written) = 0;
    virtual bool PurgeComm(std::uint32_t flags) = 0;
    virtual bool TransmitCommChar(char c) = 0;
    virtual bool FlushFileBuffers() = 0;
    virtual bool EscapeCommFunction(std::uint32_t func) = 0;
    virtual bool GetCommModemStatus(std::uint32_t& status) = 0;
    virtual bool GetCommProperties(TCommProp& prop) = 0;
    // Whether the driver toggles RTS around transmissions by itself (RS-485 mode).
    virtual bool SupportsRS485() = 0;
};

// Opens a port exclusively by its name: "COMn" through the serial-port map, or an
// absolute device path. INVALID_HANDLE_VALUE on failure, with the reason as last error.
THandle OpenPortByName(const QString& name);

bool GetCommState(THandle h, TDCB& dcb);
bool SetCommState(THandle h, const TDCB& dcb);
bool SetupComm(THandle h, std::uint32_t inQueue, std::uint32_t outQueue);
bool GetCommTimeouts(THandle h, TCommTimeouts& t);
bool SetCommTimeouts(THandle h, const TCommTimeouts& t);
bool GetCommMask(THandle h, std::uint32_t& mask);
bool SetCommMask(THandle h, std::uint32_t mask);
TnrWaitResult WaitCommEvent(THandle h, std::uint32_t& mask, TnrEvent* wakeUp, int timeoutMs = -1);
bool ClearCommError(THandle h, std::uint32_t* errors, TComStat* stat);
bool InputQueueCount(THandle h, std::uint32_t& count);
bool InputQueueContains(THandle h, char byte, bool& found);
bool ReadFile(THandle h, void* buffer, std::uint32_t n, std::uint32_t& read);
bool WriteFile(THandle h, const void* buffer, std::uint32_t n, std::uint32_t& written);
bool PurgeComm(THandle h, std::uint32_t flags);
bool TransmitCommChar(THandle h, char c);
bool FlushFileBuffers(THandle h);
bool EscapeCommFunction(THandle h, std::uint32_t func);
bool GetCommModemStatus(THandle h, std::uint32_t& status);
bool GetCommProperties(THandle h, TCommProp& prop);
bool SupportsRS485(THandle h);

// The starting line settings of a new port component: 9600 8N1, DTR and RTS enabled.
TCommConfig GetDefaultCommConfig();
