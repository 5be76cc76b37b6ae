#include "pacer.h"

#include <algorithm>
#include <cmath>

namespace {

using TWide = unsigned __int128; // nanoseconds times baud overflow 64 bits after hours

constexpr std::uint64_t kNanosPerMilliBit = 1000000; // 1e9 ns per second / 1000

} // namespace

TPacer::TPacer(unsigned baud, double bitsPerChar)
    : fBaud(std::max(1u, baud)), fMilliBitsPerChar(std::max<std::uint64_t>(
                                     1, static_cast<std::uint64_t>(std::llround(bitsPerChar * 1000)))),
      // bytes in 5 ms = 0.005 * baud / bits = 5 * baud / milliBits
      fSliceBytes(std::max<std::uint64_t>(1, 5 * fBaud / fMilliBitsPerChar)) {}

void TPacer::Restart(TReplayClock::time_point now) {
    fBase = now;
    fSent = 0;
}

std::uint64_t TPacer::Allowed(TReplayClock::time_point now) const {
    if (now <= fBase) return 0;
    const auto elapsed = static_cast<std::uint64_t>(std::chrono::nanoseconds(now - fBase).count());
    const auto due =
        static_cast<std::uint64_t>(TWide(elapsed) * fBaud / (TWide(fMilliBitsPerChar) * kNanosPerMilliBit));
    return due > fSent ? due - fSent : 0;
}

TReplayClock::time_point TPacer::NextSlice() const {
    const TWide bits = TWide(fSent + fSliceBytes) * fMilliBitsPerChar * kNanosPerMilliBit;
    const auto nanos = static_cast<std::int64_t>((bits + fBaud - 1) / fBaud); // rounded up
    return fBase + std::chrono::nanoseconds(nanos);
}
