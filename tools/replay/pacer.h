// TPacer: the byte schedule of a serial line. A byte takes bitsPerChar bit times on the
// wire (10 for 8N1: start bit, 8 data bits, stop bit), so at `baud` bits per second byte
// number k (counted from 1) has fully arrived at base + k * bitsPerChar / baud.
//
// The schedule is kept against the monotonic clock from one base time, so waking late
// never makes the line drift: the bytes that fell due meanwhile simply go out together.
// Bytes go out in slices of about 5 ms of line time, so a slow line does not mean a
// wake-up per byte. The arithmetic is exact (integers), so byte k is never late or early
// by a rounding error.
//
// Threads: a value owned by one replay channel; not shared.
#pragma once

#include <chrono>
#include <cstdint>

using TReplayClock = std::chrono::steady_clock;

class TPacer {
public:
    TPacer(unsigned baud, double bitsPerChar);

    // Starts the schedule afresh at `now` (after a pause, a burst or a stall).
    void Restart(TReplayClock::time_point now);
    // How many bytes may be written at `now` to keep to the schedule.
    std::uint64_t Allowed(TReplayClock::time_point now) const;
    // Counts bytes that were written.
    void Sent(std::uint64_t count) { fSent += count; }
    // When the next slice of bytes falls due.
    TReplayClock::time_point NextSlice() const;

    std::uint64_t SliceBytes() const { return fSliceBytes; }

private:
    // Whole numbers so that the schedule is exact: bit times in thousandths of a bit.
    std::uint64_t fBaud;
    std::uint64_t fMilliBitsPerChar;
    std::uint64_t fSliceBytes;
    TReplayClock::time_point fBase{};
    std::uint64_t fSent = 0;
};
