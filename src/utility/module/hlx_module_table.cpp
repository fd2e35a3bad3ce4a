// The request-code table: which module answers which codes, in the order the modules are made.
#include <cstdlib>
#include <initializer_list>

#include "utility/hlx_module.h"
#include "utility/module/app/hlx_module_app.h"
#include "utility/module/basicinfo/hlx_module_basicinfo.h"
#include "utility/module/bookmark/hlx_module_bookmark.h"
#include "utility/module/calendar/hlx_module_calendar.h"
#include "utility/module/connect/hlx_module_connect.h"
#include "utility/module/contact/hlx_module_contact.h"
#include "utility/module/control/hlx_module_control.h"
#include "utility/module/erase/hlx_module_erase.h"
#include "utility/module/file/hlx_module_file.h"
#include "utility/module/itunes/hlx_module_itunes.h"
#include "utility/module/media/hlx_module_media.h"
#include "utility/module/note/hlx_module_note.h"
#include "utility/module/photo/hlx_module_photo.h"
#include "utility/module/sms/hlx_module_sms.h"
#include "utility/module/test_probe/hlx_module_test_probe.h"

namespace hlx {
namespace {

void EnterModule(HLXModule* module, std::initializer_list<int32_t> codes) {
  for (int32_t code : codes) ModuleRegistry::GetInstance().Enter(code, module);
}

}  // namespace

bool RegisterModules() {
  // Module objects live until the process ends.
  EnterModule(new HLXModuleConnect(),
              {kRequestDownloadDrivers, kRequestInstallDrivers, kRequestStartDeviceLibrary, kRequestCheckStoreITunes});
  EnterModule(new HLXModuleBasicInfo(), {kRequestDeviceInfo, kRequestRenameDevice, kRequestBringReady});
  EnterModule(new HLXModuleContact(),
              {kRequestListContacts, kRequestListGroups, kRequestWriteContact, kRequestDeleteContact,
               kRequestWriteGroup, kRequestDeleteGroup, kRequestWriteGroupMembers});
  EnterModule(new HLXModuleSms(), {kRequestListMessages});
  EnterModule(new HLXModuleNote(), {kRequestListNotes, kRequestAddNote});
  EnterModule(new HLXModuleBookmark(), {kRequestListBookmarks, kRequestWriteBookmarks, kRequestDeleteBookmark});
  EnterModule(new HLXModuleCalendar(), {kRequestListCalendars, kRequestWriteCalendar, kRequestDeleteCalendarRecord});
  EnterModule(new HLXModulePhoto(), {kRequestListPhotos, kRequestListAlbums, kRequestListAlbumContents,
                                     kRequestPhotoThumbnails, kRequestPortableDeviceCheck});
  EnterModule(new HLXModuleMedia(),
              {kRequestMediaLibrary, kRequestBooksAndRingtones, kRequestVoiceMemos, kRequestRingtones, kRequestSongs,
               kRequestMovies, kRequestTvShows, kRequestMusicVideos, kRequestBooks, kRequestPlaylists,
               kRequestPlaylistItems, kRequestMediaItemIds, kRequestImportBooks, kRequestDeleteBooks});
  EnterModule(new HLXModuleApp(),
              {kRequestListApps, kRequestAppIcons, kRequestInstallApp, kRequestUninstallApp, kRequestArchiveApp});
  EnterModule(new HLXModuleiTunes(),
              {kRequestBackup, kRequestRestore, kRequestListBackups, kRequestFindMyAssociation,
               kRequestBackupEncryption, kRequestChangeBackupPassword, kRequestITunesRunning, kRequestStopITunes});
  EnterModule(new HLXModuleFile(), {kRequestExportFiles, kRequestDownloadFile, kRequestUploadFile});
  EnterModule(new HLXModuleControl(), {kRequestCancel});
  EnterModule(new HLXModuleErase(), {kRequestEraseContent, kRequestFillFreeSpace});
  if (std::getenv("HLX_TEST_MODULES")) {
    EnterModule(new HLXModuleTestProbe(), {kRequestTestLongTask, kRequestTestDataReply});
  }
  return true;
}

}  // namespace hlx
