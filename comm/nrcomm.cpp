#include "nrcomm.h"

#include "nrcodepage.h"
#include "nrcommreturn.h"
#include "nrcommthreads.h"
#include "platform/nrerror.h"

#include <QMetaProperty>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <system_error>

namespace {

// A handler may fail after failed system calls of its own. Errors left from earlier calls
// (a modem-line ioctl that a pseudo-terminal refuses, an earlier event) are forgotten
// before it runs, so that a failure reported for it carries the error of its own moment.
void ForgetEarlierErrors() {
    errno = 0;
    SetLastError(0);
}

// The operating system's error behind an exception caught now: the code a system_error
// carries, else the last error recorded since the handler began (errno as it was when
// the exception was caught, or the platform layer's last error).
std::uint32_t ErrorOfTheMoment(const std::exception& e, int errnoNow) {
    if (const auto* system = dynamic_cast<const std::system_error*>(&e))
        if (system->code().category() == std::generic_category() ||
            system->code().category() == std::system_category())
            return static_cast<std::uint32_t>(system->code().value());
    if (errnoNow != 0) return static_cast<std::uint32_t>(errnoNow);
    return GetLastError();
}

constexpr std::uint32_t kMinReceiveBuffer = 8192;
// Flags of the device control block that the line-settings setters leave as configured:
// fParity, fOutxDsrFlow, the upper bit of fDtrControl, fDsrSensitivity, fTXContinueOnXoff,
// fErrorChar, fNull, fAbortOnError.
constexpr std::uint32_t kKeptFlags = 0x4CEA;
constexpr std::uint32_t kFlagsRS485 = 0x3011;    // binary, DTR enabled, RTS toggle
constexpr std::uint32_t kFlagsNone = 0x1011;     // binary, DTR enabled, RTS enabled
constexpr std::uint32_t kFlagsXonXoff = 0x1311;  // ... and XON/XOFF both ways
constexpr std::uint32_t kFlagsHardware = 0x2015; // binary, CTS flow, DTR enabled, RTS handshake

// Traced states reported to OnTraceState by event processing, with their port events.
// tsRxChar and tsTxEmpty drive the receive and transmit-empty paths instead.
struct TTraceEvent {
    TTraceState State;
    std::uint32_t Event;
};
constexpr TTraceEvent kReportedEvents[] = {
    {tsRxFlag, EV_RXFLAG}, {tsCTS, EV_CTS},       {tsDSR, EV_DSR}, {tsRLSD, EV_RLSD},
    {tsRing, EV_RING},     {tsBreak, EV_BREAK},   {tsErr, EV_ERR}, {tsRx80Full, EV_RX80FULL},
    {tsEvent1, EV_EVENT1}, {tsEvent2, EV_EVENT2},
};

} // namespace

std::uint32_t TraceStatesToEventMask(TTraceStates States) {
    // Bits 0..8 are the events of the same bit; the last three skip the printer-error
    // event (0x0200), which is never requested.
    std::uint32_t mask = States.Bits & 0x01FFu;
    if (States.Contains(tsRx80Full)) mask |= EV_RX80FULL;
    if (States.Contains(tsEvent1)) mask |= EV_EVENT1;
    if (States.Contains(tsEvent2)) mask |= EV_EVENT2;
    return mask | EV_RXCHAR;
}

// ===================================================================================
// TnrCustomComm
// ===================================================================================

TnrCustomComm::TnrCustomComm(QObject* AOwner) : TnrBaseIO(AOwner), Stat(std::make_unique<TComStat>()) {
    SetUseMainThread(true);
    fTraceStates.store(0);
    CommCfg.dwSize = sizeof(TCommConfig);
    CommCfg.dcb.DCBlength = sizeof(TDCB);
    SetBufferInSize(8192);
    SetBufferOutSize(8192);
}

TnrCustomComm::~TnrCustomComm() {
    DestroyingClose();
}

void TnrCustomComm::DestroyingClose() {
    if (fDestroying) return;
    fDestroying = true;
    try {
        // The threads first: on the message thread (UseMainThread false) event processing
        // still writes to the terminal and the processor unlinked below.
        StopThreads();
        SetTerminal(nullptr);
        SetDataProcessor(nullptr);
        OnTraceState = nullptr;
        DoClose();
    } catch (...) {
        // Nothing may leave a destructor; DoClose has closed the handle whatever happened.
    }
}

std::shared_ptr<TCommSession> TnrCustomComm::CurrentSession() const {
    std::lock_guard g(fSessionLock);
    return fSession;
}

// --- Line settings ---

void TnrCustomComm::ApplyLineSettings() {
    TDCB& dcb = CommCfg.dcb;
    dcb.DCBlength = sizeof(TDCB);
    dcb.Flags &= kKeptFlags;
    if (RS485Mode())
        dcb.Flags |= kFlagsRS485;
    else if (fProtocol == spXonXoff)
        dcb.Flags |= kFlagsXonXoff;
    else if (fProtocol == spHardware)
        dcb.Flags |= kFlagsHardware;
    else
        dcb.Flags |= kFlagsNone;
    dcb.XonLim = 80;
    dcb.XoffLim = 200;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    // The driver keeps what it can of the settings; the port stays open either way.
    if (IsOpen()) SendLineSettings(dcb);
}

void TnrCustomComm::SendLineSettings(const TDCB& Dcb) {
    SetCommState(Handle(), Dcb);
    // As the platform layer sets them: DTR raised unless disabled, RTS raised when enabled
    // or handshaking.
    const std::uint32_t rts = Dcb.Flags & DCB_fRtsControlMask;
    fDtrOn.store((Dcb.Flags & DCB_fDtrControlMask) != 0, std::memory_order_relaxed);
    fRtsOn.store(rts == DCB_fRtsControlEnable || rts == DCB_fRtsControlHandshake, std::memory_order_relaxed);
}

void TnrCustomComm::ApplySettings() {
    const THandle h = Handle();
    ClearCommError(h, nullptr, nullptr);
    SetupComm(h, fBufferInSize, fBufferOutSize);
    SetTimeouts(fCommTimeouts);
    ApplyLineSettings();
}

void TnrCustomComm::SetBaudRate(std::uint32_t Value) {
    CommCfg.dcb.BaudRate = Value;
    ApplyLineSettings();
}

void TnrCustomComm::SetParity(TParity Value) {
    CommCfg.dcb.Parity = static_cast<std::uint8_t>(Value);
    if (Value == pNone)
        CommCfg.dcb.Flags &= ~DCB_fParity;
    else
        CommCfg.dcb.Flags |= DCB_fParity;
    ApplyLineSettings();
}

void TnrCustomComm::SetStopBits(TStopBits Value) {
    CommCfg.dcb.StopBits = static_cast<std::uint8_t>(Value);
    ApplyLineSettings();
}

void TnrCustomComm::SetByteSize(std::uint8_t Value) {
    CommCfg.dcb.ByteSize = (Value >= 4 && Value <= 8) ? Value : 8;
    ApplyLineSettings();
}

void TnrCustomComm::SetStreamProtocol(TStreamProtocol Value) {
    fProtocol = Value;
    ApplyLineSettings();
}

void TnrCustomComm::SetRS485Mode(bool Value) {
    fRS485Mode.store(Value, std::memory_order_relaxed);
    ApplyLineSettings();
    // Software direction control needs the transmit-empty event to lower RTS again; set
    // the mask now rather than at the next open, or RTS would stay up after a send.
    if (IsOpen()) SetTraceStates(TraceStates());
}

void TnrCustomComm::SetEventChar(char16_t Value) {
    CommCfg.dcb.EvtChar = static_cast<char>(Value & 0xFF);
    ApplyLineSettings();
}

char16_t TnrCustomComm::EventChar() const {
    return static_cast<std::uint8_t>(CommCfg.dcb.EvtChar);
}

// --- Queues, timeouts, event mask ---

void TnrCustomComm::SetBufferInSize(std::uint16_t Value) {
    if (IsOpen()) SetupComm(Handle(), Value, fBufferOutSize);
    fBufferInSize = Value;
}

void TnrCustomComm::SetBufferOutSize(std::uint16_t Value) {
    if (IsOpen()) SetupComm(Handle(), fBufferInSize, Value);
    fBufferOutSize = Value;
}

void TnrCustomComm::SetTimeouts(const TCommTimeouts& Timeouts) {
    fCommTimeouts = Timeouts;
    if (IsOpen()) SetCommTimeouts(Handle(), fCommTimeouts);
}

void TnrCustomComm::SetTimeoutRead(std::uint32_t Value) {
    TCommTimeouts t = fCommTimeouts;
    t.ReadIntervalTimeout = Value;
    SetTimeouts(t);
}

void TnrCustomComm::SetTimeoutWrite(std::uint32_t Value) {
    TCommTimeouts t = fCommTimeouts;
    t.WriteTotalTimeoutConstant = Value;
    SetTimeouts(t);
}

std::uint32_t TnrCustomComm::EventMask(TTraceStates States) const {
    std::uint32_t mask = TraceStatesToEventMask(States);
    if (SoftwareRS485()) mask |= EV_TXEMPTY;
    return mask;
}

void TnrCustomComm::SetTraceStates(TTraceStates Value) {
    const std::uint32_t mask = EventMask(Value);
    fTraceStates.store(Value.Bits, std::memory_order_relaxed);
    // A wait pending on the event thread ends with an empty mask and the next wait uses
    // the new one, so no event is lost.
    if (IsOpen()) SetCommMask(Handle(), mask);
}

// --- Open and close ---

void TnrCustomComm::AllocReceiveBuffer() {
    FreeReceiveBuffer();
    const std::uint32_t size = std::max<std::uint32_t>(fBufferInSize, kMinReceiveBuffer);
    glBuffer.reset(new std::uint8_t[size]());
    fReceiveBufferSize = size;
}

void TnrCustomComm::FreeReceiveBuffer() {
    glBuffer.reset();
    fReceiveBufferSize = 0;
}

void TnrCustomComm::DoOpen() {
    DoClose();
    fTotalReceived.store(0, std::memory_order_relaxed);
    fTotalSent.store(0, std::memory_order_relaxed);
    BaseDoOpen();
    if (!IsOpen()) {
        const std::uint32_t error = GetLastError();
        fLastOpenError = error;
        LastErrorString =
            Format(QStringLiteral("Device \"%s\" Open Error !!!\r%s"), {ComName(), SysErrorMessage(error)});
        if (!fQuietOpenFailure) DoFatalError(1, 0, LastErrorString, false);
        return;
    }
    fIsNotSupportRS485.store(!SupportsRS485(Handle()), std::memory_order_relaxed);
    AllocReceiveBuffer();
    WriteLogFmt(dlSimple, QStringLiteral("The port %s is opened succesfully"), {ComName()});
    ApplySettings();
    SetTraceStates(TraceStates());
    try {
        StartThreads();
    } catch (const std::system_error& e) {
        // No thread could be created: an open port without its threads would never deliver.
        const QString name = ComName();
        ShutDown(false);
        LastErrorString = Format(QStringLiteral("Device \"%s\" Open Error !!!\r%s"),
                                 {name, SysErrorMessage(static_cast<std::uint32_t>(e.code().value()))});
        DoFatalError(1, 0, LastErrorString, false);
        return;
    }
    DoNotify(NOTIFY_OPENED);
}

void TnrCustomComm::DoClose() {
    if (IsOpen()) {
        try {
            if (ShutDown(true)) WriteLog(dlSimple, QStringLiteral("The port is closed succesfully"));
        } catch (...) {
            // The close must complete whatever a listener or the log raised.
            try {
                StopThreads();
                FreeReceiveBuffer();
                BaseDoClose();
            } catch (...) {
            }
        }
    }
    TraceStateChanged(this, TTraceStates{tsTxEmpty});
}

bool TnrCustomComm::ShutDown(bool Purge) {
    for (;;) {
        const auto session = CurrentSession();
        std::unique_lock<std::recursive_mutex> lk;
        if (session) lk = std::unique_lock(session->ProcessLock);
        // Another thread may have closed, or closed and reopened, the port while this one
        // waited for the lock: take the lock of the open that is current now.
        if (CurrentSession() != session) continue;
        if (!IsOpen()) return false;
        StopThreads();
        if (Purge && NotYetSend() > 0) ClearDeviceBuffers();
        FreeReceiveBuffer();
        BaseDoClose();
        DoNotify(NOTIFY_CLOSED);
        return true;
    }
}

void TnrCustomComm::StartThreads() {
    if (CurrentSession()) return;
    auto session = std::make_shared<TCommSession>(this, Handle());
    session->SetToMainThread(UseMainThread());
    session->SetEventInterval(EventInterval());
    session->SetEventIntervalEnd(EventIntervalEnd());
    // The message thread first: the event thread may post at once. The queue accepts
    // posts before the message thread runs, so no pause is needed.
    TMsgThread::Start(this, session);
    try {
        TCommThread::Start(this, Handle(), session);
    } catch (...) {
        std::lock_guard lk(session->ProcessLock);
        session->Terminate();
        throw;
    }
    std::lock_guard g(fSessionLock);
    fSession = std::move(session);
}

void TnrCustomComm::SetEventInterval(std::uint32_t Ms) {
    fEventInterval.store(std::min<std::uint32_t>(Ms, 1000), std::memory_order_relaxed);
    if (const auto session = CurrentSession()) session->SetEventInterval(EventInterval());
}

void TnrCustomComm::SetEventIntervalEnd(int Byte) {
    fEventIntervalEnd.store(Byte >= 0 && Byte <= 0xFF ? Byte : -1, std::memory_order_relaxed);
    if (const auto session = CurrentSession()) session->SetEventIntervalEnd(EventIntervalEnd());
}

void TnrCustomComm::UseMainThreadChanged() {
    if (const auto session = CurrentSession()) session->SetToMainThread(UseMainThread());
}

void TnrCustomComm::StopThreads() {
    const auto session = CurrentSession();
    if (!session) return;
    // Under the processing lock: an event being processed on the message thread finishes
    // first, and none starts afterwards. Nobody waits for the threads themselves.
    std::lock_guard lk(session->ProcessLock);
    session->Terminate();
    std::lock_guard g(fSessionLock);
    if (fSession == session) fSession.reset();
}

// --- Event processing ---

void TnrCustomComm::ProcessCommEvent(const TMessage& Msg) {
    if (Msg.Msg != CommMsgComEvent()) return;
    const auto session = CurrentSession();
    // A handler may close the port, reopen it, or destroy the component: once this open
    // has ended, nothing of the component is touched any more.
    const auto ended = [&] { return session ? session->Terminated() : !IsOpen(); };
    const THandle h = Handle();
    const auto mask = static_cast<std::uint32_t>(Msg.WParam);
    TTraceStates events;
    try {
        std::uint32_t errors = 0;
        if (!ClearCommError(h, &errors, Stat.get())) {
            errors = 0;
            *Stat = TComStat{};
        }
        if (errors != 0) {
            // The waiting bytes stay queued for the next receive event.
            ForgetEarlierErrors();
            DoCommError(errors, 0, TComStateFlags::FromBits(static_cast<std::uint8_t>(Stat->Flags)));
            return;
        }
        if ((mask & EV_RXCHAR) && Stat->cbInQue > 0) {
            const bool deliver = TraceStates().Contains(tsRxChar) || HasReceiver();
            fTotalReceived.fetch_add(Stat->cbInQue, std::memory_order_relaxed);
            if (deliver && glBuffer) {
                // Bytes arriving during the delivery are delivered too, up to one more
                // buffer: under a flood the loop would otherwise never end, and the thread
                // running it (the user-interface thread, or the one a close waits for)
                // would be held forever. What is left goes to a new event behind the
                // events already queued.
                std::uint64_t budget = std::uint64_t(Stat->cbInQue) + fReceiveBufferSize;
                do {
                    const std::uint32_t n = std::min(Stat->cbInQue, fReceiveBufferSize);
                    std::uint32_t got = 0;
                    if (!ReadFile(h, glBuffer.get(), n, got) || got == 0) break;
                    ForgetEarlierErrors();
                    DoReceived(glBuffer.get(), got);
                    if (ended()) return;
                    budget -= std::min<std::uint64_t>(budget, got);
                    // Errors found here are cleared, not reported: the bytes were good.
                    if (!ClearCommError(h, nullptr, Stat.get())) *Stat = TComStat{};
                } while (Stat->cbInQue > 0 && budget > 0);
                if (Stat->cbInQue > 0 && session) {
                    TCommQueueItem more;
                    more.Msg.Msg = CommMsgComEvent();
                    more.Msg.WParam = EV_RXCHAR;
                    session->Post(more);
                }
            }
        }
        if (mask & EV_TXEMPTY) {
            if (SoftwareRS485()) SetStateRTS(false);
            if (ended()) return;
            ForgetEarlierErrors();
            const bool handled = DoAfterSend();
            if (TraceStates().Contains(tsTxEmpty) && !handled && OnAfterSend) OnAfterSend(this);
            if (ended()) return;
        }
        const TTraceStates traced = TraceStates();
        for (const TTraceEvent& e : kReportedEvents)
            if (traced.Contains(e.State) && (mask & e.Event)) events.Include(e.State);
        if (!events.Empty()) TraceStateChanged(this, events);
    } catch (const std::exception& e) {
        // Whatever a handler raised, the library's own class or not, takes the fatal-error
        // path: OnFatalError, the log line, the error box unless the handler clears it.
        DoFatalError(1, ErrorOfTheMoment(e, errno), QString::fromUtf8(e.what()), true);
    }
}

void TnrCustomComm::TraceStateChanged(QObject* Sender, TTraceStates Events) {
    const TModemSignals lines = ModemSignals();
    {
        std::lock_guard g(fLinkLock);
        if (fMonitor.CTS) SetControlChecked(fMonitor.CTS, lines.Contains(msCTS));
        if (fMonitor.DSR) SetControlChecked(fMonitor.DSR, lines.Contains(msDSR));
        if (fMonitor.RLSD) SetControlChecked(fMonitor.RLSD, lines.Contains(msRLSD));
        // The ring lamp stays lit: the component never puts it out.
        if (Events.Contains(tsRing) && fMonitor.Ring) SetControlChecked(fMonitor.Ring, true);
    }
    if (OnTraceState) {
        ForgetEarlierErrors(); // the modem-line query above fails on lines without modem signals
        OnTraceState(Sender, Events);
    }
}

void TnrCustomComm::SetControlChecked(QObject* Control, bool Value) {
    if (!Control) return;
    // Matched whatever its case: the lamps publish "Checked", Qt's buttons "checked".
    const QMetaObject* meta = Control->metaObject();
    int index = -1;
    for (int i = 0; i < meta->propertyCount() && index < 0; ++i)
        if (qstricmp(meta->property(i).name(), "Checked") == 0) index = i;
    if (index < 0) return;
    const QMetaProperty checked = meta->property(index);
    if (Control->thread() == QThread::currentThread()) {
        checked.write(Control, Value);
        return;
    }
    // A widget may only be changed on its own thread; the control is the context, so the
    // call is dropped if it is destroyed first. The hand-off lock makes the order of
    // writing the call and running it visible to race checkers (Qt's queue isn't).
    static std::mutex handOff;
    std::lock_guard posting(handOff);
    QMetaObject::invokeMethod(
        Control,
        [Control, checked, Value] {
            { std::lock_guard visible(handOff); }
            checked.write(Control, Value);
        },
        Qt::QueuedConnection);
}

void TnrCustomComm::DoCommError(std::uint32_t CommCode, std::uint32_t SysError, TComStateFlags State) {
    if (SoftwareRS485()) SetStateRTS(false);
    bool flFlashBuffers = false;
    WriteLogFmt(dlDetail, QStringLiteral("Communication Error %d:%d %X"), {CommCode, SysError, State.Bits});
    if (OnCommError) OnCommError(this, CommCode, SysError, State, flFlashBuffers);
    if (flFlashBuffers) ClearDeviceBuffers();
}

// --- Monitor controls ---

QObject* TnrCustomComm::Monitor(QObject* TMonitorLinks::*link) const {
    std::lock_guard g(fLinkLock);
    return fMonitor.*link;
}

void TnrCustomComm::SetMonitor(QObject* TMonitorLinks::*link, QObject* Value) {
    std::lock_guard g(fLinkLock);
    fMonitor.*link = Value;
    if (Value) FreeNotification(Value);
}

QObject* TnrCustomComm::MonitorCTS() const {
    return Monitor(&TMonitorLinks::CTS);
}
void TnrCustomComm::SetMonitorCTS(QObject* Value) {
    SetMonitor(&TMonitorLinks::CTS, Value);
}
QObject* TnrCustomComm::MonitorDSR() const {
    return Monitor(&TMonitorLinks::DSR);
}
void TnrCustomComm::SetMonitorDSR(QObject* Value) {
    SetMonitor(&TMonitorLinks::DSR, Value);
}
QObject* TnrCustomComm::MonitorRLSD() const {
    return Monitor(&TMonitorLinks::RLSD);
}
void TnrCustomComm::SetMonitorRLSD(QObject* Value) {
    SetMonitor(&TMonitorLinks::RLSD, Value);
}
QObject* TnrCustomComm::MonitorRing() const {
    return Monitor(&TMonitorLinks::Ring);
}
void TnrCustomComm::SetMonitorRing(QObject* Value) {
    SetMonitor(&TMonitorLinks::Ring, Value);
}

void TnrCustomComm::Notification(QObject* AComponent, TOperation Operation) {
    TnrBaseIO::Notification(AComponent, Operation);
    if (Operation != TOperation::opRemove) return;
    std::lock_guard g(fLinkLock);
    for (QObject** link : {&fMonitor.CTS, &fMonitor.DSR, &fMonitor.RLSD, &fMonitor.Ring})
        if (*link == AComponent) *link = nullptr;
}

// --- Status ---

TModemSignals TnrCustomComm::ModemSignals() const {
    std::uint32_t status = 0;
    if (!IsOpen() || !GetCommModemStatus(Handle(), status)) return {};
    TModemSignals lines;
    if (status & MS_CTS_ON) lines.Include(msCTS);
    if (status & MS_DSR_ON) lines.Include(msDSR);
    if (status & MS_RING_ON) lines.Include(msRing);
    if (status & MS_RLSD_ON) lines.Include(msRLSD);
    return lines;
}

std::uint32_t TnrCustomComm::WaitingBytes() const {
    TComStat stat;
    if (!IsOpen() || !ClearCommError(Handle(), nullptr, &stat)) return 0;
    return stat.cbInQue;
}

std::uint32_t TnrCustomComm::ReadyForRead() const {
    const std::uint32_t n = WaitingBytes();
    fReportedReady.store(n, std::memory_order_relaxed);
    return n;
}

std::uint32_t TnrCustomComm::NotYetSend() const {
    if (!IsOpen()) return 0;
    std::uint32_t pending = 0;
    if (const auto session = CurrentSession())
        if (const auto writer = session->Writer(false)) pending = writer->Pending();
    TComStat stat;
    if (ClearCommError(Handle(), nullptr, &stat)) pending += stat.cbOutQue;
    return pending;
}

const TCommProp* TnrCustomComm::CommProp() {
    if (IsOpen()) GetCommProperties(Handle(), ComProp);
    return &ComProp;
}

// --- Sending ---

bool TnrCustomComm::WriteBytes(QByteArray Bytes, bool Wait) {
    const auto session = CurrentSession();
    std::shared_ptr<TCommWriter> writer;
    try {
        if (session) writer = session->Writer(true);
    } catch (const std::system_error& e) {
        SetLastError(static_cast<std::uint32_t>(e.code().value()));
        return false;
    }
    if (!writer) {
        SetLastError(EBADF);
        return false;
    }
    return writer->Write(std::move(Bytes), Wait);
}

void TnrCustomComm::SendChar(char16_t Ch) {
    if (!IsOpen()) return;
    const auto byte = static_cast<std::uint8_t>(Ch & 0xFF);
    WriteLogFmt(dlDebug, QStringLiteral("Try to send char %2Xh ..."), {byte});
    if (SoftwareRS485()) SetStateRTS(true);
    if (WriteBytes(QByteArray(1, static_cast<char>(byte)), true))
        fTotalSent.fetch_add(1, std::memory_order_relaxed);
    else
        DoCommError(0, GetLastError(), TComStateFlags{});
}

void TnrCustomComm::SendString(const QByteArray& S) {
    if (!IsOpen() || S.isEmpty()) return;
    WriteLogFmt(dlDebug, QStringLiteral("Try to send string %s ..."), {AnsiToUnicode(S)});
    if (SoftwareRS485()) SetStateRTS(true);
    // A private copy: the writer thread must not share the caller's array.
    if (WriteBytes(QByteArray(S.constData(), S.size()), true))
        fTotalSent.fetch_add(static_cast<std::uint32_t>(S.size()), std::memory_order_relaxed);
    else
        DoCommError(0, GetLastError(), TComStateFlags{});
}

void TnrCustomComm::SendData(const std::uint8_t* Buff, std::uint32_t N) {
    if (!IsOpen()) return;
    WriteLogFmt(dlDebug, QStringLiteral("Try to send the data with %d length ..."), {N});
    if (!Buff && N > 0) {
        DoCommError(0, EINVAL, TComStateFlags{});
        return;
    }
    if (SoftwareRS485()) SetStateRTS(true);
    // The writer keeps its own copy: the caller may reuse its buffer at once, and a second
    // SendData never shares the bookkeeping of one still being written.
    const bool started = N == 0 || WriteBytes(QByteArray(reinterpret_cast<const char*>(Buff), N), false);
    if (started) {
        fTotalSent.fetch_add(N, std::memory_order_relaxed);
        WriteLog(dlDebug, QStringLiteral("... the data transmittion is OK!"));
    } else {
        DoCommError(0, GetLastError(), TComStateFlags{});
    }
}

void TnrCustomComm::SendAheadChar(char16_t Ch) {
    if (!IsOpen()) return;
    if (SoftwareRS485()) SetStateRTS(true);
    if (TransmitCommChar(Handle(), static_cast<char>(Ch & 0xFF)))
        fTotalSent.fetch_add(1, std::memory_order_relaxed);
    else
        DoCommError(0, GetLastError(), TComStateFlags{});
}

void TnrCustomComm::FlushOutputBuffer() {
    if (!IsOpen()) return;
    // An empty transfer completes after every transfer queued before it.
    if (const auto session = CurrentSession())
        if (const auto writer = session->Writer(false)) writer->Write(QByteArray(), true);
    FlushFileBuffers(Handle());
}

// --- Purges ---

void TnrCustomComm::ClearDeviceInput() {
    if (IsOpen()) PurgeComm(Handle(), PURGE_RXABORT | PURGE_RXCLEAR);
}

void TnrCustomComm::ClearDeviceOutput() {
    if (!IsOpen()) return;
    if (const auto session = CurrentSession())
        if (const auto writer = session->Writer(false)) writer->Abort();
    PurgeComm(Handle(), PURGE_TXABORT | PURGE_TXCLEAR);
    if (SoftwareRS485()) SetStateRTS(false);
}

void TnrCustomComm::ClearDeviceBuffers() {
    if (!IsOpen()) return;
    // Dropping the writer's queued transfers is what cancelling pending I/O means here.
    if (const auto session = CurrentSession())
        if (const auto writer = session->Writer(false)) writer->Abort();
    PurgeComm(Handle(), PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    if (SoftwareRS485()) SetStateRTS(false);
}

QString TnrCustomComm::ComName() const {
    return QStringLiteral("Unknown");
}

// ===================================================================================
// TnrCustomSerialComm
// ===================================================================================

TnrCustomSerialComm::TnrCustomSerialComm(QObject* AOwner) : TnrCustomComm(AOwner) {
    sLogPrefix = QStringLiteral("nrComm: ");
    CommCfg = GetDefaultCommConfig();
    SetComPort(cpCOM1);
    SetBaudRate(19200);
    SetByteSize(8);
    SetParity(pNone);
    SetStopBits(sbOne);
    SetStreamProtocol(spHardware);
    SetEventChar(0);
}

TnrCustomSerialComm::~TnrCustomSerialComm() {
    DestroyingClose();
    StopWaitingForReturn();
}

THandle TnrCustomSerialComm::OpenDevice() {
    THandle h = INVALID_HANDLE_VALUE;
    if (fExtHandle != 0) {
        // A handle that names no open device would leave the port "open" with nothing
        // behind it.
        if (LookupHandleAs<TnrSerialDevice>(fExtHandle))
            h = fExtHandle;
        else
            SetLastError(EBADF);
        fOpened.reset();
    } else {
        const int index = GetDeviceIndex();
        const QString name = index >= 0 ? GetDevice(index)->PortName : Format(QStringLiteral("COM%u"), {fComPortNo});
        h = OpenPortByName(name);
        if (h != INVALID_HANDLE_VALUE && ReopenOnReturn()) NoteOpenedDevice(name);
    }
    fExtHandle = 0;
    return h;
}

QString TnrCustomSerialComm::ComName() const {
    const int index = GetDeviceIndex();
    return index >= 0 ? GetDevice(index)->PortName : Format(QStringLiteral("COM%u"), {fComPortNo});
}

void TnrCustomSerialComm::SetDeviceIndex(int Value) {
    if (Value >= 0 && Value < DeviceCount())
        SetComPortNo(static_cast<std::uint16_t>(GetDevice(Value)->Data & 0xFFFF));
}

int TnrCustomSerialComm::GetDeviceIndex() const {
    return IndexOfData(static_cast<std::int32_t>(fComPortNo));
}

void TnrCustomSerialComm::Update() {
    ClearDeviceList();
    GetDeviceList(nullptr);
    TnrBaseIO::Update();
}

void TnrCustomSerialComm::SetComPortNo(std::uint16_t Value) {
    const bool wasActive = Active();
    SetActive(false);
    fComPortNo = Value;
    SetActive(wasActive);
    DoNotify(NOTIFY_DEVICE_CHANGED);
}

TComPort TnrCustomSerialComm::ComPort() const {
    if (fComPortNo >= 1 && fComPortNo <= 8) return static_cast<TComPort>(fComPortNo - 1);
    return cpCOMxx; // also for port 0, which has no COM name of its own
}

void TnrCustomSerialComm::SetComPort(TComPort Value) {
    if (Value != cpCOMxx) SetComPortNo(static_cast<std::uint16_t>(Value + 1));
}

void TnrCustomSerialComm::SetExtHandle(THandle aHandle) {
    if (aHandle == 0 || aHandle == INVALID_HANDLE_VALUE) return;
    StopWaitingForReturn();
    if (Active()) DoClose();
    fExtHandle = aHandle;
    DoOpen();
}

void TnrCustomSerialComm::InitDeviceConnect() {
    if (!IsOpen()) return;
    ClearDeviceBuffers();
    SetStateDTR(true);
    SetStateRTS(false);
    if (WaitForSignal(msDSR, 200)) {
        SetStateRTS(true);
        WriteLog(dlDetail, QStringLiteral("The device connection was succesful tested"));
    } else {
        DoFatalError(1, 0, QStringLiteral("Device Connect Initialization Error"), false);
    }
}

// ===================================================================================
// TnrComm
// ===================================================================================

TnrComm::TnrComm(QObject* AOwner) : TnrCustomSerialComm(AOwner) {}

// Closing here, while the object is still whole, lets OnClose and the listeners see a
// TnrComm.
TnrComm::~TnrComm() {
    DestroyingClose();
}
