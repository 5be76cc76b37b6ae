// Benchmark of the link analysis on its own: bench_analysis [lines] [chunk bytes] [recording...].
// The GPS and AIS recordings as the replay tool puts them on the wire (CR LF lines,
// headers left out), repeated until `lines` lines (1,000,000 by default), fed in chunks
// of `chunk` bytes (4096: what a busy port delivers), each chunk 1 ms after the last.
// Prints lines per second and MB per second, best of three passes.
#include "linkanalysis.h"
#include "linkanalysisworker.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

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
    std::vector<std::string> names = {"telit-he910.log", "sample.aivdm", "ublox-8.log", "hemi.log"};
    if (argc > 3) names.assign(argv + 3, argv + argc);
    for (const std::string& name : names)
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

    // The same through the worker thread, as the program feeds it: what the whole process
    // spends per MB (the copy, the wake-ups, the analysis), against the direct analysis.
    for (const bool worker : {false, true}) {
        double cpuBest = 1e9;
        for (int pass = 0; pass < 3; ++pass) {
            const double cpu0 = ProcessCpuSeconds();
            {
                TLinkAnalysis direct;
                TLinkAnalysisWorker queued;
                std::int64_t time = 0;
                for (std::size_t at = 0; at < stream.size(); at += chunk) {
                    const std::string_view piece = std::string_view(stream).substr(at, chunk);
                    const auto* bytes = reinterpret_cast<const std::uint8_t*>(piece.data());
                    if (worker) queued.Feed(bytes, piece.size(), time);
                    else direct.Feed(bytes, piece.size(), time);
                    time += 1000;
                }
                (worker ? queued.Figures(time) : direct.Figures(time));
            }
            cpuBest = std::min(cpuBest, ProcessCpuSeconds() - cpu0);
        }
        std::printf("%s: %.2f ms of CPU per MB (best of 3)\n", worker ? "through the worker thread" : "fed directly",
                    cpuBest * 1e3 / (static_cast<double>(stream.size()) / 1e6));
    }

    // What the receiving thread pays per delivery at ship rates: a line-sized piece queued.
    {
        constexpr std::size_t kPiece = 40;
        // Below the queue's bound: the feeding thread never analyses itself here.
        const std::size_t pieces = std::min(stream.size() / kPiece, TLinkAnalysisWorker::kMaxQueued / kPiece - 1);
        double bestSeconds = 1e9;
        for (int pass = 0; pass < 3; ++pass) {
            TLinkAnalysisWorker queued;
            const auto start = std::chrono::steady_clock::now();
            for (std::size_t i = 0; i < pieces; ++i)
                queued.Feed(reinterpret_cast<const std::uint8_t*>(stream.data()) + i * kPiece, kPiece,
                            static_cast<std::int64_t>(i) * 1000);
            bestSeconds = std::min(bestSeconds, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
        std::printf("receiving thread: %.0f ns per %zu-byte delivery queued (best of 3)\n",
                    bestSeconds * 1e9 / static_cast<double>(pieces), kPiece);
    }
    return 0;
}
