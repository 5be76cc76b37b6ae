// Benchmark of the link analysis on its own: bench_analysis [lines] [chunk bytes].
// The GPS and AIS recordings as the replay tool puts them on the wire (CR LF lines,
// headers left out), repeated until `lines` lines (1,000,000 by default), fed in chunks
// of `chunk` bytes (4096: what a busy port delivers), each chunk 1 ms after the last.
// Prints lines per second and MB per second, best of three passes.
#include "linkanalysis.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string WireLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string line, out;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line.front() == '#') continue;
        out += line + "\r\n";
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    const std::size_t lines = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1'000'000;
    const std::size_t chunk = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 4096;
    std::string unit;
    for (const char* name : {"telit-he910.log", "sample.aivdm", "ublox-8.log", "hemi.log"})
        unit += WireLines(std::string(BRISEMER_NMEA_DATA) + "/" + name);
    std::size_t unitLines = 0;
    for (char c : unit) unitLines += c == '\n';
    if (unitLines == 0 || chunk == 0) {
        std::fprintf(stderr, "bench_analysis: no recordings in %s\n", BRISEMER_NMEA_DATA);
        return 1;
    }
    std::string stream;
    std::size_t have = 0;
    while (have < lines) {
        stream += unit;
        have += unitLines;
    }

    double best = 0;
    std::uint64_t counted = 0;
    for (int pass = 0; pass < 3; ++pass) {
        TLinkAnalysis analysis;
        std::int64_t time = 0;
        const auto start = std::chrono::steady_clock::now();
        for (std::size_t at = 0; at < stream.size(); at += chunk) {
            analysis.Feed(std::string_view(stream).substr(at, chunk), time);
            time += 1000;
        }
        const TLinkFigures figures = analysis.Figures(time);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        counted = figures.Lines;
        best = std::max(best, static_cast<double>(figures.Lines) / seconds);
    }
    std::printf("link analysis: %llu lines (%.1f MB) in chunks of %zu bytes: %.0f lines/s, %.1f MB/s (best of 3)\n",
                static_cast<unsigned long long>(counted), stream.size() / 1e6, chunk, best,
                best * (static_cast<double>(stream.size()) / static_cast<double>(counted)) / 1e6);
    return 0;
}
