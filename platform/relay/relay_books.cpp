// The relay's books: the book list (1008), a section of the books-and-ringtones answer (1001), asked under the
// iTunes command, as the books table (relay_tables.h): title, author, genre, format and size; see
// relay_lists.h.
#include <cwctype>
#include <iterator>

#include "command_names.h"
#include "relay_cells.h"
#include "relay_lists.h"

namespace relay {
namespace {

// "EPUB" for ".../Book.epub"; empty for a name without an extension.
std::wstring FormatOf(const std::wstring& name) {
    const std::size_t dot = name.find_last_of(L'.');
    if (dot == std::wstring::npos || dot == 0) return std::wstring();
    std::wstring format = name.substr(dot + 1);
    for (wchar_t& c : format) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    return format;
}

void AddBooks(const rapidjson::Value& document, ItemBatch<TextItem>& batch) {
    if (!document.IsArray()) return;
    for (const rapidjson::Value& book : document.GetArray()) {
        if (!book.IsObject()) continue;
        const std::wstring file = FileName(WideMember(book, "path"));
        std::wstring title = CellMember(book, "title");
        if (title.empty()) title = file;
        // The service's key for the genre is "gene".
        AddRow(batch, {title, CellMember(book, "artist"), CellMember(book, "gene"), FormatOf(file),
                       HasNumber(book, "size") ? SizeText(NumberMember(book, "size")) : L""});
    }
}

const BatchReader kBookRows = {&ReadTable<&AddBooks>, &ReleaseTextBatch};

const ListRoute kRoutes[] = {
    {ZERITH_COMMAND_DO_ITUNES, 74, 1001, ZERITH_COMMAND_DO_BOOK, 74, 73, kRequestStatus, &kBookRows, 1008},
};
const std::int64_t kQueries[] = {72};

}  // namespace

const ListFeature kBooksList = {kRoutes, std::size(kRoutes), kQueries, std::size(kQueries)};

}  // namespace relay
