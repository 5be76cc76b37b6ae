#include "replayerror.h"

#include <cerrno>
#include <cstring>

std::string SystemMessage(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

void ThrowSystemError(const std::string& what) {
    throw TReplayError(SystemMessage(what, errno));
}
