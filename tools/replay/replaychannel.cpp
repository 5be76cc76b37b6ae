#include "replaychannel.h"

#include "nmeachecksum.h"

#include <algorithm>
#include <poll.h>

namespace {

TReplayClock::duration Seconds(double seconds) {
    return std::chrono::duration_cast<TReplayClock::duration>(std::chrono::duration<double>(seconds));
}

} // namespace

TReplayChannel::TReplayChannel(TChannelOptions options, const TPlaySettings& play, TRecording recording,
                               TReplayChannelObserver& observer)
    : fOptions(std::move(options)), fPlay(play), fRecording(std::move(recording)), fObserver(observer),
      fPacer(fOptions.Baud, play.BitsPerChar) {}

TReplayChannel::~TReplayChannel() {
    Close();
}

const std::string& TReplayChannel::DeviceWarning() const {
    static const std::string kNone;
    return fDevice ? fDevice->Warning() : kNone;
}

void TReplayChannel::OpenDevice() {
    if (fOptions.TtyPath.empty())
        fDevice = TPtyDevice::Create(fOptions.PortName);
    else
        fDevice = TTtyDevice::Open(fOptions.PortName, fOptions.TtyPath, fPlay.Format, fOptions.Baud);
    fSentencesSinceOpen = 0;
    fBytesSinceOpen = 0;
    fBlocked = false;
    fObserver.DeviceOpened(*this);
}

void TReplayChannel::Open() {
    OpenDevice();
}

void TReplayChannel::Start(TReplayClock::time_point now) {
    if (fState != csHolding) return;
    fState = csSending;
    fPacer.Restart(now);
}

void TReplayChannel::Stop() {
    fState = csDone;
}

void TReplayChannel::Close() {
    if (fDevice) fDevice->Close();
}

size_t TReplayChannel::Unread() const {
    return HasDevice() ? fDevice->Unread() : 0;
}

void TReplayChannel::Service(TReplayClock::time_point now) {
    switch (fState) {
    case csHolding:
    case csDone:
        return;
    case csPaused:
        if (now < fResumeAt) return;
        fState = csSending;
        fPacer.Restart(now);
        break;
    case csGone:
        if (now < fReopenAt) return;
        OpenDevice();
        fState = csSending;
        fPacer.Restart(now);
        break;
    case csSending:
        break;
    }
    SendDue(now);
}

void TReplayChannel::SendDue(TReplayClock::time_point now) {
    if (fBlocked) {
        fBlocked = false;
        // The reader stalled the line; a real device would not catch up faster than the
        // line runs, so the schedule starts again from here.
        if (!Unpaced()) fPacer.Restart(now);
    }
    while (fState == csSending) {
        if (fOptions.Faults.HangupInBytes && HangupArmed() &&
            fBytesSinceOpen >= fOptions.Faults.HangupAfter) {
            HangUp(now);
            return;
        }
        if (fPendingAt == fPending.size() && !TakeNextRecord()) {
            fState = csDone;
            return;
        }
        size_t count = fPending.size() - fPendingAt;
        if (!Unpaced()) {
            const std::uint64_t allowed = fPacer.Allowed(now);
            if (allowed == 0) return;
            count = static_cast<size_t>(std::min<std::uint64_t>(count, allowed));
        }
        if (fOptions.Faults.HangupInBytes && HangupArmed())
            count = static_cast<size_t>(
                std::min<std::uint64_t>(count, fOptions.Faults.HangupAfter - fBytesSinceOpen));
        const size_t written = fDevice->Write(fPending.data() + fPendingAt, count);
        if (written == 0) {
            fBlocked = true;
            return;
        }
        fPendingAt += written;
        fPacer.Sent(written);
        fStats.Bytes += written;
        fBytesSinceOpen += written;
        if (fPendingAt == fPending.size()) RecordSent(now);
    }
}

bool TReplayChannel::TakeNextRecord() {
    const auto& records = fRecording.Records();
    if (records.empty()) return false;
    if (fNextRecord == records.size()) {
        ++fPass;
        if (!fPlay.LoopForever && fPass >= fPlay.Loops) return false;
        fNextRecord = 0;
    }
    fPendingRecord = &records[fNextRecord++];
    fPending = fPendingRecord->Bytes;
    fPendingAt = 0;
    fPendingCorrupted = false;
    if (fOptions.Faults.CorruptEvery != 0 && fPendingRecord->Kind == TRecordKind::rkSentence &&
        NmeaChecksumField(fPending)) {
        ++fChecksummed;
        if (fChecksummed % fOptions.Faults.CorruptEvery == 0)
            fPendingCorrupted = CorruptNmeaChecksum(fPending);
    }
    return true;
}

void TReplayChannel::RecordSent(TReplayClock::time_point now) {
    const TRecord& record = *fPendingRecord;
    if (record.EndsLine) ++fStats.Lines;
    if (record.Kind != TRecordKind::rkSentence) return;
    ++fStats.Sentences;
    ++fSentencesSinceOpen;
    if (fPendingCorrupted) ++fStats.Corrupted;

    const TFaultPlan& faults = fOptions.Faults;
    if (fBurstLeft > 0) {
        if (--fBurstLeft == 0) {
            fPacer.Restart(now);
            fSentencesSinceBurst = 0;
        }
    } else if (faults.BurstEvery != 0 && ++fSentencesSinceBurst == faults.BurstEvery) {
        fBurstLeft = faults.BurstCount;
    }
    if (faults.PauseAfter != 0 && !fPauseDone && fStats.Sentences == faults.PauseAfter) {
        fPauseDone = true;
        fState = csPaused;
        fResumeAt = now + Seconds(faults.PauseSeconds);
    }
    if (!faults.HangupInBytes && HangupArmed() && fSentencesSinceOpen >= faults.HangupAfter) HangUp(now);
}

bool TReplayChannel::HangupArmed() const {
    const TFaultPlan& faults = fOptions.Faults;
    return faults.HangupAfter != 0 && (faults.HangupLimit == 0 || fStats.Hangups < faults.HangupLimit);
}

void TReplayChannel::HangUp(TReplayClock::time_point now) {
    fDevice->Close();
    ++fStats.Hangups;
    // The rest of a record cut by the hang-up is lost with the device; the next device
    // starts at a record boundary.
    fPending.clear();
    fPendingAt = 0;
    fBlocked = false;
    fObserver.DeviceGone(*this);
    if (fOptions.Faults.ReopenSeconds) {
        fState = csGone;
        fReopenAt = now + Seconds(*fOptions.Faults.ReopenSeconds);
    } else {
        fState = csDone;
    }
}

TReplayClock::time_point TReplayChannel::NextWake() const {
    switch (fState) {
    case csHolding:
    case csDone:
        return TReplayClock::time_point::max();
    case csPaused:
        return fResumeAt;
    case csGone:
        return fReopenAt;
    case csSending:
        break;
    }
    if (fBlocked) return TReplayClock::time_point::max();
    if (Unpaced()) return TReplayClock::time_point::min();
    return fPacer.NextSlice();
}

int TReplayChannel::PollFd() const {
    return PollEvents() != 0 ? fDevice->Fd() : -1;
}

short TReplayChannel::PollEvents() const {
    if (!HasDevice()) return 0;
    short events = 0;
    if (fBlocked && fState == csSending) events |= POLLOUT;
    if (fDevice->WantsInput()) events |= POLLIN;
    return events;
}

void TReplayChannel::OnPollEvent(short revents) {
    if ((revents & POLLIN) && HasDevice()) fDevice->DiscardInput();
}
