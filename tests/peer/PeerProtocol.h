#pragma once
// What the test peer program answers, shared by the peer and the tests.
#include <cstdint>
#include <cwchar>

// Request codes the test answerer treats specially; every other code (but 0, which
// is refused as the service refuses it) is answered with PeerResult.
enum PeerTestCode : uint32_t {
    PeerSlowRequest = 100,     // sleeps dwParam ms, then answers
    PeerSwallowRequest = 101,  // lowers the request event and never answers
    PeerFailureNotice = 102,   // answers with status 2 instead of 1
};

// The result the answerer derives from a request: FNV-1a over the data's characters,
// mixed with the parameter, so that every client can check it got its own answer.
inline uint32_t PeerResult(uint32_t param, const wchar_t* data) {
    uint32_t hash = 2166136261u;
    for (; *data; ++data) hash = (hash ^ static_cast<uint16_t>(*data)) * 16777619u;
    return (hash ^ param) & 0x7fffffffu;
}
