// TReplayChannel: one port served by the replay tool. It plays a recording into its
// device at the pace of the serial line (or as fast as the reader takes it), loops,
// and injects the faults of its TFaultPlan: altered checksums, bursts, a pause and
// hang-ups, with a new device after each hang-up when asked.
//
// The channel never blocks: Service() does whatever is due at a given moment and
// returns; NextWake() and PollEvents() tell the replay loop when to call it again.
// A channel reports a device that appears or goes away to its observer, which keeps
// the map file and the tool's output up to date.
//
// Threads: everything runs on the replay loop's thread.
#pragma once

#include "pacer.h"
#include "recording.h"
#include "replaydevice.h"
#include "replayoptions.h"

#include <cstdint>
#include <memory>
#include <string>

class TReplayChannel;

class TReplayChannelObserver {
public:
    virtual ~TReplayChannelObserver() = default;
    virtual void DeviceOpened(TReplayChannel& channel) = 0;
    virtual void DeviceGone(TReplayChannel& channel) = 0;
};

struct TChannelStats {
    std::uint64_t Bytes = 0;     // written to the device
    std::uint64_t Lines = 0;     // lines written whole
    std::uint64_t Sentences = 0; // NMEA/AIS sentences written whole
    std::uint64_t Corrupted = 0; // of which with an altered checksum
    std::uint64_t Hangups = 0;
};

// What all channels of one run share.
struct TPlaySettings {
    bool Flood = false;
    bool LoopForever = false;
    unsigned Loops = 1;
    double BitsPerChar = 10;
    TLineFormat Format;
};

class TReplayChannel {
public:
    TReplayChannel(TChannelOptions options, const TPlaySettings& play, TRecording recording,
                   TReplayChannelObserver& observer);
    ~TReplayChannel();
    TReplayChannel(const TReplayChannel&) = delete;
    TReplayChannel& operator=(const TReplayChannel&) = delete;

    // Makes the device; the channel then holds until Start().
    void Open();
    void Start(TReplayClock::time_point now);
    // Writes what is due at `now`, begins and ends pauses, hangs up and reopens.
    void Service(TReplayClock::time_point now);
    // The latest moment Service() must run again (max() when only a poll event or a
    // Start() can change anything, min() when it should run at once).
    TReplayClock::time_point NextWake() const;
    // Descriptor and poll events the loop should watch (fd -1 when none).
    int PollFd() const;
    short PollEvents() const;
    // Called when poll reported something on PollFd().
    void OnPollEvent(short revents);

    // Sends nothing more (the run is over); the device stays until Close().
    void Stop();
    bool Finished() const { return fState == csDone; }
    // Bytes the reader has not taken yet.
    size_t Unread() const;
    void Close();

    const std::string& PortName() const { return fOptions.PortName; }
    const TChannelOptions& Options() const { return fOptions; }
    bool HasDevice() const { return fDevice && fDevice->IsOpen(); }
    std::string DevicePath() const { return fDevice ? fDevice->Path() : std::string(); }
    const std::string& DeviceWarning() const;
    const TChannelStats& Stats() const { return fStats; }

private:
    enum TState { csHolding, csSending, csPaused, csGone, csDone };

    void OpenDevice();
    void SendDue(TReplayClock::time_point now);
    bool TakeNextRecord();
    void RecordSent(TReplayClock::time_point now);
    void HangUp(TReplayClock::time_point now);
    bool HangupArmed() const;
    bool Unpaced() const { return fPlay.Flood || fBurstLeft > 0; }

    TChannelOptions fOptions;
    TPlaySettings fPlay;
    TRecording fRecording;
    TReplayChannelObserver& fObserver;
    std::unique_ptr<TReplayDevice> fDevice;
    TPacer fPacer;
    TState fState = csHolding;
    bool fBlocked = false; // the device's queue was full at the last write

    // The record being written.
    std::string fPending;
    size_t fPendingAt = 0;
    const TRecord* fPendingRecord = nullptr;
    bool fPendingCorrupted = false;
    size_t fNextRecord = 0;
    unsigned fPass = 0;

    // Fault bookkeeping.
    std::uint64_t fChecksummed = 0;
    std::uint64_t fSentencesSinceBurst = 0;
    unsigned fBurstLeft = 0;
    bool fPauseDone = false;
    TReplayClock::time_point fResumeAt{};
    TReplayClock::time_point fReopenAt{};
    std::uint64_t fSentencesSinceOpen = 0;
    std::uint64_t fBytesSinceOpen = 0;

    TChannelStats fStats;
};
