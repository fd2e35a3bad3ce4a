// Fuzz target of the service's own property-list reader (no device library is ever bound here, so
// ParsePlistToVariant reads every input itself): arbitrary bytes, binary documents and XML. It must
// never crash or read outside the input, a refused input must leave the tree untouched, and an
// accepted one must give the wrapper array (or the empty value) with every dictionary key kept as
// text without a NUL.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "iOSAPI/MobileExportFun.h"
#include "replay_driver.h"
#include "utility/hlx_plist.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_plist_reader: %s\n", what);
  std::abort();
}

void CheckTree(const hlx::PlistVariant& value) {
  if (const hlx::PlistVariant::Array* array = value.GetArray()) {
    if (array->empty()) Fail("an array without elements is not the empty value");
    for (const hlx::PlistVariant& element : *array) CheckTree(element);
  } else if (const hlx::CIOSDictionary* dictionary = value.GetDictionary()) {
    for (const auto& [key, entry] : dictionary->entries()) {
      if (key.empty() || key.find('\0') != std::string::npos) Fail("a key that the rules drop");
      CheckTree(entry);
    }
  } else if (const std::string* text = value.GetString()) {
    if (text->empty() || text->find('\0') != std::string::npos) Fail("a text that the rules drop");
  }
}

// A binary document of the objects given (marker and contents each) with one-byte offsets and
// references, the first object at the top.
std::string BinaryList(const std::vector<std::string>& objects) {
  std::string bytes = "bplist00";
  std::string table;
  for (const std::string& object : objects) {
    table.push_back(static_cast<char>(bytes.size()));
    bytes += object;
  }
  const size_t tableOffset = bytes.size();
  bytes += table + std::string(6, '\0') + "\x01\x01" + std::string(7, '\0') + static_cast<char>(objects.size()) +
           std::string(15, '\0') + static_cast<char>(tableOffset);
  return bytes;
}

}  // namespace

std::vector<std::string> HlxFuzzSeedInputs() {
  return {
      BinaryList({"\xD2\x01\x02\x03\x04", "\x51k", "\x51u", "\xA3\x05\x06\x07", "\x81\x01\x02",
                  std::string("\x62\x00\xE9\x00\x21", 5), "\x10\x07",
                  std::string("\x23\x3F\xF8\x00\x00\x00\x00\x00\x00", 9)}),
      BinaryList({"\xA2\x01\x02", std::string("\x33\x41\xC0\x00\x00\x00\x00\x00\x00", 9), "\x43\x01\x02\x03"}),
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>a</key><array><integer>1"
      "</integer><real>2.5</real><string>x</string></array><key>d</key><date>2020-01-01T00:00:00Z</date>"
      "<key>b</key><data>AAEC</data><key>t</key><true/></dict></plist>",
  };
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (hlx::CMobileExportFun::GetInstance().IsLoaded()) Fail("the library is bound");
  hlx::PlistVariant tree(std::string("untouched"));
  if (!hlx::ParsePlistToVariant(data, size, &tree)) {
    if (tree.GetString() == nullptr || *tree.GetString() != "untouched") Fail("a refused input changed the tree");
    return 0;
  }
  if (!tree.IsEmpty() && tree.GetArray() == nullptr) Fail("no wrapper array");
  CheckTree(tree);
  return 0;
}
