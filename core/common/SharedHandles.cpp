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

void CloseDevice(HANDLE handle) { ZoraSys()->CloseHandle(handle); }

void CloseKernel(HANDLE handle) { CloseHandle(handle); }

void Hold(HANDLE handle) {
    if (!Real(handle)) return;
    std::lock_guard<std::mutex> hold(Lock());
    ++Holders()[handle];
}

void Release(HANDLE handle, Closer close) {
    if (!Real(handle)) return;
    {
        std::lock_guard<std::mutex> hold(Lock());
        auto it = Holders().find(handle);
        if (it != Holders().end() && --it->second > 0) return;
        if (it != Holders().end()) Holders().erase(it);
    }
    close(handle);
}

void Assign(HANDLE* target, HANDLE source, Closer close) {
    Hold(source);
    Release(*target, close);
    *target = source;
}

}  // namespace shared_handle
