// The queries of the photo module on its local copy of the device's photo database: the photo list,
// the album list and an album's contents, each in two families. The old family reads the tables
// Photo, PhotoAlbum and PhotoAlbumToPhotoJoin; the new one reads ZGENERICASSET, ZGENERICALBUM,
// ZADDITIONALASSETATTRIBUTES and the asset-to-album join table whose name holds a number (found in
// sqlite_master with the SQL function regexp), and asks sqlite_master which optional columns
// (ZTRASHEDSTATE, ZFAVORITE, ZKINDSUBTYPE) the tables have. Rows go out as progress replies:
//   photos  a count reply (stage 0, info {"Count":n}), then arrays of at most 600 objects
//           {"PATH","Z_PK","ZSAVEDASSETTYPE","ZORIENTATION","ZADDITIONALATTRIBUTES","ZDATECREATED",
//            "ZMODIFICATIONDATE","ZORIGINALFILESIZE"} (stage 1, the same info);
//   albums  arrays of at most 100 objects {"COUNT","Z_PK","TITLE","ZKIND","TYPE"} (stage 1).
// Each function returns 0, or 19 (the copy does not open), 20 (a statement does not prepare),
// 18 (no join table), 21 (album contents: no asset column, or an album type above 6) or 6 (cancelled).
//
// Threads: any worker, under the device's photo list mutex (one list of a device at a time); a photo
// listing writes and compresses its batches on two helper threads of its own while it reads the rows.
#pragma once

#include <cstdint>
#include <string>

#include "mobiledevice.h"
#include "utility/hlx_sqlite.h"

namespace hlx {

class FeatureRequest;

// One list request: where its rows go and what they are read from. Lives for the request.
struct PhotoRequestContext {
  const FeatureRequest& request;
  std::string databasePath;        // the local copy of Photos.sqlite
  AFCConnectionRef afc = nullptr;  // for the sizes that the database does not know; may be null
  int32_t albumId = 0;             // request 402 only
  int32_t albumType = 0;           // request 402 only: 0..6, the TYPE of the album list
  CancelTest cancelled;            // the request's cancel: a query then ends with 6
};

// Album types of the album list, sent as TYPE and taken back by the album contents.
enum PhotoAlbumType : int32_t {
  kAlbumUser = 0,
  kAlbumCameraRoll = 1,  // kind 1000
  kAlbumFavorites = 2,
  kAlbumSubtype10 = 3,
  kAlbumSaved = 4,  // saved-asset type 256
  kAlbumTrashed = 5,
  kAlbumVideos = 6,
};

using PhotoQueryFunction = int (*)(const PhotoRequestContext& context);

int PhotoListOld(const PhotoRequestContext& context);
int PhotoListNew(const PhotoRequestContext& context);
int AlbumListOld(const PhotoRequestContext& context);
int AlbumListNew(const PhotoRequestContext& context);
int AlbumContentsOld(const PhotoRequestContext& context);
int AlbumContentsNew(const PhotoRequestContext& context);

// Photos per batch reply, albums per batch reply.
constexpr size_t kPhotoBatchSize = 600;
constexpr size_t kAlbumBatchSize = 100;

}  // namespace hlx
