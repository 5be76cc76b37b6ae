#include "nrerror.h"

#include <cerrno>
#include <cstring>

namespace {
thread_local std::uint32_t tLastError = 0;
}

std::uint32_t GetLastError() { return tLastError; }

void SetLastError(std::uint32_t code) { tLastError = code; }

bool FailWithErrno() {
    tLastError = static_cast<std::uint32_t>(errno);
    return false;
}

QString SysErrorMessage(std::uint32_t code) {
    char buffer[256];
    // GNU strerror_r returns the text, which may or may not live in buffer.
    const char* text = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
    return QString::fromLocal8Bit(text);
}
