#include "nrmodules.h"

TLibraryModules::TLibraryModules(std::initializer_list<TLibraryModule> modules) : fModules(modules) {
    for (const auto& m : fModules)
        if (m.Initialize)
            m.Initialize();
}

TLibraryModules::~TLibraryModules() {
    for (auto it = fModules.rbegin(); it != fModules.rend(); ++it)
        if (it->Finalize)
            it->Finalize();
}
