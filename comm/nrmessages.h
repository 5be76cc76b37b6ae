// Window messages of the library: the message record and the registered messages.
//
// RegisterWindowMessage gives each name a process-wide identifier in 0xC000..0xFFFF; the
// same name (compared case-insensitively) always gives the same identifier. It returns 0
// when the range is used up. Thread-safe.
#pragma once

#include <QString>
#include <cstdint>

struct TMessage {
    std::uint32_t Msg = 0;
    std::uintptr_t WParam = 0;
    std::intptr_t LParam = 0;
    std::intptr_t Result = 0;
};

inline constexpr std::uint32_t WM_TIMER = 0x0113;
inline constexpr std::uint32_t WM_DEVICECHANGE = 0x0219;

std::uint32_t RegisterWindowMessage(const QString& name);
