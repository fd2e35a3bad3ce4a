// zlib format for the service: the compressor of reply data parts (igzip at level 2, which writes the
// same zlib format many times faster than zlib itself) and the inflaters of data that comes in.
// Every inflation of peer data is bounded by a named output cap, so a small compressed part can
// never make the service hold more than the cap (a 1 MB part may inflate to gigabytes). No state;
// any thread; failures come back as the result, never as exceptions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace hlx {

// The most that a request's data part may inflate to. The largest honest parts are contact writes
// with their photos and the JSON lists of the desktop's batches, all far below it.
inline constexpr size_t kMaxRequestDataBytes = size_t{64} * 1024 * 1024;

// Appends the zlib-format compression (igzip level 2, 32 KiB window) of `length` bytes to `out`;
// any zlib inflater reads it. True on success; on failure `out` is as it was.
[[nodiscard]] bool ZlibCompress(std::string& out, const void* data, size_t length);

enum class InflateResult : int32_t {
  kOk = 0,
  kCorrupt = 1,   // corrupt or truncated data
  kTooLarge = 2,  // the output would pass the cap; inflation stopped there
};
// Appends the inflated bytes of zlib-format data to `out`, at most `maxOutputBytes` of them (a few
// KiB more may be appended before the cap is seen). Bytes after the end of the stream are ignored.
[[nodiscard]] InflateResult ZlibInflate(std::string& out, const void* data, size_t length, size_t maxOutputBytes);

// Inflates a stream that comes in pieces only to count its bytes, never holding them, and stops once
// they pass `maxOutputBytes`: whether compressed data holds no more than its container says (a
// picture's pixel data against its header). `raw` reads a bare deflate stream (no zlib header or
// check value). One object per stream, on one thread.
class ZlibLengthCheck {
 public:
  ZlibLengthCheck(uint64_t maxOutputBytes, bool raw);
  ~ZlibLengthCheck();
  ZlibLengthCheck(const ZlibLengthCheck&) = delete;
  ZlibLengthCheck& operator=(const ZlibLengthCheck&) = delete;

  // Feeds the next piece; false once the check has ended (the stream's end, corrupt data or the
  // cap), when further pieces are ignored.
  bool Feed(const void* data, size_t length);
  // kOk once the stream ended within the cap; kTooLarge past it; kCorrupt for corrupt data or a
  // stream that has not ended (yet).
  InflateResult Result() const { return m_result; }

 private:
  struct Stream;
  std::unique_ptr<Stream> m_stream;  // null once ended
  const uint64_t m_maxOutputBytes;
  uint64_t m_outputBytes = 0;
  InflateResult m_result = InflateResult::kCorrupt;
};

// Inflates zlib-format data (15-bit window).
//   out == null: measures only; *outLength gets the whole inflated length (outCapacity unused).
//   out != null: writes at most outCapacity bytes; *outLength gets the bytes written.
// Returns 0 (Z_OK) at the end of the stream, or a zlib code:
//   Z_BUF_ERROR (-5)  the output did not fit into outCapacity (its first outCapacity bytes are
//                     written), or the input ended before the end of the stream (truncated data);
//   Z_DATA_ERROR (-3) corrupt data, or a stream that needs a preset dictionary;
//   Z_MEM_ERROR (-4)  no memory; other codes of inflateInit as it returns them.
// Never reads past inLength input bytes; bytes after the end of the stream are ignored. Sizes are
// 64-bit; the input is fed in steps of 16 KiB.
int InflateToBuffer(uint8_t* out, uint64_t outCapacity, const uint8_t* in, uint64_t inLength, uint64_t* outLength);

}  // namespace hlx
