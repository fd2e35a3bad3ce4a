// Stored zip writer; see vnl_stored_zip.h. Little-endian fields written byte by byte.
#include "vnl_stored_zip.h"

#include <array>
#include <cstdint>

namespace vnl {
namespace {

constexpr uint64_t kMaxClassicSize = 0xFFFFFFFFull;
// DOS date 2020-01-01 00:00: report archives carry no meaningful entry time.
constexpr uint16_t kDosDate = ((2020 - 1980) << 9) | (1 << 5) | 1;
constexpr uint16_t kUtf8NameFlag = 0x0800;

void Put16(std::string& out, uint32_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
}

void Put32(std::string& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

bool IsAscii(const std::string& text) {
    for (unsigned char c : text) {
        if (c >= 0x80) return false;
    }
    return true;
}

}  // namespace

uint32_t Crc32(const std::string& bytes) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char b : bytes) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

bool BuildStoredZip(const std::vector<ZipEntry>& entries, std::string& archive) {
    archive.clear();
    std::string central;
    if (entries.size() > 0xFFFF) return false;
    for (const ZipEntry& entry : entries) {
        if (entry.bytes.size() > kMaxClassicSize || entry.name.size() > 0xFFFF || entry.name.empty()) {
            return false;
        }
        const uint64_t offset = archive.size();
        if (offset > kMaxClassicSize) return false;
        const uint32_t crc = Crc32(entry.bytes);
        const uint32_t size = static_cast<uint32_t>(entry.bytes.size());
        const uint16_t flags = IsAscii(entry.name) ? 0 : kUtf8NameFlag;

        Put32(archive, 0x04034b50);
        Put16(archive, 10);  // version needed: 1.0, stored
        Put16(archive, flags);
        Put16(archive, 0);  // method: stored
        Put16(archive, 0);  // time
        Put16(archive, kDosDate);
        Put32(archive, crc);
        Put32(archive, size);
        Put32(archive, size);
        Put16(archive, static_cast<uint32_t>(entry.name.size()));
        Put16(archive, 0);
        archive += entry.name;
        archive += entry.bytes;

        Put32(central, 0x02014b50);
        Put16(central, 20);  // made by
        Put16(central, 10);
        Put16(central, flags);
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, kDosDate);
        Put32(central, crc);
        Put32(central, size);
        Put32(central, size);
        Put16(central, static_cast<uint32_t>(entry.name.size()));
        Put16(central, 0);  // extra
        Put16(central, 0);  // comment
        Put16(central, 0);  // disk
        Put16(central, 0);  // internal attributes
        Put32(central, 0);  // external attributes
        Put32(central, static_cast<uint32_t>(offset));
        central += entry.name;
    }
    const uint64_t centralOffset = archive.size();
    if (centralOffset + central.size() > kMaxClassicSize) return false;
    archive += central;
    Put32(archive, 0x06054b50);
    Put16(archive, 0);
    Put16(archive, 0);
    Put16(archive, static_cast<uint32_t>(entries.size()));
    Put16(archive, static_cast<uint32_t>(entries.size()));
    Put32(archive, static_cast<uint32_t>(central.size()));
    Put32(archive, static_cast<uint32_t>(centralOffset));
    Put16(archive, 0);
    return true;
}

}  // namespace vnl
