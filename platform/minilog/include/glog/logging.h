#pragma once
// The desktop's logging layer: the subset of glog's calls that the GUI deliverables use (LOG, LOG_IF,
// VLOG, CHECK, InitGoogleLogging, ShutdownGoogleLogging, the FLAGS_ settings), because glog is not built
// for the 32-bit Windows target. Every deliverable links the one libminilog.dll, so all modules write to
// the same file. Lines look like glog's ("I1209 04:50:02.123456  1234 file.cpp:12] text"); unlike glog,
// all severities go to one file per run, "<program>.<yyyymmdd-HHMMSS>.<pid>.log" in FLAGS_log_dir, and a
// new file is started when the current one passes FLAGS_max_log_size megabytes. Before
// InitGoogleLogging and after ShutdownGoogleLogging lines go to standard error. Any thread.

#include <cstdint>
#include <sstream>
#include <string>

#ifdef MINILOG_BUILD
#define MINILOG_API __declspec(dllexport)
#else
#define MINILOG_API __declspec(dllimport)
#endif

MINILOG_API extern std::string FLAGS_log_dir;   // folder of the log files, in the ANSI code page
MINILOG_API extern int32_t FLAGS_max_log_size;  // megabytes per file
MINILOG_API extern int32_t FLAGS_v;             // VLOG verbosity

namespace google {

enum LogSeverity : int { GLOG_INFO = 0, GLOG_WARNING = 1, GLOG_ERROR = 2, GLOG_FATAL = 3 };

MINILOG_API void InitGoogleLogging(const char* programName);
MINILOG_API void ShutdownGoogleLogging();
MINILOG_API bool IsGoogleLoggingInitialized();

// One log line, written when the object is destroyed. FATAL lines end the process after writing.
class MINILOG_API LogMessage {
public:
    LogMessage(const char* file, int line, LogSeverity severity);
    ~LogMessage();
    LogMessage(const LogMessage&) = delete;
    LogMessage& operator=(const LogMessage&) = delete;
    std::ostream& stream() { return m_stream; }

private:
    const char* m_file;
    int m_line;
    LogSeverity m_severity;
    std::ostringstream m_stream;
};

// Turns a stream expression into void so that LOG_IF can be an expression.
struct LogMessageVoidify {
    void operator&(std::ostream&) {}
};

}  // namespace google

// Token pasting keeps LOG(ERROR) working although the Windows headers define ERROR as a macro.
#define MINILOG_MESSAGE_INFO ::google::LogMessage(__FILE__, __LINE__, ::google::GLOG_INFO)
#define MINILOG_MESSAGE_WARNING ::google::LogMessage(__FILE__, __LINE__, ::google::GLOG_WARNING)
#define MINILOG_MESSAGE_ERROR ::google::LogMessage(__FILE__, __LINE__, ::google::GLOG_ERROR)
#define MINILOG_MESSAGE_FATAL ::google::LogMessage(__FILE__, __LINE__, ::google::GLOG_FATAL)

#define LOG(severity) MINILOG_MESSAGE_##severity.stream()
#define LOG_IF(severity, condition) !(condition) ? (void)0 : ::google::LogMessageVoidify() & LOG(severity)
#define VLOG(level) LOG_IF(INFO, (level) <= FLAGS_v)
#define CHECK(condition) LOG_IF(FATAL, !(condition)) << "Check failed: " #condition " "
