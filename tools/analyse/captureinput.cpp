#include "captureinput.h"

#include "capturestamp.h"

bool FeedCapture(std::string_view bytes, TLinkAnalysis& analysis, std::int64_t* lastTime) {
    // Where the first line that is not a header starts decides the form of the file.
    std::size_t first = 0;
    while (first < bytes.size() && bytes[first] == '#') {
        const auto feed = bytes.find('\n', first);
        first = feed == std::string_view::npos ? bytes.size() : feed + 1;
    }
    std::int64_t time = TLinkAnalysis::kNoTime;
    const bool stamped = ParseUtcStamp(bytes.substr(first), time) != 0;

    std::size_t at = 0;
    bool lineStart = true;
    while (at < bytes.size()) {
        if (lineStart && bytes[at] == '#') {
            const auto feed = bytes.find('\n', at);
            at = feed == std::string_view::npos ? bytes.size() : feed + 1;
            continue;
        }
        if (lineStart && stamped) at += ParseUtcStamp(bytes.substr(at), time);
        // The bytes up to the next place a stamp or a header may start: after an LF, or
        // after a CR that no LF follows.
        std::size_t end = at;
        while (end < bytes.size()) {
            const char c = bytes[end++];
            if (c == '\n') break;
            if (c == '\r' && (end == bytes.size() || bytes[end] != '\n')) break;
        }
        analysis.Feed(bytes.substr(at, end - at), time);
        lineStart = true;
        at = end;
    }
    analysis.EndOfInput();
    if (lastTime) *lastTime = time;
    return stamped;
}
