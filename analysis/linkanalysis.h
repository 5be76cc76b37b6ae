// TLinkAnalysis: how healthy one serial channel is, from the bytes it receives.
//
//   Feed(bytes, n, time)    the bytes of one delivery, all arrived at `time`
//   LineErrors(errors)      errors the port reported (framing, parity, overrun, break)
//   EndOfInput()            a file has ended: its last line counts even without an end
//   Figures(now)            everything counted so far, as seen at `now`
//   Reset()                 starts again from nothing
//
// Lines end at CR, LF or CR LF here (the panes keep their own rule: CR only). A line
// that starts with '$' or '!' is a sentence; its key is the address field, up to the
// first comma (or '*', or the end). The checksum field is the line's last '*': two hex
// digits (either case) equal to the XOR of every byte between the start character and
// that '*' make it good; any other text after it makes it false; no '*' at all means
// it is missing. AIS sentences (xxVDM, xxVDO) whose checksum is not false go on to the
// reassembler (aisreassembler.h).
//
// What does not fit the rules is counted, never refused: a line that is not a sentence,
// a sentence with an empty or unreadable address (not letters and digits, or longer
// than kMaxKeyLength), keys beyond the kMaxKeys distinct ones, and lines longer than
// kMaxLineKept bytes (no sentence is that long; only its length is kept) all go to the
// row "(other)". Memory stays bounded whatever arrives.
//
// Times are microseconds on one steady clock, chosen by the caller; kNoTime means the
// time of arrival is not known (a plain recording): the time figures are then left out.
//
// Threads: none of its own; one owner thread calls everything.
#pragma once

#include "aisreassembler.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct TSentenceFigures {
    std::string Key;
    std::uint64_t Count = 0;
    std::uint64_t ChecksumOk = 0;
    std::uint64_t ChecksumBad = 0;
    std::uint64_t ChecksumMissing = 0;
    // Sentences per second over the last 10 s: (n - 1) / (last - first) of the n seen in
    // that window; empty with fewer than two or no known times.
    std::optional<double> RateHz;
    std::optional<double> MeanIntervalS;
    std::optional<double> WorstIntervalS;
    std::int64_t LastSeen = INT64_MIN; // microseconds, kNoTime when unknown
    std::string LastLine;              // at most kMaxLastLine bytes
};

struct TLineErrorFigures {
    std::uint64_t Framing = 0;
    std::uint64_t Parity = 0;
    std::uint64_t Overrun = 0;
    std::uint64_t Break = 0;
    std::uint64_t Total() const { return Framing + Parity + Overrun + Break; }
};

struct TLinkFigures {
    std::uint64_t Bytes = 0;
    std::uint64_t NonPrintable = 0;   // bytes outside 0x20-0x7E other than CR and LF
    std::uint64_t Lines = 0;          // non-empty lines
    std::uint64_t LinesCrLf = 0;
    std::uint64_t LinesCr = 0;        // ended by a CR that no LF followed
    std::uint64_t LinesLf = 0;        // ended by an LF alone
    std::uint64_t LinesUnended = 0;   // cut by the end of the input
    std::uint64_t LongLines = 0;      // longer than 82 characters (line ends not counted)
    std::uint64_t Sentences = 0;      // lines counted under a sentence key
    std::optional<double> LongestSilenceS; // from a line's end to the next byte
    std::int64_t LastByte = INT64_MIN;
    std::int64_t Now = INT64_MIN;
    std::vector<TSentenceFigures> Keys; // by key, in byte order
    TSentenceFigures Other;             // Key "(other)"
    TAisFigures Ais;
    TLineErrorFigures LineErrors;
};

class TLinkAnalysis {
public:
    static constexpr std::int64_t kNoTime = TAisReassembler::kNoTime;
    static constexpr std::size_t kMaxKeys = 256;
    static constexpr std::size_t kMaxKeyLength = 15;
    static constexpr std::size_t kMaxLineKept = 1024;
    static constexpr std::size_t kMaxLastLine = 200;
    static constexpr std::int64_t kRateWindow = 10'000'000; // 10 s
    static constexpr const char* kOtherKey = "(other)";

    // Bits of LineErrors().
    enum TLineError : unsigned { leFraming = 1, leParity = 2, leOverrun = 4, leBreak = 8 };

    TLinkAnalysis();

    void Feed(const std::uint8_t* data, std::size_t size, std::int64_t time);
    void Feed(std::string_view bytes, std::int64_t time) {
        Feed(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), time);
    }
    void LineErrors(unsigned errors);
    void EndOfInput();
    void Reset();

    TLinkFigures Figures(std::int64_t now);

private:
    // Arrival times of one key's recent sentences, a fixed ring.
    static constexpr std::size_t kRecentTimes = 512;
    struct TKey {
        TSentenceFigures Figures;
        std::int64_t First = kNoTime;
        std::int64_t Last = kNoTime;
        std::int64_t Worst = -1;
        std::vector<std::int64_t> Recent; // ring of kRecentTimes once full
        std::size_t RecentNext = 0;
    };
    enum class TEnding { Lf, Cr, CrLf, Unended };

    void EndLine(TEnding ending, std::int64_t time);
    void Sentence(std::string_view line, std::int64_t time);
    TKey& KeyFor(std::string_view key);
    static void Seen(TKey& key, std::int64_t time, std::string_view line);
    static TSentenceFigures FiguresOf(const TKey& key, std::int64_t now);

    // Looked up by the key's bytes in the line, without making a string of them.
    struct THash {
        using is_transparent = void;
        std::size_t operator()(std::string_view key) const { return std::hash<std::string_view>{}(key); }
    };
    std::unordered_map<std::string, TKey, THash, std::equal_to<>> fKeys;
    struct TKeyCache {
        std::uint64_t Words[2]; // the key's bytes, zero-padded (keys hold no NUL)
        TKey* Key;
    };
    std::array<TKeyCache, 16> fCache{};
    std::size_t fCached = 0;
    TKey fOther;
    TAisReassembler fAis;
    TLinkFigures fCounts; // the plain counters; Keys and Other are filled by Figures()

    std::string fLine;            // the line being received, up to kMaxLineKept bytes
    std::size_t fLineLength = 0;  // its whole length
    bool fAfterCr = false;        // the last byte was a CR: an LF now completes CR LF
    bool fLastCrCounted = false;  // that CR ended a counted line
    std::int64_t fLastLineEnd = kNoTime;
    std::int64_t fLongestSilence = -1;
};
