#pragma once
// The product's identity texts (name, brand word, version, build year) and the user's personal product
// folder. These are the only copies of the texts; nothing reads them from resources or files. Each call
// returns a new string the caller owns. Any thread.

#include <string>

namespace trv {

std::wstring ProductNameW();
std::string ProductNameA();
std::wstring BrandWordW();
std::wstring VersionW();
std::string VersionA();
std::wstring BuildYearW();

// The user's documents folder, empty when the system cannot name it (always empty off Windows).
std::wstring DocumentsFolder();
// documents + "\" + product name + "\"; a missing documents folder gives "\Solvak Trevane\".
std::wstring PersonalProductFolderIn(const std::wstring& documents);
// The personal product folder of this user, created (one level) before it is returned.
std::wstring PersonalProductFolder();
// "Global_" + product name + "_" + version: the single-instance mutex.
std::wstring SingleInstanceMutexName();

}  // namespace trv
