// The serial device's own input queue, in front of the kernel's small tty buffer, on real
// pseudo-terminals: the thread waiting on the port moves arriving bytes into it, readers
// take them from there first. Every byte must come out once and in order, whichever
// queue it waited in, and every arrival must be announced to a wait.
#include "nrcomm.h"
#include "platform/nrerror.h"
#include "platform/nrposixport.h"
#include "ptypair.h"
#include "testenv.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

using namespace std::chrono_literals;

namespace {

// Lines numbered one after the other, so that a lost, doubled or swapped piece shows.
QByteArray NumberedLines(int from, int count) {
    QByteArray out;
    for (int i = from; i < from + count; ++i)
        out += "$GPRMC," + QByteArray::number(i) + ",A,4807.038,N,01131.000,E*6A\r\n";
    return out;
}

// Whole lines, at least `bytes` of them.
QByteArray LinesOfAtLeast(qsizetype bytes) {
    QByteArray out;
    for (int i = 0; out.size() < bytes; ++i)
        out += NumberedLines(i, 1);
    return out;
}

// More than the device's own queue holds, less than it and the kernel's tty buffer hold
// together: a writer gets all of it in without a reader.
constexpr qsizetype kBeyondTheQueue = 66 * 1024;

std::uint32_t Queued(THandle h) {
    TComStat stat;
    return ClearCommError(h, nullptr, &stat) ? stat.cbInQue : 0;
}

// Waits on the port over and over, as a port's event thread does, until stopped.
class TWaiter {
public:
    explicit TWaiter(THandle h) : fHandle(h), fThread([this] { Run(); }) {}
    ~TWaiter() { Stop(); }

    void Stop() {
        if (!fThread.joinable()) return;
        fStop = true;
        fWakeUp.Set();
        fThread.join();
    }
    int Events() const { return fEvents.load(); }

private:
    void Run() {
        while (!fStop) {
            std::uint32_t mask = 0;
            const TnrWaitResult result = WaitCommEvent(fHandle, mask, &fWakeUp);
            if (result == TnrWaitResult::wrEvent && mask != 0) ++fEvents;
            if (result == TnrWaitResult::wrFailed || result == TnrWaitResult::wrInvalidHandle) return;
        }
    }

    THandle fHandle;
    TnrEvent fWakeUp;
    std::atomic<bool> fStop{false};
    std::atomic<int> fEvents{0};
    std::thread fThread;
};

class ReadAheadDevice : public testing::Test {
protected:
    void SetUp() override {
        TTestEnvironment::WritePortMap({QStringLiteral("COM201 = ") + fPty.SlavePath()});
        fHandle = OpenPortByName(QStringLiteral("COM201"));
        ASSERT_NE(fHandle, INVALID_HANDLE_VALUE) << SysErrorMessage(GetLastError()).toStdString();
        ASSERT_TRUE(SetCommMask(fHandle, EV_RXCHAR));
    }
    void TearDown() override { CloseHandle(fHandle); }

    QByteArray Read(std::uint32_t n) {
        QByteArray bytes(static_cast<qsizetype>(n), '\0');
        std::uint32_t got = 0;
        EXPECT_TRUE(ReadFile(fHandle, bytes.data(), n, got)) << SysErrorMessage(GetLastError()).toStdString();
        bytes.truncate(got);
        return bytes;
    }

    TPtyPair fPty;
    THandle fHandle = INVALID_HANDLE_VALUE;
};

} // namespace

TEST_F(ReadAheadDevice, AWriterIsNotHeldBackWhileNobodyReadsYet) {
    // The kernel's tty buffer alone holds a few KiB: a line that nobody reads for a moment
    // (the reader busy drawing) would stop the sender there.
    TWaiter waiter(fHandle);
    const QByteArray sent = LinesOfAtLeast(40 * 1024);
    auto writer = std::async(std::launch::async, [&] { fPty.Write(sent); });
    ASSERT_EQ(writer.wait_for(5s), std::future_status::ready);
    ASSERT_TRUE(WaitUntil([&] { return Queued(fHandle) == std::uint32_t(sent.size()); }));
    // The wait returns its report just after the bytes are queued.
    EXPECT_TRUE(WaitUntil([&] { return waiter.Events() >= 1; }));
    EXPECT_EQ(Read(static_cast<std::uint32_t>(sent.size())), sent);
    EXPECT_EQ(Queued(fHandle), 0u);
}

TEST_F(ReadAheadDevice, BytesBeyondTheQueueWaitInTheKernelAndFollowInOrder) {
    TWaiter waiter(fHandle);
    const QByteArray sent = LinesOfAtLeast(320 * 1024); // far more than both queues hold
    auto writer = std::async(std::launch::async, [&] { fPty.Write(sent); });
    QByteArray received;
    // Reads of every size, the queue full or not, racing with the waiter's read-ahead.
    for (std::uint32_t piece = 1; received.size() < sent.size(); piece = piece % 9000 + 997) {
        const std::uint32_t waiting = Queued(fHandle);
        if (waiting == 0) {
            std::this_thread::sleep_for(1ms);
            continue;
        }
        received += Read(std::min(waiting, piece));
        ASSERT_EQ(received, sent.left(received.size()));
    }
    writer.get();
    EXPECT_EQ(received, sent);
}

TEST_F(ReadAheadDevice, AReceivePurgeEmptiesBothQueues) {
    TWaiter waiter(fHandle);
    const QByteArray sent = LinesOfAtLeast(kBeyondTheQueue);
    auto writer = std::async(std::launch::async, [&] { fPty.Write(sent); });
    ASSERT_EQ(writer.wait_for(5s), std::future_status::ready);
    ASSERT_TRUE(WaitUntil([&] { return Queued(fHandle) == std::uint32_t(sent.size()); }));
    ASSERT_TRUE(PurgeComm(fHandle, PURGE_RXCLEAR));
    EXPECT_EQ(Queued(fHandle), 0u);
    fPty.Write("new\r\n");
    ASSERT_TRUE(WaitUntil([&] { return Queued(fHandle) == 5u; }));
    EXPECT_EQ(Read(5), QByteArray("new\r\n"));
}

TEST_F(ReadAheadDevice, BytesTakenWhileNobodyWaitedAreAnnouncedToTheNextWait) {
    // The queue full, the kernel holding the rest: a wait that later takes the kernel's
    // bytes into the queue must also report them. (The report the kernel gave for them is
    // dropped once their bytes are read.)
    const QByteArray first = LinesOfAtLeast(kBeyondTheQueue);
    {
        TWaiter waiter(fHandle);
        auto writer = std::async(std::launch::async, [&] { fPty.Write(first); });
        ASSERT_EQ(writer.wait_for(5s), std::future_status::ready);
        ASSERT_TRUE(WaitUntil([&] { return Queued(fHandle) == std::uint32_t(first.size()); }));
    }
    ASSERT_EQ(Read(static_cast<std::uint32_t>(first.size())), first);
    fPty.Write("$GPGGA,late\r\n");
    auto wait = std::async(std::launch::async, [&] {
        std::uint32_t mask = 0;
        return std::make_pair(WaitCommEvent(fHandle, mask, nullptr), mask);
    });
    ASSERT_EQ(wait.wait_for(3s), std::future_status::ready) << "the late bytes were never announced";
    const auto [result, mask] = wait.get();
    EXPECT_EQ(result, TnrWaitResult::wrEvent);
    EXPECT_EQ(mask, std::uint32_t(EV_RXCHAR));
    EXPECT_EQ(Read(13), QByteArray("$GPGGA,late\r\n"));
}

TEST_F(ReadAheadDevice, AReaderBlockedOnThePortGetsTheBytesTheWaiterTook) {
    // The waiter asks for breaks only: taking bytes into the queue is no event for it, but
    // the reader polling the port must still be woken for them.
    ASSERT_TRUE(SetCommMask(fHandle, EV_BREAK));
    TWaiter waiter(fHandle);
    auto reader = std::async(std::launch::async, [&] { return Read(5); });
    ASSERT_NE(reader.wait_for(100ms), std::future_status::ready);
    fPty.Write("hello");
    ASSERT_EQ(reader.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(reader.get(), QByteArray("hello"));
}

TEST_F(ReadAheadDevice, WhatArrivedBeforeAHangUpIsStillCountedAndRead) {
    // Once the other end hangs up, the kernel answers every query of the tty with EIO; the
    // bytes already in the device's queue are still the reader's.
    {
        TWaiter waiter(fHandle);
        fPty.Write("$GPGGA,1\r");
        ASSERT_TRUE(WaitUntil([&] { return waiter.Events() >= 1; }));
        fPty.CloseMaster();
    }
    TComStat stat;
    ASSERT_TRUE(ClearCommError(fHandle, nullptr, &stat)) << SysErrorMessage(GetLastError()).toStdString();
    EXPECT_EQ(stat.cbInQue, 9u);
    EXPECT_EQ(Read(9), QByteArray("$GPGGA,1\r"));
    char c = 0;
    std::uint32_t got = 0;
    EXPECT_FALSE(ReadFile(fHandle, &c, 1, got));
    EXPECT_EQ(GetLastError(), std::uint32_t(EIO));
}

TEST(ReadAheadComponent, AFloodArrivesWholeAndInOrder) {
    // The component's event processing with the waiter taking bytes ahead, round after
    // round: a byte stranded in the queue without a report stops a round short.
    TPtyPair pty;
    TTestEnvironment::WritePortMap({QStringLiteral("COM201 = ") + pty.SlavePath()});
    TnrComm com;
    QByteArray received;
    com.OnAfterReceive = [&](QObject*, const std::uint8_t* buffer, std::uint32_t n) {
        received.append(reinterpret_cast<const char*>(buffer), n);
    };
    com.SetComPortNo(201);
    com.SetActive(true);
    ASSERT_TRUE(com.Active());
    for (int round = 0; round < 10; ++round) {
        received.clear();
        const QByteArray sent = NumberedLines(round * 100000, 40000);
        std::thread writer([&] { pty.Write(sent); });
        const bool all = WaitUntil([&] { return received.size() >= sent.size(); }, 30s);
        writer.join();
        ASSERT_TRUE(all) << "round " << round << ": " << received.size() << " of " << sent.size()
                         << " bytes, " << Queued(com.Handle()) << " left in the queue";
        ASSERT_TRUE(received == sent) << "round " << round;
    }
}
