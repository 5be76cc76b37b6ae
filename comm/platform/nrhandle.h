// Handles of the platform layer.
//
// A THandle names an open device object (a serial port, or a fake one in tests). The
// table holds a shared reference to each object, so a thread that looked a handle up
// keeps its object alive while it uses it, even when another thread closes the handle
// meanwhile: CloseHandle removes the entry and calls Close(), which must wake every
// pending wait on the object; later lookups of that handle fail. Handles are never
// reused within a process, so a stale handle can't reach a newer device.
//
// Threads: every function here may be called from any thread.
#pragma once

#include <cstdint>
#include <memory>

using THandle = std::intptr_t;
inline constexpr THandle INVALID_HANDLE_VALUE = -1;

class TnrHandleObject {
public:
    virtual ~TnrHandleObject() = default;
    // Releases the device; pending waits on it end. Called once, by CloseHandle.
    virtual void Close() = 0;
};

THandle RegisterHandle(std::shared_ptr<TnrHandleObject> object);
std::shared_ptr<TnrHandleObject> LookupHandle(THandle handle);

template <class T> std::shared_ptr<T> LookupHandleAs(THandle handle) {
    return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

// False, with EBADF as the last error, for a handle that is not open.
bool CloseHandle(THandle handle);
