// MD5 digests of bytes and files, and base64, through OpenSSL's EVP functions. The functions keep no
// state and run on any thread; an Md5Digest is used by one thread at a time. Failures come back as the
// result (empty text, false), never as exceptions.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

struct evp_md_ctx_st;

namespace hlx {

// An MD5 digest of bytes given piece by piece:
//   Md5Digest md5; md5.Update(a, n); md5.Update(b, m); std::string hex = md5.Finish();
// Once a step fails, every later step fails too and Finish gives "".
class Md5Digest {
 public:
  // What failed first; the names are the lines that GetFileMd5 prints.
  enum class Failure { kNone, kContext, kStart, kUpdate, kFinish };

  Md5Digest();
  bool Update(const void* data, size_t length);
  // The digest as 32 lower-case hexadecimal digits, or "" after a failure. Ends the digest: a later
  // Update or Finish fails.
  std::string Finish();
  Failure FirstFailure() const { return m_failure; }

 private:
  struct ContextDeleter {
    void operator()(evp_md_ctx_st* context) const;
  };
  std::unique_ptr<evp_md_ctx_st, ContextDeleter> m_context;
  Failure m_failure = Failure::kNone;
};

// Whether `text` is an MD5 in hexadecimal: 32 digits, either case.
bool IsMd5Text(const std::string& text);

// The MD5 of a file's contents as 32 lower-case hexadecimal digits, or "" on any failure. Failures
// print to standard output: "Error opening file %s\nError: %d\n" (path, errno), "ReadFile failed:
// %d\n" (errno), and for the hash steps the lines "CryptAcquireContext failed: %d\n",
// "CryptCreateHash failed: %d\n", "CryptHashData failed: %d\n", "CryptGetHashParam failed: %d\n"
// (OpenSSL error code), keeping the texts that the service's console shows on every platform.
std::string GetFileMd5(const std::string& path);

// Standard base64 (RFC 4648 alphabet, '=' padding, no line breaks).
std::string Base64Encode(const void* data, size_t length);
// Decodes base64; line breaks and blanks between groups are skipped. False on any other character
// or a bad length, with `out` emptied.
[[nodiscard]] bool Base64Decode(const std::string& text, std::string& out);

}  // namespace hlx
