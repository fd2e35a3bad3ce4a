// MD5 digests of files and base64, through OpenSSL's EVP functions. No state; any thread; failures
// come back as the result (empty text, false), never as exceptions.
#pragma once

#include <cstddef>
#include <string>

namespace hlx {

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
