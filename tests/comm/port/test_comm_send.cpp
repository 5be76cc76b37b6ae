// Sending, purging, line control, modem lines, waits and the connection test of the
// serial port component: pseudo-terminals for what travels, the fake device for the lines.

#include "commtestutil.h"
#include "nrcomm.h"
#include "nrcommthreads.h"
#include "platform/nrerror.h"
#include "ptypair.h"
#include "testenv.h"

#include <QCheckBox>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

QStringList WithoutStamps(const QStringList& lines) {
    QStringList out;
    for (const QString& line : lines)
        out << line.mid(line.indexOf(QLatin1String("nrComm: ")));
    return out;
}

class CommSendPty : public testing::Test {
protected:
    void SetUp() override {
        MapOnlyTestPorts();
        TTestEnvironment::WritePortMap({QStringLiteral("COM211 = ") + Pty.SlavePath()});
        Com.SetComPortNo(211);
        Com.SetLog(&Log);
        Com.SetActive(true);
        ASSERT_TRUE(Com.Active());
        Log.Clear();
    }
    void TearDown() override {
        Com.SetActive(false);
        EXPECT_TRUE(AllPortThreadsEnded());
    }

    TPtyPair Pty;
    TnrLogFile Log;
    TnrComm Com;
};

} // namespace

TEST_F(CommSendPty, TheThreeSendsDeliverTheirBytesInOrderCountAndLog) {
    Com.SendChar(u'A');
    Com.SendChar(u'\x10A'); // only the low 8 bits go out
    Com.SendString("hello");
    Com.SendString(QByteArray()); // nothing at all
    const std::uint8_t data[] = {1, 2, 3, 0, 255};
    Com.SendData(data, sizeof data);
    Com.SendData(data, 0);

    EXPECT_EQ(Pty.Read(12), QByteArray("A\nhello") + QByteArray(reinterpret_cast<const char*>(data), 5));
    EXPECT_EQ(Com.TotalSent(), 12u);
    EXPECT_EQ(WithoutStamps(Log.Lines()),
              QStringList({
                  QStringLiteral("nrComm: Try to send char 41h ..."),
                  QStringLiteral("nrComm: Try to send char  Ah ..."),
                  QStringLiteral("nrComm: Try to send string hello ..."),
                  QStringLiteral("nrComm: Try to send the data with 5 length ..."),
                  QStringLiteral("nrComm: ... the data transmittion is OK!"),
                  QStringLiteral("nrComm: Try to send the data with 0 length ..."),
                  QStringLiteral("nrComm: ... the data transmittion is OK!"),
              }));

    // TotalSent starts again at every open.
    Com.SetActive(false);
    Com.SetActive(true);
    EXPECT_EQ(Com.TotalSent(), 0u);
}

TEST_F(CommSendPty, SendDataReturnsBeforeTheWriteAndKeepsItsOwnCopy) {
    // Nobody reads the master yet, so most of this stays queued behind the kernel's
    // small pseudo-terminal buffer when SendData returns.
    std::vector<std::uint8_t> buffer(512 * 1024);
    for (size_t i = 0; i < buffer.size(); ++i)
        buffer[i] = static_cast<std::uint8_t>(i * 13);
    const QByteArray first(reinterpret_cast<const char*>(buffer.data()),
                           static_cast<qsizetype>(buffer.size()));
    Com.SendData(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
    EXPECT_GT(Com.NotYetSend(), 0u);
    // The caller reuses its buffer at once for a second block.
    for (auto& b : buffer)
        b = static_cast<std::uint8_t>(~b);
    const QByteArray second(reinterpret_cast<const char*>(buffer.data()),
                            static_cast<qsizetype>(buffer.size()));
    Com.SendData(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
    std::fill(buffer.begin(), buffer.end(), 0);
    // SendChar waits until its byte reached the driver, behind both blocks: the far end
    // has to read meanwhile.
    QByteArray got;
    std::thread reader(
        [&] { got = Pty.Read(static_cast<int>(2 * buffer.size() + 1), std::chrono::seconds(20)); });
    Com.SendChar(u'Z');
    reader.join();

    ASSERT_EQ(got.size(), 2 * first.size() + 1);
    EXPECT_TRUE(got.left(first.size()) == first);
    EXPECT_TRUE(got.mid(first.size(), second.size()) == second);
    EXPECT_EQ(got.back(), 'Z');
    EXPECT_EQ(Com.TotalSent(), 2 * buffer.size() + 1);
    EXPECT_TRUE(WaitUntil([&] { return Com.NotYetSend() == 0; }));
}

TEST_F(CommSendPty, FlushOutputBufferReturnsWhenEverythingIsSent) {
    std::atomic<qsizetype> drained{0};
    std::thread reader([&] { drained = Pty.Read(300 * 1024, std::chrono::seconds(20)).size(); });
    const QByteArray block(300 * 1024, 'q');
    Com.SendData(reinterpret_cast<const std::uint8_t*>(block.constData()),
                 static_cast<std::uint32_t>(block.size()));
    Com.FlushOutputBuffer();
    EXPECT_EQ(Com.NotYetSend(), 0u);
    reader.join();
    EXPECT_EQ(drained.load(), block.size());
}

TEST_F(CommSendPty, PurgesDropQueuedOutputAndWaitingInput) {
    int errors = 0;
    Com.OnCommError = [&](QObject*, std::uint32_t, std::uint32_t, TComStateFlags, bool&) { ++errors; };
    const QByteArray block(1024 * 1024, 'p');
    Com.SendData(reinterpret_cast<const std::uint8_t*>(block.constData()),
                 static_cast<std::uint32_t>(block.size()));
    Com.SendData(reinterpret_cast<const std::uint8_t*>(block.constData()),
                 static_cast<std::uint32_t>(block.size()));
    ASSERT_GT(Com.NotYetSend(), 0u);
    Com.ClearDeviceOutput();
    // Whatever the kernel already took may still come out; nothing more is written.
    const QByteArray out = Pty.Read(2 * block.size(), std::chrono::milliseconds(300));
    EXPECT_LT(out.size(), block.size());
    EXPECT_EQ(Com.NotYetSend(), 0u);
    ProcessEventsFor(std::chrono::milliseconds(30));
    EXPECT_EQ(errors, 0); // a purged transfer is not a failed one

    Pty.Write("unread input");
    ASSERT_TRUE(WaitUntil([&] { return Com.ReadyForRead() == 12; }));
    Com.ClearDeviceInput();
    EXPECT_EQ(Com.ReadyForRead(), 0u);

    Pty.Write("more");
    ASSERT_TRUE(WaitUntil([&] { return Com.ReadyForRead() == 4; }));
    Com.ClearDeviceBuffers();
    EXPECT_EQ(Com.ReadyForRead(), 0u);
    // The port still sends afterwards.
    Com.SendString("ok");
    EXPECT_EQ(Pty.Read(2), QByteArray("ok"));
}

TEST(CommSendClosed, EveryOperationOnAClosedPortDoesNothing) {
    TnrLogFile log;
    TnrComm com;
    com.SetLog(&log);
    int traces = 0, errors = 0;
    com.OnTraceState = [&](QObject*, TTraceStates) { ++traces; };
    com.OnCommError = [&](QObject*, std::uint32_t, std::uint32_t, TComStateFlags, bool&) { ++errors; };
    const std::uint8_t byte = 1;
    com.SendChar(u'x');
    com.SendString("abc");
    com.SendData(&byte, 1);
    com.SendAheadChar(u'y');
    com.FlushOutputBuffer();
    com.ClearDeviceInput();
    com.ClearDeviceOutput();
    com.ClearDeviceBuffers();
    com.SetStateDTR(true);
    com.SetStateRTS(true);
    com.SetStateX(true);
    com.SetStateBreak(true);
    com.InitDeviceConnect();
    std::uint8_t buffer[4] = {9, 9, 9, 9};
    EXPECT_EQ(com.Read(buffer, 4), 0u);
    EXPECT_EQ(buffer[0], 9);
    EXPECT_EQ(com.ReadAll(buffer), 0u);
    EXPECT_EQ(com.ReadMax(buffer, 4), 0);
    EXPECT_TRUE(com.ReadString().isEmpty());
    EXPECT_FALSE(com.WaitForBytes(0, 0));
    EXPECT_FALSE(com.WaitForSignal(msDSR, 0));
    EXPECT_TRUE(com.ModemSignals().Empty());
    EXPECT_EQ(com.ReadyForRead(), 0u);
    EXPECT_EQ(com.NotYetSend(), 0u);
    EXPECT_NE(com.CommProp(), nullptr);
    EXPECT_EQ(com.TotalSent(), 0u);
    EXPECT_EQ(traces, 0);
    EXPECT_EQ(errors, 0);
    EXPECT_TRUE(log.Lines().isEmpty());
}

namespace {

class CommSendFake : public testing::Test {
protected:
    void SetUp() override {
        Com.SetLog(&Log);
        Com.OnTraceState = [this](QObject*, TTraceStates s) { Traces.push_back(s); };
        Com.SetExtHandle(Port.Handle);
        ASSERT_TRUE(Com.Active());
        Traces.clear();
        Log.Clear();
    }
    void TearDown() override {
        Com.SetActive(false);
        EXPECT_TRUE(AllPortThreadsEnded());
    }
    std::vector<std::uint32_t> EscapesSince(size_t from) const {
        const auto all = Port.Device->Escapes();
        return std::vector<std::uint32_t>(
            all.begin() + static_cast<std::ptrdiff_t>(std::min(from, all.size())), all.end());
    }

    TFakePort Port;
    TnrLogFile Log;
    TnrComm Com;
    std::vector<TTraceStates> Traces;
};

} // namespace

TEST_F(CommSendFake, LineSettersSendTheirEscapeAndReportTheLine) {
    const size_t from = Port.Device->Escapes().size();
    Com.SetStateDTR(true);
    Com.SetStateDTR(false);
    Com.SetStateRTS(true);
    Com.SetStateRTS(false);
    Com.SetStateX(true);
    Com.SetStateX(false);
    Com.SetStateBreak(true);
    EXPECT_TRUE(Port.Device->BreakOn());
    Com.SetStateBreak(false);
    EXPECT_EQ(EscapesSince(from), std::vector<std::uint32_t>(
                                      {SETDTR, CLRDTR, SETRTS, CLRRTS, SETXON, SETXOFF, SETBREAK, CLRBREAK}));
    EXPECT_EQ(Traces, std::vector<TTraceStates>({{tsDSR}, {tsDSR}, {tsCTS}, {tsCTS}}));
    EXPECT_FALSE(Port.Device->BreakOn());
    EXPECT_FALSE(Port.Device->Rts());
    EXPECT_FALSE(Port.Device->Dtr());
}

TEST_F(CommSendFake, ModemSignalsAndTheMonitorsFollowTheLines) {
    TTestLamp cts, rlsd;
    QCheckBox dsr; // Qt names its property "checked"
    Com.SetMonitorCTS(&cts);
    Com.SetMonitorDSR(&dsr);
    Com.SetMonitorRLSD(&rlsd);
    Port.Device->SetModemLines(MS_CTS_ON | MS_RLSD_ON);
    EXPECT_EQ(Com.ModemSignals(), (TModemSignals{msCTS, msRLSD}));
    Port.Device->SetModemLines(MS_DSR_ON | MS_RING_ON);
    EXPECT_EQ(Com.ModemSignals(), (TModemSignals{msDSR, msRing}));
    // A line setter refreshes the monitors from the lines as they are.
    Com.SetStateRTS(true);
    EXPECT_FALSE(cts.Checked());
    EXPECT_TRUE(dsr.isChecked());
    EXPECT_FALSE(rlsd.Checked());
    // With the lines wired back (RTS to CTS), raising RTS lights the CTS lamp.
    Port.Device->SetLoopback(true);
    Com.SetStateRTS(true);
    EXPECT_TRUE(cts.Checked());
    Com.SetStateRTS(false);
    EXPECT_FALSE(cts.Checked());
}

TEST_F(CommSendFake, WaitForSignalKeepsTheUserInterfaceAlive) {
    Port.Device->SetModemLines(MS_DSR_ON);
    EXPECT_TRUE(Com.WaitForSignal(msDSR, 200));
    EXPECT_FALSE(Com.WaitForSignal(msRing, 0));

    // The line comes on later; a timer of the user interface fires meanwhile.
    bool timerFired = false;
    QTimer::singleShot(10, [&] { timerFired = true; });
    std::thread line([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        Port.Device->SetModemLines(MS_DSR_ON | MS_CTS_ON);
    });
    EXPECT_TRUE(Com.WaitForSignal(msCTS, 5000));
    line.join();
    EXPECT_TRUE(timerFired);

    // A port closed during the wait ends it.
    QTimer::singleShot(20, [&] { Com.SetActive(false); });
    EXPECT_FALSE(Com.WaitForSignal(msRLSD, 5000));
    EXPECT_FALSE(Com.Active());
}

TEST_F(CommSendFake, InitDeviceConnectTestsTheConnectionThroughDsr) {
    // A plug that wires DTR to DSR: the test succeeds.
    Port.Device->SetLoopback(true);
    const size_t from = Port.Device->Escapes().size();
    const size_t purges = Port.Device->Purges().size();
    Com.InitDeviceConnect();
    EXPECT_EQ(EscapesSince(from), std::vector<std::uint32_t>({SETDTR, CLRRTS, SETRTS}));
    ASSERT_EQ(Port.Device->Purges().size(), purges + 1);
    EXPECT_EQ(Port.Device->Purges().back(), PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    EXPECT_TRUE(Port.Device->Rts());
    ASSERT_FALSE(Log.Lines().isEmpty());
    EXPECT_TRUE(
        Log.Lines().last().endsWith(QStringLiteral("nrComm: The device connection was succesful tested")));

    // Nothing answers: a fatal error, raised.
    Port.Device->SetLoopback(false);
    Port.Device->SetModemLines(0);
    std::vector<QString> fatal;
    Com.OnFatalError = [&](QObject*, std::uint32_t code, std::uint32_t detail, const QString& msg, bool&) {
        fatal.push_back(QStringLiteral("%1/%2/%3").arg(code).arg(detail).arg(msg));
    };
    try {
        Com.InitDeviceConnect();
        ADD_FAILURE() << "no exception";
    } catch (const ENrException& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Device Connect Initialization Error"));
    }
    EXPECT_EQ(fatal, std::vector<QString>({QStringLiteral("1/0/Device Connect Initialization Error")}));
    EXPECT_FALSE(Port.Device->Rts()); // left low: the device did not answer
}

TEST_F(CommSendFake, SoftwareRS485RaisesRtsForASendAndLowersItWhenTheLineIsEmpty) {
    TFakePort plain; // a driver that can't toggle RTS by itself
    plain.Device->SetSupportsRS485(false);
    Com.SetRS485Mode(true);
    Com.SetExtHandle(plain.Handle);
    ASSERT_TRUE(Com.Active());
    ASSERT_NE(plain.Device->Mask() & EV_TXEMPTY, 0u);
    Traces.clear();
    const auto escapesSince = [&](size_t from) {
        const auto all = plain.Device->Escapes();
        return std::vector<std::uint32_t>(all.begin() + static_cast<std::ptrdiff_t>(from), all.end());
    };
    const size_t from = plain.Device->Escapes().size();

    Com.SendChar(u'a');
    ASSERT_TRUE(WaitUntil([&] { return escapesSince(from).size() == 2; }));
    EXPECT_EQ(escapesSince(from), std::vector<std::uint32_t>({SETRTS, CLRRTS}));
    EXPECT_EQ(Traces, std::vector<TTraceStates>({{tsCTS}, {tsCTS}}));
    EXPECT_EQ(plain.Device->Written(), QByteArray("a"));

    // A failed send lowers RTS too.
    plain.Device->FailWrites(EIO);
    const size_t failFrom = plain.Device->Escapes().size();
    Com.SendString("bc");
    EXPECT_EQ(escapesSince(failFrom), std::vector<std::uint32_t>({SETRTS, CLRRTS}));
    plain.Device->FailWrites(0);
    Com.SetActive(false);
}

TEST_F(CommSendFake, TheDriverTogglesRtsByItselfWhenItCan) {
    TFakePort capable;
    capable.Device->SetSupportsRS485(true);
    Com.SetRS485Mode(true);
    Com.SetExtHandle(capable.Handle);
    const size_t from = capable.Device->Escapes().size();
    Com.SendChar(u'a');
    ProcessEventsFor(std::chrono::milliseconds(30));
    EXPECT_EQ(capable.Device->Escapes().size(), from);
    EXPECT_EQ(capable.Device->Written(), QByteArray("a"));
    EXPECT_EQ(capable.Device->AppliedStates().back().Flags & DCB_fRtsControlMask, DCB_fRtsControlToggle);
    Com.SetActive(false);
}

TEST_F(CommSendFake, AFailedSendGoesToOnCommErrorAndCountsNothing) {
    struct TError {
        std::uint32_t Code, Sys;
        std::uint8_t State;
        bool Main;
    };
    std::vector<TError> errors;
    Com.OnCommError = [&](QObject*, std::uint32_t code, std::uint32_t sys, TComStateFlags state, bool&) {
        errors.push_back({code, sys, state.Bits, IsMainThread()});
    };
    Port.Device->FailWrites(EIO);
    Com.SendChar(u'x');
    Com.SendString("yz");
    Com.SendAheadChar(u'!');
    ASSERT_EQ(errors.size(), 3u);
    for (const TError& e : errors) {
        EXPECT_EQ(e.Code, 0u);
        EXPECT_EQ(e.Sys, static_cast<std::uint32_t>(EIO));
        EXPECT_EQ(e.State, 0);
    }
    EXPECT_EQ(Com.TotalSent(), 0u);
    const QString line = QStringLiteral("nrComm: Communication Error 0:%1 0").arg(EIO);
    EXPECT_EQ(WithoutStamps(Log.Lines()).count(line), 3);
    Port.Device->FailWrites(0);
    Com.SendAheadChar(u'!');
    EXPECT_EQ(Port.Device->SentAhead(), QByteArray("!"));
    EXPECT_EQ(Com.TotalSent(), 1u);
    Port.Device->FailWrites(EIO);

    // SendData has returned when its write fails: the failure is reported afterwards, on
    // the thread that processes events.
    errors.clear();
    const std::uint8_t data[] = {1, 2, 3};
    Com.SendData(data, 3);
    EXPECT_EQ(Com.TotalSent(), 4u);
    ASSERT_TRUE(WaitUntil([&] { return errors.size() == 1; }));
    EXPECT_EQ(errors[0].Sys, static_cast<std::uint32_t>(EIO));
    EXPECT_TRUE(errors[0].Main);
    Port.Device->FailWrites(0);
    Com.SendData(data, 3);
    ASSERT_TRUE(WaitUntil([&] { return Port.Device->Written().size() == 3; }));
    EXPECT_EQ(errors.size(), 1u);
}

TEST_F(CommSendFake, ReadAllNeverWritesMoreThanTheCallerSizedItsBufferFor) {
    Port.Receive("12345");
    ASSERT_EQ(Com.ReadyForRead(), 5u); // the caller makes a 5-byte buffer
    Port.Receive("6789");              // and more bytes come before it reads
    char buffer[9];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(Com.ReadAll(reinterpret_cast<std::uint8_t*>(buffer)), 5u);
    EXPECT_EQ(QByteArray(buffer, 9), QByteArray("12345####"));
    EXPECT_EQ(Com.ReadAll(reinterpret_cast<std::uint8_t*>(buffer), 3), 3u);
    EXPECT_EQ(QByteArray(buffer, 3), QByteArray("678"));
    EXPECT_EQ(Com.ReadyForRead(), 1u);
}

TEST_F(CommSendFake, StatusPropertiesComeFromTheDevice) {
    Port.Receive("12345");
    EXPECT_EQ(Com.ReadyForRead(), 5u);
    Port.Device->SetOutQueue(77);
    EXPECT_EQ(Com.NotYetSend(), 77u);
    Port.Device->SetOutQueue(0);
    EXPECT_EQ(Com.NotYetSend(), 0u);
    TCommProp expected;
    ASSERT_TRUE(GetCommProperties(Port.Handle, expected));
    const TCommProp* prop = Com.CommProp();
    ASSERT_NE(prop, nullptr);
    EXPECT_EQ(0, std::memcmp(prop, &expected, sizeof expected));
}
