#pragma once
// UiProgressDialog: the modeless dialog of a long device operation: a status line, a bar with its
// percentage, "Cancel" (later "OK") and optionally "Show in folder". Reports write its ProgressState from
// any thread; its timer paints the changes on the UI thread and, once the run is finished, shows the
// summary ("Finish" or "Failed(n)") and either closes itself (auto-close) or offers "OK".
// UiUpdateDownloadDialog is the same dialog for the product update's download, adding the downloaded and
// total sizes, the downloaded installer's path and a closing state. UI thread, except the state.

#include <windows.h>

#include <functional>
#include <string>

#include "UiDialog.h"
#include "VNLSwitchButton.h"
#include "progress_state.h"

class UiProgressDialog : public UiDialog {
public:
    static constexpr int kFolderButtonId = 5051;
    static constexpr int kActionButtonId = 5052;
    static constexpr UINT_PTR kTickTimer = 1;
    static constexpr UINT_PTR kAutoCloseTimer = 2;

    UiProgressDialog(Gdiplus::Bitmap* closeNormal, Gdiplus::Bitmap* closeHover);
    ~UiProgressDialog() override;

    BEGIN_MSG_MAP(UiProgressDialog)
    MSG_WM_PAINT(Paint)
    MSG_WM_INITDIALOG(OnInitDialog)
    MSG_WM_TIMER(OnTimer)
    COMMAND_ID_HANDLER_EX(kDialogCloseButtonId, OnCancelButton)
    COMMAND_ID_HANDLER_EX(kActionButtonId, OnCancelButton)
    COMMAND_ID_HANDLER_EX(kFolderButtonId, OnFolderButton)
    CHAIN_MSG_MAP(UiDialog)
    END_MSG_MAP()

    trv::ProgressState& State() { return m_state; }
    // A new run: counters, texts and flags cleared, "Cancel" on the action button.
    void ResetState() override;
    // The same for the dialog only, leaving the progress state to the reports.
    void ResetView();
    void MarkDone() override { m_state.finished = true; }
    // Shows the dialog and starts painting the state every `tick` (500 ms unless a test sets it).
    virtual void Start();
    virtual void Layout();
    // Ends the run at once with `text` as the status line (kept when empty) and "OK".
    void FinishWithText(const std::wstring& text);
    // Hides a dialog that is not closed yet, ending its run without a summary and dropping its texts.
    void Close();
    void DrawContent(HDC dc, int left, int top, int right, int bottom) override;

    void SetShowFolder(bool show) { m_showFolder = show; }
    void SetFolder(const std::wstring& folder) { m_folder = folder; }
    void SetAutoClose(bool autoClose) { m_autoClose = autoClose; }
    void SetIcon(Gdiplus::Bitmap* icon) { m_icon = icon; }
    // Called once when a run that has not finished is cancelled.
    void SetCompletion(std::function<void()> completion) { m_completion = std::move(completion); }
    void SetTickInterval(UINT ms) { m_tickMs = ms; }
    // What the dialog shows now (tests and owners).
    std::wstring ShownStatus() const { return m_shownStatus; }
    int64_t ShownDone() const { return m_shownDone; }
    RECT ProgressRect() const { return m_progressRect; }

protected:
    LRESULT OnInitDialog(HWND focus, LPARAM init);
    void OnTimer(UINT_PTR id);
    void OnCancelButton(UINT, int, HWND) { OnCancel(); }
    void OnFolderButton(UINT, int, HWND);
    virtual void OnCancel();
    void Repaint();
    void SetActionCaption(const std::wstring& caption);

    trv::ProgressState m_state;
    VNLSwitchButton m_folderButton;
    VNLSwitchButton m_actionButton;
    bool m_showFolder = true;
    bool m_autoClose = false;
    std::wstring m_folder;
    int64_t m_shownTotal = 0;
    int64_t m_shownDone = 0;
    std::wstring m_shownStatus;
    bool m_summaryShown = false;
    Gdiplus::Bitmap* m_icon = nullptr;  // lent
    COLORREF m_barColour = kDialogGrey;
    RECT m_statusRect = {};
    RECT m_progressRect = {};
    wtl::UniqueFont m_statusFont;
    wtl::UniqueFont m_percentFont;
    wtl::UniqueFont m_buttonFont;
    std::function<void()> m_completion;
    UINT m_tickMs = 500;
};

class UiUpdateDownloadDialog : public UiProgressDialog {
public:
    using CancelCallback = std::function<void(bool finished)>;

    UiUpdateDownloadDialog(Gdiplus::Bitmap* closeNormal, Gdiplus::Bitmap* closeHover);

    void SetCancelCallback(CancelCallback callback) { m_cancel = std::move(callback); }
    void SetDownloadedFile(const std::wstring& path) { m_downloadedFile = path; }
    const std::wstring& DownloadedFile() const { return m_downloadedFile; }
    // "Closing application,wait a moment...", the action button disabled.
    void SetClosing();
    // The download failed (or its installer did not start): `text`, no cancel action, "OK".
    void Fail(const std::wstring& text);
    void ResetState() override;
    void DrawContent(HDC dc, int left, int top, int right, int bottom) override;

protected:
    void OnCancel() override;

private:
    CancelCallback m_cancel;
    std::wstring m_downloadedFile;
    bool m_closing = false;
};

// The progress dialog that the host filed under `owner` (the main view's, made with the shared dialogs);
// null when there is none. UI thread.
UiProgressDialog* ProgressDialogFiledUnder(HWND owner);
