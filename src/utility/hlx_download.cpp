// libcurl downloads. libcurl's global set-up runs once, before the first handle, because it is not
// safe to run from several threads at once; afterwards every call owns its easy handle.
#include "utility/hlx_download.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace hlx {
namespace {

constexpr long kMaxRedirects = 5;
constexpr long kConnectTimeoutSeconds = 30;
constexpr long kLowSpeedBytesPerSecond = 1;
constexpr long kLowSpeedSeconds = 60;

struct EasyCleanup {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;

// A new easy handle with the options every transfer of the service shares, or null.
EasyHandle NewEasyHandle(const std::string& url) {
  static std::once_flag globalInit;
  std::call_once(globalInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  EasyHandle easy(curl_easy_init());
  if (!easy) return easy;
  CURL* handle = easy.get();
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  // Signals for DNS time-outs are not safe in a program with many threads.
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  // A status of 400 or more is a failure, not a body to save.
  curl_easy_setopt(handle, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedBytesPerSecond);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, kLowSpeedSeconds);
  curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 1L);
  return easy;
}

struct CallerCallback {
  CurlWriteFunction callback;
  void* argument;
};

// Stands between libcurl and the caller's callback: a result other than the full byte count (0,
// libcurl's pause value, anything else) ends the transfer with CURLE_WRITE_ERROR, and no exception
// may pass into libcurl's C code.
size_t ForwardToCaller(char* data, size_t size, size_t count, void* argument) {
  auto* caller = static_cast<CallerCallback*>(argument);
  size_t bytes = size * count;
  try {
    if (caller->callback(data, size, count, caller->argument) == bytes) return bytes;
  } catch (...) {
  }
  return bytes == 0 ? 1 : 0;  // any value other than `bytes` aborts
}

}  // namespace

size_t AppendToStringCallback(char* data, size_t size, size_t count, void* argument) {
  size_t bytes = size * count;
  try {
    static_cast<std::string*>(argument)->append(data, bytes);
  } catch (...) {
    return 0;
  }
  return bytes;
}

uint64_t GetRemoteFileSize(const std::string& url) {
  EasyHandle easy = NewEasyHandle(url);
  if (!easy) return 0;
  std::string headers;
  curl_easy_setopt(easy.get(), CURLOPT_HEADER, 1L);
  curl_easy_setopt(easy.get(), CURLOPT_NOBODY, 1L);
  curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, AppendToStringCallback);
  curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &headers);
  if (curl_easy_perform(easy.get()) != CURLE_OK) return 0;
  curl_off_t length = -1;
  if (curl_easy_getinfo(easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK || length < 0) {
    return 0;
  }
  return static_cast<uint64_t>(length);
}

int DownloadUrl(const std::string& url, CurlWriteFunction callback, void* argument) {
  if (callback == nullptr) return CURLE_BAD_FUNCTION_ARGUMENT;
  EasyHandle easy = NewEasyHandle(url);
  if (!easy) return CURLE_FAILED_INIT;
  CallerCallback caller{callback, argument};
  curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, ForwardToCaller);
  curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &caller);
  return curl_easy_perform(easy.get());
}

}  // namespace hlx
