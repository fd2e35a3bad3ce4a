// Device-link messages: the length-framed property lists that the device services (installation,
// synchronisation, diagnostics, springboard, backup ...) exchange. Framing only: what a message
// means is the caller's handler's business. Each call works on the raw service connection of a
// started device service; the caller owns the connection and runs one exchange on it at a time.
//
// Wire frame, both directions: a 4-byte unsigned length, big-endian, then exactly that many bytes
// of a property list (binary when the service sends it; whatever the device sent when it arrives).
//
// Threads: any worker; no state of its own, no locks. The calls block until the exchange ends; they
// have no time-out of their own (the library's receive returns when the connection fails, closes or
// the device goes away).
#pragma once

#include <cstddef>
#include <cstdint>

#include "mobiledevice.h"

namespace hlx {

struct BinaryPlist;

// A body larger than this is refused before anything is allocated for it: the device services'
// largest messages (backup file lists, app lists with icons) stay below it, and a peer's length word
// must never size an allocation without a bound.
constexpr uint32_t kMaxServiceMessageBytes = 10 * 1024 * 1024;  // 10 MiB, 0xA00000

// Called once per received message:
//   context  the caller's pointer, passed through unchanged;
//   bytes    the body, valid only during the call;
//   length   its byte count (1 .. kMaxServiceMessageBytes);
//   more     set to false before each call; the handler sets it to true to have the next message
//            received;
//   result   what the receive loop returns; it starts false and keeps what the handler last stored.
// Called on the thread that runs the loop. A handler must not throw.
using ServiceMessageHandler = void (*)(void* context, const uint8_t* bytes, int64_t length, bool* more, bool* result);

// All `length` bytes through the library's send, however many calls it takes; false when a send
// fails or makes no progress. For framings of their own (the ATC service's little-endian lengths).
[[nodiscard]] bool SendServiceBytes(AMDServiceConnectionRef connection, const uint8_t* bytes, size_t length);
// Fills the buffer whole, however the bytes arrive; false on a failed receive or the stream's end.
[[nodiscard]] bool ReceiveServiceBytes(AMDServiceConnectionRef connection, uint8_t* bytes, size_t length);

// Sends the length word and the body. True only when all of both went out: a lost length word
// desynchronises the stream, so it fails the send as a lost body does.
[[nodiscard]] bool SendServiceMessage(AMDServiceConnectionRef connection, const BinaryPlist& message);

// Receives messages and hands each to the handler until the handler stops asking for more, the
// connection fails or closes, or a length word is 0 or above kMaxServiceMessageBytes. Returns the
// handler's last result (false when it never stored one). Length words and bodies that arrive in
// pieces are gathered whole; a receive that fails or ends the stream ends the loop at once, so a
// stale buffer is never read as a length.
bool ReceiveServiceMessages(AMDServiceConnectionRef connection, ServiceMessageHandler handler, void* context);

// SendServiceMessage, then ReceiveServiceMessages. When the send fails nothing is waited for and the
// result is false: no answer can come to a request that did not go out, and a wait for one would
// last until the connection closed.
bool ExchangeServiceMessages(AMDServiceConnectionRef connection, const BinaryPlist& message,
                             ServiceMessageHandler handler, void* context);

}  // namespace hlx
