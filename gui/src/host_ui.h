#pragma once
// What the host's dialog commands need of the windowing system and the shell: the modal questions, the
// shared progress and update dialogs, running work on the UI thread, opening addresses, and starting
// programs. The Win32 implementation (host_ui_win32.cpp) serves the program; native builds get one that
// shows nothing and starts nothing, and tests make their own current, so the command handlers are the
// same code in both builds. Every call may be made on any thread unless it says otherwise.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "command_message.h"
#include "host_input.h"

namespace trv {

class ProgressState;

class HostUi {
public:
    virtual ~HostUi() = default;

    // Creates the shared progress, download and update-list dialogs on the main view `view` and files them
    // (dialogs 1, 3 and 4, and the progress dialog of the view). UI thread.
    virtual void CreateDialogs(TrvWindow view) { (void)view; }

    // The modal questions of host_input.h. UI thread.
    virtual bool AskLine(const LineQuestion&, std::wstring&) { return false; }
    virtual bool AskSubjectContent(const SubjectContentQuestion&, SubjectContent&) { return false; }

    // Runs `task` on the UI thread after the tasks posted before it; tasks are never run twice, and a task
    // that cannot be posted is dropped (false).
    virtual bool RunOnUiThread(std::function<void()> task) {
        (void)task;
        return false;
    }

    // Closes the progress dialog (4) unless it is closed already: its run stops, it hides and lets go of
    // its status texts. UI thread.
    virtual void CloseProgressDialog() {}
    // Opens the update list (dialog 3) again when an earlier check left release notes in it; false when
    // it holds none. UI thread.
    virtual bool ReopenUpdateList() { return false; }

    // Gives the notice sheet (dialog 2) `text` and opens it. UI thread; other threads use PostSheetNotice.
    virtual void ShowSheetNotice(const std::wstring& text) { (void)text; }

    // The progress state of the progress dialog filed under `owner`, or of dialog 1 (the update download)
    // for null; null when there is none. The state lives as long as the dialog.
    virtual ProgressState* ProgressOf(TrvWindow owner) {
        (void)owner;
        return nullptr;
    }
    virtual ProgressState* DownloadProgress() { return nullptr; }

    // Posts a copy of `message` under `name` to the main view (WM_POSTED_COMMAND), where OnPostedCommand
    // frees it; false when it could not be posted (the copy is freed then).
    virtual bool PostCopyToView(const char* name, const CommandMessage& message) {
        (void)name;
        (void)message;
        return false;
    }
    // The update download dialog (1): the installer it downloaded, and its failed state with `text`. The
    // second runs on the UI thread.
    virtual std::wstring DownloadedInstaller() { return std::wstring(); }
    virtual void FailDownload(const std::wstring& text) { (void)text; }
    // Values of the user-defaults store "url" ("url:feedback", "product:type"); empty or 0 when missing.
    virtual std::string UrlDefault(const char* key) {
        (void)key;
        return std::string();
    }
    virtual int64_t UrlDefaultInt(const char* key) {
        (void)key;
        return 0;
    }
    // The preferences file's path (Option.json), empty when unknown.
    virtual std::wstring PreferencesPath() { return std::wstring(); }

    // The driver installation on the progress dialog (4). UI thread, except DriverProgress.
    enum class DriverStage {
        Downloading,  // a new run (its counters and status set by the report): the download image, no
                      // "Show in folder"; `onCancel` runs when the user cancels it before it ends
        Installing,   // the installation image
        Stopped,      // a step failed: the run ends with `text` (why) and "OK" in place of its bar
        Finished,     // the run ends with `text`
    };
    virtual void ShowDriverStage(DriverStage stage, const std::wstring& text, std::function<void()> onCancel) {
        (void)stage;
        (void)text;
        (void)onCancel;
    }
    virtual ProgressState* DriverProgress() { return nullptr; }
    // The installation notices: "OK" and "Cancel", 300 x 100 (kind 1) or 500 x 160 (kind 2).
    virtual void ShowInstallAlert(const std::wstring& text, int kind) {
        (void)text;
        (void)kind;
    }
    // The notice for a device that is not recognized, with its three ways out; `links` answers its links.
    virtual void ShowNotRecognizedNotice(const std::wstring& body, std::function<void(const std::wstring&)> links) {
        (void)body;
        (void)links;
    }
    // True when this 32-bit program runs on 64-bit Windows.
    virtual bool IsWow64() { return false; }

    // The about box, modal over the main view. UI thread.
    virtual void ShowAbout() {}
    // Opens `address` (UTF-8) in the browser.
    virtual void OpenUrl(const std::string& address) { (void)address; }
    // An alert with the alert icon over the main view: "OK" and, when `withCancel`, "Cancel". UI thread.
    virtual void ShowAlert(const std::wstring& text, bool withCancel, int width, int height) {
        (void)text;
        (void)withCancel;
        (void)width;
        (void)height;
    }

    // Programs (the update installer and the add-ins). RunHiddenAndWait runs without a window until the
    // program ends and returns its process id, 0 when it did not start. RunElevated starts the program
    // through the shell (with raised rights when `elevate` is set), tells the user when it cannot, and waits
    // up to a second: true while the program runs or when it ended with a non-zero code.
    virtual uint32_t RunHiddenAndWait(const std::wstring& commandLine) {
        (void)commandLine;
        return 0;
    }
    virtual bool RunElevated(const std::wstring& program, const std::wstring& parameters, bool elevate) {
        (void)program;
        (void)parameters;
        (void)elevate;
        return false;
    }
    virtual bool FileExists(const std::wstring& path) {
        (void)path;
        return false;
    }
    virtual void DeleteFile(const std::wstring& path) { (void)path; }
    // The names of the folders directly inside `folder` ("." and ".." left out).
    virtual std::vector<std::wstring> SubFolders(const std::wstring& folder) {
        (void)folder;
        return {};
    }
    // Closes the main frame (window 1), which ends the program.
    virtual void CloseMainFrame() {}
};

// Shows `text` on the notice sheet from any thread: the sheet's timers belong to the UI thread, so the
// notice is posted there, after every notice posted before it. False when it could not be posted.
bool PostSheetNotice(const std::wstring& text);

// The implementation of this process: the Win32 one in the program, a do-nothing one in native builds, or
// the one a test made current.
HostUi& CurrentHostUi();

// Makes `ui` current for its lifetime (tests only).
class ScopedHostUi {
public:
    explicit ScopedHostUi(HostUi& ui);
    ~ScopedHostUi();
    ScopedHostUi(const ScopedHostUi&) = delete;
    ScopedHostUi& operator=(const ScopedHostUi&) = delete;

private:
    HostUi* m_previous;
};

}  // namespace trv
