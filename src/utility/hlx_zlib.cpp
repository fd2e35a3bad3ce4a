// zlib compression and the capped inflaters (see hlx_zlib.h).
#include "utility/hlx_zlib.h"

#include <isa-l/igzip_lib.h>
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

// zlib and igzip count bytes in 32-bit units: larger inputs are fed in steps.
constexpr size_t kZlibInputStep = size_t{1} << 30;
constexpr size_t kZlibWindowBytes = 16 * 1024;
// The least room the compressor is given: the stream's header, check value and a block header.
constexpr size_t kOutputSlack = 1024;

// Level 2 of igzip: a reply costs its compression here and its inflation in the peer, and on the
// service's JSON level 2 makes the two together many times cheaper than zlib's level 9 does, for
// output up to half as large again (a contact listing: 149 %, a photo listing: 117 %), which loopback
// carries at no cost worth the compressor's time. Level 1 is hardly faster and writes about 1 % more,
// level 0 a fifth more; level 3 writes no less at a quarter of the speed.
constexpr int kCompressionLevel = 2;

// What one compression needs: the stream's state (with its 32 KiB history) and its level's buffer (its
// hash table and the tokens of the block being written).
struct Compressor {
  isal_zstream stream;
  uint8_t levelBuffer[ISAL_DEF_LVL2_DEFAULT];
};
using CompressorPtr = std::unique_ptr<Compressor>;

// Compressors that are not in use, shared by every thread: each holds hundreds of KiB, so the ten
// workers share the few that run at once rather than keeping one each for good.
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
  // Zeroed once: initialising a stream leaves some fields as they are.
  return CompressorPtr(new (std::nothrow) Compressor());
}

void ReturnCompressor(CompressorPtr compressor) {
  IdleCompressors& compressors = GetIdleCompressors();
  std::lock_guard<std::mutex> lock(compressors.mutex);
  compressors.idle.push_back(std::move(compressor));
}

// Appends the zlib stream of `length` bytes to `out`; false when the compressor refused or made no
// progress (`out` then holds a partial stream for the caller to cut). The input is fed in steps, as
// the stream counts bytes in 32 bits; the output grows from a first guess (JSON shrinks to about a
// tenth) as often as it fills.
bool Deflate(Compressor& compressor, std::string& out, const void* data, size_t length) {
  isal_zstream& stream = compressor.stream;
  isal_deflate_init(&stream);
  stream.gzip_flag = IGZIP_ZLIB;
  stream.level = kCompressionLevel;
  stream.level_buf = compressor.levelBuffer;
  stream.level_buf_size = sizeof(compressor.levelBuffer);
  stream.flush = NO_FLUSH;
  stream.hist_bits = 0;  // the whole 32 KiB window that the stream's header names
  static const uint8_t kNoInput = 0;
  const auto* next = data != nullptr ? static_cast<const uint8_t*>(data) : &kNoInput;
  size_t left = length;
  // Set before the first call even for no input: initialising leaves the input of the stream's last
  // use, whose bytes may be gone, and the compressor reads there.
  stream.next_in = const_cast<uint8_t*>(next);
  stream.avail_in = 0;
  size_t written = out.size();
  out.resize(written + length / 4 + kOutputSlack);
  while (stream.internal_state.state != ZSTATE_END) {
    if (stream.avail_in == 0 && left != 0) {
      const size_t chunk = std::min(left, kZlibInputStep);
      stream.next_in = const_cast<uint8_t*>(next);
      stream.avail_in = static_cast<uint32_t>(chunk);
      next += chunk;
      left -= chunk;
    }
    stream.end_of_stream = left == 0 ? 1 : 0;
    // The compressor writes nothing into a few bytes of room (its trailer wants eight at once).
    if (out.size() - written < kOutputSlack) out.resize(out.size() + out.size() / 2 + kOutputSlack);
    stream.next_out = reinterpret_cast<uint8_t*>(out.data()) + written;
    stream.avail_out = static_cast<uint32_t>(std::min(out.size() - written, kZlibInputStep));
    const uint32_t inBefore = stream.avail_in;
    const uint32_t room = stream.avail_out;
    if (isal_deflate(&stream) != COMP_OK) return false;
    if (stream.avail_in == inBefore && stream.avail_out == room && stream.internal_state.state != ZSTATE_END) {
      return false;
    }
    written += room - stream.avail_out;
  }
  out.resize(written);
  return true;
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
  bool done = false;
  try {
    done = Deflate(*compressor, out, data, length);
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  ReturnCompressor(std::move(compressor));
  if (!done) out.resize(start);
  return done;
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

struct ZlibLengthCheck::Stream {
  z_stream z{};
  bool open = false;
  ~Stream() {
    if (open) inflateEnd(&z);
  }
};

ZlibLengthCheck::ZlibLengthCheck(uint64_t maxOutputBytes, bool raw)
    : m_stream(std::make_unique<Stream>()), m_maxOutputBytes(maxOutputBytes) {
  m_stream->open = inflateInit2(&m_stream->z, raw ? -MAX_WBITS : MAX_WBITS) == Z_OK;
  if (!m_stream->open) m_stream.reset();
}

ZlibLengthCheck::~ZlibLengthCheck() = default;

bool ZlibLengthCheck::Feed(const void* data, size_t length) {
  if (!m_stream) return false;
  z_stream& z = m_stream->z;
  uint8_t scratch[kZlibWindowBytes];
  const auto* in = static_cast<const uint8_t*>(data);
  while (length > 0) {
    const size_t step = std::min(length, kZlibInputStep);
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = static_cast<uInt>(step);
    in += step;
    length -= step;
    // Until this piece is used up; a call that fills the scratch may have more output to give.
    do {
      z.next_out = scratch;
      z.avail_out = sizeof scratch;
      const int code = inflate(&z, Z_NO_FLUSH);
      m_outputBytes += sizeof scratch - z.avail_out;
      if (m_outputBytes > m_maxOutputBytes) {
        m_result = InflateResult::kTooLarge;
      } else if (code == Z_STREAM_END) {
        m_result = InflateResult::kOk;
      } else if (code == Z_BUF_ERROR && z.avail_in == 0) {
        break;  // no progress without more input
      } else if (code != Z_OK) {
        m_result = InflateResult::kCorrupt;
      } else {
        continue;
      }
      m_stream.reset();
      return false;
    } while (z.avail_in > 0 || z.avail_out == 0);
  }
  return true;
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
