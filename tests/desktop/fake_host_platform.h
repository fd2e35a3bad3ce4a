#pragma once
// The host platform of the desktop's native tests: it keeps what the host asks of the windows and answers the
// host's dialogs as the test says, noting each one. Install it with trv::ScopedHostPlatform.

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "host_platform.h"

namespace trv::test {

class FakeHostPlatform final : public HostPlatform {
public:
    // Windows: the client rectangles a test gives, the frame and the work area, and what was laid out.
    TrvRect ClientRect(TrvWindow window) override {
        auto it = clients.find(window);
        return it == clients.end() ? TrvRect{} : it->second;
    }
    TrvRect FrameRect() override { return frame; }
    TrvRect WorkArea() override { return work; }
    void MoveFrame(const TrvRect& rect) override { frame = rect; }
    void PlaceView(int32_t width, int32_t height) override { placedViews.push_back({width, height}); }
    void CreateHostDialogs(TrvWindow view) override { dialogsOn = view; }
    void LayOutNoticeSheet() override { ++sheetLayouts; }
    void ShowNotice(const std::wstring& text) override { notices.push_back(text); }
    bool PostValueToView(const char* name, int32_t value) override {
        posted.push_back(std::string(name) + "=" + std::to_string(value));
        return true;
    }
    void* SectionFont() override { return sectionFont; }

    // Dialogs, each noted in `shown` in the order asked: an alert as it reads, a question with
    // " <width>x<height>", a file question as "title|filter|pattern|one" (or "|many"), a two-text question as
    // "label|label|height|first|second", a line question by its label (with " (masked)" when what is typed is
    // hidden); and its owner in `owners`.
    void ShowAlert(const std::wstring& text, TrvWindow owner) override { Note(text, owner); }
    bool Confirm(const std::wstring& question, int32_t width, int32_t height, TrvWindow owner) override {
        Note(question + L" " + std::to_wstring(width) + L"x" + std::to_wstring(height), owner);
        ++questions;
        return accept;
    }
    std::wstring ChooseFolder(TrvWindow owner, const std::wstring& title) override {
        owners.push_back(owner);
        folderTitles.push_back(title);
        if (whileChoosing) whileChoosing();
        return folder;
    }
    std::vector<std::wstring> ChooseFiles(const std::wstring& title, const std::wstring& filterName,
                                          const std::wstring& pattern, bool multiple) override {
        shown.push_back(title + L"|" + filterName + L"|" + pattern + (multiple ? L"|many" : L"|one"));
        return files;
    }
    bool AskTwoTexts(const WideStringPair& labels, int32_t height, WideStringPair& entered) override {
        shown.push_back(labels.first + L"|" + labels.second + L"|" + std::to_wstring(height) + L"|" + entered.first +
                        L"|" + entered.second);
        entered = typed;
        return accept;
    }
    bool AskLine(const std::wstring& label, TrvWindow owner, bool masked, std::wstring& entered) override {
        Note(masked ? label + L" (masked)" : label, owner);
        entered = typed.first;
        return accept;
    }

    // How many dialogs showed exactly `text`.
    int Shown(const std::wstring& text) const {
        int count = 0;
        for (const std::wstring& each : shown) count += each == text;
        return count;
    }

    std::map<TrvWindow, TrvRect> clients;
    TrvRect frame{};
    TrvRect work{};
    std::vector<std::pair<int32_t, int32_t>> placedViews;
    TrvWindow dialogsOn = nullptr;
    int sheetLayouts = 0;
    std::vector<std::wstring> notices;
    std::vector<std::string> posted;
    void* sectionFont = nullptr;

    std::vector<std::wstring> shown;
    std::vector<TrvWindow> owners;
    std::vector<std::wstring> folderTitles;
    int questions = 0;  // the yes-or-no questions among them
    bool accept = true;
    std::wstring folder = L"C:\\out";
    std::vector<std::wstring> files;
    WideStringPair typed;
    std::function<void()> whileChoosing;  // what a page does while the folder dialog runs

private:
    void Note(const std::wstring& text, TrvWindow owner) {
        shown.push_back(text);
        owners.push_back(owner);
    }
};

}  // namespace trv::test
