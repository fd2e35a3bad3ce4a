// The calendars of the simulated synchronisation service: class "com.apple.Calendars", kept in
// calendars.plist of the image. Events name their calendars in "calendar", recurrences and display
// alarms their events in "owner"; each goes with the last record it names, so deleting a calendar
// deletes the events only it holds and their recurrences and alarms.
#include "md/md_service_mobilesync_store.h"

MDSyncClassRules MDMakeCalendarsSyncRules() {
  MDSyncClassRules rules;
  rules.className = "com.apple.Calendars";
  rules.storeFile = "calendars.plist";
  rules.entities.push_back({"com.apple.calendars.Calendar", "", false, {}});
  rules.entities.push_back({"com.apple.calendars.Event", "calendar", true, {}});
  rules.entities.push_back({"com.apple.calendars.Recurrence", "owner", true, {}});
  rules.entities.push_back({"com.apple.calendars.DisplayAlarm", "owner", true, {}});
  return rules;
}
