// The serial port component on real pseudo-terminals: the receive path end to end, line
// settings as the kernel holds them, unplugging, refused opens, and closing while data
// flows.

#include "commtestutil.h"
#include "nrcomm.h"
#include "nrcommthreads.h"
#include "platform/nrerror.h"
#include "ptylinestate.h"
#include "ptypair.h"
#include "testenv.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// A pseudo-terminal mapped as COM201 (the test's end is the master).
class CommPty : public testing::Test {
protected:
    void SetUp() override {
        MapOnlyTestPorts();
        Descriptors = OpenDescriptorCount();
        Pty = std::make_unique<TPtyPair>();
        TTestEnvironment::WritePortMap({QStringLiteral("COM201 = ") + Pty->SlavePath()});
    }
    void TearDown() override { EXPECT_TRUE(AllPortThreadsEnded()); }

    static QByteArray Pattern(int size, int seed = 1) {
        QByteArray bytes(size, '\0');
        std::uint32_t x = static_cast<std::uint32_t>(seed) * 2654435761u;
        for (int i = 0; i < size; ++i) {
            x = x * 1103515245u + 12345u;
            bytes[i] = static_cast<char>(x >> 24);
        }
        return bytes;
    }

    int Descriptors = 0;
    std::unique_ptr<TPtyPair> Pty;
};

// What OnAfterReceive saw; filled on whichever thread processes events.
struct TReceived {
    mutable std::mutex Lock;
    QByteArray Bytes;
    std::uint32_t Largest = 0;
    int Calls = 0;
    int EmptyCalls = 0;
    int OffMainThread = 0;

    void Attach(TnrComm& com) {
        com.OnAfterReceive = [this](QObject*, const std::uint8_t* d, std::uint32_t n) { Add(d, n); };
    }
    void Add(const std::uint8_t* d, std::uint32_t n) {
        std::lock_guard g(Lock);
        Bytes.append(reinterpret_cast<const char*>(d), n);
        Largest = std::max(Largest, n);
        ++Calls;
        if (n == 0) ++EmptyCalls;
        if (!IsMainThread()) ++OffMainThread;
    }
    qsizetype Size() const {
        std::lock_guard g(Lock);
        return Bytes.size();
    }
};

// Writes to the master side from its own thread until told to stop or the bytes run out
// (or, with kForever, over and over until told to stop).
class TFeeder {
public:
    enum TEnd { kOnce, kForever, kThenUnplug };

    TFeeder(int masterFd, QByteArray bytes, int piece = 4096, TEnd end = kOnce)
        : fFd(masterFd), fBytes(std::move(bytes)) {
        fThread = std::thread([this, piece, end] { Run(piece, end); });
    }
    ~TFeeder() { Stop(); }
    void Stop() {
        fStop = true;
        if (fThread.joinable()) fThread.join();
    }
    qsizetype Written() const { return fWritten.load(); }

private:
    void Run(int piece, TEnd end) {
        const int flags = fcntl(fFd, F_GETFL);
        fcntl(fFd, F_SETFL, flags | O_NONBLOCK);
        qsizetype at = 0;
        while (!fStop && at < fBytes.size()) {
            const auto n = std::min<qsizetype>(piece, fBytes.size() - at);
            const ssize_t w = ::write(fFd, fBytes.constData() + at, static_cast<size_t>(n));
            if (w > 0) {
                at += w;
                fWritten += w;
                if (end == kForever && at == fBytes.size()) at = 0;
            } else if (w < 0 && (errno == EAGAIN || errno == EINTR)) {
                pollfd p{fFd, POLLOUT, 0};
                ::poll(&p, 1, 10);
            } else {
                break;
            }
        }
        if (end == kThenUnplug) ::close(fFd);
        fcntl(fFd, F_SETFL, flags);
    }

    int fFd;
    QByteArray fBytes;
    std::thread fThread;
    std::atomic<bool> fStop{false};
    std::atomic<qsizetype> fWritten{0};
};

} // namespace

TEST_F(CommPty, EveryByteArrivesCompleteAndInOrderOnTheUserInterfaceThread) {
    TnrComm com;
    TReceived got;
    got.Attach(com);
    com.SetComPortNo(201);
    com.SetActive(true);
    ASSERT_TRUE(com.Active());

    const QByteArray data = Pattern(3 * 1024 * 1024);
    TFeeder feeder(Pty->MasterFd(), data, 16384);
    ASSERT_TRUE(WaitUntil([&] { return got.Size() >= data.size(); }, std::chrono::seconds(30)));
    ProcessEventsFor(std::chrono::milliseconds(20));
    std::lock_guard g(got.Lock);
    EXPECT_EQ(got.Bytes.size(), data.size());
    EXPECT_TRUE(got.Bytes == data);
    EXPECT_LE(got.Largest, 8192u);
    EXPECT_EQ(got.EmptyCalls, 0);
    EXPECT_EQ(got.OffMainThread, 0);
    EXPECT_LE(com.TotalReceived(), static_cast<std::uint32_t>(data.size()));
    EXPECT_GT(com.TotalReceived(), 0u);
}

TEST_F(CommPty, LineSettingsReachTheDevice) {
    TnrComm com;
    com.SetComPortNo(201);
    com.SetBaudRate(4800);
    com.SetStopBits(sbTwo);
    com.SetParity(pOdd);
    com.SetStreamProtocol(spNone);
    com.SetActive(true);
    ASSERT_TRUE(com.Active());

    TPtyLineState s;
    ASSERT_TRUE(ReadPtyLineState(Pty->MasterFd(), s));
    EXPECT_EQ(s.BaudRate, 4800u);
    EXPECT_TRUE(s.TwoStopBits);
    EXPECT_TRUE(s.ParityOdd);
    EXPECT_FALSE(s.ParityStick);
    EXPECT_FALSE(s.RtsCtsFlow);
    EXPECT_FALSE(s.XonXoffIn);
    EXPECT_TRUE(s.Raw);

    // Changed on the open port: the kernel has the new settings at once.
    com.SetBaudRate(38400);
    com.SetStopBits(sbOne);
    com.SetParity(pMark);
    com.SetStreamProtocol(spHardware);
    ASSERT_TRUE(ReadPtyLineState(Pty->MasterFd(), s));
    EXPECT_EQ(s.BaudRate, 38400u);
    EXPECT_FALSE(s.TwoStopBits);
    EXPECT_TRUE(s.ParityOdd && s.ParityStick); // mark
    EXPECT_TRUE(s.RtsCtsFlow);

    com.SetBaudRate(31250); // not a standard rate
    com.SetStreamProtocol(spXonXoff);
    ASSERT_TRUE(ReadPtyLineState(Pty->MasterFd(), s));
    EXPECT_EQ(s.BaudRate, 31250u);
    EXPECT_FALSE(s.RtsCtsFlow);
    EXPECT_TRUE(s.XonXoffIn && s.XonXoffOut);
}

TEST_F(CommPty, ChangingTraceStatesWhileDataFlowsLosesNothing) {
    TnrComm com;
    TReceived got;
    got.Attach(com);
    com.SetComPortNo(201);
    com.SetActive(true);
    const QByteArray pattern = Pattern(64 * 1024 + 17, 2);
    TFeeder feeder(Pty->MasterFd(), pattern, 97, TFeeder::kForever);
    const TTraceStates sets[] = {
        {}, {tsRxChar, tsCTS}, {tsBreak, tsErr, tsRxFlag}, {tsRxChar}, {tsTxEmpty, tsRing}};
    // Each change ends the pending wait with an empty mask; bytes keep arriving meanwhile.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int changes = 0;
    while ((changes < 300 || feeder.Written() < 1024 * 1024) && std::chrono::steady_clock::now() < deadline) {
        com.SetTraceStates(sets[changes++ % 5]);
        QCoreApplication::processEvents();
        QThread::usleep(50);
    }
    feeder.Stop();
    EXPECT_GE(changes, 300);
    const qsizetype written = feeder.Written();
    ASSERT_TRUE(WaitUntil([&] { return got.Size() >= written; }, std::chrono::seconds(30)));
    QByteArray expected;
    while (expected.size() < written)
        expected.append(pattern);
    expected.truncate(written);
    std::lock_guard g(got.Lock);
    EXPECT_GE(written, 1024 * 1024);
    EXPECT_TRUE(got.Bytes == expected);
}

TEST_F(CommPty, UnpluggedWhileDataFlowsTheComponentClosesOnTheUserInterfaceThread) {
    TMessageCapture boxes;
    TnrComm com;
    TReceived got;
    got.Attach(com);
    std::vector<bool> closes;
    std::vector<int> codes;
    int fatal = 0;
    com.OnClose = [&](QObject*) { closes.push_back(IsMainThread()); };
    com.OnFatalError = [&](QObject*, std::uint32_t, std::uint32_t, const QString&, bool&) { ++fatal; };
    com.SetComPortNo(201);
    com.NotifyAdd(TnrNotifyEvent([&](QObject*, int code) { codes.push_back(code); }));
    com.SetActive(true);
    ASSERT_TRUE(com.Active());

    const QByteArray data = Pattern(1024 * 1024, 3);
    const int master = dup(Pty->MasterFd());
    Pty->CloseMaster(); // the feeder's copy is the last: closing it unplugs the port
    {
        TFeeder feeder(master, data, 1000, TFeeder::kThenUnplug);
        ASSERT_TRUE(WaitUntil([&] { return !com.Active(); }, std::chrono::seconds(30)));
    }
    EXPECT_EQ(closes, std::vector<bool>({true}));
    EXPECT_EQ(codes, std::vector<int>({2, 1}));
    EXPECT_EQ(fatal, 0);
    EXPECT_EQ(boxes.Count(), 0);
    {
        // Whatever arrived is a clean prefix of what was sent.
        std::lock_guard g(got.Lock);
        EXPECT_TRUE(data.startsWith(got.Bytes));
    }
    EXPECT_TRUE(AllPortThreadsEnded());
    // Back to the count before the pseudo-terminal existed: its master is closed too.
    EXPECT_TRUE(WaitUntil([&] { return OpenDescriptorCount() == Descriptors; }))
        << OpenDescriptorCount() << " open, " << Descriptors << " before";

    // Plugged in again: the same component opens and receives.
    TPtyPair again;
    TTestEnvironment::WritePortMap({QStringLiteral("COM201 = ") + again.SlavePath()});
    {
        std::lock_guard g(got.Lock);
        got.Bytes.clear();
    }
    com.SetActive(true);
    ASSERT_TRUE(com.Active());
    again.Write("$GPGGA,1*00\r\n");
    EXPECT_TRUE(WaitUntil([&] { return got.Size() == 13; }));
    com.SetActive(false);
}

TEST_F(CommPty, ASecondOpenOfTheSameDeviceIsRefused) {
    TnrComm first, second;
    first.SetComPortNo(201);
    second.SetComPortNo(201);
    first.SetActive(true);
    ASSERT_TRUE(first.Active());
    EXPECT_EQ(CommThreadsRunning(), 2);

    QString message;
    second.OnFatalError = [&](QObject*, std::uint32_t, std::uint32_t, const QString& msg, bool& raise) {
        message = msg;
        raise = false;
    };
    second.SetActive(true);
    EXPECT_FALSE(second.Active());
    EXPECT_EQ(message, QStringLiteral("Device \"COM201\" Open Error !!!\r") + SysErrorMessage(EBUSY));
    EXPECT_EQ(CommThreadsRunning(), 2); // only the first one's

    // Released by the first, the device opens for the second.
    first.SetActive(false);
    second.SetActive(true);
    EXPECT_TRUE(second.Active());
    second.SetActive(false);
}

TEST_F(CommPty, PortsThatCannotBeOpenedFailWithTheSystemsReasonAndLeaveNothingBehind) {
    QTemporaryDir dir;
    const QString plainFile = dir.filePath(QStringLiteral("not-a-tty"));
    {
        QFile f(plainFile);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    const QString locked = dir.filePath(QStringLiteral("locked"));
    {
        QFile f(locked);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.setPermissions(QFileDevice::Permissions());
    }
    TTestEnvironment::WritePortMap({QStringLiteral("COM202 = /dev/pts/999999"),
                                    QStringLiteral("COM203 = ") + plainFile,
                                    QStringLiteral("COM204 = ") + locked});
    const int before = OpenDescriptorCount();

    struct TCase {
        std::uint16_t Port;
        int Error;
    };
    std::vector<TCase> cases = {{0, ENOENT}, {77, ENOENT}, {202, ENOENT}, {203, ENOTTY}};
    // Root opens files whatever their permissions say.
    if (geteuid() != 0) cases.push_back({204, EACCES});
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Port);
        TnrComm com;
        com.SetComPortNo(c.Port);
        int closes = 0, notifications = 0;
        com.OnClose = [&](QObject*) { ++closes; };
        com.NotifyAdd(TnrNotifyEvent([&](QObject*, int) { ++notifications; }));
        QString raised;
        try {
            com.SetActive(true);
        } catch (const ENrException& e) {
            raised = e.Message();
        }
        EXPECT_EQ(raised,
                  QStringLiteral("Device \"COM%1\" Open Error !!!\r").arg(c.Port) + SysErrorMessage(c.Error));
        EXPECT_FALSE(com.Active());
        EXPECT_EQ(closes, 0);
        EXPECT_EQ(notifications, 0);
        EXPECT_EQ(CommThreadsRunning(), 0);
        EXPECT_EQ(OpenDescriptorCount(), before);
    }
}

TEST_F(CommPty, OpeningAndClosingInALoopWhileDataFloodsIsClean) {
    TnrComm com;
    TReceived got;
    got.Attach(com);
    com.SetComPortNo(201);
    TFeeder feeder(Pty->MasterFd(), Pattern(1024 * 1024, 4), 8192, TFeeder::kForever);
    int opens = 0;
    for (int round = 0; round < 150; ++round) {
        com.SetUseMainThread(round % 3 != 0);
        com.SetActive(true);
        if (com.Active()) ++opens;
        ProcessEventsFor(std::chrono::milliseconds(round % 4));
        com.SetActive(false);
    }
    feeder.Stop();
    EXPECT_EQ(opens, 150);
    EXPECT_GT(got.Size(), 0);
    EXPECT_TRUE(AllPortThreadsEnded());
    EXPECT_EQ(OpenDescriptorCount(), Descriptors + 1); // the feeder's master is still open
}

TEST_F(CommPty, AnEventBeingProcessedOnTheMessageThreadNeverOverlapsAClose) {
    // With UseMainThread false the user-interface thread closes while the message thread
    // delivers: the close waits for the chunk being delivered, and no chunk follows it.
    TFeeder feeder(Pty->MasterFd(), Pattern(1024 * 1024, 5), 8192, TFeeder::kForever);
    for (int round = 0; round < 30; ++round) {
        TnrComm com;
        com.SetUseMainThread(false);
        com.SetComPortNo(201);
        std::atomic<bool> inHandler{false}, closed{false};
        std::atomic<int> overlaps{0}, afterClose{0}, chunks{0};
        com.OnAfterReceive = [&](QObject*, const std::uint8_t* d, std::uint32_t n) {
            inHandler = true;
            if (closed) ++afterClose;
            // Touch the whole chunk: a freed buffer would show under the sanitizers.
            volatile std::uint8_t sum = 0;
            for (std::uint32_t i = 0; i < n; ++i)
                sum = static_cast<std::uint8_t>(sum + d[i]);
            ++chunks;
            QThread::usleep(200);
            inHandler = false;
        };
        com.OnClose = [&](QObject*) {
            if (inHandler) ++overlaps;
            closed = true;
        };
        com.SetActive(true);
        ASSERT_TRUE(com.Active());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (chunks.load() < 1 + round % 5 && std::chrono::steady_clock::now() < deadline)
            QThread::usleep(100);
        com.SetActive(false);
        EXPECT_EQ(overlaps.load(), 0);
        EXPECT_EQ(afterClose.load(), 0);
    }
}

TEST_F(CommPty, AnEventWaitingForTheUserInterfaceThreadIsDroppedWhenTheComponentGoes) {
    auto* com = new TnrComm;
    com->SetComPortNo(201);
    int calls = 0;
    com->OnAfterReceive = [&](QObject*, const std::uint8_t*, std::uint32_t) { ++calls; };
    com->SetActive(true);
    ASSERT_TRUE(com->Active());
    // The event thread hands the event on at once; it waits for this thread's event loop.
    ASSERT_EQ(::write(Pty->MasterFd(), "a", 1), 1);
    QThread::msleep(50);
    EXPECT_EQ(calls, 0);
    ASSERT_TRUE(WaitUntil([&] { return calls == 1; }));
    // Destroyed with an event waiting: the waiting call must not touch it (the sanitizer
    // builds see a use after free).
    ASSERT_EQ(::write(Pty->MasterFd(), "b", 1), 1);
    QThread::msleep(50);
    delete com;
    ProcessEventsFor(std::chrono::milliseconds(50));
    EXPECT_EQ(calls, 1);
}

TEST_F(CommPty, AnEventIntervalDeliversAStreamTogetherAndALoneArrivalAtOnce) {
    TnrComm com;
    TReceived got;
    got.Attach(com);
    com.SetComPortNo(201);
    com.SetEventInterval(5000);
    EXPECT_EQ(com.EventInterval(), 1000u);
    com.SetActive(true);
    ASSERT_TRUE(com.Active());
    // 30 arrivals 10 ms apart: the first goes at once, the rest wait for the interval's
    // end and come in one delivery.
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 30; ++i) {
        ASSERT_EQ(::write(Pty->MasterFd(), "s", 1), 1);
        ProcessEventsFor(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(WaitUntil([&] { return got.Size() == 30; }));
    const int streamCalls = got.Calls;
    if (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(900)) {
        EXPECT_LE(streamCalls, 2);
    }
    // After a quiet interval an arrival is not held.
    ProcessEventsFor(std::chrono::milliseconds(1100));
    ASSERT_EQ(::write(Pty->MasterFd(), "x", 1), 1);
    EXPECT_TRUE(WaitUntil([&] { return got.Size() == 31; }, std::chrono::milliseconds(600)));
    // With an end byte a hold ends at the arrival that brings it, not at the interval's end.
    com.SetEventIntervalEnd('\r');
    EXPECT_EQ(com.EventIntervalEnd(), '\r');
    const int callsBeforeRecord = got.Calls;
    for (const char* piece : {"a", "b", "\r"}) {
        ASSERT_EQ(::write(Pty->MasterFd(), piece, 1), 1);
        ProcessEventsFor(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(WaitUntil([&] { return got.Size() == 34; }, std::chrono::milliseconds(400)));
    EXPECT_EQ(got.Calls - callsBeforeRecord, 1);
    // A hold that gathers a kilobyte or more is a link too fast to hold (held, a flood
    // would be throttled to one driver queue per interval): what follows goes unheld.
    const std::string chunk(64, 'f');
    for (int i = 0; i < 30; ++i) {
        ASSERT_EQ(::write(Pty->MasterFd(), chunk.data(), chunk.size()), 64);
        ProcessEventsFor(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(WaitUntil([&] { return got.Size() == 34 + 30 * 64; }));
    const int callsBeforeFast = got.Calls;
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(::write(Pty->MasterFd(), "g", 1), 1);
        ProcessEventsFor(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(WaitUntil([&] { return got.Size() == 34 + 30 * 64 + 20; }));
    EXPECT_GE(got.Calls - callsBeforeFast, 5);
    com.SetActive(false);
}

TEST_F(CommPty, AHandlerMayCloseOrDestroyItsComponent) {
    TFeeder feeder(Pty->MasterFd(), Pattern(1024 * 1024, 6), 8192, TFeeder::kForever);
    {
        // Closed by its own receive handler: no call after that.
        TnrComm com;
        com.SetComPortNo(201);
        int calls = 0, callsWhenClosed = -1;
        com.OnAfterReceive = [&](QObject* sender, const std::uint8_t*, std::uint32_t) {
            ++calls;
            if (calls == 3) {
                static_cast<TnrComm*>(sender)->SetActive(false);
                callsWhenClosed = calls;
            }
        };
        com.SetActive(true);
        ASSERT_TRUE(WaitUntil([&] { return !com.Active(); }));
        ProcessEventsFor(std::chrono::milliseconds(30));
        EXPECT_EQ(calls, callsWhenClosed);
    }
    EXPECT_TRUE(AllPortThreadsEnded());
    {
        // Destroyed by its own receive handler.
        auto* com = new TnrComm;
        com->SetComPortNo(201);
        bool destroyed = false;
        int closes = 0;
        com->OnClose = [&](QObject*) { ++closes; };
        com->OnAfterReceive = [&](QObject* sender, const std::uint8_t*, std::uint32_t) {
            ASSERT_FALSE(destroyed);
            destroyed = true;
            delete static_cast<TnrComm*>(sender);
        };
        com->SetActive(true);
        ASSERT_TRUE(WaitUntil([&] { return destroyed; }));
        ProcessEventsFor(std::chrono::milliseconds(30));
        EXPECT_EQ(closes, 1);
    }
}

TEST_F(CommPty, ReadsAndWaitsFindTheBytesEventProcessingLeaves) {
    TnrComm com; // no receiver: bytes stay in the queue
    com.SetComPortNo(201);
    com.SetActive(true);
    EXPECT_EQ(com.ReadyForRead(), 0u);
    EXPECT_FALSE(com.WaitForBytes(1, 0));

    Pty->Write("hello, world");
    EXPECT_TRUE(com.WaitForBytes(12, 2000));
    EXPECT_EQ(com.ReadyForRead(), 12u);
    std::uint8_t five[5] = {};
    EXPECT_EQ(com.ReadMax(five, 5), 5);
    EXPECT_EQ(QByteArray(reinterpret_cast<char*>(five), 5), QByteArray("hello"));
    std::uint8_t rest[64] = {};
    EXPECT_EQ(com.ReadMax(rest, 64), 7); // more room than bytes: the waiting count
    EXPECT_EQ(QByteArray(reinterpret_cast<char*>(rest), 7), QByteArray(", world"));
    EXPECT_EQ(com.ReadMax(rest, -1), 0);

    Pty->Write("abc");
    ASSERT_TRUE(com.WaitForBytes(3, 2000));
    std::uint8_t all[3] = {};
    EXPECT_EQ(com.ReadAll(all), 3u);
    EXPECT_EQ(QByteArray(reinterpret_cast<char*>(all), 3), QByteArray("abc"));

    // Not enough bytes: the wait gives up at its deadline and puts TraceStates back.
    com.SetTraceStates({tsRxChar, tsCTS});
    Pty->Write("xy");
    EXPECT_FALSE(com.WaitForBytes(3, 60));
    EXPECT_EQ(com.TraceStates(), (TTraceStates{tsRxChar, tsCTS}));
    EXPECT_EQ(com.ReadString(), QByteArray("xy"));
    EXPECT_EQ(com.ReadString(), QByteArray());

    // Read with a read-interval timeout returns what came.
    com.SetTimeoutRead(50);
    Pty->Write("12");
    std::uint8_t four[4] = {};
    EXPECT_EQ(com.Read(four, 4), 2u);

    // With a receiver, event processing takes the bytes as they come, also during the
    // wait: they never pile up to the count waited for.
    int chunks = 0;
    com.OnAfterReceive = [&](QObject*, const std::uint8_t*, std::uint32_t) { ++chunks; };
    std::thread trickle([fd = Pty->MasterFd()] {
        for (int i = 0; i < 40; ++i) {
            [[maybe_unused]] ssize_t n = ::write(fd, "zz", 2);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    EXPECT_FALSE(com.WaitForBytes(60, 150));
    trickle.join();
    EXPECT_GE(chunks, 2);

    com.SetActive(false);
    EXPECT_EQ(com.ReadyForRead(), 0u);
    EXPECT_FALSE(com.WaitForBytes(0, 100));
    EXPECT_EQ(com.ReadMax(five, 5), 0);
    EXPECT_EQ(com.ReadString(), QByteArray());
}

TEST_F(CommPty, ARecordedActiveOpensWhenLoadingEnds) {
    TMessageCapture boxes;
    TnrComm com;
    com.BeginLoading();
    com.SetComPortNo(201);
    com.SetActive(true);
    EXPECT_TRUE(com.Active()); // the recorded value while loading
    EXPECT_FALSE(com.IsOpen());
    EXPECT_EQ(CommThreadsRunning(), 0);
    com.Loaded();
    EXPECT_TRUE(com.IsOpen());
    EXPECT_EQ(boxes.Count(), 0);
    com.SetActive(false);

    // A port that can't be opened when loading ends: an error box, no exception.
    TnrComm missing;
    missing.BeginLoading();
    missing.SetComPortNo(99);
    missing.SetActive(true);
    EXPECT_NO_THROW(missing.Loaded());
    EXPECT_FALSE(missing.Active());
    EXPECT_EQ(boxes.Count(), 1);
}
