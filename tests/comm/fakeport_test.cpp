// The fake serial device: the behaviour the port component's tests rely on when they
// drive modem lines, line errors and failures through it.
#include "platform/nrerror.h"
#include "platform/nrfakeport.h"
#include "platform/nrtimeoutplan.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

using namespace std::chrono_literals;

namespace {

struct TWaitOutcome {
    TnrWaitResult Result;
    std::uint32_t Mask;
    std::uint32_t Error;
};

// Starts a WaitCommEvent on another thread and returns once it is blocked in the device.
std::future<TWaitOutcome> StartWait(THandle h, TnrFakeSerialDevice& fake, TnrEvent* wakeUp = nullptr) {
    const int before = fake.WaitCount();
    auto f = std::async(std::launch::async, [h, wakeUp] {
        std::uint32_t mask = 0xDEAD;
        const TnrWaitResult r = WaitCommEvent(h, mask, wakeUp);
        return TWaitOutcome{r, mask, GetLastError()};
    });
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!(fake.WaitCount() > before && fake.Waiting()) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    return f;
}

class FakePort : public ::testing::Test {
protected:
    void SetUp() override {
        fFake = std::make_shared<TnrFakeSerialDevice>(QStringLiteral("COM7"));
        fHandle = RegisterHandle(fFake);
    }
    void TearDown() override { CloseHandle(fHandle); }

    std::shared_ptr<TnrFakeSerialDevice> fFake;
    THandle fHandle = INVALID_HANDLE_VALUE;
};

TEST_F(FakePort, EventsOutsideTheMaskAreNotReported) {
    ASSERT_TRUE(SetCommMask(fHandle, EV_CTS));
    fFake->InjectReceived("abc"); // EV_RXCHAR is not asked for: dropped
    auto wait = StartWait(fHandle, *fFake);
    EXPECT_EQ(wait.wait_for(50ms), std::future_status::timeout);
    fFake->SetModemLines(MS_CTS_ON);
    ASSERT_EQ(wait.wait_for(5s), std::future_status::ready);
    const TWaitOutcome out = wait.get();
    EXPECT_EQ(out.Result, TnrWaitResult::wrEvent);
    EXPECT_EQ(out.Mask, EV_CTS);
}

TEST_F(FakePort, EventsRaisedBeforeTheWaitAreKeptUntilAWaitReturnsThem) {
    ASSERT_TRUE(SetCommMask(fHandle, EV_RXCHAR | EV_RXFLAG | EV_DSR));
    TDCB dcb;
    ASSERT_TRUE(GetCommState(fHandle, dcb));
    dcb.EvtChar = '\r';
    ASSERT_TRUE(SetCommState(fHandle, dcb));
    fFake->InjectReceived("$GPGGA\r");
    fFake->SetModemLines(MS_DSR_ON);
    std::uint32_t mask = 0;
    ASSERT_EQ(WaitCommEvent(fHandle, mask, nullptr), TnrWaitResult::wrEvent);
    EXPECT_EQ(mask, EV_RXCHAR | EV_RXFLAG | EV_DSR);
    // Returned once: the next wait blocks until something new happens.
    auto wait = StartWait(fHandle, *fFake);
    EXPECT_EQ(wait.wait_for(50ms), std::future_status::timeout);
    fFake->InjectReceived("x");
    EXPECT_EQ(wait.get().Mask, EV_RXCHAR);
}

TEST_F(FakePort, NewMaskEndsPendingWaitEmptyAndKeepsEventsItStillHolds) {
    ASSERT_TRUE(SetCommMask(fHandle, EV_CTS));
    auto wait = StartWait(fHandle, *fFake);
    ASSERT_TRUE(SetCommMask(fHandle, EV_RXCHAR | EV_CTS));
    const TWaitOutcome out = wait.get();
    EXPECT_EQ(out.Result, TnrWaitResult::wrEvent);
    EXPECT_EQ(out.Mask, 0u);

    // An event kept across a mask change that still includes it is not lost; one the new
    // mask leaves out is dropped.
    fFake->InjectReceived("a");
    fFake->SetModemLines(MS_CTS_ON);
    ASSERT_TRUE(SetCommMask(fHandle, EV_RXCHAR));
    std::uint32_t mask = 0;
    ASSERT_EQ(WaitCommEvent(fHandle, mask, nullptr), TnrWaitResult::wrEvent);
    EXPECT_EQ(mask, EV_RXCHAR);
    EXPECT_EQ(fFake->MaskHistory(), (std::vector<std::uint32_t>{EV_CTS, EV_RXCHAR | EV_CTS, EV_RXCHAR}));
}

TEST_F(FakePort, WakeUpEventSetOrPulsedOrATimeoutEndsTheWait) {
    ASSERT_TRUE(SetCommMask(fHandle, EV_RXCHAR));
    TnrEvent wakeUp;
    auto wait = StartWait(fHandle, *fFake, &wakeUp);
    wakeUp.Pulse();
    EXPECT_EQ(wait.get().Result, TnrWaitResult::wrWoken);

    // A pulse with nobody waiting is lost; a set stays until a wait consumes it.
    wakeUp.Pulse();
    auto next = StartWait(fHandle, *fFake, &wakeUp);
    EXPECT_EQ(next.wait_for(50ms), std::future_status::timeout);
    wakeUp.Set();
    EXPECT_EQ(next.get().Result, TnrWaitResult::wrWoken);
    EXPECT_FALSE(wakeUp.TryConsume());

    // A timeout ends a wait that saw nothing; an event that came first still counts.
    std::uint32_t mask = 0;
    EXPECT_EQ(WaitCommEvent(fHandle, mask, &wakeUp, 20), TnrWaitResult::wrTimeout);
    fFake->InjectReceived("a");
    EXPECT_EQ(WaitCommEvent(fHandle, mask, &wakeUp, 20), TnrWaitResult::wrEvent);
    EXPECT_EQ(mask, EV_RXCHAR);
}

TEST_F(FakePort, CloseEndsPendingWaitAndLaterCallsFail) {
    ASSERT_TRUE(SetCommMask(fHandle, EV_RXCHAR));
    auto wait = StartWait(fHandle, *fFake);
    ASSERT_TRUE(CloseHandle(fHandle));
    EXPECT_EQ(wait.get().Result, TnrWaitResult::wrInvalidHandle);
    EXPECT_TRUE(fFake->Closed());
    std::uint32_t mask = 0;
    EXPECT_EQ(WaitCommEvent(fHandle, mask, nullptr), TnrWaitResult::wrInvalidHandle);
    EXPECT_EQ(fFake->WaitCommEvent(mask, nullptr), TnrWaitResult::wrInvalidHandle);
    EXPECT_FALSE(SetCommMask(fHandle, EV_RXCHAR));
    EXPECT_EQ(GetLastError(), std::uint32_t(EBADF));
    EXPECT_FALSE(fFake->SetCommMask(EV_RXCHAR));
    EXPECT_EQ(GetLastError(), std::uint32_t(EBADF));
}

TEST_F(FakePort, FailedWaitCarriesTheErrnoOnce) {
    ASSERT_TRUE(SetCommMask(fHandle, EV_RXCHAR));
    auto wait = StartWait(fHandle, *fFake);
    fFake->FailNextWait(EIO);
    const TWaitOutcome out = wait.get();
    EXPECT_EQ(out.Result, TnrWaitResult::wrFailed);
    EXPECT_EQ(out.Error, std::uint32_t(EIO));
    fFake->InjectReceived("a");
    std::uint32_t mask = 0;
    EXPECT_EQ(WaitCommEvent(fHandle, mask, nullptr), TnrWaitResult::wrEvent);
    EXPECT_EQ(mask, EV_RXCHAR);
}

TEST_F(FakePort, LineErrorsAreReturnedOnceWithTheirEvents) {
    ASSERT_TRUE(SetCommMask(fHandle, EV_RXCHAR | EV_ERR | EV_BREAK));
    fFake->InjectReceived("ab");
    fFake->InjectLineErrors(CE_FRAME | CE_BREAK);
    std::uint32_t mask = 0;
    ASSERT_EQ(WaitCommEvent(fHandle, mask, nullptr), TnrWaitResult::wrEvent);
    EXPECT_EQ(mask, EV_RXCHAR | EV_ERR | EV_BREAK);
    std::uint32_t errors = 0;
    TComStat stat;
    ASSERT_TRUE(ClearCommError(fHandle, &errors, &stat));
    EXPECT_EQ(errors, CE_FRAME | CE_BREAK);
    EXPECT_EQ(stat.cbInQue, 2u);
    ASSERT_TRUE(ClearCommError(fHandle, &errors, &stat));
    EXPECT_EQ(errors, 0u);
    // The status query alone may pass no error pointer.
    EXPECT_TRUE(ClearCommError(fHandle, nullptr, nullptr));
}

TEST_F(FakePort, LoopbackWiresRtsToCtsAndDtrToDsr) {
    fFake->SetLoopback(true);
    ASSERT_TRUE(SetCommMask(fHandle, EV_CTS | EV_DSR));
    std::uint32_t status = 0;
    ASSERT_TRUE(GetCommModemStatus(fHandle, status));
    EXPECT_EQ(status, MS_CTS_ON | MS_DSR_ON); // the default state raises RTS and DTR

    ASSERT_TRUE(EscapeCommFunction(fHandle, CLRRTS));
    ASSERT_TRUE(GetCommModemStatus(fHandle, status));
    EXPECT_EQ(status, MS_DSR_ON);
    std::uint32_t mask = 0;
    ASSERT_EQ(WaitCommEvent(fHandle, mask, nullptr), TnrWaitResult::wrEvent);
    EXPECT_EQ(mask, EV_CTS);

    ASSERT_TRUE(EscapeCommFunction(fHandle, CLRDTR));
    ASSERT_TRUE(EscapeCommFunction(fHandle, SETRTS));
    ASSERT_EQ(WaitCommEvent(fHandle, mask, nullptr), TnrWaitResult::wrEvent);
    EXPECT_EQ(mask, EV_CTS | EV_DSR);
    ASSERT_TRUE(GetCommModemStatus(fHandle, status));
    EXPECT_EQ(status, MS_CTS_ON);
    EXPECT_EQ(fFake->Escapes(), (std::vector<std::uint32_t>{CLRRTS, CLRDTR, SETRTS}));
    EXPECT_FALSE(EscapeCommFunction(fHandle, 77));
    EXPECT_EQ(GetLastError(), std::uint32_t(EINVAL));
}

TEST_F(FakePort, RecordsWhatTheComponentDid) {
    TDCB dcb;
    ASSERT_TRUE(GetCommState(fHandle, dcb));
    EXPECT_EQ(dcb.BaudRate, 9600u);
    dcb.BaudRate = 4800;
    dcb.Flags = DCB_fBinary | DCB_fDtrControlEnable | DCB_fRtsControlToggle;
    ASSERT_TRUE(SetCommState(fHandle, dcb));
    EXPECT_FALSE(fFake->Rts()); // toggle mode: RTS rests low
    EXPECT_TRUE(fFake->Dtr());
    dcb.ByteSize = 9;
    EXPECT_FALSE(SetCommState(fHandle, dcb));
    ASSERT_EQ(fFake->AppliedStates().size(), 1u);
    EXPECT_EQ(fFake->AppliedStates()[0].BaudRate, 4800u);

    ASSERT_TRUE(SetupComm(fHandle, 8192, 1024));
    EXPECT_EQ(fFake->QueueSizes(), std::make_pair(8192u, 1024u));
    TCommTimeouts t;
    t.ReadIntervalTimeout = 5;
    t.WriteTotalTimeoutConstant = 250;
    ASSERT_TRUE(SetCommTimeouts(fHandle, t));
    EXPECT_EQ(fFake->Timeouts().WriteTotalTimeoutConstant, 250u);

    ASSERT_TRUE(SetCommMask(fHandle, EV_TXEMPTY));
    std::uint32_t written = 0;
    ASSERT_TRUE(WriteFile(fHandle, "hello", 5, written));
    EXPECT_EQ(written, 5u);
    ASSERT_TRUE(TransmitCommChar(fHandle, '!'));
    EXPECT_EQ(fFake->Written(), QByteArray("hello"));
    EXPECT_EQ(fFake->SentAhead(), QByteArray("!"));
    std::uint32_t mask = 0;
    ASSERT_EQ(WaitCommEvent(fHandle, mask, nullptr), TnrWaitResult::wrEvent);
    EXPECT_EQ(mask, EV_TXEMPTY);

    // Output held in the driver: no EV_TXEMPTY until it drains; a purge empties it.
    fFake->SetOutQueue(3);
    ASSERT_TRUE(WriteFile(fHandle, "ab", 2, written));
    TComStat stat;
    ASSERT_TRUE(ClearCommError(fHandle, nullptr, &stat));
    EXPECT_EQ(stat.cbOutQue, 5u);
    ASSERT_TRUE(PurgeComm(fHandle, PURGE_TXABORT | PURGE_TXCLEAR));
    ASSERT_TRUE(ClearCommError(fHandle, nullptr, &stat));
    EXPECT_EQ(stat.cbOutQue, 0u);
    EXPECT_EQ(fFake->Purges(), (std::vector<std::uint32_t>{PURGE_TXABORT | PURGE_TXCLEAR}));
    ASSERT_TRUE(FlushFileBuffers(fHandle));
    EXPECT_EQ(fFake->FlushCount(), 1);

    fFake->FailWrites(EIO);
    EXPECT_FALSE(WriteFile(fHandle, "x", 1, written));
    EXPECT_EQ(GetLastError(), std::uint32_t(EIO));
    EXPECT_EQ(written, 0u);
    fFake->SetSupportsRS485(true);
    EXPECT_TRUE(SupportsRS485(fHandle));
}

TEST_F(FakePort, CtsHoldFollowsHardwareFlowControl) {
    TDCB dcb;
    ASSERT_TRUE(GetCommState(fHandle, dcb));
    dcb.Flags |= DCB_fOutxCtsFlow;
    ASSERT_TRUE(SetCommState(fHandle, dcb));
    TComStat stat;
    ASSERT_TRUE(ClearCommError(fHandle, nullptr, &stat));
    EXPECT_EQ(stat.Flags & 0x01u, 0x01u);
    fFake->SetModemLines(MS_CTS_ON);
    ASSERT_TRUE(ClearCommError(fHandle, nullptr, &stat));
    EXPECT_EQ(stat.Flags & 0x01u, 0u);
    ASSERT_TRUE(EscapeCommFunction(fHandle, SETXOFF));
    ASSERT_TRUE(ClearCommError(fHandle, nullptr, &stat));
    EXPECT_EQ(stat.Flags, 0x08u);
}

TEST_F(FakePort, ReadsFollowTheTimeouts) {
    char buffer[16] = {};
    std::uint32_t read = 0;
    // All zero: the read waits for every byte asked for.
    auto pending = std::async(std::launch::async, [&] { return ReadFile(fHandle, buffer, 4, read); });
    EXPECT_EQ(pending.wait_for(50ms), std::future_status::timeout);
    fFake->InjectReceived("ab");
    EXPECT_EQ(pending.wait_for(50ms), std::future_status::timeout);
    fFake->InjectReceived("cdef");
    ASSERT_TRUE(pending.get());
    EXPECT_EQ(read, 4u);
    EXPECT_EQ(QByteArray(buffer, 4), QByteArray("abcd"));
    EXPECT_EQ(fFake->InQueue(), 2u);

    // Return at once with what is there.
    TCommTimeouts t;
    t.ReadIntervalTimeout = MAXDWORD;
    ASSERT_TRUE(SetCommTimeouts(fHandle, t));
    ASSERT_TRUE(ReadFile(fHandle, buffer, 16, read));
    EXPECT_EQ(read, 2u);
    ASSERT_TRUE(ReadFile(fHandle, buffer, 16, read));
    EXPECT_EQ(read, 0u);

    // A total timeout ends a read that gets nothing.
    t = TCommTimeouts{};
    t.ReadTotalTimeoutConstant = 30;
    ASSERT_TRUE(SetCommTimeouts(fHandle, t));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(ReadFile(fHandle, buffer, 16, read));
    EXPECT_EQ(read, 0u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 25ms);

    // A failing read reports the reason; close cancels a blocked one.
    fFake->FailReads(EIO);
    EXPECT_FALSE(ReadFile(fHandle, buffer, 1, read));
    EXPECT_EQ(GetLastError(), std::uint32_t(EIO));
    fFake->FailReads(0);
    ASSERT_TRUE(SetCommTimeouts(fHandle, TCommTimeouts{}));
    auto blocked = std::async(std::launch::async, [&] {
        const bool ok = ReadFile(fHandle, buffer, 1, read);
        return std::make_pair(ok, GetLastError());
    });
    EXPECT_EQ(blocked.wait_for(30ms), std::future_status::timeout);
    CloseHandle(fHandle);
    const auto [ok, error] = blocked.get();
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, std::uint32_t(EBADF));
}

TEST(TimeoutPlan, ClassicRules) {
    TCommTimeouts t;
    TnrReadPlan p = PlanRead(t, 10);
    EXPECT_FALSE(p.Immediate);
    EXPECT_FALSE(p.Total.has_value());
    EXPECT_FALSE(p.Interval.has_value());

    t.ReadIntervalTimeout = MAXDWORD;
    EXPECT_TRUE(PlanRead(t, 10).Immediate);

    t.ReadTotalTimeoutMultiplier = MAXDWORD;
    t.ReadTotalTimeoutConstant = 200;
    p = PlanRead(t, 10);
    EXPECT_TRUE(p.ReturnOnFirstByte);
    EXPECT_EQ(p.Total, std::chrono::milliseconds(200));

    t = TCommTimeouts{};
    t.ReadIntervalTimeout = 20;
    t.ReadTotalTimeoutMultiplier = 3;
    t.ReadTotalTimeoutConstant = 100;
    p = PlanRead(t, 10);
    EXPECT_EQ(p.Total, std::chrono::milliseconds(130));
    EXPECT_EQ(p.Interval, std::chrono::milliseconds(20));

    // A big multiplier times a big count must not wrap around to a short timeout.
    t.WriteTotalTimeoutMultiplier = 0x80000000u;
    t.WriteTotalTimeoutConstant = 0;
    EXPECT_EQ(PlanWrite(t, 4), std::chrono::milliseconds(0x200000000ll));
    EXPECT_FALSE(PlanWrite(TCommTimeouts{}, 4).has_value());
}

} // namespace
