// How long a read or a write may take, from the port's timeouts record, with the rules
// of the classic serial API:
//
//   read, all values 0                       wait until all n bytes arrived
//   ReadIntervalTimeout = MAXDWORD, rest 0   return at once with what is waiting
//   interval MAXDWORD, multiplier MAXDWORD,  return what is waiting; if nothing is, wait
//   0 < constant < MAXDWORD                  up to `constant` ms for the first byte
//   otherwise                                total = multiplier * n + constant (0: none);
//                                            interval: the longest pause after the first
//                                            byte (0: none)
//   write                                    total = multiplier * n + constant (0: none)
//
// Threads: plain values, no shared state.
#pragma once

#include "nrserialapi.h"

#include <chrono>
#include <cstdint>
#include <optional>

inline constexpr std::uint32_t MAXDWORD = 0xFFFFFFFFu;

struct TnrReadPlan {
    // Return with what is waiting, even nothing, without waiting at all.
    bool Immediate = false;
    // Return as soon as at least one byte was read.
    bool ReturnOnFirstByte = false;
    std::optional<std::chrono::milliseconds> Total;
    std::optional<std::chrono::milliseconds> Interval;
};

TnrReadPlan PlanRead(const TCommTimeouts& t, std::uint32_t n);
// The time a write of n bytes may take; none means until everything is queued.
std::optional<std::chrono::milliseconds> PlanWrite(const TCommTimeouts& t, std::uint32_t n);
