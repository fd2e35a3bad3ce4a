#pragma once
// A pair of wide strings as it travels in CommandMessage payloads (device identifier and name, two labels,
// a name and an address). Allocated with new by the sender and deleted by the receiver; every GUI
// deliverable is built with the same compiler and runtime, so the type and the heap are the same on both
// sides. No threads of its own.

#include <string>
#include <utility>

using WideStringPair = std::pair<std::wstring, std::wstring>;
