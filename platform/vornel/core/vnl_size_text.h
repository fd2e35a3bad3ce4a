#pragma once
// Byte counts as the short size texts the pages show ("512 B", "1.50 KB", "3.21 GB"). Pure function.

#include <cstdint>
#include <string>

namespace vnl {

// Below 1024: whole bytes; otherwise two decimals of the largest binary unit (KB, MB, GB, TB) that keeps
// the number at least 1.
std::wstring FormatByteSize(uint64_t bytes);

}  // namespace vnl
