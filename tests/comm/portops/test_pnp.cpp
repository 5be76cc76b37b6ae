// The plug-and-play probe against a device played on the fake port: it answers the line
// sequence the way an external plug-and-play serial device does, or late, or never.

#include "commtestutil.h"
#include "nrcomm.h"
#include "ptylinestate.h"
#include "ptypair.h"
#include "testenv.h"

#include <QElapsedTimer>
#include <atomic>
#include <cstring>
#include <gtest/gtest.h>
#include <thread>

namespace {

// A device behind the fake port. It is powered by DTR; it answers with its
// identification at a rising edge of RTS while DTR is up and the line runs at 1200 baud
// with 7 data bits, from the `answerAtEdge`-th such edge on (0: never). With `endless`
// it goes on sending after its answer without ever sending the end byte.
class TPnpDevice {
public:
    TPnpDevice(TFakePort& port, QByteArray answer, int answerAtEdge, bool endless = false)
        : fPort(port), fAnswer(std::move(answer)), fAnswerAtEdge(answerAtEdge), fEndless(endless),
          fThread([this] { Run(); }) {}
    ~TPnpDevice() {
        fStop = true;
        fThread.join();
    }
    int Edges() const { return fEdges; }
    int Answers() const { return fAnswers; }

private:
    static bool ProbeFraming(const TDCB& d) { return d.BaudRate == 1200 && d.ByteSize == 7; }

    void Run() {
        bool dtr = true, rts = true;
        std::size_t seen = 0;
        while (!fStop) {
            const std::vector<std::uint32_t> escapes = fPort.Device->Escapes();
            for (; seen < escapes.size(); ++seen) {
                switch (escapes[seen]) {
                case SETDTR:
                    dtr = true;
                    break;
                case CLRDTR:
                    dtr = false;
                    break;
                case CLRRTS:
                    rts = false;
                    break;
                case SETRTS: {
                    const auto states = fPort.Device->AppliedStates();
                    if (!rts && dtr && !states.empty() && ProbeFraming(states.back())) {
                        ++fEdges;
                        if (fAnswerAtEdge > 0 && fEdges >= fAnswerAtEdge) {
                            fPort.Receive(fAnswer);
                            ++fAnswers;
                            while (fEndless && !fStop) {
                                fPort.Receive("x");
                                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                            }
                        }
                    }
                    rts = true;
                    break;
                }
                default:
                    break;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    TFakePort& fPort;
    const QByteArray fAnswer;
    const int fAnswerAtEdge;
    const bool fEndless;
    std::atomic<bool> fStop{false};
    std::atomic<int> fEdges{0};
    std::atomic<int> fAnswers{0};
    std::thread fThread;
};

// A port component that takes the fake at its next open, so that a probe can start on a
// closed port.
class TProbeComm : public TnrComm {
public:
    void HandOverOnNextOpen(THandle handle) { fExtHandle = handle; }
};

bool SameDcb(const TDCB& a, const TDCB& b) {
    return std::memcmp(&a, &b, sizeof(TDCB)) == 0;
}

class PnpProbe : public testing::Test {
protected:
    void SetUp() override {
        Port.Device->SetModemLines(MS_DSR_ON);
        Com.SetBaudRate(9600);
        Com.SetTraceStates({tsRxChar, tsCTS});
        Com.HandOverOnNextOpen(Port.Handle);
    }
    void TearDown() override {
        Com.SetActive(false);
        EXPECT_TRUE(AllPortThreadsEnded());
    }

    // The probe left the port closed, its settings and traced events as they were, and
    // applied the probe's framing only in between.
    void ExpectRestoredAndClosed() {
        EXPECT_FALSE(Com.Active());
        EXPECT_TRUE(Port.Device->Closed());
        EXPECT_EQ(Com.TraceStates(), (TTraceStates{tsRxChar, tsCTS}));
        EXPECT_EQ(Com.BaudRate(), 9600u);
        const auto states = Port.Device->AppliedStates();
        ASSERT_GE(states.size(), 2u);
        const TDCB& last = states.back();
        EXPECT_TRUE(SameDcb(last, Com.LineSettings()));
        const TDCB& probe = states[states.size() - 2];
        TDCB expected = last;
        expected.BaudRate = 1200;
        expected.ByteSize = 7;
        expected.Parity = NOPARITY;
        expected.StopBits = ONESTOPBIT;
        EXPECT_TRUE(SameDcb(probe, expected))
            << std::uint32_t(probe.BaudRate) << " baud, " << int(probe.ByteSize) << " bits";
    }

    TFakePort Port;
    TProbeComm Com;
};

} // namespace

TEST_F(PnpProbe, ADeviceThatAnswersGivesItsWholeIdentification) {
    const QByteArray id("(\x01$ACM1234\\0001\\MODEM\\Brisemer test modem)");
    TPnpDevice device(Port, id + "trailing", 1);
    QElapsedTimer clock;
    clock.start();
    const QString result = Com.GetPNPDeviceString();
    EXPECT_EQ(result, QString::fromLatin1(id));
    EXPECT_GE(clock.elapsed(), 400); // the two pauses of the line sequence
    EXPECT_EQ(device.Edges(), 1);
    ExpectRestoredAndClosed();

    // The sequence: DTR up and RTS down to test the connection, then at 1200 baud both
    // down, DTR up, RTS up.
    const std::vector<std::uint32_t> expected = {SETDTR, CLRRTS, CLRDTR, CLRRTS, SETDTR, SETRTS};
    EXPECT_EQ(Port.Device->Escapes(), expected);
}

TEST_F(PnpProbe, TheOtherStartByteEndsAtItsOwnEndByte) {
    TPnpDevice device(Port,
                      QByteArray("\x08"
                                 "AB)C\x09"
                                 "D"),
                      1);
    EXPECT_EQ(Com.GetPNPDeviceString(), QString::fromLatin1("\x08"
                                                            "AB)C\x09"));
    ExpectRestoredAndClosed();
}

TEST_F(PnpProbe, ADeviceThatAnswersOnlyTheSecondSequenceIsStillRead) {
    TPnpDevice device(Port, "(late)", 2);
    EXPECT_EQ(Com.GetPNPDeviceString(), QStringLiteral("(late)"));
    EXPECT_EQ(device.Edges(), 2);
    EXPECT_EQ(Port.Device->Escapes().size(), 10u); // the connection test and two sequences
    ExpectRestoredAndClosed();
}

TEST_F(PnpProbe, NoAnswerOrAnotherFirstByteGivesAnEmptyResultWithoutAnError) {
    int fatal = 0;
    Com.OnFatalError = [&](QObject*, std::uint32_t, std::uint32_t, const QString&, bool&) { ++fatal; };
    {
        TPnpDevice silent(Port, QByteArray(), 0);
        EXPECT_EQ(Com.GetPNPDeviceString(), QString());
        EXPECT_EQ(silent.Edges(), 2);
        ExpectRestoredAndClosed();
    }
    for (const QByteArray& answer : {QByteArray("\xe9(abc)"), QByteArray("abc")}) {
        TFakePort other;
        other.Device->SetModemLines(MS_DSR_ON);
        Com.HandOverOnNextOpen(other.Handle);
        TPnpDevice device(other, answer, 1);
        EXPECT_EQ(Com.GetPNPDeviceString(), QString()) << answer.constData();
        EXPECT_FALSE(Com.Active());
    }
    EXPECT_EQ(fatal, 0);
}

TEST_F(PnpProbe, AnAnswerThatStopsEarlyGivesWhatArrived) {
    TPnpDevice device(Port, "(PNP0501", 1);
    EXPECT_EQ(Com.GetPNPDeviceString(), QStringLiteral("(PNP0501"));
    ExpectRestoredAndClosed();
}

TEST_F(PnpProbe, AnAnswerThatNeverEndsIsCutInsteadOfHoldingTheCaller) {
    TPnpDevice device(Port, "(", 1, /*endless=*/true);
    QElapsedTimer clock;
    clock.start();
    const QString result = Com.GetPNPDeviceString();
    EXPECT_LT(clock.elapsed(), 20000);
    EXPECT_EQ(result.size(), 1024);
    EXPECT_EQ(result, QLatin1Char('(') + QString(1023, QLatin1Char('x')));
    EXPECT_FALSE(Com.Active());
}

TEST_F(PnpProbe, WithoutDsrThePortIsPutBackBeforeTheConnectionErrorIsReported) {
    Port.Device->SetModemLines(0);
    try {
        Com.GetPNPDeviceString();
        ADD_FAILURE() << "no exception";
    } catch (const ENrException& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Device Connect Initialization Error"));
    }
    // Closed as it was: not left open and locked against other programs.
    EXPECT_FALSE(Com.Active());
    EXPECT_TRUE(Port.Device->Closed());
    for (const TDCB& state : Port.Device->AppliedStates())
        EXPECT_NE(std::uint32_t(state.BaudRate), 1200u); // the line settings were never touched

    std::vector<std::pair<std::uint32_t, std::uint32_t>> codes;
    Com.OnFatalError = [&](QObject*, std::uint32_t code, std::uint32_t detail, const QString&, bool& raise) {
        codes.emplace_back(code, detail);
        raise = false;
    };
    // An open port stays open with DTR and RTS as they were.
    TFakePort open;
    Com.SetExtHandle(open.Handle);
    ASSERT_TRUE(Com.Active());
    Com.SetStateDTR(false);
    Com.SetStateRTS(true);
    EXPECT_EQ(Com.GetPNPDeviceString(), QString());
    ASSERT_EQ(codes.size(), 1u);
    EXPECT_EQ(codes[0], std::make_pair(1u, 0u));
    EXPECT_TRUE(Com.Active());
    EXPECT_FALSE(open.Device->Closed());
    EXPECT_FALSE(open.Device->Dtr());
    EXPECT_TRUE(open.Device->Rts());
}

TEST(PnpProbePort, AnOpenPortIsOpenAgainAfterwardsWithItsOwnSettings) {
    TPtyPair pty;
    TTestEnvironment::WritePortMap({QStringLiteral("COM241 = ") + pty.SlavePath()});
    TFakePort port;
    port.Device->SetModemLines(MS_DSR_ON);
    TPnpDevice device(port, "(OPEN)", 1);
    TnrComm com;
    com.SetComPortNo(241);
    com.SetBaudRate(4800);
    com.SetStopBits(sbTwo);
    com.SetExtHandle(port.Handle); // open now, on the device
    ASSERT_TRUE(com.Active());

    EXPECT_EQ(com.GetPNPDeviceString(), QStringLiteral("(OPEN)"));
    // Closed and opened again: the device's handle is gone, the port's own name opens.
    EXPECT_TRUE(port.Device->Closed());
    ASSERT_TRUE(com.Active());
    TPtyLineState line;
    ASSERT_TRUE(ReadPtyLineState(pty.MasterFd(), line));
    EXPECT_EQ(line.BaudRate, 4800u);
    EXPECT_TRUE(line.TwoStopBits);
    com.SetActive(false);
    EXPECT_TRUE(AllPortThreadsEnded());
}

TEST(PnpProbePort, APortThatCannotOpenReportsTheOpensErrorAndGivesNothing) {
    TnrComm com;
    com.SetComPortNo(250); // not mapped
    EXPECT_THROW(com.GetPNPDeviceString(), ENrException);
    com.OnFatalError = [](QObject*, std::uint32_t, std::uint32_t, const QString&, bool& raise) {
        raise = false;
    };
    EXPECT_EQ(com.GetPNPDeviceString(), QString());
    EXPECT_FALSE(com.Active());
}
