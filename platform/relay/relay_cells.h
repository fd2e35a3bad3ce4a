#pragma once
// The texts of the stand-in pages' table cells, made from the values the device service sends: a
// person's text on one line, durations, sizes, dates, the names of photo album kinds, the parties of a
// conversation, a calendar event's repetition and alarm, an app's version. Pure functions; any thread.

#include <cstdint>
#include <string>

namespace relay {

// `text` for one table row: every line break, tab and other control character becomes a blank (runs of
// them one blank) and the ends are trimmed. Angle brackets, ampersands and the like stay as they are: the
// cells show text, never markup.
std::wstring CellText(const std::wstring& text);

// A length as "m:ss", or "h:mm:ss" from one hour on; a negative length reads as 0.
std::wstring DurationText(std::int64_t milliseconds);

// A byte count as "512 B", "1.50 KB", "3.21 MB" ...; a negative count (unknown) reads as empty.
std::wstring SizeText(std::int64_t bytes);

// A local time text of the service ("2024-03-01 10:20:30") without its seconds ("2024-03-01 10:20"),
// or only its date when `dateOnly`. Any other text is returned as it is.
std::wstring DateText(const std::wstring& localTime, bool dateOnly = false);

// The album list's album types (the service's TYPE): 0 the user's own albums, 1 the camera roll (kind
// 1000), 2 to 6 the smart albums (favourites, screenshots, saved photos, recently deleted, videos).
// An album's name: its title, or for an album without one (the smart albums) the name of its type.
std::wstring AlbumName(const std::wstring& title, std::int64_t type);
// The kind of album a type is: "Album", "Camera Roll" or "Smart album".
std::wstring AlbumKindText(std::int64_t type);

// The last part of a device path ("/DCIM/100APPLE/IMG_0001.JPG" -> "IMG_0001.JPG"; a desktop path's after
// its last '\\') and the folder before it ("/DCIM/100APPLE").
std::wstring FileName(const std::wstring& path);
std::wstring FolderOf(const std::wstring& path);

// The other parties of a conversation from the service's handles text ("+1555,+1666"): "+1555, +1666";
// "Unknown" when it names none.
std::wstring PartiesText(const std::wstring& handles);

// How an event repeats: "Weekly", "Every 2 weeks", "Daily until 2024-06-01"; empty without a frequency.
std::wstring RepeatText(const std::wstring& frequency, std::int64_t interval, const std::wstring& untilLocalTime);

// When an alarm goes off, from its trigger duration in seconds relative to the start (negative: before):
// "15 min before", "1 h before", "At start", "10 min after".
std::wstring AlarmText(std::int64_t triggerSeconds);

// An app's version: the short version, with the build in brackets when it differs ("2.1 (210)"); the
// build alone when there is no short version.
std::wstring VersionText(const std::wstring& shortVersion, const std::wstring& build);

}  // namespace relay
