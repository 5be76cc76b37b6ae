// The replay tool's command line: the channels to serve, their pacing and the faults
// to inject. ReplayHelpText() is what --help prints and documents every option.
//
// Threads: plain values and functions.
#pragma once

#include "lineformat.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Faults injected into one channel's stream; zero counts mean "off".
struct TFaultPlan {
    unsigned CorruptEvery = 0; // alter the checksum of every Nth sentence that has one
    unsigned BurstEvery = 0;   // after every N sentences ...
    unsigned BurstCount = 0;   // ... send this many sentences at once
    unsigned PauseAfter = 0;   // after N sentences, go quiet once for PauseSeconds
    double PauseSeconds = 0;
    std::uint64_t HangupAfter = 0; // close the device after N sentences (or bytes) ...
    bool HangupInBytes = false;
    std::optional<double> ReopenSeconds; // ... and make a new one this much later
    unsigned HangupLimit = 0;            // at most this many hang-ups (0: no limit)
};

struct TChannelOptions {
    std::string PortName; // "COM201"
    unsigned PortNumber = 0;
    unsigned Baud = 0;
    std::string RecordingPath;
    std::string TtyPath; // empty: serve the port on a new pseudo-terminal
    TFaultPlan Faults;
};

struct TReplayOptions {
    std::vector<TChannelOptions> Channels;
    TLineFormat Format;
    double BitsPerChar = 10;
    bool Flood = false;
    bool Raw = false;
    bool Hold = false;
    bool Stats = false;
    bool WithParent = false; // end as on SIGTERM when the starting process ends
    bool LoopForever = false;
    unsigned Loops = 1;
    std::optional<double> DurationSeconds;
    double LingerSeconds = 2;
    bool UseMapFile = true;
    std::string MapFile; // empty: the user's default map file
    std::string SettingsFile;
    std::string ReadyFile;
    bool Help = false;
};

// Parses the arguments that follow the program name; throws TUsageError with a message
// that names the offending option or value.
TReplayOptions ParseReplayOptions(const std::vector<std::string>& args);

std::string ReplayHelpText();
