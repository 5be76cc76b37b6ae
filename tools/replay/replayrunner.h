// TReplayRunner: one run of the replay tool. It loads the recordings, makes a device for
// every channel, enters them in the serial-port map, writes the settings and ready files,
// then drives all channels from one poll loop until the recordings have played, the
// duration is over or a signal asks it to stop; at the end it gives readers a moment to
// take the queued bytes, closes the devices and takes its map entries out again.
//
// Signals (SIGINT, SIGTERM, SIGHUP to stop, SIGUSR1 to end --hold) are blocked and read
// from a signalfd inside the loop, so the clean-up runs in ordinary code.
//
// Threads: single-threaded; construct and Run() on one thread.
#pragma once

#include "portmapfile.h"
#include "replaychannel.h"
#include "replayoptions.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class TReplayRunner : private TReplayChannelObserver {
public:
    explicit TReplayRunner(TReplayOptions options);
    ~TReplayRunner() override;
    TReplayRunner(const TReplayRunner&) = delete;
    TReplayRunner& operator=(const TReplayRunner&) = delete;

    // Runs to the end and returns the exit status; throws TReplayError when a file or
    // device fails (the map entries are removed all the same).
    int Run();

private:
    void DeviceOpened(TReplayChannel& channel) override;
    void DeviceGone(TReplayChannel& channel) override;

    void SetUp();
    void Play();
    void Drain();
    void CleanUp();
    // Waits for poll events or until `wake`; returns false when a signal says stop.
    bool WaitAndHandle(TReplayClock::time_point wake);
    void HandleSignals();
    void StartAll(TReplayClock::time_point now);
    void WriteReadyFile();
    void PrintLine(const std::string& line);
    void PrintStats();

    TReplayOptions fOptions;
    std::vector<std::unique_ptr<TReplayChannel>> fChannels;
    std::optional<TPortMapFile> fMap;
    int fSignalFd = -1;
    bool fStopRequested = false;
    bool fReady = false;
    bool fStarted = false;
    bool fReadyFileWritten = false;
    std::optional<TReplayClock::time_point> fDeadline;
};
