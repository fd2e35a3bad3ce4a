// The current host platform and the shared-heap text copy; see host_platform.h.
#include "host_platform.h"

#include <cstdlib>
#include <cstring>
#include <cwctype>

namespace trv {
namespace {

HostPlatform* g_testPlatform = nullptr;

#ifndef _WIN32
// Native builds have no windows: every rectangle is empty and nothing is shown or posted.
class NoWindowsPlatform final : public HostPlatform {
public:
    TrvRect ClientRect(TrvWindow) override { return TrvRect{}; }
    TrvRect FrameRect() override { return TrvRect{}; }
    TrvRect WorkArea() override { return TrvRect{}; }
    void MoveFrame(const TrvRect&) override {}
    void PlaceView(int32_t, int32_t) override {}
    void CreateHostDialogs(TrvWindow) override {}
    void LayOutNoticeSheet() override {}
    void ShowNotice(const std::wstring&) override {}
    bool PostValueToView(const char*, int32_t) override { return false; }
    void* SectionFont() override { return nullptr; }
};
#endif

}  // namespace

#ifdef _WIN32
HostPlatform& SystemHostPlatform();  // host_platform_win32.cpp
#endif

HostPlatform& CurrentHostPlatform() {
    if (g_testPlatform != nullptr) {
        return *g_testPlatform;
    }
#ifdef _WIN32
    return SystemHostPlatform();
#else
    static NoWindowsPlatform* platform = new NoWindowsPlatform();
    return *platform;
#endif
}

ScopedHostPlatform::ScopedHostPlatform(HostPlatform& platform) : m_previous(g_testPlatform) {
    g_testPlatform = &platform;
}

ScopedHostPlatform::~ScopedHostPlatform() { g_testPlatform = m_previous; }

wchar_t* HeapWideCopy(const std::wstring& text) {
    auto* copy = static_cast<wchar_t*>(std::malloc((text.size() + 1) * sizeof(wchar_t)));
    if (copy != nullptr) {
        std::memcpy(copy, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    }
    return copy;
}

std::wstring TrimWide(const std::wstring& text) {
    size_t first = 0;
    size_t last = text.size();
    while (first < last && std::iswspace(static_cast<wint_t>(text[first]))) ++first;
    while (last > first && std::iswspace(static_cast<wint_t>(text[last - 1]))) --last;
    return text.substr(first, last - first);
}

}  // namespace trv
