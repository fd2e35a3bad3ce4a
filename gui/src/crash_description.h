#pragma once
// The text of "Crash.json", the description the host adds to a crash report: product, version and the
// Windows version, as a pretty-printed JSON object indented by four blanks. Pure text work, any thread
// (it runs inside the crash filter, so it allocates little and throws nothing out).

#include <string>

namespace trv {

// major "." minor " Build " build " Service Pack " spMajor "." spMinor.
std::string WindowsVersionText(unsigned major, unsigned minor, unsigned build, unsigned spMajor, unsigned spMinor);

// {"Product":..,"Version":..,"System":..} in this order, UTF-8; `system` may be empty.
std::string BuildCrashDescription(const std::string& product, const std::string& version, const std::string& system);

}  // namespace trv
