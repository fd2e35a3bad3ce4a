// Every request code the service answers, and the packet commands that some modules reuse for
// their intermediate replies. The desktop peer sends these numbers, so they never change. The
// registry (hlx_module_table.cpp) enters each module under its codes from here.
#pragma once

#include <cstdint>

namespace hlx {

enum RequestCode : int32_t {
  // connection and drivers
  kRequestStartDeviceLibrary = 10,
  kRequestDownloadDrivers = 16,
  kRequestInstallDrivers = 17,    // helper instance only
  kRequestCheckStoreITunes = 18,  // helper instance only
  // basic information
  kRequestBringReady = 15,
  kRequestDeviceInfo = 300,
  kRequestRenameDevice = 303,
  // contacts
  kRequestListContacts = 100,
  kRequestListGroups = 101,  // also the command of the group listing's replies
  kRequestWriteContact = 102,
  kRequestDeleteContact = 103,
  kRequestWriteGroup = 104,
  kRequestDeleteGroup = 105,
  kRequestWriteGroupMembers = 106,
  // messages
  kRequestListMessages = 201,
  // photos
  kRequestListPhotos = 400,
  kRequestListAlbums = 401,
  kRequestListAlbumContents = 402,
  kRequestPhotoThumbnails = 403,
  kRequestPortableDeviceCheck = 404,
  // apps
  kRequestListApps = 501,
  kRequestAppIcons = 502,
  kRequestInstallApp = 504,
  kRequestUninstallApp = 505,
  kRequestArchiveApp = 506,
  // control
  kRequestCancel = 600,
  // files
  kRequestExportFiles = 701,
  kRequestDownloadFile = 702,
  kRequestUploadFile = 703,
  // media (1003 to 1010 are also the commands of the library's section replies)
  kRequestMediaLibrary = 1000,
  kRequestBooksAndRingtones = 1001,
  kRequestVoiceMemos = 1002,
  kRequestRingtones = 1003,
  kRequestSongs = 1004,
  kRequestMovies = 1005,
  kRequestTvShows = 1006,
  kRequestMusicVideos = 1007,
  kRequestBooks = 1008,
  kRequestPlaylists = 1009,
  kRequestPlaylistItems = 1010,
  kRequestMediaItemIds = 1011,
  kRequestImportBooks = 1012,
  kRequestDeleteBooks = 1013,
  // notes
  kRequestListNotes = 1200,
  kRequestAddNote = 1201,
  // bookmarks
  kRequestListBookmarks = 1400,
  kRequestWriteBookmarks = 1401,
  kRequestDeleteBookmark = 1402,
  // calendars
  kRequestListCalendars = 1500,
  kRequestWriteCalendar = 1501,
  kRequestDeleteCalendarRecord = 1502,
  // backups
  kRequestBackup = 1600,
  kRequestRestore = 1601,
  kRequestListBackups = 1602,
  kRequestFindMyAssociation = 1603,
  kRequestBackupEncryption = 1604,
  kRequestChangeBackupPassword = 1605,
  kRequestITunesRunning = 1606,
  kRequestStopITunes = 1607,
  // erase
  kRequestEraseContent = 1700,
  kRequestFillFreeSpace = 1701,
  // test probe (registered only with HLX_TEST_MODULES set)
  kRequestTestLongTask = 9000,
  kRequestTestDataReply = 9001,
};

}  // namespace hlx
