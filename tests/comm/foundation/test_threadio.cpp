// The worker thread of the I/O base and the hand-off to the user-interface thread: the
// component waits on an end signal it owns, never on the thread object that frees itself;
// a stop never deadlocks with a hand-off in progress.
#include "nrapplication.h"
#include "nrthreadio.h"
#include "testenv.h"
#include "testio.h"

#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace std::chrono_literals;

TEST(ThreadIO, ThreadedComponentStartsTheWorkerOnOpenAndWaitsForItsEndOnClose) {
    std::atomic<int> iterations{0};
    std::atomic<bool> bodyEnded{false};
    auto io = std::make_unique<TTestIO>();
    io->isThreaded = true;
    io->threadBody = [&](TnrThreadIO* thread) {
        EXPECT_FALSE(IsMainThread());
        while (!thread->Terminated()) {
            ++iterations;
            std::this_thread::sleep_for(1ms);
        }
        std::this_thread::sleep_for(20ms); // ending takes a while: the close must wait for it
        bodyEnded = true;
    };
    io->SetActive(true);
    ASSERT_TRUE(WaitUntil([&] { return iterations > 3; }));
    io->SetActive(false);
    EXPECT_TRUE(bodyEnded); // StopThreads returned only after the body ended
    io.reset();             // nothing may touch the component or the freed thread afterwards
}

TEST(ThreadIO, BodyExceptionsEndTheThreadNormally) {
    TTestIO io;
    io.isThreaded = true;
    std::atomic<bool> ran{false};
    io.threadBody = [&](TnrThreadIO*) {
        ran = true;
        throw std::runtime_error("body failed");
    };
    io.SetActive(true);
    ASSERT_TRUE(WaitUntil([&] { return ran.load(); }));
    io.SetActive(false); // must not hang
    EXPECT_FALSE(io.IsOpen());
}

TEST(ThreadIO, SynchronizedReceiveRunsOnTheUserInterfaceThread) {
    TTestIO io;
    io.isThreaded = true;
    QByteArray received;
    bool onMainThread = false;
    io.OnAfterReceive = [&](QObject*, const std::uint8_t* data, std::uint32_t n) {
        onMainThread = IsMainThread();
        received.append(reinterpret_cast<const char*>(data), n);
    };
    std::atomic<bool> delivered{false};
    io.threadBody = [&](TnrThreadIO* thread) {
        static const char chunk[] = "$GPGLL,4916.45,N";
        const bool ran = thread->Synchronize([&] { io.DoReceived(reinterpret_cast<const std::uint8_t*>(chunk), 16); });
        delivered = ran;
        while (!thread->Terminated())
            std::this_thread::sleep_for(1ms);
    };
    io.SetActive(true);
    ASSERT_TRUE(WaitUntil([&] { return delivered.load(); }));
    EXPECT_TRUE(onMainThread);
    EXPECT_EQ(received, QByteArray("$GPGLL,4916.45,N"));
    io.SetActive(false);
}

TEST(ThreadIO, StoppingWhileTheWorkerWaitsForTheUserInterfaceDoesNotDeadlock) {
    TTestIO io;
    io.isThreaded = true;
    std::atomic<int> handOffs{0}, refused{0};
    io.threadBody = [&](TnrThreadIO* thread) {
        // Keeps asking for the user-interface thread until stopped.
        while (!thread->Terminated()) {
            if (thread->Synchronize([&] { ++handOffs; }))
                continue;
            ++refused;
        }
    };
    io.SetActive(true);
    ASSERT_TRUE(WaitUntil([&] { return handOffs > 5; }));
    // The user-interface thread stops the worker without processing events: a worker
    // blocked in Synchronize must give up rather than wait forever.
    std::thread::id me = std::this_thread::get_id();
    io.SetActive(false);
    EXPECT_EQ(std::this_thread::get_id(), me);
    EXPECT_FALSE(io.IsOpen());
}

TEST(MainThreadGate, RunsOnTheUserInterfaceThreadAndRethrows) {
    TnrMainThreadGate gate;
    std::atomic<bool> onMain{false}, threw{false}, done{false};
    std::thread worker([&] {
        gate.Run([&] { onMain = IsMainThread(); });
        try {
            gate.Run([] { throw std::runtime_error("handler failed"); });
        } catch (const std::runtime_error&) {
            threw = true;
        }
        done = true;
    });
    EXPECT_TRUE(WaitUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_TRUE(onMain);
    EXPECT_TRUE(threw);
}

TEST(MainThreadGate, ClosedGateRefusesPendingAndLaterCalls) {
    auto gate = std::make_unique<TnrMainThreadGate>();
    std::atomic<bool> ran{false}, returned{false}, result{true};
    std::thread worker([&] {
        result = gate->Run([&] { ran = true; });
        returned = true;
    });
    // Don't process events: the call stays queued; closing the gate releases the worker.
    std::this_thread::sleep_for(30ms);
    gate->Close();
    worker.join();
    EXPECT_TRUE(returned);
    EXPECT_FALSE(result);
    gate.reset();               // the queued call outlives the gate...
    ProcessEventsFor(50ms);     // ...and finds it closed when it finally runs
    EXPECT_FALSE(ran);
}
