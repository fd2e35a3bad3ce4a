// Table cell texts; see relay_cells.h.
#include "relay_cells.h"

#include <cwctype>

#include "vnl_size_text.h"

namespace relay {
namespace {

bool IsBreak(wchar_t c) {
    // C0 and C1 controls (line feeds, carriage returns, tabs ...), and the Unicode line and paragraph
    // separators: a list cell would draw them as boxes.
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

std::wstring TwoDigits(std::int64_t value) { return (value < 10 ? L"0" : L"") + std::to_wstring(value); }

bool IsDigitAt(const std::wstring& text, std::size_t at) { return text[at] >= L'0' && text[at] <= L'9'; }

// "yyyy-mm-dd hh:mm:ss"
bool IsLocalTimeText(const std::wstring& text) {
    if (text.size() != 19) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t expected = i == 4 || i == 7 ? L'-' : i == 10 ? L' ' : i == 13 || i == 16 ? L':' : 0;
        if (expected != 0 ? text[i] != expected : !IsDigitAt(text, i)) return false;
    }
    return true;
}

// "2 weeks", "1 day"
std::wstring Count(std::int64_t count, const wchar_t* unit) {
    return std::to_wstring(count) + L" " + unit + (count == 1 ? L"" : L"s");
}

}  // namespace

std::wstring CellText(const std::wstring& text) {
    std::wstring cell;
    cell.reserve(text.size());
    bool blank = false;  // a break was seen since the last text
    for (wchar_t c : text) {
        if (IsBreak(c) || c == L' ') {
            blank = blank || !cell.empty();
            continue;
        }
        if (blank) cell += L' ';
        blank = false;
        cell += c;
    }
    return cell;
}

std::wstring DurationText(std::int64_t milliseconds) {
    const std::int64_t seconds = milliseconds < 0 ? 0 : milliseconds / 1000;
    const std::int64_t hours = seconds / 3600;
    const std::int64_t minutes = seconds / 60 % 60;
    const std::wstring rest = L":" + TwoDigits(seconds % 60);
    if (hours == 0) return std::to_wstring(minutes) + rest;
    return std::to_wstring(hours) + L":" + TwoDigits(minutes) + rest;
}

std::wstring SizeText(std::int64_t bytes) {
    return bytes < 0 ? std::wstring() : vnl::FormatByteSize(static_cast<std::uint64_t>(bytes));
}

std::wstring DateText(const std::wstring& localTime, bool dateOnly) {
    if (!IsLocalTimeText(localTime)) return localTime;
    return localTime.substr(0, dateOnly ? 10 : 16);
}

std::wstring AlbumName(const std::wstring& title, std::int64_t type) {
    const std::wstring name = CellText(title);
    if (!name.empty()) return name;
    switch (type) {
    case 0: return L"Untitled album";
    case 1: return L"Camera Roll";
    case 2: return L"Favorites";
    case 3: return L"Screenshots";
    case 4: return L"Saved Photos";
    case 5: return L"Recently Deleted";
    case 6: return L"Videos";
    default: return L"Album type " + std::to_wstring(type);
    }
}

std::wstring AlbumKindText(std::int64_t type) {
    return type == 0 ? L"Album" : type == 1 ? L"Camera Roll" : L"Smart album";
}

std::wstring FileName(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"/\\");
    return CellText(slash == std::wstring::npos ? path : path.substr(slash + 1));
}

std::wstring FolderOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L'/');
    return slash == std::wstring::npos ? std::wstring() : CellText(path.substr(0, slash));
}

std::wstring PartiesText(const std::wstring& handles) {
    std::wstring parties;
    std::size_t start = 0;
    while (start <= handles.size()) {
        std::size_t comma = handles.find(L',', start);
        if (comma == std::wstring::npos) comma = handles.size();
        const std::wstring party = CellText(handles.substr(start, comma - start));
        if (!party.empty()) parties += (parties.empty() ? L"" : L", ") + party;
        start = comma + 1;
    }
    return parties.empty() ? L"Unknown" : parties;
}

std::wstring RepeatText(const std::wstring& frequency, std::int64_t interval, const std::wstring& untilLocalTime) {
    struct Frequency {
        const wchar_t* name;
        const wchar_t* every;  // the text of an interval of 1
        const wchar_t* unit;
    };
    static const Frequency kFrequencies[] = {{L"daily", L"Daily", L"day"},
                                             {L"weekly", L"Weekly", L"week"},
                                             {L"monthly", L"Monthly", L"month"},
                                             {L"yearly", L"Yearly", L"year"}};
    std::wstring lower = CellText(frequency);
    if (lower.empty()) return std::wstring();
    for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    std::wstring text = CellText(frequency);
    for (const Frequency& known : kFrequencies) {
        if (lower == known.name) text = interval > 1 ? L"Every " + Count(interval, known.unit) : known.every;
    }
    if (!untilLocalTime.empty()) text += L" until " + DateText(CellText(untilLocalTime), true);
    return text;
}

std::wstring AlarmText(std::int64_t triggerSeconds) {
    if (triggerSeconds == 0) return L"At start";
    const std::int64_t seconds = triggerSeconds < 0 ? -triggerSeconds : triggerSeconds;
    std::wstring amount;
    if (seconds % 86400 == 0) {
        amount = Count(seconds / 86400, L"day");
    } else if (seconds % 3600 == 0) {
        amount = std::to_wstring(seconds / 3600) + L" h";
    } else if (seconds >= 60) {
        amount = std::to_wstring(seconds / 60) + L" min";
    } else {
        amount = std::to_wstring(seconds) + L" s";
    }
    return amount + (triggerSeconds < 0 ? L" before" : L" after");
}

std::wstring VersionText(const std::wstring& shortVersion, const std::wstring& build) {
    const std::wstring version = CellText(shortVersion);
    const std::wstring number = CellText(build);
    if (version.empty()) return number;
    if (number.empty() || number == version) return version;
    return version + L" (" + number + L")";
}

}  // namespace relay
