// MD5 and base64 through OpenSSL (see hlx_encoding.h).
#include "utility/hlx_encoding.h"

#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <vector>

namespace hlx {
namespace {

struct FdCloser {
  void operator()(int* fd) const {
    if (*fd >= 0) close(*fd);
  }
};

}  // namespace

void Md5Digest::ContextDeleter::operator()(evp_md_ctx_st* context) const { EVP_MD_CTX_free(context); }

Md5Digest::Md5Digest() : m_context(EVP_MD_CTX_new()) {
  if (!m_context) {
    m_failure = Failure::kContext;
  } else if (EVP_DigestInit_ex(m_context.get(), EVP_md5(), nullptr) != 1) {
    m_failure = Failure::kStart;
  }
}

bool Md5Digest::Update(const void* data, size_t length) {
  if (m_failure != Failure::kNone || !m_context) return false;
  if (EVP_DigestUpdate(m_context.get(), data, length) != 1) {
    m_failure = Failure::kUpdate;
    return false;
  }
  return true;
}

std::string Md5Digest::Finish() {
  if (m_failure != Failure::kNone || !m_context) return {};
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestLength = 0;
  const bool done = EVP_DigestFinal_ex(m_context.get(), digest, &digestLength) == 1 && digestLength == 16;
  m_context.reset();
  if (!done) {
    m_failure = Failure::kFinish;
    return {};
  }
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < digestLength; ++i) {
    hex += kDigits[digest[i] >> 4];
    hex += kDigits[digest[i] & 0x0F];
  }
  return hex;
}

bool IsMd5Text(const std::string& text) {
  return text.size() == 32 && text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

std::string GetFileMd5(const std::string& path) {
  // Non-blocking open: a FIFO without a writer must not hold the caller for ever.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    std::printf("Error opening file %s\nError: %d\n", path.c_str(), errno);
    return {};
  }
  std::unique_ptr<int, FdCloser> fdGuard(&fd);
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);

  Md5Digest md5;
  const auto failed = [&md5] {
    const char* line = md5.FirstFailure() == Md5Digest::Failure::kContext  ? "CryptAcquireContext failed: %d\n"
                       : md5.FirstFailure() == Md5Digest::Failure::kStart  ? "CryptCreateHash failed: %d\n"
                       : md5.FirstFailure() == Md5Digest::Failure::kUpdate ? "CryptHashData failed: %d\n"
                                                                           : "CryptGetHashParam failed: %d\n";
    std::printf(line, static_cast<int>(ERR_get_error()));
    return std::string();
  };
  if (md5.FirstFailure() != Md5Digest::Failure::kNone) return failed();
  std::vector<unsigned char> block(64 * 1024);
  for (;;) {
    ssize_t n = read(fd, block.data(), block.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      std::printf("ReadFile failed: %d\n", errno);
      return {};
    }
    if (n == 0) break;
    if (!md5.Update(block.data(), static_cast<size_t>(n))) return failed();
  }
  std::string hex = md5.Finish();
  return hex.empty() ? failed() : hex;
}

std::string Base64Encode(const void* data, size_t length) {
  // EVP_EncodeBlock takes an int length: encode in whole groups of three bytes.
  constexpr size_t kChunk = 3 * 1024 * 1024;
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::string out;
  out.reserve((length + 2) / 3 * 4);
  // Room for the largest chunk this input has (and the encoder's closing NUL), not for the largest any has.
  std::vector<unsigned char> encoded((std::min(kChunk, length) + 2) / 3 * 4 + 1);
  for (size_t offset = 0; offset < length; offset += kChunk) {
    size_t chunk = std::min(kChunk, length - offset);
    int written = EVP_EncodeBlock(encoded.data(), bytes + offset, static_cast<int>(chunk));
    out.append(reinterpret_cast<const char*>(encoded.data()), static_cast<size_t>(written));
  }
  return out;
}

bool Base64Decode(const std::string& text, std::string& out) {
  out.clear();
  std::string compact;
  compact.reserve(text.size());
  for (char c : text) {
    if (c == '\r' || c == '\n' || c == ' ' || c == '\t') continue;
    bool inAlphabet =
        (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/' || c == '=';
    if (!inAlphabet) return false;
    compact += c;
  }
  if (compact.size() % 4 != 0) return false;
  size_t padding = 0;
  while (padding < 2 && padding < compact.size() && compact[compact.size() - 1 - padding] == '=') {
    ++padding;
  }
  // '=' only as the last one or two characters.
  if (compact.find('=') < compact.size() - padding) return false;
  constexpr size_t kChunk = 4 * 1024 * 1024;  // whole groups of four characters
  std::vector<unsigned char> decoded(kChunk / 4 * 3);
  for (size_t offset = 0; offset < compact.size(); offset += kChunk) {
    size_t chunk = std::min(kChunk, compact.size() - offset);
    int written = EVP_DecodeBlock(decoded.data(), reinterpret_cast<const unsigned char*>(compact.data() + offset),
                                  static_cast<int>(chunk));
    if (written < 0) {
      out.clear();
      return false;
    }
    out.append(reinterpret_cast<const char*>(decoded.data()), static_cast<size_t>(written));
  }
  // EVP_DecodeBlock writes a zero byte for each '='.
  out.resize(out.size() - padding);
  return true;
}

}  // namespace hlx
