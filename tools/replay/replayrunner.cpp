#include "replayrunner.h"

#include "replayerror.h"
#include "settingsfile.h"
#include "textfile.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

timespec TimeoutUntil(TReplayClock::time_point wake, TReplayClock::time_point now) {
    // `wake` may be time_point::min() ("at once"): compare before subtracting.
    const auto left = wake <= now ? TReplayClock::duration::zero() : wake - now;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    return timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

} // namespace

TReplayRunner::TReplayRunner(TReplayOptions options) : fOptions(std::move(options)) {}

TReplayRunner::~TReplayRunner() {
    if (fSignalFd >= 0) ::close(fSignalFd);
}

int TReplayRunner::Run() {
    try {
        SetUp();
        Play();
        if (!fStopRequested) Drain();
    } catch (...) {
        try {
            CleanUp();
        } catch (const std::exception& error) {
            std::fprintf(stderr, "brisemer-replay: %s\n", error.what());
        }
        throw;
    }
    CleanUp();
    if (fOptions.Stats) PrintStats();
    return 0;
}

void TReplayRunner::SetUp() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : kStopSignals)
        sigaddset(&signals, signal);
    sigaddset(&signals, SIGUSR1);
    if (::sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) ThrowSystemError("cannot block signals");
    fSignalFd = ::signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fSignalFd < 0) ThrowSystemError("cannot watch signals");
    // A reader of our standard output that went away must not end the tool before it
    // has cleaned up.
    std::signal(SIGPIPE, SIG_IGN);

    TPlaySettings play;
    play.Flood = fOptions.Flood;
    play.LoopForever = fOptions.LoopForever;
    play.Loops = fOptions.Loops;
    play.BitsPerChar = fOptions.BitsPerChar;
    play.Format = fOptions.Format;
    for (const TChannelOptions& channel : fOptions.Channels) {
        TRecording recording = TRecording::Load(channel.RecordingPath, fOptions.Raw);
        if (recording.Empty())
            throw TReplayError("recording " + channel.RecordingPath +
                               " holds nothing to send (only headers or blank lines)");
        TReplayChannelObserver& observer = *this;
        fChannels.push_back(std::make_unique<TReplayChannel>(channel, play, std::move(recording), observer));
    }

    if (fOptions.UseMapFile)
        fMap.emplace(fOptions.MapFile.empty() ? TPortMapFile::DefaultPath() : fOptions.MapFile);
    for (auto& channel : fChannels) {
        channel->Open();
        if (!channel->DeviceWarning().empty())
            std::fprintf(stderr, "brisemer-replay: warning: %s\n", channel->DeviceWarning().c_str());
    }

    if (!fOptions.SettingsFile.empty()) {
        std::vector<TPortSettings> ports;
        for (const auto& channel : fChannels) {
            TPortSettings port;
            port.ComNb = channel->Options().PortNumber;
            port.BaudRate = channel->Options().Baud;
            port.DataBits = fOptions.Format.DataBits();
            port.StopBits = fOptions.Format.StopHalfBits() == 2 ? 1 : 2;
            port.Parity = fOptions.Format.Parity();
            ports.push_back(port);
        }
        WritePortSettingsFile(fOptions.SettingsFile, ports);
    }
    fReady = true;
    WriteReadyFile();
    PrintLine("ready");
}

void TReplayRunner::StartAll(TReplayClock::time_point now) {
    if (fStarted) return;
    fStarted = true;
    if (fOptions.DurationSeconds)
        fDeadline = now + std::chrono::duration_cast<TReplayClock::duration>(
                              std::chrono::duration<double>(*fOptions.DurationSeconds));
    for (auto& channel : fChannels)
        channel->Start(now);
}

void TReplayRunner::Play() {
    if (!fOptions.Hold) StartAll(TReplayClock::now());
    for (;;) {
        const auto now = TReplayClock::now();
        if (fDeadline && now >= *fDeadline) break;
        for (auto& channel : fChannels)
            channel->Service(now);
        if (fStarted &&
            std::all_of(fChannels.begin(), fChannels.end(), [](const auto& c) { return c->Finished(); }))
            break;
        auto wake = TReplayClock::time_point::max();
        for (const auto& channel : fChannels)
            wake = std::min(wake, channel->NextWake());
        if (fDeadline) wake = std::min(wake, *fDeadline);
        if (!WaitAndHandle(wake)) return;
    }
    for (auto& channel : fChannels)
        channel->Stop();
}

bool TReplayRunner::WaitAndHandle(TReplayClock::time_point wake) {
    std::vector<pollfd> fds{{fSignalFd, POLLIN, 0}};
    std::vector<TReplayChannel*> owners{nullptr};
    for (auto& channel : fChannels) {
        if (channel->PollFd() >= 0) {
            fds.push_back({channel->PollFd(), channel->PollEvents(), 0});
            owners.push_back(channel.get());
        }
    }
    const auto now = TReplayClock::now();
    timespec timeout{};
    const timespec* limit = nullptr;
    if (wake != TReplayClock::time_point::max()) {
        timeout = TimeoutUntil(wake, now);
        limit = &timeout;
    }
    if (::ppoll(fds.data(), fds.size(), limit, nullptr) < 0) {
        if (errno != EINTR) ThrowSystemError("cannot wait for the devices");
        return true;
    }
    for (size_t i = 1; i < fds.size(); ++i)
        if (fds[i].revents != 0) owners[i]->OnPollEvent(fds[i].revents);
    if (fds[0].revents & POLLIN) HandleSignals();
    return !fStopRequested;
}

void TReplayRunner::HandleSignals() {
    signalfd_siginfo info{};
    while (::read(fSignalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (info.ssi_signo == SIGUSR1)
            StartAll(TReplayClock::now());
        else
            fStopRequested = true;
    }
}

void TReplayRunner::Drain() {
    // Closing a pseudo-terminal's master throws away what its reader has not read yet,
    // so wait (at most --linger) until every queue has stayed empty for a moment: the
    // kernel refills the reader's queue from its own buffer right after each read.
    using namespace std::chrono_literals;
    const auto deadline = TReplayClock::now() + std::chrono::duration_cast<TReplayClock::duration>(
                                                    std::chrono::duration<double>(fOptions.LingerSeconds));
    constexpr auto kNotEmpty = TReplayClock::time_point::max();
    auto emptySince = kNotEmpty;
    for (;;) {
        const auto now = TReplayClock::now();
        const bool empty =
            std::all_of(fChannels.begin(), fChannels.end(), [](const auto& c) { return c->Unread() == 0; });
        if (!empty)
            emptySince = kNotEmpty;
        else if (emptySince == kNotEmpty)
            emptySince = now;
        if ((emptySince != kNotEmpty && now - emptySince >= 100ms) || now >= deadline) return;
        if (!WaitAndHandle(std::min(deadline, now + 10ms))) return;
    }
}

void TReplayRunner::CleanUp() {
    for (auto& channel : fChannels)
        channel->Close();
    std::string failure;
    if (fMap) {
        try {
            fMap->RemoveAll();
        } catch (const std::exception& error) {
            failure = error.what();
        }
    }
    if (fReadyFileWritten) {
        RemoveFile(fOptions.ReadyFile);
        fReadyFileWritten = false;
    }
    if (!failure.empty()) throw TReplayError(failure);
}

void TReplayRunner::DeviceOpened(TReplayChannel& channel) {
    if (fMap) fMap->Set(channel.PortName(), channel.DevicePath());
    PrintLine(channel.PortName() + "=" + channel.DevicePath());
    WriteReadyFile();
}

void TReplayRunner::DeviceGone(TReplayChannel& channel) {
    if (fMap) fMap->Remove(channel.PortName());
    PrintLine(channel.PortName() + " hangup");
    WriteReadyFile();
}

void TReplayRunner::WriteReadyFile() {
    if (!fReady || fOptions.ReadyFile.empty()) return;
    std::string text;
    for (const auto& channel : fChannels)
        if (channel->HasDevice()) text += channel->PortName() + "=" + channel->DevicePath() + "\n";
    ReplaceFile(fOptions.ReadyFile, text);
    fReadyFileWritten = true;
}

void TReplayRunner::PrintLine(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

void TReplayRunner::PrintStats() {
    for (const auto& channel : fChannels) {
        const TChannelStats& stats = channel->Stats();
        PrintLine("stats " + channel->PortName() + " bytes=" + std::to_string(stats.Bytes) +
                  " lines=" + std::to_string(stats.Lines) + " sentences=" + std::to_string(stats.Sentences) +
                  " corrupted=" + std::to_string(stats.Corrupted) +
                  " hangups=" + std::to_string(stats.Hangups));
    }
}
