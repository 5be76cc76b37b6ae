// nrcomm: the serial port component.
//
//   TnrCustomComm        a serial port: line settings, queue sizes, timeouts, the two port
//                        threads and event processing, sending, reading, waits, modem lines
//                        and monitor controls.
//   TnrCustomSerialComm  a numbered port "COMn" (ComPortNo), opened through the serial-port
//                        map or a handle handed over with SetExtHandle; its device list.
//   TnrComm              the component the application places on its windows.
//
// Opening (Active := True) opens the device, applies the line settings, sets the event
// mask from TraceStates and starts two threads (nrcommthreads.h). Every chunk of received
// bytes then reaches OnAfterReceive, in order, at most BufferInSize (at least 8192) bytes
// at a time, on the user-interface thread when UseMainThread is true (the default).
// Closing (Active := False, destruction, or the device failing) stops both threads, frees
// the receive buffer, closes the handle, calls OnClose and sends notification 1.
//
// Threading contract:
//   - The component belongs to the thread that created it (normally the user-interface
//     thread): properties, open, close, sends, reads and waits are called there.
//   - Event processing (ProcessCommEvent and everything it calls: OnAfterReceive,
//     OnAfterSend, OnTraceState, OnCommError, the data processor, the terminal, the monitor
//     controls, OnFatalError of a failed event) runs on the user-interface thread while
//     UseMainThread is true, else on the port's message thread. It always runs under the
//     session's processing lock, which every close also takes: a close on any thread waits
//     for the event being processed and the event processing never sees a freed buffer or
//     handle. A handler may close the port, or reopen it, from inside the processing.
//   - A std::exception of any class raised by a handler during event processing ends that
//     event's processing and is reported as fatal error 1 with ShowOnly (OnFatalError, the
//     "Fatal Error" log line, the error box unless the handler clears RaiseException); its
//     detail is the system error of that moment (a std::system_error's own code, else what
//     the failing calls of the handler left). The port stays open.
//   - When waiting on the port fails (device unplugged, pseudo-terminal master closed), the
//     port is closed by the thread that processes events (the user-interface thread when
//     UseMainThread is true): OnClose and notification 1 run there, never overlapping an
//     event being processed. No fatal error is reported for it.
//   - With UseMainThread false, set the handlers and links (OnAfterReceive, Log,
//     DataProcessor, ...) before opening: the message thread reads them without a lock.
//     Monitor-control links may change at any time (they are guarded). Handlers on the
//     message thread must not wait for the user-interface thread while it may be closing
//     the port.
//   - Counters (TotalReceived, TotalSent), TraceStates, RS485Mode and Handle may be read
//     from any thread.
//   - Sends go through a per-open writer thread (started at the first send) so that
//     SendData returns as soon as its bytes are queued and the bytes of successive sends
//     keep their order; SendChar and SendString wait until their bytes reach the driver.
#pragma once

#include "nrbaseio.h"
#include "platform/nrregistry.h"
#include "platform/nrserialapi.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>

class TCommSession;
class TCommWriter;
class TMsgThread;
struct TPortReturnWatch;

// A set of enumeration values stored as bits (bit n for ordinal n).
template <class E, class TBits> struct TnrSet {
    TBits Bits = 0;

    constexpr TnrSet() = default;
    constexpr TnrSet(std::initializer_list<E> items) {
        for (E e : items)
            Include(e);
    }
    static constexpr TnrSet FromBits(TBits bits) {
        TnrSet s;
        s.Bits = bits;
        return s;
    }
    constexpr bool Contains(E e) const { return (Bits >> static_cast<unsigned>(e)) & 1u; }
    constexpr void Include(E e) { Bits = static_cast<TBits>(Bits | (TBits(1) << static_cast<unsigned>(e))); }
    constexpr void Exclude(E e) { Bits = static_cast<TBits>(Bits & ~(TBits(1) << static_cast<unsigned>(e))); }
    constexpr bool Empty() const { return Bits == 0; }
    friend constexpr bool operator==(TnrSet a, TnrSet b) { return a.Bits == b.Bits; }
    friend constexpr TnrSet operator+(TnrSet a, TnrSet b) {
        return FromBits(static_cast<TBits>(a.Bits | b.Bits));
    }
    friend constexpr TnrSet operator-(TnrSet a, TnrSet b) {
        return FromBits(static_cast<TBits>(a.Bits & ~b.Bits));
    }
    friend constexpr TnrSet operator*(TnrSet a, TnrSet b) {
        return FromBits(static_cast<TBits>(a.Bits & b.Bits));
    }
};

enum TParity : std::uint8_t { pNone, pOdd, pEven, pMark, pSpace };
enum TStopBits : std::uint8_t { sbOne, sbOneAndHalf, sbTwo };
enum TComPort : std::uint8_t { cpCOM1, cpCOM2, cpCOM3, cpCOM4, cpCOM5, cpCOM6, cpCOM7, cpCOM8, cpCOMxx };
enum TStreamProtocol : std::uint8_t { spNone, spXonXoff, spHardware };

enum TTraceState : std::uint8_t {
    tsRxChar,
    tsRxFlag,
    tsTxEmpty,
    tsCTS,
    tsDSR,
    tsRLSD,
    tsBreak,
    tsErr,
    tsRing,
    tsRx80Full,
    tsEvent1,
    tsEvent2
};
using TTraceStates = TnrSet<TTraceState, std::uint16_t>;

enum TModemSignal : std::uint8_t { msCTS, msDSR, msRing, msRLSD };
using TModemSignals = TnrSet<TModemSignal, std::uint8_t>;

// The port status flags of a status query (TComStat::Flags, low 8 bits).
enum TComStateFlag : std::uint8_t { fCtsHold, fDsrHold, fRlsdHold, fXoffHold, fXoffSent, fEof, fTxim };
using TComStateFlags = TnrSet<TComStateFlag, std::uint8_t>;

enum TnrEnumPorts : std::uint8_t { epQuickAll, epFullInfo, epFullPresent };

// What came of a device's return (TnrCustomSerialComm::ReopenOnReturn).
enum TDeviceReturn : std::uint8_t {
    drReopened,    // the port is open again
    drOpenFailed,  // it could not be opened (SysError says why); tried again at the next return
    drOtherDevice, // another adapter is behind the port's path: not opened
};

using TOnTraceEvent = TMethod<void(QObject* Com, TTraceStates Event)>;
using TOnDeviceReturn = TMethod<void(QObject* Com, TDeviceReturn Result, std::uint32_t SysError)>;
using TOnCommErrorEvent = TMethod<void(QObject* Com, std::uint32_t CommCode, std::uint32_t SysError,
                                       TComStateFlags State, bool& flFlashBuffers)>;

// The platform event mask for a set of traced states; EV_RXCHAR is always in it.
std::uint32_t TraceStatesToEventMask(TTraceStates States);

class TnrCustomComm : public TnrBaseIO {
    Q_OBJECT
public:
    explicit TnrCustomComm(QObject* AOwner = nullptr);
    ~TnrCustomComm() override;

    // --- Overrides of the I/O base ---
    void DoOpen() override;
    void DoClose() override;
    void StartThreads() override;
    void StopThreads() override;
    void UseMainThreadChanged() override;
    void SendChar(char16_t Ch) override;
    void SendString(const QByteArray& S) override;
    void SendData(const std::uint8_t* Buff, std::uint32_t N) override;
    void ClearDeviceInput() override;
    void ClearDeviceOutput() override;
    void ClearDeviceBuffers() override;

    // --- Virtual operations added by the serial port ---
    // The port's name; "Unknown" for a port without a number.
    virtual QString ComName() const;
    virtual void ApplySettings();
    virtual void SetEventChar(char16_t Value);
    virtual char16_t EventChar() const;
    virtual void DoCommError(std::uint32_t CommCode, std::uint32_t SysError, TComStateFlags State);

    // --- Event processing (see the threading contract above) ---
    // Handles one "nrCommMsgComEvent" (WParam = the event mask); other messages are ignored.
    void ProcessCommEvent(const TMessage& Msg);
    void TraceStateChanged(QObject* Sender, TTraceStates Events);
    // Sets the "Checked" property of a control whose class has one, the name matched
    // whatever its case (a QCheckBox's "checked" too); leaves others alone.
    static void SetControlChecked(QObject* Control, bool Value);

    // --- Line settings (re-applied to an open port at once) ---
    std::uint32_t BaudRate() const { return CommCfg.dcb.BaudRate; }
    void SetBaudRate(std::uint32_t Value);
    TParity Parity() const { return static_cast<TParity>(CommCfg.dcb.Parity); }
    void SetParity(TParity Value);
    TStopBits StopBits() const { return static_cast<TStopBits>(CommCfg.dcb.StopBits); }
    void SetStopBits(TStopBits Value);
    // 4 to 8; any other value stores 8.
    std::uint8_t ByteSize() const { return CommCfg.dcb.ByteSize; }
    void SetByteSize(std::uint8_t Value);
    TStreamProtocol StreamProtocol() const { return fProtocol; }
    void SetStreamProtocol(TStreamProtocol Value);
    bool RS485Mode() const { return fRS485Mode.load(std::memory_order_relaxed); }
    void SetRS485Mode(bool Value);
    // The device control block as the component holds it.
    const TDCB& LineSettings() const { return CommCfg.dcb; }

    // --- Events traced, queues, timeouts ---
    TTraceStates TraceStates() const {
        return TTraceStates::FromBits(fTraceStates.load(std::memory_order_relaxed));
    }
    void SetTraceStates(TTraceStates Value);
    // Milliseconds: a receive event that comes sooner than this after the one before is
    // held until the interval is over, and the bytes that arrive meanwhile are delivered
    // with it. A stream of small arrivals then costs one delivery an interval instead of
    // one an arrival; a lone arrival is never held. 0 (the default): every event as it
    // comes. At most 1000; takes effect at the next event.
    std::uint32_t EventInterval() const { return fEventInterval.load(std::memory_order_relaxed); }
    void SetEventInterval(std::uint32_t Ms);
    // A byte (0-255) whose arrival ends a hold of the EventInterval at once, for an owner
    // that only acts on whole records (a line's CR): the bytes before it then wait up to
    // the interval and the byte that completes a record does not. -1 (the default): none.
    int EventIntervalEnd() const { return fEventIntervalEnd.load(std::memory_order_relaxed); }
    void SetEventIntervalEnd(int Byte);
    std::uint16_t BufferInSize() const { return fBufferInSize; }
    void SetBufferInSize(std::uint16_t Value);
    std::uint16_t BufferOutSize() const { return fBufferOutSize; }
    void SetBufferOutSize(std::uint16_t Value);
    std::uint32_t TimeoutRead() const { return fCommTimeouts.ReadIntervalTimeout; }
    void SetTimeoutRead(std::uint32_t Value);
    std::uint32_t TimeoutWrite() const { return fCommTimeouts.WriteTotalTimeoutConstant; }
    void SetTimeoutWrite(std::uint32_t Value);
    const TCommTimeouts& CommTimeouts() const { return fCommTimeouts; }
    void SetTimeouts(const TCommTimeouts& Timeouts);

    // --- Monitor controls: any QObject; a "Checked" property (any case) follows the line ---
    QObject* MonitorCTS() const;
    void SetMonitorCTS(QObject* Value);
    QObject* MonitorDSR() const;
    void SetMonitorDSR(QObject* Value);
    QObject* MonitorRLSD() const;
    void SetMonitorRLSD(QObject* Value);
    QObject* MonitorRing() const;
    void SetMonitorRing(QObject* Value);

    // --- Counters and status ---
    std::uint32_t TotalReceived() const { return fTotalReceived.load(std::memory_order_relaxed); }
    std::uint32_t TotalSent() const { return fTotalSent.load(std::memory_order_relaxed); }
    TModemSignals ModemSignals() const;
    // Bytes waiting in the input queue; 0 when closed or the query fails. The count is
    // remembered for ReadAll(Buffer).
    std::uint32_t ReadyForRead() const;
    // Bytes not yet sent: queued by the component's writer or in the driver's output queue.
    std::uint32_t NotYetSend() const;
    const TCommProp* CommProp();
    // The text of the last failed open.
    QString LastError() const { return LastErrorString; }

    // --- Configuration dialog (nrcommconfig.cpp) ---
    // Shows the line settings in the library's dialog, owned by the active window. On OK
    // the chosen settings are held (and sent as they are to an open port) and read back;
    // true then. Cancel changes nothing.
    bool ConfigDialog();
    // Reads an open port's line settings into the held ones; derives StreamProtocol and
    // RS485Mode from the held flags.
    void ReadLineSettings();

    // --- Sending, reading, waiting, line control ---
    void SendAheadChar(char16_t Ch);
    void FlushOutputBuffer();
    // Reads as the read timeouts decide; with all timeouts 0 it waits for Len bytes. The
    // count read (the other reads below are built on it).
    std::uint32_t Read(std::uint8_t* Buffer, std::uint32_t Len);
    // Reads the waiting bytes, at most Capacity of them, without waiting for more.
    std::uint32_t ReadAll(std::uint8_t* Buffer, std::uint32_t Capacity);
    // Kept for callers that size Buffer from ReadyForRead: reads the waiting bytes, at most
    // as many as the last ReadyForRead call on this component returned (0 before any), so
    // bytes that arrived since then never overrun the buffer; they wait for the next read.
    std::uint32_t ReadAll(std::uint8_t* Buffer);
    int ReadMax(std::uint8_t* Buffer, int MaxLen);
    QByteArray ReadString();
    bool WaitForBytes(std::uint32_t Count, std::uint32_t Ms);
    bool WaitForSignal(TModemSignal Signal, std::uint32_t Ms);
    void SetStateDTR(bool State);
    void SetStateRTS(bool State);
    void SetStateX(bool State);
    void SetStateBreak(bool State);

    // --- Events ---
    TOnSent OnAfterSend;
    TOnTraceEvent OnTraceState;
    TOnCommErrorEvent OnCommError;

protected:
    void Notification(QObject* AComponent, TOperation Operation) override;

    void ApplyLineSettings();
    // Sends line settings to the open port and notes the DTR and RTS levels they set.
    void SendLineSettings(const TDCB& Dcb);
    // The levels the component last put DTR and RTS in (by line settings or the setters);
    // what a probe that moves them puts back.
    bool DtrOn() const { return fDtrOn.load(std::memory_order_relaxed); }
    bool RtsOn() const { return fRtsOn.load(std::memory_order_relaxed); }
    void AllocReceiveBuffer();
    void FreeReceiveBuffer();
    // Closes an open port: threads, optional purge, buffer, handle, OnClose, notification 1.
    // False when the port was already closed (by another thread, or before).
    bool ShutDown(bool Purge);
    // The port was closed because its device failed or went away (not by a close asked
    // for); runs on the thread that processes events, right after the close.
    virtual void DeviceVanished() {}
    // The close part of destruction; descendants call it first in their destructors so that
    // OnClose and the listeners still see the whole object.
    void DestroyingClose();
    // RTS is driven by the component around transmissions: RS-485 mode on a driver that
    // can't toggle RTS by itself.
    bool SoftwareRS485() const { return RS485Mode() && fIsNotSupportRS485.load(std::memory_order_relaxed); }
    std::uint32_t EventMask(TTraceStates States) const;

    std::shared_ptr<TCommSession> CurrentSession() const;

    std::unique_ptr<TComStat> Stat;
    TCommProp ComProp;
    TCommTimeouts fCommTimeouts;
    QString LastErrorString;
    std::atomic<std::uint32_t> fTotalSent{0};
    std::atomic<std::uint32_t> fTotalReceived{0};
    std::atomic<std::uint32_t> fEventInterval{0};
    std::atomic<int> fEventIntervalEnd{-1};
    std::atomic<std::uint16_t> fTraceStates{0};
    // What ReadyForRead last told the owner, the bound of ReadAll(Buffer).
    mutable std::atomic<std::uint32_t> fReportedReady{0};
    std::uint16_t fBufferOutSize = 0;
    std::uint16_t fBufferInSize = 0;
    // The receive buffer, from open to close.
    std::unique_ptr<std::uint8_t[]> glBuffer;
    std::uint32_t fReceiveBufferSize = 0;
    std::atomic<bool> fRS485Mode{false};
    std::atomic<bool> fDtrOn{false};
    std::atomic<bool> fRtsOn{false};
    // Decided at each open from the driver (SupportsRS485): there is no driver to ask
    // before that, so a closed port assumes software direction control.
    std::atomic<bool> fIsNotSupportRS485{true};
    TStreamProtocol fProtocol = spNone;
    TCommConfig CommCfg;
    // Owner thread: an open that fails sets fLastOpenError and LastErrorString and, unless
    // fQuietOpenFailure, reports the fatal error.
    bool fQuietOpenFailure = false;
    std::uint32_t fLastOpenError = 0;

private:
    friend class TCommSession;

    struct TMonitorLinks {
        QObject* CTS = nullptr;
        QObject* DSR = nullptr;
        QObject* RLSD = nullptr;
        QObject* Ring = nullptr;
    };
    void SetMonitor(QObject* TMonitorLinks::*link, QObject* Value);
    QObject* Monitor(QObject* TMonitorLinks::*link) const;
    // Queues bytes on the writer; with Wait, waits until they reached the driver. False,
    // with the reason as last error, when they could not be sent.
    bool WriteBytes(QByteArray Bytes, bool Wait);
    // The input queue's count, for the library's own reads (not remembered).
    std::uint32_t WaitingBytes() const;

    // The threads and state of the current open; null while closed.
    mutable std::mutex fSessionLock;
    std::shared_ptr<TCommSession> fSession;
    // The links read by event processing, which may run on the message thread.
    mutable std::recursive_mutex fLinkLock;
    TMonitorLinks fMonitor;
    bool fDestroying = false;
};

class TnrCustomSerialComm : public TnrCustomComm {
    Q_OBJECT
public:
    explicit TnrCustomSerialComm(QObject* AOwner = nullptr);
    ~TnrCustomSerialComm() override;

    THandle OpenDevice() override;
    void SetDeviceIndex(int Value) override;
    int GetDeviceIndex() const override;
    void DeviceListLoad() override;
    void Update() override;
    QString ComName() const override;
    // Also looks for the device's return at once while the component waits for it.
    bool WMDeviceChange(TMessage& Msg) override;

    // --- Coming back when the device returns (nrcommreturn.cpp) ---
    // Off by default. When on, a port that closed because its device went away (waiting
    // on it failed: an adapter pulled out; not a close asked for) waits for the device to
    // come back and is then reopened with its line settings. The device is back when the
    // path the port's name resolved to at the open (a /dev/serial/by-id or by-path link,
    // a node, any link) is there again, after it was seen gone or with another file
    // behind it; the path is looked at every 250 ms and at every WMDeviceChange. An
    // adapter that had by-id names at the open must come back with one of them: another
    // adapter behind the same path is not opened (drOtherDevice). An open that fails
    // reports no fatal error and changes no setting (drOpenFailed); it is tried again at
    // the next return. OnDeviceReturn tells each return's result.
    // The wait ends with the reopen, and with anything the host does to the port:
    // SetActive, SetComPortNo (the settings dialog's box too), SetExtHandle, LoadConfig,
    // switching the property off, destruction.
    // Threads: the property is set, and the wait, the reopen and OnDeviceReturn run, on
    // the component's own thread, which must run an event loop.
    // The close after the device went may run on the message thread (UseMainThread
    // false); the wait then starts on the component's thread a moment later.
    bool ReopenOnReturn() const;
    void SetReopenOnReturn(bool Value);
    // True while the port waits for its device.
    bool WaitingForReturn() const;
    TOnDeviceReturn OnDeviceReturn;

    // Clears the queues, raises DTR, lowers RTS and waits up to 200 ms for DSR; raises RTS
    // when it came, else reports "Device Connect Initialization Error" as a fatal error.
    virtual void InitDeviceConnect();

    // The stored configuration (nrcommconfig.cpp): a 49-byte value (port number, the
    // device control block, the five timeouts) in the registry store (nrregistry.h).
    // Failures of the store are the fatal errors "Error on save config information from
    // registry" / "Error on load config information from registry". Loading ignores a
    // value of another size; it sets ComPortNo (reopening an open port), the line settings
    // except the flow control, which stays that of StreamProtocol and RS485Mode, and the
    // timeouts.
    virtual void SaveConfig(HKEY Root, const QString& Key, const QString& Name);
    virtual void LoadConfig(HKEY Root, const QString& Key, const QString& Name);

    // Asks the device for its plug-and-play identification (nrpnp.cpp): the line sequence
    // at 1200 baud 7N1, the answer from "(" to ")" (or 08h to 09h) with both ends, each
    // byte as the character of the same value; empty when the device doesn't answer.
    // Leaves the port open or closed as it was, with its own settings. Without DSR, the
    // port is put back first (closed again, or DTR and RTS as they were), then the fatal
    // error "Device Connect Initialization Error".
    virtual QString GetPNPDeviceString();

    std::uint16_t ComPortNo() const { return fComPortNo; }
    // Closes an open port, stores the number, reopens when it was open, notification 3.
    void SetComPortNo(std::uint16_t Value);
    TComPort ComPort() const;
    void SetComPort(TComPort Value);
    TnrEnumPorts EnumPorts() const { return fEnumPorts; }
    void SetEnumPorts(TnrEnumPorts Value) { fEnumPorts = Value; }

    // Adopts an already open handle (the next open uses it instead of opening by name);
    // the component closes it like its own. 0 and INVALID_HANDLE_VALUE are ignored.
    void SetExtHandle(THandle aHandle);

protected:
    void DeviceVanished() override;
    void ActiveChanging(bool Value) override;

    std::uint16_t fComPortNo = 0;
    THandle fExtHandle = 0;
    TnrEnumPorts fEnumPorts = epQuickAll;

private:
    // What the last open by name found behind its path, for a wait that may follow.
    void NoteOpenedDevice(const QString& portName);
    void StartWaitingForReturn();
    void StopWaitingForReturn();
    void CheckForReturn();

    std::atomic<bool> fReopenOnReturn{false};
    std::unique_ptr<TPortReturnWatch> fOpened;
    std::unique_ptr<TPortReturnWatch> fReturnWatch;
    bool fReopening = false;
};

class TnrComm : public TnrCustomSerialComm {
    Q_OBJECT
public:
    explicit TnrComm(QObject* AOwner = nullptr);
    ~TnrComm() override;
};
