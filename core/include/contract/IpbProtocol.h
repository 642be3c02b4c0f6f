#pragma once
// The request channel between library callers and the service: board names and
// sizes, the record at the head of every request and answer, and the task codes.
// Both sides include this header and nothing else defines the protocol.

#include <cstddef>
#include <cstdint>

// The fixed head of a request (client to service) and of an answer (service to
// client). No pointer-sized field: 32-bit and 64-bit processes share it unchanged.
struct IpbDataHeader {
    uint32_t dwCode;     // request: task code; answer: status, 1 = answered
    uint32_t dwParam;    // request: task parameter; answer: the task's result
    uint32_t dwDataLen;  // request: bytes of data after the header; answer: 0
};
static_assert(sizeof(IpbDataHeader) == 12, "IpbDataHeader is 12 bytes on the wire");
static_assert(offsetof(IpbDataHeader, dwCode) == 0);
static_assert(offsetof(IpbDataHeader, dwParam) == 4);
static_assert(offsetof(IpbDataHeader, dwDataLen) == 8);

// Request board: written by clients, header at 0 and a wide string from byte 12.
inline constexpr wchar_t kIpbRequestBoard[] = L"ZORA_IPB_PARA";
// Answer board: written by the service, header at 0.
inline constexpr wchar_t kIpbAnswerBoard[] = L"ZORA_IPB_RSLT";
inline constexpr long kIpbBoardSize = 1024;
inline constexpr unsigned long kIpbBoardIndex = 0;
inline constexpr long kIpbDataOffset = sizeof(IpbDataHeader);
// The service refuses data of this many bytes or more (terminator included).
inline constexpr uint32_t kIpbMaxDataLen = 512;

// Held by a client from the paste of its request to the read of its answer, so
// that two clients never read each other's answer. Created by whichever client
// comes first, in the global name space, open to every account.
inline constexpr wchar_t kIpbCallLockName[] = L"Global\\ZORA_IPB_CALL";

// A request's dwCode. The service consumes a request as it reads it (the header is
// cleared to zeros), so code 0 is what a board holds when no new request was posted:
// it is refused with a failure notice like any code that names no task.
enum IpbTaskCode : uint32_t {
    NoRequest = 0,
    DeviceStateRequest = 2,  // data: device instance ID; param: 1 enable or 2 disable
    ApplySchemeRequest = 3,  // data: the caller's profile folder; param: scheme number
};

// An answer's dwCode. Any status but AnswerStatus makes the client's call fail with
// E_FAIL instead of taking some earlier task's result for its own.
enum IpbAnswerStatus : uint32_t {
    FailureNotice = 0,  // the request could not be read or was refused; dwParam 0
    AnswerStatus = 1,   // answered; dwParam is the task's result
};

// Pairing a request with its answer. A client writes a token record at
// kIpbTokenOffset of the request board, past the longest data; the service echoes it
// at kIpbTokenOffset of the answer board with the answer, and a client takes only an
// answer that carries its own token. A request without the record (an older client,
// which does not look) is answered with the token 0. The service clears the record
// with the request. A client pastes the record and the data before the header: the
// header is what makes a request.
struct IpbToken {
    uint32_t magic;  // kIpbTokenMagic when the record is present
    uint32_t token;  // the client's choice, nonzero
};
inline constexpr uint32_t kIpbTokenMagic = 0x4E4B5449;  // "ITKN"
inline constexpr long kIpbTokenOffset = kIpbDataOffset + kIpbMaxDataLen;
static_assert(sizeof(IpbToken) == 8);
static_assert(kIpbTokenOffset == 524 && kIpbTokenOffset + sizeof(IpbToken) <= kIpbBoardSize);

// Owned by the serving thread for as long as it serves, in the global name space, open
// to every account. A client that can take it knows that nothing serves the boards (or
// that the server has just ended) and fails at once, even while other clients still
// hold the boards open; it waits on it beside its answer.
inline constexpr wchar_t kIpbServerLockName[] = L"Global\\ZORA_IPB_SERVER";
