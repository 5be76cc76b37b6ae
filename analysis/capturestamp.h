// The timestamped form of a capture file: every received line preceded by the UTC time
// its first byte arrived, to the millisecond, and one blank:
//
//   2026-12-10T08:39:10.123Z $GPGGA,083910.00,...*5C<CR><LF>
//
// The line's bytes follow exactly as received, its CR, LF or CR LF included. A new stamp
// goes before the first byte after an LF, or after a CR that no LF follows.
//
//   TCaptureStamper::Stamp(bytes, n, utcMicros, out)   appends the bytes to `out`, with
//                                                       the stamps they call for
//   UtcStamp(utcMicros)                                 "2026-12-10T08:39:10.123Z "
//   ParseUtcStamp(line, utcMicros)                      length of the stamp that starts
//                                                       the line (blank included), else 0
//
// Threads: a plain value; one owner at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

inline constexpr std::size_t kUtcStampLength = 25;

std::string UtcStamp(std::int64_t utcMicros);
std::size_t ParseUtcStamp(std::string_view line, std::int64_t& utcMicros);

class TCaptureStamper {
public:
    void Stamp(const std::uint8_t* data, std::size_t size, std::int64_t utcMicros, std::string& out);

private:
    bool fAtLineStart = true;
    bool fAfterCr = false;
};
