#include "receivetap.h"

#include "platform/nrserialapi.h"

#include <ctime>

std::int64_t TReceiveTap::SteadyMicros() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t(t.tv_sec) * 1'000'000 + t.tv_nsec / 1000;
}

std::int64_t TReceiveTap::UtcMicros() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return std::int64_t(t.tv_sec) * 1'000'000 + t.tv_nsec / 1000;
}

void TReceiveTap::Received(const std::uint8_t* data, std::uint32_t size) {
    if (fAnalysisOn) fAnalysis.Feed(data, size, SteadyMicros());
    if (!fCapture.IsOpen()) return;
    QString reason;
    if (!fCapture.Write(data, size, UtcMicros(), &reason) && OnCaptureFailed) OnCaptureFailed(reason);
}

void TReceiveTap::LineErrors(std::uint32_t commCode) {
    unsigned errors = 0;
    if (commCode & CE_FRAME) errors |= TLinkAnalysis::leFraming;
    if (commCode & CE_RXPARITY) errors |= TLinkAnalysis::leParity;
    if (commCode & (CE_OVERRUN | CE_RXOVER)) errors |= TLinkAnalysis::leOverrun;
    if (commCode & CE_BREAK) errors |= TLinkAnalysis::leBreak;
    if (errors) fAnalysis.LineErrors(errors);
}
