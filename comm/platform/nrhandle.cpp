#include "nrhandle.h"

#include "nrerror.h"

#include <cerrno>
#include <mutex>
#include <unordered_map>

namespace {
std::mutex gLock;
std::unordered_map<THandle, std::shared_ptr<TnrHandleObject>> gTable;
THandle gNext = 0x100;
} // namespace

THandle RegisterHandle(std::shared_ptr<TnrHandleObject> object) {
    if (!object)
        return INVALID_HANDLE_VALUE;
    std::lock_guard g(gLock);
    const THandle h = gNext++;
    gTable.emplace(h, std::move(object));
    return h;
}

std::shared_ptr<TnrHandleObject> LookupHandle(THandle handle) {
    std::lock_guard g(gLock);
    auto it = gTable.find(handle);
    return it == gTable.end() ? nullptr : it->second;
}

bool CloseHandle(THandle handle) {
    std::shared_ptr<TnrHandleObject> object;
    {
        std::lock_guard g(gLock);
        auto it = gTable.find(handle);
        if (it == gTable.end()) {
            SetLastError(EBADF);
            return false;
        }
        object = std::move(it->second);
        gTable.erase(it);
    }
    object->Close();
    return true;
}
