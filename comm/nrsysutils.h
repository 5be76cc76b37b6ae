// nrsysutils: the library's lock and its process-wide instance.
//
// TCriticalSection is recursive for the thread that holds it. The module creates one
// process-wide instance when it initialises (nrsysutilsModule, see nrmodules.h) and
// frees it when it finalises; GlobalCriticalSection() returns it, or null outside that
// window.
#pragma once

#include "nrmodules.h"

#include <mutex>

class TCriticalSection {
public:
    TCriticalSection() = default;
    TCriticalSection(const TCriticalSection&) = delete;
    TCriticalSection& operator=(const TCriticalSection&) = delete;

    void Enter() { fCSect.lock(); }
    void Leave() { fCSect.unlock(); }
    bool TryEnter() { return fCSect.try_lock(); }

    // Lockable, so std::lock_guard<TCriticalSection> works.
    void lock() { Enter(); }
    void unlock() { Leave(); }

private:
    std::recursive_mutex fCSect;
};

TCriticalSection* GlobalCriticalSection();

extern const TLibraryModule nrsysutilsModule;
