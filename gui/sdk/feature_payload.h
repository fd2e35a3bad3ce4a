#pragma once
// What every feature's payload release looks like. A feature's payloads travel on four legs (page -> host,
// host -> page, host -> relay module, relay module -> host), and one code means a different payload on each
// leg, so the release of a payload that nobody takes (a refused request, a page that is gone, a failed post)
// is asked by leg and code. Each feature's SDK header defines one such function; the host, the feature's
// plug-in and the relay module all call that one. No state; any thread.

#include <cstdint>

enum class PayloadLeg {
    PageRequest,   // `data` of a page's request to the host
    PageReply,     // `extra` of the host's reply to the page
    RelayRequest,  // `data` of the host's request to the relay module
    RelayReply,    // `extra` of the relay module's answer to the host
};

// A request that writes into a folder the user chose (an export) is answered in place in `status`: its files
// were written there, or not; a `status` left as it was sent tells neither (the files follow later, or the
// relay module writes nothing).
constexpr int64_t kExportWritten = 1;
constexpr int64_t kExportNotWritten = 2;

// Frees `payload` as the feature's codes say it was made; a code without a payload, or a lent one, frees
// nothing. Null payloads are ignored.
using ReleasePayloadFunction = void (*)(PayloadLeg leg, int64_t code, void* payload);
