// The current host UI and the text questions; see host_ui.h and host_input.h.
#include "host_ui.h"

#include <cwctype>

namespace trv {
namespace {

HostUi* g_testUi = nullptr;

}  // namespace

#ifdef _WIN32
HostUi& SystemHostUi();  // host_ui_win32.cpp
#endif

HostUi& CurrentHostUi() {
    if (g_testUi != nullptr) {
        return *g_testUi;
    }
#ifdef _WIN32
    return SystemHostUi();
#else
    static HostUi* none = new HostUi();
    return *none;
#endif
}

ScopedHostUi::ScopedHostUi(HostUi& ui) : m_previous(g_testUi) { g_testUi = &ui; }

ScopedHostUi::~ScopedHostUi() { g_testUi = m_previous; }

bool PostSheetNotice(const std::wstring& text) {
    return CurrentHostUi().RunOnUiThread([text] { CurrentHostUi().ShowSheetNotice(text); });
}

bool AskLine(const LineQuestion& question, std::wstring& typed) { return CurrentHostUi().AskLine(question, typed); }

bool AskNonBlankLine(const LineQuestion& question, std::wstring& typed) {
    std::wstring answer;
    if (!AskLine(question, answer) || TrimWhiteSpace(answer).empty()) {
        return false;
    }
    typed = answer;
    return true;
}

bool AskSubjectContent(const SubjectContentQuestion& question, SubjectContent& typed) {
    return CurrentHostUi().AskSubjectContent(question, typed);
}

std::wstring TrimWhiteSpace(const std::wstring& text) {
    size_t first = 0;
    size_t end = text.size();
    while (first < end && std::iswspace(static_cast<wint_t>(text[first]))) ++first;
    while (end > first && std::iswspace(static_cast<wint_t>(text[end - 1]))) --end;
    return text.substr(first, end - first);
}

}  // namespace trv
