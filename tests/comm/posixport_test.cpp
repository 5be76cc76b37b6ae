// The Linux serial device on real pseudo-terminals: opening through the port map,
// exclusivity, transfers, the event wait and its ways to end, timeouts and purges.
#include "platform/nrerror.h"
#include "platform/nrposixport.h"
#include "platform/nrtimeoutplan.h"
#include "ptypair.h"
#include "testenv.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <future>
#include <mutex>
#include <sys/ioctl.h>
#include <thread>

using namespace std::chrono_literals;

namespace {

struct TWaitOutcome {
    TnrWaitResult Result;
    std::uint32_t Mask;
    std::uint32_t Error;
    std::chrono::nanoseconds CpuTime; // spent by the waiting thread
};

std::chrono::nanoseconds ThreadCpuTime() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

bool WaitForBlocked(const TnrPosixSerialDevice& device, int calls) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (device.BlockedCalls() < calls) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class PosixPort : public ::testing::Test {
protected:
    void SetUp() override {
        TTestEnvironment::WritePortMap({QStringLiteral("COM201 = ") + fPty.SlavePath()});
        fHandle = OpenPortByName(QStringLiteral("COM201"));
        ASSERT_NE(fHandle, INVALID_HANDLE_VALUE) << SysErrorMessage(GetLastError()).toStdString();
        fDevice = LookupHandleAs<TnrPosixSerialDevice>(fHandle);
        ASSERT_TRUE(fDevice);
    }
    void TearDown() override { CloseHandle(fHandle); }

    // Starts a wait on another thread and returns once it blocks in the device.
    std::future<TWaitOutcome> StartWait(TnrEvent* wakeUp = nullptr) {
        const int before = fDevice->BlockedCalls();
        auto f = std::async(std::launch::async, [this, wakeUp] {
            const auto cpu = ThreadCpuTime();
            std::uint32_t mask = 0xDEAD;
            const TnrWaitResult r = WaitCommEvent(fHandle, mask, wakeUp);
            return TWaitOutcome{r, mask, GetLastError(), ThreadCpuTime() - cpu};
        });
        EXPECT_TRUE(WaitForBlocked(*fDevice, before + 1));
        return f;
    }

    TPtyPair fPty;
    THandle fHandle = INVALID_HANDLE_VALUE;
    std::shared_ptr<TnrPosixSerialDevice> fDevice;
};

TEST(PosixPortOpen, NamesThatAreNotMappedOrNotTtysFailWithTheSystemsReason) {
    TTestEnvironment::WritePortMap({});
    EXPECT_EQ(OpenPortByName(QStringLiteral("COM250")), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), std::uint32_t(ENOENT));
    EXPECT_EQ(SysErrorMessage(GetLastError()), QStringLiteral("No such file or directory"));
    EXPECT_EQ(OpenPortByName(QStringLiteral("COM0")), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), std::uint32_t(ENOENT));

    // A mapped path that is not a terminal is refused, not half opened.
    QTemporaryDir dir;
    const QString file = dir.path() + QStringLiteral("/plain");
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    TTestEnvironment::WritePortMap({QStringLiteral("COM9 = ") + file,
                                    QStringLiteral("COM10 = ") + dir.path() + QStringLiteral("/missing")});
    EXPECT_EQ(OpenPortByName(QStringLiteral("COM9")), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), std::uint32_t(ENOTTY));
    EXPECT_EQ(OpenPortByName(QStringLiteral("COM10")), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), std::uint32_t(ENOENT));
}

TEST(PosixPortOpen, SecondOpenerIsRefusedUntilTheFirstCloses) {
    TPtyPair pty;
    TTestEnvironment::WritePortMap({QStringLiteral("com12 = ") + pty.SlavePath()});
    const THandle first = OpenPortByName(QStringLiteral("COM12"));
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_EQ(LookupHandleAs<TnrPosixSerialDevice>(first)->Name(), QStringLiteral("COM12"));

    // By name and by path alike; the text names the reason.
    EXPECT_EQ(OpenPortByName(QStringLiteral("COM12")), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), std::uint32_t(EBUSY));
    EXPECT_EQ(SysErrorMessage(GetLastError()), QStringLiteral("Device or resource busy"));
    EXPECT_EQ(OpenPortByName(pty.SlavePath()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), std::uint32_t(EBUSY));
    // The refused opener must not have disturbed the first one.
    std::uint32_t written = 0;
    EXPECT_TRUE(WriteFile(first, "ok", 2, written));
    EXPECT_EQ(pty.Read(2), QByteArray("ok"));

    ASSERT_TRUE(CloseHandle(first));
    const THandle again = OpenPortByName(pty.SlavePath());
    EXPECT_NE(again, INVALID_HANDLE_VALUE) << SysErrorMessage(GetLastError()).toStdString();
    CloseHandle(again);
}

TEST_F(PosixPort, BytesTravelBothWays) {
    fPty.Write("$GPGGA,1\r\n");
    char buffer[32] = {};
    std::uint32_t read = 0;
    ASSERT_TRUE(ReadFile(fHandle, buffer, 10, read));
    EXPECT_EQ(QByteArray(buffer, int(read)), QByteArray("$GPGGA,1\r\n"));

    // Raw mode: CR and LF pass unchanged, nothing is echoed back to the sender.
    std::uint32_t written = 0;
    ASSERT_TRUE(WriteFile(fHandle, "AB\r\n\x00\xff", 6, written));
    EXPECT_EQ(written, 6u);
    ASSERT_TRUE(TransmitCommChar(fHandle, 'Z'));
    EXPECT_EQ(fPty.Read(7), QByteArray("AB\r\n\x00\xffZ", 7));
    EXPECT_TRUE(fPty.Read(1, 100ms).isEmpty());
    EXPECT_TRUE(FlushFileBuffers(fHandle));
}

TEST_F(PosixPort, StatusQueryCountsWaitingBytesAndPurgeDropsThem) {
    fPty.Write("0123456789");
    TComStat stat;
    ASSERT_TRUE(WaitUntil([&] { return ClearCommError(fHandle, nullptr, &stat) && stat.cbInQue == 10; }));
    std::uint32_t errors = 0xFF;
    ASSERT_TRUE(ClearCommError(fHandle, &errors, &stat));
    EXPECT_EQ(errors, 0u);
    EXPECT_EQ(stat.cbOutQue, 0u);

    ASSERT_TRUE(PurgeComm(fHandle, PURGE_RXABORT | PURGE_RXCLEAR));
    ASSERT_TRUE(ClearCommError(fHandle, nullptr, &stat));
    EXPECT_EQ(stat.cbInQue, 0u);
    fPty.Write("new");
    char buffer[8];
    std::uint32_t read = 0;
    ASSERT_TRUE(ReadFile(fHandle, buffer, 3, read));
    EXPECT_EQ(QByteArray(buffer, 3), QByteArray("new"));
    EXPECT_FALSE(PurgeComm(fHandle, 0x100));
    EXPECT_EQ(GetLastError(), std::uint32_t(EINVAL));
}

TEST_F(PosixPort, WaitReportsArrivalsNotBytesLeftWaiting) {
    ASSERT_TRUE(SetCommMask(fHandle, EV_RXCHAR));
    auto wait = StartWait();
    fPty.Write("abc");
    ASSERT_EQ(wait.wait_for(5s), std::future_status::ready);
    TWaitOutcome out = wait.get();
    EXPECT_EQ(out.Result, TnrWaitResult::wrEvent);
    EXPECT_EQ(out.Mask, EV_RXCHAR);

    // Part of the bytes read, the rest left waiting: the next wait must block, and
    // without spinning.
    char first = 0;
    std::uint32_t read = 0;
    ASSERT_TRUE(ReadFile(fHandle, &first, 1, read));
    EXPECT_EQ(first, 'a');
    auto idle = StartWait();
    EXPECT_EQ(idle.wait_for(300ms), std::future_status::timeout);
    fPty.Write("d");
    ASSERT_EQ(idle.wait_for(5s), std::future_status::ready);
    out = idle.get();
    EXPECT_EQ(out.Mask, EV_RXCHAR);
    EXPECT_LT(out.CpuTime, 50ms);
    TComStat stat;
    ASSERT_TRUE(ClearCommError(fHandle, nullptr, &stat));
    EXPECT_EQ(stat.cbInQue, 3u);

    // Bytes that arrive while nobody waits are reported by the next wait.
    fPty.Write("e");
    ASSERT_TRUE(WaitUntil([&] { return ClearCommError(fHandle, nullptr, &stat) && stat.cbInQue == 4; }));
    std::uint32_t mask = 0;
    EXPECT_EQ(WaitCommEvent(fHandle, mask, nullptr), TnrWaitResult::wrEvent);
    EXPECT_EQ(mask, EV_RXCHAR);
}

TEST_F(PosixPort, ArrivalsOutsideTheMaskAreNotReported) {
    ASSERT_TRUE(SetCommMask(fHandle, EV_BREAK));
    fPty.Write("x");
    auto wait = StartWait();
    EXPECT_EQ(wait.wait_for(100ms), std::future_status::timeout);
    ASSERT_TRUE(SetCommMask(fHandle, EV_RXCHAR));
    EXPECT_EQ(wait.get().Mask, 0u);
}

TEST_F(PosixPort, NewMaskEndsThePendingWaitWithAnEmptyMask) {
    ASSERT_TRUE(SetCommMask(fHandle, EV_RXCHAR));
    auto wait = StartWait();
    ASSERT_TRUE(SetCommMask(fHandle, EV_RXCHAR | EV_TXEMPTY));
    const TWaitOutcome out = wait.get();
    EXPECT_EQ(out.Result, TnrWaitResult::wrEvent);
    EXPECT_EQ(out.Mask, 0u);
    std::uint32_t mask = 0;
    ASSERT_TRUE(GetCommMask(fHandle, mask));
    EXPECT_EQ(mask, EV_RXCHAR | EV_TXEMPTY);

    // The new mask is in force for the next wait.
    std::uint32_t written = 0;
    ASSERT_TRUE(WriteFile(fHandle, "x", 1, written));
    EXPECT_EQ(WaitCommEvent(fHandle, mask, nullptr), TnrWaitResult::wrEvent);
    EXPECT_EQ(mask, EV_TXEMPTY);
}

TEST_F(PosixPort, WakeUpEventEndsTheWait) {
    ASSERT_TRUE(SetCommMask(fHandle, EV_RXCHAR));
    TnrEvent wakeUp;
    auto wait = StartWait(&wakeUp);
    wakeUp.Pulse();
    EXPECT_EQ(wait.get().Result, TnrWaitResult::wrWoken);
    auto next = StartWait(&wakeUp);
    wakeUp.Set();
    EXPECT_EQ(next.get().Result, TnrWaitResult::wrWoken);
}

TEST_F(PosixPort, CloseFromAnotherThreadEndsEveryBlockedCall) {
    ASSERT_TRUE(SetCommMask(fHandle, EV_RXCHAR));
    auto wait = StartWait();
    char buffer[4];
    auto read = std::async(std::launch::async, [&] {
        std::uint32_t got = 0;
        const bool ok = ReadFile(fHandle, buffer, 4, got); // all-zero timeouts: blocks
        return std::make_pair(ok, GetLastError());
    });
    ASSERT_TRUE(WaitForBlocked(*fDevice, 2));
    ASSERT_TRUE(CloseHandle(fHandle));
    EXPECT_EQ(wait.get().Result, TnrWaitResult::wrInvalidHandle);
    const auto [ok, error] = read.get();
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, std::uint32_t(EBADF));
    std::uint32_t mask = 0;
    EXPECT_EQ(WaitCommEvent(fHandle, mask, nullptr), TnrWaitResult::wrInvalidHandle);
    EXPECT_EQ(fDevice->WaitCommEvent(mask, nullptr), TnrWaitResult::wrInvalidHandle);
    // Closed means released: the tty can be opened again at once.
    const THandle again = OpenPortByName(QStringLiteral("COM201"));
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    CloseHandle(again);
}

TEST_F(PosixPort, HangUpFailsTheWaitAfterReportingWhatArrived) {
    ASSERT_TRUE(SetCommMask(fHandle, EV_RXCHAR));
    auto wait = StartWait();
    fPty.CloseMaster();
    TWaitOutcome out = wait.get();
    EXPECT_EQ(out.Result, TnrWaitResult::wrFailed);
    EXPECT_EQ(out.Error, std::uint32_t(EIO));
    // The failure sticks.
    std::uint32_t mask = 0;
    EXPECT_EQ(WaitCommEvent(fHandle, mask, nullptr), TnrWaitResult::wrFailed);
    char c;
    std::uint32_t read = 0;
    EXPECT_FALSE(ReadFile(fHandle, &c, 1, read));
    EXPECT_EQ(GetLastError(), std::uint32_t(EIO));
}

TEST_F(PosixPort, ReadsFollowTheTimeouts) {
    char buffer[64];
    std::uint32_t read = 0;
    TCommTimeouts t;

    // Interval: the read ends after that pause between bytes, with what came.
    t.ReadIntervalTimeout = 40;
    ASSERT_TRUE(SetCommTimeouts(fHandle, t));
    auto pending = std::async(std::launch::async, [&] { return ReadFile(fHandle, buffer, 64, read); });
    fPty.Write("12");
    std::this_thread::sleep_for(10ms);
    fPty.Write("34");
    ASSERT_EQ(pending.wait_for(5s), std::future_status::ready);
    EXPECT_TRUE(pending.get());
    EXPECT_EQ(QByteArray(buffer, int(read)), QByteArray("1234"));

    // Total: an empty line ends the read after the constant, with nothing.
    t = TCommTimeouts{};
    t.ReadTotalTimeoutConstant = 50;
    ASSERT_TRUE(SetCommTimeouts(fHandle, t));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(ReadFile(fHandle, buffer, 4, read));
    EXPECT_EQ(read, 0u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 45ms);

    // MAXDWORD interval: what is waiting, at once.
    t = TCommTimeouts{};
    t.ReadIntervalTimeout = MAXDWORD;
    ASSERT_TRUE(SetCommTimeouts(fHandle, t));
    EXPECT_TRUE(ReadFile(fHandle, buffer, 4, read));
    EXPECT_EQ(read, 0u);
    fPty.Write("xy");
    ASSERT_TRUE(WaitUntil([&] {
        TComStat s;
        return ClearCommError(fHandle, nullptr, &s) && s.cbInQue == 2;
    }));
    EXPECT_TRUE(ReadFile(fHandle, buffer, 4, read));
    EXPECT_EQ(QByteArray(buffer, int(read)), QByteArray("xy"));
}

TEST_F(PosixPort, PurgeAbortsABlockedRead) {
    char buffer[4];
    auto read = std::async(std::launch::async, [&] {
        std::uint32_t got = 0;
        const bool ok = ReadFile(fHandle, buffer, 4, got);
        return std::make_tuple(ok, GetLastError(), got);
    });
    ASSERT_TRUE(WaitForBlocked(*fDevice, 1));
    fPty.Write("a");
    std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(PurgeComm(fHandle, PURGE_RXABORT));
    const auto [ok, error, got] = read.get();
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, std::uint32_t(ECANCELED));
    EXPECT_EQ(got, 1u); // what arrived before the abort is still reported
}

TEST_F(PosixPort, WriteToALineNobodyReadsTimesOutOrIsAborted) {
    // The master never reads: the pseudo-terminal's buffers fill up and writes block.
    const QByteArray block(1 << 20, 'x');
    TCommTimeouts t;
    t.WriteTotalTimeoutConstant = 100;
    ASSERT_TRUE(SetCommTimeouts(fHandle, t));
    std::uint32_t written = 0;
    EXPECT_FALSE(WriteFile(fHandle, block.constData(), block.size(), written));
    EXPECT_EQ(GetLastError(), std::uint32_t(ETIMEDOUT));
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, std::uint32_t(block.size()));

    ASSERT_TRUE(SetCommTimeouts(fHandle, TCommTimeouts{}));
    auto blocked = std::async(std::launch::async, [&] {
        std::uint32_t n = 0;
        const bool ok = WriteFile(fHandle, block.constData(), block.size(), n);
        return std::make_pair(ok, GetLastError());
    });
    ASSERT_TRUE(WaitForBlocked(*fDevice, 1));
    ASSERT_TRUE(PurgeComm(fHandle, PURGE_TXABORT | PURGE_TXCLEAR));
    const auto [ok, error] = blocked.get();
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, std::uint32_t(ECANCELED));
}

TEST_F(PosixPort, ModemLinesAndCountersAreAbsentButThePortKeepsWorking) {
    std::uint32_t status = 0xFF;
    EXPECT_FALSE(GetCommModemStatus(fHandle, status));
    EXPECT_EQ(status, 0u);
    EXPECT_FALSE(SupportsRS485(fHandle));

    // DTR/RTS in the control block and modem events in the mask are accepted; the port
    // still carries data and reports arrivals.
    TDCB dcb;
    ASSERT_TRUE(GetCommState(fHandle, dcb));
    dcb.Flags = DCB_fBinary | DCB_fDtrControlEnable | DCB_fRtsControlToggle;
    EXPECT_TRUE(SetCommState(fHandle, dcb));
    ASSERT_TRUE(SetCommMask(fHandle, EV_RXCHAR | EV_CTS | EV_DSR | EV_RING | EV_RLSD | EV_ERR));
    fPty.Write("z");
    std::uint32_t mask = 0;
    EXPECT_EQ(WaitCommEvent(fHandle, mask, nullptr), TnrWaitResult::wrEvent);
    EXPECT_EQ(mask, EV_RXCHAR);
    std::uint32_t errors = 0;
    TComStat stat;
    EXPECT_TRUE(ClearCommError(fHandle, &errors, &stat));
    EXPECT_EQ(errors, 0u);
    EXPECT_EQ(stat.cbInQue, 1u);
}

TEST_F(PosixPort, QueueSizesAndPropertiesAreReported) {
    ASSERT_TRUE(SetupComm(fHandle, 8192, 2048));
    TCommProp prop;
    ASSERT_TRUE(GetCommProperties(fHandle, prop));
    EXPECT_EQ(prop.dwCurrentRxQueue, 8192u);
    EXPECT_EQ(prop.dwCurrentTxQueue, 2048u);
    EXPECT_EQ(prop.wPacketLength, sizeof(TCommProp));
    EXPECT_EQ(prop.dwMaxBaud, 0x10000000u);
    EXPECT_EQ(prop.wSettableData, 0x0Fu);

    TCommTimeouts t;
    t.ReadIntervalTimeout = 7;
    t.WriteTotalTimeoutConstant = 9;
    ASSERT_TRUE(SetCommTimeouts(fHandle, t));
    TCommTimeouts back;
    ASSERT_TRUE(GetCommTimeouts(fHandle, back));
    EXPECT_EQ(back.ReadIntervalTimeout, 7u);
    EXPECT_EQ(back.WriteTotalTimeoutConstant, 9u);
}

TEST_F(PosixPort, ConcurrentUseFromSeveralThreads) {
    // The event thread waits and the others read, write and reconfigure meanwhile, as
    // in a port component; nothing may be lost or crash, and close ends it all.
    ASSERT_TRUE(SetCommMask(fHandle, EV_RXCHAR));
    std::atomic<bool> stop{false};
    std::atomic<int> events{0};
    std::thread waiter([&] {
        std::uint32_t mask = 0;
        while (WaitCommEvent(fHandle, mask, nullptr) == TnrWaitResult::wrEvent)
            if (mask & EV_RXCHAR) ++events;
    });
    std::mutex receivedLock;
    QByteArray received;
    std::thread reader([&] {
        char buffer[64];
        while (!stop) {
            TComStat stat;
            std::uint32_t read = 0;
            if (ClearCommError(fHandle, nullptr, &stat) && stat.cbInQue > 0 &&
                ReadFile(fHandle, buffer, std::min<std::uint32_t>(stat.cbInQue, 64), read)) {
                std::lock_guard g(receivedLock);
                received.append(buffer, int(read));
            }
            std::this_thread::sleep_for(1ms);
        }
    });
    std::thread configurer([&] {
        for (int i = 0; i < 50; ++i) {
            SetCommMask(fHandle, (i % 2) ? EV_RXCHAR : EV_RXCHAR | EV_TXEMPTY);
            TDCB dcb;
            if (GetCommState(fHandle, dcb)) {
                dcb.BaudRate = (i % 2) ? 4800 : 38400;
                SetCommState(fHandle, dcb);
            }
            std::this_thread::sleep_for(2ms);
        }
    });
    QByteArray sent;
    for (int i = 0; i < 200; ++i) {
        const QByteArray line = QByteArray("!AIVDM,") + QByteArray::number(i) + "\r";
        fPty.Write(line);
        sent.append(line);
        std::uint32_t written = 0;
        EXPECT_TRUE(WriteFile(fHandle, "k", 1, written));
    }
    configurer.join();
    EXPECT_EQ(fPty.Read(200), QByteArray(200, 'k'));
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    for (;;) {
        {
            std::lock_guard g(receivedLock);
            if (received.size() >= sent.size() || std::chrono::steady_clock::now() > deadline) break;
        }
        std::this_thread::sleep_for(5ms);
    }
    stop = true;
    reader.join();
    EXPECT_EQ(received, sent);
    CloseHandle(fHandle);
    waiter.join();
    EXPECT_GT(events.load(), 0);
}

// Modem lines and line errors can't be produced on a pseudo-terminal; their translation
// from the driver's line bits and counters is checked on its own.
TEST(DriverCounters, LineChangesBecomeEvents) {
    EXPECT_EQ(ModemLineEvents(0, TIOCM_CTS | TIOCM_CD, nullptr, nullptr), EV_CTS | EV_RLSD);
    EXPECT_EQ(ModemLineEvents(TIOCM_DSR, 0, nullptr, nullptr), EV_DSR);
    // Ring: when the indicator turns on, not when it turns off...
    EXPECT_EQ(ModemLineEvents(0, TIOCM_RNG, nullptr, nullptr), EV_RING);
    EXPECT_EQ(ModemLineEvents(TIOCM_RNG, 0, nullptr, nullptr), 0u);
    // ...and a counted ring (the kernel counts at its end) is still one.
    TnrSerialCounters before, after;
    after.Rng = 1;
    EXPECT_EQ(ModemLineEvents(TIOCM_RNG, 0, &before, &after), EV_RING);
    // A pulse that came and went between two looks shows only in the counters.
    after = before;
    after.Cts = 2;
    EXPECT_EQ(ModemLineEvents(TIOCM_CTS, TIOCM_CTS, &before, &after), EV_CTS);
    EXPECT_EQ(ModemLineEvents(TIOCM_CTS | TIOCM_DSR, TIOCM_CTS | TIOCM_DSR, &before, &before), 0u);
    // Output lines are no events.
    EXPECT_EQ(ModemLineEvents(0, TIOCM_RTS | TIOCM_DTR, nullptr, nullptr), 0u);
}

TEST(DriverCounters, ErrorCountersBecomeErrorBitsAndEvents) {
    TnrSerialCounters before, after;
    EXPECT_EQ(LineErrorBits(before, after), 0u);
    after.Frame = 3;
    after.Overrun = 1;
    after.Cts = 9; // line counters are not errors
    EXPECT_EQ(LineErrorBits(before, after), CE_FRAME | CE_OVERRUN);
    after = before;
    after.Parity = 1;
    after.BufOverrun = 1;
    EXPECT_EQ(LineErrorBits(before, after), CE_RXPARITY | CE_RXOVER);
    after = before;
    after.Brk = 1;
    EXPECT_EQ(LineErrorBits(before, after), CE_BREAK);
    EXPECT_EQ(LineErrorEvents(CE_BREAK), EV_BREAK);
    EXPECT_EQ(LineErrorEvents(CE_FRAME), EV_ERR);
    EXPECT_EQ(LineErrorEvents(CE_RXOVER | CE_BREAK), EV_ERR | EV_BREAK);
    EXPECT_EQ(LineErrorEvents(0), 0u);
}

} // namespace
