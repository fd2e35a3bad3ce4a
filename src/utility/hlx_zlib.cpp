// zlib compression and the capped inflaters (see hlx_zlib.h).
#include "utility/hlx_zlib.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <vector>

namespace hlx {

namespace {

// zlib counts input in 32-bit units: larger inputs are fed in steps.
constexpr size_t kZlibInputStep = size_t{1} << 30;
constexpr size_t kZlibWindowBytes = 16 * 1024;

// Level 1, libdeflate's fastest: a reply costs its compression here and its inflation in the peer,
// and on the service's JSON level 1 makes the two together several times cheaper than zlib's level 9
// does, for output about a third larger (a contact listing: about 137 %), which loopback carries at
// no cost worth the compressor's time.
constexpr int kCompressionLevel = 1;

struct CompressorFree {
  void operator()(libdeflate_compressor* compressor) const { libdeflate_free_compressor(compressor); }
};
using CompressorPtr = std::unique_ptr<libdeflate_compressor, CompressorFree>;

// Compressors that are not in use, shared by every thread: making one costs more than compressing a
// small reply, and each holds hundreds of KiB, so the ten workers share the few that run at once rather
// than keeping one each for good.
struct IdleCompressors {
  std::mutex mutex;
  std::vector<CompressorPtr> idle;  // guards: idle
};

IdleCompressors& GetIdleCompressors() {
  static IdleCompressors* compressors = new IdleCompressors();  // lives until the process ends
  return *compressors;
}

CompressorPtr TakeCompressor() {
  IdleCompressors& compressors = GetIdleCompressors();
  {
    std::lock_guard<std::mutex> lock(compressors.mutex);
    if (!compressors.idle.empty()) {
      CompressorPtr compressor = std::move(compressors.idle.back());
      compressors.idle.pop_back();
      return compressor;
    }
  }
  return CompressorPtr(libdeflate_alloc_compressor(kCompressionLevel));
}

void ReturnCompressor(CompressorPtr compressor) {
  IdleCompressors& compressors = GetIdleCompressors();
  std::lock_guard<std::mutex> lock(compressors.mutex);
  compressors.idle.push_back(std::move(compressor));
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
  CompressorPtr compressor = TakeCompressor();
  if (!compressor) return false;
  const size_t start = out.size();
  size_t written = 0;
  try {
    out.resize(start + libdeflate_zlib_compress_bound(compressor.get(), length));
    written = libdeflate_zlib_compress(compressor.get(), data, length, out.data() + start, out.size() - start);
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  ReturnCompressor(std::move(compressor));
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

int InflateToBuffer(uint8_t* out, uint64_t outCapacity, const uint8_t* in, uint64_t inLength, uint64_t* outLength) {
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
