// The logging layer's writer; see glog/logging.h. One process-wide file under one mutex.
#include "glog/logging.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

std::string FLAGS_log_dir;
int32_t FLAGS_max_log_size = 1800;
int32_t FLAGS_v = 0;

namespace google {
namespace {

struct LogState {
    std::mutex mutex;
    // guards:
    bool initialized = false;
    std::string program;
    FILE* file = nullptr;
    uint64_t fileBytes = 0;
};

LogState& State() {
    static LogState* state = new LogState();
    return *state;
}

const char kSeverityLetters[] = "IWEF";

std::string Basename(const char* path) {
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '\\' || *p == '/') name = p + 1;
    }
    return name;
}

// Opens the next file of the run; caller holds the mutex.
void OpenLogFile(LogState& state) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char name[64];
    std::snprintf(name, sizeof(name), ".%04u%02u%02u-%02u%02u%02u.%lu.log", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond, static_cast<unsigned long>(GetCurrentProcessId()));
    std::string path = FLAGS_log_dir;
    if (!path.empty() && path.back() != '\\' && path.back() != '/') path += '\\';
    path += state.program + name;
    state.file = std::fopen(path.c_str(), "ab");
    state.fileBytes = 0;
    if (state.file != nullptr) {
        char header[160];
        const int length = std::snprintf(header, sizeof(header),
                                         "Log file created at: %04u/%02u/%02u %02u:%02u:%02u\n"
                                         "Log line format: [IWEF]mmdd hh:mm:ss.uuuuuu threadid file:line] msg\n",
                                         now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
        if (length > 0) state.fileBytes += std::fwrite(header, 1, static_cast<size_t>(length), state.file);
    }
}

void CloseLogFile(LogState& state) {
    if (state.file != nullptr) {
        std::fclose(state.file);
        state.file = nullptr;
    }
}

}  // namespace

void InitGoogleLogging(const char* programName) {
    LogState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.program = programName != nullptr && programName[0] != '\0' ? Basename(programName) : "program";
    state.initialized = true;
}

void ShutdownGoogleLogging() {
    LogState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    CloseLogFile(state);
    state.initialized = false;
}

bool IsGoogleLoggingInitialized() {
    LogState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.initialized;
}

LogMessage::LogMessage(const char* file, int line, LogSeverity severity)
    : m_file(file != nullptr ? file : "?"), m_line(line), m_severity(severity) {}

LogMessage::~LogMessage() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char prefix[96];
    const int severity = m_severity < GLOG_INFO || m_severity > GLOG_FATAL ? GLOG_ERROR : m_severity;
    std::snprintf(prefix, sizeof(prefix), "%c%02u%02u %02u:%02u:%02u.%06u %5lu %s:%d] ", kSeverityLetters[severity],
                  now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds * 1000u,
                  static_cast<unsigned long>(GetCurrentThreadId()), Basename(m_file).c_str(), m_line);
    const std::string text = prefix + m_stream.str() + "\n";
    {
        LogState& state = State();
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.initialized) {
            const uint64_t limit = static_cast<uint64_t>(FLAGS_max_log_size > 0 ? FLAGS_max_log_size : 1) << 20;
            if (state.file != nullptr && state.fileBytes + text.size() > limit) CloseLogFile(state);
            if (state.file == nullptr) OpenLogFile(state);
        }
        if (state.initialized && state.file != nullptr) {
            state.fileBytes += std::fwrite(text.data(), 1, text.size(), state.file);
            std::fflush(state.file);
        } else {
            std::fwrite(text.data(), 1, text.size(), stderr);
        }
    }
    if (m_severity == GLOG_FATAL) {
        std::abort();
    }
}

}  // namespace google
