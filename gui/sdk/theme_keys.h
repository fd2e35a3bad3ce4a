#pragma once
// Theme image keys that a plug-in looks up in the host's ImageCache and that the host preloads, for the
// images whose paths the host chooses (the backup manager's own folder, the contacts page's "OK" button).
// Keys are paths relative to the themes folder, written with a backslash. No state.

#define THEME_BACKUP_NEW "backup\\itunes-backup\\new.png"
#define THEME_BACKUP_ICON "backup\\itunes-backup\\icon.png"
#define THEME_BACKUP_BACKUP_NORMAL "backup\\itunes-backup\\backup-normal.png"
#define THEME_BACKUP_BACKUP_PRESSED "backup\\itunes-backup\\backup-pressed.png"
#define THEME_BACKUP_RESTORE_NORMAL "backup\\itunes-backup\\restore-normal.png"
#define THEME_BACKUP_RESTORE_PRESSED "backup\\itunes-backup\\restore-pressed.png"
#define THEME_BACKUP_ENCRYPTED "backup\\itunes-backup\\encrypt.png"
#define THEME_BACKUP_UNENCRYPTED "backup\\itunes-backup\\unencrypt.png"
#define THEME_CONTACTS_OK_BUTTON "contacts\\operate-ok.png"
