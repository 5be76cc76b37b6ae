// brisemer-replay: replays NMEA and AIS recordings into pseudo-terminals at the pace of
// a serial line, for testing without a GPS receiver or an AIS transponder. See --help.
#include "replayerror.h"
#include "replayoptions.h"
#include "replayrunner.h"

#include <csignal>
#include <cstdio>
#include <sys/prctl.h>
#include <unistd.h>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    TReplayOptions options;
    try {
        options = ParseReplayOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const TUsageError& error) {
        std::fprintf(stderr, "brisemer-replay: %s\nTry 'brisemer-replay --help' for more information.\n",
                     error.what());
        return 2;
    }
    if (options.Help) {
        std::fputs(ReplayHelpText().c_str(), stdout);
        return 0;
    }
    if (options.WithParent) {
        const pid_t parent = getppid();
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) return 0; // the parent ended before the watch was set
    }
    try {
        TReplayRunner runner(std::move(options));
        return runner.Run();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "brisemer-replay: %s\n", error.what());
        return 1;
    }
}
