#pragma once
// PC paths between the desktop, which runs under Wine and names files the Windows way, and the device
// service, a Linux program that names them the Linux way. Wine shows the Linux root as drive Z:, so
// "Z:\home\a b\x.vcf" and "/home/a b/x.vcf" name one file. The relay converts every path that crosses
// between the two here, in both directions. Texts only; any thread.

#include <string>

namespace relay {

// A Windows path on drive Z: ("Z:\dir\file", either slash, either case of the letter) as the Linux path
// ("/dir/file"); a Linux path is returned as it is. Empty for any other path (another drive, a relative
// or UNC path): the service could not reach it.
std::wstring ToServicePath(const std::wstring& path);

// A Linux path ("/dir/file") as the desktop's Windows path ("Z:\dir\file"); a Windows path on drive Z:
// is returned with backslashes. Empty for a relative path.
std::wstring ToDesktopPath(const std::wstring& path);

}  // namespace relay
