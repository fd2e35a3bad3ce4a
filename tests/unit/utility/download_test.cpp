// Downloads against a local HTTP server (tools/http_test_server.py on 127.0.0.1, a free port):
// sizes by HEAD, whole files, redirects, error statuses and callbacks that abort.
#include "utility/hlx_download.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "os/hlx_os.h"
#include "utility_test_support.h"

namespace hlx {
namespace {

// The bytes that the server sends for /file/N.
std::string ServerFileBody(size_t count) {
  std::string body(count, '\0');
  for (size_t i = 0; i < count; ++i) body[i] = static_cast<char>((i * 31 + 7) & 0xFF);
  return body;
}

// The test server as a child process: it prints its port first and ends when its input closes.
class HttpTestServer {
 public:
  HttpTestServer() {
    int input[2];
    int output[2];
    if (pipe2(input, O_CLOEXEC) != 0) return;
    if (pipe2(output, O_CLOEXEC) != 0) {
      close(input[0]);
      close(input[1]);
      return;
    }
    os::SpawnOptions options;
    options.stdinFd = input[0];
    options.stdoutFd = output[1];
    os::SpawnResult started = os::Os().spawnProcess({HLX_PYTHON, test::ToolPath("http_test_server.py")}, options);
    close(input[0]);
    close(output[1]);
    m_stdin = input[1];
    m_pid = started.pid;
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (m_pid != 0 && line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      pollfd wait = {output[0], POLLIN, 0};
      if (poll(&wait, 1, 1000) <= 0) continue;
      char buffer[64];
      ssize_t n = read(output[0], buffer, sizeof(buffer));
      if (n <= 0) break;
      line.append(buffer, static_cast<size_t>(n));
    }
    close(output[0]);
    m_port = std::atoi(line.c_str());
  }

  ~HttpTestServer() {
    if (m_stdin >= 0) close(m_stdin);
    if (m_pid != 0) os::Os().waitProcess(m_pid);
  }

  int port() const { return m_port; }
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(m_port) + path; }

 private:
  int32_t m_pid = 0;
  int m_stdin = -1;
  int m_port = 0;
};

class DownloadTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_GT(m_server.port(), 0) << "the test server did not start"; }
  HttpTestServer m_server;
};

TEST_F(DownloadTest, RemoteFileSizeFromHead) {
  EXPECT_EQ(GetRemoteFileSize(m_server.Url("/file/12345")), 12345u);
  EXPECT_EQ(GetRemoteFileSize(m_server.Url("/file/0")), 0u);
  EXPECT_EQ(GetRemoteFileSize(m_server.Url("/redirect/777")), 777u);
}

TEST_F(DownloadTest, RemoteFileSizeOfFailuresIsZero) {
  EXPECT_EQ(GetRemoteFileSize(m_server.Url("/missing")), 0u);  // a 404 page has a length of its own
  EXPECT_EQ(GetRemoteFileSize(m_server.Url("/nolength")), 0u);
  EXPECT_EQ(GetRemoteFileSize(m_server.Url("/loop")), 0u);
  EXPECT_EQ(GetRemoteFileSize("http://127.0.0.1:1/file/10"), 0u);
  EXPECT_EQ(GetRemoteFileSize("not a url"), 0u);
}

TEST_F(DownloadTest, DownloadsWholeFilesThroughTheCallback) {
  for (size_t size : {size_t{0}, size_t{1}, size_t{100000}, size_t{3} << 20}) {
    SCOPED_TRACE(size);
    std::string body;
    EXPECT_EQ(DownloadUrl(m_server.Url("/file/" + std::to_string(size)), AppendToStringCallback, &body), CURLE_OK);
    EXPECT_TRUE(body == ServerFileBody(size));
  }
}

TEST_F(DownloadTest, FollowsRedirects) {
  std::string body;
  EXPECT_EQ(DownloadUrl(m_server.Url("/redirect/5000"), AppendToStringCallback, &body), CURLE_OK);
  EXPECT_TRUE(body == ServerFileBody(5000));

  body.clear();
  EXPECT_EQ(DownloadUrl(m_server.Url("/loop"), AppendToStringCallback, &body), CURLE_TOO_MANY_REDIRECTS);
}

TEST_F(DownloadTest, ErrorStatusIsAFailedTransferWithoutTheErrorPage) {
  std::string body;
  EXPECT_EQ(DownloadUrl(m_server.Url("/missing"), AppendToStringCallback, &body), CURLE_HTTP_RETURNED_ERROR);
  EXPECT_EQ(body, "");
}

TEST_F(DownloadTest, UnreachableServerAndOtherSchemesFail) {
  std::string body;
  EXPECT_NE(DownloadUrl("http://127.0.0.1:1/file/10", AppendToStringCallback, &body), CURLE_OK);
  EXPECT_NE(DownloadUrl("file:///etc/hostname", AppendToStringCallback, &body), CURLE_OK);
  EXPECT_EQ(body, "");
  EXPECT_NE(DownloadUrl(m_server.Url("/file/10"), nullptr, nullptr), CURLE_OK);
}

struct AbortState {
  int calls = 0;
  size_t result = 0;
};

size_t AbortingCallback(char*, size_t, size_t, void* argument) {
  auto* state = static_cast<AbortState*>(argument);
  ++state->calls;
  return state->result;
}

size_t ThrowingCallback(char*, size_t, size_t, void*) { throw std::runtime_error("stop"); }

TEST_F(DownloadTest, CallbackThatAbortsGivesANonZeroResult) {
  const std::string url = m_server.Url("/file/1000000");
  for (size_t result : {size_t{0}, size_t{1}, size_t{CURL_WRITEFUNC_PAUSE}}) {
    SCOPED_TRACE(result);
    AbortState state;
    state.result = result;
    EXPECT_EQ(DownloadUrl(url, AbortingCallback, &state), CURLE_WRITE_ERROR);
    EXPECT_EQ(state.calls, 1);
  }
  EXPECT_EQ(DownloadUrl(url, ThrowingCallback, nullptr), CURLE_WRITE_ERROR);
}

TEST(AppendToStringCallback, AppendsAndReportsTheByteCount) {
  std::string out = "x";
  char data[] = "abcdef";
  EXPECT_EQ(AppendToStringCallback(data, 2, 3, &out), 6u);
  EXPECT_EQ(out, "xabcdef");
}

}  // namespace
}  // namespace hlx
