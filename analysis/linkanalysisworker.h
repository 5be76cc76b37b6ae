// TLinkAnalysisWorker: a TLinkAnalysis fed on a thread of its own, so that a host's
// receive path pays one copy of the bytes and no analysis.
//
//   Feed(bytes, n, time)  queues one delivery (copied) and returns at once
//   LineErrors(bits)      counted at once
//   Figures(now)          what every delivery queued so far gives: the queue is analysed
//                         first, on the caller's thread if the worker has not got to it
//   Reset()               the queued bytes are dropped and the analysis starts again
//
// The worker wakes only when kBatchBytes or kBatchDeliveries are queued (a flood, a
// minute or so of ship rates, or a few seconds of a port that delivers a byte or two at a
// time) and analyses the batch in one pass; a host that shows the figures drains the rest
// when it asks for them, so a link at ship rates costs the worker few wake-ups.
// It runs at the scheduler's idle priority: when the machine is busy (a flood on a small
// laptop), receiving and showing come first and the analysis catches up afterwards.
// Should it fall kMaxQueued bytes or kMaxDeliveries deliveries behind, Feed analyses the
// queue itself: memory stays bounded and nothing is skipped.
//
// Threads: every member may be called from any thread; the host normally feeds from the
// one thread that receives. Two locks: the queue's, held for a copy or a swap only, and
// the analysis', held while bytes are analysed; the analysis' is always taken first.
#pragma once

#include "linkanalysis.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class TLinkAnalysisWorker {
public:
    static constexpr std::size_t kBatchBytes = 64 * 1024;
    static constexpr std::size_t kMaxQueued = 4 * 1024 * 1024;
    // Each delivery also queues a (size, time) record of 16 bytes.
    static constexpr std::size_t kBatchDeliveries = 4096;
    static constexpr std::size_t kMaxDeliveries = 64 * 1024;
    // What the worker's buffers keep between batches.
    static constexpr std::size_t kKeptBytes = 2 * kBatchBytes;
    static constexpr std::size_t kKeptDeliveries = 2 * kBatchDeliveries;

    TLinkAnalysisWorker();
    ~TLinkAnalysisWorker();
    TLinkAnalysisWorker(const TLinkAnalysisWorker&) = delete;
    TLinkAnalysisWorker& operator=(const TLinkAnalysisWorker&) = delete;

    void Feed(const std::uint8_t* data, std::size_t size, std::int64_t time);
    void LineErrors(unsigned errors);
    TLinkFigures Figures(std::int64_t now);
    void Reset();
    // Deliveries queued and not yet analysed.
    std::size_t QueuedDeliveries();

private:
    struct TDelivery {
        std::size_t Size;
        std::int64_t Time;
    };
    struct TQueue {
        std::vector<std::uint8_t> Bytes;
        std::vector<TDelivery> Deliveries;
        void Clear() {
            Bytes.clear();
            Deliveries.clear();
        }
    };

    void Run();
    // With fAnalysisLock held: takes the queue and analyses it.
    void AnalyseQueued();

    std::mutex fAnalysisLock;
    TLinkAnalysis fAnalysis; // guarded by fAnalysisLock
    TQueue fWork;            // guarded by fAnalysisLock: the batch being analysed

    std::mutex fQueueLock;
    std::condition_variable fWake;
    TQueue fQueue;      // guarded by fQueueLock
    bool fStop = false; // guarded by fQueueLock

    std::thread fThread;
};
