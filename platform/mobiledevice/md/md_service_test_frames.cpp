// "com.hlx.test.frames": a device service for framing tests of device-link callers. Frames are a
// 4-byte big-endian length and that many body bytes, the framing of device-link messages. The
// device writes its stream in small pieces (chunkBytes, 4 KiB by default) so that callers see many
// partial receives, length words split across pieces included.
//
//   request frame with a body "frames:<size>,<size>,...[;chunk=<n>][;end=close|wait]":
//       sends those frames, then hangs up without a goodbye (close, the default) or stays open and
//       silent, reading the next request (wait);
//   any other request frame: sends the image's script (state.json "testFrames") when it has one,
//       otherwise echoes the request body back as one frame;
//   a script with "trigger": "connect" is sent at once, before any request.
//
// Body bytes follow a pattern so that a receiver can check every byte: byte i of the k-th frame of a
// script (k from 0) is (7 * k + i) % 251.
// Threads: the connection's device thread.
#include "md/md_service.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Requests are short texts or small messages; anything longer is a broken peer.
constexpr uint32_t kMaxRequestBytes = 1u << 20;

class ChunkedWriter {
 public:
  ChunkedWriter(MDDeviceStream* stream, uint32_t chunkBytes) : m_stream(stream), m_chunkBytes(chunkBytes) {
    m_pending.reserve(chunkBytes);
  }
  bool Put(const unsigned char* bytes, size_t length) {
    while (length > 0) {
      size_t take = std::min(length, m_chunkBytes - m_pending.size());
      m_pending.insert(m_pending.end(), bytes, bytes + take);
      bytes += take;
      length -= take;
      if (m_pending.size() == m_chunkBytes && !Flush()) return false;
    }
    return true;
  }
  bool Flush() {
    if (m_pending.empty()) return true;
    bool ok = m_stream->WriteAll(m_pending.data(), m_pending.size());
    m_pending.clear();
    return ok;
  }

 private:
  MDDeviceStream* m_stream;
  size_t m_chunkBytes;
  std::vector<unsigned char> m_pending;
};

bool PutLength(ChunkedWriter& writer, uint64_t length) {
  // Sizes above 4 GiB cannot be framed; the script parser keeps them far below.
  const unsigned char word[4] = {static_cast<unsigned char>(length >> 24), static_cast<unsigned char>(length >> 16),
                                 static_cast<unsigned char>(length >> 8), static_cast<unsigned char>(length)};
  return writer.Put(word, sizeof word);
}

bool SendScript(MDDeviceStream* stream, const MDTestFrameScript& script) {
  ChunkedWriter writer(stream, script.chunkBytes);
  unsigned char block[4096];
  for (size_t k = 0; k < script.sizes.size(); ++k) {
    const uint64_t size = script.sizes[k];
    if (!PutLength(writer, size)) return false;
    for (uint64_t offset = 0; offset < size;) {
      size_t take = static_cast<size_t>(std::min<uint64_t>(sizeof block, size - offset));
      for (size_t i = 0; i < take; ++i) block[i] = static_cast<unsigned char>((7 * k + offset + i) % 251);
      if (!writer.Put(block, take)) return false;
      offset += take;
    }
  }
  return writer.Flush();
}

bool ParseNumber(const std::string& text, uint64_t max, uint64_t* value) {
  if (text.empty() || text.size() > 20) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  unsigned long long parsed = std::strtoull(text.c_str(), nullptr, 10);
  if (parsed > max) return false;
  *value = parsed;
  return true;
}

// "frames:<sizes>[;chunk=<n>][;end=close|wait]"; false when malformed.
bool ParseRequestScript(const std::string& body, MDTestFrameScript* script) {
  static const char kPrefix[] = "frames:";
  if (body.compare(0, sizeof kPrefix - 1, kPrefix) != 0) return false;
  std::vector<std::string> parts;
  size_t start = sizeof kPrefix - 1;
  for (;;) {
    size_t semicolon = body.find(';', start);
    parts.push_back(body.substr(start, semicolon == std::string::npos ? std::string::npos : semicolon - start));
    if (semicolon == std::string::npos) break;
    start = semicolon + 1;
  }
  MDTestFrameScript parsed;
  parsed.present = true;
  const std::string& sizes = parts[0];
  size_t from = 0;
  while (!sizes.empty()) {
    size_t comma = sizes.find(',', from);
    uint64_t size = 0;
    if (!ParseNumber(sizes.substr(from, comma == std::string::npos ? std::string::npos : comma - from),
                     kMDMaxScriptFrameBytes, &size) ||
        parsed.sizes.size() >= kMDMaxScriptFrames) {
      return false;
    }
    parsed.sizes.push_back(size);
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  for (size_t i = 1; i < parts.size(); ++i) {
    const std::string& option = parts[i];
    uint64_t chunk = 0;
    if (option.compare(0, 6, "chunk=") == 0 && ParseNumber(option.substr(6), 16u << 20, &chunk) && chunk > 0) {
      parsed.chunkBytes = static_cast<uint32_t>(chunk);
    } else if (option == "end=close") {
      parsed.closeAtEnd = true;
    } else if (option == "end=wait") {
      parsed.closeAtEnd = false;
    } else {
      return false;
    }
  }
  *script = std::move(parsed);
  return true;
}

// Reads one request frame; false at end of stream, on stop or on an oversized length.
bool ReadRequest(MDDeviceStream* stream, std::string* body) {
  unsigned char word[4];
  if (!stream->ReadExact(word, sizeof word)) return false;
  const uint32_t length = (uint32_t{word[0]} << 24) | (uint32_t{word[1]} << 16) | (uint32_t{word[2]} << 8) | word[3];
  if (length > kMaxRequestBytes) return false;
  body->assign(length, '\0');
  return length == 0 || stream->ReadExact(&(*body)[0], length);
}

void ServeTestFrames(MDServiceContext& context) {
  MDDeviceStream* stream = context.stream;
  const MDTestFrameScript& imageScript = context.state.testFrames;
  if (imageScript.present && imageScript.sendOnConnect) {
    if (!SendScript(stream, imageScript) || imageScript.closeAtEnd) return;
  }
  std::string body;
  while (ReadRequest(stream, &body)) {
    MDTestFrameScript script;
    if (body.compare(0, 7, "frames:") == 0) {
      if (!ParseRequestScript(body, &script)) return;  // a malformed script request: hang up
    } else if (imageScript.present) {
      script = imageScript;
    } else {
      ChunkedWriter writer(stream, 4096);
      if (!PutLength(writer, body.size()) ||
          !writer.Put(reinterpret_cast<const unsigned char*>(body.data()), body.size()) || !writer.Flush()) {
        return;
      }
      continue;
    }
    if (!SendScript(stream, script) || script.closeAtEnd) return;
  }
}

}  // namespace

void MDRegisterTestFramesService() { MDRegisterService("com.hlx.test.frames", ServeTestFrames); }
