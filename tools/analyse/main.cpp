// brisemer-analyse: the link analysis of the program's analysis window, run over capture
// files or recordings. Prints the table of sentence keys, the AIS figures and the
// diagnosis; with --csv the table as CSV.
#include "captureinput.h"
#include "linkreport.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kHelp[] = R"help(Usage: brisemer-analyse [--csv] [--channel gps|ais] FILE...

Analyses what a serial line carried, from Brisemer's capture files (plain or
timestamped) or NMEA/AIS recordings: per sentence key the count and the good, false
and missing checksums (with rates and intervals when the file is timestamped), the
lines that are not sentences as "(other)", the AIS messages reassembled, and a
diagnosis in plain words. Lines starting with '#' are file headers. Several files are
read one after the other as one stream.

  --csv              print the table as CSV: sentence,count,checksum_ok,checksum_bad,
                     checksum_missing,rate_hz,mean_interval_s,worst_interval_s,last_line,
                     one row per key, the row (other), then "AIS type N" rows
  --channel gps|ais  the channel the file comes from (default: AIS when it holds AIS
                     sentences); adds the checks that belong to that channel
  -h, --help         show this text

Exit status: 0 done, 1 a file could not be read, 2 wrong command line.
)help";

int Usage(const std::string& message) {
    std::fprintf(stderr, "brisemer-analyse: %s\nTry 'brisemer-analyse --help' for more information.\n",
                 message.c_str());
    return 2;
}

bool ReadFile(const std::string& path, std::string& contents, std::string& reason) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        reason = std::strerror(errno);
        return false;
    }
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            reason = std::strerror(errno); // a folder fails here: "Is a directory"
            ::close(fd);
            return false;
        }
        if (got == 0) break;
        contents.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    bool csv = false;
    bool channelGiven = false;
    TChannelKind channel = TChannelKind::ckUnknown;
    std::vector<std::string> files;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            files.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(kHelp, stdout);
            return 0;
        } else if (arg == "--csv") {
            csv = true;
        } else if (arg == "--channel" || arg.rfind("--channel=", 0) == 0) {
            std::string value;
            if (arg == "--channel") {
                if (i + 1 >= argc) return Usage("--channel needs gps or ais");
                value = argv[++i];
            } else {
                value = arg.substr(10);
            }
            if (value == "gps")
                channel = TChannelKind::ckGps;
            else if (value == "ais")
                channel = TChannelKind::ckAis;
            else
                return Usage("--channel: '" + value + "' is neither gps nor ais");
            channelGiven = true;
        } else {
            return Usage("unknown option '" + arg + "'");
        }
    }
    if (files.empty()) return Usage("no file to analyse");

    TLinkAnalysis analysis;
    std::int64_t now = TLinkAnalysis::kNoTime;
    for (const std::string& path : files) {
        std::string contents, reason;
        if (!ReadFile(path, contents, reason)) {
            std::fprintf(stderr, "brisemer-analyse: cannot read %s: %s\n", path.c_str(), reason.c_str());
            return 1;
        }
        std::int64_t last = TLinkAnalysis::kNoTime;
        if (FeedCapture(contents, analysis, &last)) now = last;
    }
    const TLinkFigures figures = analysis.Figures(now);
    if (!channelGiven && figures.Ais.Fragments > 0) channel = TChannelKind::ckAis;
    const std::string text = csv ? CsvTable(figures) : TextTable(figures, channel);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
