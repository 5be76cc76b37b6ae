// Benchmark of the replay tool, run as scripts run it.
//
//   bench_replay [recording]
//
// 1. Flood: the recording played 50 times as fast as a reader takes it: MB/s and the
//    tool's CPU seconds per MB.
// 2. Pacing: 2 s at 4800, 38400 and 115200 baud (8N1): the byte rate achieved against
//    the line rate, how late the bytes arrive against the ideal schedule (mean and
//    worst), and the tool's CPU time.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

struct TTool {
    pid_t Pid = -1;
    std::string Device;
};

// Starts the tool and reads its standard output up to "ready"; the device is taken from
// the "COM1=..." line.
TTool Launch(const std::vector<std::string>& args) {
    int out[2];
    if (pipe(out) != 0) return {};
    TTool tool;
    tool.Pid = fork();
    if (tool.Pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        std::vector<char*> argv{const_cast<char*>(BRISEMER_REPLAY_EXE)};
        for (const auto& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(BRISEMER_REPLAY_EXE, argv.data());
        _exit(127);
    }
    close(out[1]);
    std::string text;
    char buffer[256];
    ssize_t n = 0;
    while (text.find("ready\n") == std::string::npos && (n = read(out[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    close(out[0]);
    const auto at = text.find("COM1=");
    if (at != std::string::npos) tool.Device = text.substr(at + 5, text.find('\n', at) - at - 5);
    return tool;
}

double ChildCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void Flood(const std::string& recording) {
    const double cpuBefore = ChildCpuSeconds();
    TTool tool = Launch({"--no-map-file", "--flood", "--loop", "50", "--port", "COM1:115200:" + recording});
    const int fd = open(tool.Device.c_str(), O_RDONLY | O_NOCTTY);
    if (fd < 0) {
        std::printf("flood: cannot open %s: %s\n", tool.Device.c_str(), std::strerror(errno));
        return;
    }
    const auto start = TClock::now();
    long long bytes = 0;
    char buffer[65536];
    ssize_t n = 0;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) // ends with EIO when the tool closes
        bytes += n;
    const double seconds = std::chrono::duration<double>(TClock::now() - start).count();
    close(fd);
    waitpid(tool.Pid, nullptr, 0);
    const double cpu = ChildCpuSeconds() - cpuBefore;
    std::printf("flood: %.1f MB in %.3f s = %.1f MB/s, tool CPU %.3f s/MB\n", bytes / 1e6, seconds,
                bytes / 1e6 / seconds, cpu / (bytes / 1e6));
}

void Pacing(const std::string& recording, unsigned baud) {
    const double cpuBefore = ChildCpuSeconds();
    TTool tool = Launch({"--no-map-file", "--hold", "--loop", "forever", "--duration", "2", "--linger", "0",
                         "--port", "COM1:" + std::to_string(baud) + ":" + recording});
    const int fd = open(tool.Device.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        std::printf("pacing: cannot open %s: %s\n", tool.Device.c_str(), std::strerror(errno));
        return;
    }
    const double bytesPerSecond = baud / 10.0;
    const auto start = TClock::now();
    kill(tool.Pid, SIGUSR1);
    long long bytes = 0;
    double lateSum = 0, lateWorst = 0, last = 0;
    long chunks = 0;
    char buffer[65536];
    for (;;) {
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, 3000) <= 0) break;
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        const double now = std::chrono::duration<double>(TClock::now() - start).count();
        bytes += n;
        // The last byte of this chunk was due when `bytes` bytes had crossed the line.
        const double late = now - bytes / bytesPerSecond;
        lateSum += late;
        lateWorst = std::max(lateWorst, late);
        last = now;
        ++chunks;
    }
    close(fd);
    waitpid(tool.Pid, nullptr, 0);
    std::printf("pacing %6u baud: %.1f bytes/s for a line rate of %.1f (%.2f%%), late by %.2f ms on average "
                "and %.2f ms at worst over %ld reads, tool CPU %.3f s for %.1f s\n",
                baud, bytes / last, bytesPerSecond, 100.0 * (bytes / last) / bytesPerSecond,
                1000 * lateSum / std::max(1L, chunks), 1000 * lateWorst, chunks,
                ChildCpuSeconds() - cpuBefore, last);
}

} // namespace

int main(int argc, char** argv) {
    const std::string recording = argc > 1 ? argv[1] : BRISEMER_NMEA_DATA "/telit-he910.log";
    if (access(recording.c_str(), R_OK) != 0) {
        std::fprintf(stderr, "bench_replay: cannot read %s: %s\n", recording.c_str(), std::strerror(errno));
        return 1;
    }
    std::printf("recording %s\n", recording.c_str());
    Flood(recording);
    for (const unsigned baud : {4800u, 38400u, 115200u})
        Pacing(recording, baud);
    return 0;
}
