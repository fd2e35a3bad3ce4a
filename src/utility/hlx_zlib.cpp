// zlib compression and the capped inflaters (see hlx_zlib.h).
#include "utility/hlx_zlib.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

namespace hlx {

namespace {

// zlib counts input in 32-bit units: larger inputs are fed in steps.
constexpr size_t kZlibInputStep = size_t{1} << 30;
constexpr size_t kZlibWindowBytes = 16 * 1024;

// Level 6 is the fastest of libdeflate's levels whose output on the service's JSON is about as small
// as zlib's at level 9; the faster levels grow it by an eighth or more.
constexpr int kCompressionLevel = 6;

struct CompressorFree {
  void operator()(libdeflate_compressor* compressor) const { libdeflate_free_compressor(compressor); }
};

// One compressor per thread, made on first use: making one costs more than compressing a small reply.
libdeflate_compressor* ThreadCompressor() {
  thread_local std::unique_ptr<libdeflate_compressor, CompressorFree> compressor(
      libdeflate_alloc_compressor(kCompressionLevel));
  return compressor.get();
}
struct InflateEnder {
  void operator()(z_stream* stream) const { inflateEnd(stream); }
};

// Feeds all input and appends every output window until `step` (inflate, told whether
// the last input is in) returns anything but Z_OK; that code is returned.
template <typename Step>
int PumpZlib(z_stream* stream, const void* data, size_t length, std::string& out, Step step) {
  const auto* next = static_cast<const unsigned char*>(data);
  size_t left = length;
  unsigned char window[kZlibWindowBytes];
  int code;
  do {
    if (stream->avail_in == 0 && left != 0) {
      size_t chunk = std::min(left, kZlibInputStep);
      stream->next_in = const_cast<Bytef*>(next);
      stream->avail_in = static_cast<uInt>(chunk);
      next += chunk;
      left -= chunk;
    }
    stream->next_out = window;
    stream->avail_out = sizeof(window);
    code = step(left == 0);
    out.append(reinterpret_cast<const char*>(window), sizeof(window) - stream->avail_out);
  } while (code == Z_OK);
  return code;
}

}  // namespace

bool ZlibCompress(std::string& out, const void* data, size_t length) {
  libdeflate_compressor* compressor = ThreadCompressor();
  if (compressor == nullptr) return false;
  const size_t start = out.size();
  try {
    out.resize(start + libdeflate_zlib_compress_bound(compressor, length));
  } catch (const std::bad_alloc&) {
    out.resize(start);
    return false;
  } catch (const std::length_error&) {
    out.resize(start);
    return false;
  }
  const size_t written = libdeflate_zlib_compress(compressor, data, length, out.data() + start, out.size() - start);
  out.resize(start + written);
  return written != 0;
}

InflateResult ZlibInflate(std::string& out, const void* data, size_t length, size_t maxOutputBytes) {
  z_stream stream;
  std::memset(&stream, 0, sizeof(stream));
  if (inflateInit(&stream) != Z_OK) return InflateResult::kCorrupt;
  std::unique_ptr<z_stream, InflateEnder> ender(&stream);
  const size_t start = out.size();
  bool tooLarge = false;
  try {
    // Once the input is used up without the stream's end, inflate reports Z_BUF_ERROR: the pump
    // stops there for truncated data. Past the cap the step ends the pump before the next window.
    const int code = PumpZlib(&stream, data, length, out, [&](bool) {
      if (out.size() - start > maxOutputBytes) {
        tooLarge = true;
        return Z_BUF_ERROR;
      }
      return inflate(&stream, Z_NO_FLUSH);
    });
    if (tooLarge || out.size() - start > maxOutputBytes) return InflateResult::kTooLarge;
    return code == Z_STREAM_END ? InflateResult::kOk : InflateResult::kCorrupt;
  } catch (const std::bad_alloc&) {
    return InflateResult::kTooLarge;
  }
}

int InflateToBuffer(uint8_t* out, uint64_t outCapacity, const uint8_t* in, uint64_t inLength,
                    uint64_t* outLength) {
  constexpr uint64_t kStep = 0x4000;
  *outLength = 0;
  z_stream stream;
  std::memset(&stream, 0, sizeof(stream));
  int code = inflateInit(&stream);
  if (code != Z_OK) return code;

  uint8_t scratch[kStep];
  uint64_t fed = 0;
  int result;
  for (;;) {
    if (stream.avail_in == 0 && fed < inLength) {
      uint64_t step = std::min(kStep, inLength - fed);
      stream.next_in = const_cast<Bytef*>(in + fed);
      stream.avail_in = static_cast<uInt>(step);
      fed += step;
    }
    uInt room;
    if (out != nullptr) {
      // A full buffer still gets a call with no room: the stream's end and check value need input
      // only.
      room = static_cast<uInt>(std::min(kStep, outCapacity - *outLength));
      stream.next_out = out + *outLength;
    } else {
      room = static_cast<uInt>(kStep);
      stream.next_out = scratch;
    }
    stream.avail_out = room;
    code = inflate(&stream, Z_NO_FLUSH);
    *outLength += room - stream.avail_out;
    if (code == Z_STREAM_END) {
      result = Z_OK;
      break;
    }
    if (code == Z_NEED_DICT) {
      result = Z_DATA_ERROR;
      break;
    }
    if (code == Z_BUF_ERROR) {
      // No progress: either more input is due, or the input is used up (truncated data), or input
      // is left but the output has no room (the buffer is too small). The last two end the call.
      if (stream.avail_in == 0 && fed < inLength) continue;
      result = Z_BUF_ERROR;
      break;
    }
    if (code != Z_OK) {
      result = code;  // Z_DATA_ERROR, Z_MEM_ERROR, Z_STREAM_ERROR
      break;
    }
  }
  inflateEnd(&stream);
  return result;
}

}  // namespace hlx
