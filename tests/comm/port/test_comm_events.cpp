// Event processing of the serial port component with the fake device: modem-line events
// and monitor controls, line errors, transmit-empty, exceptions in handlers and a wait
// that fails.

#include "commtestutil.h"
#include "nrcomm.h"
#include "nrcommthreads.h"
#include "platform/nrerror.h"
#include "testenv.h"

#include <QThread>
#include <atomic>
#include <cerrno>
#include <gtest/gtest.h>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace {

struct TTrace {
    std::vector<TTraceStates> Events;
    std::vector<bool> OnMainThread;
};

void AttachTrace(TnrComm& com, TTrace& trace) {
    com.OnTraceState = [&trace](QObject*, TTraceStates s) {
        trace.Events.push_back(s);
        trace.OnMainThread.push_back(IsMainThread());
    };
}

} // namespace

TEST(CommEvents, ModemLineEventsReachOnTraceStateAndTheMonitorControls) {
    TFakePort port;
    TnrComm com;
    TTestLamp cts, dsr, rlsd, ring;
    QObject plain; // no "Checked": left alone
    com.SetMonitorCTS(&cts);
    com.SetMonitorDSR(&dsr);
    com.SetMonitorRLSD(&rlsd);
    com.SetMonitorRing(&plain);
    com.SetTraceStates({tsCTS, tsDSR, tsRLSD, tsRing});
    TTrace trace;
    com.SetExtHandle(port.Handle);
    AttachTrace(com, trace);

    port.Device->SetModemLines(MS_CTS_ON);
    ASSERT_TRUE(WaitUntil([&] { return !trace.Events.empty(); }));
    EXPECT_EQ(trace.Events.back(), TTraceStates{tsCTS});
    EXPECT_TRUE(cts.Checked());
    EXPECT_FALSE(dsr.Checked());
    EXPECT_FALSE(rlsd.Checked());

    trace.Events.clear();
    port.Device->SetModemLines(MS_DSR_ON | MS_RLSD_ON);
    ASSERT_TRUE(WaitUntil([&] { return !trace.Events.empty(); }));
    EXPECT_EQ(trace.Events.back(), (TTraceStates{tsCTS, tsDSR, tsRLSD}));
    EXPECT_FALSE(cts.Checked());
    EXPECT_TRUE(dsr.Checked());
    EXPECT_TRUE(rlsd.Checked());

    // The ring lamp lights on a ring event and stays lit when the line drops.
    com.SetMonitorRing(&ring);
    trace.Events.clear();
    port.Device->SetModemLines(MS_RING_ON);
    ASSERT_TRUE(WaitUntil([&] { return !trace.Events.empty(); }));
    EXPECT_TRUE(ring.Checked());
    trace.Events.clear();
    port.Device->SetModemLines(0);
    ASSERT_TRUE(WaitUntil([&] { return !trace.Events.empty(); }));
    EXPECT_TRUE(ring.Checked());
    EXPECT_FALSE(dsr.Checked());

    for (bool onMain : trace.OnMainThread)
        EXPECT_TRUE(onMain);
    com.SetActive(false);
    EXPECT_TRUE(AllPortThreadsEnded());
}

TEST(CommEvents, UntracedEventsAndTheTwoPathEventsAreNotReportedToOnTraceState) {
    TFakePort port;
    TnrComm com;
    com.SetTraceStates({tsRxChar, tsTxEmpty, tsDSR});
    TTrace trace;
    int afterSend = 0;
    QByteArray received;
    com.OnAfterSend = [&](QObject*) { ++afterSend; };
    com.OnAfterReceive = [&](QObject*, const std::uint8_t* d, std::uint32_t n) {
        received.append(reinterpret_cast<const char*>(d), n);
    };
    com.SetExtHandle(port.Handle);
    AttachTrace(com, trace);

    port.Receive("abc");
    port.Device->SetOutQueue(10);
    port.Device->SetOutQueue(0); // transmit-empty
    ASSERT_TRUE(WaitUntil([&] { return afterSend == 1 && received == "abc"; }));
    port.Device->SetModemLines(MS_CTS_ON); // CTS is not traced: not even in the mask
    port.Device->SetModemLines(MS_CTS_ON | MS_DSR_ON);
    ASSERT_TRUE(WaitUntil([&] { return !trace.Events.empty(); }));
    ProcessEventsFor(std::chrono::milliseconds(50));
    ASSERT_EQ(trace.Events.size(), 1u);
    EXPECT_EQ(trace.Events[0], TTraceStates{tsDSR});
    com.SetActive(false);
    EXPECT_TRUE(AllPortThreadsEnded());
}

TEST(CommEvents, MonitorLinksAreClearedWhenTheControlIsDestroyed) {
    TnrComm com;
    auto* lamp = new TTestLamp;
    com.SetMonitorCTS(lamp);
    com.SetMonitorRing(lamp);
    EXPECT_EQ(com.MonitorCTS(), lamp);
    delete lamp;
    EXPECT_EQ(com.MonitorCTS(), nullptr);
    EXPECT_EQ(com.MonitorRing(), nullptr);
    // A close refreshes the monitors: it must not reach the destroyed lamp.
    com.SetActive(false);
    com.TraceStateChanged(&com, {tsRing});
}

TEST(CommEvents, ALineErrorGoesToOnCommErrorAndTheLogAndHoldsTheBytesForTheNextEvent) {
    TFakePort port;
    TnrLogFile log;
    TnrComm com;
    com.SetLog(&log);
    QByteArray received;
    com.OnAfterReceive = [&](QObject*, const std::uint8_t* d, std::uint32_t n) {
        received.append(reinterpret_cast<const char*>(d), n);
    };
    struct TError {
        std::uint32_t Code, Sys;
        std::uint8_t State;
        bool Main;
    };
    std::vector<TError> errors;
    com.OnCommError = [&](QObject*, std::uint32_t code, std::uint32_t sys, TComStateFlags state, bool&) {
        errors.push_back({code, sys, state.Bits, IsMainThread()});
    };
    com.SetExtHandle(port.Handle);
    log.Clear();

    port.Device->InjectLineErrors(CE_FRAME);
    port.Receive("12");
    ASSERT_TRUE(WaitUntil([&] { return !errors.empty(); }));
    ProcessEventsFor(std::chrono::milliseconds(30));
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].Code, CE_FRAME);
    EXPECT_EQ(errors[0].Sys, 0u);
    EXPECT_TRUE(errors[0].Main);
    EXPECT_TRUE(received.isEmpty()); // nothing delivered in the event that found the error
    ASSERT_EQ(log.Lines().size(), 1);
    EXPECT_TRUE(log.Lines()[0].endsWith(QStringLiteral(" nrComm: Communication Error 8:0 ") +
                                        QString::number(errors[0].State, 16).toUpper()))
        << log.Lines()[0].toStdString();

    // The bytes stayed queued: the next receive event delivers them with the new ones.
    port.Receive("34");
    ASSERT_TRUE(WaitUntil([&] { return received == "1234"; }));
    com.SetActive(false);
    EXPECT_TRUE(AllPortThreadsEnded());
}

TEST(CommEvents, OnCommErrorCanFlushBothQueues) {
    TFakePort port;
    TnrComm com;
    int calls = 0;
    com.OnCommError = [&](QObject*, std::uint32_t, std::uint32_t, TComStateFlags, bool& flush) {
        ++calls;
        flush = true;
    };
    com.SetExtHandle(port.Handle);
    port.Device->InjectLineErrors(CE_OVERRUN);
    port.Receive("lost");
    ASSERT_TRUE(WaitUntil([&] { return calls == 1; }));
    const auto purges = port.Device->Purges();
    ASSERT_FALSE(purges.empty());
    EXPECT_EQ(purges.back(), PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    EXPECT_EQ(port.Device->InQueue(), 0u);
    com.SetActive(false);
    EXPECT_TRUE(AllPortThreadsEnded());
}

TEST(CommEvents, AnExceptionInAHandlerIsAFatalErrorShownAndTheComponentGoesOn) {
    TFakePort port;
    TMessageCapture boxes;
    TnrLogFile log;
    TnrComm com;
    com.SetLog(&log);
    int chunks = 0;
    com.OnAfterReceive = [&](QObject*, const std::uint8_t* d, std::uint32_t) {
        ++chunks;
        if (d[0] == '!') throw ENrException(QStringLiteral("bad block"));
    };
    struct TFatal {
        std::uint32_t Code;
        QString Msg;
    };
    std::vector<TFatal> fatal;
    bool clear = false;
    com.OnFatalError = [&](QObject*, std::uint32_t code, std::uint32_t, const QString& msg, bool& raise) {
        fatal.push_back({code, msg});
        raise = !clear;
    };
    com.SetExtHandle(port.Handle);

    port.Receive("!one");
    ASSERT_TRUE(WaitUntil([&] { return boxes.Count() == 1; }));
    ASSERT_EQ(fatal.size(), 1u);
    EXPECT_EQ(fatal[0].Code, 1u);
    EXPECT_EQ(fatal[0].Msg, QStringLiteral("bad block"));
    EXPECT_EQ(boxes.Messages()[0], QStringLiteral("bad block"));
    EXPECT_TRUE(log.Lines().last().contains(QStringLiteral("Fatal Error: 1, ")));
    EXPECT_TRUE(com.Active());

    // Later events are processed; a handler that clears RaiseException shows nothing.
    clear = true;
    port.Receive("!two");
    ASSERT_TRUE(WaitUntil([&] { return fatal.size() == 2; }));
    port.Receive("fine");
    ASSERT_TRUE(WaitUntil([&] { return chunks == 3; }));
    EXPECT_EQ(boxes.Count(), 1);
    EXPECT_TRUE(com.Active());
    com.SetActive(false);
    EXPECT_TRUE(AllPortThreadsEnded());
}

TEST(CommEvents, AForeignExceptionIsAFatalErrorWithTheSystemErrorOfItsMoment) {
    for (const bool useMainThread : {true, false}) {
        TFakePort port;
        TMessageCapture boxes;
        TnrLogFile log;
        TnrComm com;
        com.SetLog(&log);
        com.SetUseMainThread(useMainThread);
        std::atomic<int> chunks{0};
        com.OnAfterReceive = [&](QObject*, const std::uint8_t* d, std::uint32_t) {
            ++chunks;
            switch (d[0]) {
            case 'a': // a failed call, handled: nothing to report
                if (::close(-1) != 0) SetLastError(EBADF);
                return;
            case 'b':
                throw std::runtime_error("not ours");
            case 'c':
                if (::close(-1) != 0) throw std::runtime_error("after a failed call");
                return;
            default:
                throw std::system_error(ENOSPC, std::generic_category(), "disk");
            }
        };
        struct TFatal {
            std::uint32_t Code, Detail;
            QString Msg;
        };
        std::mutex lock;
        std::vector<TFatal> fatal;
        com.OnFatalError = [&](QObject*, std::uint32_t code, std::uint32_t detail, const QString& msg,
                               bool& raise) {
            std::lock_guard g(lock);
            fatal.push_back({code, detail, msg});
            raise = !msg.startsWith(QLatin1String("disk")); // the last one silences its box
        };
        com.SetExtHandle(port.Handle);
        for (const char* byte : {"a", "b", "c", "d"}) {
            const int before = chunks.load();
            port.Receive(byte);
            ASSERT_TRUE(WaitUntil([&] { return chunks.load() == before + 1; }));
        }
        ASSERT_TRUE(WaitUntil([&] {
            std::lock_guard g(lock);
            return fatal.size() == 3;
        }));
        ProcessEventsFor(std::chrono::milliseconds(30));
        std::lock_guard g(lock);
        EXPECT_EQ(fatal[0].Code, 1u);
        EXPECT_EQ(fatal[0].Detail, 0u) << "the error of an earlier event is not this one's";
        EXPECT_EQ(fatal[0].Msg, QStringLiteral("not ours"));
        EXPECT_EQ(fatal[1].Detail, static_cast<std::uint32_t>(EBADF));
        EXPECT_EQ(fatal[2].Detail, static_cast<std::uint32_t>(ENOSPC));
        EXPECT_EQ(boxes.Messages(), (QStringList{"not ours", "after a failed call"}));
        EXPECT_TRUE(log.Lines().filter(QStringLiteral("Fatal Error: 1, 0, not ours")).size() == 1)
            << log.Lines().join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(com.Active());
        com.SetActive(false);
    }
    EXPECT_TRUE(AllPortThreadsEnded());
}

TEST(CommEvents, AFailedWaitClosesThePortOnTheUserInterfaceThreadWithoutAFatalError) {
    TFakePort port;
    TMessageCapture boxes;
    TnrLogFile log;
    TnrComm com;
    com.SetLog(&log);
    std::vector<bool> closeOnMain;
    std::vector<int> codes;
    int fatal = 0;
    com.OnClose = [&](QObject*) { closeOnMain.push_back(IsMainThread()); };
    com.OnFatalError = [&](QObject*, std::uint32_t, std::uint32_t, const QString&, bool&) { ++fatal; };
    com.NotifyAdd(TnrNotifyEvent([&](QObject*, int code) { codes.push_back(code); }));
    com.SetExtHandle(port.Handle);
    log.Clear();
    codes.clear();

    port.Device->FailNextWait(EIO);
    ASSERT_TRUE(WaitUntil([&] { return !com.Active(); }));
    EXPECT_EQ(closeOnMain, std::vector<bool>({true}));
    EXPECT_EQ(codes, std::vector<int>({1}));
    EXPECT_EQ(fatal, 0);
    EXPECT_EQ(boxes.Count(), 0);
    EXPECT_TRUE(port.Device->Closed());
    EXPECT_TRUE(log.Lines().isEmpty()); // no "closed" line for a port that went away
    EXPECT_TRUE(AllPortThreadsEnded());

    // The component opens again afterwards.
    TFakePort again;
    com.SetExtHandle(again.Handle);
    EXPECT_TRUE(com.Active());
    com.SetActive(false);
    EXPECT_TRUE(AllPortThreadsEnded());
}

TEST(CommEvents, WithoutReceiverTheBytesStayQueuedAndAreCountedAtEveryEvent) {
    TFakePort port;
    TnrComm com;
    com.SetExtHandle(port.Handle);
    port.Receive("abcd");
    ASSERT_TRUE(WaitUntil([&] { return com.TotalReceived() == 4; }));
    EXPECT_EQ(port.Device->InQueue(), 4u);
    port.Receive("ef");
    ASSERT_TRUE(WaitUntil([&] { return com.TotalReceived() == 10; }));
    EXPECT_EQ(com.ReadString(), QByteArray("abcdef"));
    com.SetActive(false);
    EXPECT_EQ(com.TotalReceived(), 10u);
    EXPECT_TRUE(AllPortThreadsEnded());
}

TEST(CommEvents, WithoutTheMainThreadEverythingRunsOnTheMessageThread) {
    TFakePort port;
    TnrComm com;
    com.SetUseMainThread(false);
    com.SetTraceStates({tsDSR});
    std::atomic<int> mainThreadCalls{0}, calls{0};
    std::atomic<int> closes{0};
    com.OnAfterReceive = [&](QObject*, const std::uint8_t*, std::uint32_t) {
        ++calls;
        if (IsMainThread()) ++mainThreadCalls;
    };
    com.OnTraceState = [&](QObject*, TTraceStates s) {
        if (s == TTraceStates{tsDSR}) {
            ++calls;
            if (IsMainThread()) ++mainThreadCalls;
        }
    };
    com.OnClose = [&](QObject*) {
        ++closes;
        if (IsMainThread()) ++mainThreadCalls;
    };
    com.SetExtHandle(port.Handle);
    port.Receive("x");
    port.Device->SetModemLines(MS_DSR_ON);
    // No event loop needed: the message thread does the work.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (calls.load() < 2 && std::chrono::steady_clock::now() < deadline)
        QThread::msleep(1);
    EXPECT_EQ(calls.load(), 2);
    // The close after a failed wait runs there too.
    port.Device->FailNextWait(ENODEV);
    while (closes.load() == 0 && std::chrono::steady_clock::now() < deadline)
        QThread::msleep(1);
    EXPECT_EQ(closes.load(), 1);
    EXPECT_EQ(mainThreadCalls.load(), 0);
    EXPECT_TRUE(AllPortThreadsEnded());
    EXPECT_FALSE(com.Active());
}
