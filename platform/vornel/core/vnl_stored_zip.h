#pragma once
// A minimal zip archive writer for crash reports: entries are stored (method 0) with their CRC-32, which
// every unzip tool reads, and the crash filter needs no compression library. Entry names are the bare
// file names given; archives above 4 GiB (no ZIP64) are refused. Pure function, any thread.

#include <string>
#include <vector>

namespace vnl {

struct ZipEntry {
    std::string name;  // stored as given (ASCII or UTF-8 with the UTF-8 flag set)
    std::string bytes;
};

// The whole archive; false when an entry or the archive is too large for the classic format.
bool BuildStoredZip(const std::vector<ZipEntry>& entries, std::string& archive);

uint32_t Crc32(const std::string& bytes);

}  // namespace vnl
