// Errors of the replay tool. Every message names the file or device it is about and,
// where the operating system refused something, carries the system's reason.
//
// Threads: plain value types, usable from any thread.
#pragma once

#include <stdexcept>
#include <string>

// A failure while replaying: a file or device could not be used. Exit code 1.
class TReplayError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A command line that cannot be understood. Exit code 2.
class TUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "<what>: <strerror(error)>", for messages about a failed system call.
std::string SystemMessage(const std::string& what, int error);

// Throws TReplayError with SystemMessage(what, errno); call right after the failed call.
[[noreturn]] void ThrowSystemError(const std::string& what);
