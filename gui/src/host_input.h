#pragma once
// The host's text questions, asked modally with "OK" and "Cancel" over the main view (window 2), or a line
// over the window that asks: one line (UiInputDialog) or a one-line subject and a multi-line content
// (UiSubjectContentDialog). Callers on any feature row use these two calls; the dialogs themselves stay
// behind them. UI thread (the relay handlers that ask run on the thread that invoked them, which for page
// requests is the UI thread).
//
//   trv::LineQuestion question;            // label "Name:", 300 x 120 by default
//   std::wstring typed;
//   if (trv::AskLine(question, typed)) { ... typed is the text as the user typed it ... }
//
//   trv::SubjectContentQuestion note;      // labels, initial texts, 400 x 200 by default
//   note.subjectLabel = L"Title:";  note.contentLabel = L"Content:";
//   trv::SubjectContent answer;
//   if (trv::AskSubjectContent(note, answer)) { ... answer.subject, answer.content ... }
//
// Both return true only when the user confirmed ("OK", id 5051); "Cancel" and the close button return false
// and leave the answer untouched. The texts come back exactly as typed: a caller that needs them trimmed
// calls TrimWhiteSpace, and one that must keep what was typed (a password) tests the trimmed text for
// emptiness but keeps the typed one. Without windows (native builds) nothing is asked and the answer is
// false, unless a test made its own HostUi current (host_ui.h).

#include <string>

#include "command_message.h"

namespace trv {

struct LineQuestion {
    std::wstring label = L"Name:";
    int width = 300;
    int height = 120;
    // Asked over this window (a page's own dialog that asked) rather than the main view, so that
    // closing the question hands the window back to the dialog and not to the main view.
    TrvWindow owner = nullptr;
    // What is typed shows as dots (a password).
    bool masked = false;
};

struct SubjectContentQuestion {
    std::wstring subjectLabel;
    std::wstring contentLabel;  // empty: the dialog asks the subject only
    std::wstring subject;       // initial texts
    std::wstring content;
    int width = 400;
    int height = 200;
};

struct SubjectContent {
    std::wstring subject;
    std::wstring content;
};

bool AskLine(const LineQuestion& question, std::wstring& typed);
// AskLine for answers that must not be blank, such as a password: true only when the user confirmed a text
// that is not all white space, which is then handed back exactly as typed (a password's blanks are part of
// it).
bool AskNonBlankLine(const LineQuestion& question, std::wstring& typed);
bool AskSubjectContent(const SubjectContentQuestion& question, SubjectContent& typed);

// `text` without leading and trailing white space (iswspace on each wide character).
std::wstring TrimWhiteSpace(const std::wstring& text);

}  // namespace trv
