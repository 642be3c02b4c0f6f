#include "SharedHandles.h"

#include <map>
#include <mutex>

#include "ZoraSystemApi.h"

namespace shared_handle {
namespace {
std::mutex& Lock() {
    static std::mutex lock;
    return lock;
}

std::map<HANDLE, int>& Holders() {
    static std::map<HANDLE, int> holders;
    return holders;
}

bool Real(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
}  // namespace

void Hold(HANDLE handle) {
    if (!Real(handle)) return;
    std::lock_guard<std::mutex> hold(Lock());
    ++Holders()[handle];
}

void Release(HANDLE handle) {
    if (!Real(handle)) return;
    {
        std::lock_guard<std::mutex> hold(Lock());
        auto it = Holders().find(handle);
        if (it != Holders().end() && --it->second > 0) return;
        if (it != Holders().end()) Holders().erase(it);
    }
    ZoraSys()->CloseHandle(handle);
}

}  // namespace shared_handle
