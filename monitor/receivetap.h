// TReceiveTap: one channel's received bytes, taken where the pane gets them, for the link
// analysis and the continuous capture.
//
// The host calls Received() from the port's receive handler right after the pane's own
// line assembly has taken the same delivery. The capture writes the bytes there and then;
// the analysis gets a copy of them on its own thread (TLinkAnalysisWorker), so the
// receive path never waits for it. Line errors the port reports (OnCommError) go to
// LineErrors().
//
// Arrival times: the steady clock for the analysis (rates and intervals do not jump with
// the wall clock), UTC for the timestamped capture.
//
// Threads: user-interface thread only - the port components deliver there
// (UseMainThread), so the capture needs no lock; the analysis worker has its own.
#pragma once

#include "channelcapture.h"
#include "linkanalysisworker.h"

#include <QString>
#include <cstdint>
#include <functional>

class TReceiveTap {
public:
    void Received(const std::uint8_t* data, std::uint32_t size);
    // The CE_* bits of a port's line error.
    void LineErrors(std::uint32_t commCode);

    // The analysis may be switched off (the benchmark compares both); the capture runs
    // either way.
    void SetAnalysisEnabled(bool on) { fAnalysisOn = on; }
    bool AnalysisEnabled() const { return fAnalysisOn; }

    TLinkAnalysisWorker& Analysis() { return fAnalysis; }
    TChannelCapture& Capture() { return fCapture; }
    // Called once, with the system's reason, when a write fails and the capture stops.
    std::function<void(const QString& reason)> OnCaptureFailed;

    static std::int64_t SteadyMicros();
    static std::int64_t UtcMicros();

private:
    TLinkAnalysisWorker fAnalysis;
    TChannelCapture fCapture;
    bool fAnalysisOn = true;
};
