// TRecording: an NMEA or AIS recording cut into the pieces the replay sends one after
// another: text lines, NMEA/AIS sentences and binary receiver frames.
//
// Prepared for the wire (the default): lines starting with '#' are file headers and
// blank lines carry nothing, both are left out; every line goes out ended by CR LF,
// whether the file stored CR LF or LF only; binary UBX frames (sync 0xB5 0x62, valid
// checksum) found at the start of a line pass through byte for byte, even when their
// payload holds 0x0A. Raw: the file's bytes exactly as they are, cut after each LF.
//
// Threads: immutable after loading; share freely.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class TRecordKind {
    rkSentence, // a line starting with '$' (NMEA) or '!' (AIS encapsulation)
    rkText,     // any other line
    rkBinary,   // a binary receiver frame
};

struct TRecord {
    std::string Bytes;
    TRecordKind Kind = TRecordKind::rkText;
    bool EndsLine = false; // the record's last byte is a line feed
};

class TRecording {
public:
    // Reads a recording file; throws TReplayError naming the file when it cannot be read.
    static TRecording Load(const std::string& path, bool raw);
    // Cuts bytes already in memory (`name` is only used in messages).
    static TRecording Parse(std::string_view bytes, bool raw, const std::string& name);

    const std::string& Name() const { return fName; }
    const std::vector<TRecord>& Records() const { return fRecords; }
    std::uint64_t ByteCount() const { return fByteCount; }
    bool Empty() const { return fByteCount == 0; }

private:
    std::string fName;
    std::vector<TRecord> fRecords;
    std::uint64_t fByteCount = 0;
};

// Length of the complete UBX frame with a valid checksum starting at `at`, else 0.
size_t UbxFrameLength(std::string_view bytes, size_t at);
