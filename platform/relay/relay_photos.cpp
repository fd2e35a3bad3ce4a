// The relay's photos: all photos (400), the albums (401) and one album's photos (402) as the photos and
// albums tables (relay_tables.h); see relay_lists.h. A photo shows its file's name, when it was taken and
// changed (local time), its size and its folder on the device, and after them its file's path on the
// device, its key; an album its name (the smart albums, which have no title, by their type), its kind and
// how many items it holds, and after them its key, "<id> <type>", which names it to the service. Every
// listing of photos is followed by their thumbnails (403); the checked albums are exported with their
// photos' files (402 each, then one 701); see relay_actions.h.
//
// The host relays the albums view's loads under 129 (its section switch; with an album's key lent in
// `data`, the page's opening of that album) and 130 (the page's own reload of the album list), and hands
// every answer of 129 to that view: `value4` tells the album list from an album's photos.
#include <algorithm>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <memory>
#include <set>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "command_names.h"
#include "relay_actions.h"
#include "relay_cells.h"
#include "relay_exports.h"
#include "relay_lists.h"
#include "relay_tables.h"
#include "vnl_utf8.h"

namespace relay {
namespace {

constexpr std::int64_t kPhotosView = 0;
constexpr std::int64_t kAlbumsView = 1;
constexpr int kPathField = 5;  // a photo row's device path, after the photos table's columns

// The key of an album row: its id and type as the album list gives them.
std::wstring AlbumKey(std::int64_t id, std::int64_t type) { return std::to_wstring(id) + L" " + std::to_wstring(type); }

bool ReadNumber(const std::wstring& text, size_t& at, std::int64_t& number) {
    constexpr size_t kMaxDigits = 9;  // the service reads both as 32-bit numbers
    const size_t start = at;
    number = 0;
    while (at < text.size() && at - start < kMaxDigits && text[at] >= L'0' && text[at] <= L'9') {
        number = number * 10 + (text[at++] - L'0');
    }
    return at > start;
}

// The "info" of an album's contents request (402) for the album `key`; false when `key` names no album.
bool AlbumInfo(const std::wstring& key, std::string& info) {
    size_t at = 0;
    std::int64_t id = 0;
    std::int64_t type = 0;
    if (!ReadNumber(key, at, id) || at >= key.size() || key[at++] != L' ' || !ReadNumber(key, at, type) ||
        at != key.size()) {
        return false;
    }
    rapidjson::StringBuffer json;
    rapidjson::Writer<rapidjson::StringBuffer> writer(json);
    writer.StartObject();
    writer.Key("album_id");
    writer.Int64(id);
    writer.Key("album_type");
    writer.Int64(type);
    writer.EndObject();
    info.assign(json.GetString(), json.GetSize());
    return true;
}

// The page's opening of an album lends the album's key in `data`; the section switch's load lends nothing.
bool AlbumPhotosInfo(const CommandMessage& message, std::string& info) {
    constexpr size_t kMaxKeyChars = 24;  // two 9-digit numbers and a blank, with room
    if (message.data == nullptr) return false;
    const auto* key = static_cast<const wchar_t*>(message.data);
    const size_t length = wcsnlen(key, kMaxKeyChars);
    return length < kMaxKeyChars && AlbumInfo(std::wstring(key, length), info);
}

void AddPhotos(const rapidjson::Value& document, ItemBatch<TextItem>& batch) {
    if (!document.IsArray()) return;
    for (const rapidjson::Value& photo : document.GetArray()) {
        if (!photo.IsObject()) continue;
        const std::wstring path = WideMember(photo, "PATH");
        // The oldest databases do not know the sizes: a size of 0 is unknown, not empty.
        const std::int64_t size = NumberMember(photo, "ZORIGINALFILESIZE");
        AddRow(batch,
               {FileName(path), DateText(CellMember(photo, "ZDATECREATED")),
                DateText(CellMember(photo, "ZMODIFICATIONDATE")), size > 0 ? SizeText(size) : L"", FolderOf(path),
                path});
    }
}

void AddAlbums(const rapidjson::Value& document, ItemBatch<TextItem>& batch) {
    if (!document.IsArray()) return;
    for (const rapidjson::Value& album : document.GetArray()) {
        if (!album.IsObject()) continue;
        const std::int64_t type = NumberMember(album, "TYPE");
        AddRow(batch, {AlbumName(WideMember(album, "TITLE"), type), AlbumKindText(type),
                       std::to_wstring(NumberMember(album, "COUNT")), AlbumKey(NumberMember(album, "Z_PK"), type)});
    }
}

const BatchReader kPhotoRows = {&ReadTable<&AddPhotos>, &ReleaseTextBatch};
const BatchReader kAlbumRows = {&ReadTable<&AddAlbums>, &ReleaseTextBatch};

// An album's photos are no albums: they leave the albums counter alone.
const ListRoute kRoutes[] = {
    {ZERITH_COMMAND_DO_PHOTO, 125, 400, ZERITH_COMMAND_DO_PHOTO, 125, 124, kPhotosView, &kPhotoRows, kAnySection,
     false, "", false, kPathField},
    {ZERITH_COMMAND_DO_PHOTO, 129, 402, ZERITH_COMMAND_DO_PHOTO, 129, kNoCount, kAlbumsView, &kPhotoRows, kAnySection,
     false, "", false, kPathField, &AlbumPhotosInfo, kAlbumPhotosListing},
    {ZERITH_COMMAND_DO_PHOTO, 129, 401, ZERITH_COMMAND_DO_PHOTO, 129, 128, kAlbumsView, &kAlbumRows},
    {ZERITH_COMMAND_DO_PHOTO, 130, 401, ZERITH_COMMAND_DO_PHOTO, 129, 128, kAlbumsView, &kAlbumRows},
};
const std::int64_t kQueries[] = {123, 127};

}  // namespace

const ListFeature kPhotosList = {kRoutes, std::size(kRoutes), kQueries, std::size(kQueries)};

namespace {

constexpr std::int64_t kExportAlbums = 131;
constexpr std::int64_t kThumbnailsAnswer = 126;
constexpr std::uint32_t kAlbumContents = 402;
constexpr std::uint32_t kThumbnails = 403;
constexpr std::uint32_t kExportFiles = 701;
constexpr std::int64_t kTaskError = 2;
// The pictures of one request wait in the relay until its end, and a request the user makes meanwhile
// waits behind at most one batch.
constexpr size_t kThumbnailsPerRequest = 24;
const char kThumbnailRun[] = "thumbnails";

// One export of the checked albums: their photos' files, each once, gathered album by album.
struct AlbumExport {
    std::string device;
    std::wstring folder;                // as the user chose it
    std::wstring serviceFolder;         // as the service names it
    std::vector<WideStringPair> files;  // (name, device path)
    std::set<std::wstring> paths;
    std::int64_t failure = 0;  // the first failed album listing's code; 0: none failed
};

// A photo's file as an export names it: the file's name without its extension, which the service adds.
std::wstring ExportName(const std::wstring& path) {
    const std::wstring name = FileName(path);
    const size_t dot = name.rfind(L'.');
    return dot == std::wstring::npos || dot == 0 ? name : name.substr(0, dot);
}

void AddAlbumFiles(const std::vector<std::string>& parts, AlbumExport& job) {
    for (const std::string& part : parts) {
        (void)ForEachRecord(part, [&job](const rapidjson::Value& photo) {
            const std::wstring path = WideMember(photo, "PATH");
            if (!path.empty() && job.paths.insert(path).second) job.files.emplace_back(ExportName(path), path);
        });
    }
}

void ExportAlbumFiles(ActionsService& service, const std::shared_ptr<AlbumExport>& job) {
    if (job->files.empty()) {
        AnswerFilesExported(service.Link(), job->device, job->folder, job->failure, 0);
        return;
    }
    ActionStep step;
    step.device = job->device;
    step.serviceCode = kExportFiles;
    step.data = ExportItemsJson(job->files, job->serviceFolder);
    step.done = [&service, job](const StepResult& result) {
        const std::int64_t code = result.code != 0 ? result.code : job->failure != 0 ? kTaskError : 0;
        AnswerFilesExported(service.Link(), job->device, job->folder, code, result.doneReplies);
    };
    service.Queue(std::move(step));
}

// The thumbnails request of paths [from, to): {"<index>": path, ...}, each id its path's index.
std::string ThumbnailsJson(const std::vector<std::wstring>& paths, size_t from, size_t to) {
    rapidjson::StringBuffer json;
    rapidjson::Writer<rapidjson::StringBuffer> writer(json);
    writer.StartObject();
    for (size_t i = from; i < to; ++i) {
        writer.Key(std::to_string(i).c_str());
        const std::string path = vnl::Utf8FromWide(paths[i].c_str());
        writer.String(path.c_str(), static_cast<rapidjson::SizeType>(path.size()));
    }
    writer.EndObject();
    return std::string(json.GetString(), json.GetSize());
}

void FetchThumbnailBatch(ActionsService& service, const std::string& device,
                         const std::shared_ptr<const std::vector<std::wstring>>& paths, size_t from,
                         std::uint64_t run) {
    if (from >= paths->size() || !service.IsLatestRun(device, kThumbnailRun, run)) return;
    const size_t to = std::min(paths->size(), from + kThumbnailsPerRequest);
    ActionStep step;
    step.device = device;
    step.serviceCode = kThumbnails;
    step.data = ThumbnailsJson(*paths, from, to);
    step.done = [&service, device, paths, from, to, run](const StepResult& result) {
        auto batch = std::make_unique<ItemBatch<TextItem>>();
        for (size_t i = 0; i < result.parts.size() && i < result.infos.size(); ++i) {
            JsonObjectView info;
            std::int64_t id = -1;
            if (!info.Parse(result.infos[i]) || !info.GetInteger("id", id) || id < static_cast<std::int64_t>(from) ||
                id >= static_cast<std::int64_t>(to)) {
                continue;  // a picture this batch did not ask for
            }
            batch->items.push_back(PictureRow((*paths)[static_cast<size_t>(id)], result.parts[i]));
        }
        if (!batch->items.empty()) {
            service.Answer(ZERITH_COMMAND_DO_PHOTO, device, kThumbnailsAnswer, batch.release(), 0, &ReleaseTextBatch);
        }
        // A device that is gone, a service that is gone or a file service that did not open: no further batch.
        if (result.code == 0) FetchThumbnailBatch(service, device, paths, to, run);
    };
    service.Queue(std::move(step));
}

}  // namespace

void FetchPhotoThumbnails(ActionsService& service, const std::string& device, const std::vector<std::wstring>& paths) {
    const std::uint64_t run = service.BeginRun(device, kThumbnailRun);
    FetchThumbnailBatch(service, device, std::make_shared<const std::vector<std::wstring>>(paths), 0, run);
}

bool HandlePhotoAction(ActionsService& service, CommandMessage& message) {
    if (std::strcmp(message.name, ZERITH_COMMAND_DO_PHOTO) != 0 || message.code != kExportAlbums) return false;
    std::unique_ptr<std::vector<std::wstring>> albums(static_cast<std::vector<std::wstring>*>(message.data));
    message.data = nullptr;
    auto job = std::make_shared<AlbumExport>();
    job->device = message.wideText != nullptr ? vnl::Utf8FromWide(message.wideText) : std::string();
    if (message.extra != nullptr) {
        job->folder = static_cast<const wchar_t*>(message.extra);
        job->serviceFolder = service.Link().ServicePathOf(job->folder);
    }
    std::vector<std::string> infos;
    for (const std::wstring& key : albums ? *albums : std::vector<std::wstring>()) {
        std::string info;
        if (AlbumInfo(key, info)) infos.push_back(info);
    }
    if (infos.empty() || job->device.empty() || job->serviceFolder.empty()) {
        // Nothing checked: nothing to copy; no device, or a folder the service cannot reach: nothing can be.
        AnswerFilesExported(service.Link(), job->device, job->folder, infos.empty() ? 0 : kTaskError, 0);
        return true;
    }
    for (size_t i = 0; i < infos.size(); ++i) {
        ActionStep step;
        step.device = job->device;
        step.serviceCode = kAlbumContents;
        step.info = infos[i];
        step.done = [&service, job, last = i + 1 == infos.size()](const StepResult& result) {
            if (result.code == 0) {
                AddAlbumFiles(result.parts, *job);
            } else if (job->failure == 0) {
                job->failure = result.code;
            }
            if (last) ExportAlbumFiles(service, job);
        };
        service.Queue(std::move(step));
    }
    return true;
}

}  // namespace relay
