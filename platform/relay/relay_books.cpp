// The relay's books: the book list (1008), a section of the books-and-ringtones answer (1001), asked under the
// iTunes command, as the books table (relay_tables.h): title, author, genre, format and size, and after
// them the book's path on the device, its key; see relay_lists.h. The chosen files are imported one by one
// (1012) and the checked books deleted one by one (1013); see relay_actions.h.
#include <cstring>
#include <cwctype>
#include <iterator>
#include <memory>

#include "command_names.h"
#include "relay_actions.h"
#include "relay_cells.h"
#include "relay_lists.h"
#include "vnl_utf8.h"

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
                       HasNumber(book, "size") ? SizeText(NumberMember(book, "size")) : L"",
                       WideMember(book, "path")});
    }
}

const BatchReader kBookRows = {&ReadTable<&AddBooks>, &ReleaseTextBatch};

const ListRoute kRoutes[] = {
    {ZERITH_COMMAND_DO_ITUNES, 74, 1001, ZERITH_COMMAND_DO_BOOK, 74, 73, kRequestStatus, &kBookRows, 1008},
};
const std::int64_t kQueries[] = {72};

}  // namespace

const ListFeature kBooksList = {kRoutes, std::size(kRoutes), kQueries, std::size(kQueries)};

namespace {

constexpr std::uint32_t kImportBook = 1012;
constexpr std::uint32_t kDeleteBook = 1013;

std::wstring BookFailureText(std::int64_t code) {
    switch (code) {
    case 32: return L"the device's book list could not be read";
    case 33: return L"the device's book list could not be written";
    case 34: return L"the book could not be copied to the device";
    case 37: return L"the device keeps no book there";
    case 38: return L"the device kept the book's file";
    case 39: return L"the book could not be unpacked on the device";
    default: return FailureText(code);
    }
}

// One request a book, `servicePaths` naming each book as the service takes it (empty: out of its reach);
// once the last has ended, the outcome goes to the host under `answerCode` with the books counted
// afterwards, and the books are listed afresh.
void RunBookSteps(ActionsService& service, const std::string& device, std::uint32_t serviceCode,
                  std::int64_t answerCode, const std::vector<std::pair<std::wstring, std::wstring>>& books) {
    struct Run {
        ActionOutcome outcome;
        size_t left = 0;
    };
    auto run = std::make_shared<Run>();
    const auto finish = [&service, device, answerCode, run]() {
        const std::int64_t before = service.Lists().Counted(device, sdk::books::kRelayCount).value_or(0);
        const std::int64_t changed = static_cast<std::int64_t>(run->outcome.done.size());
        const bool imported = answerCode == sdk::books::kRelayImported;
        const std::wstring text = OutcomeText(run->outcome, imported ? L"Imported" : L"Deleted",
                                              imported ? L"import" : L"delete");
        service.Answer(ZERITH_COMMAND_DO_BOOK, device, answerCode, OutcomeBatch(text),
                       std::max<std::int64_t>(0, imported ? before + changed : before - changed), &ReleaseTextBatch);
        service.Relist(ZERITH_COMMAND_DO_ITUNES, sdk::books::kRelayLoad, device);
    };
    for (const auto& book : books) {
        if (book.second.empty()) {
            run->outcome.failed.emplace_back(book.first, L"the device service cannot reach the file");
            continue;
        }
        ++run->left;
        ActionStep step;
        step.device = device;
        step.serviceCode = serviceCode;
        step.data = JsonTextObject("path", book.second);
        step.done = [run, finish, name = book.first](const StepResult& result) {
            if (result.code == 0) {
                run->outcome.done.push_back(name);
            } else {
                run->outcome.failed.emplace_back(name, BookFailureText(result.code));
            }
            if (--run->left == 0) finish();
        };
        service.Queue(std::move(step));
    }
    if (run->left == 0) finish();
}

}  // namespace

bool HandleBookAction(ActionsService& service, CommandMessage& message) {
    if (std::strcmp(message.name, ZERITH_COMMAND_DO_BOOK) != 0 ||
        (message.code != sdk::books::kRelayImport && message.code != sdk::books::kRelayDelete)) {
        return false;
    }
    std::unique_ptr<std::vector<std::wstring>> paths(static_cast<std::vector<std::wstring>*>(message.data));
    message.data = nullptr;
    const std::string device = message.wideText != nullptr ? vnl::Utf8FromWide(message.wideText) : std::string();
    if (!paths || paths->empty() || device.empty()) return true;
    std::vector<std::pair<std::wstring, std::wstring>> books;  // (name for the user, path for the service)
    for (const std::wstring& path : *paths) {
        if (message.code == sdk::books::kRelayImport) {
            books.emplace_back(FileName(path), service.Link().ServicePathOf(path));
        } else {
            books.emplace_back(FileName(path), path);
        }
    }
    if (message.code == sdk::books::kRelayImport) {
        RunBookSteps(service, device, kImportBook, sdk::books::kRelayImported, books);
    } else {
        RunBookSteps(service, device, kDeleteBook, sdk::books::kRelayDeleted, books);
    }
    return true;
}

}  // namespace relay
