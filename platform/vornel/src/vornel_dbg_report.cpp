// The crash filter; see VNLDbgReport.h. Runs on the crashing thread. It writes the dump first, before
// anything that could fail on a damaged heap, and guards against a crash inside its own callbacks.
#include "vornel/VNLDbgReport.h"

#include <windows.h>
#include <dbghelp.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "vnl_stored_zip.h"

namespace {

wchar_t g_dumpPath[MAX_PATH * 2] = {};
VNLCrashReportCallback g_report = nullptr;
VNLCrashDescriptionCallback g_describe = nullptr;
volatile LONG g_inFilter = 0;

bool WriteDump(EXCEPTION_POINTERS* exception) {
    HANDLE file = CreateFileW(g_dumpPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    MINIDUMP_EXCEPTION_INFORMATION info = {};
    info.ThreadId = GetCurrentThreadId();
    info.ExceptionPointers = exception;
    info.ClientPointers = FALSE;
    const BOOL ok = MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file, MiniDumpNormal,
                                      exception != nullptr ? &info : nullptr, nullptr, nullptr);
    CloseHandle(file);
    return ok != FALSE;
}

bool ReadWhole(const std::wstring& path, std::string& bytes) {
    FILE* raw = _wfopen(path.c_str(), L"rb");
    if (raw == nullptr) return false;
    std::unique_ptr<FILE, int (*)(FILE*)> file(raw, &fclose);
    char buffer[64 * 1024];
    size_t got = 0;
    while ((got = fread(buffer, 1, sizeof(buffer), file.get())) > 0) bytes.append(buffer, got);
    return ferror(file.get()) == 0;
}

std::string FileNameOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    const std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    const int count = WideCharToMultiByte(CP_UTF8, 0, name.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (count <= 1) return "file";
    std::string out(static_cast<size_t>(count), '\0');
    WideCharToMultiByte(CP_UTF8, 0, name.c_str(), -1, &out[0], count, nullptr, nullptr);
    out.resize(static_cast<size_t>(count) - 1);
    return out;
}

// The report zip: the dump and the program's extra file, beside the dump, named after it.
std::wstring WriteReportZip(const std::wstring& dumpPath, const wchar_t* extraFile) {
    std::vector<vnl::ZipEntry> entries;
    for (const std::wstring& path : {dumpPath, std::wstring(extraFile ? extraFile : L"")}) {
        if (path.empty()) continue;
        vnl::ZipEntry entry;
        entry.name = FileNameOf(path);
        if (ReadWhole(path, entry.bytes)) entries.push_back(std::move(entry));
    }
    std::string archive;
    if (!vnl::BuildStoredZip(entries, archive)) return std::wstring();
    const size_t dot = dumpPath.find_last_of(L'.');
    const std::wstring zipPath = (dot == std::wstring::npos ? dumpPath : dumpPath.substr(0, dot)) + L".zip";
    FILE* raw = _wfopen(zipPath.c_str(), L"wb");
    if (raw == nullptr) return std::wstring();
    std::unique_ptr<FILE, int (*)(FILE*)> file(raw, &fclose);
    if (fwrite(archive.data(), 1, archive.size(), file.get()) != archive.size()) return std::wstring();
    return zipPath;
}

LONG WINAPI CrashFilter(EXCEPTION_POINTERS* exception) {
    // A second crash while reporting the first ends the process without another report.
    if (InterlockedExchange(&g_inFilter, 1) != 0) return EXCEPTION_EXECUTE_HANDLER;
    try {
        WriteDump(exception);
        const std::wstring dumpPath = g_dumpPath;
        const size_t slash = dumpPath.find_last_of(L'\\');
        const std::wstring folder = slash == std::wstring::npos ? std::wstring() : dumpPath.substr(0, slash + 1);
        wchar_t* extra = nullptr;
        if (g_describe != nullptr) g_describe(folder.c_str(), &extra);
        const std::wstring zipPath = WriteReportZip(dumpPath, extra);
        std::free(extra);
        if (g_report != nullptr) g_report(zipPath.empty() ? dumpPath.c_str() : zipPath.c_str());
    } catch (...) {
        // Nothing more can be done for the report; the process ends below all the same.
    }
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

bool VNLDbgReport::RegisterCrashFilter(const wchar_t* dumpPath, VNLCrashReportCallback report,
                                       VNLCrashDescriptionCallback describe) {
    if (dumpPath == nullptr || dumpPath[0] == L'\0' || wcslen(dumpPath) >= sizeof(g_dumpPath) / sizeof(wchar_t)) {
        return false;
    }
    wcscpy(g_dumpPath, dumpPath);
    g_report = report;
    g_describe = describe;
    SetUnhandledExceptionFilter(&CrashFilter);
    return true;
}
