#include "nrtimeoutplan.h"

namespace {

// multiplier * n + constant, in 64 bits: the record's values are 32-bit and a large
// transfer times a large multiplier must not wrap into a short timeout.
std::optional<std::chrono::milliseconds> TotalTime(std::uint32_t multiplier, std::uint32_t constant,
                                                   std::uint32_t n) {
    const std::uint64_t total = std::uint64_t(multiplier) * n + constant;
    if (total == 0) return std::nullopt;
    return std::chrono::milliseconds(static_cast<std::int64_t>(total));
}

} // namespace

TnrReadPlan PlanRead(const TCommTimeouts& t, std::uint32_t n) {
    TnrReadPlan plan;
    if (t.ReadIntervalTimeout == MAXDWORD) {
        if (t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0) {
            plan.Immediate = true;
            return plan;
        }
        if (t.ReadTotalTimeoutMultiplier == MAXDWORD && t.ReadTotalTimeoutConstant != 0 &&
            t.ReadTotalTimeoutConstant != MAXDWORD) {
            plan.ReturnOnFirstByte = true;
            plan.Total = std::chrono::milliseconds(t.ReadTotalTimeoutConstant);
            return plan;
        }
    }
    plan.Total = TotalTime(t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant, n);
    if (t.ReadIntervalTimeout != 0) plan.Interval = std::chrono::milliseconds(t.ReadIntervalTimeout);
    return plan;
}

std::optional<std::chrono::milliseconds> PlanWrite(const TCommTimeouts& t, std::uint32_t n) {
    return TotalTime(t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant, n);
}
