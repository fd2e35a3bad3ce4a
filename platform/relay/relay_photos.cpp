// The relay's photos: all photos (400) and the albums (401) as the photos and albums tables
// (relay_tables.h); see relay_lists.h. A photo shows its file's name, when it was taken and changed (local
// time), its size and its folder on the device, and after them its file's path on the device, its key; an
// album its name (the smart albums, which have no title, by their type), its kind and how many items it
// holds.
#include <iterator>

#include "command_names.h"
#include "relay_cells.h"
#include "relay_lists.h"

namespace relay {
namespace {

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
                       std::to_wstring(NumberMember(album, "COUNT"))});
    }
}

const BatchReader kPhotoRows = {&ReadTable<&AddPhotos>, &ReleaseTextBatch};
const BatchReader kAlbumRows = {&ReadTable<&AddAlbums>, &ReleaseTextBatch};

const ListRoute kRoutes[] = {
    {ZERITH_COMMAND_DO_PHOTO, 125, 400, ZERITH_COMMAND_DO_PHOTO, 125, 124, 0, &kPhotoRows},
    {ZERITH_COMMAND_DO_PHOTO, 129, 401, ZERITH_COMMAND_DO_PHOTO, 129, 128, 1, &kAlbumRows},
};
const std::int64_t kQueries[] = {123, 127};

}  // namespace

const ListFeature kPhotosList = {kRoutes, std::size(kRoutes), kQueries, std::size(kQueries)};

}  // namespace relay
