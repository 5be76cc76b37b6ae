#include "linkanalysis.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kLongLine = 82;

bool KeyCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

enum class TChecksum { Ok, Bad, Missing };

// Bytes outside 0x20-0x7E, written so the compiler turns it into vector code.
std::size_t CountNonPrintable(const std::uint8_t* p, std::size_t n) {
    std::size_t odd = 0;
    for (std::size_t i = 0; i < n; ++i) odd += static_cast<std::uint8_t>(p[i] - 0x20) > 0x5E;
    return odd;
}

// The first CR or LF in [p, end), or end: two library scans beat one loop over both.
const std::uint8_t* LineEnd(const std::uint8_t* p, const std::uint8_t* end) {
    const auto n = static_cast<std::size_t>(end - p);
    auto* cr = static_cast<const std::uint8_t*>(std::memchr(p, '\r', n));
    const std::size_t before = cr ? static_cast<std::size_t>(cr - p) : n;
    auto* lf = static_cast<const std::uint8_t*>(std::memchr(p, '\n', before));
    return lf ? lf : (cr ? cr : end);
}

// `body` is the line without its start character. On return `body` ends before the '*'.
TChecksum CheckSum(std::string_view& body) {
    const auto star = body.rfind('*');
    if (star == std::string_view::npos) return TChecksum::Missing;
    const std::string_view digits = body.substr(star + 1);
    body = body.substr(0, star);
    if (digits.size() != 2) return TChecksum::Bad;
    const int high = HexDigit(digits[0]);
    const int low = HexDigit(digits[1]);
    if (high < 0 || low < 0) return TChecksum::Bad;
    unsigned char sum = 0;
    for (char c : body) sum ^= static_cast<unsigned char>(c);
    return sum == ((high << 4) | low) ? TChecksum::Ok : TChecksum::Bad;
}

std::optional<double> Seconds(std::int64_t micros) {
    if (micros < 0) return std::nullopt;
    return static_cast<double>(micros) / 1e6;
}

} // namespace

TLinkAnalysis::TLinkAnalysis() {
    fLine.reserve(kMaxLineKept);
    fOther.Figures.Key = kOtherKey;
}

void TLinkAnalysis::Feed(const std::uint8_t* data, std::size_t size, std::int64_t time) {
    if (size == 0) return;
    fCounts.Bytes += size;
    fCounts.LastByte = time;
    const std::uint8_t* p = data;
    const std::uint8_t* end = data + size;
    while (p < end) {
        // The bytes up to the next line end, counted and kept in one go.
        const std::uint8_t* stop = LineEnd(p, end);
        if (stop > p) {
            fAfterCr = false;
            fCounts.NonPrintable += CountNonPrintable(p, static_cast<std::size_t>(stop - p));
            if (fLineLength == 0 && fLastLineEnd != kNoTime && time != kNoTime)
                fLongestSilence = std::max(fLongestSilence, time - fLastLineEnd);
            const std::size_t n = static_cast<std::size_t>(stop - p);
            if (fLineLength < kMaxLineKept)
                fLine.append(reinterpret_cast<const char*>(p), std::min(n, kMaxLineKept - fLineLength));
            fLineLength += n;
            p = stop;
            if (p == end) break;
        }
        if (*p == '\r') {
            EndLine(TEnding::Cr, time);
            fAfterCr = true;
        } else if (fAfterCr) {
            EndLine(TEnding::CrLf, time);
            fAfterCr = false;
        } else {
            EndLine(TEnding::Lf, time);
        }
        ++p;
    }
}

// A CR ends the line at once (the panes' rule); an LF right after it only turns that
// line's ending from CR into CR LF.
void TLinkAnalysis::EndLine(TEnding ending, std::int64_t time) {
    if (ending == TEnding::CrLf) {
        // The line was counted at its CR (an empty one was not counted at all).
        if (fLastCrCounted) {
            --fCounts.LinesCr;
            ++fCounts.LinesCrLf;
            fLastCrCounted = false;
        }
        return;
    }
    fLastCrCounted = false;
    if (fLineLength == 0) return;
    ++fCounts.Lines;
    switch (ending) {
    case TEnding::Lf: ++fCounts.LinesLf; break;
    case TEnding::Cr:
        ++fCounts.LinesCr;
        fLastCrCounted = true;
        break;
    case TEnding::Unended: ++fCounts.LinesUnended; break;
    case TEnding::CrLf: break;
    }
    if (fLineLength > kLongLine) ++fCounts.LongLines;
    if (time != kNoTime) fLastLineEnd = time;

    const std::string_view line(fLine);
    if (fLineLength <= kMaxLineKept && (line.front() == '$' || line.front() == '!'))
        Sentence(line, time);
    else
        Seen(fOther, time, line);
    fLine.clear();
    fLineLength = 0;
}

void TLinkAnalysis::Sentence(std::string_view line, std::int64_t time) {
    std::string_view body = line.substr(1);
    const TChecksum checksum = CheckSum(body);
    const auto comma = body.find(',');
    const std::string_view key = body.substr(0, comma);
    const bool readable = !key.empty() && key.size() <= kMaxKeyLength && std::all_of(key.begin(), key.end(), KeyCharacter);

    TKey& entry = readable ? KeyFor(key) : fOther;
    Seen(entry, time, line);
    if (&entry != &fOther) ++fCounts.Sentences;
    switch (checksum) {
    case TChecksum::Ok: ++entry.Figures.ChecksumOk; break;
    case TChecksum::Bad: ++entry.Figures.ChecksumBad; break;
    case TChecksum::Missing: ++entry.Figures.ChecksumMissing; break;
    }
    if (readable && checksum != TChecksum::Bad && TAisReassembler::IsAisKey(key))
        fAis.Sentence(key, comma == std::string_view::npos ? std::string_view() : body.substr(comma + 1), time);
}

TLinkAnalysis::TKey& TLinkAnalysis::KeyFor(std::string_view key) {
    // A device sends a handful of keys over and over: they are compared as two words
    // before the map is asked (its entries never move).
    std::uint64_t words[2] = {0, 0};
    std::memcpy(words, key.data(), key.size()); // at most kMaxKeyLength (15) bytes
    for (std::size_t i = 0; i < fCached; ++i)
        if (fCache[i].Words[0] == words[0] && fCache[i].Words[1] == words[1]) return *fCache[i].Key;
    TKey* entry = nullptr;
    if (const auto found = fKeys.find(key); found != fKeys.end()) {
        entry = &found->second;
    } else {
        if (fKeys.size() >= kMaxKeys) return fOther;
        entry = &fKeys[std::string(key)];
        entry->Figures.Key = std::string(key);
    }
    if (fCached < fCache.size()) fCache[fCached++] = TKeyCache{{words[0], words[1]}, entry};
    return *entry;
}

void TLinkAnalysis::Seen(TKey& key, std::int64_t time, std::string_view line) {
    ++key.Figures.Count;
    key.Figures.LastLine.assign(line.substr(0, kMaxLastLine));
    if (time == kNoTime) return;
    if (key.Last != kNoTime) key.Worst = std::max(key.Worst, time - key.Last);
    if (key.First == kNoTime) key.First = time;
    key.Last = time;
    key.Figures.LastSeen = time;
    if (key.Recent.size() < kRecentTimes) {
        key.Recent.push_back(time);
    } else {
        key.Recent[key.RecentNext] = time;
        key.RecentNext = (key.RecentNext + 1) % kRecentTimes;
    }
}

void TLinkAnalysis::LineErrors(unsigned errors) {
    if (errors & leFraming) ++fCounts.LineErrors.Framing;
    if (errors & leParity) ++fCounts.LineErrors.Parity;
    if (errors & leOverrun) ++fCounts.LineErrors.Overrun;
    if (errors & leBreak) ++fCounts.LineErrors.Break;
}

void TLinkAnalysis::EndOfInput() {
    EndLine(TEnding::Unended, fCounts.LastByte);
    fAfterCr = false;
    fLastCrCounted = false;
    fAis.Finish();
}

void TLinkAnalysis::Reset() {
    fCached = 0;
    fKeys.clear();
    fOther = TKey{};
    fOther.Figures.Key = kOtherKey;
    fAis.Reset();
    fCounts = TLinkFigures{};
    fLine.clear();
    fLineLength = 0;
    fAfterCr = false;
    fLastCrCounted = false;
    fLastLineEnd = kNoTime;
    fLongestSilence = -1;
}

TSentenceFigures TLinkAnalysis::FiguresOf(const TKey& key, std::int64_t now) {
    TSentenceFigures figures = key.Figures;
    if (key.First == kNoTime) return figures;
    if (figures.Count >= 2 && key.Last > key.First) {
        figures.MeanIntervalS = Seconds(key.Last - key.First).value() / static_cast<double>(figures.Count - 1);
        figures.WorstIntervalS = Seconds(key.Worst);
    } else if (figures.Count >= 2) {
        figures.MeanIntervalS = 0.0;
        figures.WorstIntervalS = 0.0;
    }
    if (now == kNoTime) return figures;
    std::int64_t first = INT64_MAX, last = INT64_MIN;
    std::uint64_t inWindow = 0;
    for (std::int64_t t : key.Recent) {
        if (t > now || now - t > kRateWindow) continue;
        ++inWindow;
        first = std::min(first, t);
        last = std::max(last, t);
    }
    if (inWindow >= 2 && last > first)
        figures.RateHz = static_cast<double>(inWindow - 1) * 1e6 / static_cast<double>(last - first);
    return figures;
}

TLinkFigures TLinkAnalysis::Figures(std::int64_t now) {
    fAis.Expire(now);
    TLinkFigures figures = fCounts;
    figures.Now = now;
    figures.LongestSilenceS = Seconds(fLongestSilence);
    figures.Keys.reserve(fKeys.size());
    for (const auto& [name, key] : fKeys) figures.Keys.push_back(FiguresOf(key, now));
    std::sort(figures.Keys.begin(), figures.Keys.end(),
              [](const TSentenceFigures& a, const TSentenceFigures& b) { return a.Key < b.Key; });
    figures.Other = FiguresOf(fOther, now);
    figures.Ais = fAis.Figures();
    return figures;
}
