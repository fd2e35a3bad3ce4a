// Downloads over HTTP(S) with libcurl's easy interface: the size of a remote file and a download
// through a write callback. Each call uses its own easy handle, so any thread may call at any time;
// the write callback runs on the calling thread.
//
// An HTTP status of 400 or more is a failed transfer (no error page is handed to the callback),
// only http and https are followed (redirects included), and a transfer that connects for more than
// 30 s or moves less than one byte per second for 60 s is abandoned, so a stalled server cannot
// hold a worker forever.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace hlx {

// libcurl's write callback: `size` * `count` bytes at `data`; return that product to go on. Any
// other result aborts the transfer (DownloadUrl then returns a non-zero code).
using CurlWriteFunction = size_t (*)(char* data, size_t size, size_t count, void* argument);

// Appends size * count bytes to the std::string that `argument` points to; returns size * count.
size_t AppendToStringCallback(char* data, size_t size, size_t count, void* argument);

// The Content-Length that a HEAD request for the URL reports (after redirects), or 0 when the
// transfer fails, the status is 400 or more, or the length is unknown.
uint64_t GetRemoteFileSize(const std::string& url);

// Downloads the URL through the callback, following up to 5 redirects. Returns the libcurl result
// code: 0 (CURLE_OK) for a complete transfer; non-zero otherwise, among them 22
// (CURLE_HTTP_RETURNED_ERROR) for a status of 400 or more and 23 (CURLE_WRITE_ERROR) when the
// callback aborted, whatever value it returned to do so (libcurl's pause value included).
int DownloadUrl(const std::string& url, CurlWriteFunction callback, void* argument);

}  // namespace hlx
