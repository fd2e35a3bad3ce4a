#pragma once
// The host's text questions: UiInputDialog asks for one line next to a label, UiSubjectContentDialog for a
// one-line subject and a multi-line content, each next to its label. Both are modal alerts without icon
// and keep the alert's buttons: "OK" (5051) reads what was typed into the result fields and accepts,
// "Cancel" (5052) and the close button (5050) end the run and leave the results as they were. The caller
// sets the labels and initial texts, gives parent and size with SetContent and calls Run. UI thread only;
// other code asks through host_input.h.

#include <windows.h>

#include <string>

#include "UiAlertDialog.h"

class UiInputDialog : public UiAlertDialog {
public:
    static constexpr int kMaxLength = 50;
    static constexpr int kEditId = 5053;

    UiInputDialog(Gdiplus::Bitmap* closeNormal, Gdiplus::Bitmap* closeHover);

    BEGIN_MSG_MAP(UiInputDialog)
    MSG_WM_INITDIALOG(OnInitDialog)
    COMMAND_ID_HANDLER_EX(kDialogFirstButtonId, OnAccept)
    CHAIN_MSG_MAP(UiAlertDialog)
    END_MSG_MAP()

    void SetLabel(const std::wstring& label) { m_label = label; }
    // Set before Run: the line shows a dot for each typed character (a password).
    void SetMasked(bool masked) { m_masked = masked; }
    const std::wstring& Result() const { return m_resultText; }
    void DrawContent(HDC dc, int left, int top, int right, int bottom) override;

private:
    LRESULT OnInitDialog(HWND focus, LPARAM init);
    void OnAccept(UINT, int, HWND);

    HWND m_edit = nullptr;
    RECT m_labelRect = {};
    std::wstring m_label;
    bool m_masked = false;
    std::wstring m_resultText;
    wtl::UniqueFont m_editFont;
};

class UiSubjectContentDialog : public UiAlertDialog {
public:
    static constexpr int kSubjectEditId = 5053;
    static constexpr int kContentEditId = 5055;

    UiSubjectContentDialog(Gdiplus::Bitmap* closeNormal, Gdiplus::Bitmap* closeHover);

    BEGIN_MSG_MAP(UiSubjectContentDialog)
    MSG_WM_INITDIALOG(OnInitDialog)
    COMMAND_ID_HANDLER_EX(kDialogFirstButtonId, OnAccept)
    CHAIN_MSG_MAP(UiAlertDialog)
    END_MSG_MAP()

    // An empty content label leaves the content out (a one-field form).
    void SetLabels(const std::wstring& subject, const std::wstring& content) {
        m_subjectLabel = subject;
        m_contentLabel = content;
    }
    void SetInitialTexts(const std::wstring& subject, const std::wstring& content) {
        m_subject = subject;
        m_content = content;
    }
    const std::wstring& ResultSubject() const { return m_resultSubject; }
    const std::wstring& ResultContent() const { return m_resultContent; }
    void DrawContent(HDC dc, int left, int top, int right, int bottom) override;

private:
    LRESULT OnInitDialog(HWND focus, LPARAM init);
    void OnAccept(UINT, int, HWND);

    HWND m_subjectEdit = nullptr;
    HWND m_contentEdit = nullptr;
    RECT m_subjectLabelRect = {};
    RECT m_contentLabelRect = {};
    std::wstring m_subjectLabel;
    std::wstring m_contentLabel;
    std::wstring m_subject;
    std::wstring m_content;
    std::wstring m_resultSubject;
    std::wstring m_resultContent;
    wtl::UniqueFont m_editFont;
};
