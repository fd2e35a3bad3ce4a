#pragma once
// The host's two crash callbacks for the base library's crash filter: the description callback writes
// "Crash.json" into the crash folder, the report callback leaves only the zipped report there, tells the
// user where it is and opens the folder. They run on the crashing thread inside the filter.

namespace trv {

extern "C" void __cdecl OnCrashDescription(const wchar_t* crashFolder, wchar_t** extraFile);
extern "C" void __cdecl OnCrashReport(const wchar_t* reportPath);

}  // namespace trv
