// Line settings, properties, open and close of the serial port component, against the
// fake device (it records every setting the component applies).

#include "commtestutil.h"
#include "nrcomm.h"
#include "nrcommthreads.h"
#include "platform/nrerror.h"
#include "testenv.h"

#include <QStringList>
#include <cerrno>
#include <gtest/gtest.h>
#include <vector>

namespace {

// Exposes the configuration record, as a stored configuration would fill it.
class TConfigurableComm : public TnrComm {
public:
    using TnrComm::TnrComm;
    TCommConfig& Config() { return CommCfg; }
    void Reapply() { ApplyLineSettings(); }
};

// Records what a component reports, in order.
struct TReport {
    QStringList Events;

    void Attach(TnrComm& com) {
        com.OnClose = [this](QObject*) { Events << QStringLiteral("close"); };
        com.OnTraceState = [this](QObject*, TTraceStates s) {
            Events << QStringLiteral("trace:%1").arg(s.Bits, 0, 16);
        };
        com.NotifyAdd(
            TnrNotifyEvent([this](QObject*, int code) { Events << QStringLiteral("notify:%1").arg(code); }));
    }
};

const std::uint32_t kKeptFlags = DCB_fParity | DCB_fOutxDsrFlow | 0x0020 /* upper bit of fDtrControl */ |
                                 DCB_fDsrSensitivity | DCB_fTXContinueOnXoff | DCB_fErrorChar | DCB_fNull |
                                 DCB_fAbortOnError;

} // namespace

TEST(CommSettings, NewComponentIs19200EightNoneOneWithHardwareHandshake) {
    TnrComm com;
    EXPECT_EQ(com.BaudRate(), 19200u);
    EXPECT_EQ(com.ByteSize(), 8);
    EXPECT_EQ(com.Parity(), pNone);
    EXPECT_EQ(com.StopBits(), sbOne);
    EXPECT_EQ(com.StreamProtocol(), spHardware);
    EXPECT_EQ(com.ComPortNo(), 1);
    EXPECT_EQ(com.ComPort(), cpCOM1);
    EXPECT_TRUE(com.TraceStates().Empty());
    EXPECT_EQ(com.BufferInSize(), 8192);
    EXPECT_EQ(com.BufferOutSize(), 8192);
    EXPECT_EQ(com.TimeoutRead(), 0u);
    EXPECT_EQ(com.TimeoutWrite(), 0u);
    EXPECT_TRUE(com.UseMainThread());
    EXPECT_FALSE(com.RS485Mode());
    EXPECT_EQ(com.EnumPorts(), epQuickAll);
    EXPECT_EQ(com.EventChar(), 0);
    EXPECT_FALSE(com.Active());
    EXPECT_EQ(com.ComName(), QStringLiteral("COM1"));

    const TDCB dcb = com.LineSettings();
    // Packed fields: compared as values (+), never bound to references.
    EXPECT_EQ(+dcb.DCBlength, 28u);
    EXPECT_EQ(dcb.Flags & DCB_fParity, 0u);
    EXPECT_NE(dcb.Flags & DCB_fBinary, 0u);
    EXPECT_NE(dcb.Flags & DCB_fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb.Flags & DCB_fRtsControlMask, DCB_fRtsControlHandshake);
    EXPECT_EQ(dcb.Flags & DCB_fDtrControlMask, DCB_fDtrControlEnable);
    EXPECT_EQ(dcb.Flags & (DCB_fOutX | DCB_fInX), 0u);
    EXPECT_EQ(+dcb.XonLim, 80);
    EXPECT_EQ(+dcb.XoffLim, 200);
    EXPECT_EQ(dcb.XonChar, 0x11);
    EXPECT_EQ(dcb.XoffChar, 0x13);
}

TEST(CommSettings, FlagsKeepTheConfiguredBitsAndComposeTheProtocol) {
    struct TCase {
        TStreamProtocol Protocol;
        bool RS485;
        std::uint32_t Rts;
        bool CtsFlow;
        bool XonXoff;
    };
    const std::vector<TCase> cases = {
        {spNone, false, DCB_fRtsControlEnable, false, false},
        {spXonXoff, false, DCB_fRtsControlEnable, false, true},
        {spHardware, false, DCB_fRtsControlHandshake, true, false},
        // RS-485 gives RTS toggle and never CTS flow, whatever the protocol.
        {spHardware, true, DCB_fRtsControlToggle, false, false},
        {spXonXoff, true, DCB_fRtsControlToggle, false, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "protocol " << int(c.Protocol) << " rs485 " << c.RS485);
        for (const std::uint32_t before : {0xFFFFFFFFu, 0u, kKeptFlags, ~kKeptFlags}) {
            TConfigurableComm com;
            com.SetRS485Mode(c.RS485);
            com.Config().dcb.Flags = before;
            com.SetStreamProtocol(c.Protocol);
            const std::uint32_t flags = com.LineSettings().Flags;
            // Every kept bit survives as it was; bits above fAbortOnError are cleared.
            EXPECT_EQ(flags & kKeptFlags, before & kKeptFlags);
            EXPECT_EQ(flags & ~0x7FFFu, 0u);
            EXPECT_NE(flags & DCB_fBinary, 0u);
            EXPECT_NE(flags & DCB_fDtrControlEnable, 0u);
            EXPECT_EQ(flags & DCB_fRtsControlMask, c.Rts);
            EXPECT_EQ((flags & DCB_fOutxCtsFlow) != 0, c.CtsFlow);
            EXPECT_EQ((flags & (DCB_fOutX | DCB_fInX)) == (DCB_fOutX | DCB_fInX), c.XonXoff);
            EXPECT_EQ((flags & (DCB_fOutX | DCB_fInX)) == 0, !c.XonXoff);
        }
    }
}

TEST(CommSettings, ParityByteSizeAndEventCharSetters) {
    TnrComm com;
    for (TParity p : {pOdd, pEven, pMark, pSpace}) {
        com.SetParity(p);
        EXPECT_EQ(com.LineSettings().Parity, static_cast<std::uint8_t>(p));
        EXPECT_NE(com.LineSettings().Flags & DCB_fParity, 0u) << int(p);
    }
    com.SetParity(pNone);
    EXPECT_EQ(com.LineSettings().Flags & DCB_fParity, 0u);

    // fParity comes from the Parity setter only: other setters keep it.
    com.SetParity(pEven);
    com.SetStreamProtocol(spNone);
    com.SetBaudRate(4800);
    EXPECT_NE(com.LineSettings().Flags & DCB_fParity, 0u);

    for (int size = 0; size <= 255; ++size) {
        com.SetByteSize(static_cast<std::uint8_t>(size));
        EXPECT_EQ(com.ByteSize(), (size >= 4 && size <= 8) ? size : 8) << size;
    }

    com.SetEventChar(u'\x1A5');
    EXPECT_EQ(com.EventChar(), 0xA5);
    EXPECT_EQ(static_cast<std::uint8_t>(com.LineSettings().EvtChar), 0xA5);
    com.SetStopBits(sbOneAndHalf);
    EXPECT_EQ(com.LineSettings().StopBits, 1);
    com.SetStopBits(sbTwo);
    EXPECT_EQ(com.LineSettings().StopBits, 2);
}

TEST(CommSettings, ComPortFollowsComPortNoAndSendsNotificationThree) {
    TnrComm com;
    std::vector<int> codes;
    com.NotifyAdd(TnrNotifyEvent([&](QObject*, int code) { codes.push_back(code); }));

    for (int n = 1; n <= 8; ++n) {
        com.SetComPortNo(static_cast<std::uint16_t>(n));
        EXPECT_EQ(com.ComPort(), static_cast<TComPort>(n - 1));
    }
    com.SetComPortNo(9);
    EXPECT_EQ(com.ComPort(), cpCOMxx);
    com.SetComPortNo(0);
    EXPECT_EQ(com.ComPort(), cpCOMxx);
    EXPECT_EQ(com.ComName(), QStringLiteral("COM0"));
    EXPECT_EQ(codes, std::vector<int>(10, 3));

    com.SetComPort(cpCOM5);
    EXPECT_EQ(com.ComPortNo(), 5);
    codes.clear();
    com.SetComPort(cpCOMxx); // changes nothing, says nothing
    EXPECT_EQ(com.ComPortNo(), 5);
    EXPECT_TRUE(codes.empty());
}

TEST(CommSettings, EventMaskFollowsTheTracedStates) {
    EXPECT_EQ(TraceStatesToEventMask({}), EV_RXCHAR);
    const std::vector<std::pair<TTraceState, std::uint32_t>> table = {
        {tsRxChar, EV_RXCHAR}, {tsRxFlag, EV_RXFLAG},     {tsTxEmpty, EV_TXEMPTY}, {tsCTS, EV_CTS},
        {tsDSR, EV_DSR},       {tsRLSD, EV_RLSD},         {tsBreak, EV_BREAK},     {tsErr, EV_ERR},
        {tsRing, EV_RING},     {tsRx80Full, EV_RX80FULL}, {tsEvent1, EV_EVENT1},   {tsEvent2, EV_EVENT2},
    };
    std::uint32_t all = 0;
    TTraceStates every;
    for (const auto& [state, event] : table) {
        EXPECT_EQ(TraceStatesToEventMask(TTraceStates{state}), event | EV_RXCHAR) << int(state);
        all |= event;
        every.Include(state);
    }
    EXPECT_EQ(TraceStatesToEventMask(every), all);
    EXPECT_EQ(all & EV_PERR, 0u); // the printer-error event is never asked for
}

TEST(CommSettings, OpenAppliesEverySettingAndCloseReportsInOrder) {
    TFakePort port;
    TnrLogFile log;
    TnrComm com;
    com.SetLog(&log);
    com.SetBaudRate(38400);
    com.SetParity(pOdd);
    com.SetStopBits(sbTwo);
    com.SetByteSize(7);
    com.SetBufferInSize(10000);
    com.SetBufferOutSize(2000);
    com.SetTimeoutRead(30);
    com.SetTimeoutWrite(500);
    com.SetTraceStates({tsCTS, tsRing});
    TReport report;
    report.Attach(com);

    com.SetExtHandle(port.Handle);
    ASSERT_TRUE(com.Active());
    EXPECT_EQ(com.Handle(), port.Handle);
    EXPECT_EQ(report.Events, QStringList({QStringLiteral("trace:4"), QStringLiteral("notify:2")}));

    const auto states = port.Device->AppliedStates();
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(0, std::memcmp(&states.back(), &com.LineSettings(), sizeof(TDCB)));
    EXPECT_EQ(+states.back().BaudRate, 38400u);
    EXPECT_EQ(states.back().ByteSize, 7);
    EXPECT_EQ(states.back().Parity, ODDPARITY);
    EXPECT_EQ(states.back().StopBits, TWOSTOPBITS);
    EXPECT_EQ(port.Device->QueueSizes(), std::make_pair(10000u, 2000u));
    EXPECT_EQ(port.Device->Timeouts().ReadIntervalTimeout, 30u);
    EXPECT_EQ(port.Device->Timeouts().WriteTotalTimeoutConstant, 500u);
    EXPECT_EQ(port.Device->Mask(), EV_RXCHAR | EV_CTS | EV_RING);
    EXPECT_EQ(CommThreadsRunning(), 2);

    report.Events.clear();
    com.SetActive(false);
    EXPECT_FALSE(com.Active());
    EXPECT_TRUE(port.Device->Closed());
    EXPECT_EQ(report.Events,
              QStringList({QStringLiteral("close"), QStringLiteral("notify:1"), QStringLiteral("trace:4")}));
    EXPECT_TRUE(AllPortThreadsEnded());

    const QStringList lines = log.Lines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral(" nrComm: The port COM1 is opened succesfully")))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral(" nrComm: The port is closed succesfully")))
        << lines[1].toStdString();
}

TEST(CommSettings, SettersOnAnOpenPortApplyAtOnceWithoutReopening) {
    TFakePort port;
    TnrComm com;
    int closes = 0;
    com.OnClose = [&](QObject*) { ++closes; };
    com.SetExtHandle(port.Handle);
    ASSERT_TRUE(com.Active());

    std::size_t applied = port.Device->AppliedStates().size();
    const auto expectApplied = [&](const char* what) {
        const auto states = port.Device->AppliedStates();
        ASSERT_EQ(states.size(), applied + 1) << what;
        EXPECT_EQ(0, std::memcmp(&states.back(), &com.LineSettings(), sizeof(TDCB))) << what;
        applied = states.size();
    };
    com.SetBaudRate(4800);
    expectApplied("baud rate");
    com.SetParity(pMark);
    expectApplied("parity");
    com.SetStopBits(sbOneAndHalf);
    expectApplied("stop bits");
    com.SetByteSize(5);
    expectApplied("byte size");
    com.SetEventChar(u'\n');
    expectApplied("event char");
    com.SetStreamProtocol(spXonXoff);
    expectApplied("protocol");
    com.SetRS485Mode(true);
    expectApplied("rs485");

    com.SetBufferInSize(4096);
    EXPECT_EQ(port.Device->QueueSizes(), std::make_pair(4096u, 8192u));
    com.SetBufferOutSize(1024);
    EXPECT_EQ(port.Device->QueueSizes(), std::make_pair(4096u, 1024u));
    com.SetTimeoutRead(7);
    EXPECT_EQ(port.Device->Timeouts().ReadIntervalTimeout, 7u);

    EXPECT_EQ(closes, 0);
    EXPECT_TRUE(com.Active());
    EXPECT_EQ(CommThreadsRunning(), 2);
    com.SetActive(false);
    EXPECT_TRUE(AllPortThreadsEnded());
}

TEST(CommSettings, ActiveToItsCurrentValueDoesNothing) {
    TFakePort port;
    TnrComm com;
    TReport report;
    report.Attach(com);
    com.SetActive(false); // closed already
    EXPECT_TRUE(report.Events.isEmpty());
    com.SetExtHandle(port.Handle);
    report.Events.clear();
    com.SetActive(true); // open already
    EXPECT_TRUE(report.Events.isEmpty());
    EXPECT_EQ(com.Handle(), port.Handle);
    com.SetActive(false);
    EXPECT_TRUE(AllPortThreadsEnded());
}

TEST(CommSettings, ExtHandleZeroOrInvalidIsIgnoredAndAValidOneReplacesTheOpenPort) {
    TnrComm com;
    TReport report;
    report.Attach(com);
    com.SetExtHandle(0);
    com.SetExtHandle(INVALID_HANDLE_VALUE);
    EXPECT_FALSE(com.Active());
    EXPECT_TRUE(report.Events.isEmpty());

    TFakePort first(QStringLiteral("FIRST")), second(QStringLiteral("SECOND"));
    com.SetExtHandle(first.Handle);
    report.Events.clear();
    com.SetExtHandle(second.Handle);
    EXPECT_TRUE(first.Device->Closed());
    EXPECT_FALSE(second.Device->Closed());
    EXPECT_EQ(com.Handle(), second.Handle);
    EXPECT_EQ(report.Events.count(QStringLiteral("close")), 1);
    EXPECT_EQ(report.Events.count(QStringLiteral("notify:2")), 1);
    com.SetActive(false);
    EXPECT_TRUE(AllPortThreadsEnded());
}

TEST(CommSettings, AFailedOpenReportsTheNameAndReasonAndLeavesNothingOpen) {
    // A handle that names no device (closed already): the open must fail, not pretend.
    TFakePort port;
    CloseHandle(port.Handle);
    const int descriptors = OpenDescriptorCount();

    TnrLogFile log;
    TnrComm com;
    com.SetLog(&log);
    com.SetComPortNo(3);
    TReport report;
    report.Attach(com);
    std::vector<std::tuple<std::uint32_t, std::uint32_t, QString>> fatal;
    bool clear = false;
    com.OnFatalError = [&](QObject*, std::uint32_t code, std::uint32_t detail, const QString& msg,
                           bool& raise) {
        fatal.emplace_back(code, detail, msg);
        if (clear) raise = false;
    };
    const QString expected = QStringLiteral("Device \"COM3\" Open Error !!!\r") + SysErrorMessage(EBADF);

    try {
        com.SetExtHandle(port.Handle);
        ADD_FAILURE() << "no exception";
    } catch (const ENrException& e) {
        EXPECT_EQ(e.Message(), expected);
    }
    ASSERT_EQ(fatal.size(), 1u);
    EXPECT_EQ(fatal[0], std::make_tuple(1u, 0u, expected));
    EXPECT_EQ(com.LastError(), expected);
    EXPECT_FALSE(com.Active());
    EXPECT_EQ(CommThreadsRunning(), 0);
    // The open attempt traces [tsTxEmpty] first; nothing else: no close, no notification.
    EXPECT_EQ(report.Events, QStringList({QStringLiteral("trace:4")}));
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
    ASSERT_FALSE(log.Lines().isEmpty());
    EXPECT_TRUE(log.Lines().last().endsWith(QStringLiteral("Fatal Error: 1, 0, ") + expected));

    // A handler that clears RaiseException: the assignment returns normally.
    clear = true;
    EXPECT_NO_THROW(com.SetExtHandle(port.Handle));
    EXPECT_FALSE(com.Active());
    EXPECT_EQ(fatal.size(), 2u);
}

TEST(CommSettings, DestroyingAnOpenComponentClosesItWithoutTracing) {
    TFakePort port;
    QStringList events;
    {
        TnrComm com;
        com.OnClose = [&](QObject* sender) {
            // The whole component is still there for the close handler.
            events << QStringLiteral("close:%1").arg(qobject_cast<TnrComm*>(sender) != nullptr);
        };
        com.OnTraceState = [&](QObject*, TTraceStates) { events << QStringLiteral("trace"); };
        com.NotifyAdd(
            TnrNotifyEvent([&](QObject*, int code) { events << QStringLiteral("notify:%1").arg(code); }));
        com.SetExtHandle(port.Handle);
        events.clear();
    }
    EXPECT_EQ(events, QStringList({QStringLiteral("close:1"), QStringLiteral("notify:1")}));
    EXPECT_TRUE(port.Device->Closed());
    EXPECT_TRUE(AllPortThreadsEnded());
}

TEST(CommSettings, RS485DirectionControlAsksForTransmitEmptyOnlyWithoutDriverSupport) {
    for (const bool driverToggles : {false, true}) {
        TFakePort port;
        port.Device->SetSupportsRS485(driverToggles);
        TnrComm com;
        com.SetRS485Mode(true);
        com.SetExtHandle(port.Handle);
        EXPECT_EQ((port.Device->Mask() & EV_TXEMPTY) != 0, !driverToggles);
        EXPECT_EQ(port.Device->AppliedStates().back().Flags & DCB_fRtsControlMask, DCB_fRtsControlToggle);
        // Switching the mode off while open drops the event again.
        com.SetRS485Mode(false);
        EXPECT_EQ(port.Device->Mask(), EV_RXCHAR);
        com.SetActive(false);
    }
    EXPECT_TRUE(AllPortThreadsEnded());
}

TEST(CommSettings, ReceiveBufferKeepsItsSizeUntilTheNextOpen) {
    TFakePort port;
    TnrComm com;
    std::uint32_t largest = 0;
    QByteArray got;
    com.OnAfterReceive = [&](QObject*, const std::uint8_t* data, std::uint32_t n) {
        largest = std::max(largest, n);
        got.append(reinterpret_cast<const char*>(data), n);
    };
    com.SetExtHandle(port.Handle);
    com.SetBufferInSize(20000);
    QByteArray block(50000, 'x');
    for (int i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>(i * 7);
    port.Receive(block);
    ASSERT_TRUE(WaitUntil([&] { return got.size() == block.size(); }));
    EXPECT_EQ(got, block);
    EXPECT_EQ(largest, 8192u);

    // Reopened, the buffer has the new size.
    com.SetActive(false);
    TFakePort again;
    com.SetExtHandle(again.Handle);
    got.clear();
    largest = 0;
    again.Receive(block);
    ASSERT_TRUE(WaitUntil([&] { return got.size() == block.size(); }));
    EXPECT_EQ(got, block);
    EXPECT_EQ(largest, 20000u);
    com.SetActive(false);
    EXPECT_TRUE(AllPortThreadsEnded());
}

TEST(CommSettings, TheModuleRegistersTheTwoMessagesOfThePort) {
    { TLibraryModules modules{nrcommModule}; }
    const std::uint32_t event = CommMsgComEvent(), quit = CommMsgQuitComEvent();
    EXPECT_EQ(event, RegisterWindowMessage(QStringLiteral("nrCommMsgComEvent")));
    EXPECT_EQ(quit, RegisterWindowMessage(QStringLiteral("nrCommMsgQuitComEvent")));
    EXPECT_NE(event, quit);
    for (const std::uint32_t id : {event, quit}) {
        EXPECT_GE(id, 0xC000u);
        EXPECT_LE(id, 0xFFFFu);
    }
    // Other messages are not port events: processing one changes nothing.
    TFakePort port;
    TnrComm com;
    int chunks = 0;
    com.OnAfterReceive = [&](QObject*, const std::uint8_t*, std::uint32_t) { ++chunks; };
    com.SetExtHandle(port.Handle);
    com.SetUseMainThread(true);
    TMessage other;
    other.Msg = quit;
    other.WParam = EV_RXCHAR;
    port.Device->SetCommMask(0); // keep the port's own threads out of the way
    port.Receive("abc");
    com.ProcessCommEvent(other);
    EXPECT_EQ(chunks, 0);
    TMessage mine = other;
    mine.Msg = event;
    com.ProcessCommEvent(mine);
    EXPECT_EQ(chunks, 1);
    com.SetActive(false);
    EXPECT_TRUE(AllPortThreadsEnded());
}

TEST(CommSettings, AnExceptionDuringTheCloseGoesNoFurther) {
    TFakePort port;
    TnrComm com;
    int closes = 0;
    com.OnClose = [&](QObject*) {
        ++closes;
        throw ENrException(QStringLiteral("close handler"));
    };
    com.NotifyAdd(TnrNotifyEvent([](QObject*, int code) {
        if (code == 1) throw ENrException(QStringLiteral("listener"));
    }));
    com.SetExtHandle(port.Handle);
    EXPECT_NO_THROW(com.SetActive(false));
    EXPECT_FALSE(com.Active());
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(port.Device->Closed());
    EXPECT_TRUE(AllPortThreadsEnded());
}
