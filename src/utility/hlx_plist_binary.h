// Private to the property-list reader (hlx_plist.cpp): the objects of a binary property list
// ("bplist00"), read straight from its bytes without the device library, so that lists in files on
// the PC (backup folders, copies of device files) are read whether the library is bound or not.
// Every offset, count and reference of the document is checked against its length before it is
// followed; a document that fails a check is refused as a whole (Open) or its object reads as
// kInvalid, and nothing is ever read outside the bytes. Cycles are not detected here: the tree
// reader's depth and value bounds end them.
//
// Threads: one reader per document; the object only reads the bytes it was opened on, which must
// outlive it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hlx {

// What one object of a list is, however the list is held (library objects or a binary document).
enum class PlistObjectKind {
  kInvalid,  // no object, or one whose bytes are broken
  kArray,
  kDictionary,
  kBoolean,
  kString,
  kInteger,
  kReal,
  kDate,
  kData,
  kUid,    // a keyed archive's reference
  kOther,  // an object of a kind the readers do not take (null, sets)
};

class BinaryPlistObjects {
 public:
  using Ref = uint64_t;  // an object number of the document

  // True when the bytes begin with "bplist00" and end with a trailer whose object table lies
  // inside them.
  [[nodiscard]] bool Open(const uint8_t* bytes, size_t length);
  Ref Top() const { return m_top; }

  PlistObjectKind Kind(Ref object) const;
  // Each reader below takes an object of the kind it names (Kind said so).
  bool Boolean(Ref object) const;
  // The text in UTF-8 (UTF-16 converted; an unpaired surrogate becomes U+FFFD), up to its first
  // NUL; false for an empty string.
  bool Text(Ref object, std::string* text) const;
  // Values past the signed 64-bit range saturate.
  int64_t Integer(Ref object) const;
  double Real(Ref object) const;
  // Seconds since 2001-01-01T00:00:00Z.
  double Date(Ref object) const;
  void Data(Ref object, const uint8_t** bytes, size_t* length) const;
  uint64_t Uid(Ref object) const;
  // Arrays and dictionaries: the element count, an element, and a dictionary's keys and values in
  // document order.
  size_t Count(Ref object) const;
  Ref Element(Ref object, size_t index) const;
  void Entries(Ref object, std::vector<Ref>* keys, std::vector<Ref>* values) const;

  // How many values the tree below the top object holds when every reference is followed (a shared
  // container counts once per reference; dictionary keys do not count), without making any of it;
  // more than `limit` as soon as it passes the limit, or when a container holds itself or nests
  // deeper than any tree the reader takes.
  uint64_t ExpandedValues(uint64_t limit) const;

 private:
  struct Header {
    uint8_t marker = 0;
    uint64_t count = 0;  // the marker's count, or the integer that follows it
    uint64_t start = 0;  // the first byte after the marker and its count
  };
  // The object's marker and count, checked to lie inside the objects' bytes with its contents.
  bool ReadHeader(Ref object, Header* header) const;
  uint64_t Expanded(Ref object, uint64_t limit, int depth, std::vector<uint64_t>* memo) const;
  uint64_t ReadUnsigned(uint64_t at, size_t size) const;
  double ReadDouble(uint64_t at) const;  // 8 bytes, big-endian

  const uint8_t* m_bytes = nullptr;
  uint64_t m_objectsEnd = 0;  // the offset table's start: objects lie in [8, m_objectsEnd)
  uint64_t m_objectCount = 0;
  Ref m_top = 0;
  size_t m_offsetSize = 0;
  size_t m_refSize = 0;
};

}  // namespace hlx
