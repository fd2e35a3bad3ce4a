// Theme image loading; see theme_images.h. The path lists below are also read by the themes generator of
// the build, which extracts every quoted "....png/.gif/.bmp" literal of this file.
#include "theme_images.h"

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <vornel/VNLUtilityImage.h>

#include "theme_keys.h"
#include "command_bus.h"

namespace trv {

const std::vector<std::string>& AlertImagePaths() {
    static const std::vector<std::string> paths = {
        "common\\close-normal.png",
        "common\\close-pressed.png",
        "common\\alert.png",
    };
    return paths;
}

const std::vector<std::string>& PreloadedImagePaths() {
    // clang-format off
    static const std::vector<std::string> paths = {
        "common\\operate-search.png", "common\\operate-export-pressed.png", "common\\operate-export-normal.png",
        "common\\operate-export-disable.png", "common\\operate-add-normal.png", "common\\operate-add-pressed.png",
        "common\\operate-delete-normal.png", "common\\operate-delete-pressed.png",
        "common\\operate-import-normal.png", "common\\operate-import-pressed.png", "common\\radio-check-yes.png",
        "common\\radio-check-no.png", "common\\operate-refresh-normal.png", "common\\operate-refresh-pressed.png",
        "common\\edit-normal.png", "common\\edit-pressed.png", "note\\content-notes-icloud.png",
        "bookmarks\\content-bookmarks-folder.png", "bookmarks\\content-bookmarks-file.png",
        "bookmarks\\content-bookmarks-icloud.png", "common\\device.png", "common\\phone.png",
        "common\\phone-select.png", "common\\toolkit.png", "common\\section\\section-home.png",
        "common\\section\\section-music.png", "common\\section\\section-photo.png",
        "common\\section\\section-video.png", "common\\section\\section-book.png",
        "common\\section\\section-app.png", "common\\section\\section-contacts.png",
        "common\\section\\section-message.png", "common\\section\\section-note.png",
        "common\\section\\section-bookmark.png", "common\\section\\section-calendar.png",
        "common\\section\\section-right.png", "common\\section\\section-down.png", "connect\\trust.png",
        "connect\\phone.png", "connect\\phone-exclamation.png", "connect\\phone-fail.png",
        "connect\\phone-loading.gif", "connect\\detail-normal.png", "connect\\detail-pressed.png",
        "connect\\usb.png", "connect\\iphone-small.png", "connect\\ipod-small.png",
        "connect\\my-device-ipad.png", "connect\\my-device-iphone.png", "connect\\my-device-ipod.png",
        "connect\\loading.gif", "connect\\downloading-driver.png", "connect\\installing-driver.png",
        "app\\content-apps-table.png", "music\\content-music-list.png", "music\\playlist-prefix.png",
        "photo\\content-photo-thumbnail.png", "photo\\select-tick.png", "photo\\content-photo-refresh.png",
        "calendar\\content-calendars-icloud.png", "contacts\\preview-edit.png",
        "contacts\\content-contacts-icloud.png", "contacts\\contact-edit-add-normal.png",
        "contacts\\contact-edit-add-pressed.png", "contacts\\contact-edit-delete-normal.png",
        "contacts\\contact-edit-delete-pressed.png", "contacts\\contacts-no-item.png",
        "contacts\\content-contacts-list.png", "contacts\\operate-expand-normal.png",
        "contacts\\operate-expand-pressed.png", "contacts\\operate-shrink-normal.png",
        "contacts\\operate-shrink-pressed.png", "contacts\\preview-contacts.png", "message\\sms-send-failed.png",
        "message\\message-list-mail-read.png", "message\\message-list-mail-unread.png",
        "message\\message\\incomming-bottom.png", "message\\message\\incomming-center.bmp",
        "message\\message\\incomming-top.png", "message\\message\\outgoing-bottom.png",
        "message\\message\\outgoing-center.bmp", "message\\message\\outgoing-top.png",
        "common\\content-check-no.png", "common\\content-check-yes.png", "common\\main-maximize-normal.png",
        "common\\main-maximize-pressed.png", "common\\main-reset-normal.png", "common\\main-reset-pressed.png",
        "common\\min-normal.png", "common\\min-pressed.png", "common\\main-setting-normal.png",
        "common\\main-setting-pressed.png", "common\\main-help-normal.png", "common\\main-help-pressed.png",
        "common\\main-home-normal.png", "common\\main-home-pressed.png",
        THEME_BACKUP_NEW, THEME_BACKUP_ICON, THEME_BACKUP_BACKUP_NORMAL, THEME_BACKUP_BACKUP_PRESSED,
        THEME_BACKUP_RESTORE_NORMAL, THEME_BACKUP_RESTORE_PRESSED, THEME_BACKUP_ENCRYPTED,
        THEME_BACKUP_UNENCRYPTED, THEME_CONTACTS_OK_BUTTON,
    };
    // clang-format on
    return paths;
}

int LoadThemeImages(CommandBus& bus, const std::wstring& themesFolder, const std::vector<std::string>& paths) {
    int loaded = 0;
    for (const std::string& path : paths) {
        const std::wstring full = themesFolder + std::wstring(path.begin(), path.end());
        Gdiplus::Bitmap* bitmap = VNLUtilityImage::GetBitmap(full.c_str(), 96, 96);
        if (bitmap != nullptr) {
            ++loaded;
        }
        // Replacing an entry would leak the earlier bitmap; each path is loaded once per run.
        Gdiplus::Bitmap* previous = bus.GetImage(path);
        bus.AddImage(path, bitmap);
        delete previous;
    }
    return loaded;
}

void ReleaseThemeImages(CommandBus& bus) {
    for (auto& entry : bus.Images()) {
        delete entry.second;
        entry.second = nullptr;
    }
    bus.Images().clear();
}

}  // namespace trv
