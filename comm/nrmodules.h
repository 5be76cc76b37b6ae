// Start-up and shut-down of the library modules.
//
// Each module that keeps process-wide objects exposes a TLibraryModule. A program
// initialises its modules, in the order it needs, before it creates any window, and
// finalises them in reverse order when it ends:
//
//     TLibraryModules modules{nrcommModule, nrsysutilsModule, nrsemaphoreModule, VrLedsModule};
//
// Initialising a module twice does nothing more; so does finalising it twice.
#pragma once

#include <initializer_list>
#include <vector>

struct TLibraryModule {
    const char* Name;
    void (*Initialize)();
    void (*Finalize)();
};

class TLibraryModules {
public:
    TLibraryModules(std::initializer_list<TLibraryModule> modules);
    ~TLibraryModules();
    TLibraryModules(const TLibraryModules&) = delete;
    TLibraryModules& operator=(const TLibraryModules&) = delete;

private:
    std::vector<TLibraryModule> fModules;
};
