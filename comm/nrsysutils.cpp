#include "nrsysutils.h"

namespace {
TCriticalSection* gCriticalSection = nullptr;

void Initialize() {
    if (!gCriticalSection)
        gCriticalSection = new TCriticalSection;
}

void Finalize() {
    delete gCriticalSection;
    gCriticalSection = nullptr;
}
} // namespace

TCriticalSection* GlobalCriticalSection() { return gCriticalSection; }

const TLibraryModule nrsysutilsModule{"nrsysutils", &Initialize, &Finalize};
