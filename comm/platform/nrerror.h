// The last error of the platform layer, kept per thread as the operating system's
// errno value, and its text.
//
// A platform call that fails sets the last error from errno right after the failing
// system call (never later: errno is only meaningful then); the portable code reads it
// with GetLastError() and shows SysErrorMessage() to the user.
#pragma once

#include <QString>
#include <cstdint>

std::uint32_t GetLastError();
void SetLastError(std::uint32_t code);
// Sets the last error from the current errno and returns false, for `return Fail();`.
bool FailWithErrno();
// The operating system's text for an error code, in the user's language.
QString SysErrorMessage(std::uint32_t code);
