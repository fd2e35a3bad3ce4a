// The notes page's rules; see note_rules.h.
#include "note_rules.h"

#include <algorithm>
#include <cwctype>

namespace cortal {

namespace {

// The name of the markup tag that `tag` (the text between '<' and '>') is, lower case, or empty when it is
// none: only the tags a note's formatting uses count, so that a '<' of the text itself ("<more>", "a < b")
// stays.
std::wstring TagName(const std::wstring& tag) {
    static const wchar_t* const kTags[] = {L"a",    L"b",    L"blockquote", L"body", L"br",     L"div",  L"em",
                                           L"font", L"h1",   L"h2",         L"h3",   L"h4",     L"head", L"hr",
                                           L"html", L"i",    L"li",         L"ol",   L"object", L"p",    L"pre",
                                           L"s",    L"span", L"strike",     L"strong", L"sub",  L"sup",  L"table",
                                           L"td",   L"th",   L"tr",         L"tt",   L"u",      L"ul"};
    size_t at = !tag.empty() && tag[0] == L'/' ? 1 : 0;
    std::wstring name;
    for (; at < tag.size() && std::iswalnum(static_cast<wint_t>(tag[at])); ++at) {
        name += static_cast<wchar_t>(std::towlower(static_cast<wint_t>(tag[at])));
    }
    if (at < tag.size() && !std::iswspace(static_cast<wint_t>(tag[at])) && tag[at] != L'/') return std::wstring();
    for (const wchar_t* known : kTags) {
        if (name == known) return name;
    }
    return std::wstring();
}

// The tags after which the text goes on on a new line.
bool BreaksLine(const std::wstring& name) {
    return name == L"br" || name == L"div" || name == L"p" || name == L"li" || name == L"tr";
}

// The character that the reference `name` (between '&' and ';') stands for, or 0 when it is none.
wchar_t Referenced(const std::wstring& name) {
    static const struct {
        const wchar_t* name;
        wchar_t character;
    } kNamed[] = {{L"amp", L'&'}, {L"lt", L'<'}, {L"gt", L'>'}, {L"quot", L'"'}, {L"apos", L'\''}, {L"nbsp", L' '}};
    for (const auto& named : kNamed) {
        if (name == named.name) return named.character;
    }
    if (name.size() < 2 || name[0] != L'#') return 0;
    const bool hex = name[1] == L'x' || name[1] == L'X';
    const std::wstring digits = name.substr(hex ? 2 : 1);
    if (digits.empty() || digits.size() > 6) return 0;
    unsigned long value = 0;
    for (wchar_t d : digits) {
        const bool ok = hex ? std::iswxdigit(static_cast<wint_t>(d)) : std::iswdigit(static_cast<wint_t>(d));
        if (!ok) return 0;
        value = value * (hex ? 16 : 10) +
                static_cast<unsigned long>(std::iswdigit(static_cast<wint_t>(d)) ? d - L'0'
                                                                                  : std::towlower(d) - L'a' + 10);
    }
    return value > 0 && value < 0xFFFF ? static_cast<wchar_t>(value) : 0;
}

}  // namespace

std::wstring PlainText(const std::wstring& content) {
    std::wstring text;
    text.reserve(content.size());
    for (size_t i = 0; i < content.size(); ++i) {
        const wchar_t c = content[i];
        const size_t close = c == L'<' ? content.find(L'>', i) : std::wstring::npos;
        const std::wstring tag =
            close != std::wstring::npos ? TagName(content.substr(i + 1, close - i - 1)) : std::wstring();
        if (!tag.empty()) {
            // One break between two runs of text, however many tags stand there.
            if (!text.empty() && text.back() != L'\n' && BreaksLine(tag)) text += L'\n';
            i = close;
            continue;
        }
        if (c == L'&') {
            const size_t end = content.find(L';', i);
            const wchar_t referenced =
                end != std::wstring::npos && end - i <= 9 ? Referenced(content.substr(i + 1, end - i - 1)) : 0;
            if (referenced != 0) {
                text += referenced;
                i = end;
                continue;
            }
        }
        text += c == L'\t' ? L' ' : c;
    }
    return text;
}

bool NoteMatches(const NoteItem& note, const std::wstring& foldedQuery) {
    return pages::ContainsFolded(note.title, foldedQuery) ||
           pages::ContainsFolded(PlainText(note.content), foldedQuery) ||
           pages::ContainsFolded(note.summary, foldedQuery);
}

void SortNotes(std::vector<NoteItem*>& records, int column, bool ascending, pages::TextCompare compare) {
    const std::wstring NoteItem::*field = nullptr;
    if (column == 1) field = &NoteItem::title;
    if (column == 2) field = &NoteItem::content;
    if (column == 3) field = &NoteItem::time;
    if (field == nullptr) return;
    pages::SortRecordsBy(records, ascending, [compare, field](const NoteItem& a, const NoteItem& b) {
        return compare((a.*field).c_str(), (b.*field).c_str());
    });
}

std::wstring OneLine(const std::wstring& text) {
    std::wstring line;
    line.reserve(text.size());
    for (wchar_t c : text) {
        const bool lineBreak = c == L'\n' || c == L'\r';
        if (!lineBreak) {
            line += c;
        } else if (line.empty() || line.back() != L' ') {
            line += L' ';
        }
    }
    return line;
}

void SortHeldByTime(std::vector<std::shared_ptr<NoteItem>>& held) {
    std::sort(held.begin(), held.end(), [](const std::shared_ptr<NoteItem>& a, const std::shared_ptr<NoteItem>& b) {
        return pages::CompareOrdinal(a->time.c_str(), b->time.c_str()) > 0;
    });
}

}  // namespace cortal
