#include "linkanalysisworker.h"

#include <pthread.h>
#include <sched.h>

TLinkAnalysisWorker::TLinkAnalysisWorker() : fThread([this] { Run(); }) {}

TLinkAnalysisWorker::~TLinkAnalysisWorker() {
    {
        std::lock_guard lock(fQueueLock);
        fStop = true;
    }
    fWake.notify_one();
    fThread.join();
}

void TLinkAnalysisWorker::Feed(const std::uint8_t* data, std::size_t size, std::int64_t time) {
    if (size == 0) return;
    bool wake = false;
    bool behind = false;
    {
        std::lock_guard lock(fQueueLock);
        const std::size_t before = fQueue.Bytes.size();
        fQueue.Bytes.insert(fQueue.Bytes.end(), data, data + size);
        fQueue.Deliveries.push_back({size, time});
        const std::size_t after = fQueue.Bytes.size();
        const std::size_t deliveries = fQueue.Deliveries.size();
        wake = (before < kBatchBytes && after >= kBatchBytes) || deliveries == kBatchDeliveries;
        behind = after >= kMaxQueued || deliveries >= kMaxDeliveries;
    }
    if (wake) fWake.notify_one();
    if (behind) {
        std::lock_guard analysis(fAnalysisLock);
        AnalyseQueued();
    }
}

void TLinkAnalysisWorker::LineErrors(unsigned errors) {
    std::lock_guard analysis(fAnalysisLock);
    fAnalysis.LineErrors(errors);
}

TLinkFigures TLinkAnalysisWorker::Figures(std::int64_t now) {
    std::lock_guard analysis(fAnalysisLock);
    AnalyseQueued();
    return fAnalysis.Figures(now);
}

void TLinkAnalysisWorker::Reset() {
    std::lock_guard analysis(fAnalysisLock);
    {
        std::lock_guard lock(fQueueLock);
        fQueue.Clear();
    }
    fAnalysis.Reset();
}

std::size_t TLinkAnalysisWorker::QueuedDeliveries() {
    std::lock_guard lock(fQueueLock);
    return fQueue.Deliveries.size();
}

void TLinkAnalysisWorker::AnalyseQueued() {
    {
        std::lock_guard lock(fQueueLock);
        std::swap(fWork, fQueue); // the queue goes on in the batch's old buffers
    }
    const std::uint8_t* at = fWork.Bytes.data();
    for (const TDelivery& delivery : fWork.Deliveries) {
        fAnalysis.Feed(at, delivery.Size, delivery.Time);
        at += delivery.Size;
    }
    fWork.Clear();
    // A batch queued while the worker waited for a free core can be megabytes: its buffers
    // go back rather than stay with the worker.
    if (fWork.Bytes.capacity() > kKeptBytes || fWork.Deliveries.capacity() > kKeptDeliveries) fWork = TQueue{};
}

void TLinkAnalysisWorker::Run() {
    // Lowering one's own thread needs no privilege; should it fail, the worker simply
    // competes at the normal priority.
    sched_param idle{};
    pthread_setschedparam(pthread_self(), SCHED_IDLE, &idle);
    pthread_setname_np(pthread_self(), "link-analysis");
    std::unique_lock lock(fQueueLock);
    for (;;) {
        fWake.wait(lock, [this] {
            return fStop || fQueue.Bytes.size() >= kBatchBytes || fQueue.Deliveries.size() >= kBatchDeliveries;
        });
        if (fStop) return;
        lock.unlock();
        {
            std::lock_guard analysis(fAnalysisLock);
            AnalyseQueued();
        }
        lock.lock();
    }
}
